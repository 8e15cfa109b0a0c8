#include "tracker/capture.h"

#include "support/utf8.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

namespace {

// A frame entry of the ring: its head, the frame's bytes (padded to 8), then
// a slot per pose. A pad entry fills the ring's end when the next entry
// does not fit there.
struct EntryHead {
    std::uint32_t bytes;
    std::uint32_t kind;
};
struct FrameHead {
    std::uint64_t timeNs;
    std::uint32_t count;
    std::uint32_t length;
    std::uint32_t poses;
    std::uint32_t leftOut;
};
const std::uint32_t kFrameEntry = 1;
const std::uint32_t kPadEntry = 2;
const std::uint32_t kEntryHeadBytes = sizeof(EntryHead) + sizeof(FrameHead);
static_assert(kEntryHeadBytes % 8 == 0, "entries stay 8-byte aligned");

const std::uint32_t kRecordSize = 32;     // one station's record in a frame
const std::uint32_t kMaxPoses = 32;       // stations of a frame the device stores
const std::uint32_t kPoseSlotBytes = 32;  // a station and what its record holds
const std::uint32_t kUsualRingBytes = 4u << 20;
std::uint32_t g_ringBytes = 0; // tests: the size of rings allocated later

// Chunks are written whole, once they reach this size or this age.
const std::size_t kChunkBytes = 512u << 10;
const auto kChunkAge = std::chrono::milliseconds(500);
const auto kWriterPause = std::chrono::milliseconds(20);
const auto kPathCheck = std::chrono::seconds(1);

std::uint32_t align8(std::uint32_t n) { return (n + 7u) & ~7u; }

// A record's word / 100000, exactly: the decimal digits of the word with the
// point put in, trailing zeros dropped.
void appendScaled(std::string& out, std::int32_t word)
{
    std::int64_t v = word;
    if (v < 0) {
        out += '-';
        v = -v;
    }
    char text[32];
    int n = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v / 100000));
    out.append(text, static_cast<std::size_t>(n));
    const int fraction = static_cast<int>(v % 100000);
    if (fraction) {
        n = std::snprintf(text, sizeof text, ".%05d", fraction);
        while (text[n - 1] == '0')
            --n;
        out.append(text, static_cast<std::size_t>(n));
    }
}

void appendNumber(std::string& out, unsigned long long v)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%llu", v);
    out.append(text, static_cast<std::size_t>(n));
}

// A JSON string; bytes that are not UTF-8 become U+FFFD.
void appendJsonString(std::string& out, const char* text, std::size_t size)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    out += '"';
    for (std::size_t i = 0; i < size;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
            ++i;
        } else {
            const std::size_t n = utf8Length(p + i, size - i);
            if (n == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text + i, n);
                i += n;
            }
        }
    }
    out += '"';
}

const char* const kPosesSchema =
    "{\"title\":\"tarsis poses\",\"description\":\"One frame as the device stored it: per sample its record id, "
    "station, position and angles as the record holds them (its words / 100000)\",\"type\":\"object\","
    "\"properties\":{\"frame\":{\"type\":\"integer\",\"description\":\"the SDK's host frame count\"},"
    "\"left_out\":{\"type\":\"integer\",\"description\":\"frames left out of the capture before this one\"},"
    "\"sensors\":{\"type\":\"array\",\"items\":{\"type\":\"object\",\"properties\":{"
    "\"id\":{\"type\":\"integer\",\"description\":\"record id\"},"
    "\"station\":{\"type\":\"integer\",\"description\":\"the tracker's station, from 1\"},"
    "\"position\":{\"type\":\"array\",\"items\":{\"type\":\"number\"},\"minItems\":3,\"maxItems\":3,"
    "\"description\":\"x, y, z in feet\"},"
    "\"angles\":{\"type\":\"array\",\"items\":{\"type\":\"number\"},\"minItems\":3,\"maxItems\":3,"
    "\"description\":\"azimuth, elevation, roll in degrees\"}},"
    "\"required\":[\"id\",\"station\",\"position\",\"angles\"]}}},"
    "\"required\":[\"frame\",\"left_out\",\"sensors\"]}";

const char* const kLogSchema =
    "{\"title\":\"tarsis log\",\"description\":\"A console line of the device\",\"type\":\"object\","
    "\"properties\":{\"line\":{\"type\":\"string\"}},\"required\":[\"line\"]}";

} // namespace

