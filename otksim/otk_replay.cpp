// The simulated tracker as the one in a capture: its model, sensors and
// station map from the capture's metadata, its frames as they were read on
// site, at their recorded times and with their recorded frame counts.
#include "otksim/otk_internal.h"

#include <cstdio>
#include <cstdlib>

using Lock = std::unique_lock<std::mutex>;

namespace otkint {

namespace {

const char* const kFrameTopic = "/tarsis/frame";
const char* const kFormat = "1";

std::string where(const std::string& path, std::uint64_t at, const std::string& what)
{
    return "Cannot replay " + path + ": byte " + std::to_string(at) + ": " + what;
}

// A whole decimal or 0x hexadecimal number, at most 32 bits.
bool wholeNumber(const std::string& text, int base, std::uint32_t& out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (*end != '\0' || v > 0xFFFFFFFFull)
        return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

} // namespace

bool Replay::open(const std::string& path, double speed, bool loop, std::string& error)
{
    m_path = path;
    m_speed = speed;
    m_loop = loop;
    std::string why;
    if (!m_source.open(path, why)) {
        error = "Cannot replay " + path + ": cannot open it: " + why;
        return false;
    }
    mcap::Reader reader(m_source);
    for (;;) {
        const mcap::Reader::Item& item = reader.next();
        if (item.kind == mcap::Reader::Kind::Error || item.kind == mcap::Reader::Kind::Cut) {
            error = where(path, item.offset, item.why);
            return false;
        }
        if (item.kind == mcap::Reader::Kind::End || item.kind == mcap::Reader::Kind::DataEnd) {
            error = where(path, item.offset, "not a capture of the tracker device: no tarsis metadata");
            return false;
        }
        if (item.kind != mcap::Reader::Kind::Metadata || item.name != "tarsis")
            continue;
        const std::string* format = mcap::lookup(item.values, "capture_format");
        if (!format || *format != kFormat) {
            error = where(path, item.offset,
                          "unknown capture format '" + (format ? *format : std::string()) + "' (this replays " +
                              kFormat + ")");
            return false;
        }
        static const char* const kNeeded[] = {"tracker_type", "sensors_supported", "detected_map", "frame_rate"};
        const std::string* text[4];
        for (int k = 0; k < 4; ++k) {
            text[k] = mcap::lookup(item.values, kNeeded[k]);
            if (!text[k]) {
                error = where(path, item.offset, std::string("the tarsis metadata lacks ") + kNeeded[k]);
                return false;
            }
        }
        const std::string &typeText = *text[0], &sensorsText = *text[1], &mapText = *text[2], &rateText = *text[3];
        std::uint32_t type = 0, sensors = 0, map = 0, rate = 0;
        if (!wholeNumber(typeText, 10, type) || type > OV_TRACKER_BREVIK) {
            error = where(path, item.offset, "tracker type '" + typeText + "' is not one this tracker can be");
            return false;
        }
        if (!wholeNumber(sensorsText, 10, sensors) || sensors < 1 || sensors > 32) {
            error = where(path, item.offset, "sensors supported '" + sensorsText + "' is not 1 to 32");
            return false;
        }
        if (!wholeNumber(mapText, 16, map)) {
            error = where(path, item.offset, "detected map '" + mapText + "' is not a station map");
            return false;
        }
        const bool brevik = type == OV_TRACKER_BREVIK;
        if (!rateText.empty() && (!wholeNumber(rateText, 10, rate) || (brevik ? rate != 60 : rate != 120 && rate != 240))) {
            error = where(path, item.offset, "frame rate '" + rateText + "' is not one of this tracker");
            return false;
        }
        m_tracker.type = brevik ? OV_TRACKER_BREVIK : OV_TRACKER_TARSIS;
        m_tracker.maxSensors = static_cast<int>(sensors);
        m_tracker.stations = map;
        m_tracker.rateHz = static_cast<int>(rate);
        break;
    }
    return restart(error);
}

bool Replay::restart(std::string& why)
{
    m_reader.reset();
    if (!m_source.open(m_path, why)) {
        why = "Cannot replay " + m_path + ": cannot open it: " + why;
        return false;
    }
    m_reader.reset(new mcap::Reader(m_source));
    m_frameChannel = 0;
    m_passFrames = 0;
    return true;
}

Replay::Next Replay::next(Frame& out, std::string& why)
{
    for (;;) {
        const mcap::Reader::Item& item = m_reader->next();
        switch (item.kind) {
        case mcap::Reader::Kind::Channel:
            if (item.name == kFrameTopic)
                m_frameChannel = item.id;
            continue;
        case mcap::Reader::Kind::Message:
            if (!m_frameChannel || item.id != m_frameChannel)
                continue;
            if (!m_haveFirst) {
                m_haveFirst = true;
                m_firstTime = item.logTime;
                m_firstCount = item.sequence;
            }
            if (m_loopCount == 0) {
                m_lastTime = item.logTime;
                m_lastCount = item.sequence;
            }
            ++m_passFrames;
            out.bytes.assign(item.data, item.data + item.size);
            out.count = static_cast<unsigned long>(item.sequence + m_loopCount);
            {
                const std::uint64_t recorded = item.logTime > m_firstTime ? item.logTime - m_firstTime : 0;
                out.offsetNs = static_cast<std::uint64_t>(static_cast<double>(recorded + m_loopTimeNs) / m_speed);
            }
            return Next::Frame;
        case mcap::Reader::Kind::End:
        case mcap::Reader::Kind::DataEnd:
            if (item.kind == mcap::Reader::Kind::DataEnd)
                continue; // the summary repeats the data: the file ends here for a replay
            if (!m_loop || m_passFrames == 0)
                return Next::End;
            {
                // Counts go on from the last one, and the first frame comes
                // again one mean spacing of the capture's frames after the
                // last, so that the loop is one stream.
                const std::uint64_t span = m_lastTime - m_firstTime;
                const std::uint64_t spacing = m_passFrames > 1 ? span / (m_passFrames - 1)
                                              : m_tracker.rateHz ? 1000000000ull / static_cast<unsigned>(m_tracker.rateHz)
                                                                 : 1000000000ull / 60u;
                m_loopTimeNs += span + spacing;
                m_loopCount += static_cast<unsigned long>(m_lastCount - m_firstCount + 1);
            }
            if (!restart(why))
                return Next::Cut;
            continue;
        case mcap::Reader::Kind::Cut:
        case mcap::Reader::Kind::Error:
            why = "byte " + std::to_string(item.offset) + ": " + item.why;
            return Next::Cut;
        default:
            continue;
        }
    }
}

} // namespace otkint

bool otksim_dev::publishReplayFrame(otkint::Replay::Frame& frame, otkint::Replay::Next next, const std::string& why)
{
    if (next == otkint::Replay::Next::Frame) {
        published = std::move(frame.bytes);
        publishedAt = std::chrono::steady_clock::now();
        hostFrameCount = frame.count;
        ++replayFrames;
        return true;
    }
    if (replayState != ReplayState::Playing)
        return false;
    if (next == otkint::Replay::Next::End) {
        replayState = ReplayState::Ended;
        return false;
    }
    // A capture cut short ends like a tracker whose link was lost.
    replayState = ReplayState::EndedEarly;
    replayGone = true;
    connected = false;
    std::fprintf(stderr, "otksim: the capture %s ended early (%s) after %lu frames; the tracker is gone\n",
                 replay->path().c_str(), why.c_str(), replayFrames);
    std::fflush(stderr);
    return false;
}

void otksim_dev::replayLoop()
{
    Lock lock(dataMutex);
    const auto start = std::chrono::steady_clock::now();
    replayBaseSet = false;
    while (!stopRequested && replayState == ReplayState::Playing) {
        otkint::Replay::Frame frame;
        std::string why;
        // The file is read without the lock, so that calls go on meanwhile;
        // only this thread reads the replay while the stream runs.
        lock.unlock();
        const otkint::Replay::Next next = replay->next(frame, why);
        lock.lock();
        if (next != otkint::Replay::Next::Frame) {
            publishReplayFrame(frame, next, why);
            break;
        }
        // A restarted stream goes on with the next frame at once.
        if (!replayBaseSet) {
            replayBaseSet = true;
            replayBaseNs = frame.offsetNs;
        }
        const auto due = start + std::chrono::nanoseconds(frame.offsetNs - replayBaseNs);
        if (wake.wait_until(lock, due, [this] { return stopRequested; }))
            break;
        advance();
        if (!framesHeld())
            publishReplayFrame(frame, next, why);
    }
}
