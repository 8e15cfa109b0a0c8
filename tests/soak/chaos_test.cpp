// Chaos soak: the device runs for hours of simulated time against a tracker
// whose faults come from a seeded schedule (simulator key chaos=SEED: drops,
// freezes, garbled frames, sensors plugged in and pulled out, latency spikes,
// NaN stations, padding), all on one clock that only the pauses, the host's
// period and the link's waits move. After every cycle it checks what a host
// may rely on:
//  - a written record holds exactly what the frame the device read held for
//    its station (so nothing non-finite, nothing made up), comes from a frame
//    newer than the one it was last written from, and has a time stamp no
//    earlier than before;
//  - a cycle calls the tracker at most once;
//  - once the tracker is well again, every station in use is written again
//    within the stall time, the back-off in force and the steps of two
//    attempts;
//  - the console stays quiet: at most kLinesPerMinute lines per simulated
//    minute.
// TARSIS_CHAOS_FIRST, TARSIS_CHAOS_SEEDS and TARSIS_CHAOS_MINUTES choose other
// seeds or a longer run by hand.
#include "helpers/capture.h"
#include "helpers/emulation.h"
#include "helpers/host.h"
#include "helpers/simdevice.h"
#include "otksim/otksim.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using testhelp::Config;
using testhelp::Table;

namespace {

// The one clock of the run, in ms.
std::uint64_t g_now = 0;
std::uint64_t deviceClock() { return g_now; }
void devicePause(unsigned ms) { g_now += ms; }
unsigned long long simClock() { return g_now; }
void linkWait(unsigned long ms) { g_now += ms; }

// Console lines per simulated minute, at most. Each kind of line is written
// in full once and then summarised at most every 5 s (13 lines a minute);
// a minute of chaos rarely holds more than a few kinds at once.
const unsigned kLinesPerMinute = 60;
// x87 code keeps products wider than a double where it likes, the device's
// and this test's each in its own places: the last stored unit may differ.
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0
const std::int32_t kLastUnit = 1;
#else
const std::int32_t kLastUnit = 0;
#endif

unsigned fromEnvironment(const char* name, unsigned otherwise)
{
    const char* text = std::getenv(name);
    const long value = text ? std::atol(text) : 0;
    return value > 0 ? static_cast<unsigned>(value) : otherwise;
}

float floatAt(const unsigned char* p)
{
    const std::uint32_t bits = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                               std::uint32_t(p[3]) << 24;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// What a record of this station must hold, from its record in the frame; false
// for a sample no record can hold.
bool expectedPose(const unsigned char* rec, bool cave, std::int32_t pose[6])
{
    const float p[3] = {floatAt(rec + 8), floatAt(rec + 12), floatAt(rec + 16)};
    const float a[3] = {floatAt(rec + 20), floatAt(rec + 24), floatAt(rec + 28)};
    float v[6] = {p[0], p[1], p[2], a[0], a[1], a[2]};
    if (cave) {
        const float remapped[6] = {p[1], -p[2], -p[0], -a[0], a[1], -a[2]};
        std::memcpy(v, remapped, sizeof v);
    }
    const float inchesToFeet = 1.0f / 12.0f;
    for (int i = 0; i < 3; ++i)
        v[i] *= inchesToFeet;
    for (int i = 0; i < 6; ++i) {
        const double scaled = static_cast<double>(v[i]) * 100000.0;
        if (!(scaled > -2147483649.0 && scaled < 2147483648.0))
            return false;
        pose[i] = static_cast<std::int32_t>(scaled);
    }
    return true;
}

std::int32_t word(std::int32_t networkOrder)
{
    return static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(networkOrder)));
}

