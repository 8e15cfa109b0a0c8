// The serial options ("baud", "reset") and the connection to the tracker.
#include "tracker/ovtrackd.h"

#include "support/platform.h"
#include "tracker/options.h"

#include <cstdlib>
#include <iostream>

using namespace sdk;

namespace {
// Reads a decimal number the way atoi does, without its undefined overflow.
long readDecimal(const char* text)
{
    if (!text)
        return 0;
    return std::strtol(text, nullptr, 10);
}

bool isRetryable(eOvErrCode code)
{
    return code == OV_ERR_NO_TRACKER || code == OV_ERR_TRACKER_BUSY || code == OV_ERR_COMM_TIMEOUT;
}
} // namespace

int OvTrackD::ScanFirst(const char* keyword, int (OvTrackD::*handler)(unsigned))
{
    // The first acceptable line wins; later lines of the same name stay
    // unconsumed for the tracker-specific scan.
    int result = 0;
    for (unsigned i = 0; i < optionCount() && !result; ++i) {
        ConfigOption& o = m_pConfig->options[i];
        if (o.consumed || !sameWord(o.name, keyword))
            continue;
        result = (this->*handler)(i);
        o.consumed = 1;
    }
    return result;
}

int OvTrackD::ParseBaudOpt()
{
    OvDebug::OVDOUT("OvTrackD::ParseBaudOpt()\r\n");
    m_bBaudOpt = 0;
    return ScanFirst("baud", &OvTrackD::SetBautOpt);
}

int OvTrackD::SetBautOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetBautOpt()\r\n");
    m_bBaudOpt = 0;
    m_pszBaud = nullptr;
    const ConfigOption& o = option(index);
    if (o.argCount != 1) {
        std::cout << "Invalid Number of Baud Arguments on Line " << o.lineNumber << "." << std::endl;
        return 0;
    }
    static const struct {
        long rate;
        eOvBaudRate value;
    } kBauds[] = {{2400, OV_BAUD_2400},   {4800, OV_BAUD_4800},   {9600, OV_BAUD_9600},    {19200, OV_BAUD_19200},
                  {38400, OV_BAUD_38400}, {57600, OV_BAUD_57600}, {115200, OV_BAUD_115200}};
    const long rate = readDecimal(o.args[0]);
    for (const auto& b : kBauds) {
        if (b.rate == rate) {
            m_bBaudOpt = 1;
            m_eBaud = b.value;
            m_pszBaud = o.args[0];
            return 1;
        }
    }
    std::cout << "Invalid Baud Argument on Line " << o.lineNumber << "." << std::endl;
    return 0;
}

int OvTrackD::ParseResetOpt()
{
    OvDebug::OVDOUT("OvTrackD::ParseResetOpt()\r\n");
    return ScanFirst("reset", &OvTrackD::SetResetOpt);
}

int OvTrackD::SetResetOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetResetOpt()\r\n");
    m_bReset = 0;
    const ConfigOption& o = option(index);
    if (o.argCount != 1) {
        std::cout << "Invalid Number of Reset Arguments on Line " << o.lineNumber << "." << std::endl;
        m_pszReset = nullptr;
        return 0;
    }
    if (sameWord(o.args[0], "yes"))
        m_bReset = 1;
    m_pszReset = o.args[0];
    return 1;
}

