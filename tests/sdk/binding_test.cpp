// Binding the maker's SDK: which export each member is taken from, and what
// the binding says about it.
#include "helpers/capture.h"
#include "helpers/host.h"
#include "otksim/otksim.h"
#include "support/guarded.h"
#include "support/platform.h"
#include "tracker/sdkbind.h"
#include "tracker/sdksearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

using sdk::Id;
using sdk::Match;
using sdk::Refusal;
using Names = std::vector<std::string>;

// The machines whose names are read: 32-bit Windows, 64-bit Windows, 64-bit Linux.
const sdk::NameAbi kX86{false, true}, kX64{true, true}, kLp64{true, false};

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

// Each member is the one export that is it in a form the module can call;
// exports that name it otherwise are refused, and say why.
TEST(SdkNames, EachMemberIsTheOneExportThatTheModuleCanCall)
{
    const struct {
        Names exports;
        Id id;
        sdk::NameAbi abi;
        Match::Result result;
        Names picked; // the name found, or every candidate
        Refusal why;
    } cases[] = {
        {kMsvc, Id::COTKdev_Ctor, kX86, Match::Found, {"??0COTKdev@@QAE@XZ"}, Refusal::None},
        {kMsvc, Id::COTKdev_Dtor, kX86, Match::Found, {"??1COTKdev@@QAE@XZ"}, Refusal::None},
        {kMsvc, Id::COTKdev_StartContPno, kX86, Match::Found, {"?StartContPno@COTKdev@@QAEHPAUHWND__@@@Z"},
         Refusal::None},
        {kMsvc, Id::COTKdev_SetSAlignment, kX86, Match::Ambiguous,
         {"?SetSAlignment@COTKdev@@QAEHHAAY02$$CBM00@Z", "?SetSAlignment@COTKdev@@QAEHHPBM00@Z"}, Refusal::None},
        {kMsvc, Id::COTKmdat_Empty, kX86, Match::Found, {"?Empty@COTKmdat@@QAEXXZ"}, Refusal::None},
        {kMsvc, Id::COTKser_Ctor, kX64, Match::Found, {"??0COTKser@@QEAA@W4eOvBaudRate@@W4eOvParity@@H@Z"},
         Refusal::None},
        {kMsvc, Id::COTKbiterr_IsClear, kX86, Match::Found, {"?IsClear@COTKbiterr@@QBEHXZ"}, Refusal::None},
        {kMsvc, Id::OvDebug_OVDOUT, kX86, Match::Found, {"?OVDOUT@OvDebug@@SAXPBDZZ"}, Refusal::None},
        {kMsvc, Id::COTKdev_ClearBITErrs, kX86, Match::Missing, {}, Refusal::None},
        {kMsvc, Id::COTKmdat_Ctor, kX86, Match::Missing, {}, Refusal::None},

        {kItanium, Id::COTKdev_Ctor, kLp64, Match::Found, {"_ZN7COTKdevC1Ev"}, Refusal::None},
        {kItanium, Id::COTKdev_Dtor, kLp64, Match::Found, {"_ZN7COTKdevD1Ev"}, Refusal::None},
        {kItanium, Id::COTKdev_StartContPno, kLp64, Match::Found, {"_ZN7COTKdev12StartContPnoEP6HWND__"},
         Refusal::None},
        {kItanium, Id::COTKdev_SetSAlignment, kLp64, Match::Ambiguous,
         {"_ZN7COTKdev13SetSAlignmentEiRA3_KfS2_S2_", "_ZN7COTKdev13SetSAlignmentEiPKfS1_S1_"}, Refusal::None},
        {kItanium, Id::COTKmdat_Empty, kLp64, Match::Found, {"_ZN8COTKmdat5EmptyEv"}, Refusal::None},
        {kItanium, Id::COTKbiterr_IsClear, kLp64, Match::Found, {"_ZNK10COTKbiterr7IsClearEv"}, Refusal::None},
        {kItanium, Id::OvDebug_OVDOUT, kLp64, Match::Found, {"_ZN7OvDebug6OVDOUTEPKcz"}, Refusal::None},
        {kItanium, Id::COTKdev_GetLastResultStr, kLp64, Match::Found, {"_ZN7COTKdev16GetLastResultStrB5cxx11Ev"},
         Refusal::None},
        {kItanium, Id::COTKdev_CnxReady, kLp64, Match::Refused, {"_ZN10COTKdevice8CnxReadyEv"}, Refusal::OtherScope},

        // The kind MSVC's names encode: convention, static or not, data, access, const, width.
        {{"?CnxReady@COTKdev@@QAGHXZ"}, Id::COTKdev_CnxReady, kX86, Match::Refused, {"?CnxReady@COTKdev@@QAGHXZ"},
         Refusal::Convention},
        {{"?CnxReady@COTKdev@@QAAHXZ"}, Id::COTKdev_CnxReady, kX86, Match::Refused, {"?CnxReady@COTKdev@@QAAHXZ"},
         Refusal::Convention},
        {{"?CnxReady@COTKdev@@SAHXZ"}, Id::COTKdev_CnxReady, kX86, Match::Refused, {"?CnxReady@COTKdev@@SAHXZ"},
         Refusal::Static},
        {{"?CnxReady@COTKdev@@2HA"}, Id::COTKdev_CnxReady, kX64, Match::Refused, {"?CnxReady@COTKdev@@2HA"},
         Refusal::Data},
        {{"?CnxReady@COTKdev@@AAEHXZ"}, Id::COTKdev_CnxReady, kX86, Match::Refused, {"?CnxReady@COTKdev@@AAEHXZ"},
         Refusal::NotPublic},
        {{"?CnxReady@COTKdev@@UEAAHXZ"}, Id::COTKdev_CnxReady, kX64, Match::Found, {"?CnxReady@COTKdev@@UEAAHXZ"},
         Refusal::None},
        {{"?CnxReady@COTKdev@@QAEHXZ"}, Id::COTKdev_CnxReady, kX64, Match::Refused, {"?CnxReady@COTKdev@@QAEHXZ"},
         Refusal::Form},
        {{"?IsClear@COTKbiterr@@QAEHXZ"}, Id::COTKbiterr_IsClear, kX86, Match::Refused,
         {"?IsClear@COTKbiterr@@QAEHXZ"}, Refusal::NonConst},
        {{"?OVDOUT@OvDebug@@QAAXPBDZZ"}, Id::OvDebug_OVDOUT, kX86, Match::Refused, {"?OVDOUT@OvDebug@@QAAXPBDZZ"},
         Refusal::NonStatic},
        {{"?OVDOUT@OvDebug@@SGXPBD@Z"}, Id::OvDebug_OVDOUT, kX86, Match::Refused, {"?OVDOUT@OvDebug@@SGXPBD@Z"},
         Refusal::Convention},
        // Parameters and results: what travels alike passes, nothing else.
        {{"??0COTKser@@QAE@XZ", "??0COTKser@@QAE@HHH@Z"}, Id::COTKser_Ctor, kX86, Match::Found,
         {"??0COTKser@@QAE@HHH@Z"}, Refusal::None},
        {{"??0COTKser@@QAE@XZ"}, Id::COTKser_Ctor, kX86, Match::Refused, {"??0COTKser@@QAE@XZ"}, Refusal::Parameters},
        {{"??0COTKdev@@QEAA@PEBD@Z", "??0COTKdev@@QEAA@AEBV0@H@Z"}, Id::COTKdev_Ctor, kX64, Match::Refused,
         {"??0COTKdev@@QEAA@PEBD@Z", "??0COTKdev@@QEAA@AEBV0@H@Z"}, Refusal::Parameters},
        {{"??0COTKmdat@@QAE@H@Z"}, Id::COTKmdat_Ctor, kX86, Match::Refused, {"??0COTKmdat@@QAE@H@Z"},
         Refusal::Parameters},
        {{"?SetFrameRate@COTKdev@@QAEHN@Z"}, Id::COTKdev_SetFrameRate, kX86, Match::Refused,
         {"?SetFrameRate@COTKdev@@QAEHN@Z"}, Refusal::Parameters},
        {{"?StartContPno@COTKdev@@QEAAHP8CWnd@@EAAXH@Z@Z"}, Id::COTKdev_StartContPno, kX64, Match::Refused,
         {"?StartContPno@COTKdev@@QEAAHP8CWnd@@EAAXH@Z@Z"}, Refusal::Parameters},
        {{"?SetSHemisphere@COTKdev@@QEAAHW4eStation@@PEBM@Z"}, Id::COTKdev_SetSHemisphere, kX64, Match::Found,
         {"?SetSHemisphere@COTKdev@@QEAAHW4eStation@@PEBM@Z"}, Refusal::None},
        {{"?GetLastResultStr@COTKdev@@QAE?AV?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@2@@std@@XZ"},
         Id::COTKdev_GetLastResultStr, kX86, Match::Refused,
         {"?GetLastResultStr@COTKdev@@QAE?AV?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@2@@std@@XZ"},
         Refusal::Result},
        {{"_ZN7COTKdev13SetSAlignmentEiPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_S6_"},
         Id::COTKdev_SetSAlignment, kLp64, Match::Found,
         {"_ZN7COTKdev13SetSAlignmentEiPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_S6_"}, Refusal::None},
        {{"_ZN7COTKdev12SetFrameRateENSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"},
         Id::COTKdev_SetFrameRate, kLp64, Match::Refused,
         {"_ZN7COTKdev12SetFrameRateENSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"}, Refusal::Parameters},
        {{"?Empty@COTKmdat@@QAEHXZ"}, Id::COTKmdat_Empty, kX86, Match::Found, {"?Empty@COTKmdat@@QAEHXZ"},
         Refusal::None},
        // Under a base class or in a namespace: the library has it, the class does not.
        {{"?GetLastResultStr@COvBase@@QAEPBDXZ"}, Id::COTKdev_GetLastResultStr, kX86, Match::Refused,
         {"?GetLastResultStr@COvBase@@QAEPBDXZ"}, Refusal::OtherScope},
        {{"?CnxReady@COTKdev@ovr@@QAEHXZ", "_ZN3ovr7COTKdev8CnxReadyEv"}, Id::COTKdev_CnxReady, kX86,
         Match::Refused, {"?CnxReady@COTKdev@ovr@@QAEHXZ", "_ZN3ovr7COTKdev8CnxReadyEv"}, Refusal::OtherScope},
        {{"??0COTKdev@ovr@@QAE@XZ"}, Id::COTKdev_Ctor, kX86, Match::Refused, {"??0COTKdev@ovr@@QAE@XZ"},
         Refusal::OtherScope},
        // GCC's names: const, data, parameters.
        {{"_ZNK7OvDebug6OVDOUTEPKcz"}, Id::OvDebug_OVDOUT, kLp64, Match::Refused, {"_ZNK7OvDebug6OVDOUTEPKcz"},
         Refusal::NonStatic},
        {{"_ZNK7COTKdev8CnxReadyEv"}, Id::COTKdev_CnxReady, kLp64, Match::Refused, {"_ZNK7COTKdev8CnxReadyEv"},
         Refusal::Const},
        {{"_ZN7COTKdev8CnxReadyE"}, Id::COTKdev_CnxReady, kLp64, Match::Refused, {"_ZN7COTKdev8CnxReadyE"},
         Refusal::Data},
        {{"_ZN10COTKbiterrC2Em", "_ZN10COTKbiterrC1Em"}, Id::COTKbiterr_Ctor, kLp64, Match::Refused,
         {"_ZN10COTKbiterrC1Em"}, Refusal::Parameters},
        {{"_ZN7COTKdevC1ERKS_i"}, Id::COTKdev_Ctor, kLp64, Match::Refused, {"_ZN7COTKdevC1ERKS_i"},
         Refusal::Parameters},
        {{"_ZN7COTKserC1Eiii"}, Id::COTKser_Ctor, kLp64, Match::Found, {"_ZN7COTKserC1Eiii"}, Refusal::None},
        {{"_ZN7COTKserC1Elii"}, Id::COTKser_Ctor, kLp64, Match::Refused, {"_ZN7COTKserC1Elii"}, Refusal::Parameters},
        {{"_ZN7COTKserC1Elii"}, Id::COTKser_Ctor, kX86, Match::Found, {"_ZN7COTKserC1Elii"}, Refusal::None},
        {{"_ZN7COTKserC1E5eBaud9eOvParityi"}, Id::COTKser_Ctor, kLp64, Match::Refused,
         {"_ZN7COTKserC1E5eBaud9eOvParityi"}, Refusal::Parameters},
        {{"_ZN7COTKdev7ReserveIiEEvT_"}, Id::COTKdev_CnxReady, kLp64, Match::Missing, {}, Refusal::None},
        // Malformed names never match; a name listed twice counts once; reasons that differ make one.
        {{"?CnxReady@COTKdev@@", "_ZN7COTKdev8CnxReady"}, Id::COTKdev_CnxReady, kX86, Match::Refused,
         {"?CnxReady@COTKdev@@", "_ZN7COTKdev8CnxReady"}, Refusal::Form},
        {{"?CnxReady@COTKdev@@QAEHXZ", "?CnxReady@COTKdev@@QAEHXZ"}, Id::COTKdev_CnxReady, kX86, Match::Found,
         {"?CnxReady@COTKdev@@QAEHXZ"}, Refusal::None},
        {{"?CnxReady@COTKdev@@2HA", "?CnxReady@COTKdev@@SAHXZ", "?CnxReady@COTKdev@@2HA"}, Id::COTKdev_CnxReady,
         kX86, Match::Refused, {"?CnxReady@COTKdev@@2HA", "?CnxReady@COTKdev@@SAHXZ"}, Refusal::Form},
    };
    for (const auto& c : cases) {
        const Match m = sdk::findExport(c.exports, c.id, c.abi);
        const sdk::MemberInfo& info = sdk::memberInfo(c.id);
        SCOPED_TRACE(std::string(info.cls) + "::" + info.member + " in " + c.exports[0]);
        EXPECT_EQ(c.result, m.result);
        EXPECT_EQ(c.why, m.why);
        if (c.result == Match::Found)
            EXPECT_EQ(c.picked, Names{m.name});
        else
            EXPECT_EQ(c.picked, m.candidates);
    }
}

