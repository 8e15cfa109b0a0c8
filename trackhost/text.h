// Small text helpers that every room of the harness shares, so that words and
// numbers read the same way wherever they come from: the command line, the
// configuration file, or a device's console lines.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

namespace trackhost {

// Whether a equals b, ignoring the case of ASCII letters.
bool sameNoCase(const std::string& a, const char* b);

// Reads the decimal digits at text[pos..] and leaves pos after them. False
// when there is no digit or the number is above limit (pos still moves past
// every digit, so a caller can tell what followed).
bool readDecimal(const std::string& text, std::size_t& pos, unsigned long long limit, unsigned long long& value);

// Writes one error line, "trackhost: TEXT", and flushes it.
void errorLine(std::ostream& err, const std::string& text);

} // namespace trackhost
