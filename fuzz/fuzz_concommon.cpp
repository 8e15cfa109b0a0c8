// The controller option parser on any option lines, then the emulated
// trackers' records. The first input line sets up the handler: controllers
// (1..4), known counts, input connector, output controllers and the first
// emulated tracker id, as five numbers. Every emulation pose and valuator
// scale the parser accepts must be a finite value, and every emulated record
// must hold it unclamped.
#include "common/concommon.h"
#include "fuzz/harness.h"

#include <cstdlib>

namespace {
int runOne(const std::uint8_t* data, std::size_t size)
{
    using fuzzhelp::violation;
    if (std::memchr(data, '\0', size))
        return 0;
    fuzzhelp::quietProcess();
    const std::vector<std::string> lines = fuzzhelp::splitLines(data, size);
    const std::vector<std::string> setup = fuzzhelp::splitWords(lines[0]);
    unsigned v[5] = {1, 0, 0, 1, 1};
    for (std::size_t i = 0; i < setup.size() && i < 5; ++i)
        v[i] = static_cast<unsigned>(std::strtoul(setup[i].c_str(), nullptr, 10) % 64);
    const unsigned controllers = 1 + v[0] % 4;

    fuzzhelp::Options options;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (!options.add(fuzzhelp::splitWords(lines[i]), static_cast<unsigned>(i + 1)) &&
            !fuzzhelp::splitWords(lines[i]).empty())
            break;
    }
    CLogger log = testhelp::quietLogger("fuzz0");
    CConCommonH handler(&log);
    handler.initControllers(controllers, v[1] & 1);
    handler.m_bInputConnector = v[2] & 1;
    handler.m_nOutControllers = v[3] % 5;
    handler.parseConfig(options.get());
    const unsigned first = 1 + v[4] % 32;
    const unsigned emulated = handler.setEmuTrackerIds(first);
    if (emulated > controllers)
        violation("concommon", "more emulated trackers than controllers");

    for (unsigned c = 0; c < controllers; ++c) {
        const ControllerEntry& e = handler.m_pControllers[c];
        for (const auto& scale : e.valuatorScale) {
            for (float k : scale) {
                if (!std::isfinite(k))
                    violation("nonfinite-option", "valuator scale of controller " + std::to_string(c + 1));
            }
        }
        if (!e.emulation)
            continue;
        TrackerRecord record;
        std::memset(&record, 0x5A, sizeof record);
        const TrackerRecord pattern = record;
        if (!handler.setEmuTraData(c + 1, &record, nullptr))
            violation("concommon", "emulated record of controller " + std::to_string(c + 1) + " refused");
        for (int i = 0; i < 6; ++i) {
            const float value = e.emulation->initValues[i];
            if (!std::isfinite(value))
                violation("nonfinite-option", "emulation pose of controller " + std::to_string(c + 1));
            const std::int32_t stored =
                static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(record.pose[i])));
            if (stored == INT32_MAX || stored == INT32_MIN)
                violation("range", "emulation pose value " + std::to_string(i) + " clamped");
        }
        if (std::memcmp(record.unused, pattern.unused, sizeof record.unused) != 0 ||
            record.seconds != pattern.seconds || record.micros != pattern.micros)
            violation("outside", "emulated record written beyond its id and pose");
    }
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzhelp::runTolerating(runOne, data, size);
}
