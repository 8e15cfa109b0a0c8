#include "helpers/tracker.h"
#include "tracker/sdkbind.h"

#include <algorithm>

using testhelp::pauses;
using testhelp::TrackerTest;

namespace {
using ConnectionTest = TrackerTest;

bool hasTrace(const std::vector<std::string>& traces, const std::string& text)
{
    return std::find(traces.begin(), traces.end(), text) != traces.end();
}
} // namespace

TEST_F(ConnectionTest, BaudTable)
{
    const struct {
        const char* arg;
        int accepted;
        eOvBaudRate stored;
    } cases[] = {{"2400", 1, OV_BAUD_2400},   {"4800", 1, OV_BAUD_4800},   {"9600", 1, OV_BAUD_9600},
                 {"19200", 1, OV_BAUD_19200}, {"38400", 1, OV_BAUD_38400}, {"57600", 1, OV_BAUD_57600},
                 {"115200", 1, OV_BAUD_115200}, {"9600x", 1, OV_BAUD_9600}, {" +9600", 1, OV_BAUD_9600},
                 {"300", 0, OV_BAUD_115200},  {"x9600", 0, OV_BAUD_115200}, {"99999999999999999999", 0, OV_BAUD_115200}};
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("baud", {c.arg}, 7);
        OvTrackD d(opts.get(), &log);
        clearOutput();
        EXPECT_EQ(c.accepted, d.SetBautOpt(0)) << c.arg;
        EXPECT_EQ(c.accepted, d.m_bBaudOpt) << c.arg;
        EXPECT_EQ(c.stored, d.m_eBaud) << c.arg;
        if (c.accepted) {
            EXPECT_STREQ(c.arg, d.m_pszBaud);
            EXPECT_TRUE(lines().empty());
        } else {
            EXPECT_EQ(nullptr, d.m_pszBaud);
            EXPECT_EQ((std::vector<std::string>{"Invalid Baud Argument on Line 7."}), lines()) << c.arg;
        }
        EXPECT_EQ((std::vector<std::string>{"OvTrackD::SetBautOpt()\r\n"}), traces());
    }
}

TEST_F(ConnectionTest, BaudArgumentCount)
{
    cfg.add("baud", {}, 3).add("baud", {"9600", "19200"}, 4);
    OvTrackD& d = make();
    EXPECT_EQ(0, d.ParseBaudOpt());
    EXPECT_EQ((std::vector<std::string>{"Invalid Number of Baud Arguments on Line 3.",
                                        "Invalid Number of Baud Arguments on Line 4."}),
              lines());
    EXPECT_EQ(1, cfg.option(0).consumed);
    EXPECT_EQ(1, cfg.option(1).consumed);
}

TEST_F(ConnectionTest, FirstAcceptableBaudLineWinsAndLaterOnesStayForLater)
{
    cfg.add("BAUD", {"300"}).add("reset", {"no"}).add("Baud", {"9600"}).add("baud", {"19200"});
    OvTrackD& d = make();
    EXPECT_EQ(1, d.ParseBaudOpt());
    EXPECT_EQ(OV_BAUD_9600, d.m_eBaud);
    EXPECT_EQ((std::vector<std::string>{"Invalid Baud Argument on Line 10."}), lines());
    EXPECT_EQ(1, cfg.option(0).consumed);
    EXPECT_EQ(0, cfg.option(1).consumed);
    EXPECT_EQ(1, cfg.option(2).consumed);
    EXPECT_EQ(0, cfg.option(3).consumed);
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::ParseBaudOpt()\r\n", "OvTrackD::SetBautOpt()\r\n",
                                        "OvTrackD::SetBautOpt()\r\n"}),
              traces());
}

TEST_F(ConnectionTest, ResetWords)
{
    const struct {
        const char* arg;
        int reset;
    } cases[] = {{"yes", 1}, {"YES", 1}, {"yEs", 1}, {"no", 0}, {"maybe", 0}, {"yes please", 0}};
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("reset", {c.arg});
        OvTrackD d(opts.get(), &log);
        d.m_bReset = 1;
        EXPECT_EQ(1, d.ParseResetOpt()) << c.arg;
        EXPECT_EQ(c.reset, d.m_bReset) << c.arg;
        EXPECT_STREQ(c.arg, d.m_pszReset);
    }
    cfg.add("reset", {"yes", "no"}, 12);
    OvTrackD& d = make();
    clearOutput();
    EXPECT_EQ(0, d.ParseResetOpt());
    EXPECT_EQ(nullptr, d.m_pszReset);
    EXPECT_EQ((std::vector<std::string>{"Invalid Number of Reset Arguments on Line 12."}), lines());
}

