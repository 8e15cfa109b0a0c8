// Binding the maker's SDK: which export each member is taken from, and what
// the binding says about it.
#include "helpers/capture.h"
#include "helpers/host.h"
#include "support/guarded.h"
#include "support/platform.h"
#include "tracker/sdkbind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using sdk::Kind;
using sdk::Match;
using Names = std::vector<std::string>;

// Exports as MSVC (32- and 64-bit) gives them, with what else such a library
// exports beside each member: copy and move constructors and assignments, a
// deleting destructor, an overload, a member whose name starts alike.
const Names kMsvc = {
    "??0COTKdev@@QAE@XZ", "??0COTKdev@@QAE@ABV0@@Z", "??0COTKdev@@QAE@$$QAV0@@Z", "??4COTKdev@@QAEAAV0@ABV0@@Z",
    "??4COTKdev@@QAEAAV0@$$QAV0@@Z", "??1COTKdev@@QAE@XZ", "??_GCOTKdev@@QAEPAXI@Z",
    "?StartContPno@COTKdev@@QAEHPAUHWND__@@@Z", "?SetSAlignment@COTKdev@@QAEHHAAY02$$CBM00@Z",
    "?SetSAlignment@COTKdev@@QAEHHPBM00@Z", "?Empty@COTKmdat@@QAEXXZ", "?EmptyAll@COTKmdat@@QAEXXZ",
    "??0COTKser@@QEAA@W4eOvBaudRate@@W4eOvParity@@H@Z", "??0COTKser@@QEAA@AEBV0@@Z", "?IsClear@COTKbiterr@@QBEHXZ",
    "?OVDOUT@OvDebug@@SAXPBDZZ", "??4OvDebug@@QAEAAV0@ABV0@@Z"};

// The same as GCC gives them: both constructors, all three destructors.
const Names kItanium = {
    "_ZN7COTKdevC2Ev", "_ZN7COTKdevC1Ev", "_ZN7COTKdevC1ERKS_", "_ZN7COTKdevC1EOS_", "_ZN7COTKdevaSERKS_",
    "_ZN7COTKdevD0Ev", "_ZN7COTKdevD1Ev", "_ZN7COTKdevD2Ev", "_ZN7COTKdev12StartContPnoEP6HWND__",
    "_ZN7COTKdev13SetSAlignmentEiRA3_KfS2_S2_", "_ZN7COTKdev13SetSAlignmentEiPKfS1_S1_", "_ZN8COTKmdat5EmptyEv",
    "_ZN8COTKmdat8EmptyAllEv", "_ZNK10COTKbiterr7IsClearEv", "_ZN7OvDebug6OVDOUTEPKcz",
    "_ZN7COTKdev16GetLastResultStrB5cxx11Ev", "_ZN10COTKdevice8CnxReadyEv"};

TEST(SdkNames, EachMemberIsTheOneExportOfItsClassAndName)
{
    const struct {
        const Names& exports;
        const char* cls;
        const char* member;
        Kind kind;
        Match::Result result;
        Names picked; // the name found, or every candidate
    } cases[] = {
        {kMsvc, "COTKdev", "COTKdev", Kind::Ctor, Match::Found, {"??0COTKdev@@QAE@XZ"}},
        {kMsvc, "COTKdev", "~COTKdev", Kind::Dtor, Match::Found, {"??1COTKdev@@QAE@XZ"}},
        {kMsvc, "COTKdev", "StartContPno", Kind::Method, Match::Found, {"?StartContPno@COTKdev@@QAEHPAUHWND__@@@Z"}},
        {kMsvc, "COTKdev", "SetSAlignment", Kind::Method, Match::Ambiguous,
         {"?SetSAlignment@COTKdev@@QAEHHAAY02$$CBM00@Z", "?SetSAlignment@COTKdev@@QAEHHPBM00@Z"}},
        {kMsvc, "COTKmdat", "Empty", Kind::Method, Match::Found, {"?Empty@COTKmdat@@QAEXXZ"}},
        {kMsvc, "COTKser", "COTKser", Kind::Ctor, Match::Found, {"??0COTKser@@QEAA@W4eOvBaudRate@@W4eOvParity@@H@Z"}},
        {kMsvc, "COTKbiterr", "IsClear", Kind::Method, Match::Found, {"?IsClear@COTKbiterr@@QBEHXZ"}},
        {kMsvc, "OvDebug", "OVDOUT", Kind::Static, Match::Found, {"?OVDOUT@OvDebug@@SAXPBDZZ"}},
        {kMsvc, "COTKdev", "ClearBITErrs", Kind::Method, Match::Missing, {}},
        {kMsvc, "COTKmdat", "COTKmdat", Kind::Ctor, Match::Missing, {}},

        {kItanium, "COTKdev", "COTKdev", Kind::Ctor, Match::Found, {"_ZN7COTKdevC1Ev"}},
        {kItanium, "COTKdev", "~COTKdev", Kind::Dtor, Match::Found, {"_ZN7COTKdevD1Ev"}},
        {kItanium, "COTKdev", "StartContPno", Kind::Method, Match::Found, {"_ZN7COTKdev12StartContPnoEP6HWND__"}},
        {kItanium, "COTKdev", "SetSAlignment", Kind::Method, Match::Ambiguous,
         {"_ZN7COTKdev13SetSAlignmentEiRA3_KfS2_S2_", "_ZN7COTKdev13SetSAlignmentEiPKfS1_S1_"}},
        {kItanium, "COTKmdat", "Empty", Kind::Method, Match::Found, {"_ZN8COTKmdat5EmptyEv"}},
        {kItanium, "COTKbiterr", "IsClear", Kind::Method, Match::Found, {"_ZNK10COTKbiterr7IsClearEv"}},
        {kItanium, "OvDebug", "OVDOUT", Kind::Static, Match::Found, {"_ZN7OvDebug6OVDOUTEPKcz"}},
        {kItanium, "COTKdev", "GetLastResultStr", Kind::Custom, Match::Found, {"_ZN7COTKdev16GetLastResultStrB5cxx11Ev"}},
        {kItanium, "COTKdev", "CnxReady", Kind::Method, Match::Missing, {}},
    };
    for (const auto& c : cases) {
        const Match m = sdk::findExport(c.exports, c.cls, c.member, c.kind);
        SCOPED_TRACE(std::string(c.cls) + "::" + c.member);
        EXPECT_EQ(c.result, m.result);
        if (c.result == Match::Found)
            EXPECT_EQ(c.picked, Names{m.name});
        else
            EXPECT_EQ(c.picked, m.candidates);
    }
}

