// OvCmdIF.dll of the stand-in built with the other C++ ABI: trace output,
// formatted and sunk by the simulator. Both C++ ABIs pass the variable
// arguments in memory with a plain pointer as the list, so the list is handed
// on as it is.
#include "otkmsvc/sdk.h"

void OvDebug::OVDOUT(const char* format, ...)
{
    __builtin_va_list args;
    __builtin_va_start(args, format);
    otksim_vtrace(format, args);
    __builtin_va_end(args);
}