TEST_F(ConnectionTest, MissingSerialLinesFailInitAtTheirStep)
{
    cfg.add("reset", {"no"});
    OvTrackD& d = make();
    EXPECT_EQ(-1, d.init(&info));
    std::vector<std::string> got = lines();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ("Error: parsing baud option", got[0]);
    EXPECT_EQ("tarsis0: INFO: DEVICE NAME           : tarsis0", got[1]);
    EXPECT_EQ("OvTrackD::init()\r\n", traces().front());
    EXPECT_TRUE(hasTrace(traces(), "Error: parsing baud options\r\n"));

    testhelp::Config noReset;
    noReset.add("baud", {"9600"});
    OvTrackD second(noReset.get(), &log);
    clearOutput();
    EXPECT_EQ(-1, second.init(&info));
    EXPECT_EQ("Error: parsing reset option", lines().at(0));
    EXPECT_TRUE(hasTrace(traces(), "Error: parsing reset option\r\n"));
    EXPECT_EQ(0, second.m_dev.CnxReady());
}

TEST_F(ConnectionTest, ConnectReadsCountsAndMaps)
{
    serial("9600");
    OvTrackD& d = make("max=8 stations=0x1b");
    ASSERT_EQ(1, d.ParseBaudOpt());
    ASSERT_EQ(1, d.ParseResetOpt());
    clearOutput();
    ASSERT_EQ(1, d.Connect());
    EXPECT_EQ(8u, d.m_nMaxTrackers);
    EXPECT_EQ(4u, d.m_nDetected);
    EXPECT_EQ(4u, d.m_nTrackers);
    EXPECT_EQ(0x1bu, d.m_dwDetectedMap);
    EXPECT_EQ(0x1bu, d.m_dwSensorMap);
    EXPECT_TRUE(lines().empty());
    const otksim::State s = state();
    EXPECT_EQ(OV_BAUD_9600, s.baud);
    EXPECT_EQ(0, s.parity);
    EXPECT_EQ(1, s.flowControl);
    EXPECT_EQ(1, s.connected);
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::Connect()\r\n", "OvTrackD::DevConnect()\r\n",
                                        "OvTrackD::CountSensors\r\n"}),
              traces());
}

TEST_F(ConnectionTest, StationsAboveTheSupportedCountAreNotCounted)
{
    serial();
    OvTrackD& d = make("max=4 stations=0x3f");
    d.ParseBaudOpt();
    d.ParseResetOpt();
    ASSERT_EQ(1, d.Connect());
    EXPECT_EQ(4u, d.m_nDetected);
    EXPECT_EQ(0x3fu, d.m_dwDetectedMap);
    EXPECT_EQ(0x3fu, d.m_dwSensorMap);
    d.m_nMaxTrackers = 32;
    EXPECT_EQ(32u, d.CountSensors(0xFFFFFFFFu));
}

TEST_F(ConnectionTest, EveryFailingCallClosesTheConnection)
{
    const struct {
        const char* scenario;
        const char* console;
        const char* trace; // null: the step writes no trace line of its own
    } cases[] = {
        {"fail=SetSerialIF:20010002", "Unable to set baudrate: ", "SetSerialIF Error: "},
        {"fail=DiscoverCnx:20010002", "Unable to read discover tracker: ", nullptr},
        {"fail=GetStationMap:20010002", "Unable to read active station map: ", "GetStationMap Error: "},
        {"fail=GetBITErrs:20010002", "Unable to read tracker BIT results: ", "GetBITErrs Error: "},
    };
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"no"});
        otksim::SetScenario((std::string("frames=manual ") + c.scenario).c_str());
        OvTrackD d(opts.get(), &log);
        d.ParseBaudOpt();
        d.ParseResetOpt();
        clearOutput();
        EXPECT_EQ(0, d.Connect()) << c.scenario;
        ASSERT_EQ(1u, lines().size()) << c.scenario;
        const std::string text = sdkText(lines()[0], c.console);
        EXPECT_FALSE(text.empty()) << c.scenario;
        if (c.trace) {
            EXPECT_TRUE(hasTrace(traces(), c.trace + text + "\r\n")) << c.scenario;
        }
        otksim::State s;
        otksim::GetState(testhelp::simOf(d), s);
        EXPECT_EQ(0, s.linkOpen) << c.scenario;
        EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(d), "Disconnect")) << c.scenario;
    }
}

