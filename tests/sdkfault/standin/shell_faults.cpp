// The GCC-built OTK stand-in with members that escape (see faults.h): a C++
// exception of this compiler's runtime.
#include "otksim/OTK.h"
#include "tests/sdkfault/standin/faults.h"

#include <stdexcept>

int sdkfaultEscape(otksim_dev* dev, int result)
{
    if (!result && otksim_GetLastResult(dev) == SDKFAULT_RAISE)
        throw std::runtime_error("simulated SDK failure");
    return result;
}

#include "otksim/shell_otk.cpp"
