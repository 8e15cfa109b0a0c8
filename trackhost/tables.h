// The host's shared record tables: one for trackers and one for controllers,
// each with its count, loggers and operating-system mutex, laid out the way
// the device modules expect. The harness reads the records a device names in
// its update masks under the same mutex the devices write them under.
#pragma once

#include "device/hostrecords.h"
#include "support/logger.h"
#include "support/storage.h"

#include <cstdint>
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

// One host record table (trackers or controllers).
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

} // namespace trackhost
