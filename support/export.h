// How the module's entry points leave the library: plain C names with the
// C calling convention, visible from outside while everything else stays
// hidden. The host and the calibration libraries rely on exactly this.
#pragma once

#if defined(_WIN32)
#define TARSIS_EXPORT extern "C" __declspec(dllexport)
#define TARSIS_CALL __cdecl
#else
#define TARSIS_EXPORT extern "C" __attribute__((visibility("default")))
#define TARSIS_CALL
#endif
