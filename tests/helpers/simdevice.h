// The simulated tracker behind a tracker device, for the simulator's control
// calls (frames pushed by hand, call counts, state). Tests, fuzz targets and
// benchmarks reach it only through here.
#pragma once

#include "otksim/otksim.h"
#include "tracker/ovtrackd.h"

namespace testhelp {

inline otksim::Device* simOf(OvTrackD& dev)
{
    return otksim::DeviceFor(dev.m_dev.object());
}

} // namespace testhelp
