// The controller test device itself, in-process: its count lines, and its
// report on success and on failure.
#include "controller/device/condev.h"
#include "controller/records.h"
#include "helpers/capture.h"
#include "helpers/host.h"

#include <gtest/gtest.h>

using testhelp::Config;
using testhelp::Table;

namespace {

using ConDevTest = ctltest::HostTables;

} // namespace

TEST_F(ConDevTest, CountsFromItsOwnLinesAndTheWholeReport)
{
    Config cfg("con0");
    cfg.add("controllers", {"2"}).add("trackers", {"1"}).add("emulatetracker",
                                                             {"2", "[1,2,3,0,0,0]", "0", "0", "0", "0", "0", "0"});
    ConDev dev(cfg.get(), &log);
    ASSERT_EQ(1, dev.init(&info));
    EXPECT_EQ(2u, dev.m_nMaxControllers);
    EXPECT_EQ(2u, dev.m_nControllers);
    EXPECT_EQ(1u, dev.m_nTrackers);
    EXPECT_EQ(3u, dev.m_nMaxTrackers); // own trackers and one per controller
    EXPECT_EQ(1u, dev.m_nEmulated);
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(1, cfg.option(i).consumed) << "line " << i;
    EXPECT_EQ((std::vector<std::string>{
                  "con0: INFO: DEVICE NAME           : con0",
                  "con0: INFO: DEVICE TYPE           : Test controllers: 2 controllers, 1 trackers, 1 emulated",
                  "con0: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>",
                  "con0: INFO:                       :",
                  "con0: INFO: CAVE COORDINATES      : Used",
                  "con0: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
                  "con0: INFO:                       : 1->1 2->2",
                  "con0: INFO: -----------------------",
              }),
              out.lines());
}

TEST_F(ConDevTest, BadCountLineFailsInitButStillReports)
{
    Config cfg("con0");
    cfg.add("trackers", {"1"}).add("Controllers", {"two"}, 42);
    ConDev dev(cfg.get(), &log);
    EXPECT_EQ(-1, dev.init(&info));
    EXPECT_EQ(nullptr, dev.m_pInit->pConCommon);
    EXPECT_EQ(nullptr, dev.m_pInit->pTraCommon);
    EXPECT_EQ(0, cfg.option(1).consumed);
    EXPECT_EQ((std::vector<std::string>{
                  "con0: ERROR: Invalid count found for Controllers at line 42.",
                  "con0: INFO: DEVICE NAME           : con0",
                  "con0: INFO: DEVICE TYPE           : Test controllers: 0 controllers, 0 trackers, 0 emulated",
                  "con0: INFO: -----------------------",
              }),
              out.lines());
}
