// The tracker SDK's classes as a library built with the other common C++ ABI
// declares them: decorated export names, members called with `this` in a
// register on 32-bit x86 (the callee pops its arguments), and objects of a
// size only the library knows. Parameter types are spelt as such a library
// spells them (a window is an HWND__*), not as the module's header does.
//
// Test-only variants (otkmsvc/variants/) define, before including this:
//   OTKMSVC_RING_BYTES        COTKdev holds a receive ring of that many bytes,
//                             written whole by its constructor;
//   OTKMSVC_VALUES_TAKE_ARGS  COTKbiterr and COTKmdat have no default
//                             constructor, only one that takes an argument;
//   OTKMSVC_PORT_CTOR         COTKdev has no default constructor, only
//                             COTKdev(const char* port = 0).
#pragma once

#include "otksim/otksim_c.h"

#if defined(OTKMSVC_OTK)
#define OTKMSVC_OTK_API __declspec(dllexport)
#else
#define OTKMSVC_OTK_API __declspec(dllimport)
#endif
#if defined(OTKMSVC_OVCMDIF)
#define OTKMSVC_OVCMDIF_API __declspec(dllexport)
#else
#define OTKMSVC_OVCMDIF_API __declspec(dllimport)
#endif

struct HWND__;

enum eOvErrCode { OV_ERR_NONE = 0 };
enum eOvBaudRate { OV_BAUD_2400 = 1, OV_BAUD_115200 = 7 };
enum eOvParity { OV_PARITY_NONE = 0 };
enum eOvTrackerType { OV_TRACKER_TARSIS = 0 };
enum eOvFrameRate { OV_FRAMERATE_60 = 2 };
enum eOvCommType { OV_COMM_NONE = 0 };
enum eOTKMotionData { OTK_MD_POSITION = 2 };

class OTKMSVC_OVCMDIF_API OvDebug {
public:
    static void OVDOUT(const char* format, ...);
};

class OTKMSVC_OTK_API COTKser {
public:
    COTKser(eOvBaudRate baud, eOvParity parity, int flowControl);

private:
    friend class COTKdev;
    otksim_serial m_setting;
};

class OTKMSVC_OTK_API COTKbiterr {
public:
#ifdef OTKMSVC_VALUES_TAKE_ARGS
    explicit COTKbiterr(unsigned long errors);
#else
    COTKbiterr();
#endif
    int IsClear() const;

private:
    friend class COTKdev;
    unsigned long m_errors;
};

class OTKMSVC_OTK_API COTKmdat {
public:
#ifdef OTKMSVC_VALUES_TAKE_ARGS
    explicit COTKmdat(int capacity);
#else
    COTKmdat();
#endif
    void Empty();
    int Append(eOTKMotionData item);

private:
    friend class COTKdev;
    int m_count;
    int m_items[OTKSIM_MAX_ITEMS];
};

class OTKMSVC_OTK_API COTKdev {
public:
#ifdef OTKMSVC_PORT_CTOR
    explicit COTKdev(const char* port = 0);
#else
    COTKdev();
#endif
    ~COTKdev();

    int SetSerialIF(COTKser* serial);
    eOvCommType DiscoverCnx();
    int CnxReady();
    int RestartTracker();
    int Disconnect();
    int GetStationMap(unsigned long& map);
    int SetStationMap(const unsigned long& map);
    int GetBITErrs(COTKbiterr& errors);
    int ClearBITErrs();
    int MaxSensors();
    eOvTrackerType TrackerType();
    int SetFrameRate(eOvFrameRate rate);
    int SetSHemisphere(int station, const float (&hemisphere)[3]);
    int ResetSAlignment(int station);
    int SetSAlignment(int station, const float (&origin)[3], const float (&xPoint)[3], const float (&yPoint)[3]);
    int SetSDataList(int station, const COTKmdat& list);
    int ClearPnoBuffer();
    int StartContPno(HWND__* window);
    int StopContPno();
    int LastHostFrameCount(unsigned long& count);
    int LastPnoPtr(unsigned char*& buffer, unsigned long& length);
    eOvErrCode GetLastResult();
    const char* GetLastResultStr();

private:
    otksim_dev* m_sim;
    // Far more than a pointer, all of it written by the constructor and
    // checked by every call: a caller that reserves less sees it at once.
    enum { kStateWords = 512 };
    unsigned m_state[kStateWords];
#ifdef OTKMSVC_RING_BYTES
    unsigned char m_ring[OTKMSVC_RING_BYTES];
#endif
    bool intact() const;
};
