// The simulated tracker behind a tracker device, for the simulator's control
// calls (frames pushed by hand, call counts, state). Tests, fuzz targets and
// benchmarks reach it only through here.
#pragma once

#include "otksim/otksim.h"
#include "tracker/ovtrackd.h"

#if defined(__SANITIZE_ADDRESS__)
#define TARSIS_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARSIS_TEST_LSAN 1
#endif
#endif
#if TARSIS_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace testhelp {

inline otksim::Device* simOf(OvTrackD& dev)
{
    return otksim::DeviceFor(dev.m_dev.object());
}

// The simulated tracker of an SDK object the device gave up (a call raised):
// what the simulator holds for it is never freed, by design, and is no leak
// for the leak checker.
inline void givenUp(otksim::Device* sim)
{
#if TARSIS_TEST_LSAN
    __lsan_ignore_object(sim);
#else
    (void)sim;
#endif
}

} // namespace testhelp