// Each name of the table is the member it stands for, on its machine.
TEST(SdkNames, TheTablesOwnNamesAreFound)
{
    for (int i = 0; i < sdk::kMemberCount; ++i) {
        const sdk::MemberInfo& info = sdk::memberInfo(static_cast<Id>(i));
        const std::pair<const char*, sdk::NameAbi> names[] = {
            {info.msvc32, kX86}, {info.msvc64, kX64}, {info.itanium, kLp64}, {info.itanium, kX86}};
        for (const auto& n : names) {
            const Match m = sdk::findExport({n.first}, static_cast<Id>(i), n.second);
            EXPECT_EQ(Match::Found, m.result) << n.first << " " << sdk::refusalText(m.why);
        }
    }
}

// The console lines of refused members name them and show what the library has.
TEST(SdkNames, ARefusalNamesTheMemberAndTheCandidates)
{
    const struct {
        Id id;
        Names candidates;
        Refusal why;
        const char* line;
    } cases[] = {
        {Id::COTKdev_Ctor, {"??0COTKdev@@QEAA@PEBD@Z"}, Refusal::Parameters,
         "Tracker SDK OTK.dll has no default constructor of COTKdev (it exports ??0COTKdev@@QEAA@PEBD@Z)"},
        {Id::COTKser_Ctor, {"??0COTKser@@QAE@XZ"}, Refusal::Parameters,
         "Tracker SDK OTK.dll has COTKser::COTKser only with other parameters (it exports ??0COTKser@@QAE@XZ)"},
        {Id::COTKdev_CnxReady, {"?CnxReady@COTKdev@@2HA"}, Refusal::Data,
         "Tracker SDK OTK.dll has COTKdev::CnxReady only as data (it exports ?CnxReady@COTKdev@@2HA)"},
        {Id::COTKdev_GetLastResultStr, {"?GetLastResultStr@COvBase@@QAEPBDXZ"}, Refusal::OtherScope,
         "Tracker SDK OTK.dll has COTKdev::GetLastResultStr only under another class or namespace (it exports "
         "?GetLastResultStr@COvBase@@QAEPBDXZ)"},
        {Id::COTKdev_CnxReady, {"?CnxReady@COTKdev@@2HA", "?CnxReady@COTKdev@@SAHXZ"}, Refusal::Form,
         "Tracker SDK OTK.dll has COTKdev::CnxReady only in forms the module cannot call (it exports "
         "?CnxReady@COTKdev@@2HA, ?CnxReady@COTKdev@@SAHXZ)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.line, sdk::refusalLine("OTK.dll", c.id, c.candidates, c.why));
}

// Against the GCC-built stand-in every member is taken by the exact name the
// table gives it (a wrong name there would only show as a scan), and each is
// logged once, by the first SDK object of the process: the binding outlives
// every object, and the libraries stay loaded (the trace output still works
// with no object left).
TEST(SdkBinding, TheStandInBindsEveryMemberByItsExactNameOnceForTheProcess)
{
    sdk::setLibraryFilesForTests({nullptr, nullptr}); // bound afresh, whatever ran before
    CLogger log = testhelp::quietLogger("tarsis0");
    log.debugLevel = 1;
    testhelp::CaptureStdout out;
    testhelp::CaptureTrace trace;
    const sdk::BindReport* report = nullptr;
    {
        sdk::COTKdev first(&log);
        ASSERT_NE(nullptr, first.object()) << first.failure();
        report = &sdk::acquireBinding(nullptr);
        sdk::releaseBinding();
    }
    for (int m = 0; m < sdk::kMemberCount; ++m) {
        const sdk::MemberInfo& info = sdk::memberInfo(static_cast<sdk::Id>(m));
        if (report->members[m].state == sdk::BindReport::Member::Absent) {
            EXPECT_EQ(sdk::Need::Optional, info.need) << info.member; // trivial: not exported
            continue;
        }
        EXPECT_EQ(sdk::BindReport::Member::Bound, report->members[m].state) << info.member;
        EXPECT_EQ(info.itanium, report->members[m].name) << info.member;
    }
    const sdk::BindReport::Lib otk = report->libraries[static_cast<int>(sdk::Library::OTK)];
    sdk::OvDebug::OVDOUT("after the last object: %d\r\n", 1);
    EXPECT_EQ(Names{"after the last object: 1\r\n"}, trace.lines());
    sdk::COTKdev second(&log);
    ASSERT_NE(nullptr, second.object()) << second.failure();
    EXPECT_EQ(report, &sdk::acquireBinding(nullptr));
    sdk::releaseBinding();

    const Names lines = out.lines();
    const long bound = std::count_if(report->members, report->members + sdk::kMemberCount,
                                     [](const sdk::BindReport::Member& m) { return !m.name.empty(); });
    EXPECT_EQ(bound,
              std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find(" bound to ") != std::string::npos; }));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "tarsis0: DEBUG: Tracker SDK: COTKdev::DiscoverCnx bound to "
                                     "_ZN7COTKdev11DiscoverCnxEv in " + otk.file));
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(),
                            "tarsis0: DEBUG: Tracker SDK: " + otk.file + " loaded from " + otk.path));
    EXPECT_EQ(plat::moduleDir() + otk.file, otk.path) << "the module's folder comes first";
}