TEST_F(ConnectionTest, InitReportsAFailedConnection)
{
    serial();
    OvTrackD& d = make("fail=DiscoverCnx:20040001");
    EXPECT_EQ(-1, d.init(&info));
    const std::vector<std::string> got = lines();
    ASSERT_GE(got.size(), 3u);
    EXPECT_FALSE(sdkText(got[0], "Unable to read discover tracker: ").empty());
    EXPECT_EQ("Error: connecting to tracker", got[1]);
    EXPECT_EQ("tarsis0: INFO: DEVICE NAME           : tarsis0", got[2]);
    EXPECT_TRUE(hasTrace(traces(), "Error: connecting to tracker\r\n"));
    EXPECT_TRUE(pauses().empty()); // discovery at connection is tried once
}

TEST_F(ConnectionTest, BuiltInTestErrorsAreOnlyAWarning)
{
    serial();
    OvTrackD& d = make("bit=errors");
    d.ParseBaudOpt();
    d.ParseResetOpt();
    clearOutput();
    EXPECT_EQ(1, d.Connect());
    EXPECT_EQ((std::vector<std::string>{"Tracker reported Built-In Test (BIT) errors."}), lines());
    EXPECT_TRUE(hasTrace(traces(), "BIT Errors reported\r\n"));
}

TEST_F(ConnectionTest, ResetWaitsForTheTrackerToComeBack)
{
    serial("115200", "yes");
    OvTrackD& d = make("restart=3");
    d.ParseBaudOpt();
    d.ParseResetOpt();
    clearOutput();
    ASSERT_EQ(1, d.Connect());
    EXPECT_EQ((std::vector<std::string>{"Resetting tracker..", "Tracker connected."}), lines());
    EXPECT_EQ((std::vector<unsigned>{500, 500, 500}), pauses());
    EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(d), "RestartTracker"));
    EXPECT_EQ(5, otksim::CallCount(testhelp::simOf(d), "DiscoverCnx"));
    EXPECT_EQ(1, state().connected);
}

TEST_F(ConnectionTest, ResetFailuresNameTheirCall)
{
    const struct {
        const char* scenario;
        const char* console;
        const char* trace;
    } cases[] = {
        {"fail=RestartTracker:20010002", "Unable to restart tracker: ", "RestartTracker Error: "},
        {"fail=Disconnect:20010002:1", "Unable to disconnect from tracker", "Disconnect Error: "},
        {"restart=40", "Unable to re-establish connection to tracker", "TryConnect Error: "},
    };
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"yes"});
        otksim::SetScenario((std::string("frames=manual ") + c.scenario).c_str());
        OvTrackD d(opts.get(), &log);
        d.ParseBaudOpt();
        d.ParseResetOpt();
        clearOutput();
        pauses().clear();
        EXPECT_EQ(0, d.Connect()) << c.scenario;
        const std::vector<std::string> got = lines();
        ASSERT_EQ(3u, got.size()) << c.scenario;
        EXPECT_EQ("Resetting tracker..", got[0]);
        const std::string text = sdkText(got[1], c.console);
        EXPECT_TRUE(hasTrace(traces(), c.trace + text + "\r\n")) << c.scenario << " / " << text;
        EXPECT_EQ("Reset tracker failed", got[2]);
        otksim::State s{};
        otksim::GetState(testhelp::simOf(d), s);
        EXPECT_EQ(0, s.linkOpen) << c.scenario; // a failed reset closes the connection
    }
    // The last case tried 30 times with a pause after each, the last included.
    EXPECT_EQ(std::vector<unsigned>(30, 500), pauses());
}

TEST_F(ConnectionTest, TryConnectGivesUpAtOnceOnOtherCodes)
{
    serial();
    OvTrackD& d = make("fail=DiscoverCnx:20010002");
    EXPECT_EQ(0, d.TryConnect());
    EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(d), "DiscoverCnx"));
    EXPECT_TRUE(pauses().empty());

    for (const char* code : {"20040001", "20040005", "20020005"}) {
        otksim::SetScenario((std::string("frames=manual fail=DiscoverCnx:") + code).c_str());
        OvTrackD retrying(cfg.get(), &log);
        pauses().clear();
        EXPECT_EQ(0, retrying.TryConnect()) << code;
        EXPECT_EQ(30, otksim::CallCount(testhelp::simOf(retrying), "DiscoverCnx")) << code;
        EXPECT_EQ(std::vector<unsigned>(30, 500), pauses()) << code;
    }

    otksim::SetScenario("frames=manual fail=DiscoverCnx:20040005:2");
    OvTrackD late(cfg.get(), &log);
    pauses().clear();
    EXPECT_EQ(1, late.TryConnect());
    EXPECT_EQ((std::vector<unsigned>{500, 500}), pauses());
}

