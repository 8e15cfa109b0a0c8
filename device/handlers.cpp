// The device's option-handler steps: create the tracker and controller
// handlers, register sensors, parse the common options, claim the device's
// records in the host's tables, run the calibration hooks, and close the report.
#include "device/device.h"

#include "common/concommon.h"
#include "common/tracommon.h"
#include "support/calib.h"
#include "support/platform.h"
#include "support/storage.h"

#include <iostream>
#include <memory>

namespace {
CTraCommonH* makeTrackerHandler(const CLogger* log, bool inputConnector, unsigned outTrackers, unsigned maxTrackers)
{
    // Owned here until complete, so a failed allocation inside leaks nothing.
    std::unique_ptr<CTraCommonH> handler(new CTraCommonH(log));
    handler->m_bInputConnector = inputConnector;
    handler->m_nOutTrackers = outTrackers;
    handler->m_bCaveCoord = true;
    handler->initTrackers(maxTrackers);
    return handler.release();
}

// Unlocks the table on every way out of a scope, a throw included, so the
// host's mutex is never left held. A failed lock is released as well: a wait
// that failed on an abandoned mutex still made us its owner.
class TableLock {
public:
    explicit TableLock(CDataStorage* storage) : m_storage(storage), m_held(storage->lock()) {}
    ~TableLock() { m_storage->unlock(); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    // False when the lock failed (the storage has reported it): then another
    // device may be claiming records at the same time, so nothing is written.
    bool held() const { return m_held; }

private:
    CDataStorage* m_storage;
    bool m_held;
};
} // namespace

bool CDevice::initTables()
{
    if (!m_pInit)
        return false;
    if (m_nControllers > 0 && !initControllerTable())
        return false;
    if (m_nTrackers > 0) {
        if (!m_pInit->pTraStorage) {
            m_pLog->error("Tracker data storage pointer is empty.", true);
            return false;
        }
        // A second call starts the tracker handler over instead of leaking it;
        // the pointer is cleared first so that a failed allocation below
        // leaves no freed handler behind for the destructor.
        delete m_pInit->pTraCommon;
        m_pInit->pTraCommon = nullptr;
        m_pInit->pTraCommon = makeTrackerHandler(m_pLog, m_bInputConnector, m_nTrackers, m_nMaxTrackers);
    }
    return true;
}

bool CDevice::initControllerTable()
{
    if (!m_pInit->pConStorage) {
        m_pLog->error("Controller data storage pointer is empty.", true);
        return false;
    }
    delete m_pInit->pConCommon;
    m_pInit->pConCommon = nullptr;
    std::unique_ptr<CConCommonH> handler(new CConCommonH(m_pLog));
    handler->m_bInputConnector = m_bInputConnector;
    handler->m_nOutControllers = m_nControllers;
    handler->initControllers(m_nMaxControllers, true);
    m_pInit->pConCommon = handler.release();
    return true;
}

bool CDevice::setTraId(unsigned sensor, unsigned id)
{
    if (!m_pInit || !m_pInit->pTraCommon)
        return false;
    return m_pInit->pTraCommon->setTracker(sensor, id, nullptr, nullptr, nullptr);
}

bool CDevice::initCommonOpts()
{
    if (!m_pInit)
        return false;
    bool result = true;
    if (m_nControllers > 0 && !initControllerOpts())
        return false;
    if (m_nTrackers + m_nEmulated == 0)
        return result;

    CTraCommonH* tra = m_pInit->pTraCommon;
    CDataStorage* storage = m_pInit->pTraStorage;
    if (!tra || !storage)
        return false;
    // A refused common option line does not fail initialisation: its own
    // message is the operator's only trace.
    tra->parseConfig(m_pConfig);

    // Read-then-set under the table's lock, so two devices never claim the
    // same records; the earlier devices' records come first.
    const TableLock lock(storage);
    if (!lock.held())
        return false;
    tra->m_nIdOffset = storage->getTrackerCount();
    result = storage->setTrackerCount(tra->m_nIdOffset + tra->m_nOutTrackers);
    if (m_nEmulated > 0 && !fillEmulatedRecords())
        result = false;
    return result;
}

bool CDevice::initControllerOpts()
{
    CConCommonH* con = m_pInit->pConCommon;
    CDataStorage* conStorage = m_pInit->pConStorage;
    if (!con || !conStorage)
        return false;
    con->parseConfig(m_pConfig);

    // The controller lock is released before the tracker lock is ever taken.
    bool counted;
    {
        const TableLock lock(conStorage);
        if (!lock.held())
            return false;
        con->m_nIdOffset = conStorage->getControllerCount();
        counted = conStorage->setControllerCount(con->m_nIdOffset + m_nControllers);
    }
    if (!counted)
        return false;

    m_nEmulated = con->setEmuTrackerIds(m_nTrackers + 1);
    if (m_nEmulated == 0)
        return true;
    if (!m_pInit->pTraStorage) {
        m_pLog->error("Tracker data storage pointer is empty.", true);
        return false;
    }
    if (!m_pInit->pTraCommon)
        m_pInit->pTraCommon = makeTrackerHandler(m_pLog, m_bInputConnector, m_nEmulated, m_nMaxTrackers);
    else
        m_pInit->pTraCommon->m_nOutTrackers = m_nTrackers + m_nEmulated;
    for (unsigned i = 1; i <= m_nEmulated; ++i)
        m_pInit->pTraCommon->setTracker(m_nTrackers + i, m_nTrackers + i, nullptr, nullptr, nullptr);
    return true;
}

bool CDevice::fillEmulatedRecords()
{
    CTraCommonH* tra = m_pInit->pTraCommon;
    CConCommonH* con = m_pInit->pConCommon;
    bool result = true;
    for (unsigned i = 1; i <= m_nEmulated; ++i) {
        TrackerRecord* record = m_pInit->pTraStorage->getTrackerRecord(tra->m_nIdOffset + m_nTrackers + i);
        if (!record) {
            m_pLog->error("Could not find tracker data entry.", true);
            result = false;
            continue;
        }
        // Emulated record i comes from the i-th controller that emulates a
        // tracker, whichever controller number that is.
        if (con)
            con->setEmuTraData(con->emulatingController(i), record, nullptr);
        const unsigned id = plat::netToHost32(record->id) + tra->m_nIdOffset;
        if (id >= 1 && id <= kMaxRecords)
            record->id = plat::hostToNet32(id);
    }
    return result;
}

bool CDevice::initCalib()
{
    if (!m_pInit || !m_pInit->pTraCommon || !m_pInit->pTraCommon->m_pCalib)
        return true;
    CTraCommonH* tra = m_pInit->pTraCommon;
    return tra->m_pCalib->init(tra->m_pszCalibArgs, static_cast<int>(tra->m_nCalibArgs));
}

bool CDevice::deinitCalib()
{
    if (!m_pInit || !m_pInit->pTraCommon || !m_pInit->pTraCommon->m_pCalib)
        return true;
    return m_pInit->pTraCommon->m_pCalib->exit();
}

bool CDevice::printFooter()
{
    if (m_pInit && m_pInit->pConCommon)
        m_pInit->pConCommon->printOptions();
    if (m_pInit && m_pInit->pTraCommon)
        m_pInit->pTraCommon->printOptions(true);
    m_pLog->info("-----------------------", true);
    std::cout.flush();
    return true;
}
