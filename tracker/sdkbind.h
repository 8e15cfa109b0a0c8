// Binding the maker's SDK at run time. The first SDK object made in the
// process finds OTK and OvCmdIF where the module looks for them
// (tracker/sdksearch.h), loads them for the rest of the process and resolves
// every member of tracker/sdktable.h; later objects reuse that binding, also
// after every earlier one is gone. An SDK may leave threads or timers
// running, so it is never unloaded.
//
// A member is taken by the exact name the compiler at hand gives it (MSVC's
// on Windows, then GCC's; GCC's on Linux); failing that, by scanning the
// library's exports for the one that is the member in a form the module can
// call, however its parameter types are spelt (findExport, sdknames.h). An
// optional member that the library leaves out, or offers only in forms the
// module cannot call, is not bound and never called. The first problem (a
// library that does not load, a required member missing, ambiguous or
// refused) is kept as one console line, which the device prints when it
// connects; a binding with a problem is tried again by the next object made
// once no object holds it.
#pragma once

#include "tracker/sdk.h"
#include "tracker/sdknames.h"
#include "tracker/sdksearch.h"

#include <cstddef>
#include <string>
#include <vector>

class CLogger;

namespace sdk {

enum class Library { OTK, OvCmdIF, Count };
enum class Kind { Method, Custom, Ctor, Dtor, Static };
enum class Need { Required, Optional };

struct MemberInfo {
    Library library;
    const char* cls;
    const char* member; // the constructor and destructor as the class name and ~name
    Kind kind;
    Need need;
    const char* msvc32;
    const char* msvc64;
    const char* itanium;
};
// The table's lines, by Id.
const MemberInfo& memberInfo(Id id);

// What the binding found, for the device's failure line and trackhost --sdk.
struct BindReport {
    struct Lib {
        std::string file;    // as looked for, e.g. OTK.dll
        bool loaded = false;
        std::string path;    // the file loaded (or that failed to load)
        std::string failure; // the console line when not loaded
    };
    struct Member {
        enum State { Bound, Absent, Missing, Ambiguous, Refused, NoLibrary } state = NoLibrary;
        std::string name;                    // the export bound
        std::vector<std::string> candidates; // of an ambiguous or refused member, or an absent one's refused
        Refusal why = Refusal::None;         // of a refused member, or an absent one's refused candidates
    };
    SearchPlan plan; // where the libraries were looked for
    Lib libraries[static_cast<int>(Library::Count)];
    Member members[kMemberCount];
    bool complete = false;
    std::string failure; // the first problem's console line; empty when complete
};

// Loads and binds on the first acquire, logging what it took once at DEBUG
// level through log (may be null); every acquire needs one release. The
// report stays valid while the binding is held.
const BindReport& acquireBinding(const CLogger* log);
void releaseBinding();

// For trackhost --sdk: search as the module in folder would (with its
// trailing separator) instead of as this module does. Before the first
// acquire.
void searchAsModuleIn(const std::string& folder);

// The console line of an SDK call that raised: the call's name from the
// member table, and what the fault was.
std::string raisedLine(Id id, const plat::CallFault& fault);

// The storage each SDK object gets: usable bytes, then the guard band.
std::size_t objectStorageBytes();
const std::size_t kGuardBandBytes = 4096;

// For tests: other library files (nullptr: the platform's names), and a
// smaller reserved size (0: the usual). Only while no SDK object exists.
// Each returns the setting it replaced. New files are bound afresh by the
// next acquire (the libraries bound before stay loaded).
struct LibraryFiles {
    const char* otk;
    const char* ovcmdif;
};
LibraryFiles setLibraryFilesForTests(LibraryFiles files);
std::size_t setReservedBytesForTests(std::size_t bytes);

// A console line from one of the texts below, however long what goes into it
// (the folders of a long PATH, every candidate export).
std::string formatLine(const char* fmt, ...);

// The console lines of the SDK binding and of its calls, each a printf format.
namespace text {
extern const char* const kLoadFailed;        // library file (or path), reason
extern const char* const kOnlyFromDir;       // appended while TARSIS_SDK_DIR is in force
extern const char* const kNotExported;       // library file, Class::member
extern const char* const kAmbiguous;         // library file, Class::member, candidates
extern const char* const kNoStorage;         // class, system text
extern const char* const kOverrun;           // class, reserved bytes, when
extern const char* const kRaisedCxx;         // Class::member, the exception (code or type)
extern const char* const kRaisedAccess;      // Class::member, code, reading/writing/executing, address
extern const char* const kRaisedPastStorage; // Class::member, code, reading/writing/executing
extern const char* const kRaisedOther;       // Class::member, code
} // namespace text

} // namespace sdk
