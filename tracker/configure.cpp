// Pushing the parsed settings to the connected tracker. Each step reports its
// own failure (trace line first, then console); configure goes on regardless.
#include "tracker/ovtrackd.h"

#include <iostream>

using namespace sdk;

int OvTrackD::RunConfigure()
{
    OvDebug::OVDOUT("OvTrackD::configure()\r\n");
    if (m_bFrameRateOpt)
        CfgFrameRate();
    if (m_bSensorMapOpt)
        CfgSensorMap();
    if (m_bHemiOpt)
        CfgHemi();
    if (m_bCAVECoord)
        CfgCAVECoordAlignment();
    CfgOutput();
    return 2;
}

int OvTrackD::CfgFrameRate()
{
    OvDebug::OVDOUT("OvTrackD::CfgFrameRate()\r\n");
    if (!m_dev.SetFrameRate(m_eFrameRate)) {
        OvDebug::OVDOUT("SetFrameRate Error: %s\r\n", m_dev.GetLastResultStr());
        m_nRateHz = 0; // the tracker runs at whatever rate it had
        return 0;
    }
    m_nRateHz = m_eFrameRate == OV_FRAMERATE_240 ? 240 : m_eFrameRate == OV_FRAMERATE_120 ? 120 : 60;
    return 1;
}

int OvTrackD::CfgSensorMap()
{
    OvDebug::OVDOUT("OvTrackD::CfgSensorMap()\r\n");
    const int sent = SendSensorMap();
    return sent == 2 ? VerifySensorMap() : sent;
}

int OvTrackD::SendSensorMap()
{
    const unsigned long map = m_dwSensorMap;
    if (m_dev.SetStationMap(map))
        return 1;
    if (m_dev.GetLastResult() != OV_ERR_CMD_UNCONFIRMED) {
        OvDebug::OVDOUT("SetStationMap Error: %s\r\n", m_dev.GetLastResultStr());
        std::cout << "Set Tracker Sensor Map Error: " << m_dev.GetLastResultStr() << "  Check Sensor Connections!"
                  << std::endl;
        return 0;
    }
    return 2; // the command may have taken effect: the tracker's own map tells
}

int OvTrackD::VerifySensorMap()
{
    unsigned long readBack = 0;
    if (!m_dev.GetStationMap(readBack)) {
        OvDebug::OVDOUT("GetStationMap Error: %s\r\n", m_dev.GetLastResultStr());
        std::cout << "Verify Tracker Sensor Map Error: " << m_dev.GetLastResultStr() << std::endl;
        return 0;
    }
    // The whole 32-bit map is compared: a map with stations above 16 that
    // did take effect is no failure.
    if ((readBack & 0xFFFFFFFFul) == m_dwSensorMap)
        return 1;
    std::cout << "Set Tracker Sensor Map Error: " << "Device command failed " << "  Check Sensor Connections!"
              << std::endl;
    return 0;
}

int OvTrackD::CfgHemi()
{
    OvDebug::OVDOUT("OvTrackD::CfgHemi()\r\n");
    if (m_dwHemiMap == 0xFFFFFFFFu)
        return SendHemi(-1);
    for (unsigned station = HemiStationFrom(0); station; station = HemiStationFrom(station))
        if (!SendHemi(static_cast<int>(station)))
            return 0;
    return 1;
}

unsigned OvTrackD::HemiStationFrom(unsigned index) const
{
    for (unsigned j = index; j < m_nMaxTrackers && j < 32; ++j)
        if (m_dwHemiMap & (1u << j))
            return j + 1;
    return 0;
}

int OvTrackD::SendHemi(int station)
{
    if (m_dev.SetSHemisphere(station, m_fHemi))
        return 1;
    OvDebug::OVDOUT("SetSHemisphere Error: %s\r\n", m_dev.GetLastResultStr());
    std::cout << "Set Hemisphere Error: " << m_dev.GetLastResultStr() << std::endl;
    return 0;
}

int OvTrackD::CfgCAVECoordAlignment()
{
    OvDebug::OVDOUT("OvTrackD::CfgCAVECoordAlignment()\r\n");
    return SendAlignmentReset() && SendAlignment() ? 1 : 0;
}

int OvTrackD::SendAlignmentReset()
{
    if (m_dev.ResetSAlignment(-1))
        return 1;
    OvDebug::OVDOUT("ResetSAlignment Error: %s\r\n", m_dev.GetLastResultStr());
    std::cout << "Reset Alignment Error: " << m_dev.GetLastResultStr() << std::endl;
    return 0;
}

int OvTrackD::SendAlignment()
{
    static const float kOrigin[3] = {0.0f, 0.0f, 0.0f};
    static const float kXPoint[3] = {0.0f, 0.0f, -200.0f};
    static const float kYPoint[3] = {200.0f, 0.0f, 0.0f};
    // An unconfirmed alignment is taken as done; it is not read back.
    if (m_dev.SetSAlignment(-1, kOrigin, kXPoint, kYPoint) || m_dev.GetLastResult() == OV_ERR_CMD_UNCONFIRMED)
        return 1;
    OvDebug::OVDOUT("SetSAlignment Error: %s\r\n", m_dev.GetLastResultStr());
    std::cout << "Set CAVECoordinates Alignment Error: " << m_dev.GetLastResultStr() << std::endl;
    return 0;
}

int OvTrackD::CfgOutput()
{
    OvDebug::OVDOUT("OvTrackD::CfgOutput()\r\n");
    return SendOutputList() && SendClearBIT() ? 1 : 0;
}

int OvTrackD::SendOutputList()
{
    // Position then angles: the frame decode relies on this order, and
    // decodes nothing while the tracker has refused it.
    COTKmdat list;
    list.Empty();
    list.Append(OTK_MD_POSITION);
    list.Append(OTK_MD_EULER);
    m_bLayoutUnknown = !m_dev.SetSDataList(-1, list);
    if (m_bLayoutUnknown) {
        OvDebug::OVDOUT("SetSDataList Error: %s\r\n", m_dev.GetLastResultStr());
        std::cout << "Set Tracker Output Data Error: " << m_dev.GetLastResultStr() << std::endl;
        return 0;
    }
    return 1;
}

int OvTrackD::SendClearBIT()
{
    if (m_dev.ClearBITErrs())
        return 1;
    OvDebug::OVDOUT("ClearBITErrs Error: %s\r\n", m_dev.GetLastResultStr());
    std::cout << "Clear Tracker BIT Results Error: " << m_dev.GetLastResultStr() << std::endl;
    return 0;
}
