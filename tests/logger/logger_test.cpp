#include "helpers/capture.h"
#include "support/base.h"
#include "support/logger.h"
#include "support/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

using testhelp::CaptureStdout;

namespace {

CLogger plain(const char* name = "host")
{
    CLogger log;
    testhelp::plainPrefix(log);
    log.setName(name);
    return log;
}

// A device class with nothing but the seven operations, to reach CBase.
class BareDevice : public CBase {
public:
    explicit BareDevice(const CLogger* log) : CBase(log) {}
    int init(InitInfo*) override { return 1; }
    bool start() override { return true; }
    int configure() override { return 2; }
    bool stop() override { return true; }
    bool printConfig() override { return true; }
    int recvData(unsigned char*, int) override { return 1; }
    int reservedOp(std::uint32_t, std::uint32_t) override { return 0; }
};

} // namespace

TEST(Logger, FreshRecordHoldsTheHostDefaults)
{
    CLogger log;
    EXPECT_EQ(1, log.showDate);
    EXPECT_EQ(1, log.showTime);
    EXPECT_EQ(1, log.showThreadId);
    EXPECT_EQ(1, log.enabled);
    EXPECT_STREQ("MESSAGE", log.name);
    EXPECT_STREQ("INFO", log.infoWord);
    EXPECT_STREQ("ERROR", log.errorWord);
    EXPECT_STREQ("WARNING", log.warningWord);
    EXPECT_STREQ("DEBUG", log.debugWord);
    EXPECT_EQ(1, log.debugThreshold);
    EXPECT_EQ(0, log.debugLevel);
    EXPECT_EQ(0, log.debugId);
    // Text fields are NUL-padded to their end, as the host compares records bytewise.
    for (std::size_t i = std::strlen("MESSAGE"); i < sizeof log.name; ++i)
        ASSERT_EQ('\0', log.name[i]);
}

TEST(Logger, SettersCopyAtMostNinetyNineCharacters)
{
    CLogger log;
    log.setName(std::string(150, 'n').c_str());
    EXPECT_EQ(99u, std::strlen(log.name));
    log.setErrorWord("FAIL");
    EXPECT_STREQ("FAIL", log.errorWord);
    log.setName(nullptr);
    EXPECT_STREQ("", log.name);
}

TEST(Logger, LinesWithoutDateTimeOrThreadId)
{
    CLogger log = plain("host");
    CaptureStdout out;
    log.info("started", true);
    log.error("Init info is empty.", true);
    log.setInfoWord("NOTE");
    log.info("renamed", true);
    EXPECT_EQ((std::vector<std::string>{"host: INFO: started", "host: ERROR: Init info is empty.",
                                        "host: NOTE: renamed"}),
              out.lines());
}

TEST(Logger, ThreadIdPrefix)
{
    CLogger log = plain("host");
    log.showThreadId = 1;
    CaptureStdout out;
    log.info("x", true);
    EXPECT_EQ("host[" + std::to_string(plat::currentThreadId()) + "]: INFO: x\n", out.text());
}

TEST(Logger, DateAndTimePrefixShape)
{
    CLogger log;
    log.setName("host");
    CaptureStdout out;
    log.error("boom", true);
    // "Mon dd hh:mm:ss host[tid]: ERROR: boom" in the default locale.
    EXPECT_TRUE(std::regex_match(out.text(), std::regex("[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "
                                                        "host\\[[0-9]+\\]: ERROR: boom\n")))
        << out.text();
    out.clear();
    log.showTime = 0;
    log.showThreadId = 0;
    log.info("d", true);
    EXPECT_TRUE(std::regex_match(out.text(), std::regex("[A-Z][a-z]{2} [0-9]{2} host: INFO: d\n"))) << out.text();
}

TEST(Logger, OpenLineIsContinuedByTheCaller)
{
    CLogger log = plain("h");
    CaptureStdout out;
    log.error("", false);
    std::cout << "Too many args found for Calibration at line 12." << std::endl;
    EXPECT_EQ("h: ERROR: Too many args found for Calibration at line 12.\n", out.text());
}

TEST(Logger, DisabledLoggerWritesNothing)
{
    CLogger log = plain();
    log.enabled = 0;
    log.debugLevel = 5;
    CaptureStdout out;
    log.info("a", true);
    log.error("b", true);
    log.debug("c", true);
    log.infof("%d\n", 4);
    EXPECT_EQ("", out.text());
}

TEST(Logger, DebugFilter)
{
    struct Case {
        int level, threshold, id;
        bool on;
    } cases[] = {
        {0, 1, 0, false}, {0, 0, 0, false}, // level 0 never shows debug lines
        {3, 5, 3, true},  {3, 5, 1, false}, // a level equal to the class shows that class only
        {5, 5, 1, true},  {5, 5, 3, true},  // at the threshold every class shows
        {1, 1, 3, true},  {2, 3, 1, false},
    };
    for (const Case& c : cases) {
        CLogger log = plain();
        log.debugLevel = c.level;
        log.debugThreshold = c.threshold;
        log.debugId = c.id;
        EXPECT_EQ(c.on, log.isDebugOn()) << c.level << "/" << c.threshold << "/" << c.id;
        CaptureStdout out;
        log.debug("trace", true);
        EXPECT_EQ(c.on ? "host: DEBUG: trace\n" : "", out.text());
    }
}

TEST(Logger, InfofFormatsAndCutsLongText)
{
    CLogger log = plain("h");
    CaptureStdout out;
    log.infof("                      : %d Sensors Supported\n", 16);
    EXPECT_EQ("h: INFO:                       : 16 Sensors Supported\n", out.text());
    out.clear();
    const std::string longText(600, 'x');
    log.infof("%s", longText.c_str());
    EXPECT_EQ("h: INFO: " + std::string(255, 'x'), out.text());
}

TEST(Base, FreshLoggerIsNamedCBaseWithDebugClassOne)
{
    BareDevice dev(nullptr);
    ASSERT_NE(nullptr, dev.m_pLog);
    EXPECT_STREQ("CBase", dev.m_pLog->name);
    EXPECT_EQ(1, dev.m_pLog->debugId);
    EXPECT_TRUE(dev.m_bOwnLog);
    EXPECT_TRUE(dev.m_bInputConnector);
}

TEST(Base, TemplateIsCopiedWholeAndLaterChangesDoNotReachTheCopy)
{
    CLogger host = plain("tracker-host");
    host.debugLevel = 4;
    host.debugId = 9;
    BareDevice dev(&host);
    EXPECT_NE(&host, dev.m_pLog);
    EXPECT_STREQ("tracker-host", dev.m_pLog->name);
    EXPECT_EQ(0, dev.m_pLog->showDate);
    EXPECT_EQ(4, dev.m_pLog->debugLevel);
    EXPECT_EQ(1, dev.m_pLog->debugId);
    host.setName("changed");
    host.enabled = 0;
    EXPECT_STREQ("tracker-host", dev.m_pLog->name);
    EXPECT_EQ(1, dev.m_pLog->enabled);
}
