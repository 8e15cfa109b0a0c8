#include "helpers/tracker.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

using testhelp::pauses;
using testhelp::stationRecord;
using testhelp::TrackerTest;

namespace {

struct AcquisitionTest : TrackerTest {
    // A device that went through init with the given option lines.
    OvTrackD& ready(const std::string& scenario = "")
    {
        OvTrackD& d = make(scenario);
        EXPECT_EQ(1, d.init(&info));
        clearOutput();
        pauses().clear();
        return d;
    }
    void push(const std::vector<std::vector<unsigned char>>& records, std::size_t extra = 0)
    {
        std::vector<unsigned char> frame;
        for (const auto& r : records)
            frame.insert(frame.end(), r.begin(), r.end());
        frame.resize(frame.size() + extra, 0xEE);
        ASSERT_TRUE(otksim::PushFrame(testhelp::simOf(*dev), frame.data(), static_cast<unsigned long>(frame.size())));
    }
    int cycle() { return dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8); }
    std::array<std::int32_t, 6> pose(unsigned id)
    {
        std::array<std::int32_t, 6> p{};
        for (int i = 0; i < 6; ++i)
            p[i] = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(table.record(id).pose[i])));
        return p;
    }
};

const float kPos[3] = {12, 24, -36};
const float kAng[3] = {10, 20, 30};

bool has(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

} // namespace

TEST_F(AcquisitionTest, TarsisReport)
{
    serial().add("framerate", {"240"}).add("hemisphere", {"+z"}).add("sensormap", {"5"});
    OvTrackD& d = make();
    ASSERT_EQ(1, d.init(&info));
    EXPECT_EQ((std::vector<std::string>{
                  "tarsis0: INFO: DEVICE NAME           : tarsis0",
                  "tarsis0: INFO: DEVICE TYPE           : Orvane Tarsis",
                  "tarsis0: INFO:                       : 16 Sensors Supported",
                  "tarsis0: INFO:                       : 4 Sensors Detected : SensorMap 0xf",
                  "tarsis0: INFO: Baud Option           : 115200",
                  "tarsis0: INFO: Reset Option          : no",
                  "tarsis0: INFO: SensorMap Option      : 5  0x5",
                  "tarsis0: INFO: Hemisphere Option     : +z  (null)  0xffffffff",
                  "tarsis0: INFO: FrameRate Option      : 240",
                  "tarsis0: INFO: CAVE COORDINATES      : Used",
                  "tarsis0: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
                  "tarsis0: INFO:                       : 1->1 3->2",
                  "tarsis0: INFO: -----------------------",
              }),
              lines());
    EXPECT_EQ("OvTrackD::init()\r\n", traces().front());
    EXPECT_EQ(2u, table.count());
}

TEST_F(AcquisitionTest, BrevikReport)
{
    serial("9600", "no").add("framerate", {"120"});
    OvTrackD& d = make("type=brevik");
    ASSERT_EQ(1, d.init(&info));
    EXPECT_EQ((std::vector<std::string>{
                  "FrameRate is fixed at 60 Hz for Orvane Brevik.",
                  "tarsis0: INFO: DEVICE NAME           : tarsis0",
                  "tarsis0: INFO: DEVICE TYPE           : Orvane Brevik",
                  "tarsis0: INFO:                       : 2 Sensors Supported",
                  "tarsis0: INFO:                       : 2 Sensors Detected : SensorMap 0x3",
                  "tarsis0: INFO: Baud Option           : 9600",
                  "tarsis0: INFO: Reset Option          : no",
                  "tarsis0: INFO: FrameRate Option      : 60",
                  "tarsis0: INFO: CAVE COORDINATES      : Used",
                  "tarsis0: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
                  "tarsis0: INFO:                       : 1->1 2->2",
                  "tarsis0: INFO: -----------------------",
              }),
              lines());
}

