// The tracker's own option lines: "hemisphere", "sensormap", "framerate" and
// "CaveCoordinates", the numbering of the active stations, and the hand-over
// to the common option handlers.
#include "tracker/options.h"
#include "tracker/ovtrackd.h"

#include <cstring>
#include <iostream>

using tracker::readHex;
using namespace sdk;

int OvTrackD::ParseCfgOpts()
{
    OvDebug::OVDOUT("OvTrackD::ParseCfgOpts()\r\n");
    static const struct {
        const char* keyword;
        int (OvTrackD::*handler)(unsigned);
    } kHandlers[] = {{"baud", &OvTrackD::SetBautOpt},
                     {"hemisphere", &OvTrackD::SetHemiOpt},
                     {"reset", &OvTrackD::SetResetOpt},
                     {"sensormap", &OvTrackD::SetSensorMapOpt},
                     {"framerate", &OvTrackD::SetFrameRateOpt},
                     {"reconnect", &OvTrackD::SetReconnectOpt},
                     {"capture", &OvTrackD::SetCaptureOpt}};
    int result = 1;
    for (unsigned i = 0; i < optionCount() && result == 1; ++i) {
        ConfigOption& o = m_pConfig->options[i];
        if (o.consumed)
            continue;
        for (const auto& h : kHandlers) {
            if (sameWord(o.name, h.keyword)) {
                result = (this->*h.handler)(i);
                o.consumed = 1;
                break;
            }
        }
    }
    return result;
}

int OvTrackD::SetHemiOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetHemiOpt()\r\n");
    m_bHemiOpt = 0;
    const ConfigOption& o = option(index);
    if (o.argCount < 1) {
        std::cout << "Invalid Number of Hemisphere Arguments on Line " << o.lineNumber << "." << std::endl;
        return 0;
    }
    static const struct {
        const char* axis;
        float v[3];
    } kAxes[] = {{"+X", {1, 0, 0}}, {"-X", {-1, 0, 0}}, {"+Y", {0, 1, 0}},
                 {"-Y", {0, -1, 0}}, {"+Z", {0, 0, 1}}, {"-Z", {0, 0, -1}}};
    float vector[3] = {0.0f, 0.0f, 0.0f};
    for (const auto& a : kAxes) {
        if (sameWord(o.args[0], a.axis)) {
            std::memcpy(vector, a.v, sizeof vector);
            break;
        }
    }
    std::uint32_t mask = 0xFFFFFFFFu;
    const char* maskText = nullptr;
    if (o.argCount > 1) {
        maskText = o.args[1];
        if (sameWord(maskText, "all")) {
            mask = AllSensorsMask();
        } else if (!readHex(maskText, mask)) {
            // A mask that names no station at all is a typo, not "none".
            std::cout << "Invalid Number of Hemisphere Arguments on Line " << o.lineNumber << "." << std::endl;
            return 0;
        }
    }
    m_dwHemiMap = mask;
    m_pszHemi = o.args[0];
    m_pszHemiMap = maskText;
    std::memcpy(m_fHemi, vector, sizeof m_fHemi);
    m_bHemiOpt = 1;
    return 1;
}

int OvTrackD::SetSensorMapOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetSensorMapOpt()\r\n");
    m_bSensorMapOpt = 0;
    const ConfigOption& o = option(index);
    if (o.argCount != 1) {
        std::cout << "Invalid Number of SensorMap Arguments on Line " << o.lineNumber << "." << std::endl;
        return 0;
    }
    std::uint32_t map = 0;
    if (sameWord(o.args[0], "all")) {
        map = AllSensorsMask();
    } else {
        const bool read = readHex(o.args[0], map);
        const unsigned n = CountSensors(map);
        m_nTrackers = n;
        // Only how many stations are selected is checked, not which; text
        // without a hexadecimal digit selects nothing and is refused.
        if (!read || n > m_nDetected) {
            std::cout << "Invalid SensorMap Argument on Line " << o.lineNumber << "." << std::endl;
            return 0;
        }
    }
    m_bSensorMapOpt = 1;
    m_dwSensorMap = map;
    m_pszSensorMap = o.args[0];
    return 1;
}

int OvTrackD::SetFrameRateOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetFrameRateOpt()\r\n");
    m_bFrameRateOpt = 0;
    if (m_dev.TrackerType() == OV_TRACKER_BREVIK) {
        std::cout << "FrameRate is fixed at 60 Hz for Orvane Brevik." << std::endl;
        m_bFrameRateOpt = 1;
        m_eFrameRate = OV_FRAMERATE_60;
        m_pszFrameRate = nullptr;
        return 1;
    }
    const ConfigOption& o = option(index);
    if (o.argCount != 1) {
        std::cout << "Invalid Number of FrameRate Arguments on Line " << o.lineNumber << "." << std::endl;
        return 0;
    }
    eOvFrameRate rate;
    if (std::strcmp(o.args[0], "120") == 0) {
        rate = OV_FRAMERATE_120;
    } else if (std::strcmp(o.args[0], "240") == 0) {
        rate = OV_FRAMERATE_240;
    } else {
        std::cout << "Invalid Frame Rate Argument on Line " << o.lineNumber << "." << std::endl;
        return 0;
    }
    m_bFrameRateOpt = 1;
    m_eFrameRate = rate;
    m_pszFrameRate = o.args[0];
    return 1;
}

unsigned OvTrackD::AllSensorsMask()
{
    if (m_nMaxTrackers == 0)
        return 0;
    if (m_nMaxTrackers >= 32)
        return 0xFFFFFFFFu; // a shift by 32 would be undefined
    return (1u << m_nMaxTrackers) - 1u;
}

int OvTrackD::initTables()
{
    m_nTrackers = CountSensors(m_dwSensorMap);
    if (!CDevice::initTables()) {
        std::cout << "Error: initTables " << std::endl;
        OvDebug::OVDOUT("Error: initTables\r\n");
        return 0;
    }
    // Active stations get the output ids 1, 2, 3 ... in station order.
    unsigned id = 1;
    for (unsigned j = 0; j < m_nMaxTrackers && j < 32 && id <= m_nTrackers; ++j) {
        if (m_dwSensorMap & (1u << j)) {
            setTraId(j + 1, id);
            ++id;
        }
    }
    return 1;
}

int OvTrackD::SetCAVECoordOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetCAVECoordOpt()\r\n");
    m_bCAVECoord = 0;
    const ConfigOption& o = option(index);
    if (o.argCount != 1) {
        std::cout << "Invalid Number of CAVECoord Arguments on Line " << o.lineNumber << "." << std::endl;
        return 0;
    }
    if (sameWord(o.args[0], "yes")) {
        m_bCAVECoord = 1;
        return 1;
    }
    if (sameWord(o.args[0], "no")) {
        m_bCAVECoord = 0;
        return 1;
    }
    std::cout << "Invalid CAVECoordinates Argument on Line " << o.lineNumber << "." << std::endl;
    return 0;
}

int OvTrackD::ParseCommonOpts()
{
    OvDebug::OVDOUT("OvTrackD::ParseCommonOpts()\r\n");
    int result = 1;
    for (unsigned i = 0; i < optionCount() && result == 1; ++i) {
        const ConfigOption& o = option(i);
        // Left unconsumed: the common handler reads the same line for its own switch.
        if (!o.consumed && sameWord(o.name, "CaveCoordinates"))
            result = SetCAVECoordOpt(i);
    }
    if (result == 0)
        return 0;
    return initCommonOpts() ? 1 : 0;
}
