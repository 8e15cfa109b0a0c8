// Scenarios, connection state, restart and injected faults of the simulated
// tracker.
#include "sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

using simtest::code;
using simtest::connect;
using simtest::makeDevice;

TEST(OtkScenario, ModelDefaults)
{
    auto tarsis = makeDevice("");
    ASSERT_TRUE(connect(*tarsis));
    unsigned long map = 0;
    EXPECT_EQ(OV_TRACKER_TARSIS, tarsis->TrackerType());
    EXPECT_EQ(16, tarsis->MaxSensors());
    ASSERT_TRUE(tarsis->GetStationMap(map));
    EXPECT_EQ(0xfu, map);
    EXPECT_EQ(OV_FRAMERATE_120, simtest::state(*tarsis).frameRate);

    auto brevik = makeDevice("type=Brevik;bit=errors  motion=still");
    ASSERT_TRUE(connect(*brevik));
    EXPECT_EQ(OV_TRACKER_BREVIK, brevik->TrackerType());
    EXPECT_EQ(2, brevik->MaxSensors());
    ASSERT_TRUE(brevik->GetStationMap(map));
    EXPECT_EQ(0x3u, map);
    EXPECT_EQ(OV_FRAMERATE_60, simtest::state(*brevik).frameRate);
    COTKbiterr bit;
    ASSERT_TRUE(brevik->GetBITErrs(bit));
    EXPECT_FALSE(bit.IsClear());
    ASSERT_TRUE(brevik->ClearBITErrs());
    ASSERT_TRUE(brevik->GetBITErrs(bit));
    EXPECT_TRUE(bit.IsClear());

    // Stations beyond the supported count are reported as the tracker has them.
    auto odd = makeDevice("max=4 stations=0x30003 rate=240");
    ASSERT_TRUE(connect(*odd));
    EXPECT_EQ(4, odd->MaxSensors());
    ASSERT_TRUE(odd->GetStationMap(map));
    EXPECT_EQ(0x30003u, map);
    EXPECT_EQ(OV_FRAMERATE_240, simtest::state(*odd).frameRate);
}

TEST(OtkScenario, BadPairIsReportedAndNoTrackerIsFound)
{
    const char* const bad[] = {
        "type=tracker", "max=0", "max=33", "stations=1ffffffff", "stations=xyz", "rate=60",
        "type=brevik rate=120", "bit=maybe", "motion=spiral", "restart=-1", "frames=auto", "colour=red",
        "motion", "fail=discovercnx:0x20040001", "fail=MaxSensors:0x1", "fail=SetStationMap:0",
        "fail=SetStationMap:0x40000000", "fail=SetStationMap:0x20040003:0", "fail=SetStationMap",
        "footprint=33554433", "footprint=-1", "footprint=4k", "latency=60001", "latency=-1", "linktimeout=x",
        "nan=xyz", "nan=1ffffffff", "pad=4097",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(otksim::SetScenario(text));
        COTKdev dev;
        otksim::SetScenario(nullptr);
        const std::string err = testing::internal::GetCapturedStderr();
        // Reported twice: by SetScenario and by the device built from it.
        const std::string quoted = "'" + std::string(text).substr(std::string(text).rfind(' ') + 1) + "'";
        EXPECT_NE(std::string::npos, err.find(quoted)) << err;

        EXPECT_EQ(OV_COMM_NONE, dev.DiscoverCnx());
        EXPECT_EQ(otksim::kBadScenario, code(dev));
        EXPECT_EQ(0, dev.CnxReady());
        EXPECT_EQ(otksim::kBadScenario, code(dev));
        EXPECT_NE(std::string::npos, std::string(dev.GetLastResultStr()).find("No tracker found"));
    }
}

// An SDK object as big as footprint= says: the constructor writes that many
// bytes from the object's address and not one more, and the device still works.
TEST(OtkScenario, FootprintWritesFromTheObjectsAddress)
{
    for (const size_t bytes : {size_t(0), sizeof(COTKdev), size_t(300), size_t(1024)}) {
        SCOPED_TRACE(bytes);
        alignas(COTKdev) unsigned char room[2048];
        std::memset(room, 0xEE, sizeof room);
        ASSERT_TRUE(otksim::SetScenario(("footprint=" + std::to_string(bytes)).c_str()));
        COTKdev* dev = new (room) COTKdev;
        otksim::SetScenario(nullptr);
        size_t written = sizeof room;
        while (written > 0 && room[written - 1] == 0xEE)
            --written;
        EXPECT_EQ(std::max(bytes, sizeof(COTKdev)), written);
        EXPECT_EQ(otksim::LastDevice(), simtest::sim(*dev));
        EXPECT_TRUE(connect(*dev));
        dev->~COTKdev();
    }
}

