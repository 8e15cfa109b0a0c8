// Continuous acquisition: start and stop the tracker's stream, decode the
// newest frame on every host cycle, notice a stream that stopped and rebuild
// it step by step, and the device's report.
#include "tracker/options.h"
#include "tracker/ovtrackd.h"

#include "support/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {
// One station record of a frame: 8-byte header (station number in byte 2),
// then position and angles as little-endian IEEE singles.
const unsigned long kRecordSize = 32;
const float kInchesToFeet = 1.0f / 12.0f;

// Set bits of a station map, without a library call on targets that lack a
// population-count instruction.
unsigned long bitCount(std::uint32_t bits)
{
    bits = bits - ((bits >> 1) & 0x55555555u);
    bits = (bits & 0x33333333u) + ((bits >> 2) & 0x33333333u);
    bits = (bits + (bits >> 4)) & 0x0f0f0f0fu;
    return static_cast<unsigned long>((bits * 0x01010101u) >> 24);
}

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
    m_timer.raise();
    m_nLastFrameMs = plat::nowMs();
    m_bStreamLost = false;
    m_bTornDown = false;
    m_eRecover = Recover::Wait;
    return true;
}

int OvTrackD::StopCont()
{
    OvDebug::OVDOUT("OvTrackD::StopCont()\r\n");
    if (!m_bContRunning)
        return 1;
    if (m_dev.StopContPno()) {
        m_bContRunning = 0;
        m_timer.lower();
        return 1;
    }
    OvDebug::OVDOUT("StopContPno Error: %s \r\n", m_dev.GetLastResultStr());
    return 0;
}

bool OvTrackD::RunStop()
{
    OvDebug::OVDOUT("OvTrackD::stop()\r\n");
    EndRepeats();
    if (m_bStreamLost) {
        // Recovery may have left the stream or the link in any state: close
        // whatever is left; failures are expected here and say nothing new.
        m_dev.StopContPno();
        m_dev.Disconnect();
        m_bStreamLost = false;
        m_bTornDown = false;
        m_eRecover = Recover::Wait;
        m_bContRunning = 0;
        m_timer.lower();
    } else {
        if (!StopCont()) {
            std::cout << "Error stopping cont pno: " << m_dev.GetLastResultStr() << std::endl;
            return false;
        }
        if (!m_dev.Disconnect()) {
            std::cout << "Unable to disconnect from tracker" << m_dev.GetLastResultStr() << std::endl;
            OvDebug::OVDOUT("Disconnect Error: %s\r\n", m_dev.GetLastResultStr());
            return false;
        }
    }
    if (!deinitCalib()) {
        std::cout << "Error: deinitCalib" << std::endl;
        return false;
    }
    return true;
}

int OvTrackD::SetReconnectOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetReconnectOpt()\r\n");
    m_bReconnectOpt = 0;
    const ConfigOption& o = option(index);
    if (o.argCount != 1) {
        std::cout << "Invalid Number of Reconnect Arguments on Line " << o.lineNumber << "." << std::endl;
        return 0;
    }
    if (tracker::sameWord(o.args[0], "no")) {
        m_bReconnect = 0;
    } else {
        char* end = nullptr;
        const double seconds = o.args[0] ? std::strtod(o.args[0], &end) : 0.0;
        // Written this way round so that NaN fails too; an hour is plenty.
        if (!o.args[0] || end == o.args[0] || *end != '\0' || !(seconds >= 0.001 && seconds <= 3600.0)) {
            std::cout << "Invalid Reconnect Argument on Line " << o.lineNumber << "." << std::endl;
            return 0;
        }
        m_bReconnect = 1;
        m_nStallMs = static_cast<std::uint32_t>(seconds * 1000.0 + 0.5);
    }
    m_bReconnectOpt = 1;
    m_pszReconnect = o.args[0];
    return 1;
}

void OvTrackD::ConsoleLine(const char* text) { std::cout << text << std::endl; }

void OvTrackD::TraceLine(const char* text) { OvDebug::OVDOUT("%s", text); }

void OvTrackD::EndRepeats()
{
    m_console.end();
    m_trace.end();
}

int OvTrackD::RunUpdate()
{
    // The one pause of a cycle comes first, so that the frame read below is
    // as fresh as the call allows.
    plat::sleepMs(1);
    const std::uint64_t now = plat::nowMs();
    m_console.tick(now);
    m_trace.tick(now);
    if (m_bStreamLost && (m_eRecover != Recover::Wait || m_bTornDown)) {
        if (m_eRecover == Recover::Wait && now >= m_nNextAttemptMs)
            m_eRecover = Recover::StopStream;
        return RecoverStep(now);
    }
    bool gotFrame = false;
    const int result = ReadFrame(now, gotFrame);
    if (gotFrame) {
        if (m_bStreamLost)
            StreamRestored(now);
        m_nLastFrameMs = now;
    } else {
        WatchStream(now);
    }
    return result;
}

