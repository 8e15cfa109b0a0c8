// Capture: every frame the device reads, exactly as the SDK gave it, with the
// record values its samples became, written to an MCAP file (support/mcap.h)
// that any MCAP viewer opens and the simulated SDK replays.
//
// Channels of the file:
//  - /tarsis/frame: the frame's bytes; sequence = the SDK's host frame count,
//    log time = the host's clock (ns since 1970) when the device read it.
//  - /tarsis/poses: JSON, one message per frame: per stored sample its record
//    id, station, position (feet) and angles (degrees), which are the
//    record's words / 100000 written out exactly; left_out counts the frames
//    left out of the capture before this one.
//  - /tarsis/log: JSON, every console line of the device while capturing.
// Metadata "tarsis" describes the tracker and the device's option lines;
// "tarsis.end" closes the data with the counts and why the capture ended.
//
// Threads. begin and end run on the host's thread in start and stop (or the
// device's destruction): they create and finish the file. In between, the
// host's thread (update) only copies into a ring allocated at begin, never
// waits, never allocates and never touches the file: a full ring leaves the
// frame out and counts it. A writer thread of the capture formats the
// messages and writes whole chunks, at the latest half a second after their
// first message, so a killed host leaves a file readable up to its last
// chunk. The writer's failures (and the size limit) come back to the host's
// thread, which says them on the console with its next frame or at end.
#pragma once

#include "device/device.h"
#include "support/mcap.h"
#include "support/platform.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CaptureWriter;

class Capture {
public:
    // The capture's console lines (host thread only): the device prints them
    // as its own, so they reach the capture's log as well while it runs.
    using Say = void (*)(void* context, const char* line);

    static const std::uint32_t kDefaultLimitMb = 2048;
    static const std::uint32_t kMaxLimitMb = 1048576;

    Capture(const std::string& path, std::uint32_t limitMb, Say say, void* context);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    const std::string& path() const { return m_path; }
    std::uint32_t limitMb() const { return m_limitMb; }
    // The file being (or last) written; empty before the first begin.
    const std::string& file() const { return m_file; }
    bool running() const { return m_running; }

    // Creates the first free file name of the path (path, then STEM-1.EXT,
    // STEM-2.EXT, ...: an existing file is never overwritten), says which,
    // and starts the writer, which writes metadata (the "tarsis" record, with
    // the capture's own keys added) first. False after saying why not.
    bool begin(const mcap::KeyValues& metadata);
    // Finishes the file (summary, footer), waits for the writer and says
    // what was written. Nothing happens when not running.
    void end();

    // The host's side while running, per frame read: frame, with the time
    // the device read it (CDevice::clockNs), then for each stored sample
    // nextPose (null when the frame is left out) and, once setTraData filled
    // it, keepPose; then endFrame. line takes any console line of the device.
    void frame(const unsigned char* bytes, unsigned long length, std::uint32_t count, std::uint64_t timeNs);
    CDevice::WrittenPose* nextPose() { return m_poses < m_maxPoses ? &m_pose[m_poses].pose : nullptr; }
    void keepPose(unsigned station)
    {
        if (m_poses < m_maxPoses)
            m_pose[m_poses++].station = station;
    }
    void endFrame();
    void line(const char* text);

    // The names the path is tried under, n = 0, 1, 2 ...: the extension is
    // what follows the last dot of the last path component (not a leading
    // one); components are split at '/' and, on Windows, also at '\'.
    static std::string nameFor(const std::string& path, unsigned n, bool backslashSeparates);

    // Frames left out so far (host thread).
    std::uint32_t framesLeftOut() const { return m_leftOut; }

    // For tests and benchmarks. The ring's size for captures begun later (0:
    // the usual 4 MiB); a clock in ns since 1970 for the log times (null: the
    // times the device gives, and the system's clock for lines); a writer held back drains nothing until released (end
    // releases it); and discarding what the ring holds, for a benchmark that
    // holds the writer and measures the host's side alone.
    static void setRingBytesForTests(std::uint32_t bytes);
    void setClockForTests(std::uint64_t (*clockNs)()) { m_clock = clockNs; }
    void holdWriter(bool hold);
    void discardForBench();

private:
    struct PoseSlot {
        std::uint32_t station;
        CDevice::WrittenPose pose;
    };
    struct LogSlot {
        std::uint64_t timeNs;
        std::uint32_t length;
        char text[1012];
    };
    enum State { kRunning, kFailed, kLimit, kDone };

    std::uint64_t now() const;
    void say(const char* text) { m_say(m_sayContext, text); }
    void noticeWriter();
    bool reserve(std::uint32_t bytes, std::uint32_t& at);
    void writerMain(mcap::KeyValues metadata);
    bool drain(CaptureWriter& w);
    void finishFile(CaptureWriter& w, const char* why);

    const std::string m_path;
    const std::uint32_t m_limitMb;
    const Say m_say;
    void* const m_sayContext;
    std::uint64_t (*m_clock)() = nullptr;

    std::string m_file;
    bool m_running = false;
    bool m_live = false; // host side: frames still go to the ring
    plat::FileHandle m_handle = nullptr;

    // The frame ring: entries of whole multiples of 8 bytes; the host's
    // thread alone moves m_head, the writer alone m_tail.
    std::unique_ptr<unsigned char[]> m_ring;
    std::uint32_t m_ringBytes = 0;
    std::atomic<std::uint32_t> m_head{0};
    std::atomic<std::uint32_t> m_tail{0};
    // The open entry of the frame being read (host thread).
    bool m_open = false;
    std::uint32_t m_openAt = 0;
    std::uint32_t m_openLength = 0;
    PoseSlot* m_pose = nullptr;
    std::uint32_t m_poses = 0, m_maxPoses = 0;
    std::uint32_t m_leftOut = 0;
    bool m_saidBehind = false;

    // The log ring: fixed slots, same ownership.
    static const std::uint32_t kLogSlots = 64;
    std::unique_ptr<LogSlot[]> m_log;
    std::atomic<std::uint32_t> m_logHead{0};
    std::atomic<std::uint32_t> m_logTail{0};
    std::uint32_t m_logLeftOut = 0;

    // The writer thread and what it reports back.
    std::thread m_writer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;            // under m_mutex
    std::uint32_t m_finalLeftOut = 0; // under m_mutex: handed over with m_stop
    std::uint32_t m_finalLogLeftOut = 0;
    std::atomic<int> m_state{kDone};
    std::string m_failure;          // the system's reason, set before m_state
    std::uint64_t m_framesWritten = 0; // read after the join
    std::atomic<bool> m_hold{false};
    std::mutex m_drainMutex;        // held by the writer while it drains
};