// Against the GCC-built stand-in every member is taken by the exact name the
// table gives it (a wrong name there would only show as a scan), and each is
// logged once, by the first SDK object of the process.
TEST(SdkBinding, TheStandInBindsEveryMemberByItsExactNameOnce)
{
    CLogger log = testhelp::quietLogger("tarsis0");
    log.debugLevel = 1;
    testhelp::CaptureStdout out;
    sdk::COTKdev first(&log);
    ASSERT_NE(nullptr, first.object()) << first.failure();
    const sdk::BindReport& report = sdk::acquireBinding(nullptr);
    for (int m = 0; m < sdk::kMemberCount; ++m) {
        const sdk::MemberInfo& info = sdk::memberInfo(static_cast<sdk::Id>(m));
        if (report.members[m].state == sdk::BindReport::Member::Absent) {
            EXPECT_EQ(sdk::Need::Optional, info.need) << info.member; // trivial: not exported
            continue;
        }
        EXPECT_EQ(sdk::BindReport::Member::Bound, report.members[m].state) << info.member;
        EXPECT_EQ(info.itanium, report.members[m].name) << info.member;
    }
    const std::string otk = report.libraries[static_cast<int>(sdk::Library::OTK)].file;
    sdk::releaseBinding();
    sdk::COTKdev second(&log);
    const Names lines = out.lines();
    const long bound = std::count_if(report.members, report.members + sdk::kMemberCount,
                                     [](const sdk::BindReport::Member& m) { return !m.name.empty(); });
    EXPECT_EQ(bound,
              std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find(" bound to ") != std::string::npos; }));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "tarsis0: DEBUG: Tracker SDK: COTKdev::DiscoverCnx bound to "
                                     "_ZN7COTKdev11DiscoverCnxEv in " + otk));
}

// The SDK keeps the address SetSerialIF is given: the serial object moves
// into the device object and stays where it was for as long as that lives.
TEST(SdkObjects, TheSerialObjectLivesAsLongAsTheDeviceObjectGivenIt)
{
    sdk::COTKdev dev;
    ASSERT_NE(nullptr, dev.object()) << dev.failure();
    const void* kept = nullptr;
    {
        sdk::COTKser ser(sdk::OV_BAUD_9600, sdk::OV_PARITY_NONE, 1);
        kept = ser.object();
        ASSERT_NE(nullptr, kept) << ser.failure();
        EXPECT_EQ(1, dev.SetSerialIF(&ser));
        EXPECT_EQ(nullptr, ser.object());
    }
    // Still mapped, still what the SDK's constructor wrote (its baud first).
    int baud = 0;
    std::memcpy(&baud, kept, sizeof baud);
    EXPECT_EQ(sdk::OV_BAUD_9600, baud);
}

// An SDK object's storage: usable bytes rounded up to 64, then the band,
// which ends where the no-access page begins. Whatever the object writes
// shows in written(); a byte into the band shows in bandIntact().
TEST(SdkStorage, TheBandShowsWhatTheObjectWrotePastItsRoom)
{
    const struct {
        std::size_t usable, band, write;
        std::size_t room; // usable after rounding
        bool intact;
    } cases[] = {
        {100, 64, 0, 128, true}, {100, 64, 128, 128, true}, {100, 64, 129, 128, false},
        {4096, 4096, 5000, 4096, false}, {65536, 4096, 65536, 65536, true},
    };
    for (const auto& c : cases) {
        GuardedBlock block;
        char error[128] = "";
        ASSERT_TRUE(block.reserve(c.usable, c.band, error, sizeof error)) << error;
        const auto start = reinterpret_cast<std::uintptr_t>(block.data());
        EXPECT_EQ(0u, start % GuardedBlock::kAlign);
        EXPECT_EQ(0u, (start + block.usable() + c.band) % plat::pageSize()) << "the band ends at the page";
        EXPECT_EQ(c.room, block.usable());
        std::memset(block.data(), 0, c.write);
        EXPECT_EQ(c.write, block.written()) << c.write;
        EXPECT_EQ(c.intact, block.bandIntact()) << c.write;
    }
}

} // namespace
