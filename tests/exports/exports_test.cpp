// The module as the host sees it: two plain exports and nine operations called
// by their slot in the object's virtual table.
#include "helpers/host.h"
#include "otksim/otksim.h"
#include "support/platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

#if defined(_WIN32) && defined(__i386__)
#define HOST_MEMBER __attribute__((thiscall))
#else
#define HOST_MEMBER
#endif

struct Device; // opaque to the host
typedef Device* (*CreateFn)(DeviceConfig*, CLogger*);
typedef bool (*DeleteFn)(Device*);
typedef int(HOST_MEMBER* InitFn)(Device*, InitInfo*);
typedef bool(HOST_MEMBER* BoolFn)(Device*);
typedef int(HOST_MEMBER* IntFn)(Device*);
typedef int(HOST_MEMBER* RecvFn)(Device*, unsigned char*, int);
typedef int(HOST_MEMBER* ReservedFn)(Device*, std::uint32_t, std::uint32_t);

template <typename Fn> Fn slot(Device* dev, int index)
{
    void** table = *reinterpret_cast<void***>(dev);
    return reinterpret_cast<Fn>(table[index]);
}

struct Module : ::testing::Test {
    plat::LibHandle lib = nullptr;
    CreateFn create = nullptr;
    DeleteFn destroy = nullptr;

    void SetUp() override
    {
        lib = plat::loadLibrary(testhelp::moduleFile("tarsis").c_str());
        ASSERT_NE(nullptr, lib) << plat::lastLoadError();
        create = reinterpret_cast<CreateFn>(plat::findSymbol(lib, "createDev"));
        destroy = reinterpret_cast<DeleteFn>(plat::findSymbol(lib, "deleteDev"));
        ASSERT_NE(nullptr, create);
        ASSERT_NE(nullptr, destroy);
        otksim::SetScenario("frames=manual");
    }
    void TearDown() override
    {
        otksim::SetScenario(nullptr);
        plat::freeLibrary(lib);
    }
};

} // namespace

TEST_F(Module, ExportsArePlainNamesAndInternalsStayHidden)
{
    EXPECT_EQ(nullptr, plat::findSymbol(lib, "_createDev"));
    EXPECT_EQ(nullptr, plat::findSymbol(lib, "_Z9createDevP12DeviceConfigP7CLogger"));
    EXPECT_FALSE(destroy(nullptr));
}

TEST_F(Module, SlotsOfAFreshDevice)
{
    testhelp::Config cfg("slots");
    CLogger log = testhelp::quietLogger("slots");
    log.enabled = 0;
    Device* dev = create(cfg.get(), &log);
    ASSERT_NE(nullptr, dev);
    EXPECT_EQ(0, slot<ReservedFn>(dev, 6)(dev, 1, 2));
    EXPECT_EQ(1, slot<IntFn>(dev, 8)(dev));
    unsigned char flags[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(1, slot<RecvFn>(dev, 5)(dev, flags, 8)); // no handler yet: nothing to do
    EXPECT_EQ(9, flags[0]);
    EXPECT_EQ(-1, slot<InitFn>(dev, 0)(dev, nullptr));
    EXPECT_TRUE(slot<BoolFn>(dev, 4)(dev));
    EXPECT_EQ(2, slot<IntFn>(dev, 2)(dev));
    EXPECT_FALSE(slot<BoolFn>(dev, 1)(dev)); // no tracker connected
    EXPECT_EQ(0, slot<IntFn>(dev, 7)(dev));   // no frame count to read
    EXPECT_FALSE(slot<BoolFn>(dev, 3)(dev)); // nothing to disconnect from
    EXPECT_TRUE(destroy(dev));
}

TEST_F(Module, HostSequenceStreamsRecords)
{
    testhelp::Config cfg("tarsis0");
    cfg.add("baud", {"115200"}).add("reset", {"no"}).add("sensormap", {"6"});
    CLogger log = testhelp::quietLogger("tarsis0");
    log.enabled = 0;
    testhelp::Table table;
    table.count() = 3; // records of an earlier device
    InitInfo info{};
    info.traStorage = table.storage();

    Device* dev = create(cfg.get(), &log);
    ASSERT_NE(nullptr, dev);
    ASSERT_EQ(1, slot<InitFn>(dev, 0)(dev, &info));
    EXPECT_EQ(5u, table.count());
    EXPECT_EQ(2, slot<IntFn>(dev, 2)(dev));
    ASSERT_TRUE(slot<BoolFn>(dev, 1)(dev));

    otksim::Device* tracker = otksim::LastDevice();
    ASSERT_NE(nullptr, tracker);
    ASSERT_TRUE(otksim::PushMotionFrame(tracker));
    UpdateFlags flags;
    std::memset(&flags, 0xFF, sizeof flags);
    ASSERT_EQ(1, slot<RecvFn>(dev, 5)(dev, reinterpret_cast<unsigned char*>(&flags), 8));
    // Stations 2 and 3 are this device's ids 1 and 2, behind the three earlier records.
    EXPECT_EQ(0x18, flags.trackerMask[3]);
    EXPECT_EQ(0, flags.trackerMask[0] | flags.trackerMask[1] | flags.trackerMask[2]);
    EXPECT_EQ(0xFF, flags.controllerMask[0]);
    EXPECT_EQ(4u, plat::netToHost32(table.record(4).id));
    EXPECT_EQ(5u, plat::netToHost32(table.record(5).id));
    float position[3], angles[3];
    otksim::MotionAt(tracker, 3, 0.0, position, angles);
    const std::int32_t x = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(table.record(5).pose[0])));
    EXPECT_NEAR(position[0] / 12.0 * 100000.0, x, 2.0);

    EXPECT_TRUE(slot<BoolFn>(dev, 3)(dev));
    EXPECT_TRUE(destroy(dev));
}
