// Binding the maker's SDK at run time. The first SDK object made in the
// process loads OTK and OvCmdIF by their plain file names (so the system's
// search order applies: on Windows the host's folder first) and resolves
// every member of tracker/sdktable.h; the last one destroyed unloads them.
//
// A member is taken by the exact name the compiler at hand gives it (MSVC's
// on Windows, then GCC's; GCC's on Linux); failing that, by scanning the
// library's exports for the one that is the member in a form the module can
// call, however its parameter types are spelt (findExport, sdknames.h). An
// optional member that the library leaves out, or offers only in forms the
// module cannot call, is not bound and never called. The first problem (a
// library that does not load, a required member missing, ambiguous or
// refused) is kept as one console line, which the device prints when it
// connects.
#pragma once

#include "tracker/sdk.h"
#include "tracker/sdknames.h"

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
        std::string file;  // as loaded, e.g. OTK.dll
        bool loaded = false;
        std::string error; // the system's text when not loaded
    };
    struct Member {
        enum State { Bound, Absent, Missing, Ambiguous, Refused, NoLibrary } state = NoLibrary;
        std::string name;                    // the export bound
        std::vector<std::string> candidates; // of an ambiguous or refused member, or an absent one's refused
        Refusal why = Refusal::None;         // of a refused member, or an absent one's refused candidates
    };
    Lib libraries[static_cast<int>(Library::Count)];
    Member members[kMemberCount];
    bool complete = false;
    std::string failure; // the first problem's console line; empty when complete
};

// Loads and binds on the first acquire, logging each bound name once at
// DEBUG level through log (may be null); every acquire needs one release,
// and the last one unloads. The report stays valid until then.
const BindReport& acquireBinding(const CLogger* log);
void releaseBinding();

// The storage each SDK object gets: usable bytes, then the guard band.
std::size_t objectStorageBytes();
const std::size_t kGuardBandBytes = 4096;

// For tests: other library files (nullptr: the platform's names), and a
// smaller reserved size (0: the usual). Only while no SDK object exists.
// Each returns the setting it replaced.
struct LibraryFiles {
    const char* otk;
    const char* ovcmdif;
};
LibraryFiles setLibraryFilesForTests(LibraryFiles files);
std::size_t setReservedBytesForTests(std::size_t bytes);

// The console lines of the SDK binding, each a printf format.
namespace text {
extern const char* const kLoadFailed;      // library file, system text
extern const char* const kNotExported;     // library file, Class::member
extern const char* const kAmbiguous;       // library file, Class::member, candidates
extern const char* const kNoStorage;       // class, system text
extern const char* const kOverrun;         // class, reserved bytes, when
extern const char* const kForeignThrow;    // Class::member, code
extern const char* const kForeignOverrun;  // code
extern const char* const kForeignOverrunIn; // code, Class::member
} // namespace text

} // namespace sdk
