// Frames of the simulated tracker: record layout, motion, frame counts, the
// handed-out buffer, and the producer thread.
#include "sim.h"

#include "helpers/emulation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <set>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <dirent.h>
#endif

using simtest::connect;
using simtest::floatAt;
using simtest::makeDevice;
using simtest::u32At;

namespace {

struct Frame {
    int ok = 0;
    std::vector<unsigned char> bytes;
    bool null = true;
};

Frame lastFrame(COTKdev& dev)
{
    unsigned char* p = nullptr;
    unsigned long length = 99;
    Frame f;
    f.ok = dev.LastPnoPtr(p, length);
    f.null = p == nullptr;
    if (p)
        f.bytes.assign(p, p + length);
    else
        EXPECT_EQ(0u, length);
    return f;
}

unsigned long frameCount(COTKdev& dev)
{
    unsigned long count = 0;
    EXPECT_TRUE(dev.LastHostFrameCount(count));
    return count;
}

#if defined(__linux__)
// Threads of this process. A first thread is made and joined before the
// baseline is taken, since some runtimes (the race detector) add a helper
// thread of their own on first use.
int threadCount()
{
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// The producer threads are gone again: the count is back at the baseline. The
// frame checks before it stand on their own, so under qemu-user, whose own
// threads come and go in /proc/self/task, only this count is left out.
void expectThreadsBackTo(int before)
{
    if (const char* emulator = testhelp::underQemuUser())
        GTEST_SKIP() << "thread count not checked: " << emulator << " adds threads of its own";
    EXPECT_EQ(before, threadCount());
}
#endif

} // namespace

TEST(OtkFrames, RecordLayoutForPositionThenAngles)
{
    // Station 3 sends NaN as its x, and 5 bytes of padding end the frame.
    auto dev = makeDevice("frames=manual motion=still stations=0x5 max=4 nan=4 pad=5");
    ASSERT_TRUE(connect(*dev));
    ASSERT_TRUE(simtest::setPositionAngles(*dev));
    ASSERT_TRUE(dev->StartContPno(nullptr));
    ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));

    const Frame f = lastFrame(*dev);
    ASSERT_EQ(1, f.ok);
    ASSERT_EQ(69u, f.bytes.size());
    EXPECT_EQ(std::vector<unsigned char>(5, 0), std::vector<unsigned char>(f.bytes.begin() + 64, f.bytes.end()));
    const int stations[] = {1, 3};
    for (int r = 0; r < 2; ++r) {
        SCOPED_TRACE(r);
        const unsigned char* rec = &f.bytes[32 * r];
        const int s = stations[r];
        EXPECT_EQ('P', rec[0]);
        EXPECT_EQ(32, rec[1]);
        EXPECT_EQ(s, rec[2]);
        EXPECT_EQ(2, rec[3]);
        EXPECT_EQ(1u, u32At(rec + 4)); // second frame since the start
        if (s == 3)
            EXPECT_TRUE(std::isnan(floatAt(rec + 8)));
        else
            EXPECT_EQ(12.0f * s, floatAt(rec + 8));
        EXPECT_EQ(6.0f, floatAt(rec + 12));
        EXPECT_EQ(-20.0f, floatAt(rec + 16));
        EXPECT_EQ(5.0f * s, floatAt(rec + 20));
        EXPECT_EQ(-10.0f, floatAt(rec + 24));
        EXPECT_EQ(20.0f, floatAt(rec + 28));
    }
}

TEST(OtkFrames, OtherDataListsGiveOtherLayouts)
{
    auto dev = makeDevice("frames=manual motion=still stations=0x2");
    ASSERT_TRUE(connect(*dev));
    ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    Frame f = lastFrame(*dev);
    ASSERT_EQ(8u, f.bytes.size()) << "header only before a list is set";
    EXPECT_EQ(8, f.bytes[1]);
    EXPECT_EQ(2, f.bytes[2]);
    EXPECT_EQ(0, f.bytes[3]);

    COTKmdat list;
    list.Append(OTK_MD_EULER);
    list.Append(OTK_MD_POSITION);
    ASSERT_TRUE(dev->SetSDataList(-1, list));
    ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    f = lastFrame(*dev);
    ASSERT_EQ(32u, f.bytes.size());
    EXPECT_EQ(10.0f, floatAt(&f.bytes[8])) << "angles come first";
    EXPECT_EQ(24.0f, floatAt(&f.bytes[20]));
}

