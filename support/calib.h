// CCalibH: drives an external calibration library through its three C entry
// points, looked up in the cache of CDynamicLibH:
//   void* calib_init(char** args, int count);       (slot 0)
//   void  calib_evaluate(void* handle, float* sample); (slot 1; x, y, z, az, el, roll)
//   void  calib_exit(void* handle);                  (slot 3)
#pragma once

#include "support/dynlib.h"

struct TraSample {
    float x, y, z;
    float azimuth, elevation, roll;
};
static_assert(sizeof(TraSample) == 6 * sizeof(float), "TraSample is six consecutive floats");

class CCalibH : public CDynamicLibH {
public:
    enum { kMaxArgs = 10 };
    enum { kSlotInit = 0, kSlotEvaluate = 1, kSlotExit = 3 };

    typedef void* (*InitFn)(char** args, int count);
    typedef void (*EvaluateFn)(void* handle, float* sample);
    typedef void (*ExitFn)(void* handle);

    CCalibH(const char* libName, const CLogger* log);
    // Frees argument copies that exit() has not freed; never calls calib_exit.
    ~CCalibH() override;

    // Copies at most kMaxArgs strings (a surplus is dropped) and starts the library.
    bool init(const char* const* args, int count);
    bool evaluate(TraSample* sample);
    bool exit();

    void* m_hCalib;
    char* m_pszArgs[kMaxArgs];
    int m_nArgs;

private:
    // Frees the argument copies and empties the list.
    void freeArgs();
};
