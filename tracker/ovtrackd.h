// OvTrackD: the tracker device. It connects to one tracker through the maker's
// SDK (COTKdev, bound at run time: tracker/sdk.h), applies the tracker's own option lines, pushes the settings
// on configure, and on every host cycle turns the newest frame into one
// tracker record per active sensor (inches to feet, then the device pipeline).
//
// Three output channels: trace lines through OvDebug::OVDOUT (every operation
// names itself on entry), whole console lines on standard output (an SDK
// failure's line ends with the SDK's own text), and the device's logger.
#pragma once

#include "device/device.h"
#include "support/platform.h"
#include "tracker/capture.h"
#include "tracker/sdk.h"
#include "tracker/repeatfilter.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class OvTrackD final : public CDevice {
public:
    OvTrackD(DeviceConfig* config, const CLogger* logTemplate);
    ~OvTrackD();

    int init(InitInfo* info) override;  // slot 0
    bool start() override;              // slot 1
    int configure() override;           // slot 2
    bool stop() override;               // slot 3
    bool printConfig() override;        // slot 4
    int update() override;              // slot 7
    int updataConData() override;       // slot 8

    // Connection and serial options.
    int ParseBaudOpt();
    int SetBautOpt(unsigned index);
    int ParseResetOpt();
    int SetResetOpt(unsigned index);
    int Connect();
    int ResetTracker();
    int TryConnect();
    int DevConnect();
    unsigned CountSensors(unsigned map);

    // Tracker-specific options.
    int ParseCfgOpts();
    int SetHemiOpt(unsigned index);
    int SetSensorMapOpt(unsigned index);
    int SetFrameRateOpt(unsigned index);
    unsigned AllSensorsMask();
    int initTables();
    int ParseCommonOpts();
    int SetCAVECoordOpt(unsigned index);

    // Configuration.
    int CfgFrameRate();
    int CfgSensorMap();
    int CfgHemi();
    int CfgCAVECoordAlignment();
    int CfgOutput();

    int StopCont();

    // The bodies of the slots above. Each slot runs its body through
    // CDevice::guarded, so nothing thrown reaches the host.
    int RunInit(InitInfo* info);
    bool RunStart();
    int RunConfigure();
    bool RunStop();
    bool RunPrintConfig();
    int RunUpdate();

    // Stream watch and recovery ("reconnect" line).
    int SetReconnectOpt(unsigned index);

    sdk::COTKdev m_dev;
    std::uint32_t m_nDetected;
    std::uint32_t m_dwDetectedMap;
    std::int32_t m_bBaudOpt;
    sdk::eOvBaudRate m_eBaud;
    const char* m_pszBaud;
    std::int32_t m_bHemiOpt;
    float m_fHemi[3];
    std::uint32_t m_dwHemiMap;
    const char* m_pszHemi;
    const char* m_pszHemiMap;
    std::int32_t m_bReset;
    const char* m_pszReset;
    std::int32_t m_bSensorMapOpt;
    std::uint32_t m_dwSensorMap;
    const char* m_pszSensorMap;
    std::int32_t m_bFrameRateOpt;
    sdk::eOvFrameRate m_eFrameRate;
    const char* m_pszFrameRate;
    std::int32_t m_bCAVECoord;
    std::int32_t m_bContRunning;
    std::uint32_t m_dwLastFrameCount;

    // "reconnect SECONDS" / "reconnect no": how long the stream may go without
    // a new frame before it counts as lost, and whether it is then recovered.
    std::int32_t m_bReconnectOpt = 0;
    const char* m_pszReconnect = nullptr;
    std::int32_t m_bReconnect = 1;
    std::uint32_t m_nStallMs = 2000;
    // The stall time in force: the line's, but never below four frame periods.
    std::uint32_t StallMs() const;

    // "capture PATH [LIMIT_MB]": what the stream brings is written to a file
    // from start to stop; m_pCapturing is the capture while it runs.
    int SetCaptureOpt(unsigned index);
    std::unique_ptr<Capture> m_capture;
    Capture* m_pCapturing = nullptr;

    // The frame rate the tracker last accepted (Hz), 0 while unknown.
    std::uint32_t m_nRateHz = 0;
    // The tracker refused the output data list: its frames cannot be decoded.
    bool m_bLayoutUnknown = false;

    // While the stream is lost: how long the device waits before its next
    // attempt to rebuild it (1 s after the loss, doubling up to 10 s).
    std::uint32_t RetryDelayMs() const { return m_nAttemptDelayMs; }

