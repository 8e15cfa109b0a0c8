// A stream that stops: detection, step-by-step recovery, repeat suppression,
// refused frames, the pause's position and the timer resolution, all on a
// clock that only the pauses move (one pause = 1 ms).
#include "helpers/tracker.h"

#include <algorithm>

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
    }
    void TearDown() override
    {
        g_sdk = nullptr;
        TrackerTest::TearDown();
        plat::setClockHook(nullptr);
        otksim::SetClock(nullptr);
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
    // (held back by the simulator while it is gone). Each update must take
    // exactly its one pause. Returns the cycles that wrote records.
    int runFor(std::uint64_t ms)
    {
        int written = 0;
        const std::uint64_t end = g_now + ms;
        while (g_now < end) {
            if ((g_now - t0) % 8 == 0)
                otksim::PushMotionFrame(testhelp::simOf(*dev));
            const std::uint64_t before = g_now;
            flags.trackerMask[3] = 0;
            cycle();
            EXPECT_EQ(before + 1, g_now);
            if (flags.trackerMask[3]) {
                EXPECT_EQ(0x0F, flags.trackerMask[3]);
                ++written;
            }
            out->clear(); // keep only what was new, with its time
        }
        return written;
    }
    int cycle()
    {
        const std::size_t seen = lines().size();
        const int r = dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8);
        const std::vector<std::string> now = lines();
        for (std::size_t i = seen; i < now.size(); ++i)
            events.push_back(std::to_string(g_now - t0) + " " + now[i]);
        return r;
    }
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

TEST_F(RecoveryTest, DropInMidStreamIsRecovered)
{
    serial();
    OvTrackD& d = streaming("drop=1000:3000");
    EXPECT_EQ(1, plat::timerRaises());
    EXPECT_GT(runFor(1000), 100);
    EXPECT_EQ(0, runFor(4990)); // lost at 2.0 s, first attempt 1 s later while still down, next 2 s later
    EXPECT_GT(runFor(1000), 100);
    EXPECT_EQ((std::vector<std::string>{"2994 Tracker stream lost: no new frame for 2.0 s, reconnecting",
                                        "6009 Tracker stream restored after 5.0 s"}),
              matching("Tracker stream"));
    EXPECT_EQ((std::vector<std::string>{"3997 Tracker reconnect failed: Tracker link lost"}), matching("reconnect failed"));
    EXPECT_LE(events.size(), 6u) << ::testing::PrintToString(events);
    for (unsigned id = 1; id <= 4; ++id)
        EXPECT_EQ(id, plat::netToHost32(table.record(id).id));
    EXPECT_EQ(2, state().dataListCount); // configured again
    EXPECT_EQ(1, plat::timerRaises());   // the stream's own restart keeps the resolution
    EXPECT_TRUE(d.stop());
    EXPECT_EQ(0, plat::timerRaises());
}

TEST_F(RecoveryTest, FreezeEndsByItselfWithoutReconnecting)
{
    serial();
    streaming("freeze=1000:2500");
    runFor(4000);
    EXPECT_EQ((std::vector<std::string>{"2994 Tracker stream lost: no new frame for 2.0 s, reconnecting",
                                        "3505 Tracker stream restored after 2.5 s"}),
              events);
    EXPECT_EQ(1, calls("DiscoverCnx"));
    EXPECT_EQ(0, calls("StopContPno"));
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
    // before; its discovery comes three steps in.
    EXPECT_EQ((std::vector<std::uint64_t>{3997, 5999, 10001, 18003, 28005, 38007}), at);
    EXPECT_EQ(1u, matching("reconnect failed").size());
    EXPECT_LE(events.size(), 12u) << ::testing::PrintToString(events);
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
    EXPECT_EQ("10001 Frame refused: 20 bytes, expected 128 (one 32-byte record per station)", events.at(3));
    EXPECT_TRUE(d.stop());
}

TEST_F(RecoveryTest, FramesOfTheWrongShapeWriteNothing)
{
    serial().add("sensormap", {"3"});
    streaming("");
    const struct {
        std::vector<std::vector<unsigned char>> records;
        std::size_t extra;
        const char* line;
    } cases[] = {
        {{stationRecord(1, kPos, kAng), stationRecord(2, kPos, kAng)}, 4,
         "Frame refused: 68 bytes, expected 64 (one 32-byte record per station)"},
        {{stationRecord(1, kPos, kAng)}, 0, "Frame refused: 32 bytes, expected 64 (one 32-byte record per station)"},
        {{}, 20, "Frame refused: 20 bytes, expected 64 (one 32-byte record per station)"},
        {{stationRecord(1, kPos, kAng), stationRecord(3, kPos, kAng)}, 0,
         "Frame refused: 64 bytes, expected 64, but a record names station 3, which is not output"},
    };
    for (const auto& c : cases) {
        events.clear();
        for (int i = 0; i < 50; ++i) {
            std::vector<unsigned char> frame;
            for (const auto& r : c.records)
                frame.insert(frame.end(), r.begin(), r.end());
            frame.resize(frame.size() + c.extra, 0xEE);
            push(frame);
            flags.trackerMask[3] = 0;
            EXPECT_EQ(-1, cycle());
            EXPECT_EQ(0, flags.trackerMask[3]);
        }
        // The line once; the repeats are summed up when the next kind begins.
        const std::string first = std::to_string(g_now - t0 - 49) + " ";
        std::vector<std::string> expected{first + c.line};
        if (&c != &cases[0])
            expected.insert(expected.begin(), first + "(last message repeated 49 times)");
        EXPECT_EQ(expected, events) << c.line;
    }
    EXPECT_EQ(0u, table.record(1).id);
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
