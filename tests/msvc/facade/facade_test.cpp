// The MSVC-ABI stand-in driven the way a binding of its exports would drive it:
// members found by their decorated names and called through pointers of the
// other ABI's convention (on 32-bit x86 `this` in ECX, the callee pops), into
// storage of our own, with the simulated tracker behind it.
#include "helpers/capture.h"
#include "otksim/otksim.h"
#include "support/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

#if defined(__i386__)
#define MEMBER __attribute__((thiscall))
#else
#define MEMBER
#endif

using Construct = void(MEMBER*)(void* self);
using ConstructSer = void(MEMBER*)(void* self, int baud, int parity, int flow);
using Call = int(MEMBER*)(void* self);
using CallWith = int(MEMBER*)(void* self, const void* arg);
using CallStation = int(MEMBER*)(void* self, int station, const void* arg);
using Align = int(MEMBER*)(void* self, int station, const float* origin, const float* x, const float* y);
using Pno = int(MEMBER*)(void* self, unsigned char** buffer, unsigned long* length);
using Text = const char*(MEMBER*)(void* self);
using Trace = void (*)(const char* format, ...);

// The names each ABI gives the members used here.
struct Name {
    const char* x86;
    const char* x64;
};
const Name kDevCtor = {"??0COTKdev@@QAE@XZ", "??0COTKdev@@QEAA@XZ"};
const Name kDevDtor = {"??1COTKdev@@QAE@XZ", "??1COTKdev@@QEAA@XZ"};
const Name kSerCtor = {"??0COTKser@@QAE@W4eOvBaudRate@@W4eOvParity@@H@Z",
                       "??0COTKser@@QEAA@W4eOvBaudRate@@W4eOvParity@@H@Z"};
const Name kMdatCtor = {"??0COTKmdat@@QAE@XZ", "??0COTKmdat@@QEAA@XZ"};
const Name kAppend = {"?Append@COTKmdat@@QAEHW4eOTKMotionData@@@Z", "?Append@COTKmdat@@QEAAHW4eOTKMotionData@@@Z"};
const Name kSerialIF = {"?SetSerialIF@COTKdev@@QAEHPAVCOTKser@@@Z", "?SetSerialIF@COTKdev@@QEAAHPEAVCOTKser@@@Z"};
const Name kDiscover = {"?DiscoverCnx@COTKdev@@QAE?AW4eOvCommType@@XZ", "?DiscoverCnx@COTKdev@@QEAA?AW4eOvCommType@@XZ"};
const Name kSetMap = {"?SetStationMap@COTKdev@@QAEHABK@Z", "?SetStationMap@COTKdev@@QEAAHAEBK@Z"};
const Name kDataList = {"?SetSDataList@COTKdev@@QAEHHABVCOTKmdat@@@Z", "?SetSDataList@COTKdev@@QEAAHHAEBVCOTKmdat@@@Z"};
const Name kAlign = {"?SetSAlignment@COTKdev@@QAEHHAAY02$$CBM00@Z", "?SetSAlignment@COTKdev@@QEAAHHAEAY02$$CBM00@Z"};
const Name kStart = {"?StartContPno@COTKdev@@QAEHPAUHWND__@@@Z", "?StartContPno@COTKdev@@QEAAHPEAUHWND__@@@Z"};
const Name kPno = {"?LastPnoPtr@COTKdev@@QAEHAAPAEAAK@Z", "?LastPnoPtr@COTKdev@@QEAAHAEAPEAEAEAK@Z"};
const Name kResult = {"?GetLastResult@COTKdev@@QAE?AW4eOvErrCode@@XZ", "?GetLastResult@COTKdev@@QEAA?AW4eOvErrCode@@XZ"};
const Name kResultStr = {"?GetLastResultStr@COTKdev@@QAEPBDXZ", "?GetLastResultStr@COTKdev@@QEAAPEBDXZ"};
const Name kOvdout = {"?OVDOUT@OvDebug@@SAXPBDZZ", "?OVDOUT@OvDebug@@SAXPEBDZZ"};

struct Facade : ::testing::Test {
    plat::LibHandle otk = nullptr, ovcmdif = nullptr;
    // SDK objects live in room of ours, as in a binding; 0xEE marks what the
    // library never wrote.
    alignas(16) unsigned char dev[8192];
    alignas(16) unsigned char ser[256], mdat[256];

    void SetUp() override
    {
        char dir[512];
        plat::executableDir(dir, sizeof dir);
        otk = plat::loadLibrary((std::string(dir) + "msvc\\OTK.dll").c_str());
        ASSERT_NE(nullptr, otk) << plat::lastLoadError();
        ovcmdif = plat::loadLibrary((std::string(dir) + "msvc\\OvCmdIF.dll").c_str());
        ASSERT_NE(nullptr, ovcmdif) << plat::lastLoadError();
        std::memset(dev, 0xEE, sizeof dev);
        otksim::SetScenario("frames=manual");
    }
    void TearDown() override
    {
        otksim::SetScenario(nullptr);
        plat::freeLibrary(ovcmdif);
        plat::freeLibrary(otk);
    }

