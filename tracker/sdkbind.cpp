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
const char* const kOnlyFromDir = " (TARSIS_SDK_DIR is set: no other folder is searched)";
const char* const kNotExported = "Tracker SDK %s does not export %s";
const char* const kAmbiguous = "Tracker SDK %s exports %s more than once: %s";
const char* const kNoStorage = "Unable to reserve storage for tracker SDK object %s: %s";
const char* const kOverrun = "Tracker SDK object %s wrote past its %lu reserved bytes";
const char* const kRaisedCxx = "Tracker SDK call %s raised a C++ exception (%s)";
const char* const kRaisedAccess = "Tracker SDK call %s caused an access violation (0x%08lX) %s address 0x%llX";
const char* const kRaisedPastStorage =
    "Tracker SDK call %s caused an access violation (0x%08lX) %s past the storage of an SDK object";
const char* const kRaisedOther = "Tracker SDK call %s raised an exception (0x%08lX)";
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

struct State {
    std::mutex mutex;
    int refs = 0;
    bool bound = false;
    bool rebind = false;       // the tests changed what to bind
    std::string moduleFolder;  // empty: this module's own
    BindReport report;
    LibraryFiles files = {nullptr, nullptr};
    std::size_t reserved = 0;
};

State& state()
{
    static State s;
    return s;
}

// The trace output raised once: its state is unknown, so it is not called again.
std::atomic<bool> g_traceRaised{false};

const char* defaultFile(Library library)
{
#ifdef _WIN32
    return library == Library::OTK ? "OTK.dll" : "OvCmdIF.dll";
#else
    return library == Library::OTK ? "libOTK.so" : "libOvCmdIF.so";
#endif
}

const char* accessWord(int access)
{
    return access == 1 ? "writing" : access == 8 ? "executing" : "reading";
}

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
    for (void*& entry : detail::g_entry)
        entry = nullptr;
    g_traceRaised = false;
    r.plan = searchPlan(s.moduleFolder.empty() ? plat::moduleDir() : s.moduleFolder);
    plat::LibHandle handles[static_cast<int>(Library::Count)] = {};
    std::vector<std::string> exports[static_cast<int>(Library::Count)];
    bool listed[static_cast<int>(Library::Count)] = {};
    for (int l = 0; l < static_cast<int>(Library::Count); ++l) {
        const char* configured = l == 0 ? s.files.otk : s.files.ovcmdif;
        BindReport::Lib& lib = r.libraries[l];
        lib.file = configured ? configured : defaultFile(static_cast<Library>(l));
        const Located found = locate(r.plan, lib.file);
        handles[l] = found.handle;
        lib.loaded = found.handle != nullptr;
        lib.path = found.path;
        lib.failure = found.failure;
        if (lib.loaded)
            debugLine(log, "Tracker SDK: " + lib.file + " loaded from " + lib.path +
                               (r.plan.fromEnvironment ? std::string(" (") + kSdkDirVariable + ")" : ""));
    }

    for (int m = 0; m < kMemberCount; ++m) {
        const MemberInfo& info = kMembers[m];
        BindReport::Member& out = r.members[m];
        const int l = static_cast<int>(info.library);
        const plat::LibHandle lib = handles[l];
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
            r.failure = lib.failure;
    }
    for (int m = 0; m < kMemberCount && r.failure.empty(); ++m) {
        const BindReport::Member& member = r.members[m];
        const std::string& file = r.libraries[static_cast<int>(kMembers[m].library)].file;
        if (member.state == BindReport::Member::Missing) {
            r.failure = formatLine(text::kNotExported, file.c_str(), qualified(kMembers[m]).c_str());
        } else if (member.state == BindReport::Member::Refused) {
            r.failure = refusalLine(file, static_cast<Id>(m), member.candidates, member.why);
        } else if (member.state == BindReport::Member::Ambiguous) {
            std::string names;
            for (const std::string& c : member.candidates)
                names += (names.empty() ? "" : ", ") + c;
            r.failure = formatLine(text::kAmbiguous, file.c_str(), qualified(kMembers[m]).c_str(), names.c_str());
        }
    }
    r.complete = r.failure.empty();
}

} // namespace

const MemberInfo& memberInfo(Id id) { return kMembers[static_cast<int>(id)]; }

std::string formatLine(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string line(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(&line[0], line.size() + 1, fmt, again);
    va_end(again);
    return line;
}

const BindReport& acquireBinding(const CLogger* log)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    // Entries change only while no object can be calling them.
    if (s.refs == 0 && (!s.bound || s.rebind || !s.report.complete)) {
        // Out of memory half way leaves nothing bound and nothing counted.
        try {
            bindAll(s, log);
        } catch (...) {
            for (void*& entry : detail::g_entry)
                entry = nullptr;
            s.bound = false;
            throw;
        }
        s.bound = true;
        s.rebind = false;
    }
    ++s.refs;
    return s.report;
}

void releaseBinding()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.refs > 0)
        --s.refs;
}

void searchAsModuleIn(const std::string& folder)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.moduleFolder = folder;
    s.rebind = true;
}

std::string raisedLine(Id id, const plat::CallFault& fault)
{
    const char* call = detail::g_callName[static_cast<int>(id)];
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", fault.code);
    switch (fault.kind) {
    case plat::CallFault::CxxException:
#ifdef _WIN32
        return formatLine(text::kRaisedCxx, call, code);
#else
        return formatLine(text::kRaisedCxx, call, fault.what);
#endif
    case plat::CallFault::AccessViolation:
        return formatLine(text::kRaisedAccess, call, fault.code, accessWord(fault.access),
                          static_cast<unsigned long long>(fault.address));
    case plat::CallFault::GuardPage:
        return formatLine(text::kRaisedPastStorage, call, fault.code, accessWord(fault.access));
    case plat::CallFault::Other:
        break;
    }
    return formatLine(text::kRaisedOther, call, fault.code);
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
    s.rebind = true;
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

namespace {
// The trace output's one call, as the gate runs it.
struct TraceCall {
    void* entry;
    const char* text;
    static void run(void* context)
    {
        using Entry = void(TARSIS_SDK_CDECL*)(const char*, ...);
        const TraceCall& call = *static_cast<const TraceCall*>(context);
        reinterpret_cast<Entry>(call.entry)("%s", call.text);
    }
};
} // namespace

void OvDebug::OVDOUT(const char* format, ...)
{
    const Id id = Id::OvDebug_OVDOUT;
    void* entry = detail::g_entry[static_cast<int>(id)];
    if (!entry || g_traceRaised.load(std::memory_order_relaxed))
        return;
    char text[2048] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    TraceCall call{entry, text};
    plat::CallFault fault;
    if (!plat::callGuarded(&TraceCall::run, &call, fault) && !g_traceRaised.exchange(true))
        std::cout << raisedLine(id, fault) << std::endl;
}

} // namespace sdk
