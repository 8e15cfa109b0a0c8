// The GCC-built OvCmdIF stand-in: trace output, handed to the simulator's
// trace sink, and the vector types.
#include "otksim/otksim_c.h"
#include "otksim/OvCmdIF.h"

#include <cstdarg>

void OvDebug::OVDOUT(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    otksim_vtrace(format, args);
    va_end(args);
}

COv3Vector::COv3Vector() : x(0), y(0), z(0) {}
COv3Vector::COv3Vector(const float* xyz) : x(xyz ? xyz[0] : 0), y(xyz ? xyz[1] : 0), z(xyz ? xyz[2] : 0) {}
COv3Vector::COv3Vector(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
COv3Vector::COv3Vector(const COv3Vector& other) = default;
COv3Vector& COv3Vector::operator=(const COv3Vector& other) = default;
