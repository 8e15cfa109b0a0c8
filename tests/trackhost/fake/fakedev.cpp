// A device module for testing the harness without a tracker: a plain class
// with the host's nine slots in order, and the two exports. Its option lines
// steer it ("initresult N", "startresult N", "recvresult N", "stopresult N",
// "records N"), and every call is noted in a log that the third export hands
// to tests.
#include "device/hostrecords.h"
#include "support/platform.h"
#include "support/storage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
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
    explicit FakeDev(DeviceConfig* config) : m_config(config), m_name(config->deviceName) { note("create"); }
    ~FakeDev() { note("delete"); }
    FakeDev(const FakeDev&) = delete;
    FakeDev& operator=(const FakeDev&) = delete;

    virtual int init(InitInfo* info)
    {
        note("init");
        m_storage = info ? info->traStorage : nullptr;
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
        r->seconds = plat::hostToNet32(1000000u + m_cycle);
        r->micros = plat::hostToNet32(id * 1000u);
        for (int k = 0; k < 6; ++k)
            r->pose[k] = static_cast<std::int32_t>(plat::hostToNet32(static_cast<std::uint32_t>(pose[k])));
        if (id >= 1 && id <= kMaxRecords)
            mask[3 - (id - 1) / 8] = static_cast<unsigned char>(mask[3 - (id - 1) / 8] | (1u << ((id - 1) % 8)));
    }

    enum : std::uint32_t { kMagic = 0xFA4EDE71u };
    std::uint32_t m_magic = kMagic;
    DeviceConfig* m_config;
    std::string m_name;
    CDataStorage* m_storage = nullptr;
    unsigned m_records = 0;
    unsigned m_firstId = 1;
    std::uint32_t m_cycle = 0;
};

} // namespace

FAKE_EXPORT void* createDev(DeviceConfig* config, CLogger*) { return new FakeDev(config); }

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
