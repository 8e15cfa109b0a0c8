// A host's side of the contract for tests: a device configuration built from
// option lines, and record tables with a real operating-system mutex.
#pragma once

#include "device/hostrecords.h"
#include "support/logger.h"
#include "support/platform.h"
#include "support/storage.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace testhelp {

// Owns the strings that DeviceConfig points into.
class Config {
public:
    explicit Config(const char* deviceName = "tarsis0")
    {
        std::memset(&m_config, 0, sizeof m_config);
        m_config.deviceName = keep(deviceName);
    }
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    // Adds "name arg arg ..." as the next option line; line numbers default to
    // 10, 20, 30 ... so that messages show which line they name.
    Config& add(const char* name, std::initializer_list<const char*> args = {}, unsigned line = 0)
    {
        ConfigOption& o = m_config.options[m_config.optionCount];
        o.lineNumber = line ? line : 10 * (m_config.optionCount + 1);
        o.name = keep(name);
        o.argCount = 0;
        for (const char* a : args)
            o.args[o.argCount++] = keep(a);
        ++m_config.optionCount;
        return *this;
    }
    DeviceConfig* get() { return &m_config; }
    ConfigOption& option(unsigned index) { return m_config.options[index]; }
    // Forgets every option line (and what a device marked in them), for a
    // test that makes one device after another.
    void clear()
    {
        std::memset(m_config.options, 0, sizeof m_config.options);
        m_config.optionCount = 0;
    }

private:
    const char* keep(const char* text)
    {
        if (!text)
            return nullptr;
        m_strings.emplace_back(text);
        return m_strings.back().c_str();
    }
    DeviceConfig m_config;
    std::deque<std::string> m_strings;
};

// One host record table (trackers or controllers) with its count and mutex.
class Table {
public:
    enum Kind { Trackers, Controllers, Both, NoTable };
    explicit Table(Kind kind = Trackers, bool withMutex = true) : m_count(0)
    {
        std::memset(&m_storage, 0, sizeof m_storage);
        std::memset(&m_mutex, 0, sizeof m_mutex);
        std::memset(m_records, 0, sizeof m_records);
        std::memset(m_controllers, 0, sizeof m_controllers);
        m_log.showDate = m_log.showTime = m_log.showThreadId = 0;
        m_log.setName("CDataStorage");
        m_mutexLog.showDate = m_mutexLog.showTime = m_mutexLog.showThreadId = 0;
        m_mutexLog.setName("CMutexH");
        if (kind == Trackers || kind == Both)
            m_storage.m_pTrackerTable = m_records;
        if (kind == Controllers || kind == Both)
            m_storage.m_pControllerTable = m_controllers;
        m_storage.m_pLog = &m_log;
        m_storage.m_pCount = &m_count;
        if (withMutex) {
            m_mutex.m_hMutex = plat::createMutex();
            m_mutex.m_pLog = &m_mutexLog;
            m_storage.m_pMutex = &m_mutex;
        }
    }
    ~Table() { plat::destroyMutex(m_mutex.m_hMutex); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    CDataStorage* storage() { return &m_storage; }
    std::uint32_t& count() { return m_count; }
    TrackerRecord& record(unsigned id) { return m_records[id - 1]; }
    CLogger& log() { return m_log; }

private:
    CDataStorage m_storage;
    CMutexH m_mutex;
    CLogger m_log;
    CLogger m_mutexLog;
    std::uint32_t m_count;
    TrackerRecord m_records[kMaxRecords];
    std::uint8_t m_controllers[kMaxRecords][64];
};

// A logger record as a host would hand it over: no date, time or thread id,
// so that whole lines can be compared.
inline CLogger quietLogger(const char* name = "tarsis0")
{
    CLogger log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName(name);
    return log;
}

// An environment variable set (or, with null, removed) for as long as this
// lives; what it was is put back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (old)
            m_old = old;
        set(value);
    }
    ~ScopedEnv() { set(m_had ? m_old.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const char* value)
    {
#ifdef _WIN32
        // "NAME=" removes it; the system's copy of the environment follows.
        _putenv((m_name + "=" + (value ? value : "")).c_str());
#else
        if (value)
            setenv(m_name.c_str(), value, 1);
        else
            unsetenv(m_name.c_str());
#endif
    }
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

inline std::string moduleFile(const char* base)
{
#ifdef _WIN32
    return std::string(base) + ".dll";
#else
    return std::string("./") + base + ".so";
#endif
}

} // namespace testhelp