int OvTrackD::Connect()
{
    OvDebug::OVDOUT("OvTrackD::Connect()\r\n");
    // Binding the SDK, or making its device object, failed when the device
    // was made: the reason names the library, the member or the object.
    if (const char* why = m_dev.failure()) {
        std::cout << why << std::endl;
        OvDebug::OVDOUT("Tracker SDK Error: %s\r\n", why);
        return 0;
    }
    COTKbiterr biterr;
    COTKser ser(m_eBaud, OV_PARITY_NONE, 1);
    unsigned long map = 0;

    auto closeAndFail = [this]() {
        m_dev.Disconnect();
        return 0;
    };

    if (m_bBaudOpt && !m_dev.SetSerialIF(&ser)) {
        std::cout << "Unable to set baudrate: " << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("SetSerialIF Error: %s\r\n", m_dev.GetLastResultStr());
        return closeAndFail();
    }
    if (!DevConnect()) {
        std::cout << "Unable to read discover tracker: " << m_dev.GetLastResultStr() << std::endl;
        return closeAndFail();
    }
    if (m_bReset && !ResetTracker()) {
        std::cout << "Reset tracker failed" << std::endl;
        return closeAndFail();
    }
    if (!m_dev.GetStationMap(map)) {
        std::cout << "Unable to read active station map: " << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("GetStationMap Error: %s\r\n", m_dev.GetLastResultStr());
        return closeAndFail();
    }
    if (!m_dev.GetBITErrs(biterr)) {
        std::cout << "Unable to read tracker BIT results: " << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("GetBITErrs Error: %s\r\n", m_dev.GetLastResultStr());
        return closeAndFail();
    }
    if (!biterr.IsClear()) {
        std::cout << "Tracker reported Built-In Test (BIT) errors." << std::endl;
        OvDebug::OVDOUT("BIT Errors reported\r\n");
    }
    // Station maps have 32 bits: a tracker claiming more sensors than that is
    // taken at 32, so no mask is ever shifted by 32 or more.
    const int supported = m_dev.MaxSensors();
    m_nMaxTrackers = supported < 0 ? 0u : (supported > 32 ? 32u : static_cast<unsigned>(supported));
    const std::uint32_t map32 = static_cast<std::uint32_t>(map & 0xFFFFFFFFul);
    m_nDetected = CountSensors(map32);
    m_nTrackers = m_nDetected;
    m_dwDetectedMap = map32;
    m_dwSensorMap = map32;
    return 1;
}

int OvTrackD::ResetTracker()
{
    OvDebug::OVDOUT("OvTrackD::ResetTracker()\r\n");
    std::cout << "Resetting tracker.." << std::endl;
    if (!m_dev.RestartTracker()) {
        std::cout << "Unable to restart tracker: " << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("RestartTracker Error: %s\r\n", m_dev.GetLastResultStr());
        return 0;
    }
    if (!m_dev.Disconnect()) {
        std::cout << "Unable to disconnect from tracker" << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("Disconnect Error: %s\r\n", m_dev.GetLastResultStr());
        return 0;
    }
    if (!TryConnect()) {
        std::cout << "Unable to re-establish connection to tracker" << m_dev.GetLastResultStr() << std::endl;
        OvDebug::OVDOUT("TryConnect Error: %s\r\n", m_dev.GetLastResultStr());
        return 0;
    }
    std::cout << "Tracker connected." << std::endl;
    return 1;
}

int OvTrackD::TryConnect()
{
    OvDebug::OVDOUT("OvTrackD::TryConnect()\r\n");
    // A restarting tracker needs a few seconds: up to 30 tries, 500 ms apart.
    for (int tries = 30; tries > 0; --tries) {
        if (DevConnect())
            return 1;
        if (!isRetryable(m_dev.GetLastResult()))
            return 0;
        plat::sleepMs(500);
    }
    return 0;
}

int OvTrackD::DevConnect()
{
    OvDebug::OVDOUT("OvTrackD::DevConnect()\r\n");
    m_dev.DiscoverCnx();
    return m_dev.CnxReady();
}

unsigned OvTrackD::CountSensors(unsigned map)
{
    OvDebug::OVDOUT("OvTrackD::CountSensors\r\n");
    const unsigned limit = m_nMaxTrackers < 32 ? m_nMaxTrackers : 32;
    unsigned count = 0;
    for (unsigned bit = 0; bit < limit; ++bit)
        if (map & (1u << bit))
            ++count;
    return count;
}
