// Sine, cosine and arc tangent for the record pipeline. A transformed sample
// runs three of each one after the other, ahead of the table's lock, so what
// counts is their latency: the polynomials are evaluated in pairs (Estrin's
// scheme) rather than one term after the other. Measured in bench/, the maths
// library's sin and cos, or its atan2, would each add about 15 ns (over 10 %)
// to a transformed sample.
//
// sinCosDegrees takes whole turns and then quarter turns off in degrees,
// exactly, for every finite angle however large: a pose at 90 or 180 degrees
// has exact zeros and ones, and 1e20 degrees is exactly 280. What is left, at
// most 45 degrees, goes to radians with one rounding. atan2 has the library's
// signs, quadrants and special values.
//
// For every finite argument, subnormals included, sine and cosine are within
// 2 units in the last place of the exact value (of the angle as given), the
// arc tangent within 4: its reduction leaves an argument u whose roundings
// reach the result whole just above the first threshold, where the result
// is no larger than |u|; worked out for the worst case there about 3.6, the
// most found by sampling 3.55. Infinities and NaNs give what the library
// gives. No step depends on the
// rounding mode or on how wide intermediate results are, so x87 builds
// compute the same to within an ulp.
#ifndef TARSIS_DEVICE_TRIG_H
#define TARSIS_DEVICE_TRIG_H

#include <cmath>
#include <cstdint>

namespace trig {

// Chebyshev fits, lowest power first, of (sin r - r) / r^3 and
// (cos r - 1 + r^2/2) / r^4 in z = r^2 for |r| <= pi/4, and of
// (atan u - u) / u^3 in z = u^2 for |u| <= tan(pi/32): each is good to about
// 1e-17 of the function itself.
const double kSin[6] = {-1.66666666666666657415e-01, 8.33333333333088725758e-03, -1.98412698366658797264e-04,
                        2.75573160545939119663e-06,  -2.50511218751696076039e-08, 1.59174128367073865594e-10};
const double kCos[6] = {4.16666666666666643537e-02,  -1.38888888888873585255e-03, 2.48015872987077012532e-05,
                        -2.75573172417277590186e-07, 2.08761400313909750996e-09,  -1.13821842144775294241e-11};
const double kAtan[5] = {-3.33333333333320713798e-01, 1.99999999934823341485e-01, -1.42857089064232029019e-01,
                         1.11095555396879611121e-01, -8.90686127763856833051e-02};

const double kPi = 3.14159265358979311600e+00;
const double kPiOver2 = 1.57079632679489655800e+00;
// pi/180 rounded to double: 0.15 ulp from the exact value.
const double kRadiansPerDegree = 1.74532925199432954744e-02;

inline double poly(const double (&c)[5], double z)
{
    const double z2 = z * z;
    return (c[0] + c[1] * z) + z2 * ((c[2] + c[3] * z) + z2 * c[4]);
}

inline double poly(const double (&c)[6], double z)
{
    const double z2 = z * z;
    return (c[0] + c[1] * z) + z2 * (c[2] + c[3] * z) + (z2 * z2) * (c[4] + c[5] * z);
}

// The angle less a whole number of turns, exactly; the result has the
// angle's sign and lies within 720 degrees of zero. The angle must be finite.
inline double withoutWholeTurns(double degrees)
{
    const double magnitude = std::fabs(degrees);
    if (magnitude < 9007199254740992.0) { // 2^53
        // Fewer than 2^45 turns, so 360 q is exact; the difference is a
        // multiple of the angle's last bit no larger than the angle, so it is
        // exact as well. A quotient rounded up to the next whole number
        // leaves a tiny negative rest, which is as good.
        const double q = std::trunc(degrees / 360.0);
        return degrees - 360.0 * q;
    }
    // A whole number k 2^p with k below 2^53 and p at least 1, whose rest is
    // (k mod 360)(2^p mod 360) mod 360. From 2^3 on the powers of two repeat
    // modulo 360 every 12 steps, because 2^12 leaves 1 modulo 45.
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);
    const auto k = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int p = exponent - 53;
    const std::uint64_t twoToP = p < 3 ? std::uint64_t{1} << p : (std::uint64_t{8} << ((p - 3) % 12)) % 360;
    return std::copysign(static_cast<double>(k % 360 * twoToP % 360), degrees);
}