TEST(OtkConnection, EveryCallFailsWithoutConnection)
{
    auto dev = makeDevice("type=brevik");
    COTKdev& d = *dev;
    unsigned long value = 0;
    unsigned char* buffer = nullptr;
    COTKbiterr bit;
    COTKmdat list;
    const float v[3] = {1, 0, 0}, o[3] = {0, 0, 0}, y[3] = {0, 1, 0};
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"CnxReady", [&] { return d.CnxReady(); }},
        {"Disconnect", [&] { return d.Disconnect(); }},
        {"RestartTracker", [&] { return d.RestartTracker(); }},
        {"GetStationMap", [&] { return d.GetStationMap(value); }},
        {"SetStationMap", [&] { return d.SetStationMap(value); }},
        {"GetBITErrs", [&] { return d.GetBITErrs(bit); }},
        {"ClearBITErrs", [&] { return d.ClearBITErrs(); }},
        {"MaxSensors", [&] { return d.MaxSensors(); }},
        {"SetFrameRate", [&] { return d.SetFrameRate(OV_FRAMERATE_60); }},
        {"SetSHemisphere", [&] { return d.SetSHemisphere(-1, v); }},
        {"ResetSAlignment", [&] { return d.ResetSAlignment(-1); }},
        {"SetSAlignment", [&] { return d.SetSAlignment(-1, o, v, y); }},
        {"SetSDataList", [&] { return d.SetSDataList(-1, list); }},
        {"ClearPnoBuffer", [&] { return d.ClearPnoBuffer(); }},
        {"StartContPno", [&] { return d.StartContPno(nullptr); }},
        {"StopContPno", [&] { return d.StopContPno(); }},
        {"LastHostFrameCount", [&] { return d.LastHostFrameCount(value); }},
        {"LastPnoPtr", [&] { return d.LastPnoPtr(buffer, value); }},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call.first);
        EXPECT_EQ(0, call.second());
        EXPECT_EQ(otksim::kNotConnected, code(d));
        EXPECT_NE(std::string::npos, std::string(d.GetLastResultStr()).find("not connected"));
        EXPECT_EQ(1, otksim::CallCount(simtest::sim(d), call.first));
    }
    // No "unknown" in the enum: the model comes back next to the failure.
    EXPECT_EQ(OV_TRACKER_BREVIK, d.TrackerType());
    EXPECT_EQ(otksim::kNotConnected, code(d));

    // After a working connection is closed, the same holds again.
    ASSERT_TRUE(connect(d));
    EXPECT_EQ(0u, code(d));
    EXPECT_STREQ("No error", d.GetLastResultStr());
    ASSERT_TRUE(d.Disconnect());
    EXPECT_EQ(0, d.ClearBITErrs());
    EXPECT_EQ(otksim::kNotConnected, code(d));
    EXPECT_EQ(0, d.Disconnect());
}

TEST(OtkConnection, SerialSettingIsKeptAndChecked)
{
    auto dev = makeDevice("");
    COTKser ser(OV_BAUD_9600, OV_PARITY_ODD, 1);
    ASSERT_TRUE(dev->SetSerialIF(&ser));
    ser.m_baud = OV_BAUD_2400; // the device holds its own copy
    otksim::State s = simtest::state(*dev);
    EXPECT_EQ(OV_BAUD_9600, s.baud);
    EXPECT_EQ(OV_PARITY_ODD, s.parity);
    EXPECT_EQ(1, s.flowControl);
    EXPECT_EQ(OV_COMM_SERIAL, dev->DiscoverCnx());

    EXPECT_EQ(0, dev->SetSerialIF(nullptr));
    EXPECT_EQ(otksim::kBadArgument, code(*dev));
    COTKser wrong(static_cast<eOvBaudRate>(0), OV_PARITY_NONE, 0);
    EXPECT_EQ(0, dev->SetSerialIF(&wrong));
    EXPECT_EQ(otksim::kBadArgument, code(*dev));
    EXPECT_EQ(OV_BAUD_9600, simtest::state(*dev).baud);
}

TEST(OtkConnection, RestartNeedsTheConfiguredDiscoveries)
{
    auto dev = makeDevice("restart=2");
    ASSERT_TRUE(connect(*dev));
    ASSERT_TRUE(dev->SetFrameRate(OV_FRAMERATE_240));
    unsigned long map = 0x1;
    ASSERT_TRUE(dev->SetStationMap(map));
    ASSERT_TRUE(simtest::setPositionAngles(*dev));
    ASSERT_TRUE(dev->ClearBITErrs());

    ASSERT_TRUE(dev->RestartTracker());
    EXPECT_EQ(0, dev->CnxReady());
    EXPECT_EQ(OV_ERR_NO_TRACKER, dev->GetLastResult());
    EXPECT_EQ(0, dev->GetStationMap(map));
    EXPECT_EQ(otksim::kNotConnected, code(*dev));
    // The host side still holds the dropped link until it lets go of it.
    ASSERT_TRUE(dev->Disconnect());

    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(OV_COMM_NONE, dev->DiscoverCnx());
        EXPECT_EQ(OV_ERR_NO_TRACKER, dev->GetLastResult());
        EXPECT_EQ(0, dev->CnxReady());
        EXPECT_EQ(OV_ERR_NO_TRACKER, dev->GetLastResult()) << "TryConnect reads this code";
    }
    EXPECT_EQ(OV_COMM_SERIAL, dev->DiscoverCnx());
    EXPECT_TRUE(dev->CnxReady());

    // The tracker came back with its power-on settings.
    const otksim::State s = simtest::state(*dev);
    EXPECT_EQ(OV_FRAMERATE_120, s.frameRate);
    EXPECT_EQ(0xfu, s.activeMap);
    EXPECT_EQ(0, s.dataListCount);
    EXPECT_EQ(0, s.restartPending);
}

