// A device module for testing the harness without a tracker: a plain class
// with the host's nine slots in order, and the two exports. Its option lines
// steer it ("initresult N", "startresult N", "recvresult N", "stopresult N",
// "records N", "controllers N", "rate HZ"; "refuse" is always refused), and
// every call is noted in a log that the third export hands to tests. It reads
// its lines without marking them as taken, and says so in a debug line.
#include "device/hostrecords.h"
#include "device/optionread.h"
#include "support/logger.h"
#include "support/platform.h"
#include "support/storage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::string g_log;

class FakeDev final {
public:
    FakeDev(DeviceConfig* config, const CLogger* log) : m_config(config), m_name(config->deviceName)
    {
        if (log)
            m_log = *log;
        note("create");
    }
    ~FakeDev() { note("delete"); }
    FakeDev(const FakeDev&) = delete;
    FakeDev& operator=(const FakeDev&) = delete;

    virtual int init(InitInfo* info)
    {
        note("init");
        m_storage = info ? info->traStorage : nullptr;
        m_conStorage = info ? info->conStorage : nullptr;
        readLines();
        const int result = option("initresult", 1);
        if (result != 1)
            return result;
        m_records = static_cast<unsigned>(option("records", 0));
        if (m_records > 0 && m_storage) {
            m_storage->lock();
            m_firstId = m_storage->getTrackerCount() + 1;
            const bool set = m_storage->setTrackerCount(m_firstId - 1 + m_records);
            m_storage->unlock();
            if (!set)
                return -1;
        }
        m_controllers = static_cast<unsigned>(option("controllers", 0));
        if (m_controllers > 0 && m_conStorage) {
            m_conStorage->lock();
            m_firstController = m_conStorage->getControllerCount() + 1;
            const bool set = m_conStorage->setControllerCount(m_firstController - 1 + m_controllers);
            m_conStorage->unlock();
            if (!set)
                return -1;
        }
        m_rate = option("rate", 0);
        return 1;
    }
    virtual bool start()
    {
        note("start");
        return option("startresult", 1) != 0;
    }
    virtual int configure()
    {
        note("configure");
        return 2;
    }
    virtual bool stop()
    {
        note("stop");
        return option("stopresult", 1) != 0;
    }
    virtual bool printConfig()
    {
        note("printConfig");
        return true;
    }
    virtual int recvData(unsigned char* buffer, int length)
    {
        note("recvData(" + std::to_string(length) + ")");
        std::memset(buffer, 0, 4);
        ++m_cycle;
        if (m_records > 0 && m_storage) {
            m_storage->lock();
            for (unsigned i = 0; i < m_records; ++i)
                write(m_firstId + i, buffer);
            m_storage->unlock();
        }
        if (m_controllers > 0 && m_conStorage) {
            m_conStorage->lock();
            for (unsigned i = 0; i < m_controllers; ++i)
                writeController(m_firstController + i, buffer + 4);
            m_conStorage->unlock();
        }
        return option("recvresult", 1);
    }
    virtual int reservedOp(std::uint32_t first, std::uint32_t second)
    {
        note("reservedOp(" + std::to_string(first) + "," + std::to_string(second) + ")");
        return static_cast<int>(first) - static_cast<int>(second);
    }
    virtual int update()
    {
        note("update");
        return 7;
    }
    virtual int updataConData()
    {
        note("updataConData");
        return 8;
    }

private:
    // A wrong object pointer (a calling-convention mix-up) shows in the log.
    void note(const std::string& what)
    {
        g_log += (m_magic == kMagic ? m_name : std::string("BADTHIS")) + "." + what + ";";
    }
    // Says which lines it read (without taking them) and refuses "refuse" lines
    // the way devices do: a console line that ends with the line number.
    void readLines()
    {
        static const char* const kKnown[] = {"initresult", "startresult", "recvresult", "stopresult",
                                             "records",    "controllers", "rate"};
        for (std::uint32_t i = 0; i < m_config->optionCount; ++i) {
            const ConfigOption& o = m_config->options[i];
            if (std::strcmp(o.name, "refuse") == 0) {
                std::cout << "Invalid Refuse Argument on Line " << o.lineNumber << "." << std::endl;
                continue;
            }
            for (const char* known : kKnown) {
                if (std::strcmp(o.name, known) == 0)
                    noteOptionRead(m_log, o);
            }
        }
    }
    int option(const char* name, int fallback) const
    {
        for (std::uint32_t i = 0; i < m_config->optionCount; ++i) {
            const ConfigOption& o = m_config->options[i];
            if (std::strcmp(o.name, name) == 0 && o.argCount == 1)
                return std::atoi(o.args[0]);
        }
        return fallback;
    }
    // Record id: x = id feet, y = -id/2 feet, z = the cycle in 1/100000 feet,
    // angles id, -1.5 and 0.25 degrees; the time stamp carries the cycle.
    void write(unsigned id, unsigned char* mask)
    {
        TrackerRecord* r = m_storage->getTrackerRecord(id);
        if (!r)
            return;
        std::memset(r, 0, sizeof *r);
        const std::int32_t pose[6] = {static_cast<std::int32_t>(id) * 100000, -static_cast<std::int32_t>(id) * 50000,
                                      static_cast<std::int32_t>(m_cycle), static_cast<std::int32_t>(id) * 100000,
                                      -150000, 25000};
        r->id = plat::hostToNet32(id);
        if (m_rate > 0) {
            // Cycle n is frame n of a tracker at m_rate Hz.
            const std::uint64_t us = 1000000000000ull + m_cycle * 1000000ull / static_cast<unsigned>(m_rate);
            r->seconds = plat::hostToNet32(static_cast<std::uint32_t>(us / 1000000));
            r->micros = plat::hostToNet32(static_cast<std::uint32_t>(us % 1000000));
        } else {
            r->seconds = plat::hostToNet32(1000000u + m_cycle);
            r->micros = plat::hostToNet32(id * 1000u);
        }
        for (int k = 0; k < 6; ++k)
            r->pose[k] = static_cast<std::int32_t>(plat::hostToNet32(static_cast<std::uint32_t>(pose[k])));
        if (id >= 1 && id <= kMaxRecords)
            mask[3 - (id - 1) / 8] = static_cast<unsigned char>(mask[3 - (id - 1) / 8] | (1u << ((id - 1) % 8)));
    }

