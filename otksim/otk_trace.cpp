// The trace channel of the simulated SDK: the text of every OVDOUT call, and
// the simulator's own trace lines, go to one sink.
#include "otksim/otk_internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_sinkMutex;
otksim::TraceSink g_sink = nullptr;
void* g_context = nullptr;

bool traceToStderr()
{
    const char* v = std::getenv("OTK_TRACE");
    return v && std::strcmp(v, "1") == 0;
}

} // namespace

void otksim_vtrace(const char* format, __builtin_va_list args)
{
    // A null format traces an empty text.
    char text[1024] = "";
    if (format)
        std::vsnprintf(text, sizeof text, format, args);

    std::lock_guard<std::mutex> guard(g_sinkMutex);
    if (g_sink)
        g_sink(text, g_context);
    else if (traceToStderr())
        std::fputs(text, stderr);
}

namespace otkint {

void trace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    otksim_vtrace(format, args);
    va_end(args);
}

} // namespace otkint

namespace otksim {

void SetTraceSink(TraceSink sink, void* context)
{
    std::lock_guard<std::mutex> guard(g_sinkMutex);
    g_sink = sink;
    g_context = sink ? context : nullptr;
}

} // namespace otksim