// What an SDK call that fails hard does here: a write through a null pointer
// on Windows, a C++ exception on Linux (where the former ends the process).
void escape(void*)
{
#ifdef _WIN32
    volatile int* volatile nowhere = nullptr; // a volatile store stays
    *nowhere = 1;
#else
    throw std::runtime_error("escaped");
#endif
}

// A call whose exception is caught by a frame of its own (as an SDK catches
// what it throws itself) returns normally to the gate; the gate catches what
// escapes, again and again, and its caller's state survives each time.
TEST(SdkCallGate, CatchesWhatEscapesAndNothingCaughtInside)
{
    struct Inner {
        bool returned = true;
        plat::CallFault fault;
        static void run(void* context)
        {
            Inner& inner = *static_cast<Inner*>(context);
            inner.returned = plat::callGuarded(escape, nullptr, inner.fault);
        }
    } inner;
    plat::CallFault outer;
    EXPECT_TRUE(plat::callGuarded(&Inner::run, &inner, outer));
    EXPECT_FALSE(inner.returned);
#ifdef _WIN32
    EXPECT_EQ(plat::CallFault::AccessViolation, inner.fault.kind);
    EXPECT_EQ(0xC0000005ul, inner.fault.code);
    EXPECT_EQ(1, inner.fault.access);
    EXPECT_EQ(0u, inner.fault.address);
#else
    EXPECT_EQ(plat::CallFault::CxxException, inner.fault.kind);
    EXPECT_STREQ("std::runtime_error: escaped", inner.fault.what);
#endif
    volatile unsigned long kept = 0x5EED;
    int caught = 0;
    for (int i = 0; i < 1000; ++i)
        caught += !plat::callGuarded(escape, nullptr, outer);
    EXPECT_EQ(1000, caught);
    EXPECT_EQ(0x5EEDul, kept);
}

