// The tracker maker's SDK (OTK) as the GCC-built stand-in declares and exports
// it: the classes and calls the device uses.
//
// Every COTKdev operation returns nonzero for success and 0 for failure unless
// noted; after each call GetLastResult() and GetLastResultStr() describe its
// outcome. Station maps are masks in which bit n stands for station n+1.
#pragma once

#include "otksim/OvCmdIF.h"

#if defined(_WIN32)
#if defined(OTK_BUILD)
#define OTK_API __declspec(dllexport)
#else
#define OTK_API __declspec(dllimport)
#endif
#else
#define OTK_API __attribute__((visibility("default")))
#endif

struct otksim_dev;

enum eOvErrCode {
    OV_ERR_NONE = 0,
    OV_ERR_NO_TRACKER = 0x20040001,        // nothing answered discovery yet
    OV_ERR_CMD_UNCONFIRMED = 0x20040003,   // the command may have taken effect
    OV_ERR_TRACKER_BUSY = 0x20040005,      // tracker still starting up
    OV_ERR_COMM_TIMEOUT = 0x20020005,      // link timed out
};

enum eOvBaudRate {
    OV_BAUD_2400 = 1,
    OV_BAUD_4800 = 2,
    OV_BAUD_9600 = 3,
    OV_BAUD_19200 = 4,
    OV_BAUD_38400 = 5,
    OV_BAUD_57600 = 6,
    OV_BAUD_115200 = 7,
};

enum eOvParity { OV_PARITY_NONE = 0, OV_PARITY_ODD = 1, OV_PARITY_EVEN = 2 };

enum eOvTrackerType { OV_TRACKER_TARSIS = 0, OV_TRACKER_BREVIK = 1 };

enum eOvFrameRate { OV_FRAMERATE_60 = 2, OV_FRAMERATE_120 = 3, OV_FRAMERATE_240 = 4 };

enum eOvCommType { OV_COMM_NONE = 0, OV_COMM_SERIAL = 1, OV_COMM_USB = 2 };

enum eOTKMotionData { OTK_MD_POSITION = 2, OTK_MD_EULER = 4 };

class OTK_API COTKser {
public:
    COTKser(eOvBaudRate baud, eOvParity parity, int flowControl);

    eOvBaudRate m_baud;
    eOvParity m_parity;
    int m_flow;
};

class OTK_API COTKbiterr {
public:
    COTKbiterr();
    int IsClear() const;

    unsigned long m_errors; // one bit per failed self test
};

class OTK_API COTKmdat {
public:
    enum { kMaxItems = 16 };
    COTKmdat();
    void Empty();
    int Append(eOTKMotionData item);

    int m_count;
    int m_items[kMaxItems];
};

class OTK_API COTKdev {
public:
    COTKdev();
    ~COTKdev();
    COTKdev(const COTKdev&) = delete;
    COTKdev& operator=(const COTKdev&) = delete;

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
    int StartContPno(void* window);
    int StopContPno();
    int LastHostFrameCount(unsigned long& count);
    // The buffer stays valid and unchanged until the next LastPnoPtr call on
    // this object.
    int LastPnoPtr(unsigned char*& buffer, unsigned long& length);

    eOvErrCode GetLastResult();
    const char* GetLastResultStr();

    otksim_dev* m_pSim; // the simulated tracker behind this object
};