TEST_F(AcquisitionTest, InitWithoutInitInfoStillReports)
{
    serial();
    OvTrackD& d = make();
    EXPECT_EQ(-1, d.init(nullptr));
    EXPECT_EQ((std::vector<std::string>{
                  "tarsis0: ERROR: Init info is empty.",
                  "Error: calling setInitInfo",
                  "tarsis0: INFO: DEVICE NAME           : (null)",
                  "tarsis0: INFO: DEVICE TYPE           : Orvane Tarsis",
                  "tarsis0: INFO:                       : 0 Sensors Supported",
                  "tarsis0: INFO:                       : 0 Sensors Detected : SensorMap 0",
                  "tarsis0: INFO: -----------------------",
              }),
              lines());
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::init()\r\n", "Error: calling setInitInfo\r\n",
                                        "OvTrackD::printConfig()\r\n"}),
              traces());
}

TEST_F(AcquisitionTest, CalibrationThatDoesNotStartIsNotFatal)
{
    serial().add("calibration", {"no-such-calibration"});
    OvTrackD& d = make();
    EXPECT_EQ(1, d.init(&info));
    EXPECT_TRUE(has(lines(), "Error: initCalib"));
    EXPECT_TRUE(has(traces(), "Error: initCalib\r\n"));
    EXPECT_EQ("tarsis0: INFO: -----------------------", lines().back());
}

TEST_F(AcquisitionTest, ConfigureWithoutOptionsOnlySetsTheOutput)
{
    serial();
    OvTrackD& d = ready("bit=errors");
    EXPECT_EQ(2, d.configure());
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::configure()\r\n", "OvTrackD::CfgOutput()\r\n"}), traces());
    EXPECT_TRUE(lines().empty());
    const otksim::State s = state();
    ASSERT_EQ(2, s.dataListCount);
    EXPECT_EQ(2, s.dataList[0]);
    EXPECT_EQ(4, s.dataList[1]);
    EXPECT_EQ(0u, s.bitErrors);
}

TEST_F(AcquisitionTest, ConfigurePushesEverySetting)
{
    serial().add("framerate", {"240"}).add("sensormap", {"3"}).add("hemisphere", {"-y", "5"}).add("CaveCoordinates", {"yes"});
    OvTrackD& d = ready();
    EXPECT_EQ(2, d.configure());
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::configure()\r\n", "OvTrackD::CfgFrameRate()\r\n",
                                        "OvTrackD::CfgSensorMap()\r\n", "OvTrackD::CfgHemi()\r\n",
                                        "OvTrackD::CfgCAVECoordAlignment()\r\n", "OvTrackD::CfgOutput()\r\n"}),
              traces());
    const otksim::State s = state();
    EXPECT_EQ(OV_FRAMERATE_240, s.frameRate);
    EXPECT_EQ(0x3u, s.activeMap);
    // The mask 0x5 sends one command each to stations 1 and 3.
    EXPECT_EQ(1, s.hemisphereSet[1]);
    EXPECT_EQ(0, s.hemisphereSet[2]);
    EXPECT_EQ(1, s.hemisphereSet[3]);
    EXPECT_EQ(0, s.hemisphereSet[0]);
    EXPECT_EQ(-1.0f, s.hemisphere[3][1]);
    EXPECT_EQ(1, s.alignmentSet);
    EXPECT_EQ(-200.0f, s.alignment[1][2]);
    EXPECT_EQ(200.0f, s.alignment[2][0]);
    EXPECT_TRUE(lines().empty());
}

