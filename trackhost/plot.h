// The SVG picture of a run. On top the view from above: each record id's path
// in the horizontal plane of the coordinates its device writes, with its
// label. Below it, side by side, x, y and z (feet) and azimuth, elevation and
// roll (degrees) against time.
//
// The horizontal plane: a tracker device writes in the tracker's own frame,
// whose horizontal plane is x-y, unless its "CaveCoordinates yes" line is in
// force; CAVE coordinates have y upwards, so their horizontal plane is x-z.
// Either way x runs to the right and the other axis down the page.
#pragma once

#include "device/hostrecords.h"
#include "trackhost/series.h"

#include <cstdint>
#include <map>
#include <string>

namespace trackhost {

class Plot {
public:
    enum class Frame { Tracker, Cave };

    // The coordinates a device's records are in, from its option lines: the
    // last "CaveCoordinates yes|no" line decides, as in the device.
    static Frame frameOf(const DeviceConfig& config);
    // False with error set when path cannot be written; leaves no new file behind.
    static bool writable(const std::string& path, std::string& error);

    // Devices not named here write in the tracker's frame.
    void setFrame(const std::string& device, Frame frame) { m_frames[device] = frame; }
    // One record: position in feet, then azimuth, elevation and roll in degrees.
    void add(const std::string& device, unsigned id, std::int64_t stampUs, const double (&pose)[6]);
    std::string svg() const;
    bool write(const std::string& path, std::string& error) const;

private:
    struct Point {
        double t;
        double pose[6];
    };
    using Series = Thinned<Point, 4000>;
    Frame frame(const std::string& device) const;

    BySensor<Series> m_series;
    std::map<std::string, Frame> m_frames;
    std::int64_t m_start = 0;
    bool m_started = false;
};

} // namespace trackhost