// The writer thread's side: the MCAP writer over the file, and the messages'
// formats.
class CaptureWriter {
public:
    explicit CaptureWriter(plat::FileHandle file) : m_file(file), m_writer(&CaptureWriter::sink, this) {}

    bool start(const mcap::KeyValues& metadata)
    {
        std::string library = "tarsis";
        if (const std::string* version = mcap::lookup(metadata, "module_version"))
            library += " " + *version;
        if (!m_writer.start(std::string(), library))
            return false;
        const std::uint16_t poses = m_writer.addSchema("tarsis.poses", "jsonschema", kPosesSchema);
        const std::uint16_t log = m_writer.addSchema("tarsis.log", "jsonschema", kLogSchema);
        m_frameChannel = m_writer.addChannel(
            0, "/tarsis/frame", "tarsis.frame",
            {{"record_bytes", "32"},
             {"layout", "per station: an 8-byte header (the station in byte 2), then x, y, z (inches) and azimuth, "
                        "elevation, roll (degrees) as little-endian IEEE singles"}});
        m_posesChannel = m_writer.addChannel(poses, "/tarsis/poses", "json", {});
        m_logChannel = m_writer.addChannel(log, "/tarsis/log", "json", {});
        return m_writer.metadata("tarsis", metadata);
    }

    bool frame(const FrameHead& head, const unsigned char* bytes, const void* poses)
    {
        if (!m_writer.message(m_frameChannel, head.count, head.timeNs, head.timeNs, bytes, head.length))
            return false;
        m_leftOut = std::max(m_leftOut, head.leftOut);
        m_json = "{\"frame\":";
        appendNumber(m_json, head.count);
        m_json += ",\"left_out\":";
        appendNumber(m_json, head.leftOut);
        m_json += ",\"sensors\":[";
        for (std::uint32_t i = 0; i < head.poses; ++i) {
            std::uint32_t station;
            CDevice::WrittenPose pose;
            const unsigned char* slot = static_cast<const unsigned char*>(poses) + i * kPoseSlotBytes;
            std::memcpy(&station, slot, sizeof station);
            std::memcpy(&pose, slot + sizeof station, sizeof pose);
            m_json += i ? ",{\"id\":" : "{\"id\":";
            appendNumber(m_json, pose.id);
            m_json += ",\"station\":";
            appendNumber(m_json, station);
            m_json += ",\"position\":[";
            for (int k = 0; k < 6; ++k) {
                if (k == 3)
                    m_json += "],\"angles\":[";
                else if (k)
                    m_json += ',';
                appendScaled(m_json, pose.pose[k]);
            }
            m_json += "]}";
        }
        m_json += "]}";
        ++m_frames;
        return m_writer.message(m_posesChannel, head.count, head.timeNs, head.timeNs, m_json.data(), m_json.size());
    }

    bool line(std::uint64_t timeNs, const char* text, std::size_t size)
    {
        m_json = "{\"line\":";
        appendJsonString(m_json, text, size);
        m_json += '}';
        return m_writer.message(m_logChannel, ++m_lines, timeNs, timeNs, m_json.data(), m_json.size());
    }

    bool end(std::uint32_t leftOut, std::uint32_t logLeftOut, const char* why)
    {
        mcap::KeyValues values = {{"frames", std::to_string(m_frames)},
                                  {"frames_left_out", std::to_string(std::max(leftOut, m_leftOut))},
                                  {"log_lines", std::to_string(m_lines)},
                                  {"log_lines_left_out", std::to_string(logLeftOut)},
                                  {"ended", why}};
        return m_writer.metadata("tarsis.end", values) && m_writer.finish();
    }

    mcap::Writer& writer() { return m_writer; }
    const std::string& why() const { return m_why; }
    void failed(const char* why) { m_why = why; }
    std::uint64_t frames() const { return m_frames; }

private:
    static bool sink(void* context, const void* data, std::size_t size)
    {
        CaptureWriter* w = static_cast<CaptureWriter*>(context);
        char text[256];
        if (plat::writeFile(w->m_file, data, size, text, sizeof text))
            return true;
        w->m_why = text;
        return false;
    }

    plat::FileHandle m_file;
    mcap::Writer m_writer;
    std::uint16_t m_frameChannel = 0, m_posesChannel = 0, m_logChannel = 0;
    std::string m_json;
    std::string m_why;
    std::uint64_t m_frames = 0;
    std::uint32_t m_lines = 0;
    std::uint32_t m_leftOut = 0;
};

