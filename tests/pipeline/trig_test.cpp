// The pipeline's sine and cosine of degrees and its arc tangent against the
// maths library's long double functions, in units in the last place of the
// exact value: over the range samples reach, and for huge, subnormal and
// special arguments.
#include "device/trig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

namespace {

const long double kPiL = 3.141592653589793238462643383279502884L;
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kTiny = std::numeric_limits<double>::denorm_min();

// Distance of a from the exact value in units of the exact value's last
// place (the smallest subnormal around zero).
double ulpsFrom(double a, long double exact)
{
    const double rounded = static_cast<double>(exact);
    const double ulp = std::nextafter(std::fabs(rounded), kInf) - std::fabs(rounded);
    return static_cast<double>(std::fabs(a - exact) / ulp);
}

// x as a double in memory: x87 code may otherwise hand the function and the
// reference the wider value, each differently.
double stored(double x)
{
    volatile double v = x;
    return v;
}

// sin and cos of an angle already less its whole turns (|within| < 720). The
// nearest quarter turn comes off in degrees first, where it is exact, so that
// the long double radians lose nothing near the zeros.
void exactSinCos(double within, long double& s, long double& c)
{
    const double quarters = std::nearbyint(within / 90);
    const long double radians = static_cast<long double>(within - 90 * quarters) * kPiL / 180;
    const long double rs = std::sin(radians), rc = std::cos(radians);
    switch (static_cast<int>(quarters) & 3) {
    case 0: s = rs; c = rc; break;
    case 1: s = rc; c = -rs; break;
    case 2: s = -rs; c = -rc; break;
    default: s = -rc; c = rs; break;
    }
}

// The worse of sine and cosine, in ulps.
double sinCosUlps(double degrees, double within)
{
    double s, c;
    trig::sinCosDegrees(degrees, s, c);
    long double es, ec;
    exactSinCos(within, es, ec);
    return std::fmax(ulpsFrom(s, es), ulpsFrom(c, ec));
}

double atan2Ulps(double y, double x)
{
    return ulpsFrom(trig::atan2(y, x), std::atan2(static_cast<long double>(y), static_cast<long double>(x)));
}

bool sameBits(double a, double b)
{
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y || (std::isnan(a) && std::isnan(b));
}

} // namespace

TEST(PipelineTrig, SweepsStayWithinTheStatedUlps)
{
    // Angles: every hundredth of a degree over several turns, then every
    // magnitude from subnormal to 2^53 (below which whole turns come off
    // exactly by hand). Arc tangents: magnitudes from subnormal to 1e300 in
    // every quadrant, half of them at any angle, half far apart.
    std::mt19937_64 random(12);
    std::uniform_real_distribution<double> unit(-1, 1), small(-323, 15.9), wide(-323, 300), spread(-20, 20);
    double worstSinCos = 0, worstAtan2 = 0;
    for (int i = 0; i < 400000; ++i) {
        const double degrees = stored(i < 200000 ? (i - 100000) * 0.01 : unit(random) * std::pow(10.0, small(random)));
        worstSinCos = std::fmax(worstSinCos, sinCosUlps(degrees, degrees - 360.0 * std::trunc(degrees / 360.0)));
        const double e = wide(random);
        const double y = stored(unit(random) * std::pow(10.0, e));
        const double x = stored(i % 2 ? y / std::tan(unit(random) * 3.2)
                                      : unit(random) * std::pow(10.0, std::fmin(e + spread(random), 300.0)));
        worstAtan2 = std::fmax(worstAtan2, atan2Ulps(y, x));
    }
    EXPECT_LE(worstSinCos, 2.0);
    EXPECT_LE(worstAtan2, 4.0);
}

