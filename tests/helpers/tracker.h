// A tracker device on the simulated tracker, with the host's side around it:
// option lines, a tracker table with a real mutex, a quiet logger, captured
// standard output and trace lines, and counted (not waited) pauses.
#pragma once

#include "helpers/capture.h"
#include "helpers/host.h"
#include "helpers/simdevice.h"
#include "otksim/otksim.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace testhelp {

// Pauses asked of the platform layer, in milliseconds.
inline std::vector<unsigned>& pauses()
{
    static std::vector<unsigned> p;
    return p;
}
inline void countPause(unsigned ms) { pauses().push_back(ms); }

// One 32-byte station record as the tracker sends it.
inline std::vector<unsigned char> stationRecord(unsigned station, const float position[3], const float angles[3])
{
    std::vector<unsigned char> r(32, 0);
    r[0] = 'P';
    r[1] = 32;
    r[2] = static_cast<unsigned char>(station);
    const float values[6] = {position[0], position[1], position[2], angles[0], angles[1], angles[2]};
    for (int i = 0; i < 6; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        for (int b = 0; b < 4; ++b)
            r[8 + 4 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
    return r;
}

struct TrackerTest : ::testing::Test {
    Config cfg{"tarsis0"};
    CLogger log = quietLogger("tarsis0");
    Table table{Table::Trackers};
    InitInfo info{};
    UpdateFlags flags{};
    std::unique_ptr<OvTrackD> dev;
    std::unique_ptr<CaptureStdout> out{new CaptureStdout};
    std::unique_ptr<CaptureTrace> trace{new CaptureTrace};
    plat::SleepHook oldSleep = nullptr;

    void SetUp() override
    {
        info.traStorage = table.storage();
        pauses().clear();
        oldSleep = plat::setSleepHook(countPause);
        otksim::SetScenario("frames=manual");
    }
    void TearDown() override
    {
        dev.reset();
        plat::setSleepHook(oldSleep);
        otksim::SetScenario(nullptr);
    }

    // A device on a tracker of the given scenario (frames are always pushed by hand).
    OvTrackD& make(const std::string& scenario = "")
    {
        otksim::SetScenario(("frames=manual " + scenario).c_str());
        dev.reset(new OvTrackD(cfg.get(), &log));
        return *dev;
    }
    // The usual serial lines, then whatever the test adds.
    Config& serial(const char* baud = "115200", const char* reset = "no")
    {
        cfg.add("baud", {baud});
        cfg.add("reset", {reset});
        return cfg;
    }
    otksim::State state()
    {
        otksim::State s;
        std::memset(&s, 0, sizeof s);
        otksim::GetState(simOf(*dev), s);
        return s;
    }
    std::vector<std::string> lines() const { return out->lines(); }
    const std::vector<std::string>& traces() const { return trace->lines(); }
    void clearOutput()
    {
        out->clear();
        trace->clear();
    }
    // The SDK text at the end of a console line that starts with prefix.
    std::string sdkText(const std::string& line, const std::string& prefix) const
    {
        if (line.compare(0, prefix.size(), prefix) != 0)
            return "<line does not start with " + prefix + ">";
        return line.substr(prefix.size());
    }
};

} // namespace testhelp