#ifdef _WIN32
const char kSep = '\\';
const std::string kThisModule = "tarsis.dll";
#else
const char kSep = '/';
const std::string kThisModule = "tarsis.so";
#endif

// Where a module in a folder looks: its own folder first, never the current
// folder, each folder once; with TARSIS_SDK_DIR set (not empty), there only.
TEST(SdkSearch, TheModulesFolderComesFirstAndTheCurrentFolderNever)
{
#ifdef _WIN32
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    const testhelp::ScopedEnv path("PATH", "C:\\one;relative\\two;;\"C:\\Three Four\";c:/ONE\\;\\\\server\\share;.");
    const std::string module = "C:\\plugins\\", sdkDir = "D:\\sdk";
    const std::string searched = module + " (the module's folder); " + dir + " (the program's folder); " +
                                 plat::systemDir() +
                                 " (the system folder); C:\\one\\ (PATH); C:\\Three Four\\ (PATH); \\\\server\\share\\ (PATH)";
#else
    const std::string module = "/opt/host/plugins/", sdkDir = "/opt/sdk";
    const std::string searched = module + " (the module's folder); then the system's search order";
#endif
    const struct {
        const char* sdkDir;
        std::string plan;
    } cases[] = {
        {nullptr, searched},
        {"", searched},
        {sdkDir.c_str(), sdkDir + kSep + " (TARSIS_SDK_DIR is set: no other folder is searched)"},
    };
    for (const auto& c : cases) {
        const testhelp::ScopedEnv only("TARSIS_SDK_DIR", c.sdkDir);
        EXPECT_EQ(c.plan, sdk::describePlan(sdk::searchPlan(module))) << (c.sdkDir ? c.sdkDir : "(unset)");
    }
}

