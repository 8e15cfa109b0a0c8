// What the faulty stand-ins of this suite do instead of failing: a simulated
// call that fails with one of these results (the simulator's fail= key, so
// each device chooses for itself) lets its member escape the way a faulty SDK
// would. Included by both stand-ins, before the shell they wrap.
#pragma once

#include "otksim/otksim_c.h"

// The member raises the SDK compiler's C++ exception.
#define SDKFAULT_RAISE 0x2001EC00u
// The member writes through a null pointer (the Windows stand-in only: on
// Linux that ends the process).
#define SDKFAULT_NULL_WRITE 0x2001EA00u

int sdkfaultEscape(otksim_dev* dev, int result);

// The members that may escape; the shell's own call of each goes through
// sdkfaultEscape (a function-like macro does not expand inside itself).
#define otksim_StartContPno(dev, window) sdkfaultEscape(dev, otksim_StartContPno(dev, window))
#define otksim_LastHostFrameCount(dev, count) sdkfaultEscape(dev, otksim_LastHostFrameCount(dev, count))
