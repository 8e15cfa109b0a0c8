// The device base's controller steps, in-process on a bare device whose counts
// the test sets: which handlers exist when, which records are claimed, and
// what is said when a step fails.
#include "common/concommon.h"
#include "common/tracommon.h"
#include "controller/records.h"
#include "helpers/capture.h"
#include "helpers/emulation.h"
#include "helpers/host.h"
#include "helpers/testdevice.h"

#include <gtest/gtest.h>

#include <thread>

using ctltest::idOf;
using ctltest::Pose;
using ctltest::poseOf;
using ctltest::untouched;
using testhelp::Config;
using testhelp::Table;
using testhelp::TestDevice;

namespace {

struct ControllerSteps : ctltest::HostTables {
    Config cfg{"con0"};
    // The controller emulates a tracker at (1, 2, 3) feet, elevation 90.
    void emulateOn(const char* controller)
    {
        cfg.add("emulatetracker", {controller, "[1,2,3,0,90,0]", "0", "0", "0", "0", "0", "0"});
    }
    // A device with `controllers` controllers and the given tracker counts,
    // after setInitInfo; the steps themselves are left to the test.
    void prepare(TestDevice& dev, unsigned controllersCount, unsigned maxTrackers, unsigned ownTrackers)
    {
        ASSERT_EQ(1, dev.setInitInfo(&info));
        dev.m_nMaxControllers = controllersCount;
        dev.m_nControllers = controllersCount;
        dev.m_nMaxTrackers = maxTrackers;
        dev.m_nTrackers = ownTrackers;
    }
};

const Pose kEmulatedPose{100000, 200000, 300000, 0, 9000000, 0};

} // namespace

TEST_F(ControllerSteps, EmulationAloneCreatesTheTrackerHandlerAtParseTime)
{
    // Another device's three trackers are in the table first.
    Config tracked("tra0");
    TestDevice tracker(tracked.get(), &log);
    ASSERT_TRUE(tracker.setUp(&info, 3, 3));
    ASSERT_EQ(3u, trackers.count());

    emulateOn("1");
    TestDevice dev(cfg.get(), &log);
    prepare(dev, 2, 1, 0);
    ASSERT_TRUE(dev.initTables());
    CConCommonH* con = dev.m_pInit->pConCommon;
    ASSERT_NE(nullptr, con);
    EXPECT_EQ(nullptr, dev.m_pInit->pTraCommon);
    EXPECT_EQ(2u, con->m_nControllers);
    EXPECT_EQ(2u, con->m_nOutControllers);
    EXPECT_TRUE(con->m_bInputConnector);

    ASSERT_TRUE(dev.initCommonOpts());
    EXPECT_EQ(1u, dev.m_nEmulated);
    EXPECT_EQ(0u, con->m_nIdOffset);
    EXPECT_EQ(2u, controllers.count());
    CTraCommonH* tra = dev.m_pInit->pTraCommon;
    ASSERT_NE(nullptr, tra);
    EXPECT_EQ(1u, tra->m_nOutTrackers);
    EXPECT_EQ(3u, tra->m_nIdOffset);
    ASSERT_EQ(1u, tra->m_nTrackers);
    EXPECT_EQ(1u, tra->m_pTrackers[0].order);
    EXPECT_EQ(4u, trackers.count());
    EXPECT_EQ(4u, idOf(trackers.record(4)));
    EXPECT_EQ(kEmulatedPose, poseOf(trackers.record(4)));
    EXPECT_EQ(std::string::npos, out.text().find("ERROR"));
}

TEST_F(ControllerSteps, WithoutTrackerTableTheRecordIsStillClaimedAndFilled)
{
    emulateOn("1");
    TestDevice dev(cfg.get(), &log);
    prepare(dev, 2, 0, 0);
    ASSERT_TRUE(dev.initTables());
    ASSERT_TRUE(dev.initCommonOpts());
    ASSERT_NE(nullptr, dev.m_pInit->pTraCommon);
    EXPECT_EQ(nullptr, dev.m_pInit->pTraCommon->m_pTrackers);
    EXPECT_EQ(1u, trackers.count());
    EXPECT_EQ(1u, idOf(trackers.record(1)));
    EXPECT_EQ(kEmulatedPose, poseOf(trackers.record(1)));
    // The handler's option parse has no table to work on: said, not fatal.
    EXPECT_EQ((std::vector<std::string>{"con0: ERROR: CTraCommonH: lookup is Null."}), out.lines());
}

