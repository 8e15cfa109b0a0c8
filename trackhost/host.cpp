#include "trackhost/host.h"

#include "support/platform.h"
#include "trackhost/config.h"
#include "trackhost/slots.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <system_error>

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

std::vector<unsigned> maskIds(const std::uint8_t mask[4])
{
    std::vector<unsigned> ids;
    for (unsigned id = 1; id <= kMaxRecords; ++id) {
        if (mask[3 - (id - 1) / 8] & (1u << ((id - 1) % 8)))
            ids.push_back(id);
    }
    return ids;
}

namespace {

std::int32_t netInt(std::int32_t v) { return static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(v))); }

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

} // namespace

std::string formatRecord(const std::string& device, const TrackerRecord& record)
{
    double v[6];
    for (int i = 0; i < 6; ++i)
        v[i] = netInt(record.pose[i]) / 100000.0;
    char line[256];
    std::snprintf(line, sizeof line,
                  "%-10s id %2u  t %u.%06u  pos %10.5f %10.5f %10.5f ft  ori %10.5f %10.5f %10.5f deg",
                  device.c_str(), static_cast<unsigned>(plat::netToHost32(record.id)),
                  static_cast<unsigned>(plat::netToHost32(record.seconds)),
                  static_cast<unsigned>(plat::netToHost32(record.micros)), v[0], v[1], v[2], v[3], v[4], v[5]);
    return line;
}

std::string jsonRecord(unsigned long cycle, const std::string& device, const TrackerRecord& record)
{
    std::string out = "{\"cycle\":" + std::to_string(cycle) + ",\"device\":" + jsonString(device) +
                      ",\"id\":" + std::to_string(plat::netToHost32(record.id)) +
                      ",\"sec\":" + std::to_string(plat::netToHost32(record.seconds)) +
                      ",\"usec\":" + std::to_string(plat::netToHost32(record.micros)) + ",\"pos\":[";
    for (int i = 0; i < 6; ++i) {
        if (i == 3)
            out += "],\"ori\":[";
        else if (i > 0)
            out += ",";
        out += std::to_string(netInt(record.pose[i]));
    }
    return out + "]}";
}

std::string resolveModule(const std::string& module)
{
    if (module.find('/') != std::string::npos || module.find('\\') != std::string::npos) {
#ifdef _WIN32
        std::string path = module;
        for (char& c : path) {
            if (c == '/')
                c = '\\';
        }
        return path;
#else
        return module;
#endif
    }
#ifdef _WIN32
    const char* suffix = ".dll";
#else
    const char* suffix = ".so";
#endif
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    const std::string bare = std::string(dir) + module;
    std::error_code ec;
    if (std::filesystem::is_regular_file(bare, ec))
        return bare;
    return bare + suffix;
}

const char* usageText()
{
    return "usage: trackhost [--cycles N] [--period MS] [--quiet] [--json PATH|-] CONFIG\n"
           "  --cycles N    run N host cycles (default: until interrupted)\n"
           "  --period MS   pause between cycles in milliseconds (default 10)\n"
           "  --quiet       do not show the records\n"
           "  --json PATH   also write each rewritten record as one JSON line ('-': standard output)\n";
}

