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

using namespace sdk;

namespace {
// One station record of a frame: 8-byte header (station number in byte 2),
// then position and angles as little-endian IEEE singles.
const unsigned long kRecordSize = 32;
const float kInchesToFeet = 1.0f / 12.0f;
// The shortest stall time, in frame periods, and the rate it counts with
// while the tracker has accepted none (the slowest of any model).
const std::uint32_t kStallFramePeriods = 4;
const std::uint32_t kUnknownRateHz = 60;

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
    m_nLastFrameMs = m_nNewFrameMs = plat::nowMs();
    m_dwStations = StationsInUse();
    m_nFramesRead = m_nFramesRefused = 0;
    m_bStreamLost = false;
    m_bTornDown = false;
    m_eRecover = Recover::Wait;
    BeginCapture();
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
    if (m_nFramesRefused) {
        // What the summaries said in pieces, in one line for the whole run.
        char line[80];
        std::snprintf(line, sizeof line, "Frames refused: %lu of %lu read", m_nFramesRefused, m_nFramesRead);
        CaptureSay(this, line);
        m_nFramesRefused = m_nFramesRead = 0;
    }
    // The file is finished before the link goes, whatever stopping it says.
    EndCapture();
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
    if (sameWord(o.args[0], "no")) {
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

void OvTrackD::ConsoleLine(void*, const char* text) { std::cout << text << std::endl; }

void OvTrackD::TraceLine(void*, const char* text) { OvDebug::OVDOUT("%s", text); }

void OvTrackD::LogErrorLine(void* self, const char* text) { static_cast<OvTrackD*>(self)->m_pLog->error(text, true); }

void OvTrackD::SampleError(void* self, const char* text)
{
    // A slot the host did not give fails the same way on every frame.
    OvTrackD& d = *static_cast<OvTrackD*>(self);
    d.m_console.line(text, d.m_nCycleMs, &OvTrackD::LogErrorLine);
}

void OvTrackD::EndRepeats()
{
    m_console.end();
    m_trace.end();
}

std::uint32_t OvTrackD::StallMs() const
{
    // A stall time below a few frame periods would take a healthy stream's
    // gaps between frames for losses.
    const std::uint32_t hz = m_nRateHz ? m_nRateHz : kUnknownRateHz;
    const std::uint32_t floor = (kStallFramePeriods * 1000 + hz - 1) / hz;
    return m_nStallMs > floor ? m_nStallMs : floor;
}

int OvTrackD::RunUpdate()
{
    // The one pause of a cycle comes first, so that the frame read below is
    // as fresh as the call allows.
    plat::sleepMs(1);
    const std::uint64_t now = plat::nowMs();
    m_nCycleMs = now;
    m_console.tick(now);
    m_trace.tick(now);
    if (m_bStreamLost && (m_eRecover != Recover::Wait || m_bTornDown)) {
        if (m_eRecover == Recover::Wait && now >= m_nNextAttemptMs)
            m_eRecover = Recover::StopStream;
        RecoverStep(now);
        return 0;
    }
    bool newFrame = false;
    const int result = ReadFrame(now, newFrame);
    if (m_pCapturing)
        m_pCapturing->endFrame();
    // The stall clock runs from the last new frame count: a tracker that
    // sends frames the device cannot use still has a working link.
    if (newFrame)
        m_nNewFrameMs = now;
    WatchStream(now);
    // No record comes while the stream is lost, and the host is told so on
    // every cycle until a frame restores it.
    return m_bStreamLost ? 0 : result;
}

int OvTrackD::ReadFrame(std::uint64_t now, bool& newFrame)
{
    int result = 0;
    unsigned long count = 0;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    char line[1100];
    // While the stream is lost, a failing read would only repeat the lost
    // line: held back, line by line. A frame that came but was refused is
    // news, and is always said.
    auto say = [this, now](RepeatFilter& filter, const char* text) {
        if (!m_bStreamLost)
            filter.line(text, now);
    };

    if (!m_dev.LastHostFrameCount(count)) {
        std::snprintf(line, sizeof line, "Unable to retrieve last host frame count%s", m_dev.GetLastResultStr());
        say(m_console, line);
        std::snprintf(line, sizeof line, "LastHostFrameCount Error: %s\r\n", m_dev.GetLastResultStr());
        say(m_trace, line);
        return 0;
    }
    if (static_cast<std::uint32_t>(count) == m_dwLastFrameCount)
        return 1; // nothing new since the last cycle
    // After a loss only a frame newer than the loss counts: an SDK may keep
    // its count across ClearPnoBuffer and hand out the old frame again.
    if (m_bStreamLost && static_cast<std::uint32_t>(count) == m_dwLossFrameCount)
        return 1;
    if (!m_dev.LastPnoPtr(buffer, length)) {
        std::snprintf(line, sizeof line, "Unable to retrieve last pno ptr%s", m_dev.GetLastResultStr());
        say(m_console, line);
        std::snprintf(line, sizeof line, "LastPnoPtr Error: %s\r\n", m_dev.GetLastResultStr());
        say(m_trace, line);
        return 0;
    }
    if (!buffer || length == 0) {
        say(m_console, "No pno data ready");
        say(m_trace, "No pno data ready\r\n");
        return 0;
    }
    // The frame counts as processed from here on, even if it is refused or
    // a sample fails.
    m_dwLastFrameCount = static_cast<std::uint32_t>(count);
    // A capture keeps the time the frame was read, which then stamps its
    // records too: one reading of the clock.
    std::uint64_t readNs = 0;
    if (m_pCapturing) {
        readNs = clockNs();
        m_pCapturing->frame(buffer, length, static_cast<std::uint32_t>(count), readNs);
    }
    newFrame = true;
    ++m_nFramesRead;
    if (m_bLayoutUnknown) {
        // Without the output list the records hold whatever the tracker
        // chose to send: nothing in them can be trusted.
        ++m_nFramesRefused;
        m_console.line("Frame not decoded: the tracker refused the output data list", now);
        return 0;
    }
    std::uint32_t stations = 0;
    if (!FrameShapeOk(buffer, length, stations, line, sizeof line)) {
        ++m_nFramesRefused;
        m_console.line(line, now);
        return 0;
    }
    if (m_bStreamLost)
        StreamRestored(now);
    m_nLastFrameMs = now;
    if (stations != m_dwStations)
        StationsChanged(stations, now);
    const std::uint32_t inUse = StationsInUse();
    result = 1;
    bool skipped = false;
    // One time stamp for the whole frame: its samples are stored within
    // microseconds of each other, far below the stamp's millisecond.
    const RecordStamp stamp = readNs ? stampOf(readNs) : stampNow();
    const unsigned long records = length / kRecordSize; // a shorter trailing part is not a record
    for (unsigned long i = 0; i < records && result == 1; ++i) {
        const unsigned char* rec = buffer + i * kRecordSize;
        const unsigned station = rec[2];
        if (!(inUse & (1u << (station - 1))))
            continue; // no record of its own, or not there at init
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
        bool valuesRefused = false;
        WrittenPose* written = m_pCapturing ? m_pCapturing->nextPose() : nullptr;
        if (!setTraData(station, position, angles, stamp, &valuesRefused, written)) {
            // Printed like a default-formatted stream double, whatever
            // format an earlier report left on standard output.
            std::snprintf(line, sizeof line, "Error : setTraData: sens %u %g %g %g %g %g %g", station,
                          static_cast<double>(position[0]), static_cast<double>(position[1]),
                          static_cast<double>(position[2]), static_cast<double>(angles[0]),
                          static_cast<double>(angles[1]), static_cast<double>(angles[2]));
            say(m_console, line);
            // A sample the record cannot hold costs only itself; a sample
            // that found no record or no lock ends the frame.
            if (valuesRefused)
                skipped = true;
            else
                result = 0;
        } else if (written) {
            m_pCapturing->keepPose(station);
        }
    }
    return skipped ? 0 : result;
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

bool OvTrackD::FrameShapeOk(const unsigned char* buffer, unsigned long length, std::uint32_t& stations, char* why,
                            std::size_t whySize)
{
    // Whole records, each station once and in station order, as the tracker
    // sends them; anything else would put one station's pose under another's
    // id. Which stations the frame holds may change while the tracker runs:
    // sensors are plugged in and pulled out. A trailing part shorter than a
    // record is padding, not data.
    const unsigned long records = length / kRecordSize;
    if (records == 0) {
        std::snprintf(why, whySize, "Frame refused: %lu bytes, less than one %lu-byte record", length, kRecordSize);
        return false;
    }
    unsigned previous = 0;
    stations = 0;
    for (unsigned long at = 0; at < records * kRecordSize; at += kRecordSize) {
        const unsigned station = buffer[at + 2];
        if (station < 1 || station > 32) {
            std::snprintf(why, whySize, "Frame refused: %lu bytes, but a record names station %u (stations are 1 to 32)",
                          length, station);
            return false;
        }
        if (station <= previous) {
            std::snprintf(why, whySize,
                          "Frame refused: %lu bytes, but station %u comes after station %u "
                          "(one record per station, in station order)",
                          length, station, previous);
            return false;
        }
        previous = station;
        stations |= 1u << (station - 1);
    }
    return true;
}

void OvTrackD::StationsChanged(std::uint32_t stations, std::uint64_t now)
{
    // Each change is said once. The host's record slots were reserved at
    // init, so a station new since then has none; one in use that goes away
    // simply has no record until it is back.
    const std::uint32_t inUse = StationsInUse();
    const std::uint32_t changed = stations ^ m_dwStations;
    char line[120];
    for (unsigned station = 1; station <= 32; ++station) {
        const std::uint32_t bit = 1u << (station - 1);
        if (!(changed & bit))
            continue;
        const bool here = (stations & bit) != 0;
        if (inUse & bit)
            std::snprintf(line, sizeof line,
                          here ? "Station %u is back; its record is written again"
                               : "Station %u disappeared; its record is left out until it is back",
                          station);
        else if (here && !(m_dwDetectedMap & bit))
            std::snprintf(line, sizeof line, "Station %u appeared after init; restart the device to use it", station);
        else
            continue; // found at init but given no output id: nobody asked for it
        m_console.line(line, now);
    }
    m_dwStations = stations;
}

void OvTrackD::WatchStream(std::uint64_t now)
{
    if (!m_bContRunning || !m_bReconnect)
        return;
    const std::uint64_t silent = now - m_nNewFrameMs;
    if (m_bStreamLost) {
        // Frames that keep coming, even refused ones, show a working link:
        // it is rebuilt only once they too have stopped for the stall time.
        if (m_eRecover == Recover::Wait && now >= m_nNextAttemptMs && silent > StallMs())
            m_eRecover = Recover::StopStream; // the attempt begins with the next update
        return;
    }
    if (silent <= StallMs())
        return;
    char line[120];
    std::snprintf(line, sizeof line, "Tracker stream lost: no new frame for %.1f s, reconnecting",
                  static_cast<double>(silent) / 1000.0);
    m_console.line(line, now);
    std::strcat(line, "\r\n");
    m_trace.line(line, now);
    m_bStreamLost = true;
    m_dwLossFrameCount = m_dwLastFrameCount;
    m_eRecover = Recover::Wait;
    // A stream that merely paused gets a moment to come back by itself.
    m_nAttemptDelayMs = 1000;
    m_nNextAttemptMs = now + m_nAttemptDelayMs;
}

void OvTrackD::RecoverStep(std::uint64_t now)
{
    // Steps that do not apply are passed over within the cycle; the first
    // one that talks to the tracker ends it.
    while (!RecoverCall(now)) {
    }
}

bool OvTrackD::RecoverCall(std::uint64_t now)
{
    char line[1100];
    switch (m_eRecover) {
    case Recover::Wait:
        return true;
    case Recover::StopStream:
        // From here on the stream is rebuilt, not polled. Stopping is
        // expected to fail on a lost link; the trace still tells.
        m_bTornDown = true;
        if (!m_dev.StopContPno()) {
            std::snprintf(line, sizeof line, "StopContPno Error: %s \r\n", m_dev.GetLastResultStr());
            m_trace.line(line, now);
        }
        m_eRecover = Recover::Disconnect;
        return true;
    case Recover::Disconnect:
        if (!m_dev.Disconnect()) {
            std::snprintf(line, sizeof line, "Disconnect Error: %s\r\n", m_dev.GetLastResultStr());
            m_trace.line(line, now);
        }
        m_eRecover = Recover::Discover;
        return true;
    case Recover::Discover:
        // Its result is not the answer: CnxReady tells whether a link is up.
        OvDebug::OVDOUT("OvTrackD::DevConnect()\r\n");
        m_dev.DiscoverCnx();
        m_eRecover = Recover::Ready;
        return true;
    case Recover::Ready:
        if (m_dev.CnxReady())
            m_eRecover = Recover::CheckMap;
        else
            AttemptFailed(m_dev.GetLastResultStr(), now);
        return true;
    case Recover::CheckMap: {
        unsigned long map = 0;
        // A tracker that kept its settings reports the map configure set, one
        // that was power-cycled every sensor it has: either way each station
        // in use must be there, or its records would come from another
        // tracker. A sensor plugged in since init costs nothing: its records
        // are left out.
        if (!m_dev.GetStationMap(map)) {
            AttemptFailed(m_dev.GetLastResultStr(), now);
        } else if (const std::uint32_t missing = StationsInUse() & ~static_cast<std::uint32_t>(map)) {
            unsigned station = 1;
            while (!(missing >> (station - 1) & 1u))
                ++station;
            char why[120];
            std::snprintf(why, sizeof why, "station map %#lx lacks station %u, in use since init", map, station);
            AttemptFailed(why, now);
        } else {
            m_eRecover = Recover::FrameRate;
            m_nHemiNext = 0;
        }
        return true;
    }
    // The tracker may have lost every setting: push them as configure does,
    // each command reporting its own failure as there.
    case Recover::FrameRate:
        m_eRecover = Recover::SensorMap;
        if (!m_bFrameRateOpt)
            return false;
        CfgFrameRate();
        return true;
    case Recover::SensorMap:
        m_eRecover = Recover::Hemi;
        if (!m_bSensorMapOpt)
            return false;
        OvDebug::OVDOUT("OvTrackD::CfgSensorMap()\r\n");
        if (SendSensorMap() == 2)
            m_eRecover = Recover::SensorMapVerify;
        return true;
    case Recover::SensorMapVerify:
        VerifySensorMap();
        m_eRecover = Recover::Hemi;
        return true;
    case Recover::Hemi: {
        // One command per cycle, as CfgHemi sends them; a refusal ends them.
        if (!m_bHemiOpt) {
            m_eRecover = Recover::AlignmentReset;
            return false;
        }
        if (m_nHemiNext == 0)
            OvDebug::OVDOUT("OvTrackD::CfgHemi()\r\n");
        const bool all = m_dwHemiMap == 0xFFFFFFFFu;
        const unsigned station = all ? (m_nHemiNext == 0 ? 1u : 0u) : HemiStationFrom(m_nHemiNext);
        if (!station) {
            m_eRecover = Recover::AlignmentReset;
            return false;
        }
        if (!SendHemi(all ? -1 : static_cast<int>(station)))
            m_eRecover = Recover::AlignmentReset;
        m_nHemiNext = all ? 32 : station; // the index to go on from
        return true;
    }
    case Recover::AlignmentReset:
        m_eRecover = Recover::OutputList;
        if (!m_bCAVECoord)
            return false;
        OvDebug::OVDOUT("OvTrackD::CfgCAVECoordAlignment()\r\n");
        if (SendAlignmentReset())
            m_eRecover = Recover::Alignment;
        return true;
    case Recover::Alignment:
        SendAlignment();
        m_eRecover = Recover::OutputList;
        return true;
    case Recover::OutputList:
        OvDebug::OVDOUT("OvTrackD::CfgOutput()\r\n");
        m_eRecover = SendOutputList() ? Recover::OutputClearBIT : Recover::Clear;
        return true;
    case Recover::OutputClearBIT:
        SendClearBIT();
        m_eRecover = Recover::Clear;
        return true;
    case Recover::Clear:
        if (m_dev.ClearPnoBuffer())
            m_eRecover = Recover::Start;
        else
            AttemptFailed(m_dev.GetLastResultStr(), now);
        return true;
    case Recover::Start:
        if (m_dev.StartContPno(nullptr)) {
            // Restored with the first new frame; should none come, the
            // next attempt follows as after a failure.
            m_dwLastFrameCount = 0;
            m_bTornDown = false;
            m_eRecover = Recover::Wait;
            BackOff(now);
        } else {
            AttemptFailed(m_dev.GetLastResultStr(), now);
        }
        return true;
    }
    return true;
}

void OvTrackD::AttemptFailed(const char* why, std::uint64_t now)
{
    char line[1200];
    std::snprintf(line, sizeof line, "Tracker reconnect failed: %s", why);
    m_console.line(line, now);
    BackOff(now);
    m_eRecover = Recover::Wait;
}

void OvTrackD::BackOff(std::uint64_t now)
{
    // Attempts are spaced 1, 2, 4 ... up to 10 s apart.
    m_nAttemptDelayMs = m_nAttemptDelayMs * 2 < 10000 ? m_nAttemptDelayMs * 2 : 10000;
    m_nNextAttemptMs = now + m_nAttemptDelayMs;
}

void OvTrackD::StreamRestored(std::uint64_t now)
{
    // The repeat filters go on: a stream that keeps coming and going is
    // summarised like any other repeated line.
    char line[120];
    std::snprintf(line, sizeof line, "Tracker stream restored after %.1f s",
                  static_cast<double>(now - m_nLastFrameMs) / 1000.0);
    m_console.line(line, now);
    std::strcat(line, "\r\n");
    m_trace.line(line, now);
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
    if (m_capture)
        m_pLog->infof("Capture Option        : %s  %lu MB\n", m_capture->path().c_str(),
                      static_cast<unsigned long>(m_capture->limitMb()));
    return printFooter();
}
