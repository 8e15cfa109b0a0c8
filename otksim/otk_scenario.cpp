// Scenario text, operation names and result texts of the simulated tracker.
#include "otksim/otk_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace otkint {

namespace {

const char* const kOpNames[] = {
    "SetSerialIF", "DiscoverCnx", "CnxReady", "RestartTracker", "Disconnect", "GetStationMap",
    "SetStationMap", "GetBITErrs", "ClearBITErrs", "MaxSensors", "TrackerType", "SetFrameRate",
    "SetSHemisphere", "ResetSAlignment", "SetSAlignment", "SetSDataList", "ClearPnoBuffer",
    "StartContPno", "StopContPno", "LastHostFrameCount", "LastPnoPtr", "GetLastResult",
    "GetLastResultStr",
};
static_assert(sizeof kOpNames / sizeof kOpNames[0] == static_cast<size_t>(Op::Count),
              "one name per operation");

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool parseDecimal(const std::string& s, long low, long high, long& out)
{
    if (s.empty() || s.size() > 9)
        return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high)
        return false;
    out = v;
    return true;
}

// Hexadecimal with an optional 0x prefix, at most 32 bits.
bool parseHex(std::string s, std::uint32_t& out)
{
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s = s.substr(2);
    if (s.empty())
        return false;
    unsigned long long v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull)
            return false;
    }
    out = static_cast<std::uint32_t>(v);
    return true;
}

std::vector<std::string> split(const std::string& s, const char* separators);

// AFTER_MS:FOR_MS of a timed fault; the key's one span.
bool parseTimedFault(const std::string& value, std::vector<Span>& spans)
{
    const std::vector<std::string> f = split(value, ":");
    long after = 0, length = 0;
    if (f.size() != 2 || !parseDecimal(f[0], 0, 100000000, after) || !parseDecimal(f[1], 1, 100000000, length))
        return false;
    const unsigned long long from = static_cast<unsigned long long>(after);
    spans.assign(1, Span{from, from + static_cast<unsigned long long>(length), 1});
    return true;
}

std::vector<std::string> split(const std::string& s, const char* separators)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (std::strchr(separators, c)) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

// The pairs of a scenario, split at blanks and ';' outside double quotes
// (which are dropped), so that a file name may hold either. False for a
// quote left open.
bool splitPairs(const std::string& s, std::vector<std::string>& pairs)
{
    std::string cur;
    bool quoted = false;
    for (char c : s) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && std::strchr(" \t\r\n;", c)) {
            pairs.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    pairs.push_back(cur);
    return !quoted;
}

// One fail= entry, OP:CODE[:COUNT]; returns the complaint or "".
std::string parseFault(const std::string& entry, Fault& out)
{
    std::vector<std::string> f = split(entry, ":");
    if (f.size() < 2 || f.size() > 3)
        return "expected OP:CODE[:COUNT]";
    Op op;
    if (!opFromName(f[0].c_str(), op))
        return "unknown operation " + f[0];
    if (!opFaultable(op))
        return f[0] + " cannot fail";
    std::uint32_t code = 0;
    // Codes stay within what eOvErrCode can hold.
    if (!parseHex(f[1], code) || code == 0 || code > 0x3FFFFFFF)
        return "bad result code " + f[1];
    long count = -1;
    if (f.size() == 3 && !parseDecimal(f[2], 1, 100000000, count))
        return "bad count " + f[2];
    out = Fault{op, code, count};
    return std::string();
}

