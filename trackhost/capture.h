// Captures of the tracker device (written with its "capture" line): what one
// holds, for --capture-info, and a run against one through the simulated
// tracker SDK, for --replay.
#pragma once

#include "support/mcap.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace trackhost {

struct Options;

// What a capture holds, read front to back with the project's MCAP reader.
struct CaptureSummary {
    bool readable = false;  // an MCAP file with the device's metadata
    bool complete = false;  // read to its footer
    std::uint64_t stoppedAt = 0; // where a file that is not complete stops
    std::string why;             // and what was wrong there
    mcap::KeyValues tarsis, end; // the "tarsis" and "tarsis.end" metadata
    std::uint64_t frames = 0;
    std::uint64_t firstNs = 0, lastNs = 0; // log times of the first and last frame
    std::uint32_t stations = 0;            // stations seen in the frames' records
    std::uint64_t lines = 0;               // /tarsis/log messages
    std::uint64_t leftOut = 0;             // frames left out of the capture
    bool leftOutKnown = false;             // from tarsis.end (else the last poses message)
    struct Gap {
        std::uint64_t atNs;  // the frame before it, from the first frame
        std::uint64_t ns;
        std::uint32_t before, after; // frame counts around it
    };
    double periodNs = 0;     // the frame period the gaps are measured in
    std::vector<Gap> gaps;   // longer than four frame periods
    std::uint64_t moreGaps = 0; // beyond the ones kept
};

// Reads the capture at path; false with why when it cannot even be opened.
bool summarise(const std::string& path, CaptureSummary& out, std::string& why);

// --capture-info: the summary as lines; 0 for a complete capture, 1 for one
// cut short or not a capture (said on err).
int captureInfo(const std::string& path, std::ostream& out, std::ostream& err);

// --replay: points the next module loads at the simulated SDK beside the
// harness (TARSIS_SDK_DIR) and at the capture (OTK_SIM, ahead of what the
// variable already held), and, unless the run has a cycle count or loops,
// ends the run after the capture's length at its speed. False after saying
// why on err.
bool prepareReplay(Options& options, std::ostream& err);

// The folder holding the simulated SDK (its core library) next to a harness
// in exeDir: a package's simulator/ folder, or the build's bin/ itself.
// Empty when neither has it.
std::string simulatorFolder(const std::string& exeDir);

} // namespace trackhost