TEST(PipelineTrig, ArcTangentAroundEachThresholdOfTheReduction)
{
    // Where the nearest sixteenth of pi changes, the reduced argument is at
    // its largest; just above the first threshold the result is no larger
    // than it, and its roundings count whole. Ratios within a thousandth and
    // within a few units in the last place of each threshold, of any size,
    // in every octant.
    const double thresholds[4] = {0.09849140335716425, 0.3033466836073424, 0.5345111359507917, 0.8206787908286604};
    std::mt19937_64 random(32);
    std::uniform_real_distribution<double> unit(-1, 1), mantissa(1, 2);
    std::uniform_int_distribution<int> exponent(-900, 900);
    for (double threshold : thresholds) {
        double worst = 0;
        for (int i = 0; i < 250000; ++i) {
            const double large = stored(std::ldexp(mantissa(random), exponent(random) / 3));
            double ratio = threshold * (1 + unit(random) * 1e-3);
            if (i % 4 == 0)
                ratio = threshold + unit(random) * 8 * (std::nextafter(threshold, 1.0) - threshold);
            double y = stored(large * ratio), x = large;
            if (i & 1)
                y = -y;
            if (i & 2)
                x = -x;
            if (i & 4)
                std::swap(x, y);
            worst = std::fmax(worst, atan2Ulps(y, x));
        }
        EXPECT_LE(worst, 4.0) << "threshold " << threshold;
    }
}

TEST(PipelineTrig, HugeSubnormalAndSpecialArguments)
{
    enum Check {
        SinCos,      // of a degrees within 2 ulps; b is a less its whole turns, worked out in exact integers
        Atan2,       // atan2(a, b) within 4 ulps
        LikeLibrary, // atan2(a, b) and, for a special a, sin and cos of a degrees: the library's bits
    };
    const double max = std::numeric_limits<double>::max(), min = std::numeric_limits<double>::min();
    const struct {
        Check check;
        double a, b;
    } cases[] = {
        // 500000 turns: exact zero and one; 2^53 - 1; 2^53 + 2; 2^60.
        {SinCos, 1.8e8, 0}, {SinCos, 3.6e15 + 90, 90}, {SinCos, -3.6e15 - 270, -270},
        {SinCos, 123456789.125, 189.125}, {SinCos, 4.5e15 + 0.5, 0.5}, {SinCos, 9007199254740991.0, 31},
        {SinCos, 9007199254740994.0, 34}, {SinCos, 1152921504606846976.0, 136}, {SinCos, -1e20, -280},
        {SinCos, max, 128}, {SinCos, min, min}, {SinCos, -kTiny, -kTiny},
        {Atan2, 4.9e-324, 9.9e-324}, {Atan2, -1e-310, 3e-310}, {Atan2, 2e-300, -1e-300},
        {Atan2, -1.0, 1e-310}, {Atan2, kTiny, -1e300}, {Atan2, max, max},
        // Just above the first threshold, where a rounded centre angle alone
        // came to 4.04 units.
        {Atan2, 0.12498025396122418, 1.2685307121766325}, {Atan2, -0.12780553702637978, -1.2976273093840118},
        {LikeLibrary, -0.0, 1.0}, {LikeLibrary, 0.0, -1.0}, {LikeLibrary, -0.0, -0.0}, {LikeLibrary, kInf, 1.0},
        {LikeLibrary, -kInf, kInf}, {LikeLibrary, kNaN, 1.0}, {LikeLibrary, -0.0, kNaN},
    };
    for (const auto& c : cases) {
        if (c.check == SinCos) {
            EXPECT_LE(sinCosUlps(c.a, c.b), 2.0) << c.a;
        } else if (c.check == Atan2) {
            EXPECT_LE(atan2Ulps(c.a, c.b), 4.0) << c.a << ", " << c.b;
        } else {
            EXPECT_TRUE(sameBits(std::atan2(c.a, c.b), trig::atan2(c.a, c.b))) << c.a << ", " << c.b;
            // Zeros, infinities and NaNs are the same in degrees and radians.
            double s, co;
            trig::sinCosDegrees(c.a, s, co);
            EXPECT_TRUE(sameBits(std::sin(c.a), s) && sameBits(std::cos(c.a), co)) << c.a;
        }
    }
}
