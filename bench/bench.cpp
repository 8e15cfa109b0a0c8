// Benchmarks of the per-sample path: the floor of one record write under the
// host's mutex, setTraData with each transform option, update for a whole
// frame with the pause stubbed (also with a capture running), one SDK call
// with and without the gate that contains what the SDK raises, and the age of
// a record when recvData returns while the simulated tracker streams from its
// own thread.
//
// Every result but the latency also shows "x_floor": its CPU time divided by
// the floor's CPU time of the same run, so runs on different (or busy)
// machines compare.
#include "common/tracommon.h"
#include "helpers/host.h"
#include "helpers/simdevice.h"
#include "helpers/testdevice.h"
#include "otksim/otksim.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kFloorName = "floor";

// Holds every run until the end, then prints them in the order they were
// registered with the x_floor counter: each run's CPU time over the floor's
// of the same aggregate (mean, median, or a plain run). Runs may come in any
// order, so that repetitions can be interleaved and a machine whose speed
// drifts slows the floor as much as the rest.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            failed = failed || run.error_occurred;
            m_runs.push_back(run);
        }
    }
    void Finalize() override
    {
        std::stable_sort(m_runs.begin(), m_runs.end(), [](const Run& a, const Run& b) {
            return a.family_index != b.family_index ? a.family_index < b.family_index
                                                    : a.per_family_instance_index < b.per_family_instance_index;
        });
        std::map<std::string, double> floor; // by aggregate name
        for (const Run& run : m_runs) {
            if (run.run_name.function_name == kFloorName)
                floor[run.aggregate_name] = run.GetAdjustedCPUTime();
        }
        for (Run& run : m_runs) {
            if (run.aggregate_name == "stddev" || run.aggregate_name == "cv") {
                run.counters["x_floor"] = 0; // keeps the table's columns; no meaning
                continue;
            }
            const auto f = floor.find(run.aggregate_name);
            if (f != floor.end() && f->second > 0 && run.run_name.function_name.compare(0, 7, "latency") != 0)
                run.counters["x_floor"] = run.GetAdjustedCPUTime() / f->second;
        }
        ConsoleReporter::ReportRuns(m_runs);
        ConsoleReporter::Finalize();
    }
    bool failed = false; // a benchmark could not run: set-up or call failed

private:
    std::vector<Run> m_runs;
};

// Standard output swallowed while devices initialise and report.
class Quiet {
public:
    Quiet() : m_old(std::cout.rdbuf(nullptr)) {}
    ~Quiet()
    {
        std::cout.rdbuf(m_old);
        std::cout.clear();
    }

private:
    std::streambuf* m_old;
};

void noPause(unsigned) {}

std::string besideExecutable(const char* base)
{
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
#ifdef _WIN32
    return std::string(dir) + base + ".dll";
#else
    return std::string(dir) + base + ".so";
#endif
}

const std::string& calibLibrary()
{
    static const std::string path = besideExecutable("tarsiscalib");
    return path;
}

// The host-side minimum of one record: lock, 8 words to network order, the
// 56-byte copy into the table, unlock.
void floorBench(benchmark::State& state)
{
    testhelp::Table table;
    table.count() = 1;
    plat::MutexHandle mutex = table.storage()->m_pMutex->m_hMutex;
    TrackerRecord record;
    std::memset(&record, 0, sizeof record);
    std::uint32_t n = 0;
    char text[CMutexH::kTextSize];
    for (auto _ : state) {
        ++n;
        record.seconds = plat::hostToNet32(n);
        record.micros = plat::hostToNet32(n + 1);
        for (int i = 0; i < 6; ++i)
            record.pose[i] = static_cast<std::int32_t>(plat::hostToNet32(n + static_cast<std::uint32_t>(i)));
        plat::lockMutex(mutex, text, sizeof text);
        std::memcpy(&table.record(1), &record, sizeof record);
        plat::unlockMutex(mutex, text, sizeof text);
        benchmark::ClobberMemory();
    }
}

// The option lines of each setTraData variant, for tracker 1.
enum Options { kNone, kTransOffset, kTransRot, kSensorOffset, kSensorRot, kSensorTrans, kCalib, kAll, kAllCalib };

void addOptions(testhelp::Config& cfg, int options)
{
    const bool all = options == kAll || options == kAllCalib;
    if (all || options == kTransOffset)
        cfg.add("transmitteroffset", {"1.2", "-0.7", "2.5", "m"});
    if (all || options == kTransRot)
        cfg.add("transmitterrotation", {"1", "2", "3", "33"});
    if (all || options == kSensorOffset)
        cfg.add("sensoroffset", {"1", "3", "-2", "5", "inches"});
    if (all || options == kSensorRot)
        cfg.add("sensorrotation", {"1", "0.3", "-1", "0.5", "-70"});
    if (all || options == kSensorTrans)
        cfg.add("sensortranslation", {"1", "0.5", "0.25", "-1.5"});
    if (options == kCalib || options == kAllCalib)
        cfg.add("calibration", {calibLibrary().c_str(), "scale=1.02", "offset=0.1,0.2,0.3", "angle=1,2,3"});
}

