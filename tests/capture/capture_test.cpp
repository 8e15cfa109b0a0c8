// Captures of the tracker device and their replay through the simulated SDK:
// the round trip record for record, cut files, files that are no capture,
// a writer held back, failing writes, never overwriting, the option line, the
// size limit and --capture-info.
#include "capfile.h"
#include "helpers/tracker.h"
#include "trackhost/arguments.h"
#include "trackhost/capture.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

using captest::Pose;
using testhelp::pauses;

namespace {

namespace fs = std::filesystem;

std::uint64_t g_clockNs = 0;
std::uint64_t testClock() { return g_clockNs; }

struct CaptureTest : testhelp::TrackerTest {
    void SetUp() override
    {
        TrackerTest::SetUp();
        Capture::setRingBytesForTests(0);
    }
    void TearDown() override
    {
        TrackerTest::TearDown();
        Capture::setRingBytesForTests(0);
    }
    // The option lines of the round trip: transforms, so that the records
    // are not the frames' values, and a capture line when a path is given.
    void lines(const std::string& capture)
    {
        cfg.clear();
        serial().add("framerate", {"240"});
        cfg.add("transmitterrotation", {"0", "1", "0", "30"});
        cfg.add("sensoroffset", {"1", "0.5", "0.25", "-1", "inches"});
        if (!capture.empty())
            cfg.add("capture", {capture.c_str()});
    }
    OvTrackD& streaming(const std::string& scenario)
    {
        OvTrackD& d = make(scenario);
        EXPECT_EQ(1, d.init(&info));
        d.configure();
        EXPECT_TRUE(d.start());
        return d;
    }
    int cycle() { return dev->recvData(reinterpret_cast<unsigned char*>(&flags), 8); }
    // The records this cycle wrote, as a capture names them (station = id here).
    std::vector<Pose> written()
    {
        std::vector<Pose> out;
        for (unsigned id = 1; id <= 32; ++id) {
            if (!(flags.trackerMask[3 - (id - 1) / 8] >> ((id - 1) % 8) & 1))
                continue;
            Pose p;
            p.id = id;
            p.station = id;
            for (int i = 0; i < 6; ++i)
                p.words[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(
                    plat::netToHost32(static_cast<std::uint32_t>(table.record(id).pose[i])));
            out.push_back(p);
        }
        return out;
    }
    otksim::Device* sim() { return testhelp::simOf(*dev); }
    // A capture at path with the round trip's lines, of one frame per time
    // given, each logged at that time (ns since 1970) by the capture's clock.
    void takeAt(const std::string& path, const char* scenario, const std::vector<std::uint64_t>& times)
    {
        lines(path);
        OvTrackD& d = make(scenario);
        ASSERT_EQ(1, d.init(&info));
        d.m_capture->setClockForTests(testClock);
        d.configure();
        ASSERT_TRUE(d.start());
        for (const std::uint64_t t : times) {
            g_clockNs = t;
            ASSERT_TRUE(otksim::PushMotionFrame(sim()));
            cycle();
        }
        ASSERT_TRUE(d.stop());
        dev.reset();
    }
    // n times, every ns apart, from a time in 2023.
    static constexpr std::uint64_t kSomeTime = 1700000000000000000ull;
    static std::vector<std::uint64_t> spaced(int n, std::uint64_t every)
    {
        std::vector<std::uint64_t> times;
        for (int i = 0; i < n; ++i)
            times.push_back(kSomeTime + static_cast<std::uint64_t>(i) * every);
        return times;
    }

    std::size_t count(const std::string& line) const
    {
        const std::vector<std::string> l = lines();
        return static_cast<std::size_t>(std::count(l.begin(), l.end(), line));
    }
    using TrackerTest::lines;
};

} // namespace

TEST_F(CaptureTest, ReplayGivesTheCapturedRecordsValueForValue)
{
    const std::string folder = captest::freshFolder("captures", "roundtrip");
    const std::string path = captest::join(folder, "site.mcap");
    lines(path);
    // 40 circle frames (station 2 sends NaN, so its samples are refused) and
    // one refused frame in the middle, with the records each wrote.
    streaming("rate=240 stations=f nan=2");
    std::vector<std::vector<Pose>> records;
    for (int i = 0; i < 40; ++i) {
        if (i == 20) {
            const unsigned char junk[20] = {};
            ASSERT_TRUE(otksim::PushFrame(sim(), junk, sizeof junk));
        } else {
            ASSERT_TRUE(otksim::PushMotionFrame(sim()));
        }
        cycle();
        records.push_back(written());
    }
    ASSERT_TRUE(dev->stop());
    EXPECT_EQ("Capture finished: " + path + ", 40 frames, 0 left out", lines().back());
    dev.reset();
    // Every console line of the capture's run is in its log, and only those.
    const std::vector<std::string> all = lines();
    const auto from = std::find(all.begin(), all.end(), "Capturing to " + path);
    const std::vector<std::string> console(from, all.end() - 1);
    EXPECT_EQ(6u, console.size());
    EXPECT_EQ("Frames refused: 1 of 40 read", console.back());

    const captest::File f = captest::readFile(path);
    ASSERT_TRUE(f.complete) << f.why;
    ASSERT_EQ(40u, f.frames.size());
    ASSERT_EQ(40u, f.poses.size());
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(f.frames[i].count, f.poses[i].frame);
        EXPECT_EQ(records[i], f.poses[i].sensors) << "frame " << i;
        EXPECT_EQ(i == 20 ? 0u : 3u, f.poses[i].sensors.size()) << "frame " << i;
    }
    EXPECT_EQ(20u, f.frames[20].bytes.size());
    EXPECT_EQ(console, f.lines);
    EXPECT_EQ("Capturing to " + path, f.lines.front());
    EXPECT_EQ("baud 115200", f.value("option.01"));
    EXPECT_EQ("sensoroffset 1 0.5 0.25 -1 inches", f.value("option.05"));
    EXPECT_EQ("capture " + path, f.value("option.06"));
    EXPECT_EQ("0", f.value("tracker_type"));
    EXPECT_EQ("16", f.value("sensors_supported"));
    EXPECT_EQ("0xf", f.value("detected_map"));
    EXPECT_EQ("240", f.value("frame_rate"));
    EXPECT_NE(std::string::npos, f.value("sdk.library.OTK").find("OTK"));
    EXPECT_EQ(std::string::npos, f.value("sdk.library.OTK").find("not loaded"));
    EXPECT_EQ("40", f.value("frames", true));
    EXPECT_EQ("0", f.value("frames_left_out", true));
    EXPECT_EQ("stop", f.value("ended", true));

