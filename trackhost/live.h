// The live display (--live): one line per device and record id with its
// newest position and angles, its rate and the age of its newest record.
// On a terminal the lines are redrawn in place ten times a second; anywhere
// else they come as plain lines once a second.
#pragma once

#include "trackhost/series.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace trackhost {

class LiveDisplay {
public:
    explicit LiveDisplay(bool terminal) : m_terminal(terminal) {}

    // One record read by the host at readUs; pose in feet and degrees.
    void record(const std::string& device, unsigned id, std::int64_t stampUs, std::int64_t readUs,
                const double (&pose)[6]);
    // Draws the lines if they are due at nowUs. The last drawing, at the end
    // of a run, is due on a terminal only (plain lines were shown already).
    void show(std::ostream& out, std::int64_t nowUs, bool last);
    // Something else was written below the lines: the next drawing starts afresh.
    void displaced() { m_lines = 0; }

private:
    struct Row {
        double pose[6] = {};
        unsigned long long count = 0;
        std::int64_t first = 0, last = 0, ageUs = 0;
    };
    BySensor<Row> m_rows;
    bool m_terminal;
    std::int64_t m_shown = 0;
    std::size_t m_lines = 0;
};

} // namespace trackhost
