// The harness's host side: masks, record output, the shared tables' mutex,
// and whole runs against the fake module.
#include "fake_module.h"
#include "trackhost/devices.h"
#include "trackhost/format.h"
#include "trackhost/host.h"
#include "trackhost/sdkcheck.h"
#include "trackhost/tables.h"
#include "tracker/sdkbind.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

TrackerRecord netRecord(std::uint32_t id, std::uint32_t sec, std::uint32_t usec, const std::int32_t (&pose)[6])
{
    TrackerRecord r;
    std::memset(&r, 0, sizeof r);
    r.id = plat::hostToNet32(id);
    r.seconds = plat::hostToNet32(sec);
    r.micros = plat::hostToNet32(usec);
    for (int i = 0; i < 6; ++i)
        r.pose[i] = static_cast<std::int32_t>(plat::hostToNet32(static_cast<std::uint32_t>(pose[i])));
    return r;
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of the harness on a configuration text, with the fake module held
// loaded so that its call log outlives the run.
struct RunResult {
    int rc = -1;
    std::string out;
    std::string err;
    std::string calls;
    std::string json;
};

RunResult runHarness(const std::string& config, long long cycles, const char* json = nullptr, bool quiet = false,
               const volatile std::sig_atomic_t* interrupted = nullptr)
{
    testhelp::FakeModule fake;
    EXPECT_TRUE(fake.ok()) << fake.loadError();
    const std::string cfgPath = "trackhost-host-test.cfg";
    writeFile(cfgPath, config);
    trackhost::Options options;
    options.cycles = cycles;
    options.periodMs = 0;
    options.quiet = quiet;
    options.configPath = cfgPath;
    if (json)
        options.jsonPath = json;
    std::ostringstream out;
    std::ostringstream err;
    RunResult r;
    r.rc = trackhost::run(options, out, err, interrupted);
    r.out = out.str();
    r.err = err.str();
    r.calls = fake.calls();
    if (json && std::string(json) != "-") {
        r.json = readFile(json);
        std::remove(json);
    }
    std::remove(cfgPath.c_str());
    return r;
}

} // namespace

