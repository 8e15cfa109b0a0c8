#include "trackhost/host.h"

#include "support/platform.h"
#include "trackhost/check.h"
#include "trackhost/config.h"
#include "trackhost/console.h"
#include "trackhost/devices.h"
#include "trackhost/format.h"
#include "trackhost/live.h"
#include "trackhost/plot.h"
#include "trackhost/stats.h"
#include "trackhost/tables.h"
#include "trackhost/text.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <ostream>

namespace trackhost {

namespace {

std::int64_t systemClockUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t steadyClockUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t stampUs(std::uint32_t netSeconds, std::uint32_t netMicros)
{
    return static_cast<std::int64_t>(plat::netToHost32(netSeconds)) * 1000000 +
           static_cast<std::int64_t>(plat::netToHost32(netMicros));
}

class Host {
public:
    Host(std::ostream& out, std::ostream& err, const Options& options)
        : m_out(out), m_err(err), m_options(options), m_trackers(HostTable::Trackers),
          m_controllers(HostTable::Controllers), m_devices(options.configPath, out, err, options.check),
          m_live(options.live && (options.isTerminal ? options.isTerminal() : stdoutIsTerminal()))
    {
        std::memset(&m_info, 0, sizeof m_info);
        m_info.traStorage = m_trackers.storage();
        m_info.conStorage = m_controllers.storage();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    int run(const volatile std::sig_atomic_t* interrupted);

private:
    void error(const std::string& text) { errorLine(m_err, text); }
    std::int64_t now() const { return m_options.clock ? m_options.clock() : systemClockUs(); }
    std::int64_t callNow() const { return m_options.callClock ? m_options.callClock() : steadyClockUs(); }
    int check();
    void cycle(unsigned long number, std::ostream* json);
    void showStats(const std::string& heading);

    std::ostream& m_out;
    std::ostream& m_err;
    const Options& m_options;
    DeviceList m_blocks;
    // The tables outlive the devices, which write into them until deleted.
    HostTable m_trackers;
    HostTable m_controllers;
    InitInfo m_info;
    DeviceSet m_devices;
    Stats m_stats;
    Plot m_plot;
    LiveDisplay m_live;
};

int Host::check()
{
    bool ok = m_devices.load(m_blocks) && m_devices.create();
    if (ok)
        m_devices.init(&m_info);
    // Judged before the devices go: the texts live in the blocks.
    const CheckVerdict verdict = judgeLines(m_options.configPath, m_devices.devices());
    if (!m_devices.shutdown())
        ok = false;
    for (const std::string& f : verdict.findings)
        m_out << f << '\n';
    // Nothing was judged when no device could even be created.
    if (!ok && verdict.lines == 0) {
        m_out.flush();
        return 1;
    }
    m_out << verdict.summary(m_blocks.size(), ok) << '\n';
    m_out.flush();
    return verdict.clean(ok) ? 0 : 1;
}

void Host::cycle(unsigned long number, std::ostream* json)
{
    const bool show = !m_options.quiet && !m_options.live;
    const bool collect = m_options.stats || m_options.live || !m_options.plotPath.empty();
    for (Device& d : m_devices.devices()) {
        // What a cycle costs the host's thread, recovery steps above all.
        const std::int64_t calledAt = m_options.stats ? callNow() : 0;
        const int rc = slots::recvData(d.object, d.flags, static_cast<int>(sizeof d.flags));
        if (m_options.stats)
            m_stats.call(d.block->name(), callNow() - calledAt, number);
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
            double pose[6];
            recordPose(r, pose);
            m_stats.record(name, id, stamp, readAt);
            if (!m_options.plotPath.empty())
                m_plot.add(name, id, stamp, pose);
            if (m_options.live)
                m_live.record(name, id, stamp, readAt, pose);
        }
        for (const ControllerRecord& c : controllers) {
            if (show)
                m_out << formatController(name, c) << '\n';
            if (json)
                *json << jsonController(number, name, c) << '\n';
        }
    }
    if (m_options.live)
        m_live.show(m_out, now(), false);
    m_out.flush();
    if (json)
        json->flush();
}

void Host::showStats(const std::string& heading)
{
    m_out << heading << '\n' << m_stats.table();
    m_live.displaced();
    m_out.flush();
}

int Host::run(const volatile std::sig_atomic_t* interrupted)
{
    const Options& options = m_options;
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
    if (options.check)
        return check();
    for (const auto& block : m_blocks)
        m_plot.setFrame(block->name(), Plot::frameOf(*block->config()));
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
    if (!m_devices.load(m_blocks) || !m_devices.create() || !m_devices.init(&m_info) || !m_devices.start()) {
        m_devices.shutdown();
        return 1;
    }
    const std::int64_t every = static_cast<std::int64_t>(options.statsEvery * 1e6);
    std::int64_t nextStats = every > 0 ? now() + every : 0;
    unsigned long number = 0;
    const std::uint64_t startedMs = plat::nowMs();
    const std::uint64_t runMs = static_cast<std::uint64_t>(options.runSeconds * 1000.0);
    while (options.cycles < 0 || static_cast<long long>(number) < options.cycles) {
        if (interrupted && *interrupted)
            break;
        if (runMs > 0 && plat::nowMs() - startedMs >= runMs)
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
        m_live.show(m_out, now(), true);
    bool ok = true;
    if (options.stats)
        m_devices.catchStopOutput(
            [this](const std::string& device, const std::string& text) { m_stats.stopOutput(device, text); });
    for (const Device& d : m_devices.devices()) {
        if (d.failedCycles > 0) {
            error("device " + d.block->name() + ": recvData failed in " + std::to_string(d.failedCycles) + " of " +
                  std::to_string(number) + " cycles");
            ok = false;
        }
    }
    if (!m_devices.shutdown())
        ok = false;
    m_stats.stopped();
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
