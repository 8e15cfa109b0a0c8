// OTK.dll of the stand-in built with the other C++ ABI: every member forwards
// to the simulator's flat interface.
#include "otkmsvc/sdk.h"

namespace {

const unsigned kStateMark = 0x4F544B00u;
// A result of this library's own, outside the simulator's codes.
const unsigned kDamaged = 0x2001F001u;
const char kDamagedText[] = "SDK object damaged: its memory was overwritten";

} // namespace

COTKser::COTKser(eOvBaudRate baud, eOvParity parity, int flowControl)
{
    m_setting.baud = baud;
    m_setting.parity = parity;
    m_setting.flow = flowControl;
}

#ifdef OTKMSVC_VALUES_TAKE_ARGS
COTKbiterr::COTKbiterr(unsigned long errors) : m_errors(errors) {}
#else
COTKbiterr::COTKbiterr() : m_errors(0) {}
#endif

int COTKbiterr::IsClear() const
{
    return otksim_biterr_IsClear(m_errors);
}

#ifdef OTKMSVC_VALUES_TAKE_ARGS
COTKmdat::COTKmdat(int) : m_count(0), m_items() {}
#else
COTKmdat::COTKmdat() : m_count(0), m_items() {}
#endif

void COTKmdat::Empty()
{
    otksim_mdat_Empty(&m_count);
}

int COTKmdat::Append(eOTKMotionData item)
{
    return otksim_mdat_Append(&m_count, m_items, item);
}

// The simulator registers this address (and, with footprint=, writes from it)
// before the object's own state is written.
#ifdef OTKMSVC_PORT_CTOR
COTKdev::COTKdev(const char*) : m_sim(otksim_dev_create(this))
#else
COTKdev::COTKdev() : m_sim(otksim_dev_create(this))
#endif
{
    for (unsigned i = 0; i < kStateWords; ++i)
        m_state[i] = kStateMark + i;
#ifdef OTKMSVC_RING_BYTES
    for (unsigned i = 0; i < OTKMSVC_RING_BYTES; ++i)
        m_ring[i] = static_cast<unsigned char>(i | 1);
#endif
}

COTKdev::~COTKdev()
{
    otksim_dev_destroy(m_sim);
}

bool COTKdev::intact() const
{
    for (unsigned i = 0; i < kStateWords; ++i)
        if (m_state[i] != kStateMark + i)
            return false;
    return true;
}

// A damaged object answers every call with a failure of its own.
#define OTKMSVC_CALL(call) (intact() ? (call) : 0)

int COTKdev::SetSerialIF(COTKser* serial)
{
    return OTKMSVC_CALL(otksim_SetSerialIF(m_sim, serial ? &serial->m_setting : nullptr));
}

eOvCommType COTKdev::DiscoverCnx()
{
    return static_cast<eOvCommType>(OTKMSVC_CALL(otksim_DiscoverCnx(m_sim)));
}

int COTKdev::CnxReady()
{
    return OTKMSVC_CALL(otksim_CnxReady(m_sim));
}

int COTKdev::RestartTracker()
{
    return OTKMSVC_CALL(otksim_RestartTracker(m_sim));
}

int COTKdev::Disconnect()
{
    return OTKMSVC_CALL(otksim_Disconnect(m_sim));
}

int COTKdev::GetStationMap(unsigned long& map)
{
    return OTKMSVC_CALL(otksim_GetStationMap(m_sim, &map));
}

int COTKdev::SetStationMap(const unsigned long& map)
{
    return OTKMSVC_CALL(otksim_SetStationMap(m_sim, &map));
}

int COTKdev::GetBITErrs(COTKbiterr& errors)
{
    return OTKMSVC_CALL(otksim_GetBITErrs(m_sim, &errors.m_errors));
}

int COTKdev::ClearBITErrs()
{
    return OTKMSVC_CALL(otksim_ClearBITErrs(m_sim));
}

int COTKdev::MaxSensors()
{
    return OTKMSVC_CALL(otksim_MaxSensors(m_sim));
}

eOvTrackerType COTKdev::TrackerType()
{
    return static_cast<eOvTrackerType>(OTKMSVC_CALL(otksim_TrackerType(m_sim)));
}

int COTKdev::SetFrameRate(eOvFrameRate rate)
{
    return OTKMSVC_CALL(otksim_SetFrameRate(m_sim, rate));
}

int COTKdev::SetSHemisphere(int station, const float (&hemisphere)[3])
{
    return OTKMSVC_CALL(otksim_SetSHemisphere(m_sim, station, hemisphere));
}

int COTKdev::ResetSAlignment(int station)
{
    return OTKMSVC_CALL(otksim_ResetSAlignment(m_sim, station));
}

int COTKdev::SetSAlignment(int station, const float (&origin)[3], const float (&xPoint)[3],
                           const float (&yPoint)[3])
{
    return OTKMSVC_CALL(otksim_SetSAlignment(m_sim, station, origin, xPoint, yPoint));
}

int COTKdev::SetSDataList(int station, const COTKmdat& list)
{
    return OTKMSVC_CALL(otksim_SetSDataList(m_sim, station, list.m_count, list.m_items));
}

int COTKdev::ClearPnoBuffer()
{
    return OTKMSVC_CALL(otksim_ClearPnoBuffer(m_sim));
}

int COTKdev::StartContPno(HWND__* window)
{
    return OTKMSVC_CALL(otksim_StartContPno(m_sim, window));
}

int COTKdev::StopContPno()
{
    return OTKMSVC_CALL(otksim_StopContPno(m_sim));
}

int COTKdev::LastHostFrameCount(unsigned long& count)
{
    return OTKMSVC_CALL(otksim_LastHostFrameCount(m_sim, &count));
}

int COTKdev::LastPnoPtr(unsigned char*& buffer, unsigned long& length)
{
    if (!intact()) {
        buffer = nullptr;
        length = 0;
        return 0;
    }
    return otksim_LastPnoPtr(m_sim, &buffer, &length);
}

eOvErrCode COTKdev::GetLastResult()
{
    return static_cast<eOvErrCode>(intact() ? otksim_GetLastResult(m_sim) : kDamaged);
}

const char* COTKdev::GetLastResultStr()
{
    return intact() ? otksim_GetLastResultStr(m_sim) : kDamagedText;
}