TEST(TrackhostRecords, MaskBitsInNetworkOrder)
{
    std::uint8_t mask[4] = {0, 0, 0, 0x01};
    EXPECT_EQ(trackhost::maskIds(mask), std::vector<unsigned>({1}));
    const std::uint8_t some[4] = {0x80, 0x00, 0x01, 0x0A};
    EXPECT_EQ(trackhost::maskIds(some), std::vector<unsigned>({2, 4, 9, 32}));
    const std::uint8_t none[4] = {0, 0, 0, 0};
    EXPECT_TRUE(trackhost::maskIds(none).empty());
    const std::uint8_t all[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(trackhost::maskIds(all).size(), 32u);
}

TEST(TrackhostRecords, HumanAndJsonForms)
{
    const TrackerRecord r = netRecord(3, 1733620000u, 45000u, {150000, -2500000, 1, 9000000, -4512345, -18000000});
    EXPECT_EQ(trackhost::formatRecord("tarsis0", r),
              "tarsis0    id  3  t 1733620000.045000  pos    1.50000  -25.00000    0.00001 ft"
              "  ori   90.00000  -45.12345 -180.00000 deg");
    EXPECT_EQ(trackhost::jsonRecord(12, "tarsis0", r),
              "{\"cycle\":12,\"device\":\"tarsis0\",\"id\":3,\"sec\":1733620000,\"usec\":45000,"
              "\"pos\":[150000,-2500000,1],\"ori\":[9000000,-4512345,-18000000]}");
    // Names come from the file: quotes and backslashes must not break the JSON.
    const std::string escaped = trackhost::jsonRecord(1, "a\"b\\c\n", r);
    EXPECT_EQ(escaped.rfind("{\"cycle\":1,\"device\":\"a\\\"b\\\\c\\u000a\",\"id\":3,", 0), 0u) << escaped;
}

TEST(TrackhostModules, BareNamesAreFoundBesideTheExecutable)
{
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    ASSERT_NE(dir[0], '\0');
#ifdef _WIN32
    EXPECT_EQ(trackhost::resolveModule("fakedev"), std::string(dir) + "fakedev.dll");
    EXPECT_EQ(trackhost::resolveModule("fakedev.dll"), std::string(dir) + "fakedev.dll");
    EXPECT_EQ(trackhost::resolveModule("lib/x.dll"), "lib\\x.dll");
#else
    EXPECT_EQ(trackhost::resolveModule("fakedev"), std::string(dir) + "fakedev.so");
    EXPECT_EQ(trackhost::resolveModule("fakedev.so"), std::string(dir) + "fakedev.so");
    EXPECT_EQ(trackhost::resolveModule("./lib/x.so"), "./lib/x.so");
#endif
}

TEST(TrackhostTables, ReadingWaitsForTheWritersMutex)
{
    trackhost::HostTable table(trackhost::HostTable::Trackers);
    ASSERT_TRUE(table.hasMutex());
    CDataStorage* s = table.storage();
    ASSERT_NE(s->m_pTrackerTable, nullptr);
    EXPECT_EQ(s->m_pControllerTable, nullptr);
    ASSERT_TRUE(s->lock());
    ASSERT_TRUE(s->setTrackerCount(2));
    s->m_pTrackerTable[1] = netRecord(2, 7, 0, {1, 2, 3, 4, 5, 6});

    std::atomic<bool> done(false);
    std::vector<TrackerRecord> got;
    std::thread reader([&] {
        const std::uint8_t mask[4] = {0, 0, 0, 0x02};
        got = table.readTrackers(mask);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load());
    ASSERT_TRUE(s->unlock());
    reader.join();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(plat::netToHost32(got[0].id), 2u);
    EXPECT_EQ(table.count(), 2u);

    trackhost::HostTable controllers(trackhost::HostTable::Controllers);
    EXPECT_EQ(controllers.storage()->m_pTrackerTable, nullptr);
    EXPECT_NE(controllers.storage()->m_pControllerTable, nullptr);
}

TEST(TrackhostRun, DrivesAllDevicesInFileOrder)
{
    const RunResult r = runHarness("device d0 fakedev\ndevice d1 fakedev\n", 2, nullptr, true);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.calls, "d0.create;d1.create;d0.init;d1.init;d0.configure;d1.configure;d0.start;d1.start;"
                       "d0.recvData(8);d1.recvData(8);d0.recvData(8);d1.recvData(8);"
                       "d0.stop;d1.stop;d0.delete;d1.delete;");
}

TEST(TrackhostRun, ShowsTheRecordsNamedInEachMask)
{
    const char* json = "trackhost-host-test.json";
    const RunResult r = runHarness("device d0 fakedev\nrecords 2\ndevice d1 fakedev\nrecords 1\n", 2, json, true);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, ""); // quiet: the JSON file only
    // The second device's record takes the id behind the first device's two.
    EXPECT_EQ(r.json, "{\"cycle\":1,\"device\":\"d0\",\"id\":1,\"sec\":1000001,\"usec\":1000,"
                      "\"pos\":[100000,-50000,1],\"ori\":[100000,-150000,25000]}\n"
                      "{\"cycle\":1,\"device\":\"d0\",\"id\":2,\"sec\":1000001,\"usec\":2000,"
                      "\"pos\":[200000,-100000,1],\"ori\":[200000,-150000,25000]}\n"
                      "{\"cycle\":1,\"device\":\"d1\",\"id\":3,\"sec\":1000001,\"usec\":3000,"
                      "\"pos\":[300000,-150000,1],\"ori\":[300000,-150000,25000]}\n"
                      "{\"cycle\":2,\"device\":\"d0\",\"id\":1,\"sec\":1000002,\"usec\":1000,"
                      "\"pos\":[100000,-50000,2],\"ori\":[100000,-150000,25000]}\n"
                      "{\"cycle\":2,\"device\":\"d0\",\"id\":2,\"sec\":1000002,\"usec\":2000,"
                      "\"pos\":[200000,-100000,2],\"ori\":[200000,-150000,25000]}\n"
                      "{\"cycle\":2,\"device\":\"d1\",\"id\":3,\"sec\":1000002,\"usec\":3000,"
                      "\"pos\":[300000,-150000,2],\"ori\":[300000,-150000,25000]}\n");
    // Shown for people: one line per record, the second device's after the first's.
    const RunResult shown = runHarness("device d0 fakedev\nrecords 2\ndevice d1 fakedev\nrecords 1\n", 1);
    EXPECT_EQ(shown.out, "d0         id  1  t 1000001.001000  pos    1.00000   -0.50000    0.00001 ft"
                         "  ori    1.00000   -1.50000    0.25000 deg\n"
                         "d0         id  2  t 1000001.002000  pos    2.00000   -1.00000    0.00001 ft"
                         "  ori    2.00000   -1.50000    0.25000 deg\n"
                         "d1         id  3  t 1000001.003000  pos    3.00000   -1.50000    0.00001 ft"
                         "  ori    3.00000   -1.50000    0.25000 deg\n");

    const RunResult toStdout = runHarness("device d0 fakedev\nrecords 1\n", 1, "-", true);
    EXPECT_EQ(toStdout.out, "{\"cycle\":1,\"device\":\"d0\",\"id\":1,\"sec\":1000001,\"usec\":1000,"
                            "\"pos\":[100000,-50000,1],\"ori\":[100000,-150000,25000]}\n");
}

