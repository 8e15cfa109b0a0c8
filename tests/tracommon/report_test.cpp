// printOptions: whole report lines as the device report shows them.
#include "tracommon/fixture.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace tratest;

namespace {

const std::string kBlank = kInfo + "                      :";
const std::string kOrderHead = kInfo + "TRACKER ORDER         : <Real tra> -> <Output tra>";

Lines report(CTraCommonH& h, bool showCave = true)
{
    testhelp::CaptureStdout out;
    EXPECT_TRUE(h.printOptions(showCave));
    return out.lines();
}

TEST(TraCommonReport, FreshHandlerShowsCaveSwitchAndOrderOnly)
{
    auto h = makeHandler(4, 2);
    EXPECT_EQ(report(*h), (Lines{kInfo + "CAVE COORDINATES      : Used", kOrderHead, kBlank + " 1->1 2->2"}));
    h->m_nIdOffset = 3;
    h->m_bCaveCoord = false;
    EXPECT_EQ(report(*h), (Lines{kInfo + "CAVE COORDINATES      : Unused", kOrderHead, kBlank + " 1->4 2->5"}));
    EXPECT_EQ(report(*h, false), (Lines{kOrderHead, kBlank + " 1->4 2->5"}));
    EXPECT_EQ(report(*makeHandler(3, 0), false), (Lines{kOrderHead, kBlank}));
}

TEST(TraCommonReport, EveryBlockInOrder)
{
    auto h = makeHandler(5, 2);
    h->m_nIdOffset = 3;
    testhelp::Config cfg;
    cfg.add("transmitteroffset", {"1", "2", "3", "inches"});
    cfg.add("transmitterrotationmatrix", {"0", "1", "0", "-1", "0", "0", "0", "0", "1"});
    cfg.add("sensoroffset", {"2", "10", "0", "0", "cm"});
    cfg.add("sensorrotationmatrix", {"2", "1", "0", "0", "0", "0.5", "-0.5", "0", "0.5", "0.5"});
    cfg.add("sensortranslation", {"1", "1", "1", "1"});    // translations are not reported
    cfg.add("sensorrotation", {"5", "0", "0", "1", "90"}); // tracker 5 is not output
    cfg.add("calib", {"nosuchcalib", "alpha", "beta"});
    ASSERT_TRUE(parse(*h, cfg).ok);

    const Lines rot = {" [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000", " [1][0]:-1.000 [1][1]: 0.000 [1][2]: 0.000",
                       " [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000"};
    const Lines sensor = {" 2 [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000",
                          " 2 [1][0]: 0.000 [1][1]: 0.500 [1][2]:-0.500",
                          " 2 [2][0]: 0.000 [2][1]: 0.500 [2][2]: 0.500"};
    const Lines expected = {
        kInfo + "CAVE COORDINATES      : Used",
        kInfo + "TRANSMITTER OFFSET    : X:0.0833333 Y:0.166667 Z:0.25", // stream defaults so far
        kInfo + "TRANSMITTER ROTATION  :" + rot[0], kBlank + rot[1], kBlank + rot[2], "",
        kInfo + "TRANSMITTER TRANSFORM :" + rot[0], kBlank + rot[1], kBlank + rot[2], "",
        kOrderHead, kBlank + " 1->4 2->5",
        kInfo + "SENSOR OFFSET         : 2 X:0.328 Y:0.000 Z:0.000", // the matrices left fixed, 3 digits
        kInfo + "SENSOR ROTATION       :" + sensor[0], kBlank + sensor[1], kBlank + sensor[2], "",
        kInfo + "SENSOR TRANSFORM      :" + sensor[0], kBlank + sensor[1], kBlank + sensor[2], "",
        kInfo + "CALIBRATION LIBRARY   : name:nosuchcalib",
        kBlank + " arg[0]:alpha", kBlank + " arg[1]:beta",
    };
    EXPECT_EQ(report(*h), expected);
}

TEST(TraCommonReport, OffsetAloneAndTheStreamStateItLeaves)
{
    auto h = makeHandler(2, 1);
    testhelp::Config cfg;
    cfg.add("transmitteroffset", {"1", "2", "3"});
    cfg.add("sensoroffset", {"2", "1", "1", "1"}); // tracker 2 is not output
    cfg.add("calibration", {"nosuchcalib"});
    ASSERT_TRUE(parse(*h, cfg).ok);

    testhelp::CaptureStdout out;
    h->printOptions(false);
    std::cout << 7 << std::endl; // the width was for one value only
    h->printOptions(false);
    const Lines once = {
        kInfo + "TRANSMITTER OFFSET    : X:1 Y:2 Z:3",
        kInfo + "TRANSMITTER TRANSFORM : [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000",
        kBlank + " [1][0]: 0.000 [1][1]: 1.000 [1][2]: 0.000",
        kBlank + " [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000",
        "", kOrderHead, kBlank + " 1->1",
        kInfo + "CALIBRATION LIBRARY   : name:nosuchcalib",
    };
    Lines expected = once;
    expected.push_back("7");
    expected.push_back(kInfo + "TRANSMITTER OFFSET    : X:1.000 Y:2.000 Z:3.000");
    expected.insert(expected.end(), once.begin() + 1, once.end());
    EXPECT_EQ(out.lines(), expected);
}

} // namespace