    // The replay, with the same lines: its capture goes beside the first.
    clearOutput();
    table.count() = 0;
    lines(path);
    streaming("replay=\"" + path + "\"");
    EXPECT_EQ(1u, count("Capturing to " + captest::join(folder, "site-1.mcap")));
    std::size_t served = 0;
    while (otksim::PushMotionFrame(sim())) {
        cycle();
        ASSERT_LT(served, f.poses.size());
        EXPECT_EQ(f.poses[served].sensors, written()) << "frame " << served;
        ++served;
    }
    EXPECT_EQ(40u, served);
    EXPECT_EQ(2, state().replayState) << "ended as the capture did";
    ASSERT_TRUE(dev->stop());
    dev.reset();
    const captest::File again = captest::readFile(captest::join(folder, "site-1.mcap"));
    ASSERT_EQ(f.frames.size(), again.frames.size());
    for (std::size_t i = 0; i < f.frames.size(); ++i) {
        EXPECT_EQ(f.frames[i].count, again.frames[i].count);
        EXPECT_EQ(f.frames[i].bytes, again.frames[i].bytes);
        EXPECT_EQ(f.poses[i].sensors, again.poses[i].sensors);
    }
}

TEST_F(CaptureTest, ACaptureCutAnywhereReplaysItsWholeFrames)
{
    const std::string folder = captest::freshFolder("capture-scratch", "cut");
    const std::string path = captest::join(folder, "whole.mcap");
    lines(path);
    streaming("rate=240 stations=3");
    for (int i = 0; i < 24; ++i) {
        ASSERT_TRUE(otksim::PushMotionFrame(sim()));
        cycle();
    }
    ASSERT_TRUE(dev->stop());
    dev.reset();
    const std::vector<unsigned char> bytes = captest::fileBytes(path);
    const captest::File whole = captest::readFile(path);
    ASSERT_TRUE(whole.complete);
    ASSERT_EQ(24u, whole.frames.size());

    const std::string cutPath = captest::join(folder, "cut.mcap");
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 0; cut < bytes.size(); cut += 300)
        cuts.push_back(cut);
    cuts.push_back(bytes.size());
    for (const std::size_t cut : cuts) {
        captest::writeBytes(cutPath, bytes.data(), cut);
        clearOutput();
        lines("");
        OvTrackD& d = make("replay=" + cutPath);
        table.count() = 0;
        const std::string failure = "Unable to read discover tracker: Cannot replay " + cutPath + ": byte ";
        if (cut < whole.tarsisEnd) {
            EXPECT_EQ(-1, d.init(&info)) << "cut at " << cut;
            ASSERT_FALSE(lines().empty());
            EXPECT_EQ(failure, lines().front().substr(0, failure.size())) << "cut at " << cut;
            continue;
        }
        ASSERT_EQ(1, d.init(&info)) << "cut at " << cut;
        d.configure();
        ASSERT_TRUE(d.start());
        std::size_t expected = 0;
        while (expected < whole.frames.size() && whole.frames[expected].end <= cut)
            ++expected;
        std::size_t served = 0;
        testing::internal::CaptureStderr();
        while (otksim::PushMotionFrame(sim())) {
            cycle();
            ++served;
        }
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(expected, served) << "cut at " << cut;
        if (cut < bytes.size()) {
            const std::string line = "otksim: the capture " + cutPath + " ended early (byte ";
            const std::string tail = ") after " + std::to_string(expected) + " frames; the tracker is gone\n";
            EXPECT_EQ(line, said.substr(0, line.size())) << "cut at " << cut;
            EXPECT_TRUE(said.size() > tail.size() && said.compare(said.size() - tail.size(), tail.size(), tail) == 0)
                << said;
        } else {
            EXPECT_EQ("", said);
        }
        EXPECT_EQ(cut == bytes.size() ? 2 : 3, state().replayState) << "cut at " << cut;
        if (expected) {
            EXPECT_EQ(whole.frames[expected - 1].count, state().frameCount) << "cut at " << cut;
        }
        d.stop();
        dev.reset();
    }
}

