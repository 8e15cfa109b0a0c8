// Figures of a run per device and record id: how many records were written,
// at what rate, the longest pause between two of them, the device's failed
// recvData calls, and how old each record was when the host read it. Times
// are microseconds since 1970 (record time stamps and the host's reading
// clock alike), so the figures do not depend on how fast the loop ran.
// Per device also the longest recvData call: what the device cost the host's
// thread in one cycle, and the frames it refused, which a device says when
// it is stopped ("Frames refused: N of M read"), so they are known at the end.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "trackhost/series.h"

namespace trackhost {

class Stats {
public:
    struct Row {
        std::string device;
        unsigned id = 0;
        unsigned long long records = 0;
        double rateHz = 0;     // records per second between the first and the last time stamp
        double maxGapMs = 0;   // longest time between two time stamps in a row
        unsigned long failures = 0;
        unsigned long refused = 0; // frames, once the device has been stopped
        double ageP50Ms = 0, ageP99Ms = 0, ageMaxMs = 0;
    };

    // One record seen: its time stamp and when the host read it.
    void record(const std::string& device, unsigned id, std::int64_t stampUs, std::int64_t readUs);
    void failure(const std::string& device) { ++m_failures[device]; }
    // What a device printed when it was stopped.
    void stopOutput(const std::string& device, const std::string& text);
    // Every device has been stopped: its refused frames are known.
    void stopped() { m_stopped = true; }
    // One recvData call of a device: how long it took, in which cycle.
    void call(const std::string& device, std::int64_t durationUs, unsigned long cycle);

    // In the order devices and ids were first seen.
    std::vector<Row> rows() const;
    // A table for people, with a header line, then each device's longest call.
    std::string table() const;

private:
    struct Series {
        unsigned long long count = 0;
        std::int64_t first = 0, last = 0, maxGap = 0;
        // An even sample of the run's ages, small enough to stop growing a
        // few minutes into a run at 240 Hz, large enough for its p99.
        Thinned<std::int64_t, 20000> ages;
        std::int64_t maxAge = 0;
    };
    BySensor<Series> m_series;
    std::map<std::string, unsigned long> m_failures;
    std::map<std::string, unsigned long> m_refused;
    bool m_stopped = false;
    struct Longest {
        std::string device;
        std::int64_t us;
        unsigned long cycle;
    };
    std::vector<Longest> m_longest; // in the order devices were first called
};

} // namespace trackhost
