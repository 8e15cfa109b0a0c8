#include "trackhost/plot.h"

#include "trackhost/text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace trackhost {

namespace {

const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b",
                                "#e377c2", "#7f7f7f", "#bcbd22"};

std::string xmlText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters are not allowed in XML 1.0 text.
            out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
        }
    }
    return out;
}

std::string num(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

struct Range {
    double lo = 0, hi = 0;
    bool any = false;
    void take(double v)
    {
        lo = any ? std::min(lo, v) : v;
        hi = any ? std::max(hi, v) : v;
        any = true;
    }
    // A range never empty, with a little room around the values.
    void finish()
    {
        if (!any)
            lo = 0, hi = 1;
        if (hi - lo < 1e-6)
            lo -= 0.5, hi += 0.5;
        const double pad = (hi - lo) * 0.05;
        lo -= pad;
        hi += pad;
    }
    double scale(double v, double from, double to) const { return from + (v - lo) / (hi - lo) * (to - from); }
};

} // namespace

bool Plot::writable(const std::string& path, std::string& error)
{
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    const bool existed = probe != nullptr;
    if (probe)
        std::fclose(probe);
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) {
        error = path + ": cannot write the picture: " + std::strerror(errno ? errno : EACCES);
        return false;
    }
    std::fclose(file);
    if (!existed)
        std::remove(path.c_str());
    return true;
}

Plot::Frame Plot::frameOf(const DeviceConfig& config)
{
    Frame frame = Frame::Tracker;
    for (std::uint32_t i = 0; i < config.optionCount && i < kMaxOptions; ++i) {
        const ConfigOption& o = config.options[i];
        if (!o.name || !sameNoCase(o.name, "CaveCoordinates") || o.argCount != 1 || !o.args[0])
            continue;
        if (sameNoCase(o.args[0], "yes"))
            frame = Frame::Cave;
        else if (sameNoCase(o.args[0], "no"))
            frame = Frame::Tracker;
    }
    return frame;
}

Plot::Frame Plot::frame(const std::string& device) const
{
    const auto it = m_frames.find(device);
    return it == m_frames.end() ? Frame::Tracker : it->second;
}

void Plot::add(const std::string& device, unsigned id, std::int64_t stampUs, const double (&pose)[6])
{
    if (!m_started) {
        m_start = stampUs;
        m_started = true;
    }
    Point p;
    p.t = static_cast<double>(stampUs - m_start) / 1e6;
    for (int k = 0; k < 6; ++k)
        p.pose[k] = pose[k];
    m_series.at(device, id).offer(p);
}