TEST_F(CaptureTest, FilesThatAreNoCaptureFailInitNamingFileByteAndWhat)
{
    const std::string folder = captest::freshFolder("capture-scratch", "notcapture");
    auto mcapFile = [](const mcap::KeyValues* tarsis) {
        std::vector<unsigned char> out;
        mcap::Writer w(captest::toVector, &out);
        w.start("", "other 2");
        if (tarsis)
            w.metadata("tarsis", *tarsis);
        w.finish();
        return out;
    };
    const mcap::KeyValues good = {{"capture_format", "1"}, {"tracker_type", "0"}, {"sensors_supported", "16"},
                                  {"detected_map", "0xf"}, {"frame_rate", "120"}};
    auto with = [&good](const char* key, const char* value) {
        mcap::KeyValues v;
        for (const auto& kv : good)
            if (kv.first != key)
                v.push_back(kv);
        if (value)
            v.emplace_back(key, value);
        return v;
    };
    const std::size_t metadataAt = 8 + 9 + 4 + 4 + 7; // magic, then the header of library "other 2"
    const mcap::KeyValues format2 = with("capture_format", "2"), noType = with("tracker_type", nullptr),
                          type7 = with("tracker_type", "7"), rate60 = with("frame_rate", "60");
    struct Case {
        const char* file;
        std::vector<unsigned char> bytes;
        std::string what; // after "byte "
    };
    const std::vector<unsigned char> plain = mcapFile(nullptr);
    std::vector<unsigned char> version = mcapFile(&good);
    version[5] = '7';
    const std::vector<Case> cases = {
        {"empty.mcap", {}, "0: the file is empty"},
        {"notes.txt", {'s', 'i', 't', 'e', ' ', 'n', 'o', 't', 'e', 's', '\n'},
         "0: not an MCAP file: it does not start with the MCAP magic"},
        {"version.mcap", version, "5: unknown MCAP version '7'"},
        {"other.mcap", plain, std::to_string(metadataAt) + ": not a capture of the tracker device: no tarsis metadata"},
        {"format2.mcap", mcapFile(&format2), std::to_string(metadataAt) + ": unknown capture format '2' (this replays 1)"},
        {"notype.mcap", mcapFile(&noType), std::to_string(metadataAt) + ": the tarsis metadata lacks tracker_type"},
        {"type7.mcap", mcapFile(&type7), std::to_string(metadataAt) + ": tracker type '7' is not one this tracker can be"},
        {"rate60.mcap", mcapFile(&rate60), std::to_string(metadataAt) + ": frame rate '60' is not one of this tracker"},
    };
    serial();
    // What init of a device on a tracker that replays path says; it fails.
    const auto initFails = [this](const std::string& path) {
        clearOutput();
        OvTrackD& d = make("replay=" + path);
        for (unsigned i = 0; i < cfg.get()->optionCount; ++i)
            cfg.option(i).consumed = 0;
        EXPECT_EQ(-1, d.init(&info)) << path;
        const std::vector<std::string> said = lines();
        dev.reset();
        return said;
    };
    for (const Case& c : cases) {
        const std::string path = captest::join(folder, c.file);
        captest::writeBytes(path, c.bytes.data(), c.bytes.size());
        const std::vector<std::string> said = initFails(path);
        ASSERT_GE(said.size(), 2u);
        EXPECT_EQ("Unable to read discover tracker: Cannot replay " + path + ": byte " + c.what, said[0]);
        EXPECT_EQ("Error: connecting to tracker", said[1]);
    }
    const std::string missing = captest::join(folder, "missing.mcap");
    const std::string head = "Unable to read discover tracker: Cannot replay " + missing + ": cannot open it: ";
    EXPECT_EQ(head, initFails(missing).at(0).substr(0, head.size()));
}