// Applies one key=value pair; returns the complaint or "".
std::string applyPair(const std::string& key, const std::string& value, Scenario& sc, bool& haveMax,
                      bool& haveStations, bool& haveRate)
{
    const std::string word = lower(value);
    long n = 0;
    if (key == "type") {
        if (word == "tarsis")
            sc.type = OV_TRACKER_TARSIS;
        else if (word == "brevik")
            sc.type = OV_TRACKER_BREVIK;
        else
            return "type is tarsis or brevik";
    } else if (key == "max") {
        if (!parseDecimal(value, 1, 32, n))
            return "max is 1 to 32";
        sc.maxSensors = static_cast<int>(n);
        haveMax = true;
    } else if (key == "stations") {
        if (!parseHex(value, sc.stations))
            return "stations is a 32-bit hexadecimal map";
        haveStations = true;
    } else if (key == "rate") {
        if (!parseDecimal(value, 1, 1000, n) || (n != 60 && n != 120 && n != 240))
            return "rate is 60, 120 or 240";
        sc.rateHz = static_cast<int>(n);
        haveRate = true;
    } else if (key == "bit") {
        if (word != "clear" && word != "errors")
            return "bit is clear or errors";
        sc.bitErrors = word == "errors";
    } else if (key == "motion") {
        if (word == "still")
            sc.motion = Motion::Still;
        else if (word == "circle")
            sc.motion = Motion::Circle;
        else if (word == "counter")
            sc.motion = Motion::Counter;
        else
            return "motion is still, circle or counter";
    } else if (key == "restart") {
        if (!parseDecimal(value, 0, 1000, n))
            return "restart is 0 to 1000";
        sc.restartAttempts = static_cast<int>(n);
    } else if (key == "fail") {
        for (const std::string& entry : split(value, ",")) {
            Fault f{Op::Count, 0, 0};
            std::string why = parseFault(entry, f);
            if (!why.empty())
                return why;
            sc.faults.push_back(f);
        }
    } else if (key == "frames") {
        if (word == "manual")
            sc.frames = Frames::Manual;
        else if (word == "thread")
            sc.frames = Frames::Thread;
        else if (word == "clock")
            sc.frames = Frames::Clock;
        else
            return "frames is manual, thread or clock";
    } else if (key == "drop") {
        if (!parseTimedFault(value, sc.timed.drops))
            return "drop is AFTER_MS:FOR_MS";
    } else if (key == "freeze") {
        if (!parseTimedFault(value, sc.timed.freezes))
            return "freeze is AFTER_MS:FOR_MS";
    } else if (key == "garble") {
        if (!parseTimedFault(value, sc.timed.garbles))
            return "garble is AFTER_MS:FOR_MS";
    } else if (key == "plug") {
        // Each entry holds until the next one.
        sc.timed.plugs.clear();
        for (const std::string& entry : split(value, ",")) {
            const std::vector<std::string> f = split(entry, ":");
            std::uint32_t map = 0;
            if (f.size() != 2 || !parseDecimal(f[0], 0, 100000000, n) || !parseHex(f[1], map))
                return "plug is AFTER_MS:MAP[,AFTER_MS:MAP...], MAP hexadecimal";
            const unsigned long long from = static_cast<unsigned long long>(n);
            std::vector<Span>& plugs = sc.timed.plugs;
            if (!plugs.empty() && from <= plugs.back().from)
                return "plug's times must rise";
            if (!plugs.empty())
                plugs.back().to = from;
            plugs.push_back(Span{from, kForever, map});
        }
    } else if (key == "stale") {
        if (word != "on" && word != "off")
            return "stale is on or off";
        sc.stale = word == "on";
    } else if (key == "chaos") {
        if (!parseDecimal(value, 0, 999999999, n))
            return "chaos is a seed, 0 to 999999999";
        sc.chaos = true;
        sc.chaosSeed = static_cast<std::uint64_t>(n);
    } else if (key == "footprint") {
        if (!parseDecimal(value, 0, 33554432, sc.footprintBytes))
            return "footprint is 0 to 33554432 bytes";
    } else if (key == "latency") {
        if (!parseDecimal(value, 0, 60000, sc.latencyMs))
            return "latency is 0 to 60000 ms";
    } else if (key == "linktimeout") {
        if (!parseDecimal(value, 0, 60000, sc.linkTimeoutMs))
            return "linktimeout is 0 to 60000 ms";
    } else if (key == "nan") {
        if (!parseHex(value, sc.nanStations))
            return "nan is a 32-bit hexadecimal map";
    } else if (key == "pad") {
        if (!parseDecimal(value, 0, 4096, sc.padBytes))
            return "pad is 0 to 4096 bytes";
    } else if (key == "replay") {
        if (value.empty())
            return "replay names a capture file";
        sc.replayPath = value;
    } else if (key == "speed") {
        char* end = nullptr;
        const double speed = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(speed > 0 && speed <= 1000) ||
            value.find_first_not_of("0123456789.") != std::string::npos)
            return "speed is a number above 0, up to 1000";
        sc.replaySpeed = speed;
    } else if (key == "loop") {
        if (word != "on" && word != "off")
            return "loop is on or off";
        sc.replayLoop = word == "on";
    } else if (key == "trace") {
        if (word != "on" && word != "off")
            return "trace is on or off";
        sc.trace = word == "on";
    } else {
        return "unknown key";
    }
    return std::string();
}

Scenario bad(const std::string& pair, const std::string& why)
{
    Scenario sc;
    sc.valid = false;
    sc.error = "'" + pair + "': " + why;
    return sc;
}

} // namespace

