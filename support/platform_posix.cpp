// POSIX side of the platform layer.
#include "support/platform.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <fcntl.h>
#include <dlfcn.h>
#include <elf.h>
#include <exception>
#include <link.h>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <typeinfo>
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

namespace {
LibHandle openLibrary(const char* name, int flags)
{
    void* h = dlopen(name, flags);
    if (!h) {
        const char* e = dlerror();
        t_loadError = e ? e : "unknown error";
    }
    return h;
}
} // namespace

LibHandle loadLibrary(const char* name) { return openLibrary(name, RTLD_NOW | RTLD_LOCAL); }

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

LibHandle loadPinnedLibrary(const char* path) { return openLibrary(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE); }

namespace {
// The file of a loaded object, made absolute: the main program's entry has
// no name, and one found through a relative search folder a relative one.
std::string fileOf(const link_map* map)
{
    if (!map)
        return std::string();
    const char* name = map->l_name && map->l_name[0] ? map->l_name : "/proc/self/exe";
    char* real = realpath(name, nullptr);
    if (!real)
        return name;
    std::string file = real;
    std::free(real);
    return file;
}
} // namespace

std::string libraryFile(LibHandle lib)
{
    link_map* map = nullptr;
    if (!lib || dlinfo(lib, RTLD_DI_LINKMAP, &map) != 0)
        return std::string();
    return fileOf(map);
}

std::string moduleDir()
{
    static const char anchor = 0;
    Dl_info info;
    void* extra = nullptr;
    if (!dladdr1(&anchor, &info, &extra, RTLD_DL_LINKMAP))
        return std::string();
    std::string file = fileOf(static_cast<const link_map*>(extra));
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string systemDir() { return std::string(); }

bool isFile(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

bool environment(const char* name, std::string& value)
{
    const char* v = name ? std::getenv(name) : nullptr;
    if (!v)
        return false;
    value = v;
    return true;
}

namespace {
// "std::runtime_error: port closed": the type as the source spells it, and
// the exception's own text when it has one.
void describeException(const std::type_info* type, const char* text, CallFault& fault)
{
    fault.kind = CallFault::CxxException;
    fault.code = 0;
    fault.access = 0;
    fault.address = 0;
    int status = -1;
    char* readable = type ? abi::__cxa_demangle(type->name(), nullptr, nullptr, &status) : nullptr;
    const char* name = readable ? readable : (type ? type->name() : "of unknown type");
    if (text && *text)
        std::snprintf(fault.what, sizeof fault.what, "%s: %s", name, text);
    else
        std::snprintf(fault.what, sizeof fault.what, "%s", name);
    std::free(readable);
}
} // namespace

void noteCurrentException(CallFault& fault)
{
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        throw; // a cancelled thread must go on unwinding
    } catch (const std::exception& e) {
        describeException(&typeid(e), e.what(), fault);
    } catch (...) {
        describeException(abi::__cxa_current_exception_type(), nullptr, fault);
    }
}

namespace {
// The dynamic loader has already relocated these entries on most machines;
// where it has not, they are still offsets from the library's base.
template <typename T> const T* dynamicTable(const link_map* map, ElfW(Addr) value)
{
    return reinterpret_cast<const T*>(value < map->l_addr ? map->l_addr + value : value);
}

// Symbols in the table: the hash table's chain count, or for a GNU hash table
// one past the last symbol its highest bucket's chain reaches.
std::size_t symbolCount(const std::uint32_t* hash, const std::uint32_t* gnuHash)
{
    if (hash)
        return hash[1];
    if (!gnuHash)
        return 0;
    const std::uint32_t buckets = gnuHash[0], first = gnuHash[1], bloomWords = gnuHash[2];
    const auto* bucket = reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const ElfW(Addr)*>(gnuHash + 4) +
                                                                bloomWords);
    const std::uint32_t* chain = bucket + buckets;
    std::uint32_t last = 0;
    for (std::uint32_t b = 0; b < buckets; ++b)
        if (bucket[b] > last)
            last = bucket[b];
    if (last < first)
        return first;
    while (!(chain[last - first] & 1u))
        ++last;
    return last + 1;
}
} // namespace

