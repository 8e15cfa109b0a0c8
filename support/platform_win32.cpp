// Win32 side of the platform layer.
#include "support/platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <windows.h>
#include <mmsystem.h>

namespace plat {

namespace {
thread_local std::string t_loadError;

// Inserts that FormatMessage leaves in place (FORMAT_MESSAGE_IGNORE_INSERTS):
// %1 becomes what it stands for (a file name, when given), any other one
// "?", so that no bare placeholder reaches the operator.
std::string fillInserts(const std::string& text, const char* first)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 >= text.size() || text[i + 1] < '1' || text[i + 1] > '9') {
            out += text[i];
            continue;
        }
        std::size_t end = i + 1; // past the insert's number and its printf format (%1!s!)
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        const bool isFirst = end == i + 2 && text[i + 1] == '1';
        if (end < text.size() && text[end] == '!') {
            const std::size_t close = text.find('!', end + 1);
            end = close == std::string::npos ? text.size() : close + 1;
        }
        out += isFirst && first ? first : "?";
        i = end - 1;
    }
    return out;
}

// The system's own message text for an error code, without the trailing line
// end; first fills a %1 in it.
void systemText(DWORD code, char* text, std::size_t size, const char* first = nullptr)
{
    if (!text || size == 0)
        return;
    char* msg = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<LPSTR>(&msg), 0, nullptr);
    if (n == 0 || !msg) {
        std::snprintf(text, size, "error %lu", static_cast<unsigned long>(code));
    } else {
        std::string s(msg, n);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
            s.pop_back();
        std::snprintf(text, size, "%s", fillInserts(s, first).c_str());
    }
    if (msg)
        LocalFree(msg);
}

void realSleep(unsigned ms) { Sleep(ms); }

SleepHook g_sleep = realSleep;

std::uint64_t realClock()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::uint64_t ticks = static_cast<std::uint64_t>(now.QuadPart);
    const std::uint64_t f = static_cast<std::uint64_t>(frequency);
    return ticks / f * 1000u + ticks % f * 1000u / f;
}

std::atomic<ClockHook> g_clock{realClock};
std::atomic<int> g_timerRaises{0};
} // namespace

LibHandle loadLibrary(const char* name)
{
    HMODULE h = LoadLibraryA(name);
    if (!h) {
        char text[1024];
        systemText(GetLastError(), text, sizeof text, name);
        t_loadError = text;
    }
    return reinterpret_cast<LibHandle>(h);
}

LibHandle loadPinnedLibrary(const char* path)
{
    // With a full path, the library's own imports are looked for in its
    // folder first, then in the usual places.
    HMODULE h = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h) {
        char text[1024];
        systemText(GetLastError(), text, sizeof text, path);
        t_loadError = text;
        return nullptr;
    }
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(h), &pinned);
    return reinterpret_cast<LibHandle>(h);
}

namespace {
std::string moduleFile(HMODULE module)
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return n == 0 || n >= sizeof path ? std::string() : std::string(path, n);
}
} // namespace

std::string libraryFile(LibHandle lib) { return lib ? moduleFile(static_cast<HMODULE>(lib)) : std::string(); }

void* findSymbol(LibHandle lib, const char* name)
{
    if (!lib || !name)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void freeLibrary(LibHandle lib)
{
    if (lib)
        FreeLibrary(static_cast<HMODULE>(lib));
}

const char* lastLoadError() { return t_loadError.c_str(); }

bool forEachExport(LibHandle lib, ExportVisitor visit, void* context)
{
    if (!lib || !visit)
        return false;
    const auto* base = static_cast<const unsigned char*>(lib);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    // A module loaded into this process has this process's machine type.
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return false;
    if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT)
        return true;
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0 || entry.Size == 0)
        return true; // exports nothing
    const auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
    for (DWORD i = 0; i < dir->NumberOfNames; ++i)
        visit(reinterpret_cast<const char*>(base + names[i]), context);
    return true;
}

