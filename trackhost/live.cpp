#include "trackhost/live.h"

#include <cstdio>
#include <ostream>

namespace trackhost {

void LiveDisplay::record(const std::string& device, unsigned id, std::int64_t stampUs, std::int64_t readUs,
                         const double (&pose)[6])
{
    Row& row = m_rows.at(device, id);
    if (row.count++ == 0)
        row.first = stampUs;
    row.last = stampUs;
    row.ageUs = readUs - stampUs;
    for (int k = 0; k < 6; ++k)
        row.pose[k] = pose[k];
}

void LiveDisplay::show(std::ostream& out, std::int64_t nowUs, bool last)
{
    const std::int64_t every = m_terminal ? 100000 : 1000000;
    if (!last && m_shown != 0 && nowUs - m_shown < every)
        return;
    if (last && !m_terminal)
        return;
    m_shown = nowUs;
    if (m_terminal && m_lines > 0)
        out << "\x1b[" << m_lines << "A";
    for (const auto& key : m_rows.order()) {
        const Row& row = m_rows.at(key);
        const double span = static_cast<double>(row.last - row.first) / 1e6;
        char line[256];
        std::snprintf(line, sizeof line,
                      "%-10s id %2u  pos %9.4f %9.4f %9.4f ft  ori %9.3f %9.3f %9.3f deg  %7.1f Hz  age %6.1f ms",
                      key.first.c_str(), key.second, row.pose[0], row.pose[1], row.pose[2], row.pose[3], row.pose[4],
                      row.pose[5], span > 0 ? static_cast<double>(row.count - 1) / span : 0.0,
                      static_cast<double>(row.ageUs) / 1000.0);
        if (m_terminal)
            out << "\r\x1b[2K";
        out << line << '\n';
    }
    m_lines = m_rows.order().size();
}

} // namespace trackhost
