// The harness's host: one run over the devices of a configuration file, the
// way the host daemon drives them. It ties the rooms of the harness together:
// the device lifecycle (devices.h), the shared record tables (tables.h), and
// the outputs fed each cycle: console and JSON lines (format.h), the live
// display (live.h), the figures (stats.h) and the picture (plot.h); or, for
// --check, the verdict on the option lines (check.h).
//
// Order of calls, for all devices in file order: createDev, init, configure,
// start, then per cycle recvData on each device, then stop and deleteDev. All
// devices share one tracker and one controller table, each guarded by a real
// operating-system mutex that the harness also takes to read the records.
#pragma once

#include "trackhost/arguments.h"

#include <csignal>
#include <iosfwd>

namespace trackhost {

// Runs the whole life of every device in the file. Record lines and JSON for
// standard output go to out, every error line ("trackhost: ...") to err. The
// loop ends after options.cycles cycles or once *interrupted becomes nonzero.
// Returns 0 when every step succeeded, 1 otherwise.
int run(const Options& options, std::ostream& out, std::ostream& err, const volatile std::sig_atomic_t* interrupted);

} // namespace trackhost
