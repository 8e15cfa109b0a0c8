// The stored values of every combination of the five transform options, and
// of matrix options that are no rotations, against an independent
// double-precision evaluation over a grid of poses that reaches elevations a
// hair from +-90 degrees.
#include "common/tracommon.h"
#include "helpers/capture.h"
#include "helpers/host.h"
#include "helpers/testdevice.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using M3 = double[3][3];
const double kPi = 3.14159265358979323846;

void multiply(const M3 a, const M3 b, M3 out)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
}

// Ry(a) * Rx(e) * Rz(r) from the three elementary rotations (column vectors).
void rotation(double azDeg, double elDeg, double rollDeg, M3 out)
{
    const double a = azDeg * kPi / 180, e = elDeg * kPi / 180, r = rollDeg * kPi / 180;
    const M3 ry = {{std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}};
    const M3 rx = {{1, 0, 0}, {0, std::cos(e), -std::sin(e)}, {0, std::sin(e), std::cos(e)}};
    const M3 rz = {{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}};
    M3 yx;
    multiply(ry, rx, yx);
    multiply(yx, rz, out);
}

// The column-vector form of a stored row-vector matrix's rotation block.
void block(const float m[16], M3 out)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = m[4 * j + i];
}

// x, y, z, azimuth, elevation, roll as the record should hold them, unscaled.
void reference(const CTraCommonH& h, const TrackerEntry& e, const double in[6], double out[6])
{
    const float* t = h.m_fTransXform;
    for (int k = 0; k < 3; ++k)
        out[k] = in[0] * t[k] + in[1] * t[4 + k] + in[2] * t[8 + k] + t[12 + k];
    M3 r, a, b, ar, q;
    rotation(in[3], in[4], in[5], r);
    block(t, a);
    block(e.transform, b);
    multiply(a, r, ar);
    multiply(ar, b, q);
    out[3] = std::atan2(q[0][2], q[2][2]) * 180 / kPi;
    out[4] = std::atan2(-q[1][2], std::hypot(q[0][2], q[2][2])) * 180 / kPi;
    out[5] = std::atan2(q[1][0], q[1][1]) * 180 / kPi;
    M3 turned;
    rotation(out[3], out[4], out[5], turned);
    for (int k = 0; k < 3; ++k)
        out[k] += turned[k][0] * e.transform[12] + turned[k][1] * e.transform[13] + turned[k][2] * e.transform[14] +
                  e.translation[k];
}

// Distance in stored units; angles compare around the circle.
double unitsApart(std::int32_t stored, double value, bool angle)
{
    double d = stored - value * 100000.0;
    if (angle)
        d = std::remainder(d, 36000000.0);
    return std::fabs(d);
}

// The option lines of one row of the table, one bit each. The first 32 rows
// are every combination of the five options; the others add matrices that are
// no rotations (nine numbers are stored as given): the sensor offset turns
// with the rotation of the final angles, which such a composition is not.
void addOptions(testhelp::Config& cfg, unsigned bits)
{
    if (bits & 1)
        cfg.add("transmitteroffset", {"1.2", "-0.7", "2.5", "m"});
    if (bits & 2)
        cfg.add("transmitterrotation", {"1", "2", "3", "33"});
    if (bits & 4)
        cfg.add("sensoroffset", {"1", "3", "-2", "5", "inches"});
    if (bits & 8)
        cfg.add("sensorrotation", {"1", "0.3", "-1", "0.5", "-70"});
    if (bits & 16)
        cfg.add("sensortranslation", {"1", "0.5", "0.25", "-1.5"});
    if (bits & 32) // a mirror
        cfg.add("transmitterrotationmatrix", {"1", "0", "0", "0", "1", "0", "0", "0", "-1"});
    if (bits & 64) // a scale
        cfg.add("transmitterrotationmatrix", {"2", "0", "0", "0", "2", "0", "0", "0", "2"});
    if (bits & 128) // a mirror
        cfg.add("sensorrotationmatrix", {"1", "-1", "0", "0", "0", "1", "0", "0", "0", "1"});
    if (bits & 256) // skewed
        cfg.add("transmitterrotationmatrix", {"0.9", "0.3", "-0.314", "-0.3", "0.954", "0", "0.2996", "0.0999", "0.9489"});
    if (bits & 512) // skewed and scaled
        cfg.add("sensorrotationmatrix", {"1", "0.5", "0", "0.2", "0", "1.5", "0", "0.3", "-0.4", "1"});
}
const unsigned kMatrixRows[] = {32 | 4, 64 | 4, 2 | 128 | 4, 1 | 256 | 512 | 4 | 16};

} // namespace

TEST(PipelineAccuracy, EveryOptionCombinationWithinOneStoredUnitOfTheReference)
{
    const float positions[][3] = {{0, 0, 0}, {1.25f, -3.5f, 7.75f}, {-12.5f, 20.25f, -0.0625f}};
    const float azimuths[] = {-179.5f, -120, -45, 0, 33.3f, 90, 135, 179.25f};
    const float elevations[] = {-90, -89.9999f, -89.99f, -60, -12.5f, 0, 30, 75, 89.9f, 89.999f, 89.9999f, 90};
    const float rolls[] = {-170, -90, -5, 0, 45, 120, 179.5f};

    for (unsigned row = 0; row < 32 + sizeof kMatrixRows / sizeof kMatrixRows[0]; ++row) {
        testhelp::Config cfg("tarsis0");
        addOptions(cfg, row < 32 ? row : kMatrixRows[row - 32]);
        CLogger log = testhelp::quietLogger("tarsis0");
        testhelp::Table table(testhelp::Table::Trackers);
        InitInfo info{};
        info.traStorage = table.storage();
        testhelp::CaptureStdout out;
        testhelp::TestDevice dev(cfg.get(), &log);
        ASSERT_TRUE(dev.setUp(&info, 1, 1));
        const CTraCommonH& h = *dev.m_pInit->pTraCommon;
        const TrackerEntry& entry = h.m_pTrackers[0];
        const bool rotated = h.m_bTransRot || entry.hasRotation;

        std::vector<std::array<float, 3>> poses;
        for (float az : azimuths)
            for (float el : elevations)
                for (float roll : rolls) {
                    // Exactly at the poles azimuth and roll have no single
                    // value once a rotation mixes them.
                    if (!rotated || std::fabs(el) != 90)
                        poses.push_back({az, el, roll});
                }
        // The transmitter rotation (bit 2) turns this pose to an elevation of
        // 89.9999 degrees, where float blocks, rotations only to about 1e-7,
        // would move an offset turned with the composition rather than with
        // the rotation of its angles by hundreds of units.
        poses.push_back({-80.5619507f, 62.2225685f, -42.5677528f});

        double worst[6] = {};
        for (const auto& p : positions)
            for (const auto& angles : poses) {
                ASSERT_TRUE(dev.setTraData(1, p, angles.data()));
                const double in[6] = {p[0], p[1], p[2], angles[0], angles[1], angles[2]};
                double want[6];
                reference(h, entry, in, want);
                for (int k = 0; k < 6; ++k) {
                    const auto word = static_cast<std::uint32_t>(table.record(1).pose[k]);
                    const auto stored = static_cast<std::int32_t>(plat::netToHost32(word));
                    worst[k] = std::fmax(worst[k], unitsApart(stored, want[k], k >= 3));
                }
            }
        // One unit, as truncation toward zero allows, and the reference's own
        // rounding in the last digits.
        for (int k = 0; k < 6; ++k)
            EXPECT_LE(worst[k], 1.0 + 1e-6) << "row " << row << " word " << k;
        EXPECT_EQ("", out.text());
    }
}
