#include "trackhost/plot.h"

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

void Plot::add(const std::string& device, unsigned id, std::int64_t stampUs, double x, double y, double z)
{
    if (!m_started) {
        m_start = stampUs;
        m_started = true;
    }
    m_series.at(device, id).offer(Point{static_cast<double>(stampUs - m_start) / 1e6, x, y, z});
}

std::string Plot::svg() const
{
    const double width = 800, left = 70, right = 780;
    const double topY0 = 40, topY1 = 440;                 // top view
    const double panelH = 130, panelGap = 40, panelY = 500; // x, y, z against time
    const double height = panelY + 3 * (panelH + panelGap);

    Range xs, zs, ts, comp[3];
    for (const auto& key : m_series.order()) {
        for (const Point& p : m_series.at(key).values()) {
            xs.take(p.x);
            zs.take(p.z);
            ts.take(p.t);
            comp[0].take(p.x);
            comp[1].take(p.y);
            comp[2].take(p.z);
        }
    }
    xs.finish();
    zs.finish();
    // The same feet per pixel across and down, so that a circle stays round.
    const double perPixel = std::max((xs.hi - xs.lo) / (right - left), (zs.hi - zs.lo) / (topY1 - topY0));
    const double xMid = (xs.lo + xs.hi) / 2, zMid = (zs.lo + zs.hi) / 2;
    xs.lo = xMid - perPixel * (right - left) / 2;
    xs.hi = xMid + perPixel * (right - left) / 2;
    zs.lo = zMid - perPixel * (topY1 - topY0) / 2;
    zs.hi = zMid + perPixel * (topY1 - topY0) / 2;
    ts.finish();
    for (Range& r : comp)
        r.finish();

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
                      num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    // upwards: larger values at the top of the frame.
    const auto frame = [&](double y0, double y1, const std::string& title, const Range& h, const Range& v,
                           const std::string& hName, const std::string& vName, bool upwards) {
        const double top = upwards ? v.hi : v.lo, bottom = upwards ? v.lo : v.hi;
        out += "<rect x=\"" + num(left) + "\" y=\"" + num(y0) + "\" width=\"" + num(right - left) + "\" height=\"" +
               num(y1 - y0) + "\" fill=\"none\" stroke=\"#999\"/>\n";
        out += "<text x=\"" + num(left) + "\" y=\"" + num(y0 - 8) + "\" font-weight=\"bold\">" + xmlText(title) +
               "</text>\n";
        out += "<text x=\"" + num(right) + "\" y=\"" + num(y1 + 15) + "\" text-anchor=\"end\">" + xmlText(hName) +
               " " + num(h.lo) + " .. " + num(h.hi) + "</text>\n";
        out += "<text x=\"" + num(left - 5) + "\" y=\"" + num(y0 + 12) + "\" text-anchor=\"end\">" + num(top) +
               "</text>\n<text x=\"" + num(left - 5) + "\" y=\"" + num(y1) + "\" text-anchor=\"end\">" + num(bottom) +
               "</text>\n<text x=\"" + num(left - 5) + "\" y=\"" + num((y0 + y1) / 2) + "\" text-anchor=\"end\">" +
               xmlText(vName) + "</text>\n";
    };
    // Seen from above: x to the right, z downwards (towards the viewer of a y-up room).
    frame(topY0, topY1, "top view (x against z, feet)", xs, zs, "x ft", "z ft", false);
    std::size_t colour = 0;
    for (const auto& key : m_series.order()) {
        const Series& s = m_series.at(key);
        if (s.values().empty())
            continue;
        const std::string name = key.first + " id " + std::to_string(key.second);
        const std::string tag = xmlText(key.first) + "-" + std::to_string(key.second);
        const char* c = kColours[colour++ % (sizeof kColours / sizeof kColours[0])];
        std::string d;
        for (const Point& p : s.values())
            d += (d.empty() ? "M" : " L") + num(xs.scale(p.x, left, right)) + " " + num(zs.scale(p.z, topY0, topY1));
        out += "<path id=\"top-" + tag + "\" class=\"track\" d=\"" + d + "\" fill=\"none\" stroke=\"" + c +
               "\" stroke-width=\"1.5\"/>\n";
        // The label sits at the path's end, kept inside the frame.
        const Point& last = s.values().back();
        const double lx = xs.scale(last.x, left, right);
        const bool nearRight = lx > right - 120;
        out += "<text class=\"label\" x=\"" + num(nearRight ? lx - 4 : lx + 4) + "\" y=\"" +
               num(zs.scale(last.z, topY0, topY1) - 4) + "\"" + (nearRight ? " text-anchor=\"end\"" : "") +
               " fill=\"" + c + "\">" + xmlText(name) + "</text>\n";
    }
    const char* const names[] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        const double y0 = panelY + k * (panelH + panelGap);
        const double y1 = y0 + panelH;
        frame(y0, y1, std::string(names[k]) + " against time (feet)", ts, comp[k], "t s", std::string(names[k]) + " ft",
              true);
        colour = 0;
        for (const auto& key : m_series.order()) {
            const Series& s = m_series.at(key);
            const char* c = kColours[colour++ % (sizeof kColours / sizeof kColours[0])];
            if (s.values().empty())
                continue;
            std::string d;
            for (const Point& p : s.values()) {
                const double value = k == 0 ? p.x : k == 1 ? p.y : p.z;
                // Larger values upwards, as usual for a value against time.
                d += (d.empty() ? "M" : " L") + num(ts.scale(p.t, left, right)) + " " +
                     num(comp[k].scale(value, y1, y0));
            }
            out += "<path id=\"" + std::string(names[k]) + "-" + xmlText(key.first) + "-" +
                   std::to_string(key.second) + "\" class=\"series\" d=\"" + d + "\" fill=\"none\" stroke=\"" + c +
                   "\" stroke-width=\"1\"/>\n";
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
