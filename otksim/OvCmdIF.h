// The tracker maker's support library (OvCmdIF) as the GCC-built stand-in
// declares it: debug output and the small vector types of the tracker SDK.
#pragma once

#if defined(_WIN32)
#if defined(OVCMDIF_BUILD)
#define OVCMDIF_API __declspec(dllexport)
#else
#define OVCMDIF_API __declspec(dllimport)
#endif
#else
#define OVCMDIF_API __attribute__((visibility("default")))
#endif

class OVCMDIF_API OvDebug {
public:
    // printf-style debug output; by default it goes nowhere.
    static void OVDOUT(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 1, 2)))
#endif
        ;
};

class OVCMDIF_API COv3Vector {
public:
    COv3Vector();
    explicit COv3Vector(const float* xyz);
    COv3Vector(float x, float y, float z);
    COv3Vector& operator=(const COv3Vector& other);
    COv3Vector(const COv3Vector& other);

    float x, y, z;
};

class OVCMDIF_API COvPoint : public COv3Vector {
public:
    using COv3Vector::COv3Vector;
};

class OVCMDIF_API COvOri : public COv3Vector {
public:
    using COv3Vector::COv3Vector;
};
