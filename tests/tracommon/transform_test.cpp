// The seven transform keywords: argument checks, units, rotation matrices and
// the transforms rebuilt from them.
#include "tracommon/fixture.h"

#include <gtest/gtest.h>

using namespace tratest;

namespace {

void expectRow(const float* m, int r, float a, float b, float c, float d)
{
    const float want[4] = {a, b, c, d};
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(m[4 * r + k], want[k], 1e-6f) << "row " << r << " column " << k;
}

// One line parsed on a fresh handler with 4 trackers, 2 of them output.
struct One {
    std::unique_ptr<CTraCommonH> h = makeHandler(4, 2);
    testhelp::Config cfg;
    Parsed r{};
    One(const char* name, const std::vector<const char*>& args)
    {
        cfg.add(name);
        ConfigOption& option = cfg.option(0);
        for (const char* a : args) // literals, so they outlive the handler
            option.args[option.argCount++] = a;
        r = parse(*h, cfg);
    }
    bool consumed() { return cfg.option(0).consumed != 0; }
};

TEST(TraCommonUnits, LengthsAreScaledToFeet)
{
    One inches("transmitteroffset", {"1", "2", "3", "inches"});
    EXPECT_TRUE(inches.h->m_bTransOffset);
    EXPECT_EQ(row(inches.h->m_fTransOffset, 2), (std::vector<float>{0, 0, 0, 0.25f}));
    EXPECT_EQ(row(inches.h->m_fTransXform, 3), (std::vector<float>{0.083333336f, 0.16666667f, 0.25f, 1}));
    EXPECT_FLOAT_EQ(One("transmitteroffset", {"2", "0", "0", "M"}).h->m_fTransOffset[3], 2 * 3.28084f);

    One cm("sensoroffset", {"2", "10", "0", "0", "cm"});
    EXPECT_TRUE(cm.h->m_pTrackers[1].hasOffset);
    EXPECT_FLOAT_EQ(cm.h->m_pTrackers[1].offset[3], 0.328084f);
    EXPECT_FLOAT_EQ(cm.h->m_pTrackers[1].transform[12], 0.328084f);

    One tr("sensortranslation", {"1", "1", "2", "3", "meters"});
    EXPECT_FLOAT_EQ(tr.h->m_pTrackers[0].translation[2], 3 * 3.28084f);
    expectRow(tr.h->m_pTrackers[0].transform, 3, 0, 0, 0, 1); // translation leaves the transform alone
}

TEST(TraCommonUnits, ZeroTransmitterOffsetIsTakenButStoresNothing)
{
    One zero("transmitteroffset", {"0", "-0", "0.0", "cm"});
    EXPECT_TRUE(zero.r.ok && zero.consumed());
    EXPECT_FALSE(zero.h->m_bTransOffset);
    EXPECT_TRUE(One("transmitteroffset", {"1", "-1", "0"}).h->m_bTransOffset);
}

TEST(TraCommonUnits, UnknownWordsAreRefusedWithTheKeywordsKind)
{
    One yards("transmitteroffset", {"1", "2", "3", "yards"});
    EXPECT_EQ(yards.r.lines, Lines{kError + "Invalid string found for TransmitterOffset at line 10."});
    EXPECT_FALSE(yards.consumed() || yards.h->m_bTransOffset);
    One furlong("sensoroffset", {"2", "10", "0", "0", "furlong"});
    EXPECT_EQ(furlong.r.lines, Lines{kError + "Invalid unit found for SensorOffset at line 10."});
    EXPECT_FALSE(furlong.h->m_pTrackers[1].hasOffset);
    One feets("sensortranslation", {"2", "1", "0", "0", "feets"});
    EXPECT_EQ(feets.r.lines, Lines{kError + "Invalid unit found for SensorTranslation at line 10."});
}

TEST(TraCommonRotation, AxisAngleRotatesRowVectorsRightHanded)
{
    One z("transmitterrotation", {"0", "0", "1", "90"});
    expectRow(z.h->m_fTransRot, 0, 0, 1, 0, 0);
    expectRow(z.h->m_fTransRot, 1, -1, 0, 0, 0);
    expectRow(z.h->m_fTransRot, 2, 0, 0, 1, 0);
    EXPECT_EQ(row(z.h->m_fTransRot, 3), (std::vector<float>{0, 0, 0, 0}));
    expectRow(z.h->m_fTransXform, 3, 0, 0, 0, 1);

    One x("sensorrotation", {"2", "3", "0", "0", "90"}); // the axis is normalised
    EXPECT_TRUE(x.h->m_pTrackers[1].hasRotation);
    expectRow(x.h->m_pTrackers[1].rotation, 1, 0, 0, 1, 0);
    expectRow(x.h->m_pTrackers[1].rotation, 2, 0, -1, 0, 0);

    One none("transmitterrotation", {"0", "0", "0", "30"});
    EXPECT_EQ(row(none.h->m_fTransRot, 0), (std::vector<float>{1, 0, 0, 0}));
    EXPECT_EQ(row(none.h->m_fTransRot, 2), (std::vector<float>{0, 0, 1, 0}));
    EXPECT_EQ(row(none.h->m_fTransRot, 3), (std::vector<float>{0, 0, 0, 0}));
}

TEST(TraCommonRotation, NumberTextRule)
{
    One deg("transmitterrotation", {"0", "0", "1", "45deg"});
    EXPECT_NEAR(deg.h->m_fTransRot[1], 0.70710678f, 1e-6f);
    One abc("transmitterrotation", {"0", "0", "1", "abc"});
    EXPECT_EQ(abc.r.lines, Lines{kError + "Invalid arg found for TransmitterRotation at line 10."});
    EXPECT_FALSE(abc.h->m_bTransRot);
    EXPECT_TRUE(One("sensorrotation", {"1", "-x", "", "1", "0"}).r.ok); // plain zeros
    One t9("transmitterrotationmatrix", {"0", "1", "0", "-1", "0", "0", "0", "0", "12abc"});
    EXPECT_EQ(row(t9.h->m_fTransXform, 2), (std::vector<float>{0, 0, 12, 0})); // stored as given
    // Only the first bad number is reported.
    EXPECT_EQ(One("sensorrotation", {"1", "a", "b", "1", "0"}).r.lines,
              Lines{kError + "Invalid arg found for SensorRotation at line 10."});
}

TEST(TraCommonRotation, OffsetAndRotationCombineInEitherOrder)
{
    auto h = makeHandler(4, 2);
    testhelp::Config cfg;
    cfg.add("sensorrotation", {"1", "1", "2", "3", "33"});
    cfg.add("sensoroffset", {"1", "1", "2", "3", "inches"});
    cfg.add("sensoroffset", {"2", "1", "2", "3", "inches"});
    cfg.add("sensorrotation", {"2", "1", "2", "3", "33"});
    cfg.add("transmitteroffset", {"4", "5", "6", "m"});
    cfg.add("transmitterrotation", {"0", "1", "0", "20"});
    ASSERT_TRUE(parse(*h, cfg).ok);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(row(h->m_pTrackers[0].transform, r), row(h->m_pTrackers[1].transform, r)) << r;
    EXPECT_FLOAT_EQ(h->m_fTransXform[14], 6 * 3.28084f);
    EXPECT_NEAR(h->m_fTransXform[0], 0.93969262f, 1e-6f);

    testhelp::Config later; // replaces the offset, keeps the rotation
    later.add("sensoroffset", {"1", "7", "0", "0"});
    ASSERT_TRUE(parse(*h, later).ok);
    EXPECT_EQ(h->m_pTrackers[0].transform[12], 7.0f);
    EXPECT_EQ(row(h->m_pTrackers[0].transform, 1), row(h->m_pTrackers[1].transform, 1));
}

TEST(TraCommonCounts, IncompleteAndTooManyPerKeyword)
{
    const struct {
        const char* name;
        std::vector<const char*> args;
        const char* expected;
    } cases[] = {
        {"transmitteroffset", {"1", "2", "3", "m", "x"}, "Too many args found for TransmitterOffset"},
        {"transmitterrotationmatrix", {"1", "2", "3", "4", "5", "6", "7", "8"},
         "Incomplete option line found for TransmitterRotationMatrix"},
        {"sensorrotation", {"1", "0", "0", "1"}, "Incomplete option line found for SensorRotation"},
        {"sensorrotation", {"7", "0", "0", "1"}, "Invalid tracker ID found for SensorRotation"},
        {"sensorrotationmatrix", {"1", "1", "2", "3", "4", "5", "6", "7", "8", "9", "0"},
         "Too many args found for SensorRotationMatrix"},
    };
    for (const auto& c : cases) {
        One line(c.name, c.args);
        EXPECT_EQ(line.r.lines, Lines{kError + c.expected + " at line 10."});
        EXPECT_FALSE(line.r.ok || line.consumed()) << c.expected;
    }
}

} // namespace

