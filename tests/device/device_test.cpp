#include "common/tracommon.h"
#include "helpers/capture.h"
#include "helpers/emulation.h"
#include "helpers/host.h"
#include "helpers/testdevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using testhelp::CaptureStdout;
using testhelp::Config;
using testhelp::Table;
using testhelp::TestDevice;

namespace {

struct DeviceTest : ::testing::Test {
    Config cfg{"tarsis0"};
    CLogger log = testhelp::quietLogger("tarsis0");
    Table trackers{Table::Trackers};
    InitInfo info{};

    void SetUp() override
    {
        info.traStorage = trackers.storage();
        for (unsigned i = 0; i < sizeof info.hostData; ++i)
            info.hostData[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
};

} // namespace

TEST_F(DeviceTest, StartValues)
{
    TestDevice dev(cfg.get(), &log);
    EXPECT_EQ(cfg.get(), dev.m_pConfig);
    EXPECT_EQ(nullptr, dev.m_pInit);
    EXPECT_EQ(nullptr, dev.m_pszName);
    EXPECT_EQ(0u, dev.m_nMaxTrackers + dev.m_nMaxControllers + dev.m_nTrackers + dev.m_nControllers + dev.m_nEmulated);
    EXPECT_EQ(0, dev.reservedOp(0xFFFFFFFFu, 7));
}

TEST_F(DeviceTest, SetInitInfoWithoutRecordLogsAndFails)
{
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    EXPECT_EQ(0, dev.setInitInfo(nullptr));
    EXPECT_EQ("tarsis0: ERROR: Init info is empty.\n", out.text());
    EXPECT_EQ(nullptr, dev.m_pInit);
}

TEST_F(DeviceTest, SetInitInfoKeepsTheHostBytesAndCopiesTheName)
{
    TestDevice dev(cfg.get(), &log);
    dev.m_bInputConnector = false;
    ASSERT_EQ(1, dev.setInitInfo(&info));
    ASSERT_NE(nullptr, dev.m_pInit);
    EXPECT_EQ(trackers.storage(), dev.m_pInit->pTraStorage);
    EXPECT_EQ(nullptr, dev.m_pInit->pConStorage);
    EXPECT_EQ(0, std::memcmp(info.hostData, dev.m_pInit->hostData, sizeof info.hostData));
    EXPECT_EQ(nullptr, dev.m_pInit->pTraCommon);
    EXPECT_EQ(nullptr, dev.m_pInit->pConCommon);
    EXPECT_EQ(nullptr, dev.m_pInit->pUpdateFlags);
    ASSERT_NE(nullptr, dev.m_pszName);
    EXPECT_STREQ("tarsis0", dev.m_pszName);
    EXPECT_NE(cfg.get()->deviceName, dev.m_pszName);
    EXPECT_TRUE(dev.m_bInputConnector);
}

TEST_F(DeviceTest, HeaderIsOneWholeLine)
{
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    // Before init has copied the name the header still prints safely.
    EXPECT_TRUE(dev.printHeader());
    dev.setInitInfo(&info);
    EXPECT_TRUE(dev.printHeader());
    EXPECT_EQ((std::vector<std::string>{"tarsis0: INFO: DEVICE NAME           : (null)",
                                        "tarsis0: INFO: DEVICE NAME           : tarsis0"}),
              out.lines());
}

TEST_F(DeviceTest, RecvDataWithoutHandlersTouchesNothing)
{
    TestDevice dev(cfg.get(), &log);
    dev.setInitInfo(&info);
    unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(1, dev.recvData(buffer, 8));
    EXPECT_EQ(0, dev.updates);
    EXPECT_EQ(0, dev.conUpdates);
    const unsigned char same[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, std::memcmp(same, buffer, 8));
    EXPECT_EQ(reinterpret_cast<UpdateFlags*>(buffer), dev.m_pInit->pUpdateFlags);
}

TEST_F(DeviceTest, RecvDataClearsOnlyTheTrackerMaskAndRunsUpdate)
{
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    ASSERT_TRUE(dev.setUp(&info, 4, 2));
    unsigned char buffer[8] = {0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 7, 8};
    EXPECT_EQ(1, dev.recvData(buffer, 0));
    EXPECT_EQ(1, dev.updates);
    EXPECT_EQ(0, dev.conUpdates);
    const unsigned char expected[8] = {0, 0, 0, 0, 5, 6, 7, 8};
    EXPECT_EQ(0, std::memcmp(expected, buffer, 8));

    // A failing update fails the cycle, after the mask was already cleared.
    dev.updateResult = 0;
    buffer[3] = 0x55;
    EXPECT_EQ(-1, dev.recvData(buffer, 8));
    EXPECT_EQ(0, buffer[3]);

    // A null buffer has no masks to clear, but the cycle still runs.
    dev.updateResult = 1;
    EXPECT_EQ(1, dev.recvData(nullptr, 0));
    EXPECT_EQ(3, dev.updates);
}

TEST_F(DeviceTest, RecvDataLogsADebugLineWhenAsked)
{
    log.debugLevel = 1;
    TestDevice dev(cfg.get(), &log);
    dev.setInitInfo(&info);
    CaptureStdout out;
    unsigned char buffer[8] = {};
    dev.recvData(buffer, 8);
    EXPECT_EQ("tarsis0: DEBUG: \"recvData\" called.\n", out.text());
}

TEST_F(DeviceTest, DevicesInOneTableGetConsecutiveIds)
{
    TestDevice first(cfg.get(), &log);
    TestDevice second(cfg.get(), &log);
    CaptureStdout out;
    ASSERT_TRUE(first.setUp(&info, 8, 3));
    EXPECT_EQ(0u, first.m_pInit->pTraCommon->m_nIdOffset);
    EXPECT_EQ(3u, trackers.count());
    ASSERT_TRUE(second.setUp(&info, 8, 2));
    EXPECT_EQ(3u, second.m_pInit->pTraCommon->m_nIdOffset);
    EXPECT_EQ(5u, trackers.count());
}

TEST_F(DeviceTest, ATableWithoutRoomRefusesTheDevice)
{
    trackers.count() = 31;
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    EXPECT_FALSE(dev.setUp(&info, 8, 2));
    EXPECT_EQ(31u, trackers.count());
    EXPECT_EQ((std::vector<std::string>{"CDataStorage: ERROR: CDataStorage: The new number is too big."}), out.lines());
}

TEST_F(DeviceTest, AFailedTableLockClaimsNothing)
{
#if !defined(_WIN32)
    // qemu-user keeps no robust futex list: the owner's death would never
    // reach the mutex and the lock would wait forever.
    if (const char* emulator = testhelp::underQemuUser())
        GTEST_SKIP() << "an abandoned robust mutex is never reported under " << emulator;
#endif
    trackers.count() = 2;
    CDataStorage* storage = trackers.storage();
    std::thread owner([storage] { EXPECT_TRUE(storage->lock()); }); // ends holding it: abandoned
    owner.join();
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    EXPECT_FALSE(dev.setUp(&info, 8, 3));
    EXPECT_EQ(2u, trackers.count());
    const auto lines = out.lines();
    ASSERT_EQ(1u, lines.size()) << out.text();
    EXPECT_EQ(0u, lines[0].find("CMutexH: ERROR: CMutexH: Locking mutex: ")) << lines[0];

    // The failed wait made the device the owner; it gave the mutex back.
    out.clear();
    TestDevice next(cfg.get(), &log);
    EXPECT_TRUE(next.setUp(&info, 8, 3));
    EXPECT_EQ(5u, trackers.count());
}

TEST_F(DeviceTest, DeviceWithoutRecordsCreatesNoHandler)
{
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    ASSERT_TRUE(dev.setUp(&info, 0, 0));
    EXPECT_EQ(nullptr, dev.m_pInit->pTraCommon);
    EXPECT_EQ(0u, trackers.count());
    EXPECT_FALSE(dev.setTraId(1, 1));
    EXPECT_TRUE(dev.initCalib());
    EXPECT_TRUE(dev.deinitCalib());
    EXPECT_TRUE(dev.printFooter());
    EXPECT_EQ("tarsis0: INFO: -----------------------\n", out.text());
}

TEST_F(DeviceTest, TrackersWithoutStorageAreRefused)
{
    info.traStorage = nullptr;
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    dev.setInitInfo(&info);
    EXPECT_FALSE(dev.setTraId(1, 1)); // nothing registered before the tables exist
    dev.m_nMaxTrackers = 4;
    dev.m_nTrackers = 1;
    EXPECT_FALSE(dev.initTables());
    EXPECT_EQ("tarsis0: ERROR: Tracker data storage pointer is empty.\n", out.text());
}

TEST_F(DeviceTest, RefusedCommonLineDoesNotFailInitialisation)
{
    cfg.add("order", {"2", "1"});
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    EXPECT_TRUE(dev.setUp(&info, 4, 2));
    EXPECT_EQ((std::vector<std::string>{"tarsis0: ERROR: Can not change the order on input connector at line 10."}),
              out.lines());
}

TEST_F(DeviceTest, HandlerReportsItsSetUp)
{
    TestDevice dev(cfg.get(), &log);
    CaptureStdout out;
    ASSERT_TRUE(dev.setUp(&info, 4, 2));
    TrackerEntry* e = dev.m_pInit->pTraCommon->m_pTrackers;
    EXPECT_EQ(1u, e[0].order);
    EXPECT_EQ(2u, e[1].order);
    EXPECT_EQ(0u, e[2].order);
    EXPECT_TRUE(dev.m_pInit->pTraCommon->m_bCaveCoord);
    EXPECT_TRUE(dev.m_pInit->pTraCommon->m_bInputConnector);
    EXPECT_EQ(2u, dev.m_pInit->pTraCommon->m_nOutTrackers);
    out.clear();
    dev.printConfig();
    EXPECT_EQ((std::vector<std::string>{"tarsis0: INFO: DEVICE NAME           : tarsis0",
                                        "tarsis0: INFO: CAVE COORDINATES      : Used",
                                        "tarsis0: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
                                        "tarsis0: INFO:                       : 1->1 2->2",
                                        "tarsis0: INFO: -----------------------"}),
              out.lines());
}
