// Frames pushed through update, with every written value predicted: a device
// without transforms stores each sample exactly as the tracker (and the
// calibration library, when one is named) gave it, scaled to feet and by
// 100000. Input: one byte of settings, then frames. A frame is one length
// byte and its bytes; a length byte with the top bit set means a frame of
// exactly one 32-byte record per output station, taken from what follows.
// Stations may be missing from a frame or new in it: only those with an id
// that the tracker had at init are written.
#pragma once

#include "fuzz/harness.h"

#include <map>

namespace fuzzhelp {

inline float readFloat(const unsigned char* p)
{
    const std::uint32_t bits = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                               (std::uint32_t(p[3]) << 24);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void runFrames(const std::uint8_t* data, std::size_t size, const std::vector<std::string>* calibArgs)
{
    if (size < 1)
        return;
    const std::uint8_t settings = data[0];
    ++data;
    --size;
    static const char* const kMaps[] = {nullptr, "5", "f", "2"};
    const bool cave = settings & 1;
    const char* sensorMap = kMaps[(settings >> 1) & 3];

    DeviceRun run("type=tarsis max=8 stations=f");
    Options& o = run.options();
    o.add({"baud", "115200"}, 1);
    o.add({"reset", "no"}, 2);
    if (sensorMap)
        o.add({"sensormap", sensorMap}, 3);
    o.add({"CaveCoordinates", cave ? "yes" : "no"}, 4);
    if (calibArgs) {
        std::vector<std::string> line{"calibration", CalibLib::get().path};
        line.insert(line.end(), calibArgs->begin(), calibArgs->end());
        o.add(line, 5);
    }
    if (run.init() != 1)
        return;
    OvTrackD& d = run.dev();
    d.configure();
    if (!d.start())
        return;
    const CCalibH* calib = run.calib();
    unsigned outputs = 0;
    for (unsigned s = 1; s <= 32; ++s)
        outputs += run.idOf(s) ? 1 : 0;
    const auto inUse = [&](unsigned station) {
        return station >= 1 && station <= 32 && run.idOf(station) != 0 && (d.m_dwDetectedMap >> (station - 1) & 1u);
    };

    for (int frames = 0; size > 0 && frames < 8; ++frames) {
        std::size_t length = data[0];
        ++data;
        --size;
        if (length & 0x80)
            length = 32 * outputs;
        if (length > size)
            length = size;
        std::vector<unsigned char> frame(data, data + length);
        data += length;
        size -= length;
        if (!otksim::PushFrame(testhelp::simOf(d), frame.data(), static_cast<unsigned long>(frame.size())))
            violation("harness", "PushFrame refused");

        // What the frame may write: only a frame of whole records, each
        // naming a station once and in station order (a shorter trailing part
        // being padding), and of it the samples of the stations in use that a
        // record can hold; a sample that cannot be held costs only itself.
        bool shaped = frame.size() >= 32;
        unsigned previous = 0;
        for (std::size_t at = 0; shaped && at + 32 <= frame.size(); at += 32) {
            shaped = frame[at + 2] >= 1 && frame[at + 2] <= 32 && frame[at + 2] > previous;
            previous = frame[at + 2];
        }
        std::map<unsigned, std::vector<std::int32_t>> expected;
        std::map<unsigned, bool> refusedIds;
        for (std::size_t at = 0; shaped && at + 32 <= frame.size(); at += 32) {
            const unsigned char* rec = &frame[at];
            if (!inUse(rec[2]))
                continue;
            float p[3], a[3];
            for (int i = 0; i < 3; ++i) {
                p[i] = readFloat(rec + 8 + 4 * i);
                a[i] = readFloat(rec + 20 + 4 * i);
            }
            float sample[6];
            if (cave) {
                const float remap[6] = {p[1], -p[2], -p[0], -a[0], a[1], -a[2]};
                std::memcpy(sample, remap, sizeof sample);
            } else {
                const float plain[6] = {p[0], p[1], p[2], a[0], a[1], a[2]};
                std::memcpy(sample, plain, sizeof sample);
            }
            const float kInchesToFeet = 1.0f / 12.0f;
            for (int i = 0; i < 3; ++i)
                sample[i] *= kInchesToFeet;
            if (calib && CalibLib::get().evaluate)
                CalibLib::get().evaluate(calib->m_hCalib, sample);
            std::vector<std::int32_t> pose(6);
            bool fits = true;
            for (int i = 0; i < 6; ++i)
                fits = fits && scaledFits(sample[i], pose[i]);
            if (fits)
                expected[run.idOf(rec[2])] = pose;
            else
                refusedIds[run.idOf(rec[2])] = true;
        }

        const std::uint32_t mask = run.cycle();
        for (unsigned id = 1; id <= kMaxRecords; ++id) {
            const bool marked = mask >> (id - 1) & 1u;
            const auto e = expected.find(id);
            if (e == expected.end()) {
                if (marked)
                    violation(refusedIds.count(id) ? "nonfinite-sample" : "frame-shape",
                              "record " + std::to_string(id) + " written from frame " + std::to_string(frames));
                continue;
            }
            if (!marked)
                violation("lost", "record " + std::to_string(id) + " not written");
            const TrackerRecord& r = run.table().record(id);
            for (int i = 0; i < 6; ++i) {
                const std::int32_t v =
                    static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(r.pose[i])));
                if (v != e->second[i])
                    violation("value", "record " + std::to_string(id) + " value " + std::to_string(i) + " is " +
                                           std::to_string(v) + ", expected " + std::to_string(e->second[i]));
            }
        }
    }
}

} // namespace fuzzhelp
