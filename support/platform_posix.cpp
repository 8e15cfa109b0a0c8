// POSIX side of the platform layer.
#include "support/platform.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace plat {

namespace {
thread_local std::string t_loadError;

void errorText(int code, char* text, std::size_t size)
{
    if (!text || size == 0)
        return;
    std::snprintf(text, size, "%s", std::strerror(code));
}

void realSleep(unsigned ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

SleepHook g_sleep = realSleep;

std::uint64_t realClock()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::atomic<ClockHook> g_clock{realClock};
std::atomic<int> g_timerRaises{0};
} // namespace

LibHandle loadLibrary(const char* name)
{
    void* h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        t_loadError = e ? e : "unknown error";
    }
    return h;
}

void* findSymbol(LibHandle lib, const char* name)
{
    if (!lib || !name)
        return nullptr;
    return dlsym(lib, name);
}

void freeLibrary(LibHandle lib)
{
    if (lib)
        dlclose(lib);
}

const char* lastLoadError() { return t_loadError.c_str(); }

MutexHandle createMutex()
{
    auto* m = new pthread_mutex_t;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    const int rc = pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        delete m;
        return nullptr;
    }
    return m;
}

void destroyMutex(MutexHandle mutex)
{
    if (!mutex)
        return;
    auto* m = static_cast<pthread_mutex_t*>(mutex);
    pthread_mutex_destroy(m);
    delete m;
}

bool lockMutex(MutexHandle mutex, char* text, std::size_t size)
{
    if (!mutex) {
        errorText(EINVAL, text, size);
        return false;
    }
    auto* m = static_cast<pthread_mutex_t*>(mutex);
    const int rc = pthread_mutex_lock(m);
    if (rc == 0)
        return true;
    if (rc == EOWNERDEAD) {
        // Like an abandoned Win32 mutex: we own it now, but the wait failed.
        // Marking it consistent keeps the mutex usable for everyone after us.
        pthread_mutex_consistent(m);
    }
    errorText(rc, text, size);
    return false;
}

bool unlockMutex(MutexHandle mutex, char* text, std::size_t size)
{
    if (!mutex) {
        errorText(EINVAL, text, size);
        return false;
    }
    const int rc = pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex));
    if (rc == 0)
        return true;
    errorText(rc, text, size);
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

// POSIX sleeps are already fine-grained; only the pairing is kept.
void raiseTimerResolution() { ++g_timerRaises; }
void lowerTimerResolution() { --g_timerRaises; }
int timerRaises() { return g_timerRaises.load(); }

unsigned long currentThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

void executableDir(char* text, std::size_t size)
{
    if (!text || size == 0)
        return;
    text[0] = '\0';
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return;
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash)
        slash[1] = '\0';
    std::snprintf(text, size, "%s", path);
}

} // namespace plat
