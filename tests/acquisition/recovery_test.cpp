// A stream that stops: detection, step-by-step recovery, repeat suppression,
// refused frames, the pause's position and the timer resolution, all on a
// clock that only the pauses (one pause = 1 ms) and the simulated link's
// waits move.
#include "helpers/tracker.h"

#include <algorithm>
#include <limits>

using testhelp::pauses;
using testhelp::stationRecord;

namespace {

std::uint64_t g_now = 0;
otksim::Device* g_sdk = nullptr;
std::vector<int> g_countsAtPause; // LastHostFrameCount calls made when each pause began

std::uint64_t fakeNow() { return g_now; }
unsigned long long simNow() { return g_now; }
void fakeSleep(unsigned ms)
{
    testhelp::countPause(ms);
    g_countsAtPause.push_back(g_sdk ? otksim::CallCount(g_sdk, "LastHostFrameCount") : -1);
    g_now += ms;
}
void linkWait(unsigned long ms) { g_now += ms; }

const float kPos[3] = {12, 24, -36};
const float kAng[3] = {10, 20, 30};

struct RecoveryTest : testhelp::TrackerTest {
    std::uint64_t t0 = 0;
    std::vector<std::string> events; // console lines with the ms since start

    void SetUp() override
    {
        TrackerTest::SetUp();
        g_now = 1000000;
        g_sdk = nullptr;
        g_countsAtPause.clear();
        plat::setSleepHook(fakeSleep);
        plat::setClockHook(fakeNow);
        otksim::SetClock(simNow);
        otksim::SetSleep(linkWait);
    }
    void TearDown() override
    {
        g_sdk = nullptr;
        TrackerTest::TearDown();
        plat::setClockHook(nullptr);
        otksim::SetClock(nullptr);
        otksim::SetSleep(nullptr);
    }
    // A device on the given scenario, configured and streaming.
    OvTrackD& streaming(const std::string& scenario)
    {
        OvTrackD& d = make(scenario);
        EXPECT_EQ(1, d.init(&info));
        d.configure();
        EXPECT_TRUE(d.start());
        g_sdk = testhelp::simOf(d);
        t0 = g_now;
        nextFrameMs = 0;
        longestCycle = 0;
        clearOutput();
        pauses().clear();
        return d;
    }
    void push(const std::vector<unsigned char>& frame)
    {
        ASSERT_TRUE(otksim::PushFrame(testhelp::simOf(*dev), frame.data(), static_cast<unsigned long>(frame.size())));
    }
    void push(const std::vector<std::vector<unsigned char>>& records)
    {
        std::vector<unsigned char> frame;
        for (const auto& r : records)
            frame.insert(frame.end(), r.begin(), r.end());
        push(frame);
    }
    int calls(const char* op) { return otksim::CallCount(testhelp::simOf(*dev), op); }
    // Cycles until ms have passed, the tracker offering a frame every 8 ms
    // unless told otherwise (held back by the simulator while it is gone).
    // Each update must take exactly its one pause, unless the link is slow.
    // Returns the cycles that wrote records; mask 0 takes any records.
    int runFor(std::uint64_t ms, unsigned char mask = 0x0F, std::uint64_t frameEveryMs = 8)
    {
        int written = 0;
        const std::uint64_t end = g_now + ms;
        while (g_now < end) {
            if (g_now - t0 >= nextFrameMs) {
                otksim::PushMotionFrame(testhelp::simOf(*dev));
                nextFrameMs = (g_now - t0) / frameEveryMs * frameEveryMs + frameEveryMs;
            }
            const std::uint64_t before = g_now;
            flags.trackerMask[3] = 0;
            cycle();
            longestCycle = std::max(longestCycle, g_now - before);
            if (!slowLink) {
                EXPECT_EQ(before + 1, g_now);
            }
            if (flags.trackerMask[3]) {
                if (mask) {
                    EXPECT_EQ(mask, flags.trackerMask[3]);
                }
                ++written;
            }
            out->clear(); // keep only what was new, with its time
        }
        return written;
    }
    // One recvData; counts the cycles that claimed success while the stream
    // was lost (from its lost line up to the cycle before the restored one).
    int cycle()
    {
        const std::size_t seen = lines().size();
        const int r = dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8);
        const std::vector<std::string> now = lines();
        bool restored = false;
        for (std::size_t i = seen; i < now.size(); ++i) {
            events.push_back(std::to_string(g_now - t0) + " " + now[i]);
            if (now[i].find("Tracker stream lost") == 0)
                lost = true;
            if (now[i].find("Tracker stream restored") == 0)
                restored = true;
        }
        if (lost && !restored && r != -1)
            ++okWhileLost;
        if (restored)
            lost = false;
        return r;
    }
    // Each case of a table: a new device on a fresh record table (ids from 1
    // again), no option lines and no events yet.
    void nextCase()
    {
        dev.reset();
        room.reset(new testhelp::Table(testhelp::Table::Trackers));
        info.traStorage = room->storage();
        cfg.clear();
        events.clear();
        lost = false;
        okWhileLost = 0;
    }
    // Stops the device; what stopping said joins the events.
    bool stopNoted()
    {
        const bool stopped = dev->stop();
        for (const auto& l : lines())
            events.push_back(std::to_string(g_now - t0) + " " + l);
        return stopped;
    }
    std::unique_ptr<testhelp::Table> room;
    bool lost = false;
    int okWhileLost = 0;
    std::uint64_t nextFrameMs = 0; // since t0
    std::uint64_t longestCycle = 0;
    bool slowLink = false;
    std::vector<std::string> matching(const std::string& part) const
    {
        std::vector<std::string> v;
        for (const auto& e : events)
            if (e.find(part) != std::string::npos)
                v.push_back(e);
        return v;
    }
};

} // namespace

