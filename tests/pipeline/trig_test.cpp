// The pipeline's own sine, cosine and arc tangent against the maths
// library's long double functions: a few ulps over the whole range samples
// reach, exact quarter turns, and the library's answers for every special
// value, signed zeros included.
#include "device/trig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

const long double kPiL = 3.141592653589793238462643383279502884L;

// Distance of a from the exact value in units of the exact value's last place.
double ulpsFrom(double a, long double exact)
{
    const double rounded = static_cast<double>(exact);
    const double ulp = std::nextafter(std::fabs(rounded), std::numeric_limits<double>::infinity()) - std::fabs(rounded);
    return static_cast<double>(std::fabs(a - exact) / ulp);
}

bool sameBits(double a, double b)
{
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y || (std::isnan(a) && std::isnan(b));
}

} // namespace

TEST(PipelineTrig, SineAndCosineOfDegreesAreWithinAFewUlpsAbsolute)
{
    // Every hundredth of a degree over several turns, then random angles up
    // to where the reduction hands over to the library.
    std::mt19937_64 random(12);
    std::uniform_real_distribution<double> wide(-trig::kDegreeLimit, trig::kDegreeLimit);
    double worst = 0;
    for (int i = 0; i < 400000; ++i) {
        const double degrees = i < 200000 ? (i - 100000) * 0.01 : wide(random) * (i % 3 == 0 ? 1.0 : 1e-6);
        double s, c;
        trig::sinCosDegrees(degrees, s, c);
        // Whole turns come off exactly before the long double conversion (by
        // hand: fmod of a large quotient is inexact under user-mode emulators).
        const double within = degrees - 360.0 * std::trunc(degrees / 360.0);
        const long double radians = static_cast<long double>(within) * kPiL / 180;
        const long double es = std::sin(radians), ec = std::cos(radians);
        // Against 1e-16 absolute: near the zeros a few ulps of a tiny value
        // mean nothing for a rotation matrix.
        worst = std::fmax(worst, static_cast<double>(std::fmax(std::fabs(s - es), std::fabs(c - ec))));
        ASSERT_LE(s * s + c * c, 1.0 + 1e-15) << degrees;
    }
    EXPECT_LE(worst, 4e-16);

    for (int quarter = -8; quarter <= 8; ++quarter) {
        double s, c;
        trig::sinCosDegrees(90.0 * quarter, s, c);
        const int k = ((quarter % 4) + 4) % 4;
        EXPECT_EQ(k == 1 ? 1.0 : k == 3 ? -1.0 : 0.0, s) << quarter;
        EXPECT_EQ(k == 0 ? 1.0 : k == 2 ? -1.0 : 0.0, c) << quarter;
    }
    const double special[] = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
    for (double x : special) {
        double s, c;
        trig::sinCosDegrees(x, s, c);
        EXPECT_TRUE(std::isnan(s) && std::isnan(c)) << x;
    }
}

TEST(PipelineTrig, ArcTangentMatchesTheLibrary)
{
    // Magnitudes from 1e-40 to 1e5 in every quadrant, ratios near each of
    // the reduction's boundaries included.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1, 1), exponent(-40, 5);
    double worst = 0;
    for (int i = 0; i < 400000; ++i) {
        const double y = unit(random) * std::pow(10.0, exponent(random));
        const double x = i % 2 ? unit(random) * std::pow(10.0, exponent(random)) : y / std::tan(unit(random) * 3.2);
        worst = std::fmax(worst, ulpsFrom(trig::atan2(y, x), std::atan2(static_cast<long double>(y),
                                                                         static_cast<long double>(x))));
    }
    EXPECT_LE(worst, 4.0);

    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const double special[][2] = {{0.0, 1.0},  {-0.0, 1.0},  {0.0, -1.0}, {-0.0, -1.0}, {1.0, 0.0},   {1.0, -0.0},
                                 {-1.0, 0.0}, {0.0, 0.0},   {-0.0, 0.0}, {0.0, -0.0},  {-0.0, -0.0}, {inf, 1.0},
                                 {1.0, inf},  {1.0, -inf},  {-1.0, -inf}, {inf, inf},  {-inf, -inf}, {nan, 1.0},
                                 {1.0, nan},  {1e-310, 1.0}, {1.0, 1e308}, {1e308, -1e-308}, {1.0, 1.0}, {-1.0, -1.0}};
    for (const auto& p : special)
        EXPECT_TRUE(sameBits(std::atan2(p[0], p[1]), trig::atan2(p[0], p[1])) ||
                    ulpsFrom(trig::atan2(p[0], p[1]), std::atan2(static_cast<long double>(p[0]),
                                                                 static_cast<long double>(p[1]))) <= 1.0)
            << p[0] << ", " << p[1];
}
