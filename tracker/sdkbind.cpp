#include "tracker/sdkbind.h"

#include "support/logger.h"
#include "support/platform.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

namespace sdk {

namespace text {
const char* const kLoadFailed = "Unable to load tracker SDK %s: %s";
const char* const kNotExported = "Tracker SDK %s does not export %s";
const char* const kAmbiguous = "Tracker SDK %s exports %s more than once: %s";
const char* const kNoStorage = "Unable to reserve storage for tracker SDK object %s: %s";
const char* const kOverrun = "Tracker SDK object %s wrote past its %lu reserved bytes";
const char* const kForeignThrow = "Tracker SDK call %s raised a C++ exception (0x%08lX)";
const char* const kForeignOverrun = "Tracker SDK wrote past the storage of one of its objects (0x%08lX)";
const char* const kForeignOverrunIn = "Tracker SDK wrote past the storage of one of its objects (0x%08lX) in %s";
} // namespace text

namespace detail {
void* g_entry[kMemberCount] = {};

#define TARSIS_SDK_CALL_Method(cls, member) #cls "::" #member
#define TARSIS_SDK_CALL_Custom(cls, member) #cls "::" #member
#define TARSIS_SDK_CALL_Static(cls, member) #cls "::" #member
#define TARSIS_SDK_CALL_Ctor(cls, member) #cls "::" #cls
#define TARSIS_SDK_CALL_Dtor(cls, member) #cls "::~" #cls
const char* const g_callName[kMemberCount] = {
#define TARSIS_SDK_MEMBER(library, cls, kind, member, ...) TARSIS_SDK_CALL_##kind(cls, member),
#include "tracker/sdktable.h"
#undef TARSIS_SDK_MEMBER
};

#ifdef _WIN32
// An SDK may throw and catch its own exceptions inside a call. The first one
// of a member is named, since nothing tells yet whether it will escape; once
// a call of that member has returned after raising, the member handles its
// own, and a healthy SDK that works that way stays quiet from then on.
thread_local bool t_raisedInCall = false;
std::atomic<bool> g_handlesOwnExceptions[kMemberCount] = {};

std::atomic<bool>* handlesOwnExceptions(const char* call)
{
    for (int i = 0; i < kMemberCount; ++i)
        if (g_callName[i] == call)
            return &g_handlesOwnExceptions[i];
    return nullptr;
}

ForeignCall::ForeignCall(const char* name) : m_name(name)
{
    t_raisedInCall = false;
    plat::setForeignCall(name);
}

ForeignCall::~ForeignCall()
{
    if (t_raisedInCall) {
        t_raisedInCall = false;
        if (std::atomic<bool>* quiet = handlesOwnExceptions(m_name))
            quiet->store(true);
    }
    plat::setForeignCall(nullptr);
}
#endif
} // namespace detail

namespace {

#define TARSIS_SDK_MEMBERNAME_Method(cls, member) #member
#define TARSIS_SDK_MEMBERNAME_Custom(cls, member) #member
#define TARSIS_SDK_MEMBERNAME_Static(cls, member) #member
#define TARSIS_SDK_MEMBERNAME_Ctor(cls, member) #cls
#define TARSIS_SDK_MEMBERNAME_Dtor(cls, member) "~" #cls
const MemberInfo kMembers[kMemberCount] = {
#define TARSIS_SDK_MEMBER(library, cls, kind, member, result, params, args, need, msvc32, msvc64, itanium)         \
    {Library::library, #cls, TARSIS_SDK_MEMBERNAME_##kind(cls, member), Kind::kind, Need::need, msvc32, msvc64, itanium},
#include "tracker/sdktable.h"
#undef TARSIS_SDK_MEMBER
};

// Far beyond any plausible SDK object: untouched pages cost no memory.
const std::size_t kUsualReservedBytes = 16 * 1024 * 1024;

std::string format(const char* fmt, ...)
{
    char line[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    return line;
}

struct State {
    std::mutex mutex;
    int refs = 0;
    plat::LibHandle handles[static_cast<int>(Library::Count)] = {};
    BindReport report;
    LibraryFiles files = {nullptr, nullptr};
    std::size_t reserved = 0;
};

State& state()
{
    static State s;
    return s;
}

const char* defaultFile(Library library)
{
#ifdef _WIN32
    return library == Library::OTK ? "OTK.dll" : "OvCmdIF.dll";
#else
    return library == Library::OTK ? "libOTK.so" : "libOvCmdIF.so";
#endif
}

#ifdef _WIN32
// Called as the exception is raised, before anything unwinds: a plain line.
void reportForeign(const char* call, unsigned long code, bool guardPage)
{
    std::string line;
    if (!guardPage) {
        const std::atomic<bool>* quiet = detail::handlesOwnExceptions(call);
        if (quiet && quiet->load())
            return;
        detail::t_raisedInCall = true;
        line = format(text::kForeignThrow, call, code);
    }
    else if (call)
        line = format(text::kForeignOverrunIn, code, call);
    else
        line = format(text::kForeignOverrun, code);
    std::cout << line << std::endl;
}
#endif

void collectExport(const char* name, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(name);
}

std::string qualified(const MemberInfo& info) { return std::string(info.cls) + "::" + info.member; }

void debugLine(const CLogger* log, const std::string& line)
{
    if (log)
        log->debug(line.c_str(), true);
}

// Exact names first: the compiler at hand's own, then GCC's on Windows (a
// library built with GCC carries those there too).
std::vector<const char*> exactNames(const MemberInfo& info)
{
#if defined(_WIN32) && defined(__i386__)
    return {info.msvc32, info.itanium};
#elif defined(_WIN32)
    return {info.msvc64, info.itanium};
#else
    return {info.itanium};
#endif
}

void bindAll(State& s, const CLogger* log)
{
    BindReport& r = s.report;
    r = BindReport();
    std::vector<std::string> exports[static_cast<int>(Library::Count)];
    bool listed[static_cast<int>(Library::Count)] = {};
    for (int l = 0; l < static_cast<int>(Library::Count); ++l) {
        const char* configured = l == 0 ? s.files.otk : s.files.ovcmdif;
        BindReport::Lib& lib = r.libraries[l];
        lib.file = configured ? configured : defaultFile(static_cast<Library>(l));
        s.handles[l] = plat::loadLibrary(lib.file.c_str());
        lib.loaded = s.handles[l] != nullptr;
        if (!lib.loaded)
            lib.error = plat::lastLoadError();
        else
            debugLine(log, "Tracker SDK: " + lib.file + " loaded");
    }

    for (int m = 0; m < kMemberCount; ++m) {
        const MemberInfo& info = kMembers[m];
        BindReport::Member& out = r.members[m];
        const int l = static_cast<int>(info.library);
        const plat::LibHandle lib = s.handles[l];
        if (!lib) {
            out.state = BindReport::Member::NoLibrary;
            continue;
        }
        void* entry = nullptr;
        for (const char* name : exactNames(info)) {
            if ((entry = plat::findSymbol(lib, name)) != nullptr) {
                out.name = name;
                break;
            }
        }
        if (!entry) {
            if (!listed[l]) {
                plat::forEachExport(lib, collectExport, &exports[l]);
                listed[l] = true;
            }
            Match match = findExport(exports[l], static_cast<Id>(m));
            if (match.result == Match::Found)
                entry = plat::findSymbol(lib, match.name.c_str());
            if (entry) {
                out.name = match.name;
            } else if (match.result == Match::Ambiguous) {
                out.state = BindReport::Member::Ambiguous;
                out.candidates = match.candidates;
                continue;
            } else {
                const bool refused = match.result == Match::Refused;
                out.candidates = match.candidates;
                out.why = match.why;
                if (info.need == Need::Required) {
                    out.state = refused ? BindReport::Member::Refused : BindReport::Member::Missing;
                    continue;
                }
                out.state = BindReport::Member::Absent;
                debugLine(log, "Tracker SDK: " + qualified(info) +
                                   (refused ? std::string(" not bound (exported only ") + refusalText(match.why) + ")"
                                            : std::string(" not exported")) +
                                   ", not needed");
                continue;
            }
        }
        out.state = BindReport::Member::Bound;
        detail::g_entry[m] = entry;
        debugLine(log, "Tracker SDK: " + qualified(info) + " bound to " + out.name + " in " +
                           r.libraries[l].file);
    }

    // The first problem makes the line the device prints.
    for (const BindReport::Lib& lib : r.libraries) {
        if (!lib.loaded && r.failure.empty())
            r.failure = format(text::kLoadFailed, lib.file.c_str(), lib.error.c_str());
    }
    for (int m = 0; m < kMemberCount && r.failure.empty(); ++m) {
        const BindReport::Member& member = r.members[m];
        const std::string& file = r.libraries[static_cast<int>(kMembers[m].library)].file;
        if (member.state == BindReport::Member::Missing) {
            r.failure = format(text::kNotExported, file.c_str(), qualified(kMembers[m]).c_str());
        } else if (member.state == BindReport::Member::Refused) {
            r.failure = refusalLine(file, static_cast<Id>(m), member.candidates, member.why);
        } else if (member.state == BindReport::Member::Ambiguous) {
            std::string names;
            for (const std::string& c : member.candidates)
                names += (names.empty() ? "" : ", ") + c;
            r.failure = format(text::kAmbiguous, file.c_str(), qualified(kMembers[m]).c_str(), names.c_str());
        }
    }
    r.complete = r.failure.empty();
#ifdef _WIN32
    plat::watchForeignExceptions(reportForeign);
#endif
}

void unbindAll(State& s)
{
#ifdef _WIN32
    plat::watchForeignExceptions(nullptr);
#endif
    for (void*& entry : detail::g_entry)
        entry = nullptr;
    for (int l = static_cast<int>(Library::Count) - 1; l >= 0; --l) {
        plat::freeLibrary(s.handles[l]);
        s.handles[l] = nullptr;
    }
}

} // namespace

const MemberInfo& memberInfo(Id id) { return kMembers[static_cast<int>(id)]; }

const BindReport& acquireBinding(const CLogger* log)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.refs == 0) {
        // Out of memory half way leaves nothing loaded and nothing counted.
        try {
            bindAll(s, log);
        } catch (...) {
            unbindAll(s);
            throw;
        }
    }
    ++s.refs;
    return s.report;
}

void releaseBinding()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.refs > 0 && --s.refs == 0)
        unbindAll(s);
}

std::size_t objectStorageBytes()
{
    const std::size_t bytes = state().reserved;
    return bytes ? bytes : kUsualReservedBytes;
}

LibraryFiles setLibraryFilesForTests(LibraryFiles files)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const LibraryFiles old = s.files;
    s.files = files;
    return old;
}

std::size_t setReservedBytesForTests(std::size_t bytes)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::size_t old = s.reserved;
    s.reserved = bytes;
    return old;
}

void OvDebug::OVDOUT(const char* format, ...)
{
    using Entry = void(TARSIS_SDK_CDECL*)(const char*, ...);
    const int id = static_cast<int>(Id::OvDebug_OVDOUT);
    void* entry = detail::g_entry[id];
    if (!entry)
        return;
    char text[2048] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    detail::ForeignCall running(detail::g_callName[id]);
    reinterpret_cast<Entry>(entry)("%s", text);
}

} // namespace sdk
