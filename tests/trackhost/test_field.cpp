// The harness as a field tool, against the fake module: --check, controller
// records, statistics on a known rate, the SVG picture, and JSON that stays
// valid whatever bytes the file holds.
#include "fake_module.h"
#include "otksim/otksim.h"
#include "support/logger.h"
#include "trackhost/check.h"
#include "trackhost/format.h"
#include "trackhost/host.h"
#include "trackhost/stats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct RunOut {
    int rc = -1;
    std::string out, err, calls;
};

RunOut runWith(trackhost::Options options, const std::string& config)
{
    testhelp::FakeModule fake;
    EXPECT_TRUE(fake.ok()) << fake.loadError();
    options.configPath = "trackhost-field-test.cfg";
    options.periodMs = 0;
    std::ofstream(options.configPath, std::ios::binary | std::ios::trunc) << config;
    std::ostringstream out, err;
    RunOut r;
    r.rc = trackhost::run(options, out, err, nullptr);
    r.out = out.str();
    r.err = err.str();
    r.calls = fake.calls();
    std::remove(options.configPath.c_str());
    return r;
}

// A host clock 2 ms behind each 240 Hz frame of the fake device ("rate 240").
long long g_tick = 0;
std::int64_t clock240() { return 1000000000000ll + (g_tick++) * 1000000ll / 240 + 2000; }
// Read before and after each recvData: every call takes 1 ms, that of cycle
// 17 151.3 ms.
long long g_callReads = 0;
std::int64_t callClock()
{
    const long long n = g_callReads++;
    const long long cycle = n / 2 + 1;
    return cycle * 1000000 + (n % 2 ? (cycle == 17 ? 151300 : 1000) : 0);
}

} // namespace

