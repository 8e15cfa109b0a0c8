/* A calibration library that records its calls. Built three times: complete,
   without calib_init (PROBE_NO_INIT) and without calib_evaluate
   (PROBE_NO_EVALUATE), so the tests can take entry points away. */
#include "probe.h"

#include <string.h>

#if defined(_WIN32)
#define PROBE_API __declspec(dllexport)
#else
#define PROBE_API __attribute__((visibility("default")))
#endif

static struct ProbeStats stats;

PROBE_API struct ProbeStats* probe_stats(void) { return &stats; }

#ifndef PROBE_NO_INIT
/* The handle is only compared, never dereferenced: its address will do. */
static int handleTag;

PROBE_API void* calib_init(char** args, int count)
{
    int i;
    ++stats.initCalls;
    stats.lastCount = count;
    stats.lastArgs = args;
    for (i = 0; i < count && i < kProbeMaxArgs; ++i) {
        stats.argPointers[i] = args[i];
        strncpy(stats.argTexts[i], args[i], kProbeArgSize - 1);
    }
    return &handleTag;
}
#endif

#ifndef PROBE_NO_EVALUATE
/* Moves the sample by one foot along x so the tests see it was applied. */
PROBE_API void calib_evaluate(void* handle, float* sample)
{
    ++stats.evaluateCalls;
    stats.lastEvaluateHandle = handle;
    sample[0] += 1.0f;
}
#endif

PROBE_API void calib_exit(void* handle)
{
    ++stats.exitCalls;
    stats.lastExitHandle = handle;
}
