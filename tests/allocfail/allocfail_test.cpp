// Allocation failure everywhere in a device's life: the N-th allocation throws
// std::bad_alloc, for every N until the whole life runs without reaching it.
// Every slot must return its success or its failure result, nothing may be
// thrown into the host, and nothing may leak. On Linux the simulated SDK
// allocates through the same operator new: when its call raises, the device
// gives its SDK object up, destructor and all, so whatever the SDK held for
// that object stays; such a life must say so instead.
#include "helpers/host.h"
#include "helpers/simdevice.h"
#include "otksim/otksim.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_countdown{0}; // the allocation that fails when it reaches 0
std::atomic<long> g_live{0};      // allocations not yet freed

std::atomic<bool> g_sdkRaised{false}; // a console line said an SDK call raised

// Keeps the device's console lines out of the way without allocating, and
// notes the line of an SDK call that raised.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
    std::streamsize xsputn(const char* text, std::streamsize n) override
    {
        static const char kRaised[] = " raised a C++ exception (std::bad_alloc";
        const char* end = text + n;
        if (std::search(text, end, kRaised, kRaised + sizeof kRaised - 1) != end)
            g_sdkRaised = true;
        return n;
    }
};

// Kept out of line: inlined into a delete expression, the free would look
// mismatched to the compiler.
__attribute__((noinline)) void release(void* p) noexcept
{
    if (p) {
        --g_live;
        std::free(p);
    }
}

} // namespace

void* operator new(std::size_t size)
{
    if (g_armed && --g_countdown == 0)
        throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    ++g_live;
    return p;
}
void operator delete(void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }

namespace {

// What one life of the device gave, recorded while allocations may fail.
struct Life {
    bool created = false;
    int init = 0, configure = 0, recv = 0;
    bool start = false, stop = false, printed = false;
    bool threw = false;
    bool reached = false; // the failing allocation happened
    bool sdkRaised = false; // in an SDK call, which raised it
};

Life live(long failAt, const std::string& calib)
{
    testhelp::Config cfg;
    cfg.add("baud", {"115200"}).add("reset", {"yes"}).add("sensormap", {"3"}).add("hemisphere", {"+z", "3"});
    cfg.add("framerate", {"240"}).add("CaveCoordinates", {"yes"});
    cfg.add("sensoroffset", {"1", "1", "2", "3", "inches"}).add("transmitterrotation", {"0", "0", "1", "90"});
    cfg.add("calibration", {calib.c_str(), "scale=2", "offset=1,0,0"});
    CLogger log = testhelp::quietLogger();
    testhelp::Table table;
    InitInfo info{};
    info.traStorage = table.storage();
    UpdateFlags flags{};
    const float pos[3] = {12, 24, 36}, ang[3] = {10, 20, 30};
    unsigned char frame[64] = {};
    frame[2] = 1;
    frame[34] = 2;
    std::memcpy(frame + 8, pos, sizeof pos);
    std::memcpy(frame + 20, ang, sizeof ang);

    Life life;
    g_sdkRaised = false;
    g_countdown = failAt;
    g_armed = true;
    try {
        OvTrackD* made = nullptr;
        try {
            made = new OvTrackD(cfg.get(), &log); // what createDev does
        } catch (const std::bad_alloc&) {
        }
        life.created = made != nullptr;
        if (made) {
            CBase* dev = made; // the host calls by slot
            life.init = dev->init(&info);
            if (life.init == 1) {
                life.configure = dev->configure();
                life.start = dev->start();
                g_armed = false;
                otksim::PushFrame(otksim::LastDevice(), frame, sizeof frame);
                g_armed = true;
                life.recv = dev->recvData(reinterpret_cast<unsigned char*>(&flags), sizeof flags);
                life.printed = dev->printConfig();
            }
            life.stop = dev->stop();
            delete made; // what deleteDev does
        }
    } catch (...) {
        life.threw = true;
    }
    g_armed = false;
    life.reached = g_countdown <= 0;
    life.sdkRaised = g_sdkRaised;
    if (life.sdkRaised && otksim::LastDevice())
        testhelp::givenUp(otksim::LastDevice());
    return life;
}

TEST(AllocFail, EveryAllocationOfADeviceLifeMayFail)
{
    otksim::SetScenario("frames=manual restart=0");
    const plat::SleepHook oldSleep = plat::setSleepHook([](unsigned) {});
    const std::string calib = testhelp::moduleFile("tarsiscalib");
    NullBuffer null;
    std::streambuf* old = std::cout.rdbuf(&null);

    const Life whole = live(0, calib); // nothing fails; also settles lazy statics
    long n = 1;
    for (; n < 100000; ++n) {
        const long before = g_live;
        const Life life = live(n, calib);
        const long leaked = g_live - before;
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_FALSE(life.threw);
        if (!life.sdkRaised) {
            EXPECT_EQ(0, leaked);
        }
        EXPECT_TRUE(life.init == 1 || life.init == -1 || !life.created) << life.init;
        if (life.init == 1) {
            EXPECT_EQ(2, life.configure);
            EXPECT_TRUE(life.recv == 1 || life.recv == -1) << life.recv;
        }
        if (::testing::Test::HasFailure() || !life.reached)
            break;
    }
    std::cout.rdbuf(old);
    plat::setSleepHook(oldSleep);
    otksim::SetScenario(nullptr);

    EXPECT_EQ(1, whole.init);
    EXPECT_TRUE(whole.start && whole.stop && whole.printed);
    EXPECT_EQ(1, whole.recv);
    // The sweep ended where a life no longer reached the failing allocation.
    EXPECT_GT(n, 10);
    EXPECT_LT(n, 100000);
}

} // namespace
