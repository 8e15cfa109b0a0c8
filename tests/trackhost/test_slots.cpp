// The slot calls of the harness against the fake module: each reaches the
// right operation with its arguments and the right object, under the calling
// convention the platform's host uses.
#include "fake_module.h"

#include <cstring>

TEST(TrackhostSlots, EverySlotReachesItsOperation)
{
    testhelp::FakeModule fake;
    ASSERT_TRUE(fake.ok()) << fake.loadError();
    testhelp::Config config("dev0");
    config.add("initresult", {"1"});
    CLogger log = testhelp::quietLogger("dev0");
    void* dev = fake.create(config.get(), &log);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(fake.calls(), "dev0.create;");

    testhelp::Table trackers;
    InitInfo info;
    std::memset(&info, 0, sizeof info);
    info.traStorage = trackers.storage();
    EXPECT_EQ(slots::init(dev, &info), 1);
    EXPECT_EQ(slots::configure(dev), 2);
    EXPECT_TRUE(slots::start(dev));
    EXPECT_EQ(fake.calls(), "dev0.init;dev0.configure;dev0.start;");

    unsigned char flags[8];
    std::memset(flags, 0xAB, sizeof flags);
    EXPECT_EQ(slots::recvData(dev, flags, 8), 1);
    EXPECT_EQ(flags[0], 0);   // the fake clears the tracker mask it was handed
    EXPECT_EQ(flags[4], 0xAB); // and leaves the controller mask alone
    EXPECT_EQ(slots::reservedOp(dev, 70000u, 3u), 69997);
    EXPECT_EQ(slots::update(dev), 7);
    EXPECT_EQ(slots::updataConData(dev), 8);
    EXPECT_TRUE(slots::printConfig(dev));
    EXPECT_TRUE(slots::stop(dev));
    EXPECT_EQ(fake.calls(),
              "dev0.recvData(8);dev0.reservedOp(70000,3);dev0.update;dev0.updataConData;dev0.printConfig;dev0.stop;");

    EXPECT_TRUE(fake.destroy(dev));
    EXPECT_EQ(fake.calls(), "dev0.delete;");
    EXPECT_FALSE(fake.destroy(nullptr));
}

TEST(TrackhostSlots, ResultsComeBackUnchanged)
{
    testhelp::FakeModule fake;
    ASSERT_TRUE(fake.ok()) << fake.loadError();
    testhelp::Config config("dev1");
    config.add("initresult", {"-1"}).add("startresult", {"0"}).add("stopresult", {"0"}).add("recvresult", {"-1"});
    CLogger log = testhelp::quietLogger("dev1");
    void* dev = fake.create(config.get(), &log);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(slots::init(dev, nullptr), -1);
    EXPECT_FALSE(slots::start(dev));
    unsigned char flags[8] = {};
    EXPECT_EQ(slots::recvData(dev, flags, 5), -1);
    EXPECT_FALSE(slots::stop(dev));
    // Two objects at once: each call lands on its own object.
    testhelp::Config other("dev2");
    void* dev2 = fake.create(other.get(), &log);
    EXPECT_EQ(slots::reservedOp(dev2, 1u, 2u), -1);
    EXPECT_EQ(slots::reservedOp(dev, 5u, 2u), 3);
    EXPECT_TRUE(fake.destroy(dev2));
    EXPECT_TRUE(fake.destroy(dev));
    EXPECT_EQ(fake.calls(), "dev1.create;dev1.init;dev1.start;dev1.recvData(5);dev1.stop;dev2.create;"
                            "dev2.reservedOp(1,2);dev1.reservedOp(5,2);dev2.delete;dev1.delete;");
}