TEST_F(AcquisitionTest, ConfigureReportsEachFailureAndGoesOn)
{
    const struct {
        const char* scenario;
        const char* trace;   // trace text before the SDK's message
        const char* console; // console text before the SDK's message, null: none
    } cases[] = {
        {"fail=SetFrameRate:20010002", "SetFrameRate Error: ", nullptr},
        {"fail=SetStationMap:20010002", "SetStationMap Error: ", "Set Tracker Sensor Map Error: "},
        {"fail=SetSHemisphere:20010002", "SetSHemisphere Error: ", "Set Hemisphere Error: "},
        {"fail=ResetSAlignment:20010002", "ResetSAlignment Error: ", "Reset Alignment Error: "},
        {"fail=SetSAlignment:20010002", "SetSAlignment Error: ", "Set CAVECoordinates Alignment Error: "},
        {"fail=SetSDataList:20010002", "SetSDataList Error: ", "Set Tracker Output Data Error: "},
        {"fail=ClearBITErrs:20010002", "ClearBITErrs Error: ", "Clear Tracker BIT Results Error: "},
    };
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"no"}).add("framerate", {"120"}).add("sensormap", {"3"});
        opts.add("hemisphere", {"+x", "1"}).add("CaveCoordinates", {"yes"});
        otksim::SetScenario((std::string("frames=manual ") + c.scenario).c_str());
        OvTrackD d(opts.get(), &log);
        ASSERT_EQ(1, d.init(&info)) << c.scenario;
        clearOutput();
        EXPECT_EQ(2, d.configure()) << c.scenario;
        // Later steps still ran: the output list is set unless its own step failed.
        std::vector<std::string> errors;
        for (const auto& t : traces())
            if (t.find(" Error: ") != std::string::npos)
                errors.push_back(t);
        ASSERT_EQ(1u, errors.size()) << c.scenario;
        const std::string text = errors[0].substr(std::string(c.trace).size(), errors[0].size() - std::string(c.trace).size() - 2);
        EXPECT_EQ(c.trace + text + "\r\n", errors[0]);
        if (!c.console) {
            EXPECT_TRUE(lines().empty()) << c.scenario;
        } else if (std::string(c.scenario).find("SetStationMap") != std::string::npos) {
            EXPECT_EQ((std::vector<std::string>{c.console + text + "  Check Sensor Connections!"}), lines());
        } else {
            EXPECT_EQ((std::vector<std::string>{c.console + text}), lines()) << c.scenario;
        }
        EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(d), "ClearBITErrs") + (std::string(c.scenario).find("SetSDataList") != std::string::npos)) << c.scenario;
    }
}

TEST_F(AcquisitionTest, UnconfirmedCommandsThatTookEffect)
{
    serial().add("sensormap", {"3"}).add("CaveCoordinates", {"yes"});
    OvTrackD& d = ready("fail=SetStationMap:20040003,SetSAlignment:20040003");
    EXPECT_EQ(1, d.CfgSensorMap());
    EXPECT_EQ(1, d.CfgCAVECoordAlignment());
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(0x3u, state().activeMap);
}

TEST_F(AcquisitionTest, StationMapAboveBitFifteenVerifiesWhole)
{
    // The read-back compares all 32 bits: a map above station 16 that took
    // effect is no failure.
    serial().add("sensormap", {"10000"});
    OvTrackD& d = ready("max=32 stations=0x10001 fail=SetStationMap:20040003");
    EXPECT_EQ(1, d.CfgSensorMap());
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::CfgSensorMap()\r\n"}), traces());
    EXPECT_EQ(0x10000u, state().activeMap);
}

TEST_F(AcquisitionTest, StartAndStop)
{
    serial();
    OvTrackD& d = ready();
    d.configure();
    clearOutput();
    ASSERT_TRUE(d.start());
    EXPECT_EQ(1, d.m_bContRunning);
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::start()\r\n", "Cont Started\r\n"}), traces());
    EXPECT_FALSE(d.start());
    EXPECT_EQ((std::vector<std::string>{"start: Tracker already in continuous mode"}), lines());
    EXPECT_EQ("OvTrackD::start: Tracker already in continuous mode\r\n", traces().back());
    EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(d), "StartContPno"));
    clearOutput();
    EXPECT_TRUE(d.stop());
    EXPECT_EQ(0, d.m_bContRunning);
    EXPECT_EQ(0, state().linkOpen);
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::stop()\r\n", "OvTrackD::StopCont()\r\n"}), traces());
}