int OvTrackD::ReadFrame(std::uint64_t now, bool& gotFrame)
{
    int result = 0;
    unsigned long count = 0;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    char line[1100];
    // While the stream is lost, its failures would only repeat what the lost
    // line said; they are held back until the stream is restored.
    RepeatFilter* const console = m_bStreamLost ? nullptr : &m_console;
    RepeatFilter* const trace = m_bStreamLost ? nullptr : &m_trace;
    auto say = [now](RepeatFilter* filter, const char* text) {
        if (filter)
            filter->line(text, now);
    };

    if (!m_dev.LastHostFrameCount(count)) {
        std::snprintf(line, sizeof line, "Unable to retrieve last host frame count%s", m_dev.GetLastResultStr());
        say(console, line);
        std::snprintf(line, sizeof line, "LastHostFrameCount Error: %s\r\n", m_dev.GetLastResultStr());
        say(trace, line);
    } else if (static_cast<std::uint32_t>(count) == m_dwLastFrameCount) {
        result = 1; // nothing new since the last cycle
    } else if (!m_dev.LastPnoPtr(buffer, length)) {
        std::snprintf(line, sizeof line, "Unable to retrieve last pno ptr%s", m_dev.GetLastResultStr());
        say(console, line);
        std::snprintf(line, sizeof line, "LastPnoPtr Error: %s\r\n", m_dev.GetLastResultStr());
        say(trace, line);
    } else if (!buffer || length == 0) {
        say(console, "No pno data ready");
        say(trace, "No pno data ready\r\n");
    } else {
        // The frame counts as processed from here on, even if it is refused
        // or a sample fails.
        m_dwLastFrameCount = static_cast<std::uint32_t>(count);
        if (!FrameShapeOk(buffer, length, now))
            return 0;
        gotFrame = true;
        result = 1;
        // One time stamp for the whole frame: its samples are stored within
        // microseconds of each other, far below the stamp's millisecond.
        const RecordStamp stamp = stampNow();
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
            if (!setTraData(station, position, angles, stamp)) {
                // Printed like a default-formatted stream double, whatever
                // format an earlier report left on standard output.
                std::snprintf(line, sizeof line, "Error : setTraData: sens %u %g %g %g %g %g %g", station,
                              static_cast<double>(position[0]), static_cast<double>(position[1]),
                              static_cast<double>(position[2]), static_cast<double>(angles[0]),
                              static_cast<double>(angles[1]), static_cast<double>(angles[2]));
                say(console, line);
                result = 0;
            }
        }
    }
    return result;
}

std::uint32_t OvTrackD::OutputMap()
{
    // The stations initTables gave an output id: the lowest m_nTrackers
    // stations of the sensor map below m_nMaxTrackers. Runs every frame, so
    // the common case (every mapped station has an id) is one count.
    const std::uint32_t below = m_nMaxTrackers >= 32 ? 0xffffffffu : (1u << m_nMaxTrackers) - 1;
    std::uint32_t map = m_dwSensorMap & below;
    if (bitCount(map) <= m_nTrackers)
        return map;
    std::uint32_t kept = 0;
    for (unsigned id = 1; id <= m_nTrackers && map; ++id) {
        kept |= map & (~map + 1); // the lowest station left
        map &= map - 1;
    }
    return kept;
}

bool OvTrackD::FrameShapeOk(const unsigned char* buffer, unsigned long length, std::uint64_t now)
{
    // One record for each output station that the tracker reported at init:
    // anything else (records of another output list above all) would be cut
    // into 32-byte pieces of garbage.
    const std::uint32_t output = OutputMap();
    const unsigned long stations = bitCount(output & m_dwDetectedMap);
    const unsigned long expected = stations * kRecordSize;
    char line[160];
    if (length != expected) {
        std::snprintf(line, sizeof line, "Frame refused: %lu bytes, expected %lu (one %lu-byte record per station)",
                      length, expected, kRecordSize);
    } else {
        unsigned long at = 0;
        unsigned station = 0;
        for (; at < length; at += kRecordSize) {
            station = buffer[at + 2];
            if (station < 1 || station > 32 || !(output & (1u << (station - 1))))
                break;
        }
        if (at == length)
            return true;
        std::snprintf(line, sizeof line,
                      "Frame refused: %lu bytes, expected %lu, but a record names station %u, which is not output",
                      length, expected, station);
    }
    m_console.line(line, now);
    return false;
}

void OvTrackD::WatchStream(std::uint64_t now)
{
    if (!m_bContRunning || !m_bReconnect)
        return;
    if (m_bStreamLost) {
        if (m_eRecover == Recover::Wait && now >= m_nNextAttemptMs)
            m_eRecover = Recover::StopStream; // the attempt begins with the next update
        return;
    }
    const std::uint64_t silent = now - m_nLastFrameMs;
    if (silent <= m_nStallMs)
        return;
    char line[120];
    std::snprintf(line, sizeof line, "Tracker stream lost: no new frame for %.1f s, reconnecting",
                  static_cast<double>(silent) / 1000.0);
    m_console.line(line, now);
    std::strcat(line, "\r\n");
    m_trace.line(line, now);
    m_bStreamLost = true;
    m_eRecover = Recover::Wait;
    // A stream that merely paused gets a moment to come back by itself.
    m_nAttemptDelayMs = 1000;
    m_nNextAttemptMs = now + m_nAttemptDelayMs;
}