TEST(TrackhostRun, FailedInitStopsEveryInitialisedDeviceAndDeletesAll)
{
    // The failed device is stopped too: its init may have left a connection open.
    const RunResult r = runHarness("device d0 fakedev\ndevice d1 fakedev\ninitresult -1\ndevice d2 fakedev\n", 5);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "trackhost: trackhost-host-test.cfg:2: device d1: init failed (-1)\n");
    EXPECT_EQ(r.calls, "d0.create;d1.create;d2.create;d0.init;d1.init;d0.stop;d1.stop;d0.delete;d1.delete;d2.delete;");
}

TEST(TrackhostRun, FailedStartAndCyclesAreReported)
{
    RunResult r = runHarness("device d0 fakedev\ndevice d1 fakedev\nstartresult 0\n", 3);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "trackhost: trackhost-host-test.cfg:2: device d1: start failed\n");
    EXPECT_EQ(r.calls, "d0.create;d1.create;d0.init;d1.init;d0.configure;d1.configure;d0.start;d1.start;"
                       "d0.stop;d1.stop;d0.delete;d1.delete;");

    r = runHarness("device d0 fakedev\nrecvresult -1\nstopresult 0\n", 3);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "trackhost: device d0: recvData failed (-1) in cycle 1\n"
                     "trackhost: device d0: recvData failed in 3 of 3 cycles\n"
                     "trackhost: device d0: stop failed\n");
    EXPECT_EQ(r.calls, "d0.create;d0.init;d0.configure;d0.start;d0.recvData(8);d0.recvData(8);d0.recvData(8);"
                       "d0.stop;d0.delete;");
}

TEST(TrackhostRun, InterruptEndsTheLoopCleanly)
{
    volatile std::sig_atomic_t interrupted = 1;
    const RunResult r = runHarness("device d0 fakedev\n", -1, nullptr, false, &interrupted);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.calls, "d0.create;d0.init;d0.configure;d0.start;d0.stop;d0.delete;");
}