TEST_F(AcquisitionTest, StopWithoutStartOnlyDisconnects)
{
    serial();
    OvTrackD& d = ready();
    EXPECT_TRUE(d.stop());
    EXPECT_EQ(0, otksim::CallCount(testhelp::simOf(d), "StopContPno"));
    EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(d), "Disconnect"));
}

TEST_F(AcquisitionTest, StartFailures)
{
    for (const char* op : {"ClearPnoBuffer", "StartContPno"}) {
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"no"});
        otksim::SetScenario((std::string("frames=manual fail=") + op + ":20010002").c_str());
        OvTrackD d(opts.get(), &log);
        ASSERT_EQ(1, d.init(&info));
        clearOutput();
        EXPECT_FALSE(d.start());
        EXPECT_EQ(0, d.m_bContRunning);
        const std::string console = std::string(op) == "ClearPnoBuffer" ? "Error clearing pno ptr: " : "Error starting cont pno: ";
        ASSERT_EQ(1u, lines().size());
        const std::string text = sdkText(lines()[0], console);
        EXPECT_EQ(std::string(op) + " Error: " + text + "\r\n", traces().back());
    }
}

TEST_F(AcquisitionTest, StopFailures)
{
    serial();
    OvTrackD& d = ready("fail=StopContPno:20010002:1,Disconnect:20010002:1");
    ASSERT_TRUE(d.start());
    clearOutput();
    EXPECT_FALSE(d.stop());
    EXPECT_EQ(1, d.m_bContRunning);
    EXPECT_EQ(1, state().linkOpen); // a stream that did not stop keeps the connection
    ASSERT_EQ(1u, lines().size());
    const std::string text = sdkText(lines()[0], "Error stopping cont pno: ");
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(has(traces(), "StopContPno Error: " + text + " \r\n"));

    clearOutput();
    EXPECT_FALSE(d.stop());
    EXPECT_EQ(0, d.m_bContRunning);
    ASSERT_EQ(1u, lines().size());
    const std::string text2 = sdkText(lines()[0], "Unable to disconnect from tracker");
    EXPECT_TRUE(has(traces(), "Disconnect Error: " + text2 + "\r\n"));
    EXPECT_TRUE(d.stop());
}

TEST_F(AcquisitionTest, FramesBecomeRecords)
{
    serial();
    OvTrackD& d = ready("stations=b"); // stations 1, 2 and 4 get the ids 1, 2 and 3
    d.configure();
    ASSERT_TRUE(d.start());
    clearOutput();
    const float pos2[3] = {0, -12, 6};
    const float ang2[3] = {-90, 45, 180};
    push({stationRecord(1, kPos, kAng), stationRecord(2, pos2, ang2), stationRecord(4, kPos, kAng)});
    ASSERT_EQ(1, cycle());
    EXPECT_EQ((std::array<std::int32_t, 6>{100000, 200000, -300000, 1000000, 2000000, 3000000}), pose(1));
    EXPECT_EQ((std::array<std::int32_t, 6>{0, -100000, 50000, -9000000, 4500000, 18000000}), pose(2));
    EXPECT_EQ(3u, plat::netToHost32(table.record(3).id));
    EXPECT_EQ(0u, table.record(4).id);
    EXPECT_EQ(0x07, flags.trackerMask[3]);
    EXPECT_EQ((std::vector<unsigned>{1}), pauses());
    EXPECT_TRUE(lines().empty());

    // Nothing new: success without touching the table, still one pause.
    table.record(1).pose[0] = 0;
    flags.trackerMask[3] = 0xFF;
    ASSERT_EQ(1, cycle());
    EXPECT_EQ(0, table.record(1).pose[0]);
    EXPECT_EQ(0, flags.trackerMask[3]);
    EXPECT_EQ((std::vector<unsigned>{1, 1}), pauses());
}

