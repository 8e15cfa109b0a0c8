#include "tracker/ovtrackd.h"

#include <iostream>

using namespace sdk;

OvTrackD::OvTrackD(DeviceConfig* config, const CLogger* logTemplate)
    : CDevice(config, logTemplate), m_dev(m_pLog), m_nDetected(0), m_dwDetectedMap(0), m_bBaudOpt(0),
      m_eBaud(OV_BAUD_115200), m_pszBaud(nullptr), m_bHemiOpt(0), m_fHemi{0.0f, 0.0f, 0.0f}, m_dwHemiMap(0),
      m_pszHemi(nullptr), m_pszHemiMap(nullptr), m_bReset(0), m_pszReset(nullptr), m_bSensorMapOpt(0),
      m_dwSensorMap(0), m_pszSensorMap(nullptr), m_bFrameRateOpt(0), m_eFrameRate(OV_FRAMERATE_120),
      m_pszFrameRate(nullptr), m_bCAVECoord(0), m_bContRunning(0), m_dwLastFrameCount(0)
{
    setSampleErrorSink(&OvTrackD::SampleError, this);
}

// The SDK object goes with the device; stopping or disconnecting an open
// connection on the way is the SDK's own business. A capture still running
// is finished, so that the file is whole.
OvTrackD::~OvTrackD()
{
    try {
        EndCapture();
    } catch (...) {
        // Nothing may leave a destructor; the file then ends at its last chunk.
    }
}

unsigned OvTrackD::optionCount() const
{
    if (!m_pConfig)
        return 0;
    const unsigned limit = kMaxOptions;
    return m_pConfig->optionCount < limit ? m_pConfig->optionCount : limit;
}

// The slots the host calls. A throw inside a body ends as the slot's failure
// result; init still closes with the report, as on every failure.
int OvTrackD::init(InitInfo* info)
{
    const int kThrew = -2; // never a result of RunInit
    const int result = guarded("init", kThrew, [this, info] { return RunInit(info); });
    if (result != kThrew)
        return result;
    printConfig();
    return -1;
}

bool OvTrackD::start()
{
    return guarded("start", false, [this] { return RunStart(); });
}

int OvTrackD::configure()
{
    return guarded("configure", 2, [this] { return RunConfigure(); });
}

bool OvTrackD::stop()
{
    return guarded("stop", false, [this] { return RunStop(); });
}

bool OvTrackD::printConfig()
{
    return guarded("printConfig", false, [this] { return RunPrintConfig(); });
}

int OvTrackD::update()
{
    return guarded("update", 0, [this] { return RunUpdate(); });
}

int OvTrackD::updataConData()
{
    return guarded("updataConData", 0, [] {
        OvDebug::OVDOUT("OvTrackD::updataConData()\r\n");
        return 1;
    });
}

int OvTrackD::RunInit(InitInfo* info)
{
    OvDebug::OVDOUT("OvTrackD::init()\r\n");

    // Every failure prints its console line, then its trace line, then the
    // report; a step given no texts has already reported itself.
    auto fail = [this](const char* console, const char* trace) {
        if (console)
            std::cout << console << std::endl;
        if (trace)
            OvDebug::OVDOUT("%s", trace);
        printConfig();
        return -1;
    };

    if (!setInitInfo(info))
        return fail("Error: calling setInitInfo", "Error: calling setInitInfo\r\n");
    if (!ParseBaudOpt())
        return fail("Error: parsing baud option", "Error: parsing baud options\r\n");
    if (!ParseResetOpt())
        return fail("Error: parsing reset option", "Error: parsing reset option\r\n");
    if (!Connect())
        return fail("Error: connecting to tracker", "Error: connecting to tracker\r\n");
    if (!ParseCfgOpts())
        return fail("Error: parsing tracker-specific config options ",
                    "Error: parsing tracker-specific config options\r\n");
    if (!initTables())
        return fail(nullptr, nullptr);
    if (!ParseCommonOpts())
        return fail("Error: parsing common config options", "Error: parsing common config options\r\n");
    // A calibration library that does not start is reported but not fatal.
    if (!initCalib()) {
        std::cout << "Error: initCalib" << std::endl;
        OvDebug::OVDOUT("Error: initCalib\r\n");
    }
    printConfig();
    return 1;
}
