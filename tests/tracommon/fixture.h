// Shared set-up for the CTraCommonH tests: a handler prepared the way the device
// framework prepares it, and parsing with the written lines captured.
#pragma once

#include "common/tracommon.h"
#include "helpers/capture.h"
#include "helpers/host.h"

#include <memory>
#include <string>
#include <vector>

namespace tratest {

using Lines = std::vector<std::string>;
const std::string kError = "tarsis0: ERROR: ";
const std::string kInfo = "tarsis0: INFO: ";

// N entries, the first `outputs` registered as outputs 1, 2, ... the way the
// framework registers the active stations.
inline std::unique_ptr<CTraCommonH> makeHandler(unsigned trackers, unsigned outputs, bool inputConnector = true)
{
    const CLogger log = testhelp::quietLogger();
    std::unique_ptr<CTraCommonH> h(new CTraCommonH(&log));
    h->m_bInputConnector = inputConnector;
    h->m_nOutTrackers = outputs;
    h->m_bCaveCoord = true;
    h->initTrackers(trackers);
    for (unsigned id = 1; id <= outputs; ++id)
        h->setTracker(id, id, nullptr, nullptr, nullptr);
    return h;
}

struct Parsed {
    bool ok;
    Lines lines;
};

// The loader's own lines (a calibration library that does not exist reports
// itself) are left out: they are not the handler's.
inline Parsed parse(CTraCommonH& h, testhelp::Config& cfg)
{
    testhelp::CaptureStdout out;
    Parsed r{h.parseConfig(cfg.get()), {}};
    for (const std::string& line : out.lines())
        if (line.find("CDynamicLibH:") == std::string::npos)
            r.lines.push_back(line);
    return r;
}

inline std::vector<float> row(const float* m, int r) { return std::vector<float>(m + 4 * r, m + 4 * r + 4); }

} // namespace tratest