TEST_F(RecoveryTest, LossesAreRecovered)
{
    using Options = void (*)(testhelp::Config&);
    const Options none = nullptr;
    const Options twoSensors = [](testhelp::Config& c) { c.add("sensormap", {"3"}); };
    // Every command configure can send, four of them for the hemispheres.
    const Options everything = [](testhelp::Config& c) {
        c.add("framerate", {"240"}).add("sensormap", {"f"}).add("hemisphere", {"+z", "f"});
        c.add("CaveCoordinates", {"yes"});
    };
    const struct {
        const char* name;
        Options options;
        const char* scenario;
        std::vector<std::string> events; // console lines, ms after the start
        int discoveries;                  // DiscoverCnx calls, init's included
        std::uint64_t longestCycle;       // ms: the pause and at most one call
    } cases[] = {
        {"a freeze that ends before the first attempt", none, "freeze=1000:2500",
         {"2994 Tracker stream lost: no new frame for 2.0 s, reconnecting", "3505 Tracker stream restored after 2.5 s"},
         1, 1},
        {"a long freeze: the tracker kept its settings", none, "freeze=1000:4500",
         {"2994 Tracker stream lost: no new frame for 2.0 s, reconnecting", "5505 Tracker stream restored after 4.5 s"},
         2, 1},
        // The SDK keeps its count across the restart and hands out the frame
        // from before the loss: only the first frame made after it restores.
        {"a long freeze on an SDK that keeps its last frame", none, "stale=on freeze=1000:4500",
         {"2994 Tracker stream lost: no new frame for 2.0 s, reconnecting", "5505 Tracker stream restored after 4.5 s"},
         2, 1},
        {"a long freeze with a sensor map: the configured map is the same tracker", twoSensors, "freeze=1000:4500",
         {"2994 Tracker stream lost: no new frame for 2.0 s, reconnecting", "5505 Tracker stream restored after 4.5 s"},
         2, 1},
        {"a drop: the first attempt finds the link still down", none, "drop=1000:3000",
         {"1000 Unable to retrieve last host frame countTracker link lost",
          "2994 (last message repeated 1994 times)",
          "2994 Tracker stream lost: no new frame for 2.0 s, reconnecting",
          "3998 Tracker reconnect failed: Tracker link lost", "6009 Tracker stream restored after 5.0 s"},
         3, 1},
        {"a drop on a slow serial link, with every setting to push again", everything,
         "latency=50 linktimeout=150 drop=1000:6000",
         {"1000 Unable to retrieve last host frame countTracker link lost",
          "2994 (last message repeated 1994 times)",
          "2994 Tracker stream lost: no new frame for 2.0 s, reconnecting",
          "4298 Tracker reconnect failed: Tracker link lost", "9298 (last message repeated 1 time)",
          "11318 Tracker stream restored after 10.3 s"},
         4, 151},
    };
    for (const auto& c : cases) {
        nextCase();
        serial();
        if (c.options)
            c.options(cfg);
        const unsigned char mask = c.options == twoSensors ? 0x03 : 0x0F;
        slowLink = c.longestCycle > 1;
        streaming(c.scenario);
        runFor(12000, mask);
        EXPECT_GT(runFor(500, mask), 50) << c.name;
        EXPECT_EQ(c.events, events) << c.name;
        EXPECT_EQ(c.discoveries, calls("DiscoverCnx")) << c.name;
        EXPECT_EQ(c.longestCycle, longestCycle) << c.name;
        EXPECT_EQ(0, okWhileLost) << c.name; // the host hears of the loss on every cycle
        EXPECT_EQ(1, plat::timerRaises()) << c.name; // the stream's own restart keeps the resolution
        EXPECT_TRUE(dev->stop()) << c.name;
        EXPECT_EQ(0, plat::timerRaises()) << c.name;
    }
}

