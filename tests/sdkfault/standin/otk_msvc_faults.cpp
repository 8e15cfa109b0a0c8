// The MSVC-ABI OTK stand-in with members that escape (see faults.h): what a
// throw of that compiler's runtime looks like to its caller, a noncontinuable
// exception 0xE06D7363 raised through kernel32, or a write through a null
// pointer.
#include "otkmsvc/sdk.h"
#include "tests/sdkfault/standin/faults.h"

extern "C" __declspec(dllimport) void __stdcall RaiseException(unsigned long code, unsigned long flags,
                                                               unsigned long count, const __UINTPTR_TYPE__* args);

int sdkfaultEscape(otksim_dev* dev, int result)
{
    if (result)
        return result;
    const unsigned code = otksim_GetLastResult(dev);
    if (code == SDKFAULT_RAISE) {
        // The runtime's magic number, then the thrown object and its type
        // information, which no caller outside the runtime reads.
        const __UINTPTR_TYPE__ args[3] = {0x19930520u, 0, 0};
        RaiseException(0xE06D7363u, 1 /* noncontinuable */, 3, args);
    } else if (code == SDKFAULT_NULL_WRITE) {
        volatile int* volatile nowhere = nullptr; // a volatile store stays
        *nowhere = 1;
    }
    return result;
}

#include "otkmsvc/otk.cpp"
