// The module against the test-only variants of the MSVC-ABI stand-in, each
// run from a copy in the variant's folder: BigObject.* beside the variant
// whose device object is over 4 MiB and whose value classes construct only
// with an argument, PortCtor.* beside the one whose device object has no
// default constructor.
#include "helpers/tracker.h"
#include "tracker/sdkbind.h"

#include <array>

using testhelp::stationRecord;
using testhelp::TrackerTest;

namespace {

const bool kX64 = sizeof(void*) == 8;

struct Variant : TrackerTest {
    // What the binding made of the SDK beside the executable.
    sdk::BindReport binding()
    {
        const sdk::BindReport report = sdk::acquireBinding(nullptr);
        sdk::releaseBinding();
        return report;
    }
    const std::string& otkFile(const sdk::BindReport& report)
    {
        return report.libraries[static_cast<int>(sdk::Library::OTK)].file;
    }
};

using BigObject = Variant;
using PortCtor = Variant;

// Bound, with the value classes' constructors left out (their objects start
// zeroed); the device object's constructor writes its 4 MiB, and the device
// connects and streams.
TEST_F(BigObject, BindsAndStreams)
{
    const sdk::BindReport report = binding();
    ASSERT_TRUE(report.complete) << report.failure;
    const struct {
        sdk::Id id;
        const char* name;
    } unbound[] = {
        {sdk::Id::COTKbiterr_Ctor, kX64 ? "??0COTKbiterr@@QEAA@K@Z" : "??0COTKbiterr@@QAE@K@Z"},
        {sdk::Id::COTKmdat_Ctor, kX64 ? "??0COTKmdat@@QEAA@H@Z" : "??0COTKmdat@@QAE@H@Z"},
    };
    for (const auto& u : unbound) {
        const sdk::BindReport::Member& m = report.members[static_cast<int>(u.id)];
        EXPECT_EQ(sdk::BindReport::Member::Absent, m.state) << u.name;
        EXPECT_EQ(std::vector<std::string>{u.name}, m.candidates);
        EXPECT_EQ(sdk::Refusal::Parameters, m.why) << u.name;
    }

    serial();
    OvTrackD& d = make("stations=1");
    EXPECT_GT(d.m_dev.writtenBytes(), std::size_t(4 * 1024 * 1024));
    EXPECT_LT(d.m_dev.writtenBytes(), d.m_dev.reservedBytes());
    ASSERT_EQ(1, d.init(&info)) << testing::PrintToString(lines());
    d.configure();
    ASSERT_TRUE(d.start());
    const float pos[3] = {12, 24, -36}, ang[3] = {10, 20, 30};
    const std::vector<unsigned char> frame = stationRecord(1, pos, ang);
    ASSERT_TRUE(otksim::PushFrame(testhelp::simOf(d), frame.data(), static_cast<unsigned long>(frame.size())));
    ASSERT_EQ(1, d.recvData(reinterpret_cast<unsigned char*>(&flags), 8)) << testing::PrintToString(lines());
    EXPECT_EQ(100000u, plat::netToHost32(static_cast<std::uint32_t>(table.record(1).pose[0])));
    EXPECT_TRUE(d.stop());
}

// Refused by name, never called without its argument: init fails with the
// line that says why, and the host goes on.
TEST_F(PortCtor, InitFailsWithTheRefusal)
{
    const sdk::BindReport report = binding();
    const std::string line = "Tracker SDK " + otkFile(report) + " has no default constructor of COTKdev (it exports " +
                             (kX64 ? "??0COTKdev@@QEAA@PEBD@Z" : "??0COTKdev@@QAE@PBD@Z") + ")";
    EXPECT_EQ(line, report.failure);
    serial();
    OvTrackD& d = make();
    clearOutput();
    EXPECT_EQ(-1, d.init(&info));
    ASSERT_LE(2u, lines().size());
    EXPECT_EQ(line, lines()[0]);
    EXPECT_EQ("Error: connecting to tracker", lines()[1]);
    EXPECT_EQ(nullptr, otksim::LastDevice()) << "the SDK's constructor ran";
}

} // namespace