// The maker's SDK is bound when the device is made; a library that is not
// found (here, with TARSIS_SDK_DIR naming the tests' folder, in the one
// folder searched), one that lacks a member (the support library in place of
// OTK lacks them all), one that has a member only in a form the module cannot
// call and an SDK object larger than its storage (on Windows also one whose
// constructor runs into the no-access page behind it) each fail init where a
// connection failure does, with a line that says so.
TEST_F(ConnectionTest, AnSdkThatCannotBeBoundFailsTheConnection)
{
#ifdef _WIN32
    const std::string missing = "no_such_tracker_sdk.dll", support = "OvCmdIF.dll", odd = "otkodd.dll";
#else
    const std::string missing = "libno_such_tracker_sdk.so", support = "libOvCmdIF.so", odd = "otkodd.so";
#endif
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    const testhelp::ScopedEnv only("TARSIS_SDK_DIR", dir);
    const struct {
        const char* otk; // null: the usual library
        const char* scenario;
        std::size_t reserved; // 0: the usual storage
        std::string line;
    } cases[] = {
        {missing.c_str(), "", 0,
         "Unable to load tracker SDK " + missing + ": not found in " + dir +
             " (TARSIS_SDK_DIR is set: no other folder is searched)"},
        {support.c_str(), "", 0, "Tracker SDK " + support + " does not export COTKser::COTKser"},
        {odd.c_str(), "", 0,
         "Tracker SDK " + odd + " has COTKser::COTKser only with other parameters (it exports _ZN7COTKserC1Ev)"},
        {nullptr, "footprint=300", 256, "Tracker SDK object COTKdev wrote past its 256 reserved bytes"},
        {nullptr, "footprint=16777280", 0, "Tracker SDK object COTKdev wrote past its 16777216 reserved bytes"},
#ifdef _WIN32
        // Past the band, into the no-access page: the constructor's call is caught.
        {nullptr, "footprint=8192", 256,
         "Tracker SDK call COTKdev::COTKdev caused an access violation (0xC0000005) writing past the storage of an "
         "SDK object"},
#endif
    };
    for (const auto& c : cases) {
        const sdk::LibraryFiles usualFiles = sdk::setLibraryFilesForTests({c.otk, nullptr});
        const std::size_t usualBytes = sdk::setReservedBytesForTests(c.reserved);
        otksim::SetScenario((std::string("frames=manual ") + c.scenario).c_str());
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"no"});
        OvTrackD d(opts.get(), &log);
        sdk::setLibraryFilesForTests(usualFiles);
        sdk::setReservedBytesForTests(usualBytes);
        clearOutput();
        EXPECT_EQ(-1, d.init(&info));
        EXPECT_EQ((std::vector<std::string>{
                      c.line, "Error: connecting to tracker", "tarsis0: INFO: DEVICE NAME           : tarsis0",
                      "tarsis0: INFO: DEVICE TYPE           : Orvane Tracker",
                      "tarsis0: INFO:                       : 0 Sensors Supported",
                      "tarsis0: INFO:                       : 0 Sensors Detected : SensorMap 0",
                      "tarsis0: INFO: Baud Option           : 115200", "tarsis0: INFO: Reset Option          : no",
                      "tarsis0: INFO: -----------------------"}),
                  lines());
        EXPECT_EQ((std::vector<std::string>{"OvTrackD::init()\r\n", "OvTrackD::ParseBaudOpt()\r\n",
                                            "OvTrackD::SetBautOpt()\r\n", "OvTrackD::ParseResetOpt()\r\n",
                                            "OvTrackD::SetResetOpt()\r\n", "OvTrackD::Connect()\r\n",
                                            "Tracker SDK Error: " + c.line + "\r\n",
                                            "Error: connecting to tracker\r\n", "OvTrackD::printConfig()\r\n"}),
                  traces());
    }
}
