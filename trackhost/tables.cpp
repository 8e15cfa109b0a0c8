#include "trackhost/tables.h"

#include "support/platform.h"

#include <cstring>

namespace trackhost {

HostTable::HostTable(Kind kind) : m_count(0)
{
    std::memset(&m_storage, 0, sizeof m_storage);
    std::memset(&m_mutex, 0, sizeof m_mutex);
    std::memset(m_trackers, 0, sizeof m_trackers);
    std::memset(m_controllers, 0, sizeof m_controllers);
    m_log.setName("CDataStorage");
    m_mutexLog.setName("CMutexH");
    if (kind == Trackers)
        m_storage.m_pTrackerTable = m_trackers;
    else
        m_storage.m_pControllerTable = m_controllers;
    m_storage.m_pLog = &m_log;
    m_storage.m_pCount = &m_count;
    m_mutex.m_hMutex = plat::createMutex();
    m_mutex.m_pLog = &m_mutexLog;
    m_storage.m_pMutex = &m_mutex;
}

HostTable::~HostTable() { plat::destroyMutex(m_mutex.m_hMutex); }

std::vector<TrackerRecord> HostTable::readTrackers(const std::uint8_t mask[4])
{
    std::vector<TrackerRecord> out;
    const std::vector<unsigned> ids = maskIds(mask);
    if (ids.empty() || !m_storage.m_pTrackerTable)
        return out;
    out.reserve(ids.size());
    // The devices write under this mutex; a failed lock has been logged by CMutexH.
    const bool locked = m_storage.lock();
    for (unsigned id : ids)
        out.push_back(m_trackers[id - 1]);
    if (locked)
        m_storage.unlock();
    return out;
}

std::vector<ControllerRecord> HostTable::readControllers(const std::uint8_t mask[4])
{
    std::vector<ControllerRecord> out;
    const std::vector<unsigned> ids = maskIds(mask);
    if (ids.empty() || !m_storage.m_pControllerTable)
        return out;
    out.reserve(ids.size());
    const bool locked = m_storage.lock();
    for (unsigned id : ids)
        out.push_back(m_controllers[id - 1]);
    if (locked)
        m_storage.unlock();
    return out;
}

std::vector<unsigned> maskIds(const std::uint8_t mask[4])
{
    std::vector<unsigned> ids;
    for (unsigned id = 1; id <= kMaxRecords; ++id) {
        if (mask[3 - (id - 1) / 8] & (1u << ((id - 1) % 8)))
            ids.push_back(id);
    }
    return ids;
}

} // namespace trackhost
