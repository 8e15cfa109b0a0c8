// Tracker settings of the simulated tracker: station map, frame rate,
// hemisphere, alignment and output data list.
#include "sim.h"

#include <gtest/gtest.h>

using simtest::code;
using simtest::connect;
using simtest::makeDevice;

TEST(OtkConfig, StationMapReportsActiveStationsWithSensors)
{
    auto dev = makeDevice("max=16 stations=0x1000b");
    ASSERT_TRUE(connect(*dev));
    unsigned long map = 0xa;
    ASSERT_TRUE(dev->SetStationMap(map));
    ASSERT_TRUE(dev->GetStationMap(map));
    EXPECT_EQ(0xau, map);

    const unsigned long refused[] = {0x4, 0x1000f, 0x80000000ul};
    for (unsigned long wanted : refused) {
        EXPECT_EQ(0, dev->SetStationMap(wanted));
        EXPECT_EQ(otksim::kNoSensor, code(*dev));
    }
    ASSERT_TRUE(dev->GetStationMap(map));
    EXPECT_EQ(0xau, map);

    // Stations above 16 are reachable when the tracker has them.
    map = 0x10001;
    ASSERT_TRUE(dev->SetStationMap(map));
    map = 0;
    ASSERT_TRUE(dev->SetStationMap(map));
    ASSERT_TRUE(dev->GetStationMap(map));
    EXPECT_EQ(0u, map);
}

TEST(OtkConfig, FrameRatesPerModel)
{
    auto tarsis = makeDevice("frames=manual");
    ASSERT_TRUE(connect(*tarsis));
    EXPECT_EQ(0, tarsis->SetFrameRate(OV_FRAMERATE_60));
    EXPECT_EQ(otksim::kNotSupported, code(*tarsis));
    EXPECT_EQ(0, tarsis->SetFrameRate(static_cast<eOvFrameRate>(5)));
    EXPECT_EQ(otksim::kBadArgument, code(*tarsis));
    EXPECT_EQ(OV_FRAMERATE_120, simtest::state(*tarsis).frameRate);
    ASSERT_TRUE(tarsis->SetFrameRate(OV_FRAMERATE_240));
    EXPECT_EQ(OV_FRAMERATE_240, simtest::state(*tarsis).frameRate);

    // The frame clock keeps its rate while streaming.
    ASSERT_TRUE(tarsis->StartContPno(nullptr));
    EXPECT_EQ(0, tarsis->SetFrameRate(OV_FRAMERATE_120));
    EXPECT_EQ(otksim::kStreaming, code(*tarsis));
    ASSERT_TRUE(tarsis->StopContPno());
    EXPECT_EQ(1, tarsis->SetFrameRate(OV_FRAMERATE_120));

    auto brevik = makeDevice("type=brevik");
    ASSERT_TRUE(connect(*brevik));
    EXPECT_EQ(1, brevik->SetFrameRate(OV_FRAMERATE_60));
    for (eOvFrameRate rate : {OV_FRAMERATE_120, OV_FRAMERATE_240}) {
        EXPECT_EQ(0, brevik->SetFrameRate(rate));
        EXPECT_EQ(otksim::kNotSupported, code(*brevik));
    }
    EXPECT_EQ(OV_FRAMERATE_60, simtest::state(*brevik).frameRate);
}

TEST(OtkConfig, HemisphereAlignmentAndDataList)
{
    auto dev = makeDevice("");
    ASSERT_TRUE(connect(*dev));
    const float up[3] = {0, 0, 1}, down[3] = {0, -1, 0};
    ASSERT_TRUE(dev->SetSHemisphere(1, up));
    ASSERT_TRUE(dev->SetSHemisphere(3, up));
    ASSERT_TRUE(dev->SetSHemisphere(-1, down));
    EXPECT_EQ(0, dev->SetSHemisphere(0, up));
    EXPECT_EQ(otksim::kBadArgument, code(*dev));
    EXPECT_EQ(0, dev->SetSHemisphere(33, up));
    otksim::State s = simtest::state(*dev);
    EXPECT_EQ(1, s.hemisphereSet[0]);
    EXPECT_EQ(1, s.hemisphereSet[1]);
    EXPECT_EQ(0, s.hemisphereSet[2]);
    EXPECT_EQ(1, s.hemisphereSet[3]);
    EXPECT_EQ(1.0f, s.hemisphere[3][2]);
    EXPECT_EQ(-1.0f, s.hemisphere[0][1]);

    const float origin[3] = {0, 0, 0}, xPoint[3] = {0, 0, -200}, yPoint[3] = {200, 0, 0};
    const float onXAxis[3] = {0, 0, 100};
    ASSERT_TRUE(dev->ResetSAlignment(-1));
    EXPECT_EQ(0, dev->SetSAlignment(-1, origin, xPoint, onXAxis));
    EXPECT_EQ(otksim::kBadArgument, code(*dev));
    EXPECT_EQ(0, dev->SetSAlignment(2, origin, xPoint, yPoint));
    EXPECT_EQ(otksim::kNotSupported, code(*dev));
    EXPECT_FALSE(simtest::state(*dev).alignmentSet);
    ASSERT_TRUE(dev->SetSAlignment(-1, origin, xPoint, yPoint));
    s = simtest::state(*dev);
    EXPECT_TRUE(s.alignmentSet);
    EXPECT_EQ(-200.0f, s.alignment[1][2]);
    EXPECT_EQ(200.0f, s.alignment[2][0]);
    ASSERT_TRUE(dev->ResetSAlignment(-1));
    EXPECT_FALSE(simtest::state(*dev).alignmentSet);

    COTKmdat list;
    ASSERT_TRUE(list.Append(OTK_MD_POSITION));
    ASSERT_TRUE(list.Append(OTK_MD_EULER));
    EXPECT_EQ(0, dev->SetSDataList(1, list));
    EXPECT_EQ(otksim::kNotSupported, code(*dev));
    ASSERT_TRUE(dev->SetSDataList(-1, list));
    s = simtest::state(*dev);
    ASSERT_EQ(2, s.dataListCount);
    EXPECT_EQ(OTK_MD_POSITION, s.dataList[0]);
    EXPECT_EQ(OTK_MD_EULER, s.dataList[1]);

    list.Append(static_cast<eOTKMotionData>(3));
    EXPECT_EQ(0, dev->SetSDataList(-1, list));
    EXPECT_EQ(otksim::kBadArgument, code(*dev));
    EXPECT_EQ(2, simtest::state(*dev).dataListCount);

    // The list holds at most kMaxItems entries.
    list.Empty();
    for (int i = 0; i < COTKmdat::kMaxItems; ++i)
        ASSERT_TRUE(list.Append(OTK_MD_EULER));
    EXPECT_EQ(0, list.Append(OTK_MD_EULER));
}
