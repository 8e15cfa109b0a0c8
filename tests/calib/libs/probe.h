/* What the probe calibration library saw, read back by the tests through its
   probe_stats entry point. Shared by the C library and the C++ tests. */
#ifndef TARSIS_TEST_PROBE_H
#define TARSIS_TEST_PROBE_H

enum { kProbeMaxArgs = 12, kProbeArgSize = 32 };

struct ProbeStats {
    int initCalls;
    int lastCount;
    char** lastArgs;                            /* the array calib_init received */
    const char* argPointers[kProbeMaxArgs];     /* the strings it pointed to */
    char argTexts[kProbeMaxArgs][kProbeArgSize]; /* their texts at the time */
    int evaluateCalls;
    void* lastEvaluateHandle;
    int exitCalls;
    void* lastExitHandle;
};

#endif
