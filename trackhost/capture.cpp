#include "trackhost/capture.h"

#include "support/platform.h"
#include "trackhost/arguments.h"
#include "trackhost/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>

namespace trackhost {

namespace {

const std::size_t kGapsKept = 20;
const int kGapPeriods = 4;
const std::size_t kRecordSize = 32;

const std::string& valueOf(const mcap::KeyValues& values, const char* key)
{
    static const std::string none;
    const std::string* value = mcap::lookup(values, key);
    return value ? *value : none;
}

std::string format(const char* fmt, double v)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

// Why a file that has no tarsis metadata is no capture: what the reader
// found wrong, or nothing at all.
std::string notCapture(const std::string& path, const CaptureSummary& s)
{
    if (s.complete || s.why.empty())
        return path + ": not a capture of the tracker device (no tarsis metadata)";
    return path + ": byte " + std::to_string(s.stoppedAt) + ": " + s.why;
}

} // namespace

bool summarise(const std::string& path, CaptureSummary& out, std::string& why)
{
    out = CaptureSummary();
    mcap::FileSource source;
    if (!source.open(path, why)) {
        why = path + ": cannot open it: " + why;
        return false;
    }
    mcap::Reader reader(source);
    std::uint16_t frameChannel = 0, posesChannel = 0, logChannel = 0;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> frames; // log time, count
    std::uint64_t lastPosesLeftOut = 0;
    for (bool reading = true; reading;) {
        const mcap::Reader::Item& item = reader.next();
        switch (item.kind) {
        case mcap::Reader::Kind::Channel:
            if (item.name == "/tarsis/frame")
                frameChannel = item.id;
            else if (item.name == "/tarsis/poses")
                posesChannel = item.id;
            else if (item.name == "/tarsis/log")
                logChannel = item.id;
            break;
        case mcap::Reader::Kind::Metadata:
            if (item.name == "tarsis")
                out.tarsis = item.values;
            else if (item.name == "tarsis.end")
                out.end = item.values;
            break;
        case mcap::Reader::Kind::Message:
            if (item.id == frameChannel && frameChannel) {
                frames.emplace_back(item.logTime, item.sequence);
                for (std::size_t at = 0; at + kRecordSize <= item.size; at += kRecordSize) {
                    const unsigned station = item.data[at + 2];
                    if (station >= 1 && station <= 32)
                        out.stations |= 1u << (station - 1);
                }
            } else if (item.id == posesChannel && posesChannel) {
                const std::string text(reinterpret_cast<const char*>(item.data), item.size);
                const std::size_t at = text.find("\"left_out\":");
                if (at != std::string::npos)
                    lastPosesLeftOut = std::strtoull(text.c_str() + at + 11, nullptr, 10);
            } else if (item.id == logChannel && logChannel) {
                ++out.lines;
            }
            break;
        case mcap::Reader::Kind::End:
            out.complete = true;
            reading = false;
            break;
        case mcap::Reader::Kind::Cut:
        case mcap::Reader::Kind::Error:
            out.stoppedAt = item.offset;
            out.why = item.why;
            reading = false;
            break;
        default:
            break;
        }
    }
    out.readable = !out.tarsis.empty();
    out.frames = frames.size();
    if (!frames.empty()) {
        out.firstNs = frames.front().first;
        out.lastNs = frames.back().first;
    }
    const long rate = std::strtol(valueOf(out.tarsis, "frame_rate").c_str(), nullptr, 10);
    if (rate > 0)
        out.periodNs = 1e9 / static_cast<double>(rate);
    else if (frames.size() > 1)
        out.periodNs = static_cast<double>(out.lastNs - out.firstNs) / static_cast<double>(frames.size() - 1);
    for (std::size_t i = 1; i < frames.size() && out.periodNs > 0; ++i) {
        const std::uint64_t ns = frames[i].first - frames[i - 1].first;
        if (static_cast<double>(ns) <= kGapPeriods * out.periodNs)
            continue;
        if (out.gaps.size() < kGapsKept)
            out.gaps.push_back(
                CaptureSummary::Gap{frames[i - 1].first - out.firstNs, ns, frames[i - 1].second, frames[i].second});
        else
            ++out.moreGaps;
    }
    out.leftOutKnown = !out.end.empty();
    out.leftOut = out.leftOutKnown ? std::strtoull(valueOf(out.end, "frames_left_out").c_str(), nullptr, 10)
                                   : lastPosesLeftOut;
    return true;
}

int captureInfo(const std::string& path, std::ostream& out, std::ostream& err)
{
    CaptureSummary s;
    std::string why;
    if (!summarise(path, s, why)) {
        errorLine(err, why);
        return 1;
    }
    if (!s.readable) {
        errorLine(err, notCapture(path, s));
        return 1;
    }
    const std::string rate = valueOf(s.tarsis, "frame_rate");
    out << "capture: " << path << '\n';
    out << "tracker: " << valueOf(s.tarsis, "tracker_model") << ", " << valueOf(s.tarsis, "sensors_supported")
        << " sensors supported, " << valueOf(s.tarsis, "sensors_detected") << " detected (map "
        << valueOf(s.tarsis, "detected_map") << "), output map " << valueOf(s.tarsis, "output_map") << ", "
        << (rate.empty() ? "frame rate not set" : rate + " Hz") << '\n';
    out << "device: " << valueOf(s.tarsis, "device") << " (module " << valueOf(s.tarsis, "module_version") << ")\n";
    const double seconds = static_cast<double>(s.lastNs - s.firstNs) / 1e9;
    out << "duration: " << format("%.3f", seconds) << " s\n";
    out << "frames: " << s.frames << ", "
        << format("%.1f", seconds > 0 ? static_cast<double>(s.frames - 1) / seconds : 0.0) << " per second\n";
    out << "stations:";
    if (!s.stations)
        out << " none";
    for (unsigned station = 1; station <= 32; ++station)
        if (s.stations & (1u << (station - 1)))
            out << ' ' << station;
    out << '\n';
    out << "gaps longer than " << kGapPeriods << " frame periods (" << format("%.1f", kGapPeriods * s.periodNs / 1e6)
        << " ms): ";
    if (s.gaps.empty())
        out << "none\n";
    else
        out << s.gaps.size() + s.moreGaps << '\n';
    for (const CaptureSummary::Gap& g : s.gaps)
        out << "  at " << format("%.3f", static_cast<double>(g.atNs) / 1e9) << " s: "
            << format("%.1f", static_cast<double>(g.ns) / 1e6) << " ms (frame " << g.before << " to " << g.after
            << ")\n";
    if (s.moreGaps)
        out << "  and " << s.moreGaps << " more\n";
    out << "frames left out: " << s.leftOut << (s.leftOutKnown ? "" : " (up to the last frame read)") << '\n';
    out << "console lines: " << s.lines << '\n';
    out << "option lines:";
    bool any = false;
    for (const auto& kv : s.tarsis) {
        if (kv.first.compare(0, 7, "option.") == 0) {
            out << (any ? " | " : " ") << kv.second;
            any = true;
        }
    }
    out << (any ? "\n" : " none\n");
    if (s.complete) {
        out << "file: complete, ended by " << valueOf(s.end, "ended") << '\n';
        out.flush();
        return 0;
    }
    out << "file: cut short at byte " << s.stoppedAt << " (" << s.why << "); read up to there\n";
    out.flush();
    return 1;
}

std::string simulatorFolder(const std::string& exeDir)
{
#ifdef _WIN32
    const char* const core = "otksim.dll";
#else
    const char* const core = "libotksim.so";
#endif
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const fs::path& folder : {fs::path(exeDir) / ".." / "simulator", fs::path(exeDir)}) {
        if (fs::exists(folder / core, ec))
            return folder.lexically_normal().string();
    }
    return std::string();
}