TEST_F(RecoveryTest, AttemptsBackOffToTenSeconds)
{
    serial();
    streaming("drop=1000:60000");
    std::vector<std::uint64_t> at;
    int discoveries = calls("DiscoverCnx");
    for (std::uint64_t end = g_now + 40000; g_now < end;) {
        runFor(1);
        if (calls("DiscoverCnx") != discoveries) {
            discoveries = calls("DiscoverCnx");
            at.push_back(g_now - t0);
        }
    }
    // Attempt k waits 1, 2, 4, 8, 10, 10 s after the loss or the failure
    // before; its discovery comes three steps in, its failure one later.
    EXPECT_EQ((std::vector<std::uint64_t>{3997, 6000, 10003, 18006, 28009, 38012}), at);
    // Failures less than 5 s apart are counted; one after a longer quiet
    // time is written in full again.
    EXPECT_EQ((std::vector<std::string>{"3998 Tracker reconnect failed: Tracker link lost",
                                        "8998 (last message repeated 1 time)", "13998 (last message repeated 1 time)",
                                        "18007 Tracker reconnect failed: Tracker link lost",
                                        "28010 Tracker reconnect failed: Tracker link lost",
                                        "38013 Tracker reconnect failed: Tracker link lost"}),
              std::vector<std::string>(events.begin() + 3, events.end()));
}