namespace {

// Nothing stored by a transform keyword: no flag set on the handler or any entry.
bool untouched(const CTraCommonH& h)
{
    bool flags = h.m_bTransOffset || h.m_bTransRot;
    for (unsigned i = 0; i < h.m_nTrackers; ++i)
        flags = flags || h.m_pTrackers[i].hasOffset || h.m_pTrackers[i].hasRotation || h.m_pTrackers[i].hasTranslation;
    return !flags;
}

TEST(TraCommonNumbers, NonFiniteAndOverflowingNumbersAreRefusedInEveryTransformKeyword)
{
    struct Case {
        const char* keyword;
        std::vector<const char*> args;
        const char* label;
    };
    const Case cases[] = {
        {"transmitteroffset", {"nan", "0", "0"}, "TransmitterOffset"},
        {"transmitteroffset", {"1", "-INF", "0", "feet"}, "TransmitterOffset"},
        {"transmitteroffset", {"3e38", "0", "0", "meters"}, "TransmitterOffset"}, // too long in feet
        {"transmitterrotation", {"0", "0", "1", "Infinity"}, "TransmitterRotation"},
        {"transmitterrotation", {"1e309", "0", "1", "90"}, "TransmitterRotation"},
        {"transmitterrotationmatrix", {"1", "0", "0", "0", "1", "0", "0", "0", "1e39"}, "TransmitterRotationMatrix"},
        {"sensoroffset", {"1", "0", "+inf", "0"}, "SensorOffset"},
        {"sensoroffset", {"1", "3e38", "0", "0", "m"}, "SensorOffset"},
        {"sensortranslation", {"2", "0", "0", "-nan"}, "SensorTranslation"},
        {"sensortranslation", {"2", "-3e38", "0", "0", "meters"}, "SensorTranslation"},
        {"sensorrotation", {"1", "0", "0", "1", "NaN"}, "SensorRotation"},
        {"sensorrotation", {"1", "0", "-1e39", "1", "90"}, "SensorRotation"},
        {"sensorrotationmatrix", {"2", "1", "0", "0", "0", "inFINity", "0", "0", "0", "1"}, "SensorRotationMatrix"},
        {"sensorrotationmatrix", {"2", "1", "0", "0", "0", "1", "0", "0", "0", "0x1p200"}, "SensorRotationMatrix"},
    };
    for (const Case& c : cases) {
        One line(c.keyword, c.args);
        std::string text = c.keyword;
        for (const char* a : c.args)
            text += std::string(" ") + a;
        SCOPED_TRACE(text);
        EXPECT_EQ(line.r.lines, Lines{kError + "Invalid arg found for " + c.label + " at line 10."});
        EXPECT_FALSE(line.r.ok || line.consumed());
        EXPECT_TRUE(untouched(*line.h));
    }
    // The largest finite values still pass.
    One big("transmitteroffset", {"3.4e38", "-3.4e38", "0"});
    EXPECT_TRUE(big.r.ok && big.consumed());
}

} // namespace