// One seed's run and what it found.
class ChaosRun {
public:
    ChaosRun(unsigned seed, std::uint64_t minutes) : m_seed(seed), m_minutes(minutes)
    {
        // Each seed also draws the device's settings and the host's pace.
        // The cycles of one recovery attempt: stop, disconnect, discover,
        // ready, station map, output list, BIT results, clear, start, and
        // each command of the options.
        m_cave = seed % 3 == 1;
        m_periodMs = seed % 2 ? 10 : 4;
        m_attemptCycles = 9;
        m_cfg.add("baud", {"115200"}).add("reset", {"no"});
        if (seed % 4 == 2) {
            m_cfg.add("sensormap", {"7"});
            m_attemptCycles += 2;
        }
        if (seed % 5 == 3) {
            m_cfg.add("framerate", {"240"});
            m_attemptCycles += 1;
        }
        if (seed % 6 == 4) {
            m_cfg.add("hemisphere", {"+z", "f"});
            m_attemptCycles += 4;
        }
        m_cfg.add("CaveCoordinates", {m_cave ? "yes" : "no"});
        if (m_cave)
            m_attemptCycles += 2;
        m_scenario = "chaos=" + std::to_string(seed) + " frames=clock";
        if (seed % 2)
            m_scenario += " stale=on";
        if (seed % 7 == 5) {
            m_scenario += " latency=2 linktimeout=150";
            m_latencyMs = 2;
        }
    }

    void run()
    {
        m_info.traStorage = m_table.storage();
        otksim::SetScenario(m_scenario.c_str());
        m_dev.reset(new OvTrackD(m_cfg.get(), &m_log));
        ASSERT_EQ(1, m_dev->init(&m_info)) << where();
        m_dev->configure();
        ASSERT_TRUE(m_dev->start()) << where();
        m_sim = testhelp::simOf(*m_dev);
        m_out.clear();
        // The stations in use and their ids, ids given in station order.
        unsigned id = 0;
        for (unsigned station = 1; station <= 32; ++station) {
            const std::uint32_t bit = 1u << (station - 1);
            if (!(m_dev->m_dwDetectedMap & bit))
                continue;
            if (m_dev->m_bSensorMapOpt && !(m_dev->m_dwSensorMap & bit))
                continue;
            m_inUse |= bit;
            m_stationOf[++id] = station;
        }
        m_allIds = id == 32 ? 0xffffffffu : (1u << id) - 1;
        m_start = g_now;
        otksim::State s;
        ASSERT_TRUE(otksim::GetState(m_sim, s));
        m_calls = s.trackerCalls;
        const std::uint64_t end = m_start + m_minutes * 60000;
        while (g_now < end && m_failures < 10) {
            cycle();
            g_now += m_periodMs;
        }
        // A stop that cannot reach the tracker fails, and says so.
        otksim::State last;
        otksim::GetState(m_sim, last);
        const bool reachable = !last.linkLost && last.connected;
        EXPECT_TRUE(m_dev->stop() || !reachable) << where();
        countLines();
        m_dev.reset();
        for (const auto& minute : m_linesPerMinute)
            EXPECT_LE(minute.second, kLinesPerMinute) << where() << " in minute " << minute.first;
        // Every kind of fault came, and the device wrote records between them.
        EXPECT_GT(m_recoveries, 3u * m_minutes / 10) << where();
    }

    std::uint64_t cycles() const { return m_cycles; }
    std::uint64_t records() const { return m_records; }
    unsigned worstMinute() const
    {
        unsigned worst = 0;
        for (const auto& minute : m_linesPerMinute)
            worst = std::max(worst, minute.second);
        return worst;
    }

private:
    std::string where() const
    {
        return "seed " + std::to_string(m_seed) + " (" + m_scenario + ") at " +
               std::to_string(g_now - m_start) + " ms";
    }
    void fail(const std::string& what)
    {
        ADD_FAILURE() << where() << ": " << what;
        ++m_failures;
    }