const char* opName(Op op)
{
    int i = static_cast<int>(op);
    return i >= 0 && i < static_cast<int>(Op::Count) ? kOpNames[i] : "?";
}

bool opFromName(const char* name, Op& out)
{
    if (!name)
        return false;
    for (int i = 0; i < static_cast<int>(Op::Count); ++i) {
        if (std::strcmp(name, kOpNames[i]) == 0) {
            out = static_cast<Op>(i);
            return true;
        }
    }
    return false;
}

bool opFaultable(Op op)
{
    return op != Op::MaxSensors && op != Op::TrackerType && op != Op::GetLastResult &&
           op != Op::GetLastResultStr && op != Op::Count;
}

bool opTalksToTracker(Op op)
{
    // The rest are answered by the SDK itself: its serial setting, what the
    // discovery found, closing the port, and its own frame buffer.
    switch (op) {
    case Op::DiscoverCnx:
    case Op::RestartTracker:
    case Op::GetStationMap:
    case Op::SetStationMap:
    case Op::GetBITErrs:
    case Op::ClearBITErrs:
    case Op::SetFrameRate:
    case Op::SetSHemisphere:
    case Op::ResetSAlignment:
    case Op::SetSAlignment:
    case Op::SetSDataList:
    case Op::StartContPno:
    case Op::StopContPno:
        return true;
    default:
        return false;
    }
}

Scenario parseScenario(const char* text)
{
    Scenario sc;
    bool haveMax = false, haveStations = false, haveRate = false;
    std::string ratePair;
    std::vector<std::string> pairs;
    if (!splitPairs(text ? text : "", pairs))
        return bad(pairs.empty() ? std::string() : pairs.back(), "a double quote is not closed");
    for (const std::string& pair : pairs) {
        if (pair.empty())
            continue;
        if (lower(pair) == "loop") {
            sc.replayLoop = true;
            continue;
        }
        const size_t eq = pair.find('=');
        if (eq == std::string::npos || eq == 0)
            return bad(pair, "expected key=value");
        const std::string key = lower(pair.substr(0, eq));
        std::string why = applyPair(key, pair.substr(eq + 1), sc, haveMax, haveStations, haveRate);
        if (!why.empty())
            return bad(pair, why);
        if (key == "rate")
            ratePair = pair;
    }
    // Only drop, freeze, garble and plug make timed faults of their own.
    if (sc.chaos && !sc.timed.empty())
        return bad("chaos=" + std::to_string(sc.chaosSeed), "chaos makes its own drop, freeze, garble and plug");
    const bool brevik = sc.type == OV_TRACKER_BREVIK;
    if (!haveMax)
        sc.maxSensors = brevik ? 2 : 16;
    if (!haveStations)
        sc.stations = brevik ? 0x3 : 0xf;
    if (!haveRate)
        sc.rateHz = brevik ? 60 : 120;
    else if (brevik && sc.rateHz != 60)
        return bad(ratePair, "a Brevik runs at 60 Hz only");
    else if (!brevik && sc.rateHz == 60)
        return bad(ratePair, "a Tarsis runs at 120 or 240 Hz");
    return sc;
}

void reportBadScenario(const Scenario& sc)
{
    std::fprintf(stderr, "otksim: bad scenario pair %s; no tracker will be found\n", sc.error.c_str());
    std::fflush(stderr);
}

std::string textForCode(unsigned code)
{
    switch (code) {
    case OV_ERR_NONE: return "No error";
    case OV_ERR_NO_TRACKER: return "No tracker answered discovery";
    case OV_ERR_CMD_UNCONFIRMED: return "Tracker did not confirm the command";
    case OV_ERR_TRACKER_BUSY: return "Tracker busy starting up";
    case OV_ERR_COMM_TIMEOUT: return "Timed out waiting for the tracker";
    case otksim::kNotConnected: return "Tracker not connected";
    case otksim::kBadArgument: return "Invalid argument";
    case otksim::kNotSupported: return "Not supported by this tracker";
    case otksim::kNoSensor: return "Station map selects a station without a sensor";
    case otksim::kStreaming: return "Not allowed in continuous output mode";
    case otksim::kBadScenario: return "No tracker found";
    case otksim::kNoThread: return "Could not start continuous output";
    case otksim::kLinkLost: return "Tracker link lost";
    default: break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "Error 0x%08X", code);
    return text;
}

int rateToEnum(int rateHz)
{
    return rateHz == 60 ? OV_FRAMERATE_60 : rateHz == 240 ? OV_FRAMERATE_240 : OV_FRAMERATE_120;
}

} // namespace otkint