TEST(TrackhostRun, ModulesThatCannotServe)
{
    RunResult r = runHarness("device d0 fakedev\n\ndevice d1 ./no-such-module.so\n", 1);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err.rfind("trackhost: trackhost-host-test.cfg:3: cannot load module ./no-such-module.so: ", 0), 0u)
        << r.err;
    EXPECT_EQ(r.calls, ""); // nothing is created before every module is there

    // A library without the two exports: the simulated tracker's support library.
#ifdef _WIN32
    const char* otherLib = "OvCmdIF";
#else
    const char* otherLib = "libOvCmdIF";
#endif
    r = runHarness(std::string("device d0 ") + otherLib + "\n", 1);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("trackhost-host-test.cfg:1: module "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" lacks the export createDev\n"), std::string::npos) << r.err;
}

// --sdk against the stand-in, against a library that lacks every member
// (the support library in place of OTK) and against one that declares its
// classes otherwise: where it looked, a line per member, exit 0 only when all
// is bound. Searched as the module beside the harness.
TEST(TrackhostSdk, SaysWhereItLookedAndWhatEachMemberWasBoundTo)
{
#ifdef _WIN32
    const std::string otk = "OTK.dll", support = "OvCmdIF.dll", odd = "otkodd.dll", module = "tarsis.dll";
#else
    const std::string otk = "libOTK.so", support = "libOvCmdIF.so", odd = "otkodd.so", module = "tarsis.so";
#endif
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    const std::string bin = dir;
    const struct {
        const char* file;
        int result;
        std::vector<std::pair<sdk::Id, std::string>> members; // lines of some members
        std::string verdict;
    } cases[] = {
        {nullptr, 0, {{sdk::Id::COTKdev_DiscoverCnx, "COTKdev::DiscoverCnx: _ZN7COTKdev11DiscoverCnxEv"}},
         "Tracker SDK ready: 32 members bound, 3 not needed"},
        {support.c_str(), 1, {{sdk::Id::COTKdev_DiscoverCnx, "COTKdev::DiscoverCnx: MISSING from " + support}},
         "Tracker SDK not usable: Tracker SDK " + support + " does not export COTKser::COTKser"},
        {odd.c_str(), 1,
         {{sdk::Id::COTKdev_TrackerType,
           "COTKdev::TrackerType: REFUSED, " + odd + " has it only as a const member function: "
           "_ZNK7COTKdev11TrackerTypeEv"},
          {sdk::Id::COTKmdat_Ctor, "COTKmdat::COTKmdat: not bound (not needed: it has nothing to do), " + odd +
                                       " has it only with other parameters: _ZN8COTKmdatC1Ei"}},
         "Tracker SDK not usable: Tracker SDK " + odd +
             " has COTKser::COTKser only with other parameters (it exports _ZN7COTKserC1Ev)"},
    };
    for (const auto& c : cases) {
        const sdk::LibraryFiles usual = sdk::setLibraryFilesForTests({c.file, nullptr});
        std::ostringstream out;
        EXPECT_EQ(c.result, trackhost::checkSdk(out, bin + module));
        sdk::setLibraryFilesForTests(usual);
        sdk::searchAsModuleIn("");
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        ASSERT_EQ(lines.size(), std::size_t(3 + sdk::kMemberCount + (c.result == 0 ? 6 : 1))) << out.str();
        EXPECT_EQ(0u, lines[0].find("Looking for the tracker SDK as " + bin + module + " does: " + bin +
                                    " (the module's folder); "))
            << lines[0];
        const std::string file = c.file ? c.file : otk;
        EXPECT_EQ(file + ": loaded from " + bin + file, lines[1]);
        for (const auto& member : c.members)
            EXPECT_EQ(member.second, lines[3 + static_cast<int>(member.first)]);
        EXPECT_EQ(c.verdict, lines.back());
    }
    std::ostringstream out;
    EXPECT_EQ(1, trackhost::checkSdk(out, bin + "no_such_module"));
    EXPECT_EQ("trackhost: --sdk: no module " + bin + "no_such_module\n", out.str());
}