void setTraDataBench(benchmark::State& state, int options)
{
    testhelp::Config cfg("tarsis0");
    addOptions(cfg, options);
    CLogger log = testhelp::quietLogger("tarsis0");
    testhelp::Table table;
    InitInfo info{};
    info.traStorage = table.storage();
    UpdateFlags flags{};
    std::unique_ptr<testhelp::TestDevice> dev;
    {
        Quiet quiet;
        dev.reset(new testhelp::TestDevice(cfg.get(), &log));
        if (!dev->setUp(&info, 1, 1) || !dev->initCalib()) {
            state.SkipWithError("device set-up failed");
            return;
        }
        dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8);
    }
    float position[3] = {1.25f, -3.5f, 7.75f};
    float angles[3] = {33.3f, -12.5f, 45};
    for (auto _ : state) {
        angles[0] += 0.01f; // a moving sensor, as the tracker sends it
        if (angles[0] > 180)
            angles[0] = -180;
        if (!dev->setTraData(1, position, angles)) {
            state.SkipWithError("setTraData failed");
            break;
        }
    }
    Quiet quiet;
    dev->deinitCalib();
}

// A tracker on the simulator with `sensors` stations whose frames the bench
// pushes itself; update decodes the newest one on every call.
struct Streaming {
    testhelp::Config cfg{"tarsis0"};
    CLogger log = testhelp::quietLogger("tarsis0");
    testhelp::Table table;
    InitInfo info{};
    UpdateFlags flags{};
    std::unique_ptr<OvTrackD> dev;

    bool open(const std::string& scenario, bool withOptions, const std::string& capture = std::string())
    {
        Quiet quiet;
        info.traStorage = table.storage();
        cfg.add("baud", {"115200"});
        cfg.add("reset", {"no"});
        if (!capture.empty())
            cfg.add("capture", {capture.c_str()});
        if (withOptions) {
            cfg.add("transmitteroffset", {"1.2", "-0.7", "2.5", "m"});
            cfg.add("transmitterrotation", {"1", "2", "3", "33"});
            cfg.add("calibration", {calibLibrary().c_str(), "scale=1.02", "offset=0.1,0.2,0.3", "angle=1,2,3"});
        }
        otksim::SetScenario(scenario.c_str());
        dev.reset(new OvTrackD(cfg.get(), &log));
        otksim::SetScenario(nullptr);
        if (dev->init(&info) != 1 || dev->configure() != 2 || !dev->start())
            return false;
        if (withOptions) {
            // Option lines are too few for three per station: the sensor
            // transforms go straight into the handler, as parsing stores them.
            const float offset[16] = {0, 0, 0, 0.25f, 0, 0, 0, -0.1f, 0, 0, 0, 0.4f, 0, 0, 0, 0};
            const float rotation[16] = {0.9f, 0.3f, -0.3140f, 0, -0.3f, 0.954f, 0.0f, 0,
                                        0.2996f, 0.0999f, 0.9489f, 0, 0, 0, 0, 0};
            const float translation[3] = {0.5f, 0.25f, -1.5f};
            CTraCommonH* tra = dev->m_pInit->pTraCommon;
            for (unsigned id = 1; id <= tra->m_nTrackers; ++id)
                tra->setTracker(id, tra->m_pTrackers[id - 1].order, offset, rotation, translation);
        }
        return true;
    }
    int cycle() { return dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8); }
    void close()
    {
        Quiet quiet;
        dev->stop();
        dev.reset();
    }
};

std::string stationsOf(unsigned sensors)
{
    char text[16];
    std::snprintf(text, sizeof text, "%lx", sensors >= 32 ? 0xfffffffful : (1ul << sensors) - 1);
    return text;
}