namespace {
// The no-access pages of mapGuarded, for telling a write past an object's
// storage from any other access violation. A full table only loses that
// distinction for the pages beyond it.
const int kGuardPages = 64;
std::atomic<const void*> g_guardPages[kGuardPages];

void swapGuardPage(const void* replaced, const void* page)
{
    for (auto& slot : g_guardPages) {
        const void* expected = replaced;
        if (slot.compare_exchange_strong(expected, page))
            return;
    }
}

bool isGuardPage(ULONG_PTR address)
{
    const ULONG_PTR page = static_cast<ULONG_PTR>(pageSize());
    for (const auto& slot : g_guardPages) {
        const auto start = reinterpret_cast<ULONG_PTR>(slot.load());
        if (start && address >= start && address - start < page)
            return true;
    }
    return false;
}

const DWORD kCxxException = 0xE06D7363; // a throw of the Microsoft C++ runtime
// Where the x86-64 gate keeps the caller's CallFault* in its frame.
const std::size_t kGateFaultOffset = 32;
} // namespace

std::size_t pageSize()
{
    static const std::size_t size = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<std::size_t>(info.dwPageSize);
    }();
    return size;
}

void* mapGuarded(std::size_t bytes, char* text, std::size_t size)
{
    const std::size_t page = pageSize();
    if (bytes == 0 || bytes % page != 0) {
        systemText(ERROR_INVALID_PARAMETER, text, size);
        return nullptr;
    }
    // Committed pages are zero and take physical memory only once touched; the
    // write watch tells later which ones were written (touchedPages).
    void* base = VirtualAlloc(nullptr, bytes + page, MEM_RESERVE | MEM_COMMIT | MEM_WRITE_WATCH, PAGE_READWRITE);
    if (!base) {
        systemText(GetLastError(), text, size);
        return nullptr;
    }
    DWORD old = 0;
    if (!VirtualProtect(static_cast<char*>(base) + bytes, page, PAGE_NOACCESS, &old)) {
        systemText(GetLastError(), text, size);
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    swapGuardPage(nullptr, static_cast<char*>(base) + bytes);
    return base;
}

void unmapGuarded(void* memory, std::size_t bytes)
{
    if (!memory)
        return;
    swapGuardPage(static_cast<char*>(memory) + bytes, nullptr);
    VirtualFree(memory, 0, MEM_RELEASE);
}

bool touchedPages(const void* memory, std::size_t bytes, unsigned char* touched)
{
    const std::size_t page = pageSize();
    if (!memory || !touched || bytes % page != 0)
        return false;
    std::memset(touched, 0, bytes / page);
    char* const start = static_cast<char*>(const_cast<void*>(memory));
    char* from = start;
    char* const end = start + bytes;
    // The written pages in ascending order, a batch at a time.
    while (from < end) {
        PVOID written[256];
        ULONG_PTR count = 256;
        DWORD granularity = 0;
        if (GetWriteWatch(0, from, static_cast<SIZE_T>(end - from), written, &count, &granularity) != 0)
            return false;
        for (ULONG_PTR i = 0; i < count; ++i) {
            const std::size_t index = static_cast<std::size_t>(static_cast<char*>(written[i]) - start) / page;
            if (index < bytes / page)
                touched[index] = 1;
        }
        if (count < 256)
            break;
        from = static_cast<char*>(written[count - 1]) + page;
    }
    return true;
}

// The call gate itself is in platform_win32_gate.cpp; what it notes of an
// exception is written here, during its dispatch: into the caller's record
// and nowhere else, no allocation, no output.
extern "C" void tarsis_gate_note(CallFault* fault, const EXCEPTION_RECORD* record)
{
    fault->code = record->ExceptionCode;
    fault->access = 0;
    fault->address = 0;
    fault->what[0] = '\0';
    if (record->ExceptionCode == kCxxException) {
        fault->kind = CallFault::CxxException;
    } else if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        fault->access = static_cast<int>(record->ExceptionInformation[0]);
        fault->address = record->ExceptionInformation[1];
        fault->kind = isGuardPage(record->ExceptionInformation[1]) ? CallFault::GuardPage : CallFault::AccessViolation;
    } else {
        fault->kind = CallFault::Other;
    }
}

#if defined(__x86_64__)
// The filter of the gate's scope: it finds the caller's record in the gate's
// frame, notes the exception and has the frame handle it.
extern "C" LONG tarsis_gate_filter(EXCEPTION_POINTERS* pointers, void* frame)
{
    CallFault* fault = *reinterpret_cast<CallFault**>(static_cast<char*>(frame) + kGateFaultOffset);
    tarsis_gate_note(fault, pointers->ExceptionRecord);
    return EXCEPTION_EXECUTE_HANDLER;
}
#endif

