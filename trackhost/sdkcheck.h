// --sdk: the tracker SDK loaded and bound exactly as the module does it, and
// what became of each member and of each SDK object's storage, for a person
// installing the maker's SDK beside a host.
#pragma once

#include <iosfwd>

namespace trackhost {

// One line per library, per member and per SDK class, then a verdict line.
// Returns 0 when every member is bound and every object fits its storage,
// 1 otherwise.
int checkSdk(std::ostream& out);

} // namespace trackhost
