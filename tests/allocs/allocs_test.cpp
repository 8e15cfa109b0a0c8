// No heap allocation in a steady-state host cycle: every operator new (and,
// where the linker wraps it, malloc) made by the host's thread while recvData
// runs is counted, over a thousand cycles with and without new frames, and
// with a capture running.
#include "helpers/tracker.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;

void* counted(std::size_t size)
{
    if (t_counting)
        ++t_allocations;
    return std::malloc(size ? size : 1);
}

// Out of line, so that the compiler does not pair a replaced new with free.
__attribute__((noinline)) void release(void* p) { std::free(p); }
} // namespace

#ifdef _WIN32
#define TARSIS_EXPORTED
#else
#define TARSIS_EXPORTED __attribute__((visibility("default")))
#endif

// Replaced for the whole binary, so the simulated SDK's allocations count too.
TARSIS_EXPORTED void* operator new(std::size_t size)
{
    if (void* p = counted(size))
        return p;
    throw std::bad_alloc();
}
TARSIS_EXPORTED void* operator new[](std::size_t size) { return operator new(size); }
TARSIS_EXPORTED void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
TARSIS_EXPORTED void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
TARSIS_EXPORTED void operator delete(void* p) noexcept { release(p); }
TARSIS_EXPORTED void operator delete[](void* p) noexcept { release(p); }
TARSIS_EXPORTED void operator delete(void* p, std::size_t) noexcept { release(p); }
TARSIS_EXPORTED void operator delete[](void* p, std::size_t) noexcept { release(p); }

#ifdef TARSIS_WRAP_MALLOC
extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* p, std::size_t size);
void* __wrap_malloc(std::size_t size)
{
    if (t_counting)
        ++t_allocations;
    return __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size)
{
    if (t_counting)
        ++t_allocations;
    return __real_calloc(count, size);
}
void* __wrap_realloc(void* p, std::size_t size)
{
    if (t_counting)
        ++t_allocations;
    return __real_realloc(p, size);
}
}
#endif

namespace {

void noPause(unsigned) {}

struct AllocTest : testhelp::TrackerTest {
    // Runs `cycles` recvData calls, counting only inside them.
    long countCycles(int cycles, bool newFrames, int& written)
    {
        long total = 0;
        for (int i = 0; i < cycles; ++i) {
            if (newFrames) {
                EXPECT_TRUE(otksim::PushMotionFrame(testhelp::simOf(*dev)));
            }
            t_allocations = 0;
            t_counting = true;
            const int result = dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8);
            t_counting = false;
            total += t_allocations;
            EXPECT_EQ(1, result);
            written += flags.trackerMask[3] != 0;
        }
        return total;
    }
};

} // namespace

TEST_F(AllocTest, SteadyStateCyclesAllocateNothing)
{
    // The counter itself must see an allocation, or zero proves nothing.
    t_allocations = 0;
    t_counting = true;
    void* volatile probe = ::operator new(16);
    t_counting = false;
    ::operator delete(probe);
    ASSERT_GE(t_allocations, 1);

    const std::string calib = testhelp::moduleFile("tarsiscalib");
    const struct {
        const char* name;
        bool options;
        bool newFrames;
        const char* capture;
    } cases[] = {
        {"new frames", false, true, nullptr},
        {"no new frames", false, false, nullptr},
        {"new frames, transforms and calibration", true, true, nullptr},
        {"new frames into a capture", false, true, "captures/allocs.mcap"},
    };
    for (const auto& c : cases) {
        testhelp::Config lines("tarsis0");
        lines.add("baud", {"115200"});
        lines.add("reset", {"no"});
        if (c.options) {
            lines.add("transmitteroffset", {"1", "2", "3", "m"});
            lines.add("transmitterrotation", {"0", "1", "0", "30"});
            lines.add("sensoroffset", {"1", "0", "0", "2", "inches"});
            lines.add("sensorrotation", {"2", "1", "0", "0", "45"});
            lines.add("sensortranslation", {"3", "1", "1", "1"});
            lines.add("calibration", {calib.c_str(), "scale=1.01", "angle=1,0,0"});
        }
        if (c.capture) {
            // A capture's file, written by its own thread, is left for the
            // reference reader with the other captures.
            std::remove(c.capture);
            lines.add("capture", {c.capture});
        }
        table.count() = 0; // each case claims its records afresh
        std::error_code ec;
        std::filesystem::create_directories("captures", ec);
        otksim::SetScenario("frames=manual max=16 stations=ffff rate=240");
        dev.reset(new OvTrackD(lines.get(), &log));
        OvTrackD& d = *dev;
        plat::setSleepHook(noPause);
        ASSERT_EQ(1, d.init(&info)) << c.name << "\n" << out->text();
        ASSERT_EQ(2, d.configure());
        ASSERT_TRUE(d.start());
        ASSERT_EQ(c.capture != nullptr, d.m_pCapturing != nullptr) << c.name << "\n" << out->text();
        ASSERT_TRUE(otksim::PushMotionFrame(testhelp::simOf(d)));

        int written = 0;
        countCycles(20, c.newFrames, written); // warm-up: the SDK's frame copy grows once
        written = 0;
        EXPECT_EQ(0, countCycles(1000, c.newFrames, written)) << c.name;
        EXPECT_EQ(c.newFrames ? 1000 : 0, written) << c.name;
        EXPECT_TRUE(d.stop());
        dev.reset();
    }
}
