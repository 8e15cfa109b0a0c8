// Win32 side of the platform layer.
#include "support/platform.h"

#include <atomic>
#include <cstdio>
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

} // namespace plat
