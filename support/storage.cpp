#include "support/storage.h"

#include "support/logger.h"

#include <iostream>

namespace {

// Reports a refused count change on the storage's logger, if the host gave one.
bool refuse(const CLogger* log, const char* message)
{
    if (log)
        log->error(message, true);
    return false;
}

// A failed wait or release: the prefix goes through the logger with the line
// left open, the system's own text finishes it on standard output. Without a
// logger the whole report is skipped rather than leaving a bare text line.
void reportMutexFailure(const CLogger* log, const char* prefix, const char* systemText)
{
    if (!log)
        return;
    log->error(prefix, false);
    std::cout << systemText << std::endl;
}

} // namespace

// The text buffers stay untouched on success: the platform writes them only
// when a call fails, and every record write passes through here.
bool CMutexH::acquire(char* text, std::size_t size) { return plat::lockMutex(m_hMutex, text, size); }

bool CMutexH::release(char* text, std::size_t size) { return plat::unlockMutex(m_hMutex, text, size); }

void CMutexH::reportLockFailure(const char* text) const
{
    reportMutexFailure(m_pLog, "CMutexH: Locking mutex: ", text);
}

void CMutexH::reportUnlockFailure(const char* text) const
{
    reportMutexFailure(m_pLog, "CMutexH: Unlocking mutex: ", text);
}

bool CMutexH::lock()
{
    char text[kTextSize];
    if (acquire(text, sizeof text))
        return true;
    reportLockFailure(text);
    return false;
}

bool CMutexH::unlock()
{
    char text[kTextSize];
    if (release(text, sizeof text))
        return true;
    reportUnlockFailure(text);
    return false;
}

bool CDataStorage::setTrackerCount(unsigned n)
{
    // The order of the checks decides which message a host sees first.
    if (n > kMaxRecords)
        return refuse(m_pLog, "CDataStorage: The new number is too big.");
    if (m_pControllerTable)
        return refuse(m_pLog, "Delete controller data list first.");
    if (!m_pTrackerTable)
        return refuse(m_pLog, "CDataStorage: Data storage has not been created yet.");
    if (!m_pMutex)
        return refuse(m_pLog, "CDataStorage: Mutex has not been set up yet.");
    if (n == 0)
        return refuse(m_pLog, "CDataStorage: the number of data is zero.");
    if (!m_pCount)
        return false;
    *m_pCount = n;
    return true;
}

bool CDataStorage::setControllerCount(unsigned n)
{
    if (n > kMaxRecords)
        return refuse(m_pLog, "CDataStorage: The new number is too big.");
    if (m_pTrackerTable)
        return refuse(m_pLog, "CDataStorage: Delete tracker data list first.");
    if (!m_pControllerTable)
        return refuse(m_pLog, "CDataStorage: Datt Storage has not been created yet.");
    if (!m_pMutex)
        return refuse(m_pLog, "CDataStorage: Mutex has not been set up yet.");
    if (n == 0)
        return refuse(m_pLog, "CDataStorage: the number of data is zero.");
    if (!m_pCount)
        return false;
    *m_pCount = n;
    return true;
}

TrackerRecord* CDataStorage::getTrackerRecord(unsigned n)
{
    // The table holds 32 records whatever count the host wrote.
    if (!m_pTrackerTable || n < 1 || n > getTrackerCount() || n > kMaxRecords)
        return nullptr;
    return &m_pTrackerTable[n - 1];
}

unsigned CDataStorage::getTrackerCount() const
{
    return (m_pTrackerTable && m_pCount) ? *m_pCount : 0;
}

unsigned CDataStorage::getControllerCount() const
{
    return (m_pControllerTable && m_pCount) ? *m_pCount : 0;
}

// Without a mutex there is nothing to take; callers do not check the result.
bool CDataStorage::lock()
{
    return m_pMutex ? m_pMutex->lock() : false;
}

bool CDataStorage::unlock()
{
    return m_pMutex ? m_pMutex->unlock() : false;
}
