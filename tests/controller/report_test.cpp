// The closing report of a controller device: the controller report comes
// first, then the tracker report, then the dashed line. Floats follow whatever
// format the stream was left in, so a report after a tracker report shows them
// in the fixed notation that report set.
#include "common/concommon.h"
#include "controller/records.h"
#include "helpers/capture.h"
#include "helpers/host.h"
#include "helpers/testdevice.h"

#include <gtest/gtest.h>

#include <iostream>

using testhelp::Config;
using testhelp::Table;
using testhelp::TestDevice;

namespace {

struct ControllerReport : ctltest::HostTables {
    Config cfg{"con0"};
    TestDevice dev{cfg.get(), &log};

    // Two controllers behind one earlier controller record, both output;
    // controller 1 has two valuators and emulates a tracker behind three
    // earlier tracker records.
    void SetUp() override
    {
        trackers.count() = 3;
        controllers.count() = 1;
        HostTables::SetUp();
        cfg.add("controllerorder", {"1", "2"})
            .add("valuatororder", {"1", "2", "1"})
            .add("emulatetracker", {"1", "[1.5,2,3,0,90,0]", "0", "1", "0", "0", "0", "2"});
        ASSERT_EQ(1, dev.setInitInfo(&info));
        dev.m_bInputConnector = false; // so that the controller order applies
        dev.m_nMaxControllers = dev.m_nControllers = 2;
        dev.m_nMaxTrackers = 1;
        ASSERT_TRUE(dev.initTables());
        // Valuator counts unknown until the order lines name them.
        dev.m_pInit->pConCommon->m_bKnownCounts = false;
        ASSERT_TRUE(dev.initCommonOpts());
        out.clear();
        std::cout.unsetf(std::ios::floatfield);
        std::cout.precision(6);
    }

    static std::vector<std::string> footer(const char* one, const char* onePointFive, const char* two,
                                           const char* three, const char* zero, const char* ninety)
    {
        const std::string p = "con0: INFO: ";
        const std::string lead = p + "                      : 1:";
        return {p + "CONTROLLER ORDER      : <Real con> -> <Output con>",
                p + "                      : 1->2 2->3",
                p + "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>",
                lead + " 1->2(" + one + "X) 2->1(" + one + "X)",
                p + "TRACKER EMULATION     : 1->tracker[1]",
                lead + " Init Values: X=" + onePointFive + " Y=" + two + " Z=" + three,
                lead + " Init Values: Azim=" + zero + " Elev=" + ninety + " Roll=" + zero,
                lead + " Val Assign : 1->Y 2->Roll",
                p + "CAVE COORDINATES      : Used",
                p + "TRACKER ORDER         : <Real tra> -> <Output tra>",
                p + "                      : 1->4",
                p + "-----------------------"};
    }
};

} // namespace

TEST_F(ControllerReport, ControllerReportThenTrackerReportThenClosingLine)
{
    EXPECT_TRUE(dev.printFooter());
    EXPECT_EQ(footer("1", "1.5", "2", "3", "0", "90"), out.lines());
}

TEST_F(ControllerReport, AfterATrackerReportFloatsKeepItsFixedFormat)
{
    // A tracker device reports first; its transform matrix leaves the stream
    // in fixed notation with three decimals.
    Config tracked("tra0");
    tracked.add("transmitteroffset", {"1", "0", "0"});
    TestDevice tracker(tracked.get(), &log);
    ASSERT_TRUE(tracker.setUp(&info, 1, 1));
    ASSERT_TRUE(tracker.printFooter());
    out.clear();
    EXPECT_TRUE(dev.printFooter());
    EXPECT_EQ(footer("1.000", "1.500", "2.000", "3.000", "0.000", "90.000"), out.lines());
}