TEST_F(AcquisitionTest, CaveCoordinatesRemapTheSample)
{
    serial().add("CaveCoordinates", {"yes"});
    OvTrackD& d = ready("stations=1");
    d.configure();
    d.start();
    push({stationRecord(1, kPos, kAng)});
    ASSERT_EQ(1, cycle());
    EXPECT_EQ((std::array<std::int32_t, 6>{200000, 300000, -100000, -1000000, 2000000, -3000000}), pose(1));
}

TEST_F(AcquisitionTest, RejectedSampleEndsTheFrame)
{
    serial();
    OvTrackD& d = ready("stations=7");
    d.start();
    table.count() = 1; // station 2 (id 2) finds no record of its own
    std::cout << std::fixed; // an earlier report's format must not leak into the line
    push({stationRecord(1, kPos, kAng), stationRecord(2, kPos, kAng), stationRecord(3, kPos, kAng)});
    EXPECT_EQ(0, d.update());
    EXPECT_EQ((std::vector<std::string>{"tarsis0: ERROR: TraData storage not found",
                                        "Error : setTraData: sens 2 1 2 -3 10 20 30"}),
              lines());
    EXPECT_EQ(1u, plat::netToHost32(table.record(1).id));
    EXPECT_EQ(0u, table.record(2).id);
    EXPECT_EQ(0u, table.record(3).id);
    // The frame counts as processed: the same frame is not read again.
    clearOutput();
    EXPECT_EQ(1, d.update());
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(2u, pauses().size());
    EXPECT_EQ(-1, [&] { push({stationRecord(0, kPos, kAng)}); return cycle(); }());
}

TEST_F(AcquisitionTest, UpdateFailures)
{
    serial();
    OvTrackD& d = ready("fail=LastHostFrameCount:20010002:1,LastPnoPtr:20010002:1");
    d.start();
    push({stationRecord(1, kPos, kAng)});
    EXPECT_EQ(0, d.update());
    ASSERT_EQ(1u, lines().size());
    std::string text = sdkText(lines()[0], "Unable to retrieve last host frame count");
    EXPECT_EQ("LastHostFrameCount Error: " + text + "\r\n", traces().back());
    clearOutput();
    EXPECT_EQ(0, d.update());
    text = sdkText(lines().at(0), "Unable to retrieve last pno ptr");
    EXPECT_EQ("LastPnoPtr Error: " + text + "\r\n", traces().back());
    EXPECT_EQ(0u, d.m_dwLastFrameCount);
    clearOutput();
    ASSERT_TRUE(otksim::PushFrame(testhelp::simOf(d), nullptr, 0));
    EXPECT_EQ(0, d.update());
    EXPECT_EQ((std::vector<std::string>{"No pno data ready"}), lines());
    EXPECT_EQ("No pno data ready\r\n", traces().back());
    EXPECT_EQ(3u, pauses().size());
}

TEST_F(AcquisitionTest, RealStreamKeepsRecordsComing)
{
    serial();
    otksim::SetScenario("frames=thread rate=240");
    dev.reset(new OvTrackD(cfg.get(), &log));
    ASSERT_EQ(1, dev->init(&info));
    dev->configure();
    ASSERT_TRUE(dev->start());
    std::uint32_t lastSec = 0, lastUsec = 0;
    int rewritten = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_EQ(1, cycle());
        if (flags.trackerMask[3] & 1) {
            table.storage()->lock();
            const std::uint32_t sec = plat::netToHost32(table.record(1).seconds);
            const std::uint32_t usec = plat::netToHost32(table.record(1).micros);
            table.storage()->unlock();
            EXPECT_TRUE(sec > lastSec || (sec == lastSec && usec >= lastUsec));
            lastSec = sec;
            lastUsec = usec;
            ++rewritten;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(rewritten, 10);
    EXPECT_TRUE(dev->stop());
    EXPECT_EQ(0, state().producerRunning);
}
