// Shared host side of the fuzz targets: option lines built from input text, a
// tracker table whose records start with a pattern, and the checks every
// target runs after each step. A broken rule aborts with a line naming its
// kind, so libFuzzer (and the corpus replay) report it as a crash.
#pragma once

#include "common/tracommon.h"
#include "device/hostrecords.h"
#include "helpers/host.h"
#include "helpers/simdevice.h"
#include "otksim/otksim.h"
#include "support/calib.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzzhelp {

// Kinds of violation named in TARSIS_FUZZ_TOLERATE (comma-separated, for
// example "frame-shape,range") end the input quietly instead: fuzzing can go
// on past a known fault whose fix has not landed yet.
struct Tolerated {};

inline bool tolerated(const char* kind)
{
    const char* list = std::getenv("TARSIS_FUZZ_TOLERATE");
    if (!list)
        return false;
    const std::string all = std::string(",") + list + ",";
    return all.find(std::string(",") + kind + ",") != std::string::npos;
}

// Runs one input of a target; a tolerated violation ends it as a plain input.
template <typename Run>
int runTolerating(Run run, const std::uint8_t* data, std::size_t size)
{
    try {
        return run(data, size);
    } catch (const Tolerated&) {
        return 0;
    }
}

[[noreturn]] inline void violation(const char* kind, const std::string& what)
{
    if (tolerated(kind))
        throw Tolerated();
    std::fprintf(stderr, "fuzz violation [%s]: %s\n", kind, what.c_str());
    std::fflush(stderr);
    std::abort();
}

// Discards what the code under test prints and never really sleeps; set up
// once per process.
inline void quietProcess()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    static std::ostringstream sink;
    std::cout.rdbuf(sink.rdbuf());
    std::cout.setstate(std::ios::badbit); // nothing is kept either
    plat::setSleepHook([](unsigned) {});
}

inline std::vector<std::string> splitLines(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += static_cast<char>(data[i]);
    }
    return lines;
}

inline std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string cur;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r') {
            if (!cur.empty())
                words.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        words.push_back(cur);
    return words;
}

// A DeviceConfig of option lines "keyword arg ...", owning their texts.
class Options {
public:
    Options()
    {
        std::memset(&m_config, 0, sizeof m_config);
        m_config.deviceName = keep("fuzz0");
    }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    bool add(const std::vector<std::string>& words, unsigned line)
    {
        if (words.empty() || m_config.optionCount >= kMaxOptions)
            return false;
        ConfigOption& o = m_config.options[m_config.optionCount++];
        o.lineNumber = line;
        o.name = keep(words[0]);
        for (std::size_t i = 1; i < words.size() && o.argCount < kMaxOptionArgs; ++i)
            o.args[o.argCount++] = keep(words[i]);
        return true;
    }
    DeviceConfig* get() { return &m_config; }

private:
    const char* keep(const std::string& text)
    {
        m_strings.push_back(text);
        return m_strings.back().c_str();
    }
    DeviceConfig m_config;
    std::deque<std::string> m_strings;
};

// The example calibration library beside the binary. It stays loaded for the
// whole process, so the device's own load and unload of it per input cost
// little, and its evaluate entry can be called to predict the device's result.
struct CalibLib {
    std::string path;
    CCalibH::EvaluateFn evaluate = nullptr;
    static const CalibLib& get()
    {
        static CalibLib lib;
        return lib;
    }

private:
    CalibLib()
    {
        char dir[4096];
        plat::executableDir(dir, sizeof dir);
#ifdef _WIN32
        path = std::string(dir) + "tarsiscalib.dll";
#else
        path = std::string(dir) + "tarsiscalib.so";
#endif
        plat::LibHandle handle = plat::loadLibrary(path.c_str());
        if (handle)
            evaluate = reinterpret_cast<CCalibH::EvaluateFn>(plat::findSymbol(handle, "calib_evaluate"));
    }
};

inline bool isFinite(float v) { return std::isfinite(v); }

