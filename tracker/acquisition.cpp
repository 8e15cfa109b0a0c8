// Continuous acquisition: start and stop the tracker's stream, decode the
// newest frame on every host cycle, and the device's report.
#include "tracker/ovtrackd.h"

#include "support/platform.h"

#include <cstdio>
#include <cstring>
#include <iostream>

namespace {
// One station record of a frame: 8-byte header (station number in byte 2),
// then position and angles as little-endian IEEE singles.
const unsigned long kRecordSize = 32;
const float kInchesToFeet = 1.0f / 12.0f;

float readFloat(const unsigned char* p)
{
    const std::uint32_t bits = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                               (std::uint32_t(p[3]) << 24);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
} // namespace

bool OvTrackD::RunStart()
{
    OvDebug::OVDOUT("OvTrackD::start()\r\n");
    if (m_bContRunning) {
        std::cout << "start: Tracker already in continuous mode" << std::endl;
        OvDebug::OVDOUT("OvTrackD::start: Tracker already in continuous mode\r\n");
        return false;
    }
    if (!m_dev.ClearPnoBuffer()) {
        std::cout << "Error clearing pno ptr: " << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("ClearPnoBuffer Error: %s\r\n", m_dev.GetLastResultStr());
        return false;
    }
    if (!m_dev.StartContPno(nullptr)) {
        std::cout << "Error starting cont pno: " << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("StartContPno Error: %s\r\n", m_dev.GetLastResultStr());
        return false;
    }
    OvDebug::OVDOUT("Cont Started\r\n");
    m_bContRunning = 1;
    m_dwLastFrameCount = 0;
    return true;
}

int OvTrackD::StopCont()
{
    OvDebug::OVDOUT("OvTrackD::StopCont()\r\n");
    if (!m_bContRunning)
        return 1;
    if (m_dev.StopContPno()) {
        m_bContRunning = 0;
        return 1;
    }
    OvDebug::OVDOUT("StopContPno Error: %s \r\n", m_dev.GetLastResultStr());
    return 0;
}

bool OvTrackD::RunStop()
{
    OvDebug::OVDOUT("OvTrackD::stop()\r\n");
    if (!StopCont()) {
        std::cout << "Error stopping cont pno: " << m_dev.GetLastResultStr() << std::endl;
        return false;
    }
    if (!m_dev.Disconnect()) {
        std::cout << "Unable to disconnect from tracker" << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("Disconnect Error: %s\r\n", m_dev.GetLastResultStr());
        return false;
    }
    if (!deinitCalib()) {
        std::cout << "Error: deinitCalib" << std::endl;
        return false;
    }
    return true;
}

int OvTrackD::RunUpdate()
{
    int result = 0;
    unsigned long count = 0;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;

    if (!m_dev.LastHostFrameCount(count)) {
        std::cout << "Unable to retrieve last host frame count" << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("LastHostFrameCount Error: %s\r\n", m_dev.GetLastResultStr());
    } else if (static_cast<std::uint32_t>(count) == m_dwLastFrameCount) {
        result = 1; // nothing new since the last cycle
    } else if (!m_dev.LastPnoPtr(buffer, length)) {
        std::cout << "Unable to retrieve last pno ptr" << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("LastPnoPtr Error: %s\r\n", m_dev.GetLastResultStr());
    } else if (!buffer || length == 0) {
        std::cout << "No pno data ready" << std::endl;
        OvDebug::OVDOUT("No pno data ready\r\n");
    } else {
        // The frame counts as processed from here on, even if a sample fails.
        m_dwLastFrameCount = static_cast<std::uint32_t>(count);
        result = 1;
        const unsigned long records = length / kRecordSize;
        for (unsigned long i = 0; i < records && result == 1; ++i) {
            const unsigned char* rec = buffer + i * kRecordSize;
            const unsigned station = rec[2];
            const float p0 = readFloat(rec + 8), p1 = readFloat(rec + 12), p2 = readFloat(rec + 16);
            const float a0 = readFloat(rec + 20), a1 = readFloat(rec + 24), a2 = readFloat(rec + 28);
            float position[3];
            float angles[3];
            if (m_bCAVECoord) {
                position[0] = p1;
                position[1] = -p2;
                position[2] = -p0;
                angles[0] = -a0;
                angles[1] = a1;
                angles[2] = -a2;
            } else {
                position[0] = p0;
                position[1] = p1;
                position[2] = p2;
                angles[0] = a0;
                angles[1] = a1;
                angles[2] = a2;
            }
            for (float& v : position)
                v *= kInchesToFeet;
            if (!setTraData(station, position, angles)) {
                // Printed like a default-formatted stream double, whatever
                // format an earlier report left on standard output.
                char line[200];
                std::snprintf(line, sizeof line, "Error : setTraData: sens %u %g %g %g %g %g %g", station,
                              static_cast<double>(position[0]), static_cast<double>(position[1]),
                              static_cast<double>(position[2]), static_cast<double>(angles[0]),
                              static_cast<double>(angles[1]), static_cast<double>(angles[2]));
                std::cout << line << std::endl;
                result = 0;
            }
        }
    }
    plat::sleepMs(1);
    return result;
}

bool OvTrackD::RunPrintConfig()
{
    OvDebug::OVDOUT("OvTrackD::printConfig()\r\n");
    printHeader();
    switch (m_dev.TrackerType()) {
    case OV_TRACKER_TARSIS:
        m_pLog->infof("DEVICE TYPE           : Orvane Tarsis\n");
        break;
    case OV_TRACKER_BREVIK:
        m_pLog->infof("DEVICE TYPE           : Orvane Brevik\n");
        break;
    default:
        m_pLog->infof("DEVICE TYPE           : Orvane Tracker\n");
        break;
    }
    m_pLog->infof("                      : %d Sensors Supported\n", static_cast<int>(m_nMaxTrackers));
    m_pLog->infof("                      : %d Sensors Detected : SensorMap %0#x\n", static_cast<int>(m_nDetected),
                  m_dwDetectedMap);
    if (m_bBaudOpt)
        m_pLog->infof("Baud Option           : %s\n", m_pszBaud ? m_pszBaud : "(null)");
    if (m_pszReset)
        m_pLog->infof("Reset Option          : %s\n", m_pszReset);
    if (m_bSensorMapOpt)
        m_pLog->infof("SensorMap Option      : %s  %#x\n", m_pszSensorMap ? m_pszSensorMap : "(null)",
                      m_dwSensorMap);
    // An absent second hemisphere argument prints as printf prints a null text.
    if (m_bHemiOpt)
        m_pLog->infof("Hemisphere Option     : %s  %s  %#x\n", m_pszHemi ? m_pszHemi : "(null)",
                      m_pszHemiMap ? m_pszHemiMap : "(null)", m_dwHemiMap);
    if (m_bFrameRateOpt)
        m_pLog->infof("FrameRate Option      : %s\n", m_pszFrameRate ? m_pszFrameRate : "60");
    return printFooter();
}
