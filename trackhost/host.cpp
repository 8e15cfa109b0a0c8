#include "trackhost/host.h"

#include "support/platform.h"
#include "trackhost/check.h"
#include "trackhost/config.h"
#include "trackhost/console.h"
#include "trackhost/plot.h"
#include "trackhost/slots.h"
#include "trackhost/stats.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
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

namespace {

std::int32_t netInt(std::int32_t v) { return static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(v))); }

// Length of the well-formed UTF-8 sequence at text[i] (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
std::size_t utf8Length(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + n > text.size() || byte(i + 1) < lo || byte(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    }
    return n;
}

} // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = c >= 0x80 ? utf8Length(text, i) : 0) {
            out.append(text, i, n);
            i += n;
        } else {
            // A control character, or a byte that is not UTF-8: its value as a code point.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
        }
    }
    return out + "\"";
}

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

std::string formatController(const std::string& device, const ControllerRecord& record)
{
    char line[512];
    int n = std::snprintf(line, sizeof line, "%-10s con %2u  t %u.%06u  buttons 0x%08x  valuators",
                          device.c_str(), static_cast<unsigned>(plat::netToHost32(record.id)),
                          static_cast<unsigned>(plat::netToHost32(record.seconds)),
                          static_cast<unsigned>(plat::netToHost32(record.micros)),
                          static_cast<unsigned>(plat::netToHost32(record.buttons)));
    unsigned count = plat::netToHost32(record.valuatorCount);
    if (count > ControllerRecord::kMaxValuators)
        count = ControllerRecord::kMaxValuators;
    for (unsigned k = 0; k < count && n > 0 && static_cast<std::size_t>(n) < sizeof line; ++k)
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %.5f",
                           netInt(record.valuators[k]) / 100000.0);
    return line;
}