bool forEachExport(LibHandle lib, ExportVisitor visit, void* context)
{
    link_map* map = nullptr;
    if (!lib || !visit || dlinfo(lib, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_ld)
        return false;
    const ElfW(Sym)* symbols = nullptr;
    const char* strings = nullptr;
    const std::uint32_t* hash = nullptr;
    const std::uint32_t* gnuHash = nullptr;
    for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d) {
        if (d->d_tag == DT_SYMTAB)
            symbols = dynamicTable<ElfW(Sym)>(map, d->d_un.d_ptr);
        else if (d->d_tag == DT_STRTAB)
            strings = dynamicTable<char>(map, d->d_un.d_ptr);
        else if (d->d_tag == DT_HASH)
            hash = dynamicTable<std::uint32_t>(map, d->d_un.d_ptr);
        else if (d->d_tag == DT_GNU_HASH)
            gnuHash = dynamicTable<std::uint32_t>(map, d->d_un.d_ptr);
    }
    if (!symbols || !strings || (!hash && !gnuHash))
        return false;
    const std::size_t count = symbolCount(hash, gnuHash);
    for (std::size_t i = 1; i < count; ++i) {
        const ElfW(Sym)& s = symbols[i];
        // The 32-bit macros read the one-byte fields of both classes alike.
        const unsigned type = ELF32_ST_TYPE(s.st_info), binding = ELF32_ST_BIND(s.st_info);
        const unsigned visibility = ELF32_ST_VISIBILITY(s.st_other);
        if (s.st_shndx == SHN_UNDEF || s.st_name == 0 || (type != STT_FUNC && type != STT_GNU_IFUNC) ||
            (binding != STB_GLOBAL && binding != STB_WEAK) || visibility == STV_HIDDEN || visibility == STV_INTERNAL)
            continue;
        visit(strings + s.st_name, context);
    }
    return true;
}

std::size_t pageSize()
{
    static const std::size_t size = [] {
        const long n = sysconf(_SC_PAGESIZE);
        return n > 0 ? static_cast<std::size_t>(n) : std::size_t(4096);
    }();
    return size;
}

void* mapGuarded(std::size_t bytes, char* text, std::size_t size)
{
    const std::size_t page = pageSize();
    if (bytes == 0 || bytes % page != 0) {
        errorText(EINVAL, text, size);
        return nullptr;
    }
    // Anonymous pages are zero and cost nothing until touched; no swap is set
    // aside for the untouched ones.
    void* base = mmap(nullptr, bytes + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                      -1, 0);
    if (base == MAP_FAILED) {
        errorText(errno, text, size);
        return nullptr;
    }
    if (mprotect(static_cast<char*>(base) + bytes, page, PROT_NONE) != 0) {
        errorText(errno, text, size);
        munmap(base, bytes + page);
        return nullptr;
    }
#ifdef MADV_NOHUGEPAGE
    // A huge page would make one touched byte cost megabytes.
    madvise(base, bytes, MADV_NOHUGEPAGE);
#endif
    return base;
}

bool touchedPages(const void* memory, std::size_t bytes, unsigned char* touched)
{
    const std::size_t page = pageSize();
    if (!memory || !touched || bytes % page != 0)
        return false;
    if (mincore(const_cast<void*>(memory), bytes, touched) != 0)
        return false;
    for (std::size_t i = 0; i < bytes / page; ++i)
        touched[i] &= 1; // the other bits are reserved
    return true;
}

void unmapGuarded(void* memory, std::size_t bytes)
{
    if (memory)
        munmap(memory, bytes + pageSize());
}

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

namespace {
// A file descriptor in a handle: 0 stays "no file".
FileHandle handleOf(int fd) { return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd) + 1); }
int fdOf(FileHandle file) { return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1); }
} // namespace

FileHandle createNewFile(const char* path, bool& exists, char* text, std::size_t size)
{
    exists = false;
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        exists = errno == EEXIST;
        errorText(errno, text, size);
        return nullptr;
    }
    return handleOf(fd);
}

bool writeFile(FileHandle file, const void* data, std::size_t bytes, char* text, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = write(fdOf(file), p, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errorText(n < 0 ? errno : ENOSPC, text, size);
            return false;
        }
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

bool fileAtPath(FileHandle file, const char* path, char* text, std::size_t size)
{
    struct stat opened, named;
    if (fstat(fdOf(file), &opened) != 0 || stat(path, &named) != 0) {
        errorText(errno, text, size);
        return false;
    }
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
        std::snprintf(text, size, "another file has taken its place");
        return false;
    }
    return true;
}

bool closeFile(FileHandle file, char* text, std::size_t size)
{
    if (close(fdOf(file)) != 0) {
        errorText(errno, text, size);
        return false;
    }
    return true;
}

bool setEnvironment(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

} // namespace plat
