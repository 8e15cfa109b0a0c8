// The device's side of a capture: the "capture" option line, what the file's
// metadata says about the tracker and the device, and the capture's start
// with the stream and its end at stop.
#include "tracker/ovtrackd.h"

#include "tracker/sdkbind.h"

#include <cstdio>
#include <iostream>
#include <string>

#ifndef TARSIS_VERSION
#define TARSIS_VERSION "unknown"
#endif

using namespace sdk;

namespace {

// A whole decimal number within 1..limit, nothing else on the line.
bool readLimit(const char* text, std::uint32_t limit, std::uint32_t& value)
{
    if (!text || !*text)
        return false;
    unsigned long long v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > limit)
            return false;
    }
    if (v == 0)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

std::string hex(std::uint32_t map)
{
    char text[16];
    std::snprintf(text, sizeof text, "%#x", map);
    return text;
}

// An option line as the configuration file would hold it: keyword and
// arguments, an argument with a blank (or none at all) in double quotes.
std::string verbatim(const ConfigOption& o)
{
    std::string line = o.name ? o.name : "";
    for (std::uint32_t a = 0; static_cast<std::int32_t>(a) < o.argCount && a < kMaxOptionArgs; ++a) {
        const std::string arg = o.args[a] ? o.args[a] : "";
        line += ' ';
        if (arg.empty() || arg.find_first_of(" \t") != std::string::npos)
            line += '"' + arg + '"';
        else
            line += arg;
    }
    return line;
}

} // namespace

int OvTrackD::SetCaptureOpt(unsigned index)
{
    OvDebug::OVDOUT("OvTrackD::SetCaptureOpt()\r\n");
    // A line that cannot be honoured is said, and the device tracks on
    // without a capture: the file is a diagnosis, never a reason to stop.
    m_capture.reset();
    const ConfigOption& o = option(index);
    if (o.argCount < 1 || o.argCount > 2) {
        std::cout << "Invalid Number of Capture Arguments on Line " << o.lineNumber << "." << std::endl;
        return 1;
    }
    if (!o.args[0] || !*o.args[0]) {
        std::cout << "Invalid Capture Path on Line " << o.lineNumber << "." << std::endl;
        return 1;
    }
    std::uint32_t limitMb = Capture::kDefaultLimitMb;
    if (o.argCount == 2 && !readLimit(o.args[1], Capture::kMaxLimitMb, limitMb)) {
        std::cout << "Invalid Capture Limit on Line " << o.lineNumber << "." << std::endl;
        return 1;
    }
    m_capture.reset(new Capture(o.args[0], limitMb, &OvTrackD::CaptureSay, this));
    return 1;
}

void OvTrackD::CaptureSay(void* device, const char* text)
{
    // Past the repeat filter: each of these lines names its file, and none
    // comes often enough to flood; while the capture runs it keeps them too.
    ConsoleLine(device, text);
    CaptureTap(device, text);
}

void OvTrackD::CaptureTap(void* device, const char* text)
{
    OvTrackD* d = static_cast<OvTrackD*>(device);
    if (d->m_pCapturing)
        d->m_pCapturing->line(text);
}

mcap::KeyValues OvTrackD::CaptureMetadata()
{
    mcap::KeyValues v;
    v.emplace_back("module_version", TARSIS_VERSION);
    v.emplace_back("device", m_pszName ? m_pszName : "");
    const int type = m_dev.TrackerType();
    v.emplace_back("tracker_type", std::to_string(type));
    v.emplace_back("tracker_model", type == sdk::OV_TRACKER_TARSIS   ? "Orvane Tarsis"
                                    : type == sdk::OV_TRACKER_BREVIK ? "Orvane Brevik"
                                                                : "Orvane Tracker");
    v.emplace_back("sensors_supported", std::to_string(m_nMaxTrackers));
    v.emplace_back("sensors_detected", std::to_string(m_nDetected));
    v.emplace_back("detected_map", hex(m_dwDetectedMap));
    v.emplace_back("sensor_map", hex(m_dwSensorMap));
    v.emplace_back("output_map", hex(OutputMap()));
    v.emplace_back("frame_rate", m_nRateHz ? std::to_string(m_nRateHz) : std::string());
    v.emplace_back("cave_coordinates", m_bCAVECoord ? "yes" : "no");
    for (unsigned i = 0; i < optionCount(); ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "option.%02u", i + 1);
        v.emplace_back(key, verbatim(option(i)));
    }
    // The SDK the frames came through: its files and what each member was
    // bound to, as trackhost --sdk shows them.
    const sdk::BindReport& report = sdk::acquireBinding(nullptr);
    static const char* const kLibraries[] = {"OTK", "OvCmdIF"};
    for (int l = 0; l < static_cast<int>(sdk::Library::Count); ++l) {
        const sdk::BindReport::Lib& lib = report.libraries[l];
        v.emplace_back(std::string("sdk.library.") + kLibraries[l],
                       lib.loaded ? lib.path : lib.file + " (not loaded: " + lib.failure + ")");
    }
    for (int m = 0; m < sdk::kMemberCount; ++m) {
        const sdk::MemberInfo& info = sdk::memberInfo(static_cast<sdk::Id>(m));
        const sdk::BindReport::Member& member = report.members[m];
        const char* state = member.state == sdk::BindReport::Member::Bound    ? nullptr
                            : member.state == sdk::BindReport::Member::Absent ? "(not exported, not needed)"
                                                                              : "(not bound)";
        v.emplace_back(std::string("sdk.member.") + info.cls + "::" + info.member, state ? state : member.name);
    }
    sdk::releaseBinding();
    return v;
}

void OvTrackD::BeginCapture()
{
    if (!m_capture || m_pCapturing)
        return;
    // The capture's own lines, and every console line of the device while it
    // runs, go into its log.
    m_pCapturing = m_capture.get();
    m_console.setTap(&OvTrackD::CaptureTap, this);
    if (!m_capture->begin(CaptureMetadata())) {
        m_pCapturing = nullptr;
        m_console.setTap(nullptr, nullptr);
    }
}

void OvTrackD::EndCapture()
{
    if (!m_pCapturing)
        return;
    // The counts of repeated lines still held belong in the capture's log.
    EndRepeats();
    Capture* capture = m_pCapturing;
    m_pCapturing = nullptr;
    capture->end();
    m_console.setTap(nullptr, nullptr);
}
