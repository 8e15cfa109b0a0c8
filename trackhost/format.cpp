#include "trackhost/format.h"

#include "support/platform.h"
#include "support/utf8.h"

#include <cstdio>

namespace trackhost {

namespace {

std::int32_t netInt(std::int32_t v) { return static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(v))); }

} // namespace

std::string jsonString(const std::string& text)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = bytes[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = c >= 0x80 ? utf8Length(bytes + i, text.size() - i) : 0) {
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
    recordPose(record, v);
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

void recordPose(const TrackerRecord& record, double (&pose)[6])
{
    for (int i = 0; i < 6; ++i)
        pose[i] = netInt(record.pose[i]) / 100000.0;
}

} // namespace trackhost
