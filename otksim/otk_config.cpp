// The simulated tracker: its settings.
#include "otksim/otk_internal.h"

#include <cmath>

using otkint::Op;
using otkint::runOp;
using Lock = std::unique_lock<std::mutex>;

namespace {

// Station argument of the per-station commands: 0 for -1 (all), else 1..32,
// or -1 for an invalid number.
int stationIndex(int station)
{
    if (station == -1)
        return 0;
    return station >= 1 && station <= 32 ? station : -1;
}

// Commands this tracker only takes for all stations at once.
bool allStationsOnly(otksim_dev& im, int station)
{
    const int index = stationIndex(station);
    if (index < 0)
        return im.setResult(otksim::kBadArgument, "Invalid argument: station " + std::to_string(station));
    if (index > 0)
        return im.setResult(otksim::kNotSupported, "Not supported: this command takes station -1 (all) only");
    return true;
}

} // namespace

int otksim_GetStationMap(otksim_dev* dev, unsigned long* map)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::GetStationMap, [&](Lock&) {
        if (!im.needConnection())
            return false;
        *map = im.sendingStations();
        return true;
    });
}

int otksim_SetStationMap(otksim_dev* dev, const unsigned long* map)
{
    otksim_dev& im = *dev;
    const unsigned long requested = *map;
    return runOp(im, Op::SetStationMap, [&](Lock&) {
        if (!im.needConnection())
            return false;
        // Split shift: unsigned long may be 32 bits wide.
        if ((requested >> 16) >> 16)
            return im.setResult(otksim::kNoSensor, "Station map selects a station above 32");
        const std::uint32_t wanted = static_cast<std::uint32_t>(requested);
        const std::uint32_t missing = wanted & ~im.sensors;
        if (missing) {
            int station = 1;
            while (!(missing >> (station - 1) & 1u))
                ++station;
            return im.setResult(otksim::kNoSensor, "Station map selects station " + std::to_string(station) +
                                                       ", which has no sensor");
        }
        im.activeMap = wanted;
        im.mapSet = true;
        return true;
    });
}

int otksim_GetBITErrs(otksim_dev* dev, unsigned long* errors)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::GetBITErrs, [&](Lock&) {
        if (!im.needConnection())
            return false;
        *errors = im.bitErrors;
        return true;
    });
}

int otksim_ClearBITErrs(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::ClearBITErrs, [&](Lock&) {
        if (!im.needConnection())
            return false;
        im.bitErrors = 0;
        return true;
    });
}

int otksim_SetFrameRate(otksim_dev* dev, int rate)
{
    otksim_dev& im = *dev;
    const int value = rate;
    return runOp(im, Op::SetFrameRate, [&](Lock&) {
        if (!im.needConnection())
            return false;
        // The frame clock runs from the rate in force at StartContPno.
        if (im.streaming)
            return im.setResult(otksim::kStreaming, "Not allowed in continuous output mode: frame rate");
        if (im.sc.type == OV_TRACKER_BREVIK) {
            if (value != OV_FRAMERATE_60)
                return im.setResult(otksim::kNotSupported, "Not supported: a Brevik runs at 60 Hz only");
            im.rateHz = 60;
            return true;
        }
        if (value == OV_FRAMERATE_60)
            return im.setResult(otksim::kNotSupported, "Not supported: a Tarsis runs at 120 or 240 Hz");
        if (value != OV_FRAMERATE_120 && value != OV_FRAMERATE_240)
            return im.setResult(otksim::kBadArgument, "Invalid argument: frame rate " + std::to_string(value));
        im.rateHz = value == OV_FRAMERATE_120 ? 120 : 240;
        return true;
    });
}

int otksim_SetSHemisphere(otksim_dev* dev, int station, const float* hemisphere)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::SetSHemisphere, [&](Lock&) {
        if (!im.needConnection())
            return false;
        const int index = stationIndex(station);
        if (index < 0)
            return im.setResult(otksim::kBadArgument, "Invalid argument: station " + std::to_string(station));
        for (int k = 0; k < 3; ++k)
            im.hemisphere[index][k] = hemisphere[k];
        ++im.hemisphereCount[index];
        return true;
    });
}

int otksim_ResetSAlignment(otksim_dev* dev, int station)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::ResetSAlignment, [&](Lock&) {
        if (!im.needConnection() || !allStationsOnly(im, station))
            return false;
        im.alignmentSet = false;
        for (auto& v : im.alignment)
            for (float& f : v)
                f = 0.0f;
        return true;
    });
}

int otksim_SetSAlignment(otksim_dev* dev, int station, const float* origin, const float* xPoint,
                         const float* yPoint)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::SetSAlignment, [&](Lock&) {
        if (!im.needConnection() || !allStationsOnly(im, station))
            return false;
        // The x point and the y point, seen from the origin, must span a plane.
        double a[3], b[3];
        for (int k = 0; k < 3; ++k) {
            a[k] = static_cast<double>(xPoint[k]) - origin[k];
            b[k] = static_cast<double>(yPoint[k]) - origin[k];
        }
        const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        const double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
        const double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
        const double lc = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
        if (!(lc > 1e-6 * la * lb))
            return im.setResult(otksim::kBadArgument, "Invalid argument: alignment points do not span a plane");
        for (int k = 0; k < 3; ++k) {
            im.alignment[0][k] = origin[k];
            im.alignment[1][k] = xPoint[k];
            im.alignment[2][k] = yPoint[k];
        }
        im.alignmentSet = true;
        return true;
    });
}

int otksim_SetSDataList(otksim_dev* dev, int station, int count, const int* items)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::SetSDataList, [&](Lock&) {
        if (!im.needConnection() || !allStationsOnly(im, station))
            return false;
        if (count < 0 || count > OTKSIM_MAX_ITEMS)
            return im.setResult(otksim::kBadArgument, "Invalid argument: " + std::to_string(count) + " data items");
        for (int i = 0; i < count; ++i) {
            const int item = items[i];
            if (item != OTK_MD_POSITION && item != OTK_MD_EULER)
                return im.setResult(otksim::kBadArgument, "Invalid argument: data item " + std::to_string(item));
        }
        im.dataList.assign(items, items + count);
        return true;
    });
}
