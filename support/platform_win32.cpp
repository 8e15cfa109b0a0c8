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

// The system's own message text for an error code, without the trailing line end.
void systemText(DWORD code, char* text, std::size_t size)
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
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        std::snprintf(text, size, "%s", s.c_str());
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
        char text[512];
        systemText(GetLastError(), text, sizeof text);
        t_loadError = text;
    }
    return reinterpret_cast<LibHandle>(h);
}

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

const DWORD kForeignCxxException = 0xE06D7363; // the Microsoft C++ runtime's throw
std::atomic<ForeignReport> g_foreignReport{nullptr};
void* g_foreignHandler = nullptr;
thread_local const char* t_foreignCall = nullptr;

LONG CALLBACK onException(EXCEPTION_POINTERS* info)
{
    const ForeignReport report = g_foreignReport.load();
    const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
    if (!report || !record)
        return EXCEPTION_CONTINUE_SEARCH;
    if (record->ExceptionCode == kForeignCxxException && t_foreignCall)
        report(t_foreignCall, record->ExceptionCode, false);
    else if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2 &&
             isGuardPage(record->ExceptionInformation[1]))
        report(t_foreignCall, record->ExceptionCode, true);
    return EXCEPTION_CONTINUE_SEARCH;
}
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

void watchForeignExceptions(ForeignReport report)
{
    g_foreignReport.store(report);
    if (report && !g_foreignHandler)
        g_foreignHandler = AddVectoredExceptionHandler(1, onException);
    else if (!report && g_foreignHandler) {
        RemoveVectoredExceptionHandler(g_foreignHandler);
        g_foreignHandler = nullptr;
    }
}

void setForeignCall(const char* call) { t_foreignCall = call; }

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