TEST_F(RecoveryTest, ReconnectOption)
{
    const struct {
        std::vector<const char*> args;
        int accepted, reconnect;
        std::uint32_t stallMs;
    } cases[] = {
        {{"no"}, 1, 0, 2000}, {{"NO"}, 1, 0, 2000}, {{"5"}, 1, 1, 5000}, {{"0.5"}, 1, 1, 500},
        {{"0"}, 0, 1, 2000},  {{"-1"}, 0, 1, 2000}, {{"nan"}, 0, 1, 2000}, {{"5s"}, 0, 1, 2000},
        {{"1e9"}, 0, 1, 2000}, {{}, 0, 1, 2000},     {{"1", "2"}, 0, 1, 2000},
    };
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"no"});
        if (c.args.empty())
            opts.add("reconnect");
        else if (c.args.size() == 1)
            opts.add("reconnect", {c.args[0]});
        else
            opts.add("reconnect", {c.args[0], c.args[1]});
        otksim::SetScenario("frames=manual");
        OvTrackD d(opts.get(), &log);
        clearOutput();
        const std::string what = ::testing::PrintToString(c.args);
        EXPECT_EQ(c.accepted ? 1 : -1, d.init(&info)) << what;
        EXPECT_EQ(c.reconnect, d.m_bReconnect) << what;
        EXPECT_EQ(c.stallMs, d.m_nStallMs) << what;
        const std::string refusal = c.args.size() == 1 ? "Invalid Reconnect Argument on Line 30."
                                                       : "Invalid Number of Reconnect Arguments on Line 30.";
        const auto l = lines();
        EXPECT_EQ(c.accepted ? 0 : 1, std::count(l.begin(), l.end(), refusal)) << what;
        if (c.accepted) {
            EXPECT_NE(l.end(), std::find(l.begin(), l.end(), std::string("tarsis0: INFO: Reconnect Option      : ") + c.args[0]));
        }
    }
}

TEST_F(RecoveryTest, ReconnectNoLeavesTheStreamAlone)
{
    serial().add("reconnect", {"no"});
    streaming("drop=1000:3000");
    runFor(1000);
    EXPECT_EQ(0, runFor(8000));
    EXPECT_TRUE(matching("Tracker stream").empty());
    EXPECT_EQ(1, calls("DiscoverCnx"));
    EXPECT_EQ(-1, cycle()); // still failing, as the host should know
}

TEST_F(RecoveryTest, StopDuringRecoveryEndsCleanly)
{
    serial();
    OvTrackD& d = streaming("drop=1000:60000");
    runFor(4000); // one failed attempt: the link is closed now
    clearOutput();
    EXPECT_TRUE(d.stop());
    for (const auto& l : lines()) // at most what was held back
        EXPECT_EQ(0u, l.find("(last message repeated ")) << l;
    EXPECT_EQ(0, d.m_bContRunning);
    EXPECT_EQ(0, state().linkOpen);
    EXPECT_EQ(0, plat::timerRaises());
    const int discoveries = calls("DiscoverCnx");
    runFor(20000);
    EXPECT_EQ(discoveries, calls("DiscoverCnx"));
}

TEST_F(RecoveryTest, StallTimeIsNeverBelowFourFramePeriods)
{
    const struct {
        const char* framerate; // the option line's argument, or none
        std::uint64_t frameEveryMs;
        std::vector<std::string> events; // in the run, then at stop
    } cases[] = {
        // Until the tracker accepts a rate, 60 Hz counts: 67 ms.
        {nullptr, 8, {}},
        {nullptr, 60, {}},
        {"240", 8, {}},
        // 17 ms at 240 Hz: a tracker that sends every 20 ms is really
        // stalling. Lost and restored alternate, and are counted alike.
        {"240",
         20,
         {"19 Tracker stream lost: no new frame for 0.0 s, reconnecting", "21 Tracker stream restored after 0.0 s",
          "3000 (last message repeated 148 times)",
          "3000 (message repeated 149 times: Tracker stream lost: no new frame for 0.0 s, reconnecting)"}},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.framerate ? c.framerate : "-") + " every " +
                                 std::to_string(c.frameEveryMs) + " ms";
        nextCase();
        serial().add("reconnect", {"0.005"});
        if (c.framerate)
            cfg.add("framerate", {c.framerate});
        streaming("");
        runFor(3000, 0x0F, c.frameEveryMs);
        EXPECT_TRUE(stopNoted()) << what;
        EXPECT_EQ(c.events, events) << what;
    }
}

