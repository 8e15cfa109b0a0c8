// The GCC-built OTK stand-in: the SDK's classes with this compiler's C++ ABI,
// each member forwarding to the simulator's flat interface.
#include "otksim/otksim_c.h"
#include "otksim/OTK.h"

COTKser::COTKser(eOvBaudRate baud, eOvParity parity, int flowControl)
    : m_baud(baud), m_parity(parity), m_flow(flowControl)
{
}

COTKbiterr::COTKbiterr() : m_errors(0) {}

int COTKbiterr::IsClear() const
{
    return otksim_biterr_IsClear(m_errors);
}

COTKmdat::COTKmdat() : m_count(0), m_items() {}

void COTKmdat::Empty()
{
    otksim_mdat_Empty(&m_count);
}

int COTKmdat::Append(eOTKMotionData item)
{
    return otksim_mdat_Append(&m_count, m_items, item);
}

// The simulator registers this address (and, with footprint=, writes from it)
// before the handle is stored.
COTKdev::COTKdev() : m_pSim(otksim_dev_create(this)) {}

COTKdev::~COTKdev()
{
    otksim_dev_destroy(m_pSim);
}

int COTKdev::SetSerialIF(COTKser* serial)
{
    if (!serial)
        return otksim_SetSerialIF(m_pSim, nullptr);
    const otksim_serial s = {serial->m_baud, serial->m_parity, serial->m_flow};
    return otksim_SetSerialIF(m_pSim, &s);
}

eOvCommType COTKdev::DiscoverCnx()
{
    return static_cast<eOvCommType>(otksim_DiscoverCnx(m_pSim));
}

int COTKdev::CnxReady()
{
    return otksim_CnxReady(m_pSim);
}

int COTKdev::RestartTracker()
{
    return otksim_RestartTracker(m_pSim);
}

int COTKdev::Disconnect()
{
    return otksim_Disconnect(m_pSim);
}

int COTKdev::GetStationMap(unsigned long& map)
{
    return otksim_GetStationMap(m_pSim, &map);
}

int COTKdev::SetStationMap(const unsigned long& map)
{
    return otksim_SetStationMap(m_pSim, &map);
}

int COTKdev::GetBITErrs(COTKbiterr& errors)
{
    return otksim_GetBITErrs(m_pSim, &errors.m_errors);
}

int COTKdev::ClearBITErrs()
{
    return otksim_ClearBITErrs(m_pSim);
}

int COTKdev::MaxSensors()
{
    return otksim_MaxSensors(m_pSim);
}

eOvTrackerType COTKdev::TrackerType()
{
    return static_cast<eOvTrackerType>(otksim_TrackerType(m_pSim));
}

int COTKdev::SetFrameRate(eOvFrameRate rate)
{
    return otksim_SetFrameRate(m_pSim, rate);
}

int COTKdev::SetSHemisphere(int station, const float (&hemisphere)[3])
{
    return otksim_SetSHemisphere(m_pSim, station, hemisphere);
}

int COTKdev::ResetSAlignment(int station)
{
    return otksim_ResetSAlignment(m_pSim, station);
}

int COTKdev::SetSAlignment(int station, const float (&origin)[3], const float (&xPoint)[3],
                           const float (&yPoint)[3])
{
    return otksim_SetSAlignment(m_pSim, station, origin, xPoint, yPoint);
}

int COTKdev::SetSDataList(int station, const COTKmdat& list)
{
    return otksim_SetSDataList(m_pSim, station, list.m_count, list.m_items);
}

int COTKdev::ClearPnoBuffer()
{
    return otksim_ClearPnoBuffer(m_pSim);
}

int COTKdev::StartContPno(void* window)
{
    return otksim_StartContPno(m_pSim, window);
}

int COTKdev::StopContPno()
{
    return otksim_StopContPno(m_pSim);
}

int COTKdev::LastHostFrameCount(unsigned long& count)
{
    return otksim_LastHostFrameCount(m_pSim, &count);
}

int COTKdev::LastPnoPtr(unsigned char*& buffer, unsigned long& length)
{
    return otksim_LastPnoPtr(m_pSim, &buffer, &length);
}

eOvErrCode COTKdev::GetLastResult()
{
    return static_cast<eOvErrCode>(otksim_GetLastResult(m_pSim));
}

const char* COTKdev::GetLastResultStr()
{
    return otksim_GetLastResultStr(m_pSim);
}