void updateBench(benchmark::State& state, unsigned sensors, bool withOptions, bool capture)
{
    const plat::SleepHook oldSleep = plat::setSleepHook(noPause);
    Streaming s;
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    const std::string file = capture ? std::string(dir) + "bench-capture.mcap" : std::string();
    std::string written;
    if (!s.open("frames=manual rate=240 max=32 stations=" + stationsOf(sensors), withOptions, file) ||
        !otksim::PushMotionFrame(testhelp::simOf(*s.dev)) || (capture && !s.dev->m_pCapturing)) {
        state.SkipWithError("tracker set-up failed");
    } else {
        // The host's side alone: the writer is held, and what it would take
        // from the ring is dropped every so often, so that no frame is left out.
        Capture* c = s.dev->m_pCapturing;
        if (c) {
            c->holdWriter(true);
            written = c->file();
        }
        unsigned n = 0;
        for (auto _ : state) {
            s.dev->m_dwLastFrameCount = 0; // the newest frame counts as new again
            if (s.dev->update() != 1) {
                state.SkipWithError("update failed");
                break;
            }
            if (c && ++n % 256 == 0)
                c->discardForBench();
        }
        if (c && c->framesLeftOut())
            state.SkipWithError("frames were left out of the capture");
        state.counters["sensors"] = sensors;
    }
    s.close();
    if (!written.empty())
        std::remove(written.c_str());
    plat::setSleepHook(oldSleep);
}

// One SDK member the way update calls it twice a frame: through the call
// gate that contains what the SDK raises, or straight to its entry point.
void sdkCallBench(benchmark::State& state, bool gated)
{
    Streaming s;
    if (!s.open("frames=manual", false)) {
        state.SkipWithError("tracker set-up failed");
    } else {
        using Entry = int(TARSIS_SDK_THISCALL*)(void*, unsigned long&);
        const auto entry =
            reinterpret_cast<Entry>(sdk::detail::g_entry[static_cast<int>(sdk::Id::COTKdev_LastHostFrameCount)]);
        void* object = s.dev->m_dev.object();
        unsigned long count = 0;
        for (auto _ : state) {
            const int result = gated ? s.dev->m_dev.LastHostFrameCount(count) : entry(object, count);
            benchmark::DoNotOptimize(result);
        }
    }
    s.close();
}

// The host calls recvData back to back (with update's real 1 ms pause) while
// the simulator's thread publishes 240 frames a second of 16 sensors; the age
// of a record is the time from its frame's publication to recvData's return.
void latencyBench(benchmark::State& state)
{
    Streaming s;
    if (!s.open("rate=240 max=16 stations=ffff", false)) {
        state.SkipWithError("tracker set-up failed");
        s.close();
        return;
    }
    std::vector<double> ages;
    ages.reserve(1u << 20);
    for (auto _ : state) {
        s.cycle();
        const auto returned = std::chrono::steady_clock::now();
        if (!(s.flags.trackerMask[0] | s.flags.trackerMask[1] | s.flags.trackerMask[2] | s.flags.trackerMask[3]))
            continue;
        long long published = 0;
        if (otksim::HandedFrameTime(testhelp::simOf(*s.dev), published) && ages.size() < ages.capacity())
            ages.push_back((returned.time_since_epoch().count() * 1.0 *
                                std::chrono::steady_clock::period::num / std::chrono::steady_clock::period::den -
                            published * 1e-9) *
                           1e3);
    }
    s.close();
    if (ages.empty())
        return;
    std::sort(ages.begin(), ages.end());
    const auto at = [&ages](double q) { return ages[static_cast<std::size_t>(q * static_cast<double>(ages.size() - 1))]; };
    state.counters["records"] = static_cast<double>(ages.size());
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = ages.back();
}

} // namespace

int main(int argc, char** argv)
{
    // Repetitions are interleaved unless the command line says otherwise:
    // on a shared machine the floor and the rest then see the same drift.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    benchmark::RegisterBenchmark(kFloorName, floorBench);
    const struct {
        const char* name;
        int options;
    } variants[] = {
        {"setTraData/none", kNone},
        {"setTraData/transmitteroffset", kTransOffset},
        {"setTraData/transmitterrotation", kTransRot},
        {"setTraData/sensoroffset", kSensorOffset},
        {"setTraData/sensorrotation", kSensorRot},
        {"setTraData/sensortranslation", kSensorTrans},
        {"setTraData/calibration", kCalib},
        {"setTraData/all", kAll},
        {"setTraData/all+calibration", kAllCalib},
    };
    for (const auto& v : variants)
        benchmark::RegisterBenchmark(v.name, setTraDataBench, v.options);
    for (unsigned sensors : {1u, 4u, 16u, 32u})
        benchmark::RegisterBenchmark(("update/" + std::to_string(sensors)).c_str(), updateBench, sensors, false,
                                     false);
    benchmark::RegisterBenchmark("update/16+capture", updateBench, 16u, false, true);
    benchmark::RegisterBenchmark("update/32+options+calibration", updateBench, 32u, true, false);
    benchmark::RegisterBenchmark("sdkcall/direct", sdkCallBench, false);
    benchmark::RegisterBenchmark("sdkcall/gated", sdkCallBench, true);
    benchmark::RegisterBenchmark("latency/240Hz/16", latencyBench)->Unit(benchmark::kMillisecond)->UseRealTime();

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.failed ? 1 : 0;
}