TEST(OtkFrames, CircleMotionFollowsTheFrameClock)
{
    auto dev = makeDevice("frames=manual stations=0x8");
    ASSERT_TRUE(connect(*dev));
    ASSERT_TRUE(dev->SetFrameRate(OV_FRAMERATE_240));
    ASSERT_TRUE(simtest::setPositionAngles(*dev));
    ASSERT_TRUE(dev->StartContPno(nullptr));
    const double pi = 3.14159265358979323846;
    for (int n = 0; n <= 300; ++n) { // away from the wrap at 180 degrees
        ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
        if (n % 50)
            continue;
        SCOPED_TRACE(n);
        const Frame f = lastFrame(*dev);
        ASSERT_EQ(32u, f.bytes.size());
        const unsigned char* rec = f.bytes.data();
        ASSERT_EQ(static_cast<unsigned>(n), u32At(rec + 4));
        // Quarter turns every 240 frames: 0.25 Hz at 240 Hz.
        const double phase = 2 * pi * 0.25 * n / 240.0;
        EXPECT_NEAR(48 + 10 * std::cos(phase), floatAt(rec + 8), 1e-4);
        EXPECT_NEAR(10 * std::sin(phase), floatAt(rec + 12), 1e-4);
        EXPECT_EQ(-20.0f, floatAt(rec + 16));
        double azimuth = phase * 180 / pi + 90;
        if (azimuth >= 180)
            azimuth -= 360;
        EXPECT_NEAR(azimuth, floatAt(rec + 20), 1e-3);
        EXPECT_EQ(0.0f, floatAt(rec + 24));
        EXPECT_EQ(0.0f, floatAt(rec + 28));

        float position[3], angles[3];
        otksim::MotionAt(simtest::sim(*dev), 4, n / 240.0, position, angles);
        EXPECT_EQ(position[0], floatAt(rec + 8));
        EXPECT_EQ(angles[0], floatAt(rec + 20));
    }
}

