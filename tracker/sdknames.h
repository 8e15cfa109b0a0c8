// Telling, from its export name alone, whether a library's export is a member
// of tracker/sdktable.h in a form the module can call. A decorated name says
// more than class and member: MSVC's says whether it is a function at all,
// static or not, public or not, its calling convention, its pointer width,
// the constness of the object, its result and its parameters; GCC's says the
// nesting, the constness and the parameters. An export is taken only when
// all of that agrees with what the module passes and expects, so that no
// member is ever called with arguments it does not take.
//
// Parameters and results agree when they travel alike: any pointer or
// reference for a pointer or reference (a window may be an HWND__*), a 32-bit
// integer or an enumeration of int size for one of those, anything else only
// when it is spelt as the table's own name spells it.
#pragma once

#include "tracker/sdk.h"

#include <string>
#include <vector>

namespace sdk {

// The rules of the machine whose names are read.
struct NameAbi {
    bool x64;    // 64-bit pointers: MSVC members carry E (__ptr64) and have one calling convention
    bool long32; // long is 32 bits wide, so GCC's l and m are 32-bit integers
};
// Those of the machine the module runs on.
NameAbi nativeNameAbi();

// Why an export that names the member is not taken.
enum class Refusal {
    None,
    OtherScope,  // the member of another class, or in another namespace
    Data,        // a static data member
    Static,      // a static member function where an object's member is called
    NonStatic,   // a member of an object where a static function is called
    NotPublic,   // private or protected
    Convention,  // another calling convention
    Const,       // const where the module calls a non-const member
    NonConst,    // not const where the module calls a const member
    Parameters,  // other parameters (for a constructor: not the one the module calls)
    Result,      // another result type
    Form,        // anything else: a thunk, another pointer width, volatile, malformed
};

// The exports of one library that could be a member: Found with its name,
// Ambiguous with every name the module could call, Refused with every name
// that names the member in a form it cannot call (and why, when all agree:
// else Form), or Missing. Names listed twice count once.
struct Match {
    enum Result { Found, Missing, Ambiguous, Refused } result = Missing;
    std::string name;
    std::vector<std::string> candidates;
    Refusal why = Refusal::None;
};
Match findExport(const std::vector<std::string>& exports, Id id, NameAbi abi = nativeNameAbi());

// The console line of a required member refused in library file, naming the
// candidates: "Tracker SDK OTK.dll has no default constructor of COTKdev (it
// exports ...)", or "Tracker SDK OTK.dll has COTKdev::CnxReady only as data
// (it exports ...)" with the refusal's text.
std::string refusalLine(const std::string& file, Id id, const std::vector<std::string>& candidates, Refusal why);
// What a refusal says after "only", e.g. "as data".
const char* refusalText(Refusal why);

namespace text {
extern const char* const kNoDefaultConstructor; // library file, class, candidates
extern const char* const kRefused;              // library file, Class::member, refusal text, candidates
} // namespace text

} // namespace sdk