TEST_F(CaptureTest, AWriterHeldBackCostsFramesNotWaits)
{
    Capture::setRingBytesForTests(64u << 10);
    const std::string path = captest::join(captest::freshFolder("captures", "heldback"), "site.mcap");
    lines(path);
    streaming("rate=240 stations=f");
    ASSERT_NE(nullptr, dev->m_pCapturing);
    dev->m_pCapturing->holdWriter(true);
    pauses().clear();
    for (int i = 0; i < 400; ++i) {
        ASSERT_TRUE(otksim::PushMotionFrame(sim()));
        ASSERT_EQ(1, cycle());
        ASSERT_EQ(4u, written().size()) << "tracking goes on";
    }
    // The cycles asked for their one pause each and nothing else.
    EXPECT_EQ(std::vector<unsigned>(400, 1u), pauses());
    const std::uint32_t leftOut = dev->m_pCapturing->framesLeftOut();
    EXPECT_GT(leftOut, 100u);
    EXPECT_LT(leftOut, 300u);
    const std::string behind =
        "Capture falls behind: frames are left out of " + path + " and counted there (a slow disk?)";
    EXPECT_EQ(1u, count(behind));
    dev->m_pCapturing->holdWriter(false);
    for (int i = 0; i < 5; ++i) {
        // Room comes back once the writer drains.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        do {
            const std::uint32_t before = dev->m_pCapturing->framesLeftOut();
            ASSERT_TRUE(otksim::PushMotionFrame(sim()));
            cycle();
            if (dev->m_pCapturing->framesLeftOut() == before)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < until);
    }
    const std::uint32_t total = dev->m_pCapturing->framesLeftOut();
    const unsigned pushed = static_cast<unsigned>(otksim::CallCount(sim(), "LastPnoPtr"));
    ASSERT_TRUE(dev->stop());
    EXPECT_EQ(1u, count(behind));
    EXPECT_EQ("Capture finished: " + path + ", " + std::to_string(pushed - total) + " frames, " +
                  std::to_string(total) + " left out",
              lines().back());
    const captest::File f = captest::readFile(path);
    ASSERT_TRUE(f.complete) << f.why;
    EXPECT_EQ(pushed - total, f.frames.size());
    EXPECT_EQ(std::to_string(total), f.value("frames_left_out", true));
    EXPECT_EQ(total, f.poses.back().leftOut);
    EXPECT_EQ(0u, f.poses.front().leftOut);
    EXPECT_EQ(1, std::count(f.lines.begin(), f.lines.end(), behind));
}