std::string jsonController(unsigned long cycle, const std::string& device, const ControllerRecord& record)
{
    std::string out = "{\"cycle\":" + std::to_string(cycle) + ",\"device\":" + jsonString(device) +
                      ",\"controller\":" + std::to_string(plat::netToHost32(record.id)) +
                      ",\"sec\":" + std::to_string(plat::netToHost32(record.seconds)) +
                      ",\"usec\":" + std::to_string(plat::netToHost32(record.micros)) +
                      ",\"buttons\":" + std::to_string(plat::netToHost32(record.buttons)) + ",\"valuators\":[";
    unsigned count = plat::netToHost32(record.valuatorCount);
    if (count > ControllerRecord::kMaxValuators)
        count = ControllerRecord::kMaxValuators;
    for (unsigned k = 0; k < count; ++k)
        out += (k ? "," : "") + std::to_string(netInt(record.valuators[k]));
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
    return "usage: trackhost [--cycles N] [--period MS] [--quiet] [--json PATH|-] [--stats] [--stats-every S]\n"
           "                 [--live] [--plot PATH] CONFIG\n"
           "       trackhost --check CONFIG\n"
           "  --cycles N        run N host cycles (default: until interrupted)\n"
           "  --period MS       pause between cycles in milliseconds (default 10)\n"
           "  --quiet           do not show the records\n"
           "  --json PATH       also write each rewritten record as one JSON line ('-': standard output)\n"
           "  --stats           at the end, per device and id: records, rate, longest gap, recvData\n"
           "                    failures, age of the records when read (p50/p99/max)\n"
           "  --stats-every S   the same every S seconds while running (implies --stats)\n"
           "  --live            one line per record id, redrawn in place (plain lines when not a terminal)\n"
           "  --plot PATH       write an SVG picture of the run: top view (x against z) and x, y, z over time\n"
           "  --check           create, init, stop and delete every device without streaming; name every\n"
           "                    option line no parser took and every refused line; exit 0 only when clean\n";
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
        const bool takesValue =
            arg == "--cycles" || arg == "--period" || arg == "--json" || arg == "--stats-every" || arg == "--plot";
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
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--live") {
            options.live = true;
        } else if (arg == "--stats-every") {
            const char* text = argv[++i];
            char* end = nullptr;
            const double seconds = std::strtod(text, &end);
            // Written out as a plain number: no "inf", "nan" or hexadecimal.
            if (!*text || *end || !(seconds >= 0.1 && seconds <= 86400) ||
                std::strspn(text, "0123456789.") != std::strlen(text)) {
                error = std::string("bad --stats-every seconds '") + text + "' (0.1 to 86400)";
                return false;
            }
            options.statsEvery = seconds;
            options.stats = true;
        } else if (arg == "--plot") {
            options.plotPath = argv[++i];
            if (options.plotPath.empty()) {
                error = "--plot needs a path";
                return false;
            }
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
    if (options.check && (options.stats || options.live || !options.plotPath.empty() || !options.jsonPath.empty() ||
                          options.cycles >= 0)) {
        error = "--check runs no cycles: it takes no --cycles, --json, --stats, --live or --plot";
        return false;
    }
    if (options.live && options.jsonPath == "-") {
        error = "--live and --json - both want standard output";
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
    bool initialised = false; // stop is due: init succeeded (or, in a check, was called)
    int initResult = 0;
    unsigned char flags[sizeof(UpdateFlags)] = {};
    unsigned long failedCycles = 0;
    DeviceOutput output; // what the device printed, for --check
};

std::int64_t systemClockUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t stampUs(std::uint32_t netSeconds, std::uint32_t netMicros)
{
    return static_cast<std::int64_t>(plat::netToHost32(netSeconds)) * 1000000 +
           static_cast<std::int64_t>(plat::netToHost32(netMicros));
}

// The newest values of one record id for --live.
struct LiveRow {
    std::string text;
    unsigned long long count = 0;
    std::int64_t first = 0;
};

class Host {
public:
    Host(std::ostream& out, std::ostream& err, const Options& options)
        : m_out(out), m_err(err), m_options(options), m_trackers(HostTable::Trackers),
          m_controllers(HostTable::Controllers)
    {
        std::memset(&m_info, 0, sizeof m_info);
        m_info.traStorage = m_trackers.storage();
        m_info.conStorage = m_controllers.storage();
    }
    ~Host() { shutdown(); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    int run(const volatile std::sig_atomic_t* interrupted);

private:
    void error(const std::string& text) { m_err << "trackhost: " << text << std::endl; }
    std::string where(const Device& d) const
    {
        return m_file + ":" + std::to_string(d.block->line()) + ": ";
    }
    std::int64_t now() const { return m_options.clock ? m_options.clock() : systemClockUs(); }
    bool load();
    bool createAll();
    bool initAll();
    bool startAll();
    void cycle(unsigned long number, std::ostream* json);
    bool shutdown();
    int check();
    // Runs one call of the device with its console output caught for --check.
    template <typename Call> void caught(Device& d, Call call);
    void showLive(bool last);
    void showStats(const std::string& heading);

    std::ostream& m_out;
    std::ostream& m_err;
    const Options& m_options;
    std::string m_file;
    DeviceList m_blocks;
    std::vector<Device> m_devices;
    HostTable m_trackers;
    HostTable m_controllers;
    InitInfo m_info;
    bool m_checking = false;
    Stats m_stats;
    Plot m_plot;
    std::map<std::pair<std::string, unsigned>, LiveRow> m_live;
    std::vector<std::pair<std::string, unsigned>> m_liveOrder;
    std::int64_t m_liveShown = 0;
    std::size_t m_liveLines = 0;
    bool m_liveTerminal = false;
};

template <typename Call> void Host::caught(Device& d, Call call)
{
    if (!m_checking) {
        call();
        return;
    }
    StdoutCapture capture;
    std::string why;
    if (!capture.begin(why)) {
        error(why);
        call();
        return;
    }
    call();
    const std::string text = capture.end();
    const std::size_t before = d.output.shown.size();
    scanOutput(text, d.log, d.output);
    for (std::size_t i = before; i < d.output.shown.size(); ++i)
        m_out << d.output.shown[i] << '\n';
    m_out.flush();
}

bool Host::load()
{
    m_devices.resize(m_blocks.size());
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        Device& d = m_devices[i];
        d.block = m_blocks[i].get();
        d.path = resolveModule(d.block->module());
        d.log.setName(d.block->name().c_str());
        if (m_checking) {
            // Every debug line, so that the devices' parsers say which lines they read.
            d.log.debugThreshold = 1;
            d.log.debugLevel = 1;
        }
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
        caught(d, [&] { d.object = d.create(d.block->config(), &d.log); });
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
        caught(d, [&] { d.initResult = slots::init(d.object, &m_info); });
        if (d.initResult != 1) {
            error(where(d) + "device " + d.block->name() + ": init failed (" + std::to_string(d.initResult) + ")");
            // A check goes on with the other devices: each one's lines are
            // judged, and each one is stopped, since a failed init may leave
            // its connection open.
            if (!m_checking)
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

void Host::cycle(unsigned long number, std::ostream* json)
{
    const bool show = !m_options.quiet && !m_options.live;
    const bool collect = m_options.stats || m_options.live || !m_options.plotPath.empty();
    for (Device& d : m_devices) {
        const int rc = slots::recvData(d.object, d.flags, static_cast<int>(sizeof d.flags));
        if (rc != 1) {
            if (d.failedCycles++ == 0)
                error("device " + d.block->name() + ": recvData failed (" + std::to_string(rc) + ") in cycle " +
                      std::to_string(number));
            m_stats.failure(d.block->name());
        }
        if (!show && !json && !collect)
            continue;
        const std::string& name = d.block->name();
        const std::vector<TrackerRecord> trackers = m_trackers.readTrackers(d.flags);
        const std::vector<ControllerRecord> controllers = m_controllers.readControllers(d.flags + 4);
        const std::int64_t readAt = now();
        for (const TrackerRecord& r : trackers) {
            if (show)
                m_out << formatRecord(name, r) << '\n';
            if (json)
                *json << jsonRecord(number, name, r) << '\n';
            if (!collect)
                continue;
            const unsigned id = plat::netToHost32(r.id);
            const std::int64_t stamp = stampUs(r.seconds, r.micros);
            m_stats.record(name, id, stamp, readAt);
            double v[6];
            for (int k = 0; k < 6; ++k)
                v[k] = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(r.pose[k]))) / 100000.0;
            if (!m_options.plotPath.empty())
                m_plot.add(name, id, stamp, v[0], v[1], v[2]);
            if (m_options.live) {
                const auto key = std::make_pair(name, id);
                auto it = m_live.find(key);
                if (it == m_live.end()) {
                    it = m_live.emplace(key, LiveRow()).first;
                    it->second.first = stamp;
                    m_liveOrder.push_back(key);
                }
                LiveRow& row = it->second;
                ++row.count;
                const double span = static_cast<double>(stamp - row.first) / 1e6;
                char line[256];
                std::snprintf(line, sizeof line,
                              "%-10s id %2u  pos %9.4f %9.4f %9.4f ft  ori %9.3f %9.3f %9.3f deg  %7.1f Hz  age %6.1f ms",
                              name.c_str(), id, v[0], v[1], v[2], v[3], v[4], v[5],
                              span > 0 ? static_cast<double>(row.count - 1) / span : 0.0,
                              static_cast<double>(readAt - stamp) / 1000.0);
                row.text = line;
            }
        }
        for (const ControllerRecord& c : controllers) {
            if (show)
                m_out << formatController(name, c) << '\n';
            if (json)
                *json << jsonController(number, name, c) << '\n';
        }
    }
    if (m_options.live)
        showLive(false);
    m_out.flush();
    if (json)
        json->flush();
}

// A terminal gets its lines redrawn in place ten times a second; anything
// else gets them as plain lines once a second.
void Host::showLive(bool last)
{
    const std::int64_t t = now();
    const std::int64_t every = m_liveTerminal ? 100000 : 1000000;
    if (!last && m_liveShown != 0 && t - m_liveShown < every)
        return;
    if (last && !m_liveTerminal)
        return;
    m_liveShown = t;
    if (m_liveTerminal && m_liveLines > 0)
        m_out << "\x1b[" << m_liveLines << "A";
    for (const auto& key : m_liveOrder) {
        if (m_liveTerminal)
            m_out << "\r\x1b[2K";
        m_out << m_live[key].text << '\n';
    }
    m_liveLines = m_liveOrder.size();
}

void Host::showStats(const std::string& heading)
{
    m_out << heading << '\n' << m_stats.table();
    m_liveLines = 0; // the live lines are no longer right above
    m_out.flush();
}

// Stops every initialised device and deletes every created one, in file order.
bool Host::shutdown()
{
    bool ok = true;
    for (Device& d : m_devices) {
        bool stopped = true;
        if (d.initialised)
            caught(d, [&] { stopped = slots::stop(d.object); });
        if (!stopped) {
            error("device " + d.block->name() + ": stop failed");
            ok = false;
        }
        d.initialised = false;
    }
    for (Device& d : m_devices) {
        bool deleted = true;
        if (d.object)
            caught(d, [&] { deleted = d.destroy(d.object); });
        if (!deleted) {
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

int Host::check()
{
    bool ok = load() && createAll();
    if (ok)
        initAll();
    // Judge the lines before the devices go: the texts live in the blocks.
    unsigned lines = 0, unknown = 0, refused = 0, unchecked = 0, failedInits = 0;
    std::vector<std::string> findings;
    for (const Device& d : m_devices) {
        if (!d.object)
            continue;
        if (d.initResult != 1)
            ++failedInits;
        const DeviceConfig* config = d.block->config();
        for (std::uint32_t i = 0; i < config->optionCount; ++i) {
            const ConfigOption& o = config->options[i];
            ++lines;
            const std::string at = m_file + ":" + std::to_string(o.lineNumber) + ": " + d.block->name() + ": ";
            const auto r = d.output.refused.find(o.lineNumber);
            if (r != d.output.refused.end()) {
                ++refused;
                findings.push_back(at + "refused: " + r->second);
            } else if (o.consumed || d.output.read.count(o.lineNumber)) {
                continue;
            } else if (d.initResult != 1) {
                ++unchecked;
                findings.push_back(at + "not checked, init failed before this line was read: " + o.name);
            } else {
                ++unknown;
                findings.push_back(at + "no parser took this line (unknown keyword?): " + o.name);
            }
        }
    }
    if (!shutdown())
        ok = false;
    for (const std::string& f : findings)
        m_out << f << '\n';
    if (!ok && m_devices.empty() && lines == 0) {
        m_out.flush();
        return 1;
    }
    const std::size_t devices = m_blocks.size();
    std::string summary = "check: " + std::to_string(devices) + (devices == 1 ? " device, " : " devices, ") +
                          std::to_string(lines) + " option lines: ";
    if (unknown + refused + unchecked + failedInits == 0 && ok) {
        summary += "clean";
    } else {
        summary += std::to_string(unknown) + " unknown, " + std::to_string(refused) + " refused";
        if (unchecked)
            summary += ", " + std::to_string(unchecked) + " not checked";
        if (failedInits)
            summary += ", " + std::to_string(failedInits) + " init failed";
        ok = false;
    }
    m_out << summary << '\n';
    m_out.flush();
    return ok ? 0 : 1;
}

int Host::run(const volatile std::sig_atomic_t* interrupted)
{
    const Options& options = m_options;
    m_file = options.configPath;
    std::string why;
    // A picture that cannot be written is found out before any device exists.
    if (!options.plotPath.empty() && !Plot::writable(options.plotPath, why)) {
        error(why);
        return 1;
    }
    if (!readConfigFile(options.configPath, m_blocks, why)) {
        error(why);
        return 1;
    }
    if (!m_trackers.hasMutex() || !m_controllers.hasMutex()) {
        error("cannot create the record tables' mutexes");
        return 1;
    }
    if (options.check) {
        m_checking = true;
        return check();
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
    if (!load() || !createAll() || !initAll() || !startAll()) {
        shutdown();
        return 1;
    }
    m_liveTerminal = options.live && (options.isTerminal ? options.isTerminal() : stdoutIsTerminal());
    const std::int64_t every = static_cast<std::int64_t>(options.statsEvery * 1e6);
    std::int64_t nextStats = every > 0 ? now() + every : 0;
    unsigned long number = 0;
    while (options.cycles < 0 || static_cast<long long>(number) < options.cycles) {
        if (interrupted && *interrupted)
            break;
        if (options.beforeCycle)
            options.beforeCycle(number + 1);
        cycle(++number, json);
        if (every > 0 && now() >= nextStats) {
            showStats("statistics after " + std::to_string(number) + " cycles:");
            nextStats += every;
        }
        if (options.cycles < 0 || static_cast<long long>(number) < options.cycles)
            plat::sleepMs(options.periodMs);
    }
    if (options.live)
        showLive(true);
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
    if (options.stats)
        showStats("statistics of " + std::to_string(number) + " cycles:");
    if (!options.plotPath.empty() && !m_plot.write(options.plotPath, why)) {
        error(why);
        ok = false;
    }
    return ok ? 0 : 1;
}

} // namespace

int run(const Options& options, std::ostream& out, std::ostream& err, const volatile std::sig_atomic_t* interrupted)
{
    Host host(out, err, options);
    return host.run(interrupted);
}

} // namespace trackhost