// sin and cos of an angle in degrees.
inline void sinCosDegrees(double degrees, double& s, double& c)
{
    if (!(std::fabs(degrees) < 720.0)) {
        if (!std::isfinite(degrees)) {
            s = c = degrees - degrees; // NaN
            return;
        }
        degrees = withoutWholeTurns(degrees);
    }
    // The nearest quarter turn (one off at worst, which leaves a little more
    // than 45 degrees); both terms of the difference are multiples of the
    // angle's last bit, so it is exact.
    const double quarters = degrees * (1.0 / 90.0);
    const int n = static_cast<int>(quarters < 0 ? quarters - 0.5 : quarters + 0.5);
    const double r = (degrees - 90.0 * n) * kRadiansPerDegree;
    const double z = r * r;
    // The sum would turn the sine of -0 into +0.
    const double sr = r == 0 ? r : r + (r * z) * poly(kSin, z);
    const double cr = (1.0 - 0.5 * z) + (z * z) * poly(kCos, z);
    switch (n & 3) {
    case 0: s = sr; c = cr; break;
    case 1: s = cr; c = -sr; break;
    case 2: s = -sr; c = -cr; break;
    default: s = -cr; c = sr; break;
    }
}

// atan2(y, x) in radians.
inline double atan2(double y, double x)
{
    const double a = std::fabs(y), b = std::fabs(x);
    // Zeros (with their signed-zero rules), infinities, NaNs, magnitudes whose
    // sums below could overflow, and pairs so small that the products below
    // would lose bits as subnormals are the library's.
    if (!(a > 0.0 && b > 0.0 && a <= 1.0e300 && b <= 1.0e300 && (a >= 1.0e-290 || b >= 1.0e-290)))
        return std::atan2(y, x);
    const bool swapped = a > b;
    const double small = swapped ? b : a, large = swapped ? a : b;
    // atan(small/large) = k pi/16 + atan(u), u = (small - c large) / (large + c small),
    // c = tan(k pi/16), with k the nearest sixteenth of pi, so that
    // |u| <= tan(pi/32). That c is rounded moves the result by no more than
    // its own last bit.
    //
    // Just above the first threshold the result is no larger than |u|, so
    // u's roundings reach it whole, and every term that can be exact is:
    // c = p + r with p a power of two, so that p large is exact and so, over
    // most of each range, is small - p large, which leaves one rounded
    // product, r large, at most a third of what c large would be at k = 1.
    // The centre angle is two parts, the second what the first misses of
    // k pi/16, and what adding u to the first rounds off is added back.
    struct Centre {
        double tangent, power, rest, angle, angleRest;
    };
    static const Centre kCentres[5] = {
        {0.0, 0.0, 0.0, 0.0, 0.0},
        {0.198912367379658, 0.125, 0.073912367379658, 0.19634954084936207, 7.654042494670958e-18},
        {0.41421356237309503, 0.25, 0.16421356237309503, 0.39269908169872414, 1.5308084989341915e-17},
        {0.6681786379192989, 0.5, 0.16817863791929888, 0.5890486225480862, 2.296212748401287e-17},
        {1.0, 1.0, 0.0, 0.7853981633974483, 3.061616997868383e-17},
    };
    const int k = (small > large * 0.09849140335716425) + (small > large * 0.3033466836073424) +
                  (small > large * 0.5345111359507917) + (small > large * 0.8206787908286604);
    const Centre& centre = kCentres[k];
    const double u = ((small - centre.power * large) - centre.rest * large) / (large + centre.tangent * small);
    const double z = u * u;
    // What the sum rounds off is exact (|u| is below the centre angle, or
    // that is 0), and ready before the polynomial is.
    const double sum = centre.angle + u;
    const double rest = ((centre.angle - sum) + u) + centre.angleRest;
    double angle = sum + (rest + (u * z) * poly(kAtan, z));
    if (swapped)
        angle = kPiOver2 - angle;
    if (x < 0)
        angle = kPi - angle;
    return y < 0 ? -angle : angle;
}

} // namespace trig

#endif
