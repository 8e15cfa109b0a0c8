// The MSVC-ABI OTK stand-in with members that escape (see faults.h): what a
// throw of that compiler's runtime looks like to its caller, a noncontinuable
// exception 0xE06D7363 raised through kernel32, or a write through a null
// pointer. Before either, each such member throws and catches one of its own,
// as an SDK that uses exceptions inside its calls does; the module's gate must
// leave that one to the SDK's handler and say nothing of it.
#include "otkmsvc/sdk.h"
#include "tests/sdkfault/standin/faults.h"

extern "C" __declspec(dllimport) void __stdcall RaiseException(unsigned long code, unsigned long flags,
                                                               unsigned long count, const __UINTPTR_TYPE__* args);

// How many exceptions the members caught inside their own calls; the suite
// reads it to know the handler ran.
extern "C" __declspec(dllexport) volatile int sdkfaultCaughtInside = 0;

namespace {

// The runtime's magic number, then the thrown object and its type
// information, which no caller outside the runtime reads.
const __UINTPTR_TYPE__ kThrowArgs[3] = {0x19930520u, 0, 0};

void throwAndCatchInside()
{
    __try {
        RaiseException(0xE06D7363u, 1 /* noncontinuable */, 3, kThrowArgs);
    } __except (1 /* EXCEPTION_EXECUTE_HANDLER */) {
        sdkfaultCaughtInside = sdkfaultCaughtInside + 1;
    }
}

} // namespace

int sdkfaultEscape(otksim_dev* dev, int result)
{
    throwAndCatchInside();
    if (result)
        return result;
    const unsigned code = otksim_GetLastResult(dev);
    if (code == SDKFAULT_RAISE) {
        RaiseException(0xE06D7363u, 1 /* noncontinuable */, 3, kThrowArgs);
    } else if (code == SDKFAULT_NULL_WRITE) {
        volatile int* volatile nowhere = nullptr; // a volatile store stays
        *nowhere = 1;
    }
    return result;
}

#include "otkmsvc/otk.cpp"