TEST(RepeatFilterTest, LinesOfOneKindDifferOnlyInTheirNumbers)
{
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"Error : setTraData: sens 1 nan 0.5 -1.66667 5 -10 20", "Error : setTraData: sens 3 -nan 1e+06 2 5 -10 20",
         true},
        {"Error : setTraData: sens 1 inf 0 0 0 0 0", "Error : setTraData: sens 1 -2.5e-07 .5 0 0 0 0", true},
        {"Frame refused: 96 bytes, but station 1 comes after station 2 (one record per station, in station order)",
         "Frame refused: 160 bytes, but station 3 comes after station 3 (one record per station, in station order)",
         true},
        {"station map 0x3 lacks station 4, in use since init", "station map 0x1ff lacks station 10, in use since init",
         true},
        {"Station 5 appeared after init; restart the device to use it",
         "Station 2 disappeared; its record is left out until it is back", false},
        {"Tracker reconnect failed: Tracker link lost", "Tracker reconnect failed: Tracker busy", false},
        {"LastPnoPtr Error: x\r\n", "LastHostFrameCount Error: x\r\n", false},
        {"Error 0x20010002 on x86", "Error 0x20010003 on x64", false}, // a number inside a word is text
        {"an inf value", "an info value", false},
        {"5 s", "5", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.same, RepeatFilter::sameKind(c.a, c.b)) << c.a << " | " << c.b;
        EXPECT_EQ(c.same, RepeatFilter::sameKind(c.b, c.a)) << c.b << " | " << c.a;
    }
}

namespace {
std::vector<std::string> g_written;
void keep(void*, const char* text) { g_written.push_back(text); }
} // namespace

TEST(RepeatFilterTest, FloodsAreSummarisedByKind)
{
    g_written.clear();
    RepeatFilter f(keep, nullptr, "\r\n");
    f.line("sens 1 nan 0.5\r\n", 0);
    f.line("sens 2 nan 0.7\r\n", 1);          // held: same kind
    f.line("Frame refused: 20 bytes\r\n", 2); // a new kind: the count comes first
    f.line("sens 4 nan 0.9\r\n", 3);          // kinds alternate: both held
    f.line("Frame refused: 40 bytes\r\n", 4);
    f.line("Frame refused: 60 bytes\r\n", 5);
    f.tick(5001);
    f.tick(5002);              // nothing new since the summaries
    f.tick(20000);             // quiet for long: forgotten
    f.line("sens 1 nan 0.5\r\n", 20001);
    f.line("sens 1 nan 0.5\r\n", 20002);
    f.end();
    f.end(); // nothing left to say
    EXPECT_EQ((std::vector<std::string>{"sens 1 nan 0.5\r\n", "(last message repeated 1 time)\r\n",
                                        "Frame refused: 20 bytes\r\n",
                                        "(message repeated 1 time: sens 1 nan 0.5)\r\n",
                                        "(message repeated 2 times: Frame refused: 20 bytes)\r\n",
                                        "sens 1 nan 0.5\r\n", "(last message repeated 1 time)\r\n"}),
              g_written);
}

TEST_F(RecoveryTest, FloodOfOneFailureIsSummarised)
{
    serial().add("reconnect", {"no"});
    OvTrackD& d = streaming("fail=LastHostFrameCount:20010002:10000");
    for (int i = 0; i < 10000; ++i)
        cycle();
    const std::string text = sdkText(events.at(0), "1 Unable to retrieve last host frame count");
    EXPECT_EQ((std::vector<std::string>{"1 Unable to retrieve last host frame count" + text,
                                        "5001 (last message repeated 4999 times)"}),
              events);
    std::vector<std::string> t = traces();
    EXPECT_EQ((std::vector<std::string>{"LastHostFrameCount Error: " + text + "\r\n",
                                        "(last message repeated 4999 times)\r\n"}),
              t);
    // A different line ends the run: the rest of the count comes first.
    push(std::vector<unsigned char>(20, 0));
    cycle();
    EXPECT_EQ("10001 (last message repeated 5000 times)", events.at(2));
    EXPECT_EQ("10001 Frame refused: 20 bytes, less than one 32-byte record", events.at(3));
    EXPECT_TRUE(d.stop());
}