std::string Plot::svg() const
{
    const double width = 1000, left = 70, right = 970;
    const double topY0 = 40, topY1 = 440;                   // top view, the whole width
    const double panelH = 130, panelGap = 40, panelY = 500; // against time, in two columns
    const double columns[2][2] = {{left, 480}, {580, right}};
    const double height = panelY + 3 * (panelH + panelGap);

    // The top view's second axis: y in the tracker's frame, z in CAVE coordinates.
    const auto depth = [&](const BySensor<Series>::Key& key) { return frame(key.first) == Frame::Cave ? 2 : 1; };
    bool tracker = false, cave = false;
    Range across, down, ts, values[6];
    for (const auto& key : m_series.order()) {
        (depth(key) == 2 ? cave : tracker) = true;
        for (const Point& p : m_series.at(key).values()) {
            across.take(p.pose[0]);
            down.take(p.pose[depth(key)]);
            ts.take(p.t);
            for (int k = 0; k < 6; ++k)
                values[k].take(p.pose[k]);
        }
    }
    across.finish();
    down.finish();
    // The same feet per pixel across and down, so that a circle stays round.
    const double perPixel =
        std::max((across.hi - across.lo) / (right - left), (down.hi - down.lo) / (topY1 - topY0));
    const double acrossMid = (across.lo + across.hi) / 2, downMid = (down.lo + down.hi) / 2;
    across.lo = acrossMid - perPixel * (right - left) / 2;
    across.hi = acrossMid + perPixel * (right - left) / 2;
    down.lo = downMid - perPixel * (topY1 - topY0) / 2;
    down.hi = downMid + perPixel * (topY1 - topY0) / 2;
    ts.finish();
    for (Range& r : values)
        r.finish();

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
                      num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    // upwards: larger values at the top of the frame.
    const auto frameBox = [&](double x0, double x1, double y0, double y1, const std::string& title, const Range& h,
                              const Range& v, const std::string& hName, const std::string& vName, bool upwards) {
        const double top = upwards ? v.hi : v.lo, bottom = upwards ? v.lo : v.hi;
        out += "<rect x=\"" + num(x0) + "\" y=\"" + num(y0) + "\" width=\"" + num(x1 - x0) + "\" height=\"" +
               num(y1 - y0) + "\" fill=\"none\" stroke=\"#999\"/>\n";
        out += "<text x=\"" + num(x0) + "\" y=\"" + num(y0 - 8) + "\" font-weight=\"bold\">" + xmlText(title) +
               "</text>\n";
        out += "<text x=\"" + num(x1) + "\" y=\"" + num(y1 + 15) + "\" text-anchor=\"end\">" + xmlText(hName) + " " +
               num(h.lo) + " .. " + num(h.hi) + "</text>\n";
        out += "<text x=\"" + num(x0 - 5) + "\" y=\"" + num(y0 + 12) + "\" text-anchor=\"end\">" + num(top) +
               "</text>\n<text x=\"" + num(x0 - 5) + "\" y=\"" + num(y1) + "\" text-anchor=\"end\">" + num(bottom) +
               "</text>\n<text x=\"" + num(x0 - 5) + "\" y=\"" + num((y0 + y1) / 2) + "\" text-anchor=\"end\">" +
               xmlText(vName) + "</text>\n";
    };
    const auto colour = [](std::size_t index) { return kColours[index % (sizeof kColours / sizeof kColours[0])]; };

    const std::string plane = !cave      ? "x against y, feet: the tracker's frame"
                              : !tracker ? "x against z, feet: CAVE coordinates"
                                         : "feet: x against y in the tracker's frame, x against z in CAVE coordinates";
    // Seen from above: x to the right, y or z down the page (towards the viewer of a y-up CAVE).
    frameBox(left, right, topY0, topY1, "top view (" + plane + ")", across, down, "x ft",
             !cave ? "y ft" : !tracker ? "z ft" : "y or z ft", false);
    for (std::size_t n = 0; n < m_series.order().size(); ++n) {
        const auto& key = m_series.order()[n];
        const Series& s = m_series.at(key);
        if (s.values().empty())
            continue;
        const int k = depth(key);
        const std::string name = key.first + " id " + std::to_string(key.second);
        const std::string tag = xmlText(key.first) + "-" + std::to_string(key.second);
        std::string d;
        for (const Point& p : s.values())
            d += (d.empty() ? "M" : " L") + num(across.scale(p.pose[0], left, right)) + " " +
                 num(down.scale(p.pose[k], topY0, topY1));
        out += "<path id=\"top-" + tag + "\" class=\"track\" d=\"" + d + "\" fill=\"none\" stroke=\"" + colour(n) +
               "\" stroke-width=\"1.5\"/>\n";
        // The label sits at the path's end, kept inside the frame.
        const Point& last = s.values().back();
        const double lx = across.scale(last.pose[0], left, right);
        const bool nearRight = lx > right - 120;
        out += "<text class=\"label\" x=\"" + num(nearRight ? lx - 4 : lx + 4) + "\" y=\"" +
               num(down.scale(last.pose[k], topY0, topY1) - 4) + "\"" + (nearRight ? " text-anchor=\"end\"" : "") +
               " fill=\"" + colour(n) + "\">" + xmlText(name) + "</text>\n";
    }

    // Position on the left, orientation on the right, each value against time.
    const char* const names[6] = {"x", "y", "z", "azimuth", "elevation", "roll"};
    for (int k = 0; k < 6; ++k) {
        const bool angle = k >= 3;
        const double x0 = columns[angle][0], x1 = columns[angle][1];
        const double y0 = panelY + (k % 3) * (panelH + panelGap);
        const double y1 = y0 + panelH;
        const std::string unit = angle ? "deg" : "ft";
        frameBox(x0, x1, y0, y1, std::string(names[k]) + " against time (" + (angle ? "degrees" : "feet") + ")", ts,
                 values[k], "t s", std::string(names[k]) + " " + unit, true);
        for (std::size_t n = 0; n < m_series.order().size(); ++n) {
            const auto& key = m_series.order()[n];
            const Series& s = m_series.at(key);
            if (s.values().empty())
                continue;
            std::string d;
            double previous = 0;
            for (const Point& p : s.values()) {
                const double value = p.pose[k];
                // An angle that wraps around (179 to -179) starts a new stroke
                // instead of crossing the whole panel.
                const bool wrapped = angle && !d.empty() && std::fabs(value - previous) > 180;
                d += (d.empty() ? "M" : wrapped ? " M" : " L") + num(ts.scale(p.t, x0, x1)) + " " +
                     num(values[k].scale(value, y1, y0));
                previous = value;
            }
            out += "<path id=\"" + std::string(names[k]) + "-" + xmlText(key.first) + "-" + std::to_string(key.second) +
                   "\" class=\"series\" d=\"" + d + "\" fill=\"none\" stroke=\"" + colour(n) + "\" stroke-width=\"1\"/>\n";
        }
    }
    return out + "</svg>\n";
}

bool Plot::write(const std::string& path, std::string& error) const
{
    std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
    file << svg();
    file.close();
    if (!file) {
        error = path + ": cannot write the picture";
        return false;
    }
    return true;
}

} // namespace trackhost
