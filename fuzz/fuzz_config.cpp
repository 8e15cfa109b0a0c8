// The harness's configuration reader on any text: it either refuses the text
// with a message naming the file, or gives device blocks the host can hand to
// a device as they are.
#include "fuzz/harness.h"
#include "trackhost/config.h"

namespace {
int runOne(const std::uint8_t* data, std::size_t size)
{
    using fuzzhelp::violation;
    trackhost::DeviceList devices;
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!trackhost::parseConfig(text, "fuzz.cfg", devices, error)) {
        if (error.compare(0, 8, "fuzz.cfg") != 0)
            violation("config", "refusal without the file name: " + error);
        return 0;
    }
    for (const auto& block : devices) {
        const DeviceConfig* c = block->config();
        if (!c || !c->deviceName || c->optionCount > kMaxOptions)
            violation("config", "device block without name or with too many lines");
        unsigned lastLine = 0;
        for (unsigned i = 0; i < c->optionCount; ++i) {
            const ConfigOption& o = c->options[i];
            if (!o.name || o.argCount < 0 || o.argCount > kMaxOptionArgs || o.consumed)
                violation("config", "option line " + std::to_string(i));
            // A NUL byte in the file cuts a word short, down to an empty keyword.
            if (!*o.name)
                violation(text.find('\0') != std::string::npos ? "nul-byte" : "empty-keyword",
                          "option line " + std::to_string(i) + " without keyword");
            if (o.lineNumber <= lastLine || o.lineNumber <= block->line())
                violation("config", "line numbers out of order");
            lastLine = o.lineNumber;
            for (int k = 0; k < o.argCount; ++k) {
                if (!o.args[k])
                    violation("config", "null argument");
            }
        }
    }
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzhelp::runTolerating(runOne, data, size);
}