    void cycle()
    {
        ++m_cycles;
        UpdateFlags flags{};
        m_dev->recvData(reinterpret_cast<unsigned char*>(&flags), static_cast<int>(sizeof flags));
        otksim::State s;
        otksim::GetState(m_sim, s);
        if (s.trackerCalls > m_calls + 1)
            fail(std::to_string(s.trackerCalls - m_calls) + " calls to the tracker in one cycle");
        m_calls = s.trackerCalls;
        countLines();

        std::uint32_t written = 0;
        for (int b = 0; b < 4; ++b)
            written |= std::uint32_t(flags.trackerMask[b]) << (8 * (3 - b));
        if (written)
            checkRecords(written, s);
        watchRecovery(written, s);
    }

    void checkRecords(std::uint32_t written, const otksim::State& s)
    {
        unsigned char frame[4096];
        unsigned long length = 0;
        if (!otksim::HandedFrame(m_sim, frame, sizeof frame, length)) {
            fail("records written, but the frame read is not to be had");
            return;
        }
        for (unsigned id = 1; id <= 32; ++id) {
            if (!(written >> (id - 1) & 1u))
                continue;
            ++m_records;
            const std::string which = "record " + std::to_string(id);
            if (!(m_allIds >> (id - 1) & 1u)) {
                fail(which + " belongs to no station in use");
                continue;
            }
            const unsigned station = m_stationOf[id];
            const unsigned char* rec = nullptr;
            for (unsigned long at = 0; at + 32 <= length; at += 32)
                if (frame[at + 2] == station)
                    rec = frame + at;
            std::int32_t pose[6];
            if (!rec) {
                fail(which + " written from a frame without station " + std::to_string(station));
                continue;
            }
            if (!expectedPose(rec, m_cave, pose)) {
                fail(which + " written from a sample no record can hold");
                continue;
            }
            if (s.handedSerial <= m_serial[id])
                fail(which + " written again from frame " + std::to_string(s.handedSerial) + ", not newer than " +
                     std::to_string(m_serial[id]));
            m_serial[id] = s.handedSerial;
            const TrackerRecord& r = m_table.record(id);
            if (plat::netToHost32(r.id) != id)
                fail(which + " carries the id " + std::to_string(plat::netToHost32(r.id)));
            for (int i = 0; i < 6; ++i)
                if (std::abs(static_cast<long long>(word(r.pose[i])) - pose[i]) > kLastUnit)
                    fail(which + " value " + std::to_string(i) + " is " + std::to_string(word(r.pose[i])) +
                         ", the frame held " + std::to_string(pose[i]));
            const std::uint64_t stamp =
                std::uint64_t(plat::netToHost32(r.seconds)) * 1000000 + plat::netToHost32(r.micros);
            if (stamp < m_stamp[id])
                fail(which + "'s time stamp went back");
            m_stamp[id] = stamp;
        }
    }

    // A fault that keeps a station in use from being written.
    bool faulty(const otksim::State& s) const
    {
        return s.linkLost || s.frozen || s.garbled || (s.nanStations & m_inUse) || s.padBytes >= 32 ||
               (m_inUse & ~static_cast<std::uint32_t>(s.stationMap));
    }

    void watchRecovery(std::uint32_t written, const otksim::State& s)
    {
        if (faulty(s)) {
            m_faultSeen = true;
            m_awaiting = false;
            return;
        }
        if (m_faultSeen) {
            // The fault has just ended: from now the device has its bound.
            m_faultSeen = false;
            m_awaiting = true;
            m_endedAt = g_now;
            m_longestDelay = 0;
            m_longestCall = 0;
        }
        if (!m_awaiting)
            return;
        if ((written & m_allIds) == m_allIds) {
            m_awaiting = false;
            ++m_recoveries;
            return;
        }
        m_longestDelay = std::max<std::uint64_t>(m_longestDelay, m_dev->RetryDelayMs());
        m_longestCall = std::max<std::uint64_t>(m_longestCall, static_cast<std::uint64_t>(s.spikeMs) + m_latencyMs);
        // An attempt under way may still fail for the fault; then the
        // back-off, and a whole attempt; then a frame.
        const std::uint64_t cycle = m_periodMs + 1 + m_longestCall;
        const std::uint64_t bound = m_dev->StallMs() + m_longestDelay + 2 * m_attemptCycles * cycle + 2 * cycle;
        if (g_now - m_endedAt > bound) {
            fail("not recovered " + std::to_string(g_now - m_endedAt) + " ms after the fault ended (bound " +
                 std::to_string(bound) + " ms)");
            m_awaiting = false;
        }
    }

