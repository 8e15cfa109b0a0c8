#include "common/concommon.h"

#include "helpers/capture.h"
#include "helpers/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Handler {
    explicit Handler(unsigned controllers = 1, bool knownCounts = false) : log(testhelp::quietLogger()), con(&log)
    {
        con.initControllers(controllers, knownCounts);
        con.m_bInputConnector = false;
        con.m_nOutControllers = controllers;
    }
    // Parses one option line (line number 10); keeps stdout in `out` and
    // returns whether the line was consumed.
    bool line(const char* keyword, const std::vector<const char*>& args, bool expectOk = true, int argCount = -1)
    {
        testhelp::Config cfg;
        ConfigOption& o = cfg.add(keyword).option(0);
        for (unsigned i = 0; i < args.size(); ++i)
            o.args[i] = args[i];
        o.argCount = argCount < 0 ? int(args.size()) : argCount;
        testhelp::CaptureStdout capture;
        EXPECT_EQ(expectOk, con.parseConfig(cfg.get()));
        out = capture.lines();
        return o.consumed;
    }
    ControllerEntry& entry(unsigned id) { return con.m_pControllers[id - 1]; }
    CLogger log;
    CConCommonH con;
    std::vector<std::string> out;
};

TEST(ConCommonParse, ItemOrderMapsPositionsAndZerosAreGaps)
{
    Handler h;
    EXPECT_TRUE(h.line("VALUATORORDER", {"1", "3", "0", "1"}));
    EXPECT_TRUE(h.line("buttonorder", {"1", "2", "0", "0"}));
    const ControllerEntry& e = h.entry(1);
    EXPECT_EQ(3u, e.numValuators);
    EXPECT_EQ((std::vector<unsigned>{3, 0, 1, 0}), std::vector<unsigned>(e.valuatorMap, e.valuatorMap + 4));
    EXPECT_EQ(2u, e.numButtons);
    EXPECT_EQ(1u, e.buttonMap[1]);
    EXPECT_TRUE(h.out.empty());

    Handler known(1, true); // counts of 0: only all-zero lines pass
    EXPECT_TRUE(known.line("valuatororder", {"1", "0"}));
    EXPECT_TRUE(known.line("buttonorder", {"1"}));
    EXPECT_EQ(0u, known.entry(1).numValuators);
}

struct BadLine {
    unsigned controllers;
    bool knownCounts;
    const char* keyword;
    std::vector<const char*> args;
    const char* message;
};

TEST(ConCommonParse, EachLineErrorIsOneMessageAndChangesNothing)
{
    const char* const incompleteEmu = "Incomplete option line found for EmulateTracker at line 10.";
    const std::vector<BadLine> cases = {
        {1, false, "valuatororder", {"1", "2", "2"}, "Same ID found more than once in Order option at line 10."},
        {1, true, "valuatororder", {"1", "1"}, "Invalid ID found in Order option at line 10."},
        {1, false, "buttonorder", {"1", "x"}, "Invalid arg found for Order at line 10."},
        {1, false, "buttonorder", {"1", "-1"}, "Invalid ID found in Order option at line 10."},
        // Must not wrap to 1 where long has 64 bits.
        {1, false, "buttonorder", {"1", "4294967297"}, "Invalid ID found in Order option at line 10."},
        {1, false, "valuatororder", {}, "Incomplete option line found for Order at line 10."},
        {1, false, "valuatorscale", {"1", "[0,0,0,0]", "all"}, "Incomplete option line found for ValuatorScale at line 10."},
        {1, false, "valuatorscale", {"1", "abc", "all"}, "Invalid arg found for ValuatorScale at line 10."},
        {1, false, "valuatorscale", {"1", "2", "1"}, "Invalid valuator ID found for ValuatorScale option at line 10."},
        {1, false, "valuatorscale", {"0x2", "2", "all"}, "Invalid controller ID found for ValuatorScale option at line 10."},
        {1, false, "emulatetracker", {"1", "[1,2,3,4,5,6]", "0", "0", "0", "0", "0"}, incompleteEmu},
        {1, false, "emulatetracker", {"1", "[1,2,3,4,5,6]", "0", "0", "0", "0", "0", "0", "1", "1"},
         "Too many args found for EmulateTracker at line 10."},
        {1, false, "emulatetracker", {"1", "[1,2,3,4,5,6]", "0", "0", "0", "0", "0", "0", "0"},
         "Invalid button ID found for EmulateTracker option at line 10. Ignored."},
        {1, false, "emulatetracker", {"1", "[1,2,3,4,5,6]", "0", "1", "0", "0", "0", "0"},
         "Invalid valuator ID found for EmulateTracker option at line 10."},
        {2, false, "emulatetracker", {"3"}, "Invalid controller ID found for EmulateTracker option at line 10."},
        {2, false, "controllerorder", {"1", "3"}, "Invalid controller ID found for Order option at line 10."},
    };
    for (const BadLine& c : cases) {
        SCOPED_TRACE(c.message);
        Handler h(c.controllers, c.knownCounts);
        h.entry(1).order = 7;
        EXPECT_FALSE(h.line(c.keyword, c.args, false));
        EXPECT_EQ(std::vector<std::string>{std::string("tarsis0: ERROR: ") + c.message}, h.out);
        const ControllerEntry& e = h.entry(1);
        EXPECT_EQ(0u, e.numValuators + e.numButtons);
        EXPECT_EQ(1.0f, e.valuatorScale[0][2]);
        EXPECT_EQ(nullptr, e.emulation);
        EXPECT_EQ(7u, e.order);
    }
}

