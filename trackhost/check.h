// What --check learns from a device's console output. A device names a line
// it refused in a message that ends with "line N." (or "line N. Ignored."),
// and with the logger's debug lines on it says "Option line N read: KEYWORD"
// for every line its parsers read, taken or not. Nothing here knows any
// device's keywords.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

class CLogger;

namespace trackhost {

struct DeviceOutput {
    std::vector<std::string> shown;           // console lines for people (no debug lines)
    std::set<unsigned> read;                  // lines the parsers announced
    std::map<unsigned, std::string> refused;  // line -> the device's message, first one
};

// Sorts console text written through (copies of) the given logger record.
void scanOutput(const std::string& text, const CLogger& log, DeviceOutput& out);

// The line number a refusal message names at its end, or 0.
unsigned refusedLine(const std::string& message);

} // namespace trackhost
