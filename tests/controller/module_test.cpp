// The controller test device as the host drives it: loaded from its module,
// made by its export, called only by vtable slot, and judged by the host's own
// record tables. (On Windows the module's output goes to its own standard
// output stream, so only results are checked here; the messages are checked
// in-process.)
#include "controller/records.h"
#include "helpers/capture.h"
#include "helpers/host.h"
#include "trackhost/slots.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <memory>

using ctltest::idOf;
using ctltest::maskIds;
using ctltest::Pose;
using ctltest::poseOf;
using ctltest::untouched;
using testhelp::Config;
using testhelp::Table;

namespace {

struct ConModule : ::testing::Test {
    plat::LibHandle lib = nullptr;
    slots::CreateDevFn create = nullptr;
    slots::DeleteDevFn destroy = nullptr;
    CLogger log = testhelp::quietLogger("condev0");
    Table trackers{Table::Trackers};
    Table controllers{Table::Controllers};
    InitInfo info{};
    testhelp::CaptureStdout out;

    void SetUp() override
    {
        lib = plat::loadLibrary(testhelp::moduleFile("condev").c_str());
        ASSERT_NE(nullptr, lib) << plat::lastLoadError();
        create = reinterpret_cast<slots::CreateDevFn>(plat::findSymbol(lib, "createDev"));
        destroy = reinterpret_cast<slots::DeleteDevFn>(plat::findSymbol(lib, "deleteDev"));
        ASSERT_NE(nullptr, create);
        ASSERT_NE(nullptr, destroy);
        info.traStorage = trackers.storage();
        info.conStorage = controllers.storage();
    }
    void TearDown() override
    {
        const std::string text = out.text();
        out.restore();
        if (HasFailure())
            std::cerr << "device output:\n" << text;
        plat::freeLibrary(lib);
    }

    // A device made and initialised the host's way; the result of init is
    // left in rc. The device is deleted through the module with the holder.
    std::shared_ptr<void> make(Config& cfg, int& rc)
    {
        void* dev = create(cfg.get(), &log);
        EXPECT_NE(nullptr, dev);
        rc = dev ? slots::init(dev, &info) : 0;
        return std::shared_ptr<void>(dev, [this](void* d) {
            if (d) {
                EXPECT_TRUE(destroy(d));
            }
        });
    }
};

} // namespace

TEST_F(ConModule, EmulatedTrackerTakesTheRecordBehindEarlierOnes)
{
    trackers.count() = 3; // another device's records
    Config cfg("condev0");
    cfg.add("controllers", {"2"}).add("emulatetracker", {"1", "[0.123456,-0.123456,2.5,90,-45,0.000019]", "0", "0", "0",
                                                        "0", "0", "0"});
    int rc = 0;
    auto dev = make(cfg, rc);
    ASSERT_EQ(1, rc);
    EXPECT_EQ(4u, trackers.count());
    EXPECT_EQ(2u, controllers.count());
    EXPECT_TRUE(untouched(trackers.record(3)));
    EXPECT_TRUE(untouched(trackers.record(5)));
    EXPECT_EQ(4u, idOf(trackers.record(4)));
    // x 100000 and truncated toward zero, not rounded.
    EXPECT_EQ((Pose{12345, -12345, 250000, 9000000, -4500000, 1}), poseOf(trackers.record(4)));

    EXPECT_EQ(2, slots::configure(dev.get()));
    EXPECT_TRUE(slots::start(dev.get()));
    for (int cycle = 0; cycle < 2; ++cycle) {
        unsigned char flags[8];
        std::memset(flags, 0xFF, sizeof flags);
        EXPECT_EQ(1, slots::recvData(dev.get(), flags, sizeof flags));
        EXPECT_EQ(std::vector<unsigned>{4}, maskIds(flags));
        EXPECT_EQ(std::vector<unsigned>{}, maskIds(flags + 4));
    }
    EXPECT_EQ(4u, idOf(trackers.record(4)));
    EXPECT_TRUE(slots::printConfig(dev.get()));
    EXPECT_TRUE(slots::stop(dev.get()));
}