Capture::Capture(const std::string& path, std::uint32_t limitMb, Say say, void* context)
    : m_path(path), m_limitMb(limitMb), m_say(say), m_sayContext(context)
{
}

Capture::~Capture() { end(); }

void Capture::setRingBytesForTests(std::uint32_t bytes) { g_ringBytes = bytes; }

std::uint64_t Capture::now() const { return m_clock ? m_clock() : CDevice::clockNs(); }

std::string Capture::nameFor(const std::string& path, unsigned n, bool backslashSeparates)
{
    if (n == 0)
        return path;
    const std::size_t slash = path.find_last_of(backslashSeparates ? "/\\:" : "/");
    const std::size_t component = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    const std::string number = "-" + std::to_string(n);
    if (dot == std::string::npos || dot <= component)
        return path + number;
    return path.substr(0, dot) + number + path.substr(dot);
}

bool Capture::begin(const mcap::KeyValues& metadata)
{
    if (m_running)
        return true;
    char line[1200];
    const std::uint32_t ringBytes = g_ringBytes ? g_ringBytes : kUsualRingBytes;
    if (!m_ring || m_ringBytes != ringBytes) {
        m_ring.reset(new (std::nothrow) unsigned char[ringBytes]);
        m_ringBytes = m_ring ? ringBytes : 0;
    }
    if (!m_log)
        m_log.reset(new (std::nothrow) LogSlot[kLogSlots]);
    if (!m_ring || !m_log) {
        std::snprintf(line, sizeof line, "Capture not possible: no memory for its ring (%s)", m_path.c_str());
        say(line);
        return false;
    }
#ifdef _WIN32
    const bool backslash = true;
#else
    const bool backslash = false;
#endif
    plat::FileHandle handle = nullptr;
    std::string name;
    for (unsigned n = 0; n < 10000 && !handle; ++n) {
        name = nameFor(m_path, n, backslash);
        bool exists = false;
        char why[256];
        handle = plat::createNewFile(name.c_str(), exists, why, sizeof why);
        if (!handle && !exists) {
            std::snprintf(line, sizeof line, "Capture not possible: cannot create %s: %s", name.c_str(), why);
            say(line);
            return false;
        }
    }
    if (!handle) {
        std::snprintf(line, sizeof line, "Capture not possible: %s and 9999 more names are taken", m_path.c_str());
        say(line);
        return false;
    }
    m_file = name;
    m_handle = handle;
    m_head.store(0);
    m_tail.store(0);
    m_logHead.store(0);
    m_logTail.store(0);
    m_open = false;
    m_poses = m_maxPoses = 0;
    m_leftOut = m_logLeftOut = 0;
    m_saidBehind = false;
    m_stop = false;
    m_failure.clear();
    m_framesWritten = 0;
    m_state.store(kRunning);

    mcap::KeyValues values = metadata;
    values.emplace_back("capture_format", "1");
    values.emplace_back("file", m_file);
    values.emplace_back("limit_mb", std::to_string(m_limitMb));
    values.emplace_back("ring_bytes", std::to_string(m_ringBytes));
    try {
        m_writer = std::thread(&Capture::writerMain, this, std::move(values));
    } catch (const std::system_error& e) {
        char why[256];
        plat::closeFile(m_handle, why, sizeof why);
        std::remove(m_file.c_str());
        m_state.store(kDone);
        std::snprintf(line, sizeof line, "Capture not possible: cannot start its writer for %s: %s", m_file.c_str(),
                      e.what());
        say(line);
        return false;
    }
    m_running = m_live = true;
    std::snprintf(line, sizeof line, "Capturing to %s", m_file.c_str());
    say(line);
    return true;
}

void Capture::noticeWriter()
{
    const int state = m_state.load(std::memory_order_acquire);
    if (state == kRunning)
        return;
    m_live = false;
    char line[1400];
    if (state == kFailed) {
        std::snprintf(line, sizeof line, "Capture ended: cannot write %s: %s", m_file.c_str(), m_failure.c_str());
        say(line);
    } else if (state == kLimit) {
        std::snprintf(line, sizeof line, "Capture stopped at its limit of %lu MB: %s",
                      static_cast<unsigned long>(m_limitMb), m_file.c_str());
        say(line);
    }
}