bool prepareReplay(Options& options, std::ostream& err)
{
    CaptureSummary s;
    std::string why;
    if (!summarise(options.replayPath, s, why)) {
        errorLine(err, "Cannot replay " + why);
        return false;
    }
    if (!s.readable) {
        errorLine(err, "Cannot replay " + notCapture(options.replayPath, s));
        return false;
    }
    if (options.replayPath.find('"') != std::string::npos) {
        errorLine(err, "--replay: a capture's path cannot hold a double quote");
        return false;
    }
    char exeDir[4096];
    plat::executableDir(exeDir, sizeof exeDir);
    const std::string folder = simulatorFolder(exeDir);
    if (folder.empty()) {
        errorLine(err, std::string("--replay needs the simulated tracker SDK beside trackhost (in ") + exeDir +
                           " or its ../simulator)");
        return false;
    }
    // The module takes the SDK from that folder alone, whatever SDK the
    // machine has installed; the simulated one reads its scenario from OTK_SIM.
    std::string scenario;
    if (const char* before = std::getenv("OTK_SIM"))
        scenario = std::string(before) + " ";
    scenario += "replay=\"" + options.replayPath + "\"";
    if (options.speed != 1.0)
        scenario += " speed=" + format("%g", options.speed);
    if (options.loop)
        scenario += " loop";
    if (!plat::setEnvironment("TARSIS_SDK_DIR", folder.c_str()) || !plat::setEnvironment("OTK_SIM", scenario.c_str())) {
        errorLine(err, "--replay: cannot set TARSIS_SDK_DIR and OTK_SIM for the module");
        return false;
    }
    if (options.cycles < 0 && !options.loop)
        options.runSeconds = static_cast<double>(s.lastNs - s.firstNs) / 1e9 / options.speed + 1.0;
    return true;
}

} // namespace trackhost