    // Controller record n: buttons n, valuators n/2 and -1.
    void writeController(unsigned id, unsigned char* mask)
    {
        unsigned char* table = static_cast<unsigned char*>(m_conStorage->m_pControllerTable);
        if (!table || id < 1 || id > kMaxRecords)
            return;
        std::uint32_t words[16] = {};
        words[0] = plat::hostToNet32(id);
        words[2] = plat::hostToNet32(2000000u + m_cycle);
        words[4] = plat::hostToNet32(id);
        words[5] = plat::hostToNet32(2);
        words[6] = plat::hostToNet32(id * 50000u);
        words[7] = plat::hostToNet32(static_cast<std::uint32_t>(-100000));
        std::memcpy(table + (id - 1) * sizeof words, words, sizeof words);
        mask[3 - (id - 1) / 8] = static_cast<unsigned char>(mask[3 - (id - 1) / 8] | (1u << ((id - 1) % 8)));
    }

    enum : std::uint32_t { kMagic = 0xFA4EDE71u };
    std::uint32_t m_magic = kMagic;
    DeviceConfig* m_config;
    std::string m_name;
    CLogger m_log;
    CDataStorage* m_storage = nullptr;
    CDataStorage* m_conStorage = nullptr;
    unsigned m_controllers = 0;
    unsigned m_firstController = 1;
    int m_rate = 0;
    unsigned m_records = 0;
    unsigned m_firstId = 1;
    std::uint32_t m_cycle = 0;
};

} // namespace

FAKE_EXPORT void* createDev(DeviceConfig* config, CLogger* log) { return new FakeDev(config, log); }

FAKE_EXPORT bool deleteDev(void* device)
{
    if (!device)
        return false;
    delete static_cast<FakeDev*>(device);
    return true;
}

// The calls so far, as "NAME.op;..." ; a nonzero clear empties the log afterwards.
FAKE_EXPORT const char* fakeCallLog(int clear)
{
    static std::string copy;
    copy = g_log;
    if (clear)
        g_log.clear();
    return copy.c_str();
}
