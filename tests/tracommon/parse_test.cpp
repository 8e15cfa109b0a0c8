// Construction, the tracker table, update masks and the option loop: guards,
// error lines, tracker IDs, order, calibration and CAVE lines, gating.
#include "tracommon/fixture.h"

#include <gtest/gtest.h>

using namespace tratest;

namespace {

std::vector<unsigned> orders(const CTraCommonH& h)
{
    std::vector<unsigned> out;
    for (unsigned i = 0; i < h.m_nTrackers; ++i)
        out.push_back(h.m_pTrackers[i].order);
    return out;
}

TEST(TraCommonHandler, LoggerCopyTracesAndTable)
{
    CLogger host = testhelp::quietLogger("host");
    host.debugLevel = 3; // debug lines of class 3 only
    testhelp::CaptureStdout out;
    {
        CTraCommonH h(&host);
        EXPECT_NE(h.m_pLog, &host);
        EXPECT_EQ(h.m_pLog->debugId, 3);
        EXPECT_FALSE(h.initTrackers(0));
        EXPECT_FALSE(h.setTracker(1, 1, nullptr, nullptr, nullptr)); // no table yet
        ASSERT_TRUE(h.initTrackers(2));
        EXPECT_FALSE(h.setTracker(3, 1, nullptr, nullptr, nullptr));
        const float offset[16] = {0, 0, 0, 1.5f, 0, 0, 0, -2, 0, 0, 0, 0.25f};
        ASSERT_TRUE(h.setTracker(2, 7, offset, nullptr, nullptr));
        EXPECT_EQ(row(h.m_pTrackers[1].transform, 3), (std::vector<float>{1.5f, -2, 0.25f, 1}));
    }
    EXPECT_EQ(out.lines(), (Lines{"host: DEBUG: CTraCommonH: \"constructor\" called.",
                                  "host: DEBUG: CTraCommonH: \"destructor\" called."}));
    CTraCommonH fresh(nullptr);
    EXPECT_STREQ(fresh.m_pLog->name, "CTraCommonH");
}

TEST(TraCommonHandler, MaskIdsAreBitsOfABigEndianWord)
{
    CTraCommonH h(nullptr);
    unsigned char mask[4] = {0xff, 0xff, 0xff, 0xff};
    EXPECT_TRUE(h.clearUpdateMask(mask));
    EXPECT_TRUE(h.markUpdated(mask, 1));
    EXPECT_TRUE(h.markUpdated(mask, 12));
    EXPECT_TRUE(h.markUpdated(mask, 32));
    EXPECT_FALSE(h.markUpdated(mask, 33));
    EXPECT_FALSE(h.markUpdated(mask, 0));
    EXPECT_EQ(std::vector<int>(mask, mask + 4), (std::vector<int>{0x80, 0, 0x08, 0x01}));
}

TEST(TraCommonParse, GuardsUnknownLinesAndKeywordMatching)
{
    const CLogger log = testhelp::quietLogger();
    CTraCommonH bare(&log);
    testhelp::Config cfg;
    cfg.add("baud", {"115200"});
    cfg.add("sensoroffsets", {"1", "1", "0", "0"});
    cfg.add("SensorOFFSET", {"1", "1", "0", "0"});
    cfg.option(2).consumed = 1; // lines another parser took are visited too
    EXPECT_EQ(parse(bare, cfg).lines, Lines{kError + "CTraCommonH: lookup is Null."});

    auto h = makeHandler(2, 2);
    testhelp::CaptureStdout out;
    EXPECT_FALSE(h->parseConfig(nullptr));
    EXPECT_EQ(out.lines(), Lines{kError + "CTraCommonH: config is empty."});
    out.restore();

    const Parsed r = parse(*h, cfg);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_EQ(cfg.option(0).consumed + cfg.option(1).consumed, 0);
    EXPECT_TRUE(h->m_pTrackers[0].hasOffset);
}

TEST(TraCommonParse, TrackerIdsInAnyBaseComparedUnsigned)
{
    auto h = makeHandler(8, 2);
    testhelp::Config cfg;
    for (const char* id : {"010", "0x3", "-1", "0", "9", "two"})
        cfg.add("sensoroffset", {id, "1", "0", "0"});
    const Parsed r = parse(*h, cfg);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(h->m_pTrackers[7].hasOffset && h->m_pTrackers[2].hasOffset);
    EXPECT_FALSE(h->m_pTrackers[0].hasOffset);
    Lines expected;
    for (int line = 30; line <= 60; line += 10)
        expected.push_back(kError + "Invalid tracker ID found for SensorOffset at line " + std::to_string(line) + ".");
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(cfg.option(1).consumed, 1);
    EXPECT_EQ(cfg.option(2).consumed, 0);
}

TEST(TraCommonOrder, RefusedOnInputConnectorsAndCutToTheOutputCountOtherwise)
{
    auto input = makeHandler(4, 2);
    testhelp::Config refused;
    refused.add("TRACKERORDER", {"2", "1"}, 7);
    EXPECT_EQ(parse(*input, refused).lines, Lines{kError + "Can not change the order on input connector at line 7."});
    EXPECT_EQ(orders(*input), (std::vector<unsigned>{1, 2, 0, 0}));

    auto h = makeHandler(4, 2, false);
    testhelp::Config cfg;
    cfg.add("trackerorder", {"3", "1", "0"}); // the 0 lies beyond two outputs: never converted
    EXPECT_TRUE(parse(*h, cfg).ok);
    EXPECT_EQ(cfg.option(0).consumed, 1);
    EXPECT_EQ(orders(*h), (std::vector<unsigned>{2, 0, 1, 0}));

    testhelp::Config twice;
    twice.add("unitorder", {"3", "3"});
    twice.add("order", {"5"});
    EXPECT_EQ(parse(*h, twice).lines, Lines{kError + "Invalid tracker ID found for Order at line 20."});
    EXPECT_EQ(orders(*h), (std::vector<unsigned>{0, 0, 2, 0}));

    testhelp::Config none;
    none.add("order");
    EXPECT_TRUE(parse(*h, none).ok);
    EXPECT_EQ(orders(*h), (std::vector<unsigned>{0, 0, 0, 0}));
}

TEST(TraCommonCalib, LaterLinesReplaceAndTooManyKeepsOnlyTheName)
{
    auto h = makeHandler(2, 2);
    testhelp::Config cfg;
    cfg.add("calib", {"nosuchcalib", "alpha", "beta"});
    cfg.add("Calibration", {"othercalib"});
    EXPECT_TRUE(parse(*h, cfg).ok);
    ASSERT_NE(h->m_pCalib, nullptr);
    EXPECT_STREQ(h->m_szCalibLib, "othercalib");
    EXPECT_EQ(h->m_nCalibArgs, 0u);

    testhelp::Config ten;
    ten.add("calibration", {"tencalib", "a0", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9"});
    ten.add("calibration", {"toomany", "b0", "b1", "b2", "b3", "b4", "b5", "b6", "b7", "b8", "b9", "b10"}, 12);
    ten.add("calibration", {}, 13);
    const Parsed r = parse(*h, ten);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lines, (Lines{kError + "Too many args found for Calibration at line 12.",
                              kError + "Incomplete option line found for Calibration at line 13."}));
    EXPECT_EQ(ten.option(1).consumed, 0);
    EXPECT_STREQ(h->m_szCalibLib, "toomany");
    ASSERT_EQ(h->m_nCalibArgs, 10u);
    EXPECT_STREQ(h->m_pszCalibArgs[9], "a9");

    // A name the field cannot hold is refused whole: a shortened one could
    // load another library. 255 characters still fit.
    const std::string name(256, 'c');
    testhelp::Config overlong;
    overlong.add("calibration", {name.c_str(), "x"}, 14);
    overlong.add("calibration", {name.substr(1).c_str()}, 15);
    const Parsed longer = parse(*h, overlong);
    EXPECT_EQ(longer.lines, Lines{kError + "Invalid arg found for Calibration at line 14."});
    EXPECT_EQ(overlong.option(0).consumed, 0);
    EXPECT_EQ(std::string(h->m_szCalibLib), name.substr(1));
    EXPECT_EQ(h->m_nCalibArgs, 0u);
}

TEST(TraCommonCave, SwitchWordsOnInputConnectorsOnly)
{
    auto h = makeHandler(2, 2);
    testhelp::Config cfg;
    cfg.add("CaveCoordinates", {"no"});
    cfg.add("cavecoord", {"true"});
    cfg.add("cavecoord");
    cfg.add("cavecoord", {"yes", "no"});
    const Parsed r = parse(*h, cfg);
    EXPECT_FALSE(h->m_bCaveCoord);
    EXPECT_EQ(r.lines, (Lines{kError + "Invalid string found for CAVECoord at line 20.",
                              kError + "Incomplete option line found for CAVECoord at line 30.",
                              kError + "Too many args found for CAVECoord at line 40."}));
    testhelp::Config on;
    on.add("cavecoord", {"ON"});
    EXPECT_TRUE(parse(*h, on).ok);
    EXPECT_TRUE(h->m_bCaveCoord);

    auto output = makeHandler(2, 2, false);
    testhelp::Config off;
    off.add("cavecoord", {"off"});
    off.add("cavecoord", {"bogus", "words"});
    const Parsed passed = parse(*output, off);
    EXPECT_TRUE(passed.ok && passed.lines.empty());
    EXPECT_TRUE(output->m_bCaveCoord);
    EXPECT_EQ(off.option(0).consumed, 0);
}

TEST(TraCommonGate, AfterARefusalTransformsAreOnlyChecked)
{
    auto h = makeHandler(4, 2);
    testhelp::Config cfg;
    cfg.add("sensorrotation", {"9", "0", "0", "1", "90"});
    cfg.add("sensoroffset", {"1", "1", "2", "3"});
    cfg.add("sensoroffset", {"1", "1", "2", "3", "furlong"}); // unit not looked at
    cfg.add("transmitterrotation", {"0", "0", "1", "abc"});  // nor the angle
    cfg.add("transmitteroffset", {"1", "x1", "1"});          // numbers still checked
    cfg.add("calibration", {"nosuchcalib", "arg"});
    const Parsed r = parse(*h, cfg);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lines, (Lines{kError + "Invalid tracker ID found for SensorRotation at line 10.",
                              kError + "Invalid arg found for TransmitterOffset at line 50."}));
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_EQ(cfg.option(i).consumed, 0) << "line " << i;
    EXPECT_FALSE(h->m_pTrackers[0].hasOffset || h->m_bTransRot);
    EXPECT_EQ(cfg.option(5).consumed, 1);
    EXPECT_EQ(h->m_nCalibArgs, 1u);

    testhelp::Config next; // the flag lives for one call
    next.add("sensoroffset", {"1", "1", "2", "3"});
    EXPECT_TRUE(parse(*h, next).ok);
    EXPECT_TRUE(h->m_pTrackers[0].hasOffset);
}

TEST(TraCommonParse, ArgumentCountsBeyondTheLineAreBounded)
{
    auto h = makeHandler(2, 200, false);
    testhelp::Config cfg;
    cfg.add("order");
    for (int i = 0; i < kMaxOptionArgs; ++i)
        cfg.option(0).args[i] = "1";
    cfg.option(0).argCount = 1000;
    cfg.add("calibration", {"nosuchcalib"});
    cfg.option(1).argCount = -3;
    const Parsed r = parse(*h, cfg);
    EXPECT_EQ(h->m_pTrackers[0].order, 64u); // the last of the 64 readable IDs
    EXPECT_EQ(r.lines, Lines{kError + "Incomplete option line found for Calibration at line 20."});
}

} // namespace