TEST_F(ControllerSteps, NoControllerStorageStopsInitTables)
{
    info.conStorage = nullptr;
    TestDevice dev(cfg.get(), &log);
    prepare(dev, 2, 1, 1);
    EXPECT_FALSE(dev.initTables());
    EXPECT_EQ(nullptr, dev.m_pInit->pConCommon);
    EXPECT_EQ(nullptr, dev.m_pInit->pTraCommon); // the controller step runs first
    EXPECT_EQ((std::vector<std::string>{"con0: ERROR: Controller data storage pointer is empty."}), out.lines());
}

TEST_F(ControllerSteps, RefusedControllerCountStopsBeforeTrackerWork)
{
    controllers.count() = 31;
    emulateOn("1");
    TestDevice dev(cfg.get(), &log);
    prepare(dev, 2, 1, 0);
    ASSERT_TRUE(dev.initTables());
    EXPECT_FALSE(dev.initCommonOpts());
    EXPECT_EQ(31u, controllers.count());
    EXPECT_EQ(0u, dev.m_nEmulated);
    EXPECT_EQ(nullptr, dev.m_pInit->pTraCommon);
    EXPECT_EQ(0u, trackers.count());
    EXPECT_TRUE(untouched(trackers.record(1)));
    EXPECT_EQ((std::vector<std::string>{"CDataStorage: ERROR: CDataStorage: The new number is too big."}),
              out.lines());
}

TEST_F(ControllerSteps, AFailedLockOfEitherTableClaimsNothing)
{
#if !defined(_WIN32)
    // qemu-user keeps no robust futex list: the lock would wait forever.
    if (const char* emulator = testhelp::underQemuUser())
        GTEST_SKIP() << "an abandoned robust mutex is never reported under " << emulator;
#endif
    for (const bool trackerTable : {false, true}) {
        SCOPED_TRACE(trackerTable ? "tracker table" : "controller table");
        trackers.count() = 0;
        controllers.count() = 0;
        out.clear();
        Config config{"con0"};
        config.add("emulatetracker", {"1", "[1,2,3,0,90,0]", "0", "0", "0", "0", "0", "0"});
        CDataStorage* storage = trackerTable ? trackers.storage() : controllers.storage();
        std::thread owner([storage] { EXPECT_TRUE(storage->lock()); }); // ends holding it: abandoned
        owner.join();
        TestDevice dev(config.get(), &log);
        prepare(dev, 2, 1, 0);
        ASSERT_TRUE(dev.initTables());
        EXPECT_FALSE(dev.initCommonOpts());
        EXPECT_EQ(trackerTable ? 2u : 0u, controllers.count());
        EXPECT_EQ(0u, trackers.count());
        EXPECT_TRUE(untouched(trackers.record(1)));
        const auto lines = out.lines();
        ASSERT_EQ(1u, lines.size()) << out.text();
        EXPECT_EQ(0u, lines[0].find("CMutexH: ERROR: CMutexH: Locking mutex: ")) << lines[0];
    }
}

TEST_F(ControllerSteps, EmulationWithoutTrackerStorageFails)
{
    info.traStorage = nullptr;
    emulateOn("1");
    TestDevice dev(cfg.get(), &log);
    prepare(dev, 2, 1, 0);
    ASSERT_TRUE(dev.initTables()); // no own trackers: no tracker table needed yet
    EXPECT_FALSE(dev.initCommonOpts());
    EXPECT_EQ(2u, controllers.count());
    EXPECT_EQ((std::vector<std::string>{"con0: ERROR: Tracker data storage pointer is empty."}), out.lines());
}

TEST_F(ControllerSteps, RefusedTrackerCountLeavesOtherDevicesRecordsAlone)
{
    trackers.count() = 31;
    trackers.record(31).id = plat::hostToNet32(31);
    emulateOn("1");
    emulateOn("2");
    TestDevice dev(cfg.get(), &log);
    prepare(dev, 2, 2, 0);
    ASSERT_TRUE(dev.initTables());
    EXPECT_FALSE(dev.initCommonOpts());
    EXPECT_EQ(2u, dev.m_nEmulated);
    EXPECT_EQ(31u, trackers.count());
    EXPECT_EQ(31u, idOf(trackers.record(31)));
    EXPECT_EQ((Pose{0, 0, 0, 0, 0, 0}), poseOf(trackers.record(31)));
    EXPECT_TRUE(untouched(trackers.record(32)));
    EXPECT_EQ((std::vector<std::string>{"CDataStorage: ERROR: CDataStorage: The new number is too big.",
                                        "con0: ERROR: Could not find tracker data entry.",
                                        "con0: ERROR: Could not find tracker data entry."}),
              out.lines());
}
