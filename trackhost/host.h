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

// One record of this host's controller table (the module only counts these;
// a controller device fills them). Every word 32-bit network order.
struct ControllerRecord {
    std::uint32_t id;         // 1..32
    std::uint32_t reserved4;
    std::uint32_t seconds;    // time stamp, as in TrackerRecord
    std::uint32_t micros;
    std::uint32_t buttons;    // bit n-1 set: button n is pressed
    std::uint32_t valuatorCount; // 0..kMaxValuators
    enum { kMaxValuators = 10 };
    std::int32_t valuators[kMaxValuators]; // each value x 100000
};
static_assert(sizeof(ControllerRecord) == 64, "a controller record is 64 bytes");

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
    // The same for the controller table and a controller mask.
    std::vector<ControllerRecord> readControllers(const std::uint8_t mask[4]);

private:
    CDataStorage m_storage;
    CMutexH m_mutex;
    CLogger m_log;
    CLogger m_mutexLog;
    std::uint32_t m_count;
    TrackerRecord m_trackers[kMaxRecords];
    ControllerRecord m_controllers[kMaxRecords];
};

// Record ids 1..32 whose bits are set in a network-order mask, ascending.
std::vector<unsigned> maskIds(const std::uint8_t mask[4]);

// A record for people: device, id, time stamp, position in feet and angles in
// degrees, decoded from network order and the factor 100000.
std::string formatRecord(const std::string& device, const TrackerRecord& record);
// A record as one JSON object with the stored integers, decoded from network order.
std::string jsonRecord(unsigned long cycle, const std::string& device, const TrackerRecord& record);
std::string formatController(const std::string& device, const ControllerRecord& record);
std::string jsonController(unsigned long cycle, const std::string& device, const ControllerRecord& record);
// Text for a JSON string: quotes, backslashes, control characters and bytes
// that are not UTF-8 escaped, so that every line stays valid JSON.
std::string jsonString(const std::string& text);

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
    bool check = false;   // create, init, stop and delete only; judge the option lines
    bool stats = false;   // figures per device and id at the end
    double statsEvery = 0; // seconds between figures while running; 0: none
    bool live = false;    // one line per record id, redrawn in place on a terminal
    std::string plotPath; // SVG picture of the run; empty: none
    // The host's reading clock in microseconds since 1970; null: the system clock.
    std::int64_t (*clock)() = nullptr;
    // Whether standard output is a terminal, for --live; null: ask the system.
    bool (*isTerminal)() = nullptr;
    // Called before each cycle with its number (tests push tracker frames here).
    void (*beforeCycle)(unsigned long cycle) = nullptr;
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
