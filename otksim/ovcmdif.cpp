// Stand-in for the maker's support library: trace output and vector types.
#include "tracker/OvCmdIF.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_sinkMutex;
OvDebug::Sink g_sink = nullptr;
void* g_context = nullptr;

bool traceToStderr()
{
    const char* v = std::getenv("OTK_TRACE");
    return v && std::strcmp(v, "1") == 0;
}
} // namespace

void OvDebug::OVDOUT(const char* format, ...)
{
    // A null format traces an empty text.
    char text[1024] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }

    std::lock_guard<std::mutex> guard(g_sinkMutex);
    if (g_sink)
        g_sink(text, g_context);
    else if (traceToStderr())
        std::fputs(text, stderr);
}

void OvDebug::SetSink(Sink sink, void* context)
{
    std::lock_guard<std::mutex> guard(g_sinkMutex);
    g_sink = sink;
    g_context = sink ? context : nullptr;
}

COv3Vector::COv3Vector() : x(0), y(0), z(0) {}
COv3Vector::COv3Vector(const float* xyz) : x(xyz ? xyz[0] : 0), y(xyz ? xyz[1] : 0), z(xyz ? xyz[2] : 0) {}
COv3Vector::COv3Vector(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
COv3Vector::COv3Vector(const COv3Vector& other) = default;
COv3Vector& COv3Vector::operator=(const COv3Vector& other) = default;