std::string moduleDir()
{
    static const char anchor = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            &anchor, &module))
        return std::string();
    const std::string file = moduleFile(module);
    const std::size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string systemDir()
{
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return std::string();
    std::string dir(path, n);
    if (dir.back() != '\\')
        dir += '\\';
    return dir;
}

bool isFile(const char* path)
{
    const DWORD attributes = path ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool environment(const char* name, std::string& value)
{
    char small[1024];
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return false;
        value.clear(); // set, but empty
        return true;
    }
    if (n < sizeof small) {
        value.assign(small, n);
        return true;
    }
    std::string big(n, '\0'); // n counts the terminating NUL here
    n = GetEnvironmentVariableA(name, &big[0], static_cast<DWORD>(big.size()));
    if (n == 0 || n >= big.size())
        return false;
    big.resize(n);
    value = big;
    return true;
}

MutexHandle createMutex() { return CreateMutexA(nullptr, FALSE, nullptr); }

void destroyMutex(MutexHandle mutex)
{
    if (mutex)
        CloseHandle(static_cast<HANDLE>(mutex));
}

bool lockMutex(MutexHandle mutex, char* text, std::size_t size)
{
    const DWORD rc = WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
    if (rc == WAIT_OBJECT_0)
        return true;
    // An abandoned mutex leaves no error code of its own behind.
    DWORD code = GetLastError();
    if (rc == WAIT_ABANDONED)
        code = ERROR_ABANDONED_WAIT_0;
    systemText(code, text, size);
    return false;
}

bool unlockMutex(MutexHandle mutex, char* text, std::size_t size)
{
    if (ReleaseMutex(static_cast<HANDLE>(mutex)))
        return true;
    systemText(GetLastError(), text, size);
    return false;
}

SleepHook setSleepHook(SleepHook hook)
{
    SleepHook old = g_sleep;
    g_sleep = hook ? hook : realSleep;
    return old;
}

void sleepMs(unsigned ms) { g_sleep(ms); }

ClockHook setClockHook(ClockHook hook) { return g_clock.exchange(hook ? hook : realClock); }

std::uint64_t nowMs() { return g_clock.load()(); }

// At the default resolution Sleep(1) lasts up to a whole timer tick (about
// 15.6 ms), which would let most frames of a 240 Hz stream pass unseen.
void raiseTimerResolution()
{
    timeBeginPeriod(1);
    ++g_timerRaises;
}

void lowerTimerResolution()
{
    timeEndPeriod(1);
    --g_timerRaises;
}

int timerRaises() { return g_timerRaises.load(); }

unsigned long currentThreadId() { return GetCurrentThreadId(); }

void executableDir(char* text, std::size_t size)
{
    if (!text || size == 0)
        return;
    text[0] = '\0';
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    char* slash = std::strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    std::snprintf(text, size, "%s", path);
}

void disableThreadNotifications(void* module) { DisableThreadLibraryCalls(static_cast<HMODULE>(module)); }

FileHandle createNewFile(const char* path, bool& exists, char* text, std::size_t size)
{
    exists = false;
    // Others may read the file while it grows; nobody may delete or replace it.
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
        systemText(code, text, size);
        return nullptr;
    }
    return h;
}

bool writeFile(FileHandle file, const void* data, std::size_t bytes, char* text, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const DWORD step = bytes > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(file), p, step, &written, nullptr) || written == 0) {
            systemText(GetLastError(), text, size);
            return false;
        }
        p += written;
        bytes -= written;
    }
    return true;
}

bool fileAtPath(FileHandle, const char*, char*, std::size_t) { return true; }

bool closeFile(FileHandle file, char* text, std::size_t size)
{
    if (!CloseHandle(static_cast<HANDLE>(file))) {
        systemText(GetLastError(), text, size);
        return false;
    }
    return true;
}

bool setEnvironment(const char* name, const char* value)
{
    // Through the C runtime, which keeps its own copy of the environment
    // next to the system's and updates both.
    const std::string entry = std::string(name) + "=" + value;
    return _putenv(entry.c_str()) == 0;
}

} // namespace plat
