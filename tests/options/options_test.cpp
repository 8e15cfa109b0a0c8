#include "common/tracommon.h"
#include "helpers/tracker.h"

using testhelp::TrackerTest;

namespace {

struct OptionsTest : TrackerTest {
    // Connects to a tracker so that counts and the tracker type are known.
    OvTrackD& connected(const std::string& scenario = "max=16 stations=0xf")
    {
        OvTrackD& d = make(scenario);
        EXPECT_EQ(1, d.ParseBaudOpt());
        EXPECT_EQ(1, d.ParseResetOpt());
        EXPECT_EQ(1, d.Connect());
        d.setInitInfo(&info);
        clearOutput();
        return d;
    }
};

} // namespace

TEST_F(OptionsTest, HemisphereAxesAndMasks)
{
    const struct {
        std::vector<const char*> args;
        float v[3];
        std::uint32_t mask;
    } cases[] = {
        {{"+z", "3"}, {0, 0, 1}, 0x3},          {{"-Y"}, {0, -1, 0}, 0xFFFFFFFFu},
        {{"up"}, {0, 0, 0}, 0xFFFFFFFFu},       {{"+X", "ffffffff"}, {1, 0, 0}, 0xFFFFFFFFu},
        {{"-x", "ALL", "ignored"}, {-1, 0, 0}, 0xFFFF}, {{"+y", "0x5"}, {0, 1, 0}, 0x5},
        {{"-Z", "123456789"}, {0, 0, -1}, 0xFFFFFFFFu},
    };
    serial();
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("hemisphere", {}, 40);
        for (const char* a : c.args)
            opts.option(0).args[opts.option(0).argCount++] = a;
        OvTrackD d(opts.get(), &log);
        d.m_nMaxTrackers = 16;
        ASSERT_EQ(1, d.SetHemiOpt(0)) << c.args[0];
        EXPECT_EQ(1, d.m_bHemiOpt);
        EXPECT_EQ(c.v[0], d.m_fHemi[0]);
        EXPECT_EQ(c.v[1], d.m_fHemi[1]);
        EXPECT_EQ(c.v[2], d.m_fHemi[2]);
        EXPECT_EQ(c.mask, d.m_dwHemiMap) << c.args[0];
        EXPECT_STREQ(c.args[0], d.m_pszHemi);
        EXPECT_STREQ(c.args.size() == 1 ? nullptr : c.args[1], d.m_pszHemiMap);
    }
    EXPECT_TRUE(lines().empty());
    cfg.add("hemisphere", {}, 41);
    OvTrackD& d = connected();
    EXPECT_EQ(0, d.ParseCfgOpts());
    EXPECT_EQ((std::vector<std::string>{"Invalid Number of Hemisphere Arguments on Line 41."}), lines());
}

TEST_F(OptionsTest, SensorMapChecksOnlyHowManyStations)
{
    const struct {
        const char* arg;
        int ok;
        std::uint32_t map;
    } cases[] = {{"3", 1, 0x3}, {"0x30", 1, 0x30}, {"0", 1, 0}, {"all", 1, 0xFFFF}, {"7", 0, 0x3}, {"zz", 0, 0x3}};
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("sensormap", {c.arg}, 50);
        OvTrackD d(opts.get(), &log);
        d.m_nMaxTrackers = 16;
        d.m_nDetected = 2;
        d.m_dwSensorMap = 0x3;
        clearOutput();
        EXPECT_EQ(c.ok, d.SetSensorMapOpt(0)) << c.arg;
        EXPECT_EQ(c.ok, d.m_bSensorMapOpt) << c.arg;
        EXPECT_EQ(c.map, d.m_dwSensorMap) << c.arg;
        if (!c.ok) {
            EXPECT_EQ((std::vector<std::string>{"Invalid SensorMap Argument on Line 50."}), lines());
        }
    }
    testhelp::Config opts;
    opts.add("sensormap", {"1", "2"}, 51);
    OvTrackD d(opts.get(), &log);
    clearOutput();
    EXPECT_EQ(0, d.SetSensorMapOpt(0));
    EXPECT_EQ((std::vector<std::string>{"Invalid Number of SensorMap Arguments on Line 51."}), lines());
}

