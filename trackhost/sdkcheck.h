// --sdk: the tracker SDK loaded and bound exactly as the module does it, and
// what became of each member and of each SDK object's storage, for a person
// installing the maker's SDK beside a host.
#pragma once

#include <iosfwd>
#include <string>

namespace trackhost {

// Where a module at the path module looks, one line per library, per member
// and per SDK class, then a verdict line. Returns 0 when every member is
// bound and every object fits its storage, 1 otherwise (also when there is
// no module at that path).
int checkSdk(std::ostream& out, const std::string& module);

} // namespace trackhost