// The pipeline's scaling of one value, or false when the result is not a
// finite value that the 32-bit word holds.
inline bool scaledFits(float value, std::int32_t& out)
{
    const double v = static_cast<double>(value) * 100000.0;
    if (!std::isfinite(v) || !(v > -2147483649.0 && v < 2147483648.0))
        return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

// A device on the simulated tracker with the host's table around it. Records
// 1..preset belong to an earlier device; every record starts with a pattern,
// and after each step the table is checked against what may have changed.
class DeviceRun {
public:
    explicit DeviceRun(const std::string& scenario, unsigned preset = 2)
        : m_table(testhelp::Table::Trackers), m_preset(preset)
    {
        quietProcess();
        m_log = testhelp::quietLogger("fuzz0");
        std::memset(&m_info, 0, sizeof m_info);
        m_info.traStorage = m_table.storage();
        m_table.count() = preset;
        for (unsigned id = 1; id <= kMaxRecords; ++id)
            std::memset(&m_table.record(id), static_cast<int>(0x40 + id), sizeof(TrackerRecord));
        snapshot();
        otksim::SetScenario((scenario + " frames=manual").c_str());
    }
    ~DeviceRun()
    {
        if (m_dev) {
            m_dev->stop();
            delete m_dev;
        }
        otksim::SetScenario(nullptr);
    }
    DeviceRun(const DeviceRun&) = delete;
    DeviceRun& operator=(const DeviceRun&) = delete;

    Options& options() { return m_options; }
    OvTrackD& dev() { return *m_dev; }
    testhelp::Table& table() { return m_table; }

    int init()
    {
        m_dev = new OvTrackD(m_options.get(), &m_log);
        const int result = m_dev->init(&m_info);
        if (m_table.count() < m_preset || m_table.count() > kMaxRecords)
            violation("table", "record count " + std::to_string(m_table.count()) + " after init");
        checkTable(nullptr, "init");
        checkHandler();
        return result;
    }
    // One host cycle; the records it rewrote are checked and their mask bits
    // returned.
    std::uint32_t cycle()
    {
        std::memset(&m_flags, 0, sizeof m_flags);
        m_dev->recvData(reinterpret_cast<unsigned char*>(&m_flags), sizeof m_flags);
        for (std::uint8_t b : m_flags.controllerMask) {
            if (b)
                violation("mask", "controller mask set by a tracker device");
        }
        std::uint32_t mask;
        std::memcpy(&mask, m_flags.trackerMask, sizeof mask);
        mask = plat::netToHost32(mask);
        checkTable(&mask, "recvData");
        return mask;
    }
    bool own(unsigned id) { return id > m_preset && id <= m_table.count(); }
    const TrackerRecord& before(unsigned id) const { return m_before[id - 1]; }
    void snapshot() { std::memcpy(m_before, &m_table.record(1), sizeof m_before); }

    // Output id of a station, or 0 when the device does not output it.
    unsigned idOf(unsigned station) const
    {
        const CTraCommonH* tra = m_dev && m_dev->m_pInit ? m_dev->m_pInit->pTraCommon : nullptr;
        if (!tra || station < 1 || station > tra->m_nTrackers || !tra->m_pTrackers)
            return 0;
        const unsigned order = tra->m_pTrackers[station - 1].order;
        return order ? order + tra->m_nIdOffset : 0;
    }
    const CCalibH* calib() const
    {
        return m_dev && m_dev->m_pInit && m_dev->m_pInit->pTraCommon ? m_dev->m_pInit->pTraCommon->m_pCalib
                                                                     : nullptr;
    }

private:
    // Records outside the device's own may never change; an own record may
    // change only when its mask bit says it was written, and then it must be
    // a whole, plausible record of its id.
    void checkTable(const std::uint32_t* mask, const char* step)
    {
        for (unsigned id = 1; id <= kMaxRecords; ++id) {
            const TrackerRecord& r = m_table.record(id);
            const bool changed = std::memcmp(&r, &m_before[id - 1], sizeof r) != 0;
            const bool marked = mask && (*mask >> (id - 1) & 1u);
            const std::string where = std::string(step) + ", record " + std::to_string(id);
            if (marked && !own(id))
                violation("mask", where + ": marked but not the device's");
            if (changed && !marked)
                violation("outside", where + ": changed without being marked");
            if (marked)
                checkRecord(r, id, where);
        }
        snapshot();
    }
    static void checkRecord(const TrackerRecord& r, unsigned id, const std::string& where)
    {
        if (plat::netToHost32(r.id) != id)
            violation("record", where + ": id word " + std::to_string(plat::netToHost32(r.id)));
        const std::uint32_t micros = plat::netToHost32(r.micros);
        if (r.reserved4 || r.reserved16 || r.unused[0] || r.unused[1] || r.unused[2] || micros % 1000 ||
            micros >= 1000000 || r.seconds == 0)
            violation("record", where + ": reserved words, time stamp or tail");
        for (int i = 0; i < 6; ++i) {
            const std::int32_t v = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(r.pose[i])));
            if (v == INT32_MAX || v == INT32_MIN)
                violation("range", where + ": value " + std::to_string(i) + " clamped to the 32-bit limit");
        }
    }
    // Everything the pipeline applies to a sample must be a finite number.
    void checkHandler() const
    {
        const CTraCommonH* tra = m_dev->m_pInit ? m_dev->m_pInit->pTraCommon : nullptr;
        if (!tra)
            return;
        for (int k = 0; k < 16; ++k) {
            if (!isFinite(tra->m_fTransXform[k]))
                violation("nonfinite-option", "transmitter transform element " + std::to_string(k));
        }
        for (unsigned s = 0; s < tra->m_nTrackers && tra->m_pTrackers; ++s) {
            const TrackerEntry& e = tra->m_pTrackers[s];
            for (int k = 0; k < 16; ++k) {
                if (!isFinite(e.transform[k]))
                    violation("nonfinite-option", "sensor " + std::to_string(s + 1) + " transform");
            }
            for (float t : e.translation) {
                if (!isFinite(t))
                    violation("nonfinite-option", "sensor " + std::to_string(s + 1) + " translation");
            }
        }
    }

    Options m_options;
    testhelp::Table m_table;
    unsigned m_preset;
    CLogger m_log;
    InitInfo m_info;
    UpdateFlags m_flags{};
    OvTrackD* m_dev = nullptr;
    TrackerRecord m_before[kMaxRecords];
};

} // namespace fuzzhelp