bool Capture::reserve(std::uint32_t bytes, std::uint32_t& at)
{
    const std::uint32_t head = m_head.load(std::memory_order_relaxed);
    const std::uint32_t tail = m_tail.load(std::memory_order_acquire);
    const std::uint32_t pos = head & (m_ringBytes - 1);
    const std::uint32_t pad = m_ringBytes - pos < bytes ? m_ringBytes - pos : 0;
    if (m_ringBytes - (head - tail) < pad + bytes)
        return false;
    if (pad) {
        const EntryHead e{pad, kPadEntry};
        std::memcpy(&m_ring[pos], &e, sizeof e);
    }
    at = head + pad;
    return true;
}

void Capture::frame(const unsigned char* bytes, unsigned long length, std::uint32_t count, std::uint64_t timeNs)
{
    if (m_open)
        endFrame();
    m_poses = m_maxPoses = 0;
    if (!m_live)
        return;
    noticeWriter();
    if (!m_live)
        return;
    static_assert(sizeof(PoseSlot) == kPoseSlotBytes, "the writer reads pose slots of this size");
    const std::uint32_t records = static_cast<std::uint32_t>(length / kRecordSize);
    const std::uint32_t poses = records < kMaxPoses ? records : kMaxPoses;
    const std::uint64_t need = kEntryHeadBytes + ((static_cast<std::uint64_t>(length) + 7u) & ~7ull) +
                               std::uint64_t(poses) * sizeof(PoseSlot);
    std::uint32_t at = 0;
    if (need > m_ringBytes / 2 || !reserve(static_cast<std::uint32_t>(need), at)) {
        if (++m_leftOut == 1 && !m_saidBehind) {
            m_saidBehind = true;
            char line[1200];
            std::snprintf(line, sizeof line,
                          "Capture falls behind: frames are left out of %s and counted there (a slow disk?)",
                          m_file.c_str());
            say(line);
        }
        return;
    }
    unsigned char* entry = &m_ring[at & (m_ringBytes - 1)];
    const FrameHead head{m_clock ? m_clock() : timeNs, count, static_cast<std::uint32_t>(length), 0, m_leftOut};
    std::memcpy(entry + sizeof(EntryHead), &head, sizeof head);
    std::memcpy(entry + kEntryHeadBytes, bytes, length);
    m_pose = reinterpret_cast<PoseSlot*>(entry + kEntryHeadBytes + align8(static_cast<std::uint32_t>(length)));
    m_maxPoses = poses;
    m_openAt = at;
    m_openLength = static_cast<std::uint32_t>(length);
    m_open = true;
}

void Capture::endFrame()
{
    if (!m_open)
        return;
    m_open = false;
    unsigned char* entry = &m_ring[m_openAt & (m_ringBytes - 1)];
    const std::uint32_t bytes = kEntryHeadBytes + align8(m_openLength) + m_poses * sizeof(PoseSlot);
    const EntryHead e{bytes, kFrameEntry};
    std::memcpy(entry, &e, sizeof e);
    std::memcpy(entry + sizeof(EntryHead) + offsetof(FrameHead, poses), &m_poses, sizeof m_poses);
    m_poses = m_maxPoses = 0;
    m_head.store(m_openAt + bytes, std::memory_order_release);
}

void Capture::line(const char* text)
{
    if (!m_live)
        return;
    const std::uint32_t head = m_logHead.load(std::memory_order_relaxed);
    if (head - m_logTail.load(std::memory_order_acquire) >= kLogSlots) {
        ++m_logLeftOut;
        return;
    }
    LogSlot& slot = m_log[head % kLogSlots];
    const std::size_t length = std::strlen(text);
    slot.length = static_cast<std::uint32_t>(length < sizeof slot.text ? length : sizeof slot.text);
    std::memcpy(slot.text, text, slot.length);
    slot.timeNs = now();
    m_logHead.store(head + 1, std::memory_order_release);
}

void Capture::holdWriter(bool hold)
{
    m_hold.store(hold);
    // Once this returns, a writer that was draining has finished doing so.
    std::lock_guard<std::mutex> draining(m_drainMutex);
}

void Capture::discardForBench()
{
    m_tail.store(m_head.load(std::memory_order_relaxed), std::memory_order_release);
    m_logTail.store(m_logHead.load(std::memory_order_relaxed), std::memory_order_release);
}

