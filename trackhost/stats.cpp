#include "trackhost/stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace trackhost {

void Stats::record(const std::string& device, unsigned id, std::int64_t stampUs, std::int64_t readUs)
{
    Series& s = m_series.at(device, id);
    if (s.count == 0)
        s.first = stampUs;
    else
        s.maxGap = std::max(s.maxGap, stampUs - s.last);
    s.last = stampUs;
    const std::int64_t age = readUs - stampUs;
    s.maxAge = s.count == 0 ? age : std::max(s.maxAge, age);
    s.ages.offer(age); // past a limit the percentiles come from an even sample
    ++s.count;
}

void Stats::stopOutput(const std::string& device, const std::string& text)
{
    const char* const kLine = "Frames refused: ";
    for (std::size_t at = text.find(kLine); at != std::string::npos; at = text.find(kLine, at + 1)) {
        if (at > 0 && text[at - 1] != '\n')
            continue; // only a whole line
        unsigned long refused = 0, read = 0;
        char rest[8] = {};
        if (std::sscanf(text.c_str() + at + std::strlen(kLine), "%lu of %lu %4s", &refused, &read, rest) == 3 &&
            std::strcmp(rest, "read") == 0)
            m_refused[device] = refused;
    }
}

void Stats::call(const std::string& device, std::int64_t durationUs, unsigned long cycle)
{
    for (Longest& l : m_longest) {
        if (l.device == device) {
            if (durationUs > l.us)
                l = Longest{device, durationUs, cycle};
            return;
        }
    }
    m_longest.push_back(Longest{device, durationUs, cycle});
}

namespace {
// Nearest rank: the smallest value with at least p percent of them at or below it.
double percentileMs(std::vector<std::int64_t> sorted, double p)
{
    if (sorted.empty())
        return 0;
    std::size_t rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    if (rank == 0)
        rank = 1;
    return static_cast<double>(sorted[rank - 1]) / 1000.0;
}
} // namespace

std::vector<Stats::Row> Stats::rows() const
{
    std::vector<Row> out;
    for (const auto& key : m_series.order()) {
        const Series& s = m_series.at(key);
        Row r;
        r.device = key.first;
        r.id = key.second;
        r.records = s.count;
        if (s.count > 1 && s.last > s.first)
            r.rateHz = static_cast<double>(s.count - 1) * 1e6 / static_cast<double>(s.last - s.first);
        r.maxGapMs = static_cast<double>(s.maxGap) / 1000.0;
        const auto f = m_failures.find(key.first);
        r.failures = f == m_failures.end() ? 0 : f->second;
        const auto refused = m_refused.find(key.first);
        r.refused = refused == m_refused.end() ? 0 : refused->second;
        std::vector<std::int64_t> ages = s.ages.values();
        std::sort(ages.begin(), ages.end());
        r.ageP50Ms = percentileMs(ages, 50);
        r.ageP99Ms = percentileMs(ages, 99);
        r.ageMaxMs = s.count == 0 ? 0 : static_cast<double>(s.maxAge) / 1000.0;
        out.push_back(r);
    }
    // A device that failed before writing anything still shows its failures
    // and refused frames.
    for (const auto& f : m_failures) {
        bool seen = false;
        for (const auto& key : m_series.order())
            seen = seen || key.first == f.first;
        if (!seen) {
            Row r;
            r.device = f.first;
            r.failures = f.second;
            const auto refused = m_refused.find(f.first);
            r.refused = refused == m_refused.end() ? 0 : refused->second;
            out.push_back(r);
        }
    }
    return out;
}

std::string Stats::table() const
{
    std::string out = "device      id   records   rate Hz  max gap ms  recvData failures  refused frames  age p50 ms  "
                      "p99 ms  max ms\n";
    char line[256];
    for (const Row& r : rows()) {
        // Refused frames are known once the device has said so at stop.
        char refused[24] = "-";
        if (m_stopped)
            std::snprintf(refused, sizeof refused, "%lu", r.refused);
        std::snprintf(line, sizeof line, "%-10s %3u %9llu %9.2f %11.1f %18lu %15s %11.1f %7.1f %7.1f\n",
                      r.device.c_str(), r.id, r.records, r.rateHz, r.maxGapMs, r.failures, refused, r.ageP50Ms,
                      r.ageP99Ms, r.ageMaxMs);
        out += line;
    }
    for (const Longest& l : m_longest) {
        std::snprintf(line, sizeof line, "%-10s longest recvData call: %.1f ms (cycle %lu)\n", l.device.c_str(),
                      static_cast<double>(l.us) / 1000.0, l.cycle);
        out += line;
    }
    return out;
}

} // namespace trackhost
