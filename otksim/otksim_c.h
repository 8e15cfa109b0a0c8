/* Flat C interface of the simulated tracker: what the SDK stand-ins forward to.
 *
 * Each stand-in (the GCC-built OTK/OvCmdIF pair, and one built with another
 * compiler's C++ ABI) is a thin shell whose every member calls one function
 * here. Only C types cross this line, with the platform's plain C calling
 * convention, so that any compiler can call the simulator. It includes no
 * system header: the freestanding stand-in has none.
 *
 * A device is an opaque handle made by otksim_dev_create for one SDK object
 * and given back to otksim_dev_destroy. The operations behave as the SDK
 * members of the same names (see otksim/otksim.h for the simulated tracker's
 * rules): nonzero for success, 0 for failure, the last result set either way. */
#ifndef OTKSIM_OTKSIM_C_H
#define OTKSIM_OTKSIM_C_H

#if defined(_WIN32)
#if defined(OTKSIM_BUILD)
#define OTKSIM_API __declspec(dllexport)
#else
#define OTKSIM_API __declspec(dllimport)
#endif
#else
#define OTKSIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct otksim_dev otksim_dev;

/* The serial setting of SetSerialIF (eOvBaudRate, eOvParity, flow control). */
typedef struct otksim_serial {
    int baud;
    int parity;
    int flow;
} otksim_serial;

/* Items a data list holds at most. */
#define OTKSIM_MAX_ITEMS 16

/* A device for the SDK object at sdkObject, under the current scenario. The
 * address is what otksim::DeviceFor maps back to the device. With the scenario
 * key footprint=BYTES, BYTES bytes from sdkObject are written first, as an SDK
 * whose object is that big would. */
OTKSIM_API otksim_dev* otksim_dev_create(void* sdkObject);
OTKSIM_API void otksim_dev_destroy(otksim_dev* dev);

OTKSIM_API int otksim_SetSerialIF(otksim_dev* dev, const otksim_serial* serial);
OTKSIM_API int otksim_DiscoverCnx(otksim_dev* dev); /* an eOvCommType */
OTKSIM_API int otksim_CnxReady(otksim_dev* dev);
OTKSIM_API int otksim_RestartTracker(otksim_dev* dev);
OTKSIM_API int otksim_Disconnect(otksim_dev* dev);
OTKSIM_API int otksim_GetStationMap(otksim_dev* dev, unsigned long* map);
OTKSIM_API int otksim_SetStationMap(otksim_dev* dev, const unsigned long* map);
OTKSIM_API int otksim_GetBITErrs(otksim_dev* dev, unsigned long* errors);
OTKSIM_API int otksim_ClearBITErrs(otksim_dev* dev);
OTKSIM_API int otksim_MaxSensors(otksim_dev* dev);
OTKSIM_API int otksim_TrackerType(otksim_dev* dev); /* an eOvTrackerType */
OTKSIM_API int otksim_SetFrameRate(otksim_dev* dev, int rate);
OTKSIM_API int otksim_SetSHemisphere(otksim_dev* dev, int station, const float* hemisphere);
OTKSIM_API int otksim_ResetSAlignment(otksim_dev* dev, int station);
OTKSIM_API int otksim_SetSAlignment(otksim_dev* dev, int station, const float* origin, const float* xPoint,
                                    const float* yPoint);
/* count items of eOTKMotionData; a count outside 0..OTKSIM_MAX_ITEMS is refused
 * before items is read. */
OTKSIM_API int otksim_SetSDataList(otksim_dev* dev, int station, int count, const int* items);
OTKSIM_API int otksim_ClearPnoBuffer(otksim_dev* dev);
OTKSIM_API int otksim_StartContPno(otksim_dev* dev, void* window);
OTKSIM_API int otksim_StopContPno(otksim_dev* dev);
OTKSIM_API int otksim_LastHostFrameCount(otksim_dev* dev, unsigned long* count);
OTKSIM_API int otksim_LastPnoPtr(otksim_dev* dev, unsigned char** buffer, unsigned long* length);
OTKSIM_API unsigned otksim_GetLastResult(otksim_dev* dev); /* an eOvErrCode */
OTKSIM_API const char* otksim_GetLastResultStr(otksim_dev* dev);

/* The value classes: a data list of *count items (COTKmdat), and the
 * built-in-test result (COTKbiterr). */
OTKSIM_API void otksim_mdat_Empty(int* count);
OTKSIM_API int otksim_mdat_Append(int* count, int* items, int item);
OTKSIM_API int otksim_biterr_IsClear(unsigned long errors);

/* OvDebug::OVDOUT: formats like vprintf (a null format gives an empty text)
 * and hands the text to the trace sink (see otksim::SetTraceSink). */
OTKSIM_API void otksim_vtrace(const char* format, __builtin_va_list args);

#ifdef __cplusplus
}
#endif

#endif