bool Capture::drain(CaptureWriter& w)
{
    const std::uint32_t head = m_head.load(std::memory_order_acquire);
    const std::uint32_t logHead = m_logHead.load(std::memory_order_acquire);
    std::uint32_t tail = m_tail.load(std::memory_order_relaxed);
    std::uint32_t logTail = m_logTail.load(std::memory_order_relaxed);
    while (tail != head || logTail != logHead) {
        const unsigned char* entry = &m_ring[tail & (m_ringBytes - 1)];
        EntryHead e{0, 0};
        FrameHead f{0, 0, 0, 0, 0};
        if (tail != head) {
            std::memcpy(&e, entry, sizeof e);
            if (e.kind == kPadEntry) {
                tail += e.bytes;
                m_tail.store(tail, std::memory_order_release);
                continue;
            }
            std::memcpy(&f, entry + sizeof e, sizeof f);
        }
        // Frames and lines go in the order of their times.
        const LogSlot& slot = m_log[logTail % kLogSlots];
        if (logTail != logHead && (tail == head || slot.timeNs <= f.timeNs)) {
            if (!w.line(slot.timeNs, slot.text, slot.length))
                return false;
            m_logTail.store(++logTail, std::memory_order_release);
        } else {
            const unsigned char* bytes = entry + kEntryHeadBytes;
            if (!w.frame(f, bytes, bytes + align8(f.length)))
                return false;
            tail += e.bytes;
            m_tail.store(tail, std::memory_order_release);
        }
        if (w.writer().chunkBytes() >= kChunkBytes && !w.writer().closeChunk())
            return false;
    }
    return true;
}

void Capture::finishFile(CaptureWriter& w, const char* why)
{
    std::uint32_t leftOut, logLeftOut;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        leftOut = m_finalLeftOut;
        logLeftOut = m_finalLogLeftOut;
    }
    char text[256];
    const bool finished = w.end(leftOut, logLeftOut, why);
    const bool closed = plat::closeFile(m_handle, text, sizeof text);
    if (finished && !closed)
        w.failed(text);
    m_framesWritten = w.frames();
    if (!finished || !closed) {
        m_failure = w.why();
        m_state.store(kFailed, std::memory_order_release);
    } else {
        m_state.store(std::strcmp(why, "limit") == 0 ? kLimit : kDone, std::memory_order_release);
    }
}

void Capture::writerMain(mcap::KeyValues metadata)
{
    using Clock = std::chrono::steady_clock;
    CaptureWriter w(m_handle);
    const std::uint64_t limit = static_cast<std::uint64_t>(m_limitMb) << 20;
    bool ok = w.start(metadata);
    Clock::time_point chunkOpened = Clock::now();
    Clock::time_point checked = Clock::now();
    while (ok) {
        bool stopping;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_stop)
                m_wake.wait_for(lock, kWriterPause, [this] { return m_stop; });
            stopping = m_stop;
        }
        const bool wasEmpty = w.writer().chunkMessages() == 0;
        {
            std::lock_guard<std::mutex> draining(m_drainMutex);
            if (stopping || !m_hold.load())
                ok = drain(w);
        }
        const Clock::time_point now = Clock::now();
        if (wasEmpty && w.writer().chunkMessages() > 0)
            chunkOpened = now;
        if (ok && w.writer().chunkMessages() > 0 && now - chunkOpened >= kChunkAge)
            ok = w.writer().closeChunk();
        if (ok && (stopping || w.writer().offset() + w.writer().chunkBytes() >= limit)) {
            finishFile(w, stopping ? "stop" : "limit");
            return;
        }
        if (ok && now - checked >= kPathCheck) {
            // A file whose path is gone takes writes that nobody will read.
            checked = now;
            char why[256];
            if (!plat::fileAtPath(m_handle, m_file.c_str(), why, sizeof why)) {
                w.failed(why);
                ok = false;
            }
        }
    }
    char text[256];
    plat::closeFile(m_handle, text, sizeof text);
    m_framesWritten = w.frames();
    m_failure = w.why();
    m_state.store(kFailed, std::memory_order_release);
}

void Capture::end()
{
    if (!m_running)
        return;
    endFrame();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_finalLeftOut = m_leftOut;
        m_finalLogLeftOut = m_logLeftOut;
    }
    m_hold.store(false);
    m_wake.notify_all();
    m_writer.join();
    m_running = false;
    if (m_live)
        noticeWriter();
    m_live = false;
    if (m_state.load() != kFailed) {
        char line[1200];
        std::snprintf(line, sizeof line, "Capture finished: %s, %llu frames, %lu left out", m_file.c_str(),
                      static_cast<unsigned long long>(m_framesWritten), static_cast<unsigned long>(m_leftOut));
        say(line);
    }
}