TEST_F(CaptureTest, AFailingWriteEndsTheCaptureNotTheTracking)
{
    // A file that cannot be made (its folder does not exist; on Windows the
    // path has a drive letter and backslashes): said, and tracking goes on.
    const std::string missing =
        (fs::absolute(captest::freshFolder("capture-scratch", "nowhere")) / "no-such-folder" / "site.mcap").string();
    lines(missing);
    streaming("rate=240 stations=3");
    const std::string head = "Capture not possible: cannot create " + missing + ": ";
    ASSERT_FALSE(lines().empty());
    EXPECT_EQ(head, lines().back().substr(0, head.size()));
    EXPECT_GT(lines().back().size(), head.size()) << "with the system's reason";
    EXPECT_EQ(nullptr, dev->m_pCapturing);
    ASSERT_TRUE(otksim::PushMotionFrame(sim()));
    EXPECT_EQ(1, cycle());
    EXPECT_EQ(2u, written().size());
    EXPECT_TRUE(dev->stop());
    dev.reset();
#ifndef _WIN32
    // Real failures of the system while the capture runs: the file's folder
    // removed (the file's writes would go nowhere), and a file size limit of
    // the process (as a full disk would fail them).
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit was;
    getrlimit(RLIMIT_FSIZE, &was);
    const struct {
        const char* name;
        std::string reason;
    } cases[] = {{"gone", "No such file or directory"}, {"full", "File too large"}};
    for (const auto& c : cases) {
        const std::string folder = captest::freshFolder("capture-scratch", c.name);
        const std::string path = captest::join(folder, "site.mcap");
        clearOutput();
        lines(path);
        streaming("rate=240 stations=f");
        if (std::string(c.name) == "gone") {
            fs::remove_all(folder);
        } else {
            struct rlimit small = was;
            small.rlim_cur = 20000;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const std::string ended = "Capture ended: cannot write " + path + ": " + c.reason;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (count(ended) == 0 && std::chrono::steady_clock::now() < until) {
            ASSERT_TRUE(otksim::PushMotionFrame(sim()));
            EXPECT_EQ(1, cycle());
            EXPECT_EQ(4u, written().size()) << c.name;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        setrlimit(RLIMIT_FSIZE, &was);
        EXPECT_EQ(1u, count(ended)) << c.name;
        ASSERT_TRUE(otksim::PushMotionFrame(sim()));
        EXPECT_EQ(1, cycle()) << "tracking goes on: " << c.name;
        EXPECT_TRUE(dev->stop());
        EXPECT_EQ(1u, count(ended)) << "said once: " << c.name;
        for (const std::string& l : lines())
            EXPECT_NE(0u, l.find("Capture finished")) << c.name;
        dev.reset();
    }
    std::signal(SIGXFSZ, SIG_DFL);
#endif
}

TEST_F(CaptureTest, NothingIsOverwrittenAndTwoDevicesWriteTheirOwnFiles)
{
    // Absolute paths: on Windows with a drive letter and backslashes.
    const std::string folder = fs::absolute(captest::freshFolder("captures", "twodevices")).string();
    const std::string path = captest::join(folder, "site.mcap");
    const char keep[] = "a file of someone else";
    captest::writeBytes(path, keep, sizeof keep);
    lines(path);
    streaming("rate=240 stations=3");
    testhelp::Config cfg2("tarsis1");
    cfg2.add("baud", {"115200"}).add("reset", {"no"}).add("capture", {path.c_str()});
    otksim::SetScenario("frames=manual rate=240 stations=c");
    std::unique_ptr<OvTrackD> second(new OvTrackD(cfg2.get(), &log));
    ASSERT_EQ(1, second->init(&info));
    second->configure();
    ASSERT_TRUE(second->start());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(otksim::PushMotionFrame(sim()));
        cycle();
        if (i % 2) {
            ASSERT_TRUE(otksim::PushMotionFrame(testhelp::simOf(*second)));
            second->recvData(reinterpret_cast<unsigned char*>(&flags), 8);
        }
    }
    EXPECT_EQ(1u, count("Capturing to " + captest::join(folder, "site-1.mcap")));
    EXPECT_EQ(1u, count("Capturing to " + captest::join(folder, "site-2.mcap")));
    ASSERT_TRUE(dev->stop());
    ASSERT_TRUE(second->stop());
    second.reset();
    EXPECT_EQ(std::vector<unsigned char>(keep, keep + sizeof keep), captest::fileBytes(path));
    fs::remove(path); // not a capture: the folder holds captures only
    const captest::File first = captest::readFile(captest::join(folder, "site-1.mcap"));
    const captest::File other = captest::readFile(captest::join(folder, "site-2.mcap"));
    EXPECT_EQ("tarsis0", first.value("device"));
    EXPECT_EQ(10u, first.frames.size());
    EXPECT_EQ("tarsis1", other.value("device"));
    EXPECT_EQ(5u, other.frames.size());
    EXPECT_EQ(3u, other.poses.back().sensors.front().id) << "behind the first device's two records";
    // The names tried, with either kind of path.
    const struct {
        const char* path;
        unsigned n;
        bool backslash;
        const char* name;
    } names[] = {
        {"site.mcap", 0, false, "site.mcap"},
        {"site.mcap", 1, false, "site-1.mcap"},
        {"runs/site.v2.mcap", 12, false, "runs/site.v2-12.mcap"},
        {"runs.d/site", 1, false, "runs.d/site-1"},
        {"runs/.mcap", 1, false, "runs/.mcap-1"},
        {"C:\\caps.d\\site", 1, true, "C:\\caps.d\\site-1"},
        {"C:\\caps\\site.mcap", 2, true, "C:\\caps\\site-2.mcap"},
        {"C:site.mcap", 1, true, "C:site-1.mcap"},
        {"a\\b.c\\d", 1, false, "a\\b-1.c\\d"},
    };
    for (const auto& n : names)
        EXPECT_EQ(n.name, Capture::nameFor(n.path, n.n, n.backslash)) << n.path << " " << n.n;
}

TEST_F(CaptureTest, TheOptionLineIsReportedOrRefusedWithoutStoppingTheDevice)
{
    const struct {
        std::vector<const char*> args;
        const char* said; // the refusal, or the report's line
    } cases[] = {
        {{"site.mcap"}, "tarsis0: INFO: Capture Option        : site.mcap  2048 MB"},
        {{"C:\\caps\\site.mcap", "10"}, "tarsis0: INFO: Capture Option        : C:\\caps\\site.mcap  10 MB"},
        {{"site.mcap", "1048576"}, "tarsis0: INFO: Capture Option        : site.mcap  1048576 MB"},
        {{}, "Invalid Number of Capture Arguments on Line 30."},
        {{"a.mcap", "1", "x"}, "Invalid Number of Capture Arguments on Line 30."},
        {{""}, "Invalid Capture Path on Line 30."},
        {{"a.mcap", "0"}, "Invalid Capture Limit on Line 30."},
        {{"a.mcap", "1048577"}, "Invalid Capture Limit on Line 30."},
        {{"a.mcap", "12.5"}, "Invalid Capture Limit on Line 30."},
        {{"a.mcap", "-3"}, "Invalid Capture Limit on Line 30."},
    };
    for (const auto& c : cases) {
        cfg.clear();
        serial();
        ConfigOption& o = cfg.add("capture").option(2);
        for (const char* a : c.args)
            o.args[o.argCount++] = a;
        clearOutput();
        table.count() = 0;
        OvTrackD& d = make();
        EXPECT_EQ(1, d.init(&info)) << c.said;
        EXPECT_EQ(1u, count(c.said));
        EXPECT_EQ(std::string(c.said).find("Invalid") == 0, d.m_capture == nullptr) << c.said;
        dev.reset();
    }
}

TEST_F(CaptureTest, TheLimitEndsTheCaptureCleanly)
{
    const std::string path = captest::join(captest::freshFolder("captures", "limit"), "site.mcap");
    lines(path);
    cfg.add("capture", {path.c_str(), "1"}); // the later line counts
    streaming("rate=240 max=32 stations=ffff");
    const std::string stopped = "Capture stopped at its limit of 1 MB: " + path;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int frames = 0;
    while (count(stopped) == 0 && std::chrono::steady_clock::now() < until) {
        ASSERT_TRUE(otksim::PushMotionFrame(sim()));
        ASSERT_EQ(1, cycle());
        if (++frames % 50 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(1u, count(stopped));
    ASSERT_TRUE(dev->stop());
    const captest::File f = captest::readFile(path);
    ASSERT_TRUE(f.complete) << f.why;
    EXPECT_EQ("limit", f.value("ended", true));
    EXPECT_EQ("1", f.value("limit_mb"));
    const auto size = fs::file_size(path);
    EXPECT_GE(size, 1u << 20);
    EXPECT_LT(size, (1u << 20) + (600u << 10)) << "at most a chunk and the summary past the limit";
    EXPECT_LT(f.frames.size(), static_cast<std::size_t>(frames));
}

TEST_F(CaptureTest, AThreadReplaysAtTheRecordedPaceAndLoops)
{
    // Frames 50 ms apart on the capture's clock: a host that cycles every
    // millisecond or so reads each of them, even on a busy machine.
    const std::string path = captest::join(captest::freshFolder("captures", "paced"), "site.mcap");
    ASSERT_NO_FATAL_FAILURE(takeAt(path, "rate=240 stations=3", spaced(12, 50000000ull)));
    const captest::File f = captest::readFile(path);
    ASSERT_EQ(12u, f.frames.size());

    // A host faster than the frames reads every one of them, in order, and
    // with the loop the counts go on.
    lines("");
    OvTrackD& r = make("frames=thread loop replay=\"" + path + "\"");
    ASSERT_EQ(1, r.init(&info));
    r.configure();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(r.start());
    std::vector<std::uint32_t> counts;
    const auto until = started + std::chrono::seconds(20);
    while (counts.size() < 18 && std::chrono::steady_clock::now() < until) {
        const std::uint32_t before = r.m_dwLastFrameCount;
        cycle();
        if (r.m_dwLastFrameCount != before)
            counts.push_back(r.m_dwLastFrameCount);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(18u, counts.size());
    const std::uint32_t first = f.frames.front().count, span = f.frames.back().count - first + 1;
    for (std::size_t i = 0; i < counts.size(); ++i)
        EXPECT_EQ(i < 12 ? f.frames[i].count : f.frames[i - 12].count + span, counts[i]) << i;
    EXPECT_GE(seconds, 0.85) << "18 frames 50 ms apart";
    r.stop();
}

TEST_F(CaptureTest, CaptureInfoSummarisesAFile)
{
    const std::string path = captest::join(captest::freshFolder("captures", "info"), "site.mcap");
    std::vector<std::uint64_t> times;
    std::uint64_t t = kSomeTime;
    for (int i = 0; i < 100; ++i)
        times.push_back(t += i == 40 ? 100000000ull : 4166667ull); // one gap of 100 ms
    ASSERT_NO_FATAL_FAILURE(takeAt(path, "rate=240 stations=5", times));
    std::ostringstream out, err;
    EXPECT_EQ(0, trackhost::captureInfo(path, out, err));
    EXPECT_EQ("capture: " + path + "\n"
              "tracker: Orvane Tarsis, 16 sensors supported, 2 detected (map 0x5), output map 0x5, 240 Hz\n"
              "device: tarsis0 (module " TARSIS_VERSION ")\n"
              "duration: 0.508 s\n"
              "frames: 100, 194.8 per second\n"
              "stations: 1 3\n"
              "gaps longer than 4 frame periods (16.7 ms): 1\n"
              "  at 0.163 s: 100.0 ms (frame 40 to 41)\n"
              "frames left out: 0\n"
              "console lines: 1\n"
              "option lines: baud 115200 | reset no | framerate 240 | transmitterrotation 0 1 0 30 | "
              "sensoroffset 1 0.5 0.25 -1 inches | capture " + path + "\n"
              "file: complete, ended by stop\n",
              out.str());
    EXPECT_EQ("", err.str());
    // Cut short: what was read, and where it stopped.
    const std::vector<unsigned char> bytes = captest::fileBytes(path);
    const std::string cut = captest::join(captest::freshFolder("capture-scratch", "info"), "cut.mcap");
    captest::writeBytes(cut, bytes.data(), bytes.size() - 20);
    std::ostringstream cutOut, cutErr;
    EXPECT_EQ(1, trackhost::captureInfo(cut, cutOut, cutErr));
    EXPECT_NE(std::string::npos, cutOut.str().find("\nframes: 100, 194.8 per second\n"));
    EXPECT_NE(std::string::npos, cutOut.str().find("\nfile: cut short at byte " + std::to_string(bytes.size() - 8 - 29) +
                                                    " (the file ends inside a Footer record); read up to there\n"))
        << cutOut.str();
}

TEST_F(CaptureTest, ReplayPointsTheModuleAtTheSimulatedSdkAndTheCapture)
{
    const std::string path = captest::join(captest::freshFolder("captures", "setup"), "site.mcap");
    ASSERT_NO_FATAL_FAILURE(takeAt(path, "rate=240 stations=3", spaced(2, 3000000000ull)));

    const testhelp::ScopedEnv scenario("OTK_SIM", "latency=1"), sdkDir("TARSIS_SDK_DIR", nullptr);
    trackhost::Options options;
    options.replayPath = path;
    options.speed = 2;
    std::ostringstream err;
    ASSERT_TRUE(trackhost::prepareReplay(options, err)) << err.str();
    char exeDir[4096];
    plat::executableDir(exeDir, sizeof exeDir);
    EXPECT_EQ(trackhost::simulatorFolder(exeDir), std::getenv("TARSIS_SDK_DIR"));
    EXPECT_FALSE(trackhost::simulatorFolder(exeDir).empty());
    EXPECT_EQ("latency=1 replay=\"" + path + "\" speed=2", std::getenv("OTK_SIM"));
    EXPECT_DOUBLE_EQ(3.0 / 2 + 1, options.runSeconds) << "the capture at its speed, and a second";
    options.loop = true;
    options.runSeconds = 0;
    ASSERT_TRUE(trackhost::prepareReplay(options, err));
    EXPECT_EQ(0, options.runSeconds) << "a loop runs until stopped";

    options.replayPath = captest::join(captest::freshFolder("capture-scratch", "setup"), "none.mcap");
    EXPECT_FALSE(trackhost::prepareReplay(options, err));
    const std::string head = "trackhost: Cannot replay " + options.replayPath + ": cannot open it: ";
    EXPECT_EQ(head, err.str().substr(0, head.size()));
}
