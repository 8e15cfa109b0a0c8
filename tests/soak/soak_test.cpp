// Concurrency soak: the device streams 32 stations at 240 Hz from the
// simulated tracker's own producer thread while a host reader thread copies
// the whole table under the table's mutex as fast as it can. The simulator's
// counter motion makes all six values of a record functions of one frame
// count, so every record the reader sees must agree with itself: a record
// written piecemeal, or outside the lock, would mix two frames.
#include "helpers/capture.h"
#include "helpers/host.h"
#include "helpers/simdevice.h"
#include "otksim/otksim.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

using testhelp::Config;
using testhelp::Table;

namespace {

const unsigned kStations = 32;

// The frame count (mod 1000) that every value of a record written for
// station id encodes, or -1 when the six values disagree.
long wholeCount(const TrackerRecord& r)
{
    const unsigned id = plat::netToHost32(r.id);
    if (id < 1 || id > kStations)
        return -1;
    double v[6];
    for (int i = 0; i < 6; ++i)
        v[i] = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(r.pose[i]))) / 100000.0;
    // Feet back to the inches of the motion, angles as they are.
    const double counts[6] = {v[0] * 12.0 - 1000.0 * id, v[1] * 6.0, -v[2] * 4.0,
                              (v[3] + 50.0) * 10.0, -v[4] * 20.0, (v[5] + 75.0) / 0.15};
    const double c = std::floor(counts[0] + 0.5);
    if (c < 0 || c > 999)
        return -1;
    for (double x : counts) {
        if (std::fabs(x - c) > 0.05)
            return -1;
    }
    return static_cast<long>(c);
}

struct SoakTest : ::testing::Test {
    Config cfg{"tarsis0"};
    CLogger log = testhelp::quietLogger("tarsis0");
    Table table{Table::Trackers};
    InitInfo info{};
    UpdateFlags flags{};
    std::unique_ptr<OvTrackD> dev;
    plat::SleepHook oldSleep = plat::setSleepHook(nullptr);
    testhelp::CaptureStdout quiet; // the report of init; only the host thread writes

    void SetUp() override
    {
        info.traStorage = table.storage();
        cfg.add("baud", {"115200"}).add("reset", {"no"});
    }
    void TearDown() override
    {
        dev.reset();
        otksim::SetScenario(nullptr);
        plat::setSleepHook(oldSleep);
    }
    OvTrackD& make(const char* frames)
    {
        otksim::SetScenario((std::string("type=tarsis max=32 stations=ffffffff rate=240 motion=counter frames=") +
                             frames)
                                .c_str());
        dev.reset(new OvTrackD(cfg.get(), &log));
        EXPECT_EQ(1, dev->init(&info));
        dev->configure();
        EXPECT_TRUE(dev->start());
        return *dev;
    }
    int cycle() { return dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8); }
};

} // namespace

// The check itself: whole records of any frame pass, a record spliced from
// two frames or two stations does not.
TEST_F(SoakTest, CounterRecordsAreCheckedWhole)
{
    plat::setSleepHook([](unsigned) {}); // frames come by hand: no pacing needed
    OvTrackD& d = make("manual");
    ASSERT_EQ(kStations, table.count());
    std::vector<TrackerRecord> frames;
    for (unsigned n = 0; n < 1003; ++n) {
        ASSERT_TRUE(otksim::PushMotionFrame(testhelp::simOf(d)));
        ASSERT_EQ(1, cycle());
        for (unsigned id = 1; id <= kStations; ++id)
            ASSERT_EQ(static_cast<long>(n % 1000), wholeCount(table.record(id))) << "frame " << n << " id " << id;
        if (n == 5 || n == 6)
            frames.push_back(table.record(3));
    }
    const TrackerRecord frame5 = frames[0], frame6 = frames[1];
    struct Splice {
        const char* what;
        TrackerRecord from;
        int firstWord;
    };
    TrackerRecord other = table.record(4);
    const Splice splices[] = {
        {"angles of the next frame", frame6, 3},
        {"roll of the next frame", frame6, 5},
        {"position of another station", other, 0},
    };
    for (const Splice& s : splices) {
        TrackerRecord mixed = frame5;
        for (int i = s.firstWord; i < 6; ++i)
            mixed.pose[i] = s.from.pose[i];
        EXPECT_EQ(-1, wholeCount(mixed)) << s.what;
    }
    EXPECT_TRUE(d.stop());
}

TEST_F(SoakTest, ReaderOnlySeesWholeRecordsWhileStreaming)
{
    OvTrackD& d = make("thread");
    ASSERT_EQ(kStations, table.count());

    std::atomic<bool> done(false);
    std::atomic<long> reads(0), torn(0);
    std::set<long> counts;   // reader thread only until joined
    std::set<unsigned> seen; // likewise
    std::thread reader([&] {
        TrackerRecord copy[kStations];
        while (!done.load()) {
            if (!table.storage()->lock()) {
                ++torn;
                return;
            }
            std::memcpy(copy, &table.record(1), sizeof copy);
            table.storage()->unlock();
            ++reads;
            for (const TrackerRecord& r : copy) {
                if (r.id == 0)
                    continue; // not written yet
                const long c = wholeCount(r);
                if (c < 0)
                    ++torn;
                else {
                    counts.insert(c);
                    seen.insert(plat::netToHost32(r.id));
                }
            }
        }
    });

    // The host's side: cycles until the time is up (update pauses 1 ms each).
    int failedCycles = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < until) {
        if (cycle() != 1)
            ++failedCycles;
    }
    done = true;
    reader.join();
    EXPECT_TRUE(d.stop());

    EXPECT_EQ(0, torn.load());
    EXPECT_EQ(0, failedCycles);
    EXPECT_GT(reads.load(), 10);
    // Even a slow, loaded machine delivers more than a handful of frames in
    // 1.5 s at 240 Hz, each rewriting every station's record.
    EXPECT_GE(counts.size(), 5u);
    EXPECT_EQ(kStations, seen.size());
}