TEST(ConCommonParse, NonFiniteAndOverflowingPosesAndScalesAreRefused)
{
    const char* const badEmu = "Invalid arg found for EmulateTracker at line 10.";
    const char* const badScale = "Invalid arg found for ValuatorScale at line 10.";
    const std::vector<BadLine> cases = {
        {1, false, "emulatetracker", {"1", "[nan,0,0,0,0,0]", "0", "0", "0", "0", "0", "0"}, badEmu},
        {1, false, "emulatetracker", {"1", "[0,0,0,0,0,-INF]", "0", "0", "0", "0", "0", "0"}, badEmu},
        {1, false, "emulatetracker", {"1", "[0, 1e39,0]", "0", "0", "0", "0", "0", "0"}, badEmu},
        {1, false, "emulatetracker", {"1", "[1e309]", "0", "0", "0", "0", "0", "0"}, badEmu},
        // Finite, but 1e30 ft cannot be stored in the record's 32-bit word.
        {1, false, "emulatetracker", {"1", "[0,0,1e30,0,0,0]", "0", "0", "0", "0", "0", "0"}, badEmu},
        {1, false, "valuatorscale", {"1", "[0,0,Infinity,0]", "all"}, badScale},
        {1, false, "valuatorscale", {"1", "[1,-1e39]", "all"}, badScale},
        {1, false, "valuatorscale", {"1", "nan", "all"}, badScale},
        {1, false, "valuatorscale", {"1", "-inf", "all"}, badScale},
        {1, false, "valuatorscale", {"1", "1e39", "all"}, badScale},
    };
    for (const BadLine& c : cases) {
        SCOPED_TRACE(c.args[1]);
        Handler h(c.controllers, c.knownCounts);
        EXPECT_FALSE(h.line(c.keyword, c.args, false));
        EXPECT_EQ(std::vector<std::string>{std::string("tarsis0: ERROR: ") + c.message}, h.out);
        EXPECT_EQ(1.0f, h.entry(1).valuatorScale[31][2]);
        EXPECT_EQ(nullptr, h.entry(1).emulation);
    }
    // The bracket reads like "[%f,...]": a value not reached stays 0, and
    // text after a number ends the scan without complaint.
    Handler h;
    EXPECT_TRUE(h.line("emulatetracker", {"1", "[ 1.5,2 ,3]", "0", "0", "0", "0", "0", "0"}));
    const float pose[6] = {1.5f, 2, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(pose, h.entry(1).emulation->initValues, sizeof pose));
}

TEST(ConCommonParse, ArgumentCountAboveTheRecordIsCappedAtSixtyFour)
{
    Handler h;
    std::vector<const char*> args(kMaxOptionArgs, "0");
    args[0] = "1";
    EXPECT_TRUE(h.line("valuatororder", args, true, 1000)); // args[64] would be the count itself
}

TEST(ConCommonParse, ValuatorScaleForms)
{
    Handler h;
    ASSERT_TRUE(h.line("valuatororder", {"1", "1", "2"}));
    EXPECT_TRUE(h.line("valuatorscale", {"1", "2.5", "ALL", "99"})); // 99 is never read
    EXPECT_TRUE(h.line("valuatorscale", {"1", "0", "1"}));
    EXPECT_TRUE(h.line("valuatorscale", {"1", "[1,-1,2,0.5]", "2"}));
    const ControllerEntry& e = h.entry(1);
    const float zero[4] = {}, cubic[4] = {1, -1, 2, 0.5f}, linear[4] = {0, 0, 2.5f, 0};
    EXPECT_EQ(0, std::memcmp(zero, e.valuatorScale[0], sizeof zero));
    EXPECT_EQ(0, std::memcmp(cubic, e.valuatorScale[1], sizeof cubic));
    EXPECT_EQ(0, std::memcmp(linear, e.valuatorScale[31], sizeof linear)); // "all" goes past numValuators
}