private:
    // Recovery of a lost stream. Each step that talks to the tracker is a
    // host cycle of its own, so that no cycle waits for more than one call.
    enum class Recover {
        Wait, StopStream, Disconnect, Discover, Ready, CheckMap, FrameRate, SensorMap, SensorMapVerify,
        Hemi, AlignmentReset, Alignment, OutputList, OutputClearBIT, Clear, Start
    };

    // The single tracker commands of configure's steps; each reports its own
    // failure as configure does. SendSensorMap gives 2 for a command the
    // tracker did not confirm: VerifySensorMap then reads the map back.
    int SendSensorMap();
    int VerifySensorMap();
    unsigned HemiStationFrom(unsigned index) const;
    int SendHemi(int station);
    int SendAlignmentReset();
    int SendAlignment();
    int SendOutputList();
    int SendClearBIT();

    // The 1 ms system timer resolution, held from start to stop and given back
    // at the latest with the device.
    class TimerResolution {
    public:
        TimerResolution() = default;
        TimerResolution(const TimerResolution&) = delete;
        TimerResolution& operator=(const TimerResolution&) = delete;
        ~TimerResolution() { lower(); }
        void raise()
        {
            if (!m_held)
                plat::raiseTimerResolution();
            m_held = true;
        }
        void lower()
        {
            if (m_held)
                plat::lowerTimerResolution();
            m_held = false;
        }

    private:
        bool m_held = false;
    };

    int ReadFrame(std::uint64_t now, bool& newFrame);
    bool FrameShapeOk(const unsigned char* buffer, unsigned long length, std::uint32_t& stations, char* why,
                      std::size_t whySize);
    std::uint32_t OutputMap();
    // The stations whose records the device writes: those with an output id
    // that the tracker had at init.
    std::uint32_t StationsInUse() { return OutputMap() & m_dwDetectedMap; }
    void StationsChanged(std::uint32_t stations, std::uint64_t now);
    void WatchStream(std::uint64_t now);
    void RecoverStep(std::uint64_t now);
    bool RecoverCall(std::uint64_t now);
    void AttemptFailed(const char* why, std::uint64_t now);
    void BackOff(std::uint64_t now);
    void StreamRestored(std::uint64_t now);
    void EndRepeats();
    void BeginCapture();
    void EndCapture();
    mcap::KeyValues CaptureMetadata();
    static void CaptureSay(void* device, const char* text);
    static void CaptureTap(void* device, const char* text);
    static void ConsoleLine(void* self, const char* text);
    static void TraceLine(void* self, const char* text);
    static void LogErrorLine(void* self, const char* text);
    static void SampleError(void* self, const char* text);

    // Console and logger lines share standard output, and so one filter.
    RepeatFilter m_console{&OvTrackD::ConsoleLine, this, ""};
    RepeatFilter m_trace{&OvTrackD::TraceLine, this, "\r\n"};
    TimerResolution m_timer;
    std::uint64_t m_nCycleMs = 0;      // the time of the running update
    std::uint64_t m_nLastFrameMs = 0;  // last accepted frame, or the start
    std::uint64_t m_nNewFrameMs = 0;   // last new frame count, whatever it held, or the start
    std::uint32_t m_dwLossFrameCount = 0; // the last frame read before the loss
    std::uint32_t m_dwStations = 0;    // stations of the last accepted frame
    unsigned long m_nFramesRead = 0;   // new frames since start
    unsigned long m_nFramesRefused = 0;
    bool m_bStreamLost = false;
    bool m_bTornDown = false; // recovery has stopped the stream: rebuild, do not poll
    Recover m_eRecover = Recover::Wait;
    std::uint64_t m_nNextAttemptMs = 0;
    std::uint32_t m_nAttemptDelayMs = 0;
    unsigned m_nHemiNext = 0; // station index the next hemisphere command starts from

    const ConfigOption& option(unsigned index) const { return m_pConfig->options[index]; }
    unsigned optionCount() const;
    int ScanFirst(const char* keyword, int (OvTrackD::*handler)(unsigned));
};