TEST_F(RecoveryTest, FramesAreCheckedBeforeTheyAreDecoded)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float kNanPos[3] = {nan, 24, -36};
    const auto rec = [](unsigned station, const float* pos = kPos) { return stationRecord(station, pos, kAng); };
    const struct {
        const char* scenario;
        std::vector<std::vector<unsigned char>> records;
        std::size_t extra; // bytes after the records
        int result;
        unsigned char mask;
        const char* line; // said once for all three frames of the case
    } cases[] = {
        {"", {rec(1), rec(2)}, 0, 1, 0x03, nullptr},
        {"", {rec(1), rec(2)}, 31, 1, 0x03, nullptr}, // padding, not a record
        {"", {rec(1, kNanPos), rec(2)}, 0, -1, 0x02, "Error : setTraData: sens 1 nan 2 -3 10 20 30"},
        {"", {rec(1), rec(2, kNanPos)}, 0, -1, 0x01, "Error : setTraData: sens 2 nan 2 -3 10 20 30"},
        {"", {rec(1), rec(2)}, 32, -1, 0, "Frame refused: 96 bytes, but a record names station 238 (stations are 1 to 32)"},
        {"", {rec(0), rec(1), rec(2)}, 0, -1, 0,
         "Frame refused: 96 bytes, but a record names station 0 (stations are 1 to 32)"},
        {"", {}, 20, -1, 0, "Frame refused: 20 bytes, less than one 32-byte record"},
        // Sensors come and go: the records of the stations in use are
        // written, a station new since init is left out, one without an id
        // (found at init, not in the sensor map) is passed over in silence.
        {"", {rec(1)}, 0, 1, 0x01, "Station 2 disappeared; its record is left out until it is back"},
        {"", {rec(1), rec(2), rec(5)}, 0, 1, 0x03, "Station 5 appeared after init; restart the device to use it"},
        {"", {rec(1), rec(2), rec(3)}, 0, 1, 0x03, nullptr},
        {"", {rec(1), rec(1)}, 0, -1, 0,
         "Frame refused: 64 bytes, but station 1 comes after station 1 (one record per station, in station order)"},
        {"", {rec(2), rec(1)}, 0, -1, 0,
         "Frame refused: 64 bytes, but station 1 comes after station 2 (one record per station, in station order)"},
        // Four header-only records add up to one record's size: nothing in
        // them may be taken for a pose.
        {"fail=SetSDataList:20010002", {std::vector<unsigned char>{'P', 8, 1, 0, 0, 0, 0, 0}}, 24, -1, 0,
         "Frame not decoded: the tracker refused the output data list"},
    };
    for (const auto& c : cases) {
        const std::string what = c.line ? c.line : "accepted";
        nextCase();
        serial().add("sensormap", {"3"});
        streaming(c.scenario);
        events.clear();
        for (int i = 0; i < 3; ++i) {
            std::vector<unsigned char> frame;
            for (const auto& r : c.records)
                frame.insert(frame.end(), r.begin(), r.end());
            frame.resize(frame.size() + c.extra, 0xEE);
            push(frame);
            flags.trackerMask[3] = 0;
            EXPECT_EQ(c.result, cycle()) << what;
            EXPECT_EQ(c.mask, flags.trackerMask[3]) << what;
        }
        std::vector<std::string> expected;
        if (c.line)
            expected.push_back("1 " + std::string(c.line));
        EXPECT_EQ(expected, events) << what;
    }
}

