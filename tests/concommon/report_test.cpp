#include "common/concommon.h"

#include "helpers/capture.h"
#include "helpers/host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

namespace {

const std::string kInfo = "tarsis0: INFO: ";
const std::string kLabel = kInfo + "                      :";
const std::string kOrderHeader = kInfo + "CONTROLLER ORDER      : <Real con> -> <Output con>";
const std::string kValHeader = kInfo + "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>";

struct Report {
    explicit Report(unsigned controllers) : log(testhelp::quietLogger()), con(&log)
    {
        con.initControllers(controllers, false);
    }
    std::vector<std::string> print()
    {
        testhelp::CaptureStdout out;
        EXPECT_TRUE(con.printOptions());
        return out.lines();
    }
    ControllerEntry& entry(unsigned id) { return con.m_pControllers[id - 1]; }
    // Real valuators 3 and 1 become output valuators 1 and 2.
    void valuators(unsigned id)
    {
        entry(id).numValuators = 3;
        entry(id).valuatorMap[2] = 1;
        entry(id).valuatorMap[0] = 2;
    }
    void emulate(unsigned id, unsigned reset)
    {
        const float pose[6] = {1.5f, 0, -2, 90, 0, 0};
        const unsigned assign[6] = {0, 3, 0, 0, 0, 4};
        con.setEmulation(id, 4, pose, assign, reset);
    }
    CLogger log;
    CConCommonH con;
};

TEST(ConCommonReport, ControllerOrderAddsIdOffsetAndHidesControllersNotOutput)
{
    Report two(2);
    two.entry(1).order = 2;
    two.entry(2).order = 1;
    two.con.m_nIdOffset = 4;
    EXPECT_EQ((std::vector<std::string>{kOrderHeader, kLabel + " 1->6 2->5"}), two.print());

    Report none(3);
    none.valuators(1);
    none.emulate(2, 1);
    EXPECT_EQ((std::vector<std::string>{kOrderHeader, kLabel}), none.print());
}

TEST(ConCommonReport, LeadInsNameTheControllerOnlyWhenThereAreSeveral)
{
    Report one(1);
    one.entry(1).order = 1;
    one.valuators(1);
    one.entry(1).numButtons = 2;
    one.entry(1).buttonMap[1] = 1;
    EXPECT_EQ((std::vector<std::string>{kOrderHeader, kLabel + " 1->1", kValHeader, kLabel + " 1->2(1X) 3->1(1X)",
                                        kInfo + "BUTTON ORDER          : <Real but> -> <Output but>",
                                        kLabel + " 2->1"}),
              one.print());

    Report two(2);
    two.entry(2).order = 1;
    two.valuators(2);
    EXPECT_EQ((std::vector<std::string>{kOrderHeader, kLabel + " 2->1", kValHeader,
                                        kLabel + " 2: 1->2(1X) 3->1(1X)"}),
              two.print());
}

TEST(ConCommonReport, ScalePolynomialsUseTheRunningSumAndTheStreamFormat)
{
    Report r(1);
    r.entry(1).order = 1;
    r.entry(1).numValuators = 4;
    const float scales[4][4] = {{0, 0, 2.5f, -1}, {1, 0, 0, 3}, {1, -1, 2, 0}, {0, 0, 0, 0}};
    for (unsigned v = 0; v < 4; ++v) {
        r.entry(1).valuatorMap[v] = v + 1;
        std::copy(scales[v], scales[v] + 4, r.entry(1).valuatorScale[v]);
    }
    EXPECT_EQ(kLabel + " 1->1(2.5X-1) 2->2(1X^3+3) 3->3(1X^3-1X^22X) 4->4()", r.print().at(3));

    Report fixed(1);
    fixed.entry(1).order = 1;
    fixed.valuators(1);
    testhelp::CaptureStdout out; // restores the stream's format afterwards
    std::cout << std::fixed << std::setprecision(3);
    fixed.con.printOptions();
    EXPECT_EQ(kLabel + " 1->2(1.000X) 3->1(1.000X)", out.lines().at(3));
}

TEST(ConCommonReport, EmulationBlock)
{
    Report two(2);
    two.entry(2).order = 1;
    two.emulate(2, 0);
    EXPECT_EQ((std::vector<std::string>{kOrderHeader, kLabel + " 2->1",
                                        kInfo + "TRACKER EMULATION     : 2->tracker[4]",
                                        kLabel + " 2: Init Values: X=1.5 Y=0 Z=-2",
                                        kLabel + " 2: Init Values: Azim=90 Elev=0 Roll=0",
                                        kLabel + " 2: Val Assign : 3->Y 4->Roll"}),
              two.print());

    Report one(1);
    one.entry(1).order = 1;
    one.emulate(1, 2);
    one.con.m_pControllers[0].emulation->valuatorAssign[1] = 0;
    one.con.m_pControllers[0].emulation->valuatorAssign[5] = 0;
    const std::vector<std::string> lines = one.print();
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ(kInfo + "TRACKER EMULATION     : As tracker[4]", lines[2]);
    EXPECT_EQ(kLabel + " Val Assign :", lines[5]);
    EXPECT_EQ(kLabel + " Reset But  : 2", lines[6]);
}

} // namespace