TEST(TrackhostCheck, RefusalMessagesNameTheirLine)
{
    const struct {
        const char* message;
        unsigned line;
    } cases[] = {
        {"Invalid Baud Argument on Line 7.", 7},
        {"Invalid unit found for SensorOffset at line 12.", 12},
        {"Invalid button ID found for EmulateTracker option at line 3. Ignored.", 3},
        {"Can not change the order on input connector at line 40.\r", 40},
        {"Tracker connected.", 0},
        {"FrameRate is fixed at 60 Hz for Orvane Brevik.", 0},
        {"at line 5.x", 0},
        {"online 5.", 0},
        {"line .", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trackhost::refusedLine(c.message), c.line) << c.message;

    CLogger log;
    trackhost::DeviceOutput out;
    trackhost::scanOutput("Dec 08 05:00:00 d0[12]: DEBUG: Option line 4 read: sensoroffset\n"
                          "Dec 08 05:00:00 d0[12]: DEBUG: \"recvData\" called.\n"
                          "Dec 08 05:00:00 d0[12]: ERROR: Invalid unit found for SensorOffset at line 9.\n"
                          "Invalid Baud Argument on Line 2.\n"
                          "d0: INFO: DEVICE NAME           : d0\n",
                          log, out);
    EXPECT_EQ(out.read, std::set<unsigned>({4}));
    ASSERT_EQ(out.refused.size(), 2u);
    EXPECT_EQ(out.refused[9], "Invalid unit found for SensorOffset at line 9.");
    EXPECT_EQ(out.refused[2], "Invalid Baud Argument on Line 2.");
    EXPECT_EQ(out.shown.size(), 3u); // debug lines are for the harness only
}

TEST(TrackhostCheck, NamesUnknownAndRefusedLinesAndStillCleansUp)
{
    trackhost::Options options;
    options.check = true;
    // "records" is read without being marked as taken: the debug line says so.
    RunOut r = runWith(options, "device d0 fakedev\nrecords 2\nrecrods 2\n\ndevice d1 fakedev\nrefuse 1\nrate 240\n");
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_EQ(r.out, "Invalid Refuse Argument on Line 6.\n"
                     "trackhost-field-test.cfg:3: d0: no parser took this line (unknown keyword?): recrods\n"
                     "trackhost-field-test.cfg:6: d1: refused: Invalid Refuse Argument on Line 6.\n"
                     "check: 2 devices, 4 option lines: 1 unknown, 1 refused\n");
    EXPECT_EQ(r.calls, "d0.create;d1.create;d0.init;d1.init;d0.stop;d1.stop;d0.delete;d1.delete;");

    r = runWith(options, "device d0 fakedev\nrecords 2\ncontrollers 1\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "check: 1 device, 2 option lines: clean\n");

    // A failed init: its lines cannot all have been read; the rest still
    // goes, and every device is stopped and deleted.
    r = runWith(options, "device d0 fakedev\ninitresult -1\nwhatever 1\ndevice d1 fakedev\n");
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "trackhost: trackhost-field-test.cfg:1: device d0: init failed (-1)\n");
    EXPECT_EQ(r.out, "trackhost-field-test.cfg:3: d0: not checked, init failed before this line was read: whatever\n"
                     "check: 2 devices, 2 option lines: 0 unknown, 0 refused, 1 not checked, 1 init failed\n");
    EXPECT_EQ(r.calls, "d0.create;d1.create;d0.init;d1.init;d0.stop;d1.stop;d0.delete;d1.delete;");
}

TEST(TrackhostRun, ControllerRecordsAreShownAndWritten)
{
    trackhost::Options options;
    options.cycles = 1;
    options.jsonPath = "-";
    const RunOut r = runWith(options, "device d0 fakedev\nrecords 1\ncontrollers 2\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out,
              "d0         id  1  t 1000001.001000  pos    1.00000   -0.50000    0.00001 ft  ori    1.00000   -1.50000    0.25000 deg\n"
              "{\"cycle\":1,\"device\":\"d0\",\"id\":1,\"sec\":1000001,\"usec\":1000,\"pos\":[100000,-50000,1],"
              "\"ori\":[100000,-150000,25000]}\n"
              "d0         con  1  t 2000001.000000  buttons 0x00000001  valuators 0.50000 -1.00000\n"
              "{\"cycle\":1,\"device\":\"d0\",\"controller\":1,\"sec\":2000001,\"usec\":0,\"buttons\":1,"
              "\"valuators\":[50000,-100000]}\n"
              "d0         con  2  t 2000001.000000  buttons 0x00000002  valuators 1.00000 -1.00000\n"
              "{\"cycle\":1,\"device\":\"d0\",\"controller\":2,\"sec\":2000001,\"usec\":0,\"buttons\":2,"
              "\"valuators\":[100000,-100000]}\n");
}

TEST(TrackhostStats, KnownRateSixteenIds)
{
    trackhost::Options options;
    options.cycles = 241;
    options.quiet = true;
    options.stats = true;
    g_tick = 1; // the clock's first reading belongs to cycle 1
    options.clock = clock240;
    g_callReads = 0;
    options.callClock = callClock;
    const RunOut r = runWith(options, "device d0 fakedev\nrecords 16\nrate 240\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "statistics of 241 cycles:");
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("device      id   records   rate Hz  max gap ms", 0), 0u);
    for (unsigned id = 1; id <= 16; ++id) {
        ASSERT_TRUE(std::getline(lines, line));
        char want[160];
        std::snprintf(want, sizeof want,
                      "d0         %3u       241    240.00         4.2                  0               0         2.0     2.0     2.0",
                      id);
        EXPECT_EQ(line, want);
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "d0         longest recvData call: 151.3 ms (cycle 17)");
    EXPECT_FALSE(std::getline(lines, line));
}

TEST(TrackhostStats, PercentilesGapsAndFailures)
{
    trackhost::Stats stats;
    // Ages 1..100 ms; one gap of 50 ms among steps of 10 ms.
    std::int64_t t = 0;
    for (int k = 1; k <= 100; ++k) {
        t += k == 50 ? 50000 : 10000;
        stats.record("a", 3, t, t + k * 1000);
    }
    stats.failure("a");
    stats.failure("b");
    // Refused frames, as a device says them when stopped: whole lines only.
    stats.stopOutput("a", "tarsis0: INFO: Frames refused: 5 of 5 read\nFrames refused: 7 of 9 read\n");
    stats.stopOutput("b", "Frames refused: 3 of 3 read");
    EXPECT_NE(stats.table().find("                  1               -         "), std::string::npos) << stats.table();
    stats.stopped();
    const auto rows = stats.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].records, 100u);
    EXPECT_NEAR(rows[0].rateHz, 99.0 * 1e6 / (t - 10000), 1e-9);
    EXPECT_DOUBLE_EQ(rows[0].maxGapMs, 50.0);
    EXPECT_DOUBLE_EQ(rows[0].ageP50Ms, 50.0);
    EXPECT_DOUBLE_EQ(rows[0].ageP99Ms, 99.0);
    EXPECT_DOUBLE_EQ(rows[0].ageMaxMs, 100.0);
    EXPECT_EQ(rows[0].failures, 1u);
    EXPECT_EQ(rows[0].refused, 7u);
    EXPECT_EQ(rows[1].device, "b"); // failed without a record: still shown
    EXPECT_EQ(rows[1].failures, 1u);
    EXPECT_EQ(rows[1].refused, 3u);
    EXPECT_EQ(rows[1].records, 0u);
}