TEST_F(RecoveryTest, OnePauseBeforeTheFrameIsAskedFor)
{
    serial();
    OvTrackD& d = streaming("fail=LastHostFrameCount:20010002:1");
    push({stationRecord(1, kPos, kAng), stationRecord(2, kPos, kAng), stationRecord(3, kPos, kAng),
          stationRecord(4, kPos, kAng)});
    EXPECT_EQ(0, d.update()); // failure
    EXPECT_EQ(1, d.update()); // new frame
    EXPECT_EQ(1, d.update()); // nothing new
    EXPECT_EQ((std::vector<unsigned>{1, 1, 1}), pauses());
    EXPECT_EQ((std::vector<int>{0, 1, 2}), g_countsAtPause);
}

TEST_F(RecoveryTest, TimerResolutionIsPairedExactly)
{
    const struct {
        const char* scenario;
        bool started;
        int stops; // stop calls that fail before the device is deleted
    } cases[] = {
        {"", true, 0},
        {"fail=ClearPnoBuffer:20010002", false, 0},
        {"fail=StartContPno:20010002", false, 0},
        {"fail=StopContPno:20010002", true, 1}, // deleted without a stop that worked
    };
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"no"});
        otksim::SetScenario((std::string("frames=manual ") + c.scenario).c_str());
        std::unique_ptr<OvTrackD> d(new OvTrackD(opts.get(), &log));
        ASSERT_EQ(1, d->init(&info));
        EXPECT_EQ(c.started, d->start()) << c.scenario;
        EXPECT_FALSE(d->start()) << c.scenario; // refused or failing again: no second raise
        EXPECT_EQ(c.started ? 1 : 0, plat::timerRaises()) << c.scenario;
        if (c.stops) {
            EXPECT_FALSE(d->stop());
            EXPECT_EQ(1, plat::timerRaises());
        } else {
            EXPECT_TRUE(d->stop());
            EXPECT_EQ(0, plat::timerRaises());
        }
        d.reset();
        EXPECT_EQ(0, plat::timerRaises()) << c.scenario;
    }
}

TEST_F(RecoveryTest, RefusedFramesAreNotALostLink)
{
    // Frames that keep coming show a working link, whatever they hold: each
    // refused frame is said (summarised, also while the stream is lost) and
    // counted, and only a stream without new frames is rebuilt.
    const struct {
        const char* name;
        const char* scenario;
        std::vector<std::string> events; // in the run, then at stop
        int discoveries;
    } cases[] = {
        {"every frame padded by a whole record", "motion=counter pad=32",
         {"1 Frame refused: 160 bytes, but a record names station 0 (stations are 1 to 32)",
          "5001 (last message repeated 624 times)", "10001 (last message repeated 625 times)",
          "12000 (last message repeated 250 times)", "12000 Frames refused: 1500 of 1500 read"},
         1},
        {"an output list the tracker refused", "fail=SetSDataList:20010002",
         {"1 Frame not decoded: the tracker refused the output data list", "5001 (last message repeated 624 times)",
          "10001 (last message repeated 625 times)", "12000 (last message repeated 250 times)",
          "12000 Frames refused: 1500 of 1500 read"},
         1},
        // Two attempts during the freeze; the third, due at 8.2 s, waits
        // while the garbled frames come.
        {"a restarted stream whose frames come garbled", "freeze=1000:3500 garble=4500:6000",
         {"1194 Tracker stream lost: no new frame for 0.2 s, reconnecting",
          "4505 Frame refused: 128 bytes, but a record names station 0 (stations are 1 to 32)",
          "9505 (last message repeated 623 times)", "10505 (last message repeated 125 times)",
          "10505 Tracker stream restored after 9.5 s", "12000 Frames refused: 749 of 1061 read"},
         3},
    };
    for (const auto& c : cases) {
        nextCase();
        serial().add("reconnect", {"0.2"});
        streaming(c.scenario);
        runFor(12000);
        EXPECT_TRUE(stopNoted()) << c.name;
        EXPECT_EQ(c.events, events) << c.name;
        EXPECT_EQ(c.discoveries, calls("DiscoverCnx")) << c.name;
        EXPECT_EQ(0, okWhileLost) << c.name;
    }
}