TEST_F(ConModule, OwnTrackersFirstThenEmulationInControllerOrder)
{
    trackers.count() = 2;
    Config cfg("condev0");
    // The emulation lines come in reverse: controller order, not line order,
    // decides which emulated record each controller fills.
    cfg.add("Trackers", {"2"})
        .add("CONTROLLERS", {"3"})
        .add("emulatetracker", {"3", "[3,-3,0.5,30,0,0]", "0", "0", "0", "0", "0", "0"})
        .add("emulatetracker", {"1", "[1,-1,0.25,10,0,0]", "0", "0", "0", "0", "0", "0"});
    int rc = 0;
    auto dev = make(cfg, rc);
    ASSERT_EQ(1, rc);
    EXPECT_EQ(6u, trackers.count());
    EXPECT_EQ(3u, controllers.count());
    EXPECT_EQ(5u, idOf(trackers.record(5)));
    EXPECT_EQ((Pose{100000, -100000, 25000, 1000000, 0, 0}), poseOf(trackers.record(5)));
    EXPECT_EQ(6u, idOf(trackers.record(6)));
    EXPECT_EQ((Pose{300000, -300000, 50000, 3000000, 0, 0}), poseOf(trackers.record(6)));
    EXPECT_TRUE(untouched(trackers.record(3))); // own records wait for the first cycle

    unsigned char flags[8] = {};
    ASSERT_EQ(1, slots::recvData(dev.get(), flags, sizeof flags));
    EXPECT_EQ((std::vector<unsigned>{3, 4, 5, 6}), maskIds(flags));
    EXPECT_EQ(3u, idOf(trackers.record(3)));
    EXPECT_EQ(4u, idOf(trackers.record(4)));
    EXPECT_EQ((Pose{200000, 50000, -25000, 2000000, -2000000, 3000000}), poseOf(trackers.record(4)));
    EXPECT_EQ((Pose{300000, -300000, 50000, 3000000, 0, 0}), poseOf(trackers.record(6)));
}

TEST_F(ConModule, ControllersWithoutEmulationLeaveTheTrackerSideAlone)
{
    Config first("condev0");
    first.add("controllers", {"2"});
    Config second("condev1");
    second.add("controllers", {"3"});
    int rc = 0;
    auto a = make(first, rc);
    ASSERT_EQ(1, rc);
    auto b = make(second, rc);
    ASSERT_EQ(1, rc);
    EXPECT_EQ(5u, controllers.count()); // the second device's records follow the first's
    EXPECT_EQ(0u, trackers.count());

    unsigned char flags[8];
    std::memset(flags, 0xAB, sizeof flags);
    EXPECT_EQ(1, slots::recvData(b.get(), flags, sizeof flags));
    EXPECT_EQ(0xAB, flags[0]); // no tracker handler: the tracker mask is not the device's
    EXPECT_EQ(0xAB, flags[3]);
    EXPECT_EQ(std::vector<unsigned>{}, maskIds(flags + 4));
}

TEST_F(ConModule, InitFailsWithoutRoomOrWithABadCount)
{
    struct Case {
        const char* what;
        const char* keyword;
        std::initializer_list<const char*> args;
        bool controllerStorage;
        bool trackerStorage;
        unsigned earlierControllers;
    } const cases[] = {
        {"no controller table", "controllers", {"2"}, false, true, 0},
        {"no tracker table", "trackers", {"1"}, true, false, 0},
        {"controller table full", "controllers", {"2"}, true, true, 31},
        {"count too big", "controllers", {"33"}, true, true, 0},
        {"count not a number", "controllers", {"2x"}, true, true, 0},
        {"count missing", "trackers", {}, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Config cfg("condev0");
        cfg.add(c.keyword, c.args).add("emulatetracker", {"1", "[1,2,3,0,0,0]", "0", "0", "0", "0", "0", "0"});
        info.conStorage = c.controllerStorage ? controllers.storage() : nullptr;
        info.traStorage = c.trackerStorage ? trackers.storage() : nullptr;
        controllers.count() = c.earlierControllers;
        int rc = 0;
        auto dev = make(cfg, rc);
        EXPECT_EQ(-1, rc);
        EXPECT_EQ(c.earlierControllers, controllers.count());
        // Nothing was claimed or written on the tracker side.
        EXPECT_EQ(0u, trackers.count());
        EXPECT_TRUE(untouched(trackers.record(1)));
    }
}