TEST_F(OptionsTest, HexArgumentsReadLikeA32BitStrtoul)
{
    // Hemisphere masks are stored as read, so they show the reader itself;
    // text without a hexadecimal digit is refused by both keywords.
    const struct {
        const char* arg;
        int ok;
        std::uint32_t value;
    } cases[] = {
        {"0", 1, 0},
        {"0x", 1, 0}, // the 0 is read, the x ends the number
        {" +0X1f", 1, 0x1F},
        {"1g", 1, 1},
        {"-1", 1, 0xFFFFFFFFu},
        {"-FFFFFFFF", 1, 1},
        {"-100000000", 1, 0xFFFFFFFFu}, // magnitude beyond 32 bits, whatever the sign
        {"-10000000000000000000000", 1, 0xFFFFFFFFu},
        {"123456789", 1, 0xFFFFFFFFu},
        {"zz", 0, 0},
        {"nan", 0, 0},
        {"", 0, 0},
        {"-", 0, 0},
        {"0xzz", 1, 0},
    };
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("hemisphere", {"+z", c.arg}, 40);
        opts.add("sensormap", {c.arg}, 50);
        OvTrackD d(opts.get(), &log);
        d.m_nMaxTrackers = 32;
        d.m_nDetected = 32;
        clearOutput();
        EXPECT_EQ(c.ok, d.SetHemiOpt(0)) << c.arg;
        EXPECT_EQ(c.ok, d.SetSensorMapOpt(1)) << c.arg;
        if (c.ok) {
            EXPECT_EQ(c.value, d.m_dwHemiMap) << c.arg;
            EXPECT_EQ(c.value, d.m_dwSensorMap) << c.arg;
            EXPECT_TRUE(lines().empty()) << c.arg;
        } else {
            EXPECT_EQ(0, d.m_bHemiOpt + d.m_bSensorMapOpt) << c.arg;
            EXPECT_EQ((std::vector<std::string>{"Invalid Number of Hemisphere Arguments on Line 40.",
                                                "Invalid SensorMap Argument on Line 50."}),
                      lines())
                << c.arg;
        }
    }
}

TEST_F(OptionsTest, FrameRateOnTarsis)
{
    const struct {
        std::vector<const char*> args;
        int ok;
        const char* message;
    } cases[] = {{{"120"}, 1, nullptr},
                 {{"240"}, 1, nullptr},
                 {{"60"}, 0, "Invalid Frame Rate Argument on Line 60."},
                 {{"0120"}, 0, "Invalid Frame Rate Argument on Line 60."},
                 {{}, 0, "Invalid Number of FrameRate Arguments on Line 60."}};
    serial();
    make();
    ASSERT_EQ(1, dev->ParseBaudOpt());
    ASSERT_EQ(1, dev->ParseResetOpt());
    ASSERT_EQ(1, dev->Connect());
    for (const auto& c : cases) {
        testhelp::Config opts;
        opts.add("framerate", {}, 60);
        for (const char* a : c.args)
            opts.option(0).args[opts.option(0).argCount++] = a;
        dev->m_pConfig = opts.get();
        clearOutput();
        EXPECT_EQ(c.ok, dev->SetFrameRateOpt(0));
        if (c.ok) {
            EXPECT_EQ(std::string(c.args[0]) == "120" ? OV_FRAMERATE_120 : OV_FRAMERATE_240, dev->m_eFrameRate);
            EXPECT_STREQ(c.args[0], dev->m_pszFrameRate);
            EXPECT_TRUE(lines().empty());
        } else {
            EXPECT_EQ((std::vector<std::string>{c.message}), lines());
        }
    }
    dev->m_pConfig = cfg.get();
}

TEST_F(OptionsTest, FrameRateIsFixedOnBrevik)
{
    serial();
    cfg.add("framerate", {}, 70);
    OvTrackD& d = connected("type=brevik");
    ASSERT_EQ(1, d.ParseCfgOpts());
    EXPECT_EQ((std::vector<std::string>{"FrameRate is fixed at 60 Hz for Orvane Brevik."}), lines());
    EXPECT_EQ(1, d.m_bFrameRateOpt);
    EXPECT_EQ(OV_FRAMERATE_60, d.m_eFrameRate);
    EXPECT_EQ(nullptr, d.m_pszFrameRate);
}

TEST_F(OptionsTest, ScanOrderSecondSerialPassAndUnknownLines)
{
    serial("9600");
    cfg.add("baud", {"19200"}).add("whatever", {"1"}).add("reset", {"maybe"}).add("hemisphere", {"+x"});
    OvTrackD& d = connected();
    ASSERT_EQ(1, d.ParseCfgOpts());
    EXPECT_EQ(OV_BAUD_19200, d.m_eBaud); // replaced, without reconnecting
    EXPECT_STREQ("maybe", d.m_pszReset);
    EXPECT_EQ(0, cfg.option(3).consumed);
    EXPECT_EQ(1, cfg.option(2).consumed);
    EXPECT_EQ(1, cfg.option(5).consumed);
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ("OvTrackD::ParseCfgOpts()\r\n", traces().at(0));
}