namespace {

bool readNumber(const char* text, unsigned long long limit, unsigned long long& value)
{
    if (!text || !*text || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0' && value <= limit;
}

} // namespace

bool parseArguments(int argc, const char* const* argv, Options& options, bool& help, std::string& error)
{
    help = false;
    bool haveConfig = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "--cycles" || arg == "--period" || arg == "--json";
        if (takesValue && i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        unsigned long long n = 0;
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--cycles") {
            if (!readNumber(argv[++i], 1000000000ull, n)) {
                error = std::string("bad cycle count '") + argv[i] + "'";
                return false;
            }
            options.cycles = static_cast<long long>(n);
        } else if (arg == "--period") {
            if (!readNumber(argv[++i], 60000ull, n)) {
                error = std::string("bad period '") + argv[i] + "'";
                return false;
            }
            options.periodMs = static_cast<unsigned>(n);
        } else if (arg == "--json") {
            options.jsonPath = argv[++i];
            if (options.jsonPath.empty()) {
                error = "--json needs a path";
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (haveConfig) {
            error = "only one configuration file, please";
            return false;
        } else {
            options.configPath = arg;
            haveConfig = true;
        }
    }
    if (!haveConfig) {
        error = "no configuration file given";
        return false;
    }
    return true;
}

namespace {

// One device of the file, from its loaded module to its object.
struct Device {
    DeviceBlock* block = nullptr;
    std::string path;
    plat::LibHandle lib = nullptr;
    slots::CreateDevFn create = nullptr;
    slots::DeleteDevFn destroy = nullptr;
    CLogger log;
    void* object = nullptr;
    bool initialised = false;
    unsigned char flags[sizeof(UpdateFlags)] = {};
    unsigned long failedCycles = 0;
};

class Host {
public:
    Host(std::ostream& out, std::ostream& err) : m_out(out), m_err(err), m_trackers(HostTable::Trackers),
                                                 m_controllers(HostTable::Controllers)
    {
        std::memset(&m_info, 0, sizeof m_info);
        m_info.traStorage = m_trackers.storage();
        m_info.conStorage = m_controllers.storage();
    }
    ~Host() { shutdown(); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    int run(const Options& options, const volatile std::sig_atomic_t* interrupted);

private:
    void error(const std::string& text) { m_err << "trackhost: " << text << std::endl; }
    std::string where(const Device& d) const
    {
        return m_file + ":" + std::to_string(d.block->line()) + ": ";
    }
    bool load();
    bool createAll();
    bool initAll();
    bool startAll();
    void cycle(unsigned long number, const Options& options, std::ostream* json);
    bool shutdown();

    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_file;
    DeviceList m_blocks;
    std::vector<Device> m_devices;
    HostTable m_trackers;
    HostTable m_controllers;
    InitInfo m_info;
};

bool Host::load()
{
    m_devices.resize(m_blocks.size());
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        Device& d = m_devices[i];
        d.block = m_blocks[i].get();
        d.path = resolveModule(d.block->module());
        d.log.setName(d.block->name().c_str());
        d.lib = plat::loadLibrary(d.path.c_str());
        if (!d.lib) {
            error(where(d) + "cannot load module " + d.block->module() + ": " + plat::lastLoadError());
            return false;
        }
        d.create = reinterpret_cast<slots::CreateDevFn>(plat::findSymbol(d.lib, "createDev"));
        d.destroy = reinterpret_cast<slots::DeleteDevFn>(plat::findSymbol(d.lib, "deleteDev"));
        if (!d.create || !d.destroy) {
            error(where(d) + "module " + d.path + " lacks the export " + (d.create ? "deleteDev" : "createDev"));
            return false;
        }
    }
    return true;
}

bool Host::createAll()
{
    for (Device& d : m_devices) {
        d.object = d.create(d.block->config(), &d.log);
        if (!d.object) {
            error(where(d) + "device " + d.block->name() + ": createDev gave no device");
            return false;
        }
    }
    return true;
}

bool Host::initAll()
{
    for (Device& d : m_devices) {
        const int rc = slots::init(d.object, &m_info);
        if (rc != 1) {
            error(where(d) + "device " + d.block->name() + ": init failed (" + std::to_string(rc) + ")");
            return false;
        }
        d.initialised = true;
    }
    return true;
}

bool Host::startAll()
{
    for (Device& d : m_devices)
        slots::configure(d.object); // its result carries no meaning for the host
    for (Device& d : m_devices) {
        if (!slots::start(d.object)) {
            error(where(d) + "device " + d.block->name() + ": start failed");
            return false;
        }
    }
    return true;
}

void Host::cycle(unsigned long number, const Options& options, std::ostream* json)
{
    for (Device& d : m_devices) {
        const int rc = slots::recvData(d.object, d.flags, static_cast<int>(sizeof d.flags));
        if (rc != 1) {
            if (d.failedCycles++ == 0)
                error("device " + d.block->name() + ": recvData failed (" + std::to_string(rc) + ") in cycle " +
                      std::to_string(number));
        }
        if (options.quiet && !json)
            continue;
        for (const TrackerRecord& r : m_trackers.readTrackers(d.flags)) {
            if (!options.quiet)
                m_out << formatRecord(d.block->name(), r) << '\n';
            if (json)
                *json << jsonRecord(number, d.block->name(), r) << '\n';
        }
    }
    m_out.flush();
    if (json)
        json->flush();
}

// Stops every initialised device and deletes every created one, in file order.
bool Host::shutdown()
{
    bool ok = true;
    for (Device& d : m_devices) {
        if (d.initialised && !slots::stop(d.object)) {
            error("device " + d.block->name() + ": stop failed");
            ok = false;
        }
        d.initialised = false;
    }
    for (Device& d : m_devices) {
        if (d.object && !d.destroy(d.object)) {
            error("device " + d.block->name() + ": deleteDev failed");
            ok = false;
        }
        d.object = nullptr;
    }
    for (Device& d : m_devices) {
        plat::freeLibrary(d.lib);
        d.lib = nullptr;
    }
    m_devices.clear();
    return ok;
}

int Host::run(const Options& options, const volatile std::sig_atomic_t* interrupted)
{
    m_file = options.configPath;
    std::string why;
    if (!readConfigFile(options.configPath, m_blocks, why)) {
        error(why);
        return 1;
    }
    std::ofstream jsonFile;
    std::ostream* json = nullptr;
    if (options.jsonPath == "-") {
        json = &m_out;
    } else if (!options.jsonPath.empty()) {
        jsonFile.open(options.jsonPath, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!jsonFile) {
            error(options.jsonPath + ": cannot write");
            return 1;
        }
        json = &jsonFile;
    }
    if (!m_trackers.hasMutex() || !m_controllers.hasMutex()) {
        error("cannot create the record tables' mutexes");
        return 1;
    }
    if (!load() || !createAll() || !initAll() || !startAll()) {
        shutdown();
        return 1;
    }
    unsigned long number = 0;
    while (options.cycles < 0 || static_cast<long long>(number) < options.cycles) {
        if (interrupted && *interrupted)
            break;
        cycle(++number, options, json);
        if (options.cycles < 0 || static_cast<long long>(number) < options.cycles)
            plat::sleepMs(options.periodMs);
    }
    bool ok = true;
    for (const Device& d : m_devices) {
        if (d.failedCycles > 0) {
            error("device " + d.block->name() + ": recvData failed in " + std::to_string(d.failedCycles) + " of " +
                  std::to_string(number) + " cycles");
            ok = false;
        }
    }
    if (!shutdown())
        ok = false;
    return ok ? 0 : 1;
}

} // namespace

int run(const Options& options, std::ostream& out, std::ostream& err, const volatile std::sig_atomic_t* interrupted)
{
    Host host(out, err);
    return host.run(options, interrupted);
}

} // namespace trackhost