int OvTrackD::RecoverStep(std::uint64_t now)
{
    char line[1100];
    switch (m_eRecover) {
    case Recover::Wait:
        break;
    case Recover::StopStream:
        // From here on the stream is rebuilt, not polled. Stopping is
        // expected to fail on a lost link; the trace still tells.
        m_bTornDown = true;
        if (!m_dev.StopContPno()) {
            std::snprintf(line, sizeof line, "StopContPno Error: %s \r\n", m_dev.GetLastResultStr());
            m_trace.line(line, now);
        }
        m_eRecover = Recover::Disconnect;
        break;
    case Recover::Disconnect:
        if (!m_dev.Disconnect()) {
            std::snprintf(line, sizeof line, "Disconnect Error: %s\r\n", m_dev.GetLastResultStr());
            m_trace.line(line, now);
        }
        m_eRecover = Recover::Discover;
        break;
    case Recover::Discover:
        if (DevConnect())
            m_eRecover = Recover::CheckMap;
        else
            AttemptFailed(m_dev.GetLastResultStr(), now);
        break;
    case Recover::CheckMap: {
        unsigned long map = 0;
        if (!m_dev.GetStationMap(map)) {
            AttemptFailed(m_dev.GetLastResultStr(), now);
        } else if (map != static_cast<unsigned long>(m_dwDetectedMap)) {
            // Other sensors would give other records under the same ids.
            char why[100];
            std::snprintf(why, sizeof why, "station map %#lx differs from %#x found at init", map, m_dwDetectedMap);
            AttemptFailed(why, now);
        } else {
            m_eRecover = Recover::CfgFrameRate;
        }
        break;
    }
    // The tracker may have lost every setting: push them as configure does,
    // each step reporting its own failure, one step per cycle since each
    // is a round trip to the tracker.
    case Recover::CfgFrameRate:
        if (m_bFrameRateOpt)
            CfgFrameRate();
        m_eRecover = Recover::CfgSensorMap;
        break;
    case Recover::CfgSensorMap:
        if (m_bSensorMapOpt)
            CfgSensorMap();
        m_eRecover = Recover::CfgHemi;
        break;
    case Recover::CfgHemi:
        if (m_bHemiOpt)
            CfgHemi();
        m_eRecover = Recover::CfgAlignment;
        break;
    case Recover::CfgAlignment:
        if (m_bCAVECoord)
            CfgCAVECoordAlignment();
        m_eRecover = Recover::CfgOutput;
        break;
    case Recover::CfgOutput:
        CfgOutput();
        m_eRecover = Recover::Clear;
        break;
    case Recover::Clear:
        if (m_dev.ClearPnoBuffer())
            m_eRecover = Recover::Start;
        else
            AttemptFailed(m_dev.GetLastResultStr(), now);
        break;
    case Recover::Start:
        if (m_dev.StartContPno(nullptr)) {
            // Restored with the first new frame; should none come, the
            // next attempt follows as after a failure.
            m_dwLastFrameCount = 0;
            m_bTornDown = false;
            m_eRecover = Recover::Wait;
            m_nAttemptDelayMs = m_nAttemptDelayMs * 2 < 10000 ? m_nAttemptDelayMs * 2 : 10000;
            m_nNextAttemptMs = now + m_nAttemptDelayMs;
        } else {
            AttemptFailed(m_dev.GetLastResultStr(), now);
        }
        break;
    }
    return 0;
}

void OvTrackD::AttemptFailed(const char* why, std::uint64_t now)
{
    char line[1200];
    std::snprintf(line, sizeof line, "Tracker reconnect failed: %s", why);
    m_console.line(line, now);
    // Attempts are spaced 1, 2, 4 ... up to 10 s apart.
    m_nAttemptDelayMs = m_nAttemptDelayMs * 2 < 10000 ? m_nAttemptDelayMs * 2 : 10000;
    m_nNextAttemptMs = now + m_nAttemptDelayMs;
    m_eRecover = Recover::Wait;
}

void OvTrackD::StreamRestored(std::uint64_t now)
{
    char line[120];
    std::snprintf(line, sizeof line, "Tracker stream restored after %.1f s",
                  static_cast<double>(now - m_nLastFrameMs) / 1000.0);
    m_console.line(line, now);
    std::strcat(line, "\r\n");
    m_trace.line(line, now);
    EndRepeats();
    m_bStreamLost = false;
    m_bTornDown = false;
    m_eRecover = Recover::Wait;
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
    if (m_bReconnectOpt)
        m_pLog->infof("Reconnect Option      : %s\n", m_pszReconnect ? m_pszReconnect : "(null)");
    return printFooter();
}
