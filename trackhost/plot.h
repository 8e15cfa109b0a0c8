// The SVG picture of a run: on top the view from above (x against z, feet)
// with each record id's path and its label, below it x, y and z against time.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "trackhost/series.h"

namespace trackhost {

class Plot {
public:
    // False with error set when path cannot be written; leaves no new file behind.
    static bool writable(const std::string& path, std::string& error);

    void add(const std::string& device, unsigned id, std::int64_t stampUs, double x, double y, double z);
    std::string svg() const;
    bool write(const std::string& path, std::string& error) const;

private:
    struct Point {
        double t, x, y, z;
    };
    using Series = Thinned<Point, 4000>;
    BySensor<Series> m_series;
    std::int64_t m_start = 0;
    bool m_started = false;
};

} // namespace trackhost