TEST(OtkFaults, InjectedCodesWithCounts)
{
    auto dev = makeDevice("fail=DiscoverCnx:0x20040005:2,GetStationMap:20020005 "
                          "fail=ClearBITErrs:0x20020005:1,ClearBITErrs:0x1234:1");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(OV_COMM_NONE, dev->DiscoverCnx());
        EXPECT_EQ(0, dev->CnxReady());
        EXPECT_EQ(OV_ERR_TRACKER_BUSY, dev->GetLastResult());
    }
    ASSERT_TRUE(connect(*dev));
    EXPECT_EQ(3, otksim::CallCount(simtest::sim(*dev), "DiscoverCnx"));

    unsigned long map = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0, dev->GetStationMap(map));
        EXPECT_EQ(OV_ERR_COMM_TIMEOUT, dev->GetLastResult());
    }
    // Entries for one operation are used in turn.
    EXPECT_EQ(0, dev->ClearBITErrs());
    EXPECT_EQ(OV_ERR_COMM_TIMEOUT, dev->GetLastResult());
    EXPECT_EQ(0, dev->ClearBITErrs());
    EXPECT_EQ(0x1234u, code(*dev));
    EXPECT_STREQ("Error 0x00001234", dev->GetLastResultStr());
    EXPECT_EQ(1, dev->ClearBITErrs());
    EXPECT_EQ(-1, otksim::CallCount(simtest::sim(*dev), "clearbiterrs"));
}

TEST(OtkFaults, OnlyTheUnconfirmedCodeLetsTheCommandTakeEffect)
{
    auto dev = makeDevice("fail=SetStationMap:0x20020005:1,SetStationMap:0x20040003:2");
    ASSERT_TRUE(connect(*dev));
    unsigned long map = 0x1;
    EXPECT_EQ(0, dev->SetStationMap(map));
    EXPECT_EQ(0xfu, simtest::state(*dev).activeMap) << "a failed command changes nothing";

    EXPECT_EQ(0, dev->SetStationMap(map));
    EXPECT_EQ(OV_ERR_CMD_UNCONFIRMED, dev->GetLastResult());
    unsigned long readBack = 0;
    ASSERT_TRUE(dev->GetStationMap(readBack));
    EXPECT_EQ(0x1u, readBack);

    // A map the tracker cannot take reports its own fault instead.
    map = 0x10;
    EXPECT_EQ(0, dev->SetStationMap(map));
    EXPECT_EQ(otksim::kNoSensor, code(*dev));
    EXPECT_EQ(0x1u, simtest::state(*dev).activeMap);
    map = 0x6;
    EXPECT_EQ(1, dev->SetStationMap(map));
}

TEST(OtkControl, LastDeviceIsTheNewestAlive)
{
    auto first = makeDevice("");
    ASSERT_NE(nullptr, simtest::sim(*first));
    EXPECT_EQ(simtest::sim(*first), otksim::LastDevice());
    {
        auto second = makeDevice("");
        EXPECT_EQ(simtest::sim(*second), otksim::LastDevice());
        EXPECT_NE(simtest::sim(*first), simtest::sim(*second));
    }
    EXPECT_EQ(simtest::sim(*first), otksim::LastDevice());
    // Only the addresses survive the delete (kept where the compiler cannot
    // follow them): the simulator must refuse them without touching the objects.
    volatile std::uintptr_t goneObject = reinterpret_cast<std::uintptr_t>(first.get());
    volatile std::uintptr_t goneAddress = reinterpret_cast<std::uintptr_t>(simtest::sim(*first));
    first.reset();
    EXPECT_EQ(nullptr, otksim::DeviceFor(reinterpret_cast<const void*>(goneObject)));
    EXPECT_EQ(nullptr, otksim::LastDevice());
    otksim::Device* gone = reinterpret_cast<otksim::Device*>(goneAddress);
    otksim::State s;
    EXPECT_FALSE(otksim::GetState(gone, s));
    EXPECT_FALSE(otksim::PushMotionFrame(gone));
    EXPECT_EQ(-1, otksim::CallCount(gone, "DiscoverCnx"));
}