TEST(ConCommonParse, EmulationChecksCountsOfEarlierOrderLines)
{
    Handler h(2);
    EXPECT_TRUE(h.line("emulatetracker", {"1", "[1.5,2,3,4,5,-6]", "0", "0", "0", "0", "0", "0"}));
    const float pose[6] = {1.5f, 2, 3, 4, 5, -6};
    EXPECT_EQ(0, std::memcmp(pose, h.entry(1).emulation->initValues, sizeof pose));

    ASSERT_TRUE(h.line("valuatororder", {"2", "0", "2"}));
    ASSERT_TRUE(h.line("buttonorder", {"2", "3"}));
    EXPECT_TRUE(h.line("EmulateTracker", {"2", "5", "0", "2", "0", "0", "0", "1", "3"}));
    const TraEmulation* e = h.entry(2).emulation;
    const float zeros[6] = {}; // no bracket: all initial values 0
    const unsigned assign[6] = {0, 2, 0, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(zeros, e->initValues, sizeof zeros));
    EXPECT_EQ(0, std::memcmp(assign, e->valuatorAssign, sizeof assign));
    EXPECT_EQ(3u, e->resetButton);
}

TEST(ConCommonParse, ControllerOrderLines)
{
    Handler h(3);
    h.con.m_nOutControllers = 2;
    auto orders = [&h] { return std::vector<unsigned>{h.entry(1).order, h.entry(2).order, h.entry(3).order}; };
    EXPECT_TRUE(h.line("order", {"2", "1"}));
    EXPECT_EQ((std::vector<unsigned>{2, 1, 0}), orders());
    EXPECT_TRUE(h.line("controllerorder", {"1", "1"}));
    EXPECT_EQ((std::vector<unsigned>{2, 0, 0}), orders());
    EXPECT_TRUE(h.line("unitorder", {"3", "2", "9"})); // the 9 lies beyond the output controllers
    EXPECT_EQ((std::vector<unsigned>{0, 2, 1}), orders());
    EXPECT_FALSE(h.line("joystick", {"1"}));

    h.con.m_bInputConnector = true;
    EXPECT_FALSE(h.line("ORDER", {"9"}));
    EXPECT_TRUE(h.out.empty());
    EXPECT_EQ((std::vector<unsigned>{0, 2, 1}), orders());
}

TEST(ConCommonEmulation, TrackerIdsFollowTableOrder)
{
    Handler h(4);
    const float pose[6] = {};
    const unsigned assign[6] = {};
    h.con.setEmulation(1, 0, pose, assign, 0);
    h.con.setEmulation(3, 0, pose, assign, 0);
    EXPECT_EQ(0u, h.con.setEmuTrackerIds(0));
    EXPECT_EQ(0u, h.entry(1).emulation->trackerId);
    EXPECT_EQ(2u, h.con.setEmuTrackerIds(5));
    EXPECT_EQ(5u, h.entry(1).emulation->trackerId);
    EXPECT_EQ(6u, h.entry(3).emulation->trackerId);
    EXPECT_EQ(1u, h.con.emulatingController(1));
    EXPECT_EQ(3u, h.con.emulatingController(2));
    EXPECT_EQ(0u, h.con.emulatingController(3));
}

TEST(ConCommonEmulation, RecordWordsAreNetworkOrderAndSingleFloatScaled)
{
    Handler h(2);
    const float pose[6] = {1.5f, -2.25f, 0.00001f, 90, -0.000019f, 0};
    const unsigned assign[6] = {};
    h.con.setEmulation(1, 33, pose, assign, 0);
    TrackerRecord record, source;
    std::memset(&record, 0xAB, sizeof record);
    source.seconds = plat::hostToNet32(0x01020304);
    source.micros = plat::hostToNet32(999000);
    EXPECT_FALSE(h.con.setEmuTraData(2, &record, &source)); // controller 2 emulates nothing
    ASSERT_TRUE(h.con.setEmuTraData(1, &record, &source));

    unsigned char expected[56];
    std::memset(expected, 0xAB, sizeof expected); // id 33 leaves the id word as it was
    const unsigned char stamp[8] = {1, 2, 3, 4, 0x00, 0x0F, 0x3E, 0x58};
    // 0.00001f * 100000 rounds to 1.0f in single precision; -1.9 truncates to -1.
    const unsigned char words[24] = {0x00, 0x02, 0x49, 0xF0, 0xFF, 0xFC, 0x91, 0x18, 0, 0, 0, 1,
                                     0x00, 0x89, 0x54, 0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    std::memcpy(expected + 8, stamp, sizeof stamp);
    std::memcpy(expected + 20, words, sizeof words);
    EXPECT_EQ(0, std::memcmp(expected, &record, sizeof record));

    h.con.setEmuTrackerIds(7);
    ASSERT_TRUE(h.con.setEmuTraData(1, &record, nullptr));
    expected[0] = expected[1] = expected[2] = 0;
    expected[3] = 7;
    EXPECT_EQ(0, std::memcmp(expected, &record, sizeof record));
}

} // namespace
