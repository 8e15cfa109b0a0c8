// Paths of init, configure, update and stop that only a failing step or a
// calibration library reaches: what each prints, returns and leaves behind.
#include "helpers/tracker.h"

#include <algorithm>

using testhelp::stationRecord;
using testhelp::TrackerTest;

namespace {

using Lines = std::vector<std::string>;

struct PathsTest : TrackerTest {
    int cycle() { return dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8); }
    void push(const std::vector<unsigned char>& frame)
    {
        ASSERT_TRUE(otksim::PushFrame(testhelp::simOf(*dev), frame.data(), static_cast<unsigned long>(frame.size())));
    }
    // Lines before the report that closes init.
    Lines beforeReport() const
    {
        const Lines all = lines();
        Lines out;
        for (const std::string& l : all) {
            if (l.find("DEVICE NAME") != std::string::npos)
                break;
            out.push_back(l);
        }
        return out;
    }
    bool hasLine(const std::string& part) const
    {
        const Lines all = lines();
        return std::any_of(all.begin(), all.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
};

const float kZero[3] = {0, 0, 0};

} // namespace

TEST_F(PathsTest, InitFailingAtTheSensorMapOrTablesStepKeepsTheConnection)
{
    const struct {
        bool storage;
        Lines console;
        const char* trace;
    } cases[] = {
        {true,
         {"Invalid SensorMap Argument on Line 30.", "Error: parsing tracker-specific config options "},
         "Error: parsing tracker-specific config options\r\n"},
        {false, {"tarsis0: ERROR: Tracker data storage pointer is empty.", "Error: initTables "}, "Error: initTables\r\n"},
    };
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("baud", {"115200"}).add("reset", {"no"}).add("sensormap", {c.storage ? "7" : "3"});
        info.traStorage = c.storage ? table.storage() : nullptr;
        otksim::SetScenario("frames=manual stations=0x3");
        dev.reset(new OvTrackD(opts.get(), &log));
        clearOutput();
        EXPECT_EQ(-1, dev->init(&info));
        EXPECT_EQ(c.console, beforeReport());
        const Lines all = lines();
        EXPECT_EQ("tarsis0: INFO: -----------------------", all.back()); // the report, once
        EXPECT_EQ(1, std::count_if(all.begin(), all.end(),
                                   [](const std::string& l) { return l.find("DEVICE NAME") != std::string::npos; }));
        const std::vector<std::string>& t = traces();
        const auto at = std::find(t.begin(), t.end(), std::string(c.trace));
        ASSERT_NE(t.end(), at) << c.trace;
        ASSERT_NE(t.end(), at + 1);
        EXPECT_EQ("OvTrackD::printConfig()\r\n", *(at + 1));
        EXPECT_EQ(1, state().linkOpen);
        dev.reset(); // before the lines it points into
    }
}

TEST_F(PathsTest, CalibrationRunsBeforeTheTransformsAndItsFailureTakesNoLock)
{
    // A correction of +1 ft in x, then a transmitter turn of 90 degrees about
    // z: (1, 0, 0) becomes (0, 1, 0). The other order would store (1, 0, 0).
    serial().add("calibration", {testhelp::moduleFile("tarsiscalib").c_str(), "offset=1,0,0"});
    cfg.add("transmitterrotation", {"0", "0", "1", "90"});
    // One sensor, so that a frame of one record has the right shape.
    make("stations=1");
    ASSERT_EQ(1, dev->init(&info));
    push(stationRecord(1, kZero, kZero));
    ASSERT_EQ(1, cycle());
    EXPECT_NEAR(0, static_cast<std::int32_t>(plat::netToHost32(table.record(1).pose[0])), 1);
    EXPECT_NEAR(100000, static_cast<std::int32_t>(plat::netToHost32(table.record(1).pose[1])), 1);

    // With the table's mutex made unusable a lock attempt shows: it does for
    // a sample that passes the calibration ...
    plat::MutexHandle handle = table.storage()->m_pMutex->m_hMutex;
    table.storage()->m_pMutex->m_hMutex = nullptr;
    push(stationRecord(1, kZero, kZero));
    clearOutput();
    cycle();
    table.storage()->m_pMutex->m_hMutex = handle;
    EXPECT_TRUE(hasLine("CMutexH"));

    // ... but not when a library without calib_evaluate fails every sample.
    testhelp::Config noEval;
    noEval.add("baud", {"115200"}).add("reset", {"no"});
    noEval.add("calibration", {testhelp::moduleFile("calibnoeval").c_str()});
    otksim::SetScenario("frames=manual stations=1");
    dev.reset(new OvTrackD(noEval.get(), &log));
    testhelp::Table other;
    info.traStorage = other.storage();
    ASSERT_EQ(1, dev->init(&info));
    push(stationRecord(1, kZero, kZero));
    CMutexH& mutex = *other.storage()->m_pMutex;
    handle = mutex.m_hMutex;
    mutex.m_hMutex = nullptr;
    clearOutput();
    cycle();
    mutex.m_hMutex = handle;
    EXPECT_FALSE(hasLine("CMutexH"));
    EXPECT_TRUE(hasLine("Error : setTraData: sens 1"));
    EXPECT_EQ(0u, other.record(1).id);
    EXPECT_EQ(0, flags.trackerMask[3]);
}