    template <typename Fn> Fn member(const Name& name, plat::LibHandle lib = nullptr)
    {
        const char* decorated = sizeof(void*) == 4 ? name.x86 : name.x64;
        void* p = plat::findSymbol(lib ? lib : otk, decorated);
        EXPECT_NE(nullptr, p) << decorated;
        Fn fn;
        std::memcpy(&fn, &p, sizeof fn);
        return fn;
    }
    // Bytes of dev the library wrote, counted to the last one.
    size_t written() const
    {
        size_t n = sizeof dev;
        while (n > 0 && dev[n - 1] == 0xEE)
            --n;
        return n;
    }
};

TEST_F(Facade, StreamsAndReportsThroughTheOtherABI)
{
    member<Construct>(kDevCtor)(dev);
    otksim::Device* sim = otksim::DeviceFor(dev);
    ASSERT_NE(nullptr, sim);
    EXPECT_GE(written(), 1024u); // an object far larger than a pointer

    member<ConstructSer>(kSerCtor)(ser, 7, 0, 1);
    EXPECT_EQ(1, member<CallWith>(kSerialIF)(dev, ser));
    EXPECT_EQ(1, member<Call>(kDiscover)(dev)); // serial
    member<Construct>(kMdatCtor)(mdat);
    const auto append = member<int(MEMBER*)(void*, int)>(kAppend);
    EXPECT_EQ(1, append(mdat, 2));
    EXPECT_EQ(1, append(mdat, 4));
    EXPECT_EQ(1, member<CallStation>(kDataList)(dev, -1, mdat));
    const float origin[3] = {1, 2, 3}, x[3] = {4, 5, 6}, y[3] = {7, 8, 10};
    EXPECT_EQ(1, member<Align>(kAlign)(dev, -1, origin, x, y));
    EXPECT_EQ(1, member<CallWith>(kStart)(dev, nullptr));

    otksim::State s{};
    ASSERT_TRUE(otksim::GetState(sim, s));
    EXPECT_EQ(OV_BAUD_115200, s.baud);
    EXPECT_EQ(1, s.flowControl);
    EXPECT_EQ(2, s.dataListCount);
    EXPECT_EQ(1, s.alignmentSet);
    EXPECT_EQ(2.0f, s.alignment[0][1]);
    EXPECT_EQ(10.0f, s.alignment[2][2]);
    EXPECT_EQ(1, s.streaming);

    ASSERT_TRUE(otksim::PushMotionFrame(sim));
    unsigned char* frame = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(1, member<Pno>(kPno)(dev, &frame, &length));
    ASSERT_EQ(4u * 32u, length);
    EXPECT_EQ(1, frame[2]);
    EXPECT_EQ(4, frame[3 * 32 + 2]);

    const unsigned long map = 0x100;
    EXPECT_EQ(0, member<CallWith>(kSetMap)(dev, &map));
    EXPECT_EQ(unsigned(otksim::kNoSensor), unsigned(member<Call>(kResult)(dev)));
    EXPECT_STREQ("Station map selects station 9, which has no sensor", member<Text>(kResultStr)(dev));

    member<Construct>(kDevDtor)(dev);
    EXPECT_EQ(nullptr, otksim::DeviceFor(dev));
}

// Integers, a string and a double pass through the variable argument list.
TEST_F(Facade, TraceFormatsItsArgumentsIntoTheSink)
{
    testhelp::CaptureTrace trace;
    member<Trace>(kOvdout, ovcmdif)("%s %d %.2f %lu\r\n", "rate", -240, 2.5, 4000000000ul);
    EXPECT_EQ(std::vector<std::string>{"rate -240 2.50 4000000000\r\n"}, trace.lines());
}

// footprint= writes from the object's address in this library too, and an
// object whose state the caller overwrote fails every call with its own text.
TEST_F(Facade, FootprintAndOverwrittenState)
{
    otksim::SetScenario("frames=manual footprint=6000");
    member<Construct>(kDevCtor)(dev);
    EXPECT_EQ(6000u, written());

    EXPECT_EQ(2, member<Call>(kDiscover)(dev)); // usb
    dev[1000] ^= 0xFF;
    EXPECT_EQ(0, member<Call>(kDiscover)(dev));
    EXPECT_STREQ("SDK object damaged: its memory was overwritten", member<Text>(kResultStr)(dev));
    dev[1000] ^= 0xFF;
    member<Construct>(kDevDtor)(dev);
}

} // namespace