// A header of another architecture than this build's, or of this one with
// nothing behind it (no loader takes that), as a library file.
void writeHeader(const std::string& path, bool otherArch)
{
    const bool x64 = sizeof(void*) == 8;
    const bool sixtyFour = otherArch ? !x64 : x64;
    std::vector<unsigned char> bytes(512, 0);
#ifdef _WIN32
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x80; // e_lfanew
    std::memcpy(&bytes[0x80], "PE\0\0", 4);
    const unsigned machine = sixtyFour ? 0x8664 : 0x014C, magic = sixtyFour ? 0x20B : 0x10B;
    bytes[0x84] = machine & 0xFF;
    bytes[0x85] = machine >> 8;
    bytes[0x98] = magic & 0xFF;
    bytes[0x99] = magic >> 8;
#else
    std::memcpy(&bytes[0], "\x7f" "ELF", 4);
    bytes[4] = sixtyFour ? 2 : 1; // class
    bytes[5] = 1;                 // little-endian
    bytes[6] = 1;
    bytes[16] = 3; // a shared object
    bytes[18] = sixtyFour ? 62 : 3;
#endif
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Folders with a library of this architecture (a copy of the support
// library), one of the other, one that no loader takes, and none: the first
// of this architecture is loaded; one of another is passed over, and named
// only when nothing else is found; one that fails to load ends the search
// with the system's reason, its placeholders filled.
TEST(SdkSearch, TheFirstLibraryOfThisArchitectureIsLoadedAndAnyOtherNamed)
{
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    const std::string top = std::string(dir) + "sdksearch" + kSep;
#ifdef _WIN32
    const std::string file = "sdksearch.dll", support = "OvCmdIF.dll";
    const std::string other = sizeof(void*) == 8 ? "32-bit (x86)" : "64-bit (x86-64)";
    const std::string self = sizeof(void*) == 8 ? "64-bit (x86-64)" : "32-bit (x86)";
#else
    const std::string file = "libsdksearch.so", support = "libOvCmdIF.so";
    const std::string other = sizeof(void*) == 8 ? "32-bit (x86)" : "64-bit (x86-64)";
    const std::string self = sizeof(void*) == 8 ? "64-bit (x86-64)" : "32-bit (x86)";
#endif
    const std::string none = top + "none" + kSep, alien = top + "alien" + kSep, real = top + "real" + kSep,
                      broken = top + "broken" + kSep;
    std::error_code ec;
    for (const std::string& folder : {none, alien, real, broken})
        std::filesystem::create_directories(folder, ec);
    writeHeader(alien + file, true);
    writeHeader(broken + file, false);
    std::filesystem::remove(real + file, ec); // (mingw's copy_file cannot overwrite)
    ASSERT_TRUE(std::filesystem::copy_file(std::string(dir) + support, real + file, ec)) << ec.message();

    const std::string only = " (TARSIS_SDK_DIR is set: no other folder is searched)";
    const std::string otherArch = ": a " + other + " library; this " + kThisModule + " is " + self;
    const struct {
        std::vector<std::string> folders;
        bool fromEnvironment, systemSearch;
        const std::string& name; // the library looked for
        std::string path;        // loaded
        std::string failure;     // or this line; a trailing blank takes any system text
    } cases[] = {
        {{none, alien, real}, false, false, file, real + file, ""},
        {{alien}, false, false, file, "", "Unable to load tracker SDK " + alien + file + otherArch},
        {{alien}, true, false, file, "", "Unable to load tracker SDK " + alien + file + otherArch + only},
        {{none}, true, false, file, "", "Unable to load tracker SDK " + file + ": not found in " + none + only},
        {{none, top}, false, false, file, "", "Unable to load tracker SDK " + file + ": not found in " + none + "; " + top},
        {{broken, real}, false, false, file, broken + file, "Unable to load tracker SDK " + broken + file + ": "},
#ifndef _WIN32
        {{none}, false, true, support, dir + support, ""},
        {{none}, false, true, file, "",
         "Unable to load tracker SDK " + file + ": not found in " + none + "; the system's search: "},
#endif
    };
    for (const auto& c : cases) {
        sdk::SearchPlan plan;
        for (const std::string& folder : c.folders)
            plan.places.push_back({folder, "a test folder"});
        plan.fromEnvironment = c.fromEnvironment;
        plan.systemSearch = c.systemSearch;
        const sdk::Located found = sdk::locate(plan, c.name);
        SCOPED_TRACE(c.failure);
        if (c.failure.empty()) {
            EXPECT_NE(nullptr, found.handle);
            EXPECT_EQ("", found.failure);
        } else {
            EXPECT_EQ(nullptr, found.handle);
            if (c.failure.back() == ' ') {
                EXPECT_EQ(0u, found.failure.find(c.failure)) << found.failure;
                EXPECT_GT(found.failure.size(), c.failure.size());
                EXPECT_EQ(std::string::npos, found.failure.find("%1")) << found.failure;
            } else {
                EXPECT_EQ(c.failure, found.failure);
            }
        }
        EXPECT_EQ(c.path, found.path);
    }
}

// A GCC-built SDK whose classes are declared otherwise than the module calls
// them: each member is refused for what it is, the trivial constructors it
// does not export in a form the module calls are not bound, and the first
// refusal in table order is the line init prints.
TEST(SdkBinding, AnSdkDeclaredOtherwiseIsRefusedMemberByMember)
{
#ifdef _WIN32
    const std::string odd = "otkodd.dll";
#else
    const std::string odd = "otkodd.so";
#endif
    using Member = sdk::BindReport::Member;
    const struct {
        Id id;
        Member::State state;
        Names candidates;
        Refusal why;
    } cases[] = {
        {Id::COTKser_Ctor, Member::Refused, {"_ZN7COTKserC1Ev"}, Refusal::Parameters},
        {Id::COTKbiterr_Ctor, Member::Absent, {"_ZN10COTKbiterrC1Em"}, Refusal::Parameters},
        {Id::COTKmdat_Ctor, Member::Absent, {"_ZN8COTKmdatC1Ei"}, Refusal::Parameters},
        {Id::COTKmdat_Dtor, Member::Absent, {}, Refusal::None},
        {Id::COTKdev_Ctor, Member::Refused, {"_ZN7COTKdevC1EPKc"}, Refusal::Parameters},
        {Id::COTKdev_TrackerType, Member::Refused, {"_ZNK7COTKdev11TrackerTypeEv"}, Refusal::Const},
        {Id::COTKdev_SetFrameRate, Member::Refused, {"_ZN7COTKdev12SetFrameRateEd"}, Refusal::Parameters},
        {Id::COTKdev_GetLastResultStr, Member::Refused, {"_ZN7COvBase16GetLastResultStrEv"}, Refusal::OtherScope},
        {Id::COTKdev_DiscoverCnx, Member::Missing, {}, Refusal::None},
        {Id::OvDebug_OVDOUT, Member::Bound, {}, Refusal::None},
    };
    const sdk::LibraryFiles usual = sdk::setLibraryFilesForTests({odd.c_str(), nullptr});
    const sdk::BindReport report = sdk::acquireBinding(nullptr);
    sdk::releaseBinding();
    sdk::setLibraryFilesForTests(usual);
    for (const auto& c : cases) {
        const Member& m = report.members[static_cast<int>(c.id)];
        SCOPED_TRACE(sdk::memberInfo(c.id).member);
        EXPECT_EQ(c.state, m.state);
        EXPECT_EQ(c.candidates, m.candidates);
        EXPECT_EQ(c.why, m.why);
    }
    EXPECT_FALSE(report.complete);
    EXPECT_EQ("Tracker SDK " + odd + " has COTKser::COTKser only with other parameters (it exports _ZN7COTKserC1Ev)",
              report.failure);
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
        std::memset(block.data(), 0x5A, c.write);
        EXPECT_EQ(c.write, block.written()) << c.write;
        EXPECT_EQ(c.intact, block.bandIntact()) << c.write;
    }
}

// The usual storage is far larger than any object: it starts zeroed, costs
// memory only for the pages an object touches, and finding how much the
// object wrote reads no other page. Storage reserved again is fresh.
TEST(SdkStorage, TheUsualStorageCostsOnlyThePagesAnObjectTouches)
{
    const std::size_t usable = sdk::objectStorageBytes(), page = plat::pageSize();
    const std::size_t object = 4 * 1024 * 1024 + 3;
    ASSERT_GE(usable, std::size_t(16 * 1024 * 1024));
    GuardedBlock block;
    char error[128] = "";
    ASSERT_TRUE(block.reserve(usable, sdk::kGuardBandBytes, error, sizeof error)) << error;
    std::vector<unsigned char> touched(usable / page);
    ASSERT_TRUE(plat::touchedPages(block.data(), usable, touched.data()));
    EXPECT_EQ(0, std::count(touched.begin(), touched.end(), 1));

    auto* bytes = static_cast<unsigned char*>(block.data());
    std::memset(bytes, 0x5A, object);
    EXPECT_EQ(object, block.written());
    EXPECT_TRUE(block.bandIntact());
    ASSERT_TRUE(plat::touchedPages(block.data(), usable, touched.data()));
    EXPECT_EQ(long((object + page - 1) / page), std::count(touched.begin(), touched.end(), 1));
    EXPECT_EQ(1, touched[object / page]);

    ASSERT_TRUE(block.reserve(usable, sdk::kGuardBandBytes, error, sizeof error)) << error;
    bytes = static_cast<unsigned char*>(block.data());
    EXPECT_EQ(0u, block.written());
    EXPECT_EQ(0, bytes[0]);
    EXPECT_EQ(0, bytes[object - 1]);
    EXPECT_EQ(0, bytes[usable - 1]);
}

// An SDK object of several MiB fits the usual storage and works; how much its
// constructor wrote is what the SDK's own object covers.
TEST(SdkStorage, AnObjectOfSeveralMiBFitsAndWorks)
{
    otksim::SetScenario("frames=manual footprint=4194304");
    {
        sdk::COTKdev dev;
        ASSERT_NE(nullptr, dev.object()) << dev.failure();
        EXPECT_EQ(4194304u, dev.writtenBytes());
        EXPECT_NE(0, dev.DiscoverCnx());
    }
    otksim::SetScenario(nullptr);
}

} // namespace
