// An SDK whose calls escape (the faulty stand-in of standin/, found in this
// suite's own folder): two devices in one host, the first on a tracker whose
// call raises. That call fails as a failing call does, with a line naming the
// member and what it raised; no later call reaches the first device's SDK
// object, not even its destructor; and the second device streams on. On
// Windows every escaping member first throws and catches an exception inside
// its own call, which must reach the SDK's handler and nobody else.
#include "helpers/capture.h"
#include "helpers/host.h"
#include "helpers/simdevice.h"
#include "helpers/tracker.h"
#include "otksim/otksim.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"
#include "tracker/sdkbind.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The results that make a member of the faulty stand-in escape (standin/faults.h).
const char* const kRaise = "2001EC00";
#ifdef _WIN32
const char* const kNullWrite = "2001EA00";
const std::string kRaised = "raised a C++ exception (0xE06D7363)";
#else
const std::string kRaised = "raised a C++ exception (std::runtime_error: simulated SDK failure)";
#endif

// One device of the host: its option lines, logger and the device itself.
struct Device {
    Device(const char* name, const std::string& scenario) : cfg(name), log(testhelp::quietLogger(name))
    {
        cfg.add("baud", {"115200"}).add("reset", {"no"});
        otksim::SetScenario(("frames=manual " + scenario).c_str());
        dev.reset(new OvTrackD(cfg.get(), &log));
    }
    testhelp::Config cfg;
    CLogger log;
    std::unique_ptr<OvTrackD> dev;
};

struct SdkFault : ::testing::Test {
    testhelp::Table table{testhelp::Table::Trackers};
    InitInfo info{};
    plat::SleepHook oldSleep = nullptr;

    void SetUp() override
    {
        info.traStorage = table.storage();
        oldSleep = plat::setSleepHook(testhelp::countPause);
    }
    void TearDown() override
    {
        plat::setSleepHook(oldSleep);
        otksim::SetScenario(nullptr);
    }
    // One host cycle of a device with one fresh frame of its tracker.
    static int cycle(OvTrackD& dev, UpdateFlags& flags)
    {
        otksim::PushMotionFrame(testhelp::simOf(dev));
        return dev.recvData(reinterpret_cast<unsigned char*>(&flags), sizeof flags);
    }
#ifdef _WIN32
    // The calls of the members that escape, each of which first throws and
    // catches inside the SDK.
    static int escapingCalls(otksim::Device* sim)
    {
        return otksim::CallCount(sim, "StartContPno") + otksim::CallCount(sim, "LastHostFrameCount");
    }
    // How many of those exceptions the SDK's own handler caught, as the
    // faulty OTK.dll counts them.
    static int caughtInside()
    {
        const std::string path = sdk::acquireBinding(nullptr).libraries[static_cast<int>(sdk::Library::OTK)].path;
        plat::LibHandle lib = plat::loadLibrary(path.c_str());
        const auto* count = static_cast<const volatile int*>(plat::findSymbol(lib, "sdkfaultCaughtInside"));
        const int value = count ? *count : -1;
        plat::freeLibrary(lib);
        sdk::releaseBinding();
        return value;
    }
#endif
};

TEST_F(SdkFault, ACallThatRaisesFailsItsDeviceAloneAndNoLaterCallReachesItsObject)
{
    const struct {
        const char* member;
        const char* result;
        bool atStart; // the stream's start fails, or the first cycle's frame count
        std::string console, trace;
    } cases[] = {
        {"StartContPno", kRaise, true, "Error starting cont pno: ", "StartContPno Error: "},
        {"LastHostFrameCount", kRaise, false, "Unable to retrieve last host frame count",
         "LastHostFrameCount Error: "},
#ifdef _WIN32
        {"StartContPno", kNullWrite, true, "Error starting cont pno: ", "StartContPno Error: "},
        {"LastHostFrameCount", kNullWrite, false, "Unable to retrieve last host frame count",
         "LastHostFrameCount Error: "},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.member) + " " + c.result);
        table.count() = 0;
#ifdef _WIN32
        const int caughtBefore = caughtInside();
        ASSERT_LE(0, caughtBefore) << "the faulty OTK.dll does not count what it catches";
#endif
        testhelp::CaptureStdout out;
        testhelp::CaptureTrace trace;
        Device faulty("tarsis0", std::string("fail=") + c.member + ":" + c.result);
        Device good("tarsis1", "");
        ASSERT_EQ(1, faulty.dev->init(&info));
        ASSERT_EQ(1, good.dev->init(&info));
        ASSERT_EQ(2, faulty.dev->configure());
        ASSERT_EQ(2, good.dev->configure());
        const void* object = faulty.dev->m_dev.object();
        otksim::Device* sim = otksim::DeviceFor(object);
        ASSERT_NE(nullptr, sim);
        testhelp::givenUp(sim);
#ifdef _WIN32
        otksim::Device* goodSim = otksim::DeviceFor(good.dev->m_dev.object());
#endif
        UpdateFlags flags{};
        out.clear();
        trace.clear();
        std::string line = std::string("Tracker SDK call COTKdev::") + c.member + " ";
#ifdef _WIN32
        line += c.result == kRaise ? kRaised : "caused an access violation (0xC0000005) writing address 0x0";
#else
        line += kRaised;
#endif
        if (c.atStart) {
            EXPECT_FALSE(faulty.dev->start());
            EXPECT_EQ(std::vector<std::string>{c.console + line}, out.lines());
            EXPECT_EQ((std::vector<std::string>{"OvTrackD::start()\r\n", c.trace + line + "\r\n"}), trace.lines());
        } else {
            ASSERT_TRUE(faulty.dev->start());
            out.clear();
            trace.clear();
            EXPECT_EQ(-1, cycle(*faulty.dev, flags));
            EXPECT_EQ(std::vector<std::string>{c.console + line}, out.lines());
            EXPECT_EQ(std::vector<std::string>{c.trace + line + "\r\n"}, trace.lines());
        }

        // The other device's records come, cycle after cycle.
        ASSERT_TRUE(good.dev->start());
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(1, cycle(*good.dev, flags));
            EXPECT_EQ(0xF0, flags.trackerMask[3]) << "ids 5 to 8, behind the first device's";
        }

        // Stopping says why it fails, without a call into the object given up.
        out.clear();
        EXPECT_FALSE(faulty.dev->stop());
        EXPECT_EQ(std::vector<std::string>{(c.atStart ? "Unable to disconnect from tracker" : "Error stopping cont pno: ") +
                                           line},
                  out.lines());
        EXPECT_EQ(0, otksim::CallCount(sim, "StopContPno"));
        EXPECT_EQ(0, otksim::CallCount(sim, "Disconnect"));
        EXPECT_EQ(1, otksim::CallCount(sim, c.member));
        faulty.dev.reset();
        EXPECT_EQ(sim, otksim::DeviceFor(object)) << "the SDK's destructor ran";

        EXPECT_EQ(1, cycle(*good.dev, flags));
        EXPECT_TRUE(good.dev->stop());
#ifdef _WIN32
        // Each call's own exception was caught by the SDK; the lines above
        // show that none was reported.
        EXPECT_EQ(escapingCalls(sim) + escapingCalls(goodSim), caughtInside() - caughtBefore);
#endif
    }
}

} // namespace