TEST_F(RecoveryTest, ChangedStationMapCostsOnlyItsStations)
{
    const struct {
        const char* name;
        const char* scenario;
        unsigned char masks[3]; // records written in 0-2 s, 2.5-3.5 s, 11.5-12 s
        std::vector<std::string> events;
        int discoveries;
    } cases[] = {
        // The tracker streams the new station too; recovery takes its map.
        {"a sensor plugged in, then a drop",
         "plug=2000:1f drop=3000:2000",
         {0x0F, 0x0F, 0x0F},
         {"2001 Station 5 appeared after init; restart the device to use it",
          "3000 Unable to retrieve last host frame countTracker link lost", "4994 (last message repeated 1994 times)",
          "4994 Tracker stream lost: no new frame for 2.0 s, reconnecting", "6009 Tracker stream restored after 3.0 s"},
         2},
        {"a sensor pulled out and put back",
         "plug=2000:7,4000:f",
         {0x0F, 0x07, 0x0F},
         {"2001 Station 4 disappeared; its record is left out until it is back",
          "4001 Station 4 is back; its record is written again"},
         1},
        // Until the station is back the tracker is not the one the ids
        // were given for.
        {"a drop while a sensor is out",
         "plug=2000:7,7000:f drop=3500:500",
         {0x0F, 0x07, 0x0F},
         {"2001 Station 4 disappeared; its record is left out until it is back",
          "3500 Unable to retrieve last host frame countTracker link lost", "4000 (last message repeated 499 times)",
          "4000 Unable to retrieve last host frame countTracker not connected: link was lost",
          "5498 (last message repeated 1498 times)", "5498 Tracker stream lost: no new frame for 2.0 s, reconnecting",
          "6503 Tracker reconnect failed: station map 0x7 lacks station 4, in use since init",
          "8513 Tracker stream restored after 5.0 s", "8513 Station 4 is back; its record is written again"},
         3},
    };
    for (const auto& c : cases) {
        nextCase();
        serial();
        streaming(c.scenario);
        EXPECT_GT(runFor(2000, c.masks[0]), 200) << c.name;
        runFor(500, 0);
        EXPECT_GT(runFor(1000, c.masks[1]), 0) << c.name;
        runFor(8000, 0);
        EXPECT_GT(runFor(500, c.masks[2]), 50) << c.name;
        EXPECT_EQ(c.events, events) << c.name;
        EXPECT_EQ(c.discoveries, calls("DiscoverCnx")) << c.name;
        EXPECT_TRUE(dev->stop()) << c.name;
    }
}

TEST_F(RecoveryTest, StorageErrorOfEveryFrameIsSummarised)
{
    // The host gave one record slot, so station 2 finds none on every frame.
    // Its logger line and the sample's console line share standard output,
    // and so the counting of repeats.
    serial().add("reconnect", {"no"});
    streaming("stations=3 motion=still");
    table.count() = 1;
    runFor(12000, 0);
    EXPECT_TRUE(stopNoted());
    EXPECT_EQ((std::vector<std::string>{
                  "1 tarsis0: ERROR: TraData storage not found", "1 Error : setTraData: sens 2 2 0.5 -1.66667 10 -10 20",
                  "5001 tarsis0: ERROR: (message repeated 624 times: TraData storage not found)",
                  "5001 (message repeated 624 times: Error : setTraData: sens 2 2 0.5 -1.66667 10 -10 20)",
                  "10001 tarsis0: ERROR: (message repeated 625 times: TraData storage not found)",
                  "10001 (message repeated 625 times: Error : setTraData: sens 2 2 0.5 -1.66667 10 -10 20)",
                  "12000 (last message repeated 250 times)",
                  "12000 tarsis0: ERROR: (message repeated 250 times: TraData storage not found)"}),
              events);
}