TEST(TrackhostPlot, PathsAndLabelsPerId)
{
    trackhost::Options options;
    options.cycles = 5;
    options.quiet = true;
    options.plotPath = "trackhost-field-test.svg";
    const RunOut r = runWith(options, "device d0 fakedev\nrecords 2\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    std::ifstream in(options.plotPath);
    std::stringstream svg;
    svg << in.rdbuf();
    std::remove(options.plotPath.c_str());
    for (const char* part : {"<path id=\"top-d0-1\"", "<path id=\"top-d0-2\"", "<path id=\"x-d0-1\"",
                             "<path id=\"z-d0-2\"", "<path id=\"azimuth-d0-1\"", "<path id=\"roll-d0-2\"",
                             ">d0 id 1</text>", ">d0 id 2</text>"})
        EXPECT_NE(svg.str().find(part), std::string::npos) << part;

    // The top view's plane follows the devices' coordinates: the last
    // CaveCoordinates line decides, as in the device.
    const struct {
        const char* config;
        const char* title;
    } planes[] = {
        {"device d0 fakedev\nrecords 1\n", "top view (x against y, feet: the tracker's frame)"},
        {"device d0 fakedev\nrecords 1\ncavecoordinates YES\n", "top view (x against z, feet: CAVE coordinates)"},
        {"device d0 fakedev\nrecords 1\nCaveCoordinates yes\nCaveCoordinates no\n",
         "top view (x against y, feet: the tracker's frame)"},
        {"device d0 fakedev\nrecords 1\nCaveCoordinates yes\ndevice d1 fakedev\nrecords 1\n",
         "top view (feet: x against y in the tracker's frame, x against z in CAVE coordinates)"},
    };
    for (const auto& plane : planes) {
        const RunOut run = runWith(options, plane.config);
        EXPECT_EQ(run.rc, 0) << run.err;
        std::ifstream file(options.plotPath);
        std::stringstream text;
        text << file.rdbuf();
        EXPECT_NE(text.str().find(std::string(">") + plane.title + "</text>"), std::string::npos) << plane.config;
        std::remove(options.plotPath.c_str());
    }

    // An unwritable picture is found out before any device is created.
    options.plotPath = "no-such-folder/x.svg";
    const RunOut bad = runWith(options, "device d0 fakedev\n");
    EXPECT_EQ(bad.rc, 1);
    EXPECT_EQ(bad.err.rfind("trackhost: no-such-folder/x.svg: cannot write the picture: ", 0), 0u) << bad.err;
    EXPECT_EQ(bad.calls, "");
}

TEST(TrackhostRecords, JsonStringsStayValidForAnyBytes)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain", "\"plain\""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
        {"a\xFF" "b\xC3", "\"a\\u00ffb\\u00c3\""},             // stray and cut-off bytes
        {"\xC0\xAF\xED\xA0\x80", "\"\\u00c0\\u00af\\u00ed\\u00a0\\u0080\""}, // overlong, surrogate
        {"t\tq\"\\\x7F", "\"t\\u0009q\\\"\\\\\\u007f\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trackhost::jsonString(c.in), c.out) << c.in;
}

namespace {
long long g_halfSeconds = 0;
std::int64_t clockHalfSeconds() { return 5000000000000ll + (g_halfSeconds++) * 500000; }
bool terminal() { return true; }
bool notTerminal() { return false; }
} // namespace

TEST(TrackhostLive, RedrawsInPlaceOnATerminalAndPrintsPlainLinesElsewhere)
{
    trackhost::Options options;
    options.cycles = 3;
    options.live = true;
    options.clock = clockHalfSeconds; // two readings a cycle: one second per cycle
    options.isTerminal = notTerminal;
    g_halfSeconds = 0;
    RunOut r = runWith(options, "device d0 fakedev\nrecords 2\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    const std::string id1 = "d0         id  1  pos    1.0000   -0.5000    0.0000 ft  ori     1.000    -1.500     0.250 deg";
    // Plain lines, once a second: cycles 1, 2 and 3 each show both ids.
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    std::size_t count = 0;
    for (std::size_t at = r.out.find(id1); at != std::string::npos; at = r.out.find(id1, at + 1))
        ++count;
    EXPECT_EQ(count, 3u) << r.out;

    options.isTerminal = terminal;
    g_halfSeconds = 0;
    r = runWith(options, "device d0 fakedev\nrecords 2\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    // The first drawing, then each redraw moves up over the two lines first.
    EXPECT_EQ(r.out.rfind("\r\x1b[2K" + id1, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\x1b[2A\r\x1b[2K" + id1), std::string::npos) << r.out;
}

namespace {
// One simulated frame before every cycle: each cycle has exactly one new frame.
void pushFrame(unsigned long) { otksim::PushMotionFrame(otksim::LastDevice()); }

// A quiet run with statistics of the real module, on a simulated tracker
// that makes a frame before every cycle.
RunOut statsRun(const char* scenario, long cycles, const std::string& config)
{
    EXPECT_TRUE(otksim::SetScenario((std::string("frames=manual max=16 ") + scenario).c_str()));
    trackhost::Options options;
    options.cycles = cycles;
    options.quiet = true;
    options.stats = true;
    options.beforeCycle = pushFrame;
    const RunOut r = runWith(options, config);
    otksim::SetScenario(nullptr);
    return r;
}
} // namespace

TEST(TrackhostStats, OneRecordPerIdForEveryManualFrame)
{
    const RunOut r = statsRun("stations=ffff", 50, "device t0 tarsis\nbaud 115200\nreset no\nframerate 240\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    const std::size_t table = r.out.find("statistics of 50 cycles:\n");
    ASSERT_NE(table, std::string::npos) << r.out;
    std::istringstream lines(r.out.substr(table));
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line); // the heading
    unsigned rows = 0;
    while (std::getline(lines, line) && line.find(" longest recvData call: ") == std::string::npos) {
        unsigned id = 0, failures = 0;
        unsigned long long records = 0;
        double rate = 0, gap = 0;
        char device[16] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "%15s %u %llu %lf %lf %u", device, &id, &records, &rate, &gap, &failures), 6)
            << line;
        EXPECT_STREQ(device, "t0");
        EXPECT_EQ(id, ++rows);
        EXPECT_EQ(records, 50u) << line; // not one frame lost or counted twice
        EXPECT_EQ(failures, 0u);
        EXPECT_GT(rate, 0.0);
    }
    EXPECT_EQ(rows, 16u);
}

TEST(TrackhostStats, RefusedFramesBesideTheFailures)
{
    // Every frame carries a record of zeros after the real ones.
    const RunOut r = statsRun("stations=3 pad=32", 20, "device t0 tarsis\nbaud 115200\nreset no\n");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("statistics of 20 cycles:\n"
                         "device      id   records   rate Hz  max gap ms  recvData failures  refused frames  age p50 ms  "
                         "p99 ms  max ms\n"
                         "t0           0         0      0.00         0.0                 20              20         0.0     "
                         "0.0     0.0\n"),
              std::string::npos)
        << r.out;
}

TEST(TrackhostStats, LongRunsKeepAnEvenSampleOfAges)
{
    trackhost::Stats stats;
    const int n = 500000; // more ages than are kept
    for (int k = 0; k < n; ++k)
        stats.record("a", 1, k * 4000ll, k * 4000ll + (k % 1000) * 10 + (k == 77777 ? 5000000 : 0));
    const auto row = stats.rows().at(0);
    EXPECT_EQ(row.records, static_cast<unsigned long long>(n));
    EXPECT_NEAR(row.ageP50Ms, 5.0, 0.05);
    // Every 32nd age is kept: of this pattern, repeating every 1000 records,
    // the multiples of 8, which moves its p99 by less than 0.1 ms.
    EXPECT_NEAR(row.ageP99Ms, 9.9, 0.1);
    EXPECT_DOUBLE_EQ(row.ageMaxMs, 5007.77); // the one late record is never sampled away
    EXPECT_DOUBLE_EQ(row.maxGapMs, 4.0);
}
