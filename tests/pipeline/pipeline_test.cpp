#include "common/tracommon.h"
#include "helpers/capture.h"
#include "helpers/emulation.h"
#include "helpers/host.h"
#include "helpers/testdevice.h"
#include "support/calib.h"
#include "support/platform.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <limits>
#include <streambuf>
#include <thread>

using testhelp::CaptureStdout;
using testhelp::Config;
using testhelp::Table;
using testhelp::TestDevice;

namespace {

std::array<std::int32_t, 6> pose(const TrackerRecord& r)
{
    std::array<std::int32_t, 6> out{};
    for (int i = 0; i < 6; ++i)
        out[i] = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(r.pose[i])));
    return out;
}

struct PipelineTest : ::testing::Test {
    Config cfg{"tarsis0"};
    CLogger log = testhelp::quietLogger("tarsis0");
    Table table{Table::Trackers};
    InitInfo info{};
    UpdateFlags flags{};
    std::unique_ptr<TestDevice> dev;
    CaptureStdout out;

    // A device with `trackers` active stations after the given option lines.
    void make(unsigned trackers = 2)
    {
        info.traStorage = table.storage();
        dev.reset(new TestDevice(cfg.get(), &log));
        ASSERT_TRUE(dev->setUp(&info, 8, trackers));
        dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8);
        out.clear();
    }
    bool write(unsigned sensor, float x, float y, float z, float az, float el, float roll)
    {
        const float p[3] = {x, y, z};
        const float a[3] = {az, el, roll};
        return dev->setTraData(sensor, p, a);
    }
};

void expectPose(const std::array<std::int32_t, 6>& expected, const TrackerRecord& r, int tolerance)
{
    const auto got = pose(r);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(expected[i], got[i], tolerance) << "word " << i;
}

} // namespace

TEST_F(PipelineTest, PlainSampleIsScaledAndStoredInNetworkOrder)
{
    make();
    ASSERT_TRUE(write(2, 1.5f, -2.25f, 0.5f, 90, 0, -45));
    const TrackerRecord& r = table.record(2);
    EXPECT_EQ(2u, plat::netToHost32(r.id));
    EXPECT_EQ((std::array<std::int32_t, 6>{150000, -225000, 50000, 9000000, 0, -4500000}), pose(r));
    EXPECT_EQ(0u, r.reserved4);
    EXPECT_EQ(0u, r.reserved16);
    EXPECT_EQ(0u, r.unused[0] | r.unused[1] | r.unused[2]);
    // Id 2 owns bit 1 of the last mask byte.
    EXPECT_EQ(0x02, flags.trackerMask[3]);
    EXPECT_EQ(0, flags.trackerMask[0] | flags.trackerMask[1] | flags.trackerMask[2]);
    EXPECT_EQ("", out.text());
}

TEST_F(PipelineTest, TruncatesTowardZero)
{
    make();
    ASSERT_TRUE(write(1, 0.00001f, -0.000019f, 0.0f, 0.000019f, -0.00001f, 0));
    const auto p = pose(table.record(1));
    EXPECT_EQ(0, p[0]);  // 9.99999975e-6 scales to just below 1
    EXPECT_EQ(-1, p[1]); // truncated, not rounded to -2
    EXPECT_EQ(1, p[3]);
    EXPECT_EQ(0, p[4]);
}

TEST_F(PipelineTest, TimeStampHasMillisecondResolution)
{
    make();
    const auto before = std::chrono::system_clock::now();
    ASSERT_TRUE(write(1, 0, 0, 0, 0, 0, 0));
    const auto after = std::chrono::system_clock::now();
    const std::uint32_t sec = plat::netToHost32(table.record(1).seconds);
    const std::uint32_t usec = plat::netToHost32(table.record(1).micros);
    EXPECT_EQ(0u, usec % 1000);
    EXPECT_LT(usec, 1000000u);
    const auto stamp = std::chrono::seconds(sec) + std::chrono::microseconds(usec);
    EXPECT_GE(stamp.count() + 1000, std::chrono::duration_cast<std::chrono::microseconds>(before.time_since_epoch()).count());
    EXPECT_LE(stamp.count(), std::chrono::duration_cast<std::chrono::microseconds>(after.time_since_epoch()).count());
}

TEST_F(PipelineTest, TransmitterOffsetAddsToThePosition)
{
    cfg.add("transmitteroffset", {"1", "2", "3"});
    make();
    ASSERT_TRUE(write(1, 0.5f, 0.5f, 0.5f, 10, 20, 30));
    expectPose({150000, 250000, 350000, 1000000, 2000000, 3000000}, table.record(1), 2);
}

TEST_F(PipelineTest, TransmitterRotationAboutY)
{
    cfg.add("transmitterrotation", {"0", "1", "0", "90"});
    make();
    ASSERT_TRUE(write(1, 1, 0, 0, 10, 20, 30));
    expectPose({0, 0, -100000, 10000000, 2000000, 3000000}, table.record(1), 3);
}