TEST_F(OptionsTest, ARejectedLineEndsTheScan)
{
    serial();
    cfg.add("baud", {"12"}, 30).add("hemisphere", {"+x"}, 40);
    OvTrackD& d = connected();
    EXPECT_EQ(0, d.ParseCfgOpts());
    EXPECT_EQ(0, d.m_bBaudOpt); // the report then shows no baud line
    EXPECT_EQ(0, d.m_bHemiOpt);
    EXPECT_EQ(0, cfg.option(3).consumed);
    EXPECT_EQ((std::vector<std::string>{"Invalid Baud Argument on Line 30."}), lines());
}

TEST_F(OptionsTest, AllSensorsMask)
{
    OvTrackD& d = make();
    const struct {
        unsigned max;
        std::uint32_t mask;
    } cases[] = {{0, 0}, {1, 0x1}, {16, 0xFFFF}, {31, 0x7FFFFFFF}, {32, 0xFFFFFFFF}};
    for (const auto& c : cases) {
        d.m_nMaxTrackers = c.max;
        EXPECT_EQ(c.mask, d.AllSensorsMask()) << c.max;
    }
}

TEST_F(OptionsTest, ActiveStationsAreNumberedInStationOrder)
{
    serial();
    cfg.add("sensormap", {"0x0a"});
    OvTrackD& d = connected();
    ASSERT_EQ(1, d.ParseCfgOpts());
    ASSERT_EQ(1, d.initTables());
    EXPECT_EQ(2u, d.m_nTrackers);
    TrackerEntry* e = d.m_pInit->pTraCommon->m_pTrackers;
    EXPECT_EQ(0u, e[0].order);
    EXPECT_EQ(1u, e[1].order);
    EXPECT_EQ(0u, e[2].order);
    EXPECT_EQ(2u, e[3].order);
    EXPECT_EQ(16u, d.m_pInit->pTraCommon->m_nTrackers);
}

TEST_F(OptionsTest, SensorMapAllRegistersEverySupportedStation)
{
    serial();
    cfg.add("sensormap", {"all"});
    OvTrackD& d = connected("max=16 stations=0xf");
    ASSERT_EQ(1, d.ParseCfgOpts());
    ASSERT_EQ(1, d.initTables());
    EXPECT_EQ(16u, d.m_nTrackers);
    for (unsigned s = 0; s < 16; ++s)
        EXPECT_EQ(s + 1, d.m_pInit->pTraCommon->m_pTrackers[s].order);
}

TEST_F(OptionsTest, TablesNeedTheTrackerStorage)
{
    serial();
    OvTrackD& d = connected();
    d.m_pInit->pTraStorage = nullptr;
    EXPECT_EQ(0, d.initTables());
    EXPECT_EQ((std::vector<std::string>{"tarsis0: ERROR: Tracker data storage pointer is empty.", "Error: initTables "}),
              lines());
    EXPECT_EQ("Error: initTables\r\n", traces().back());
}

TEST_F(OptionsTest, CaveCoordinatesLinesStayForTheCommonHandler)
{
    serial();
    cfg.add("CAVECOORDINATES", {"YES"});
    OvTrackD& d = connected();
    ASSERT_EQ(1, d.ParseCfgOpts());
    ASSERT_EQ(1, d.initTables());
    ASSERT_EQ(1, d.ParseCommonOpts());
    EXPECT_EQ(1, d.m_bCAVECoord);
    // The common handler took the same line for its own switch.
    EXPECT_EQ(1, cfg.option(2).consumed);
    EXPECT_TRUE(d.m_pInit->pTraCommon->m_bCaveCoord);
    EXPECT_EQ(4u, table.count());
}

TEST_F(OptionsTest, BadCaveCoordinatesLineStopsBeforeTheCommonOptions)
{
    serial();
    cfg.add("cavecoordinates", {"maybe"}, 80).add("sensoroffset", {"1", "1", "0", "0"});
    OvTrackD& d = connected();
    ASSERT_EQ(1, d.ParseCfgOpts());
    ASSERT_EQ(1, d.initTables());
    EXPECT_EQ(0, d.ParseCommonOpts());
    EXPECT_EQ((std::vector<std::string>{"Invalid CAVECoordinates Argument on Line 80."}), lines());
    EXPECT_EQ(0u, table.count());
    EXPECT_FALSE(d.m_pInit->pTraCommon->m_pTrackers[0].hasOffset);

    testhelp::Config opts;
    opts.add("CaveCoordinates", {}, 81);
    d.m_pConfig = opts.get();
    clearOutput();
    EXPECT_EQ(0, d.SetCAVECoordOpt(0));
    EXPECT_EQ((std::vector<std::string>{"Invalid Number of CAVECoord Arguments on Line 81."}), lines());
    d.m_pConfig = cfg.get();
}
