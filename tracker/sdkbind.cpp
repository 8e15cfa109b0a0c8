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

const std::size_t kUsualReservedBytes = 64 * 1024;

std::string format(const char* fmt, ...)
{
    char line[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    return line;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A parameter list of exactly one reference to the class itself: a copy or
// move constructor. MSVC: A (reference) or $$Q (rvalue reference), E on
// 64-bit, a cv letter, V0@ (the class again), @Z. GCC: R or O, qualifiers, S_.
bool msvcSelfReference(const std::string& params)
{
    std::size_t i = 0;
    if (startsWith(params, "A"))
        i = 1;
    else if (startsWith(params, "$$Q"))
        i = 3;
    else
        return false;
    if (i < params.size() && params[i] == 'E')
        ++i;
    if (i >= params.size() || params[i] < 'A' || params[i] > 'D')
        return false;
    return params.compare(i + 1, std::string::npos, "V0@@Z") == 0;
}

bool itaniumSelfReference(const std::string& params)
{
    if (params.empty() || (params[0] != 'R' && params[0] != 'O'))
        return false;
    std::size_t i = 1;
    while (i < params.size() && (params[i] == 'r' || params[i] == 'V' || params[i] == 'K'))
        ++i;
    return params.compare(i, std::string::npos, "S_") == 0;
}

bool isCandidate(const std::string& name, const char* cls, const char* member, Kind kind)
{
    const std::string itaniumClass = std::to_string(std::strlen(cls)) + cls;
    if (kind == Kind::Ctor) {
        const std::string msvc = std::string("??0") + cls + "@@";
        if (startsWith(name, msvc)) {
            // Access and calling convention, then "@" for no result type.
            const std::size_t at = name.find('@', msvc.size());
            return at != std::string::npos && !msvcSelfReference(name.substr(at + 1));
        }
        const std::string itanium = "_ZN" + itaniumClass + "C1E";
        return startsWith(name, itanium) && !itaniumSelfReference(name.substr(itanium.size()));
    }
    if (kind == Kind::Dtor)
        return startsWith(name, std::string("??1") + cls + "@@") || startsWith(name, "_ZN" + itaniumClass + "D1E");
    if (startsWith(name, std::string("?") + member + "@" + cls + "@@"))
        return true;
    if (!startsWith(name, "_ZN"))
        return false;
    // Qualifiers of the object (const, volatile, restrict, & or &&) come first.
    std::size_t i = 3;
    while (i < name.size() && (name[i] == 'K' || name[i] == 'V' || name[i] == 'r'))
        ++i;
    if (i < name.size() && (name[i] == 'R' || name[i] == 'O'))
        ++i;
    const std::string nested = itaniumClass + std::to_string(std::strlen(member)) + member;
    if (name.compare(i, nested.size(), nested) != 0)
        return false;
    // The nested name ends here, or an ABI tag follows the member's name.
    const std::size_t end = i + nested.size();
    return end < name.size() && (name[end] == 'E' || name[end] == 'B');
}

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
            Match match = findExport(exports[l], info.cls, info.member, info.kind);
            if (match.result == Match::Found)
                entry = plat::findSymbol(lib, match.name.c_str());
            if (entry) {
                out.name = match.name;
            } else if (match.result == Match::Ambiguous) {
                out.state = BindReport::Member::Ambiguous;
                out.candidates = match.candidates;
                continue;
            } else {
                out.state = info.need == Need::Optional ? BindReport::Member::Absent : BindReport::Member::Missing;
                if (out.state == BindReport::Member::Absent)
                    debugLine(log, "Tracker SDK: " + qualified(info) + " not exported, not needed");
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
            r.failure = format(text::kNotExported, file.c_str(), qualified(kMembers[m]).c_str());
        } else if (member.state == BindReport::Member::Ambiguous) {
            std::string names;
            for (const std::string& c : member.candidates)
                names += (names.empty() ? "" : ", ") + c;
            r.failure = format(text::kAmbiguous, file.c_str(), qualified(kMembers[m]).c_str(), names.c_str());
        }
    }
    r.complete = r.failure.empty();
}

} // namespace

const MemberInfo& memberInfo(Id id) { return kMembers[static_cast<int>(id)]; }

Match findExport(const std::vector<std::string>& exports, const char* cls, const char* member, Kind kind)
{
    Match match;
    for (const std::string& name : exports)
        if (isCandidate(name, cls, member, kind))
            match.candidates.push_back(name);
    if (match.candidates.size() == 1) {
        match.result = Match::Found;
        match.name = match.candidates[0];
    } else if (match.candidates.size() > 1) {
        match.result = Match::Ambiguous;
    }
    return match;
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
        return format(text::kRaisedCxx, call, code);
#else
        return format(text::kRaisedCxx, call, fault.what);
#endif
    case plat::CallFault::AccessViolation:
        return format(text::kRaisedAccess, call, fault.code, accessWord(fault.access),
                      static_cast<unsigned long long>(fault.address));
    case plat::CallFault::GuardPage:
        return format(text::kRaisedPastStorage, call, fault.code, accessWord(fault.access));
    case plat::CallFault::Other:
        break;
    }
    return format(text::kRaisedOther, call, fault.code);
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