TEST(PipelineOffset, SensorOffsetTurnsWithTheFinalAngles)
{
    // The offset turns with the rotation of the angles the record holds, also
    // when a matrix option is a reflection or a scale rather than a rotation.
    const struct {
        std::initializer_list<const char*> matrix; // transmitterrotationmatrix, if any
        std::initializer_list<const char*> offset; // sensoroffset
        float azimuth;
        std::array<std::int32_t, 6> stored;
    } cases[] = {
        {{}, {"1", "0", "0", "1"}, 90, {100000, 0, 0, 9000000, 0, 0}},
        {{"1", "0", "0", "0", "1", "0", "0", "0", "-1"}, {"1", "1", "0", "0"}, 0, {-100000, 0, 0, 18000000, 0, 0}},
        {{"2", "0", "0", "0", "2", "0", "0", "0", "2"}, {"1", "1", "0", "0"}, 0, {100000, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        Config cfg("tarsis0");
        if (c.matrix.size())
            cfg.add("transmitterrotationmatrix", c.matrix);
        cfg.add("sensoroffset", c.offset);
        CLogger log = testhelp::quietLogger("tarsis0");
        Table table(Table::Trackers);
        InitInfo info{};
        info.traStorage = table.storage();
        CaptureStdout out;
        TestDevice dev(cfg.get(), &log);
        ASSERT_TRUE(dev.setUp(&info, 1, 1));
        const float position[3] = {0, 0, 0}, angles[3] = {c.azimuth, 0, 0};
        ASSERT_TRUE(dev.setTraData(1, position, angles));
        expectPose(c.stored, table.record(1), 2);
        EXPECT_EQ("", out.text());
    }
}

TEST_F(PipelineTest, SensorRotationComposesWithTheMeasuredAngles)
{
    cfg.add("sensorrotation", {"2", "0", "0", "1", "90"});
    make();
    ASSERT_TRUE(write(2, 0, 0, 0, 0, 0, 0));
    expectPose({0, 0, 0, 0, 0, 9000000}, table.record(2), 2);
}

TEST_F(PipelineTest, SensorTranslationIsNotRotated)
{
    cfg.add("sensortranslation", {"1", "1", "1", "1"});
    make();
    ASSERT_TRUE(write(1, 0, 0, 0, 45, 30, 60));
    expectPose({100000, 100000, 100000, 4500000, 3000000, 6000000}, table.record(1), 3);
}

TEST_F(PipelineTest, DeviceBehindAnotherWritesBehindIt)
{
    table.count() = 3;
    make(1);
    EXPECT_EQ(4u, table.count());
    ASSERT_TRUE(write(1, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(4u, plat::netToHost32(table.record(4).id));
    EXPECT_EQ(0x08, flags.trackerMask[3]);
}

TEST_F(PipelineTest, RefusedSamplesWriteNothing)
{
    table.count() = 3;
    make(1);
    TrackerRecord before[4];
    table.record(3).id = plat::hostToNet32(3); // the earlier device's last record
    std::memcpy(before, &table.record(1), sizeof before);

    EXPECT_FALSE(write(0, 1, 1, 1, 0, 0, 0));
    // A station that is not output would compute the earlier device's last id.
    EXPECT_FALSE(write(2, 1, 1, 1, 0, 0, 0));
    // A station beyond the handler's table has no entry at all.
    EXPECT_FALSE(write(9, 1, 1, 1, 0, 0, 0));
    EXPECT_FALSE(write(200, 1, 1, 1, 0, 0, 0));

    EXPECT_EQ(0, std::memcmp(before, &table.record(1), sizeof before));
    EXPECT_EQ(0, flags.trackerMask[3]);
    EXPECT_EQ((std::vector<std::string>{"tarsis0: ERROR: ID of TraData is zero.",
                                        "tarsis0: ERROR: TraData storage not found",
                                        "tarsis0: ERROR: TraData storage not found",
                                        "tarsis0: ERROR: TraData storage not found"}),
              out.lines());
}

TEST_F(PipelineTest, IdAboveTheClaimedRecordsIsNotFound)
{
    make(2);
    table.count() = 1; // the host shrank the table behind the device's back
    EXPECT_FALSE(write(2, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ("tarsis0: ERROR: TraData storage not found\n", out.text());
}

TEST_F(PipelineTest, DebugLineWhenTheRecordIsFound)
{
    log.debugLevel = 1;
    make();
    ASSERT_TRUE(write(1, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ("tarsis0: DEBUG: TraData storage found\n", out.text());
}

TEST_F(PipelineTest, OnlyFiniteRepresentableValuesAreWritten)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        unsigned sensor; // 2 has a sensor translation of 20000 feet
        std::array<float, 6> sample;
        bool written;
    } cases[] = {
        {1, {nan, 0, 0, 0, 0, 0}, false},
        {1, {0, 0, inf, 0, 0, 0}, false},
        {1, {0, 0, 0, -inf, 0, 0}, false},
        {1, {0, 0, 0, 0, nan, 0}, false},
        {1, {0, 0, 0, 0, 0, -nan}, false},
        // The scaled value, truncated, must fit the signed 32-bit word.
        {1, {21474.83f, -21474.83f, 0, 0, 0, 0}, true},
        {1, {21474.84f, 0, 0, 0, 0, 0}, false},
        {1, {0, -21474.84f, 0, 0, 0, 0}, false},
        {1, {0, 0, 0, 1e30f, 0, 0}, false},
        // Transforms can push a measured value out of the word, or carry a NaN.
        {2, {2000, 0, 0, 0, 0, 0}, false},
        {2, {-2000, 0, 0, 0, 0, 0}, true},
        {2, {0, 0, 0, 0, nan, 0}, false},
    };
    cfg.add("sensortranslation", {"2", "20000", "0", "0"});
    make();
    for (const auto& c : cases) {
        table.record(c.sensor) = TrackerRecord{};
        flags = UpdateFlags{};
        const auto& v = c.sample;
        EXPECT_EQ(c.written, write(c.sensor, v[0], v[1], v[2], v[3], v[4], v[5])) << v[0] << " " << v[3];
        EXPECT_EQ(c.written, table.record(c.sensor).id != 0) << v[0] << " " << v[3];
        EXPECT_EQ(c.written ? 1 << (c.sensor - 1) : 0, flags.trackerMask[3]);
    }
    EXPECT_EQ("", out.text());
}

TEST_F(PipelineTest, SampleTheCalibrationLibraryOverflowsIsRefused)
{
    const std::string lib = testhelp::moduleFile("tarsiscalib");
    cfg.add("calibration", {lib.c_str(), "scale=1e30"});
    make();
    ASSERT_TRUE(dev->initCalib());
    out.clear();
    EXPECT_TRUE(write(1, 1e-30f, 0, 0, 0, 0, 0)); // scaled to 1 foot
    EXPECT_EQ(100000, pose(table.record(1))[0]);
    EXPECT_FALSE(write(2, 1e10f, 0, 0, 0, 0, 0)); // infinity after the library
    EXPECT_EQ(0u, table.record(2).id);
    EXPECT_EQ(0x01, flags.trackerMask[3]);
    EXPECT_TRUE(dev->deinitCalib());
    EXPECT_EQ("", out.text());
}

TEST_F(PipelineTest, FailedLockWritesNothingAndLeavesTheTableUsable)
{
    if (const char* emulator = testhelp::underQemuUser())
        GTEST_SKIP() << "an abandoned robust mutex is never reported under " << emulator;
    make();
    CDataStorage* storage = table.storage();
    std::thread owner([storage] { EXPECT_TRUE(storage->lock()); }); // ends holding it: abandoned
    owner.join();
    EXPECT_FALSE(write(1, 1, 1, 1, 0, 0, 0));
    EXPECT_EQ(0u, table.record(1).id);
    EXPECT_EQ(0, flags.trackerMask[3]);
    const auto lines = out.lines();
    ASSERT_EQ(1u, lines.size()) << out.text();
    EXPECT_EQ(0u, lines[0].find("CMutexH: ERROR: CMutexH: Locking mutex: ")) << lines[0];

    out.clear();
    EXPECT_TRUE(write(1, 1, 1, 1, 0, 0, 0));
    EXPECT_EQ(1u, plat::netToHost32(table.record(1).id));
    EXPECT_EQ("", out.text());
}

#ifndef _WIN32
// Standard output that notes whether anything was written while the table's
// mutex was held by this thread (a non-recursive mutex refuses a second lock).
class HeldWatch : public std::streambuf {
public:
    explicit HeldWatch(plat::MutexHandle mutex) : m_mutex(mutex), m_old(std::cout.rdbuf(this)) {}
    ~HeldWatch() override { std::cout.rdbuf(m_old); }
    bool printedWhileHeld = false;
    std::string text;

protected:
    int overflow(int c) override
    {
        check();
        text += static_cast<char>(c);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        check();
        text.append(s, static_cast<std::size_t>(n));
        return n;
    }

private:
    void check()
    {
        char message[CMutexH::kTextSize];
        if (plat::lockMutex(m_mutex, message, sizeof message))
            plat::unlockMutex(m_mutex, message, sizeof message);
        else
            printedWhileHeld = true;
    }
    plat::MutexHandle m_mutex;
    std::streambuf* m_old;
};

TEST_F(PipelineTest, NothingIsPrintedWhileTheTableIsHeld)
{
    log.debugLevel = 1;
    make(2);
    table.count() = 1;
    HeldWatch watch(table.storage()->m_pMutex->m_hMutex);
    EXPECT_TRUE(write(1, 0, 0, 0, 0, 0, 0));
    EXPECT_FALSE(write(2, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ("tarsis0: DEBUG: TraData storage found\ntarsis0: ERROR: TraData storage not found\n", watch.text);
    EXPECT_FALSE(watch.printedWhileHeld);
}
#endif
