// The one platform layer of the module and its stand-ins: library loading and
// calls into libraries of another build, the host's mutex, sleeping, the
// calling thread's id and byte order. Only the implementation files behind
// this header (platform_posix.cpp, platform_win32*.cpp) include system headers
// of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// Dynamic libraries. A null handle means "not loaded".
using LibHandle = void*;
LibHandle loadLibrary(const char* name);
void* findSymbol(LibHandle lib, const char* name);
void freeLibrary(LibHandle lib);
// System text of the last failed loadLibrary or loadPinnedLibrary on this
// thread (never null; a Windows text names the file where it has a place for it).
const char* lastLoadError();
// Loads a library for the rest of the process: it is never unloaded, whoever
// frees it, since it may leave threads or timers behind. Given a full path,
// its own dependencies are looked for beside it first. A bare name goes by
// the system's search order (POSIX only: on Windows that includes the
// current folder). Null on failure, with lastLoadError().
LibHandle loadPinnedLibrary(const char* path);
// The file a loaded library was loaded from; empty if unknown.
std::string libraryFile(LibHandle lib);
// Calls visit once for every name the library exports: on Windows the names
// of its PE export directory, on POSIX the defined functions of its ELF
// dynamic symbol table. False when the table cannot be read.
using ExportVisitor = void (*)(const char* name, void* context);
bool forEachExport(LibHandle lib, ExportVisitor visit, void* context);

// Memory for an object whose size only its own library knows: bytes of
// read-write memory (a whole number of pages, zeroed) directly followed by
// one no-access page, so that writing past the end faults at once. A page
// costs memory only once it is touched, so bytes may be far more than any
// object needs. Null on failure, with the system's text in text (always
// NUL-terminated).
std::size_t pageSize();
void* mapGuarded(std::size_t bytes, char* text, std::size_t size);
void unmapGuarded(void* memory, std::size_t bytes);
// Which pages of memory from mapGuarded (bytes a whole number of pages from
// its start) have been touched since it was mapped, one flag (0 or 1) per
// page into touched, found without touching any that have not: on Windows the
// pages written to, on POSIX those brought into memory (written, or read).
// False when the system cannot tell.
bool touchedPages(const void* memory, std::size_t bytes, unsigned char* touched);

// The host's operating-system mutex: a Win32 mutex handle, or on POSIX a
// process-shared, robust pthread mutex. Not recursive on either platform.
using MutexHandle = void*;
MutexHandle createMutex();            // host side; null on failure
void destroyMutex(MutexHandle mutex); // host side
// Waits without a time limit. On failure writes the system's message text for
// the error into text (always NUL-terminated) and returns false. A mutex whose
// owner died counts as a failure, although the caller then holds it.
bool lockMutex(MutexHandle mutex, char* text, std::size_t size);
bool unlockMutex(MutexHandle mutex, char* text, std::size_t size);

// Sleeping goes through a replaceable hook so that tests count pauses instead
// of waiting for them. setSleepHook(nullptr) restores the real sleep.
using SleepHook = void (*)(unsigned ms);
SleepHook setSleepHook(SleepHook hook);
void sleepMs(unsigned ms);

// A monotonic clock in milliseconds, also behind a replaceable hook so that
// tests drive time themselves. setClockHook(nullptr) restores the real clock.
using ClockHook = std::uint64_t (*)();
ClockHook setClockHook(ClockHook hook);
std::uint64_t nowMs();

// The system timer resolution of 1 ms that a running stream needs (so that a
// 1 ms pause lasts about 1 ms on Windows); nothing to do on POSIX. Every
// raise must be paired with one lower. timerRaises() is the number of raises
// not yet lowered in this process, for checking the pairing.
void raiseTimerResolution();
void lowerTimerResolution();
int timerRaises();

unsigned long currentThreadId();

// Files the module writes on its own (a capture). createNewFile makes a new
// file and never opens one that exists: it then sets exists and fails. Each
// failure writes the system's text into text (always NUL-terminated).
using FileHandle = void*;
FileHandle createNewFile(const char* path, bool& exists, char* text, std::size_t size);
bool writeFile(FileHandle file, const void* data, std::size_t bytes, char* text, std::size_t size);
// Whether the path still leads to the open file: on POSIX a file whose path
// was removed (its folder deleted, say) takes writes that no one will ever
// read. On Windows an open file keeps its path, so this is always true there.
bool fileAtPath(FileHandle file, const char* path, char* text, std::size_t size);
bool closeFile(FileHandle file, char* text, std::size_t size);

// Sets a variable of this process's environment, seen by what the process
// loads afterwards; false when the system refuses.
bool setEnvironment(const char* name, const char* value);

// Folder of the running executable, with a trailing separator; empty if unknown.
void executableDir(char* text, std::size_t size);
// Folder of the module that holds this code (the library, or the program it
// was linked into), with a trailing separator; empty if unknown.
std::string moduleDir();
// Windows: the system folder, with a trailing separator. POSIX: empty.
std::string systemDir();
// Whether path names an existing file (not a folder).
bool isFile(const char* path);
// The process environment's value of name (Windows: as the system holds it,
// also after the host changed it); false when it is not set.
bool environment(const char* name, std::string& value);

// A call into a library of another build, under a frame of this module's own
// that catches whatever the library did not catch itself: on Windows any
// structured exception (its C++ exceptions 0xE06D7363, access violations,
// a write into the no-access page of mapGuarded, anything else), on POSIX a
// C++ exception. True when call returned; false when it raised, with fault
// filled in. Nothing is written anywhere while the exception is dispatched;
// the caller reports after the return. A fault that is not an exception on
// POSIX (a segmentation fault) is not caught: the process ends as without
// the frame.
struct CallFault {
    enum Kind { CxxException, AccessViolation, GuardPage, Other };
    Kind kind;
    unsigned long code;      // Windows: the exception code
    int access;              // AccessViolation, GuardPage: 0 read, 1 write, 8 execute
    std::uintptr_t address;  // AccessViolation: the address touched
    char what[160];          // POSIX: the C++ exception's type and text
};
using GuardedCall = void (*)(void* context);
#ifdef _WIN32
bool callGuarded(GuardedCall call, void* context, CallFault& fault);
#else
// Fills fault from the exception being handled; a thread's cancellation goes on.
void noteCurrentException(CallFault& fault);
// Inline, so that a call costs nothing more until something is thrown.
inline bool callGuarded(GuardedCall call, void* context, CallFault& fault)
{
    try {
        call(context);
        return true;
    } catch (...) {
        noteCurrentException(fault);
        return false;
    }
}
#endif

#ifdef _WIN32
// Called once when the module is attached: it wants no per-thread notifications.
void disableThreadNotifications(void* module);
#endif

// Network (big-endian) byte order for the host's 32-bit record words.
inline std::uint32_t hostToNet32(std::uint32_t v)
{
    const unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    std::uint32_t out;
    static_assert(sizeof out == sizeof b, "32-bit word");
    __builtin_memcpy(&out, b, sizeof out);
    return out;
}
inline std::uint32_t netToHost32(std::uint32_t v)
{
    unsigned char b[4];
    __builtin_memcpy(b, &v, sizeof b);
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | std::uint32_t(b[3]);
}

} // namespace plat