    void countLines()
    {
        const std::string text = m_out.text();
        if (text.empty())
            return;
        m_linesPerMinute[(g_now - m_start) / 60000] +=
            static_cast<unsigned>(std::count(text.begin(), text.end(), '\n'));
        m_out.clear();
    }

    const unsigned m_seed;
    const std::uint64_t m_minutes;
    bool m_cave = false;
    std::uint64_t m_periodMs = 10;
    std::uint64_t m_attemptCycles = 9;
    std::uint64_t m_latencyMs = 0;
    std::string m_scenario;
    Config m_cfg{"tarsis0"};
    CLogger m_log = testhelp::quietLogger("tarsis0");
    Table m_table{Table::Trackers};
    InitInfo m_info{};
    testhelp::CaptureStdout m_out;
    std::unique_ptr<OvTrackD> m_dev;
    otksim::Device* m_sim = nullptr;

    std::uint32_t m_inUse = 0, m_allIds = 0;
    unsigned m_stationOf[33] = {};
    unsigned long long m_serial[33] = {};
    std::uint64_t m_stamp[33] = {};
    std::uint64_t m_start = 0, m_cycles = 0, m_records = 0;
    unsigned long long m_calls = 0;
    unsigned m_failures = 0;
    std::map<std::uint64_t, unsigned> m_linesPerMinute;

    bool m_faultSeen = false, m_awaiting = false;
    std::uint64_t m_endedAt = 0, m_longestDelay = 0, m_longestCall = 0;
    unsigned m_recoveries = 0;
};

struct ChaosSoak : ::testing::Test {
    plat::SleepHook oldSleep = nullptr;
    void SetUp() override
    {
        g_now = 1000000;
        oldSleep = plat::setSleepHook(devicePause);
        plat::setClockHook(deviceClock);
        otksim::SetClock(simClock);
        otksim::SetSleep(linkWait);
    }
    void TearDown() override
    {
        otksim::SetScenario(nullptr);
        otksim::SetSleep(nullptr);
        otksim::SetClock(nullptr);
        plat::setClockHook(nullptr);
        plat::setSleepHook(oldSleep);
    }
};

} // namespace

TEST_F(ChaosSoak, DeviceKeepsItsPromisesUnderEveryFaultAtOnce)
{
    // Under a sanitizer a cycle costs many times more, and under wine every
    // lock of the host's mutex is a call to its server: fewer and shorter
    // runs there keep the test within its time limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const bool sanitized = true;
#else
    const bool sanitized = false;
#endif
    const bool emulated = testhelp::emulator() != nullptr;
    const unsigned first = fromEnvironment("TARSIS_CHAOS_FIRST", 1);
    const unsigned seeds = fromEnvironment("TARSIS_CHAOS_SEEDS", emulated ? 3 : sanitized ? 4 : 12);
    const unsigned minutes = fromEnvironment("TARSIS_CHAOS_MINUTES", emulated ? 10 : sanitized ? 15 : 60);
    std::uint64_t cycles = 0, records = 0;
    unsigned worst = 0;
    for (unsigned seed = first; seed < first + seeds && !HasFailure(); ++seed) {
        ChaosRun run(seed, minutes);
        run.run();
        cycles += run.cycles();
        records += run.records();
        worst = std::max(worst, run.worstMinute());
    }
    RecordProperty("cycles", std::to_string(cycles));
    RecordProperty("records", std::to_string(records));
    RecordProperty("worst_lines_per_minute", std::to_string(worst));
}