TEST(OtkFrames, CountsClearingAndTheHandedBuffer)
{
    auto dev = makeDevice("frames=manual stations=0x1");
    ASSERT_TRUE(connect(*dev));
    EXPECT_EQ(0u, frameCount(*dev));
    Frame f = lastFrame(*dev);
    EXPECT_EQ(1, f.ok);
    EXPECT_TRUE(f.null);

    const unsigned char first[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(otksim::PushFrame(simtest::sim(*dev), first, sizeof first));
    ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    EXPECT_EQ(2u, frameCount(*dev));
    ASSERT_TRUE(otksim::PushFrame(simtest::sim(*dev), first, sizeof first));
    EXPECT_EQ(3u, frameCount(*dev));

    // The buffer handed out stays as it was while newer frames arrive.
    unsigned char* p = nullptr;
    unsigned long length = 0;
    ASSERT_TRUE(dev->LastPnoPtr(p, length));
    ASSERT_EQ(5u, length);
    ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    ASSERT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    EXPECT_EQ(0, std::memcmp(p, first, sizeof first));
    EXPECT_EQ(8u, lastFrame(*dev).bytes.size());

    ASSERT_TRUE(dev->ClearPnoBuffer());
    EXPECT_EQ(0u, frameCount(*dev));
    EXPECT_TRUE(lastFrame(*dev).null);
    // An empty frame still counts, with nothing to hand out.
    ASSERT_TRUE(otksim::PushFrame(simtest::sim(*dev), nullptr, 0));
    EXPECT_EQ(1u, frameCount(*dev));
    EXPECT_TRUE(lastFrame(*dev).null);
    EXPECT_FALSE(otksim::PushFrame(simtest::sim(*dev), nullptr, 3));

    // No station to send: nothing is published.
    unsigned long none = 0;
    ASSERT_TRUE(dev->SetStationMap(none));
    EXPECT_FALSE(otksim::PushMotionFrame(simtest::sim(*dev)));
    EXPECT_EQ(1u, frameCount(*dev));
}

TEST(OtkStreaming, ProducerRunsAtTheRateAndStopsCleanly)
{
#if defined(__linux__)
    const int threadsBefore = threadCount();
#endif
    for (const char* scenario : {"type=brevik", "rate=240 stations=0x3"}) {
        SCOPED_TRACE(scenario);
        auto dev = makeDevice(scenario);
        ASSERT_TRUE(connect(*dev));
        ASSERT_TRUE(simtest::setPositionAngles(*dev));
        const int rate = scenario[0] == 't' ? 60 : 240;
        ASSERT_TRUE(dev->ClearPnoBuffer());
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(dev->StartContPno(nullptr));
        EXPECT_EQ(0, dev->StartContPno(nullptr));
        EXPECT_EQ(otksim::kStreaming, simtest::code(*dev));
        EXPECT_EQ(1, simtest::state(*dev).producerRunning);

        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        unsigned long count = frameCount(*dev);
        for (int i = 0; i < 500 && count < 3; ++i) { // a slow machine gets more time
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            count = frameCount(*dev);
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_GE(count, 3u);
        // Frames follow the schedule from the start, never ahead of it.
        EXPECT_LE(count, 1 + elapsed * rate);
        const Frame f = lastFrame(*dev);
        ASSERT_EQ(64u, f.bytes.size());
        EXPECT_EQ(2, f.bytes[32 + 2]);
        EXPECT_GE(u32At(&f.bytes[4]) + 1, count);

        ASSERT_TRUE(dev->StopContPno());
        EXPECT_EQ(0, simtest::state(*dev).producerRunning);
        const unsigned long stopped = frameCount(*dev);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(stopped, frameCount(*dev));
        EXPECT_TRUE(dev->StopContPno());
    }
#if defined(__linux__)
    expectThreadsBackTo(threadsBefore);
#endif
}

TEST(OtkStreaming, DisconnectAndDestructionEndTheProducer)
{
#if defined(__linux__)
    const int threadsBefore = threadCount();
#endif
    auto dev = makeDevice("");
    ASSERT_TRUE(connect(*dev));
    ASSERT_TRUE(dev->StartContPno(nullptr));
    ASSERT_TRUE(dev->Disconnect());
    otksim::State s = simtest::state(*dev);
    EXPECT_EQ(0, s.producerRunning);
    EXPECT_EQ(0, s.streaming);

    ASSERT_TRUE(connect(*dev));
    ASSERT_TRUE(dev->StartContPno(nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    dev.reset();
#if defined(__linux__)
    expectThreadsBackTo(threadsBefore);
#endif
}

namespace {
unsigned long long g_simNow = 0;
unsigned long long simNow() { return g_simNow; }
} // namespace

TEST(OtkTimedFaults, DropLosesTheLinkThenTheTrackerComesBackUnconfigured)
{
    g_simNow = 5000;
    otksim::SetClock(simNow);
    auto dev = makeDevice("frames=manual stations=0x1 drop=100:50 freeze=300:20");
    ASSERT_TRUE(connect(*dev));
    ASSERT_TRUE(simtest::setPositionAngles(*dev));
    EXPECT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev))); // before the stream started: no fault yet
    ASSERT_TRUE(dev->StartContPno(nullptr));
    g_simNow += 99;
    EXPECT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    g_simNow += 1; // the link fails: every call that needs the tracker, and discovery
    EXPECT_FALSE(otksim::PushMotionFrame(simtest::sim(*dev)));
    unsigned long count = 0;
    EXPECT_FALSE(dev->LastHostFrameCount(count));
    EXPECT_EQ(unsigned(otksim::kLinkLost), simtest::code(*dev));
    EXPECT_STREQ("Tracker link lost", dev->GetLastResultStr());
    EXPECT_FALSE(dev->CnxReady());
    EXPECT_EQ(OV_COMM_NONE, dev->DiscoverCnx());
    EXPECT_EQ(1, simtest::state(*dev).linkLost);
    g_simNow += 50; // back, as if power-cycled: found again, but silent until configured and started
    EXPECT_FALSE(dev->LastHostFrameCount(count));
    EXPECT_EQ(unsigned(otksim::kNotConnected), simtest::code(*dev));
    EXPECT_FALSE(otksim::PushMotionFrame(simtest::sim(*dev)));
    ASSERT_TRUE(connect(*dev));
    otksim::State s = simtest::state(*dev);
    EXPECT_EQ(0, s.streaming);
    EXPECT_EQ(0, s.dataListCount);
    ASSERT_TRUE(simtest::setPositionAngles(*dev));
    ASSERT_TRUE(dev->ClearPnoBuffer());
    ASSERT_TRUE(dev->StartContPno(nullptr));
    EXPECT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    // The freeze counts from the first start too: frames stop, calls succeed.
    g_simNow += 150;
    EXPECT_FALSE(otksim::PushMotionFrame(simtest::sim(*dev)));
    EXPECT_TRUE(dev->LastHostFrameCount(count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(1, simtest::state(*dev).frozen);
    g_simNow += 20;
    EXPECT_TRUE(otksim::PushMotionFrame(simtest::sim(*dev)));
    EXPECT_TRUE(dev->LastHostFrameCount(count));
    EXPECT_EQ(2u, count);
    otksim::SetClock(nullptr);
}

namespace {
std::vector<unsigned long> g_waits;
void recordWait(unsigned long ms)
{
    g_waits.push_back(ms);
    g_simNow += ms;
}
} // namespace

TEST(OtkTimedFaults, CallsToTheTrackerTakeTheLinksTime)
{
    g_simNow = 5000;
    g_waits.clear();
    otksim::SetClock(simNow);
    otksim::SetSleep(recordWait);
    auto dev = makeDevice("frames=manual latency=3 linktimeout=40 drop=100:500");
    ASSERT_TRUE(connect(*dev)); // discovery asks the tracker; the rest is the SDK's own
    EXPECT_EQ((std::vector<unsigned long>{3}), g_waits);
    unsigned long map = 0, count = 0;
    ASSERT_TRUE(dev->GetStationMap(map));
    ASSERT_TRUE(dev->StartContPno(nullptr));
    EXPECT_TRUE(dev->LastHostFrameCount(count));
    EXPECT_TRUE(dev->ClearPnoBuffer());
    EXPECT_EQ((std::vector<unsigned long>{3, 3, 3}), g_waits);
    // Inside the drop a call waits for the time-out, then fails; reading the
    // SDK's own buffer fails at once.
    g_simNow += 100;
    g_waits.clear();
    EXPECT_FALSE(dev->GetStationMap(map));
    EXPECT_FALSE(dev->LastHostFrameCount(count));
    EXPECT_EQ(OV_COMM_NONE, dev->DiscoverCnx());
    EXPECT_EQ((std::vector<unsigned long>{40, 40}), g_waits);
    EXPECT_EQ(unsigned(otksim::kLinkLost), simtest::code(*dev));
    otksim::SetSleep(nullptr);
    otksim::SetClock(nullptr);
}

TEST(OtkTimedFaults, BadTimedFaultsAreRefused)
{
    for (const char* text : {"drop=100", "drop=1:0", "drop=a:5", "freeze=1:2:3", "freeze=-1:5", "garble=5",
                             "plug=5", "plug=5:g", "plug=5:1,5:3", "stale=yes", "chaos=-1", "chaos=x",
                             "chaos=1 drop=5:5", "chaos=1 plug=0:1", "frames=later"})
        EXPECT_FALSE(otksim::SetScenario(text)) << text;
    EXPECT_TRUE(otksim::SetScenario("drop=0:1 freeze=10:20 garble=3:4 plug=0:1,5:ff stale=on frames=clock"));
    EXPECT_TRUE(otksim::SetScenario("chaos=123 nan=1 pad=4 latency=2 stale=off"));
    otksim::SetScenario(nullptr);
}

TEST(OtkTimedFaults, ChaosIsOneScheduleOfEveryFaultPerSeed)
{
    // What the tracker is doing, sampled every 50 ms over an hour.
    const auto run = [](const char* scenario) {
        g_simNow = 5000;
        otksim::SetClock(simNow);
        otksim::SetSleep([](unsigned long ms) { g_simNow += ms; }); // the spikes' waits
        auto dev = makeDevice(scenario);
        EXPECT_TRUE(connect(*dev));
        EXPECT_TRUE(dev->StartContPno(nullptr));
        std::string trace;
        std::set<std::string> kinds;
        for (int i = 0; i < 72000; ++i) {
            g_simNow += 50;
            const otksim::State s = simtest::state(*dev);
            const bool plugged = s.stationMap != 0xf;
            const char flags[] = {s.linkLost ? 'd' : '-', s.frozen ? 'f' : '-', s.garbled ? 'g' : '-',
                                  plugged ? 'p' : '-', s.spikeMs ? 's' : '-', s.nanStations ? 'n' : '-',
                                  s.padBytes ? 'b' : '-', 0};
            for (const char* f = flags; *f; ++f)
                if (*f != '-')
                    kinds.insert(std::string(1, *f));
            trace += flags;
            // A tracker back from a drop streams again once restarted.
            if (!s.linkLost && !s.connected) {
                EXPECT_TRUE(connect(*dev) && dev->StartContPno(nullptr));
            }
        }
        otksim::SetSleep(nullptr);
        otksim::SetClock(nullptr);
        return std::make_pair(trace, kinds);
    };
    const auto first = run("chaos=7 frames=clock");
    EXPECT_EQ(first, run("chaos=7 frames=clock"));
    EXPECT_NE(first.first, run("chaos=8 frames=clock").first);
    EXPECT_EQ((std::set<std::string>{"b", "d", "f", "g", "n", "p", "s"}), first.second);
}
