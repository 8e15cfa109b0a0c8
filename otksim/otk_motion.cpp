// Station paths and the frame encoder of the simulated tracker.
#include "otksim/otk_internal.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace otkint {

namespace {

const double kPi = 3.14159265358979323846;

void putU32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Little-endian IEEE single whatever the host's byte order.
void putFloat(unsigned char* p, float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    putU32(p, bits);
}

} // namespace

void motionAt(Motion motion, int station, double t, int rateHz, float position[3], float angles[3])
{
    for (int i = 0; i < 3; ++i)
        position[i] = angles[i] = 0.0f;
    if (station < 1 || station > 32)
        return;
    const double s = station;
    if (motion == Motion::Counter) {
        // Every value is a different function of one count, so a record that
        // mixes two frames (or two stations) no longer agrees with itself.
        const double n = std::floor(t * rateHz + 0.5);
        const double c = n - 1000.0 * std::floor(n / 1000.0);
        position[0] = static_cast<float>(1000.0 * s + c);
        position[1] = static_cast<float>(2.0 * c);
        position[2] = static_cast<float>(-3.0 * c);
        angles[0] = static_cast<float>(0.1 * c - 50.0);
        angles[1] = static_cast<float>(-0.05 * c);
        angles[2] = static_cast<float>(0.15 * c - 75.0);
        return;
    }
    if (motion == Motion::Still) {
        // A fixed pose per station, every field distinct and nonzero.
        position[0] = static_cast<float>(12.0 * s);
        position[1] = 6.0f;
        position[2] = -20.0f;
        angles[0] = static_cast<float>(5.0 * s);
        angles[1] = -10.0f;
        angles[2] = 20.0f;
        return;
    }
    // Circle of radius 10 in. around (12 s, 0, -20) at 0.25 Hz, facing along
    // the direction of travel.
    const double phase = 2.0 * kPi * 0.25 * t;
    position[0] = static_cast<float>(12.0 * s + 10.0 * std::cos(phase));
    position[1] = static_cast<float>(10.0 * std::sin(phase));
    position[2] = -20.0f;
    double azimuth = phase * 180.0 / kPi + 90.0;
    azimuth -= 360.0 * std::floor((azimuth + 180.0) / 360.0);
    angles[0] = static_cast<float>(azimuth);
}

std::vector<unsigned char> encodeFrame(Motion motion, std::uint32_t stations, const std::vector<int>& items,
                                       std::uint32_t frameIndex, int rateHz, std::uint32_t nanStations,
                                       long padBytes)
{
    const size_t recordSize = 8 + 12 * items.size();
    std::vector<unsigned char> frame;
    const double t = static_cast<double>(frameIndex) / rateHz;
    for (int station = 1; station <= 32; ++station) {
        if (!(stations >> (station - 1) & 1u))
            continue;
        float position[3], angles[3];
        motionAt(motion, station, t, rateHz, position, angles);
        if (nanStations >> (station - 1) & 1u)
            position[0] = std::numeric_limits<float>::quiet_NaN();
        const size_t at = frame.size();
        frame.resize(at + recordSize, 0);
        unsigned char* rec = &frame[at];
        rec[0] = 'P';
        rec[1] = static_cast<unsigned char>(recordSize);
        rec[2] = static_cast<unsigned char>(station);
        rec[3] = static_cast<unsigned char>(items.size());
        putU32(rec + 4, frameIndex);
        unsigned char* p = rec + 8;
        for (int item : items) {
            const float* v = item == OTK_MD_POSITION ? position : angles;
            for (int i = 0; i < 3; ++i, p += 4)
                putFloat(p, v[i]);
        }
    }
    frame.resize(frame.size() + static_cast<size_t>(padBytes), 0);
    return frame;
}

void garbleFrame(std::vector<unsigned char>& frame, std::size_t recordSize)
{
    // The marker and the station byte of each record: a station 0 that no
    // reader may take for another.
    for (std::size_t at = 0; at + recordSize <= frame.size(); at += recordSize) {
        frame[at] = 0;
        frame[at + 2] = 0;
    }
}

} // namespace otkint