TEST_F(PathsTest, StopReportsACalibrationLibraryThatDoesNotEnd)
{
    serial().add("calibration", {"no-such-calibration"});
    make();
    ASSERT_EQ(1, dev->init(&info));
    clearOutput();
    EXPECT_FALSE(dev->stop());
    EXPECT_EQ((Lines{"tarsis0: ERROR: CDynamicLibH: Library has not been loaded.", "Error: deinitCalib"}), lines());
    EXPECT_EQ(0, state().linkOpen); // the disconnect came first
}

TEST_F(PathsTest, HemisphereForAllStationsIsOneCommandAndAFailureStopsTheRest)
{
    serial().add("hemisphere", {"-y"});
    make();
    ASSERT_EQ(1, dev->init(&info));
    EXPECT_EQ(1, dev->CfgHemi());
    EXPECT_EQ(1, state().hemisphereSet[0]);
    EXPECT_EQ(0, state().hemisphereSet[1]);
    EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(*dev), "SetSHemisphere"));

    testhelp::Config three;
    three.add("baud", {"115200"}).add("reset", {"no"}).add("hemisphere", {"+x", "7"});
    otksim::SetScenario("frames=manual fail=SetSHemisphere:20010002:1");
    dev.reset(new OvTrackD(three.get(), &log));
    ASSERT_EQ(1, dev->init(&info));
    clearOutput();
    EXPECT_EQ(0, dev->CfgHemi());
    EXPECT_EQ(1, otksim::CallCount(testhelp::simOf(*dev), "SetSHemisphere")); // stations 2 and 3 never sent
    ASSERT_EQ(1u, lines().size());
    const std::string text = sdkText(lines()[0], "Set Hemisphere Error: ");
    EXPECT_EQ("SetSHemisphere Error: " + text + "\r\n", traces().back());
}

TEST_F(PathsTest, SensorMapWhoseReadBackFails)
{
    // Connected without Connect, whose own station-map read would take the fault.
    make("fail=SetStationMap:20040003,GetStationMap:20010002");
    ASSERT_EQ(1, dev->DevConnect());
    dev->m_dwSensorMap = 0x3;
    clearOutput();
    EXPECT_EQ(0, dev->CfgSensorMap());
    ASSERT_EQ(1u, lines().size());
    const std::string text = sdkText(lines()[0], "Verify Tracker Sensor Map Error: ");
    EXPECT_EQ((std::vector<std::string>{"OvTrackD::CfgSensorMap()\r\n", "GetStationMap Error: " + text + "\r\n"}),
              traces());
}

TEST_F(PathsTest, FrameShorterThanOneRecordWritesNothing)
{
    serial();
    make();
    ASSERT_EQ(1, dev->init(&info));
    ASSERT_TRUE(dev->start());
    std::vector<unsigned char> part = stationRecord(1, kZero, kZero);
    part.resize(20);
    push(part);
    cycle();
    EXPECT_EQ(0u, table.record(1).id);
    EXPECT_EQ(0, flags.trackerMask[3]);
}
