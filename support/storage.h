// CDataStorage and CMutexH: the host's shared record tables and their mutex.
//
// Contract: the host creates both objects, the table memory, the record count
// and the operating-system mutex, and keeps them for the life of all devices.
// The module only runs the operations below on the host's objects, so every
// field it reads sits at a fixed offset (pinned for 32-bit builds). A table
// has room for 32 records; record n (1-based) is entry n-1. The count getters
// and setters do not lock: callers hold lock() around a read-then-set.
#pragma once

#include "device/hostrecords.h"
#include "support/platform.h"

#include <cstddef>
#include <cstdint>

class CLogger;

class CMutexH {
public:
    // Room for the system's message text of one failure.
    enum { kTextSize = 512 };

    // Waits without a time limit; on failure logs "CMutexH: Locking mutex: "
    // followed by the system's message text, and returns false.
    bool lock();
    bool unlock();

    // The quiet halves of lock() and unlock(), for a caller that must print
    // nothing while it holds the mutex: on failure the system's text lands in
    // text (touched only then), and the matching report prints it later
    // exactly as lock() or unlock() would have.
    bool acquire(char* text, std::size_t size);
    bool release(char* text, std::size_t size);
    void reportLockFailure(const char* text) const;
    void reportUnlockFailure(const char* text) const;

    std::uint8_t m_hostReserved[68];
    plat::MutexHandle m_hMutex; // the host's operating-system mutex
    std::uint8_t m_hostReserved2[8];
    CLogger* m_pLog;
};

class CDataStorage {
public:
    bool setTrackerCount(unsigned n);
    bool setControllerCount(unsigned n);
    TrackerRecord* getTrackerRecord(unsigned n);
    unsigned getTrackerCount() const;
    unsigned getControllerCount() const;
    bool lock();
    bool unlock();

    std::uint32_t m_hostReserved0;
    TrackerRecord* m_pTrackerTable; // null when this storage holds no tracker table
    void* m_pControllerTable;       // null when this storage holds no controller table
    CLogger* m_pLog;
    std::uint32_t m_hostReserved16;
    CMutexH* m_pMutex;
    std::uint32_t m_hostReserved24[2];
    std::uint32_t* m_pCount; // number of records in use
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(offsetof(CMutexH, m_hMutex) == 68 && offsetof(CMutexH, m_pLog) == 80, "CMutexH field offsets");
static_assert(offsetof(CDataStorage, m_pTrackerTable) == 4 && offsetof(CDataStorage, m_pControllerTable) == 8 &&
                  offsetof(CDataStorage, m_pLog) == 12 && offsetof(CDataStorage, m_pMutex) == 20 &&
                  offsetof(CDataStorage, m_pCount) == 32,
              "CDataStorage field offsets");
#endif
