// The harness's host side: the shared record tables, loading the device
// modules, driving them through their slots, and showing the records they
// write.
//
// Order of calls, for all devices in file order: createDev, init, configure,
// start, then per cycle recvData on each device, then stop and deleteDev. All
// devices share one tracker and one controller table, each guarded by a real
// operating-system mutex that the harness also takes to read the records.
#pragma once

#include "device/hostrecords.h"
#include "support/logger.h"
#include "support/storage.h"

#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace trackhost {

// One host record table (trackers or controllers) with its count, loggers and
// mutex, laid out the way the module expects.
class HostTable {
public:
    enum Kind { Trackers, Controllers };
    explicit HostTable(Kind kind);
    ~HostTable();
    HostTable(const HostTable&) = delete;
    HostTable& operator=(const HostTable&) = delete;

    bool hasMutex() const { return m_mutex.m_hMutex != nullptr; }
    CDataStorage* storage() { return &m_storage; }
    std::uint32_t count() const { return m_count; }
    // The records named by a tracker mask, copied under the table's mutex.
    std::vector<TrackerRecord> readTrackers(const std::uint8_t mask[4]);

private:
    CDataStorage m_storage;
    CMutexH m_mutex;
    CLogger m_log;
    CLogger m_mutexLog;
    std::uint32_t m_count;
    TrackerRecord m_trackers[kMaxRecords];
    std::uint8_t m_controllers[kMaxRecords][64];
};

// Record ids 1..32 whose bits are set in a network-order mask, ascending.
std::vector<unsigned> maskIds(const std::uint8_t mask[4]);

// A record for people: device, id, time stamp, position in feet and angles in
// degrees, decoded from network order and the factor 100000.
std::string formatRecord(const std::string& device, const TrackerRecord& record);
// A record as one JSON object with the stored integers, decoded from network order.
std::string jsonRecord(unsigned long cycle, const std::string& device, const TrackerRecord& record);

// Where a device's MODULE word points: a path is taken as it is; a bare name
// is looked for beside the running executable, as given and then with the
// platform's library suffix.
std::string resolveModule(const std::string& module);

struct Options {
    long long cycles = -1; // -1: until interrupted
    unsigned periodMs = 10;
    bool quiet = false;
    std::string jsonPath; // empty: none; "-": standard output
    std::string configPath;
};

const char* usageText();
// False with error set for a bad command line; help is set for --help.
bool parseArguments(int argc, const char* const* argv, Options& options, bool& help, std::string& error);

// Runs the whole life of every device in the file. Record lines and JSON for
// standard output go to out, every error line ("trackhost: ...") to err. The
// loop ends after options.cycles cycles or once *interrupted becomes nonzero.
// Returns 0 when every step succeeded, 1 otherwise.
int run(const Options& options, std::ostream& out, std::ostream& err, const volatile std::sig_atomic_t* interrupted);

} // namespace trackhost
