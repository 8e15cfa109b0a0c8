// --check: what it learns from a device's console output, and its verdict on
// every option line. A device names a line it refused in a message that ends
// with "line N." (or "line N. Ignored."), and with the logger's debug lines
// on it says "Option line N read: KEYWORD" for every line its parsers read,
// taken or not. A line no parser read and none refused is unknown. Nothing
// here knows any device's keywords.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

class CLogger;

namespace trackhost {

struct Device;

struct DeviceOutput {
    std::vector<std::string> shown;           // console lines for people (no debug lines)
    std::set<unsigned> read;                  // lines the parsers announced
    std::map<unsigned, std::string> refused;  // line -> the device's message, first one
};

// Sorts console text written through (copies of) the given logger record.
void scanOutput(const std::string& text, const CLogger& log, DeviceOutput& out);

// The line number a refusal message names at its end, or 0.
unsigned refusedLine(const std::string& message);

struct CheckVerdict {
    unsigned lines = 0, unknown = 0, refused = 0, unchecked = 0, failedInits = 0;
    std::vector<std::string> findings; // "FILE:LINE: DEVICE: what", in file order

    // "check: N devices, M option lines: clean" or the counts of what is
    // wrong; clean needs stepsOk too (every device created, stopped and deleted).
    std::string summary(std::size_t devices, bool stepsOk) const;
    bool clean(bool stepsOk) const { return stepsOk && unknown + refused + unchecked + failedInits == 0; }
};

// Judges the option lines of every created device after init; file names
// the configuration in the findings. Taken while the devices still exist.
CheckVerdict judgeLines(const std::string& file, const std::vector<Device>& devices);

} // namespace trackhost
