// Sine, cosine and arc tangent for the record pipeline. A transformed sample
// runs three of each one after the other, ahead of the table's lock, so what
// counts is their latency: the arguments are reduced with a few exact steps
// and the polynomials are evaluated in pairs (Estrin's scheme) rather than
// one term after the other. Each result is within a few units in the last
// place of the exact value; special values and huge arguments go to the
// maths library.
//
// No step depends on the rounding mode or on how wide the intermediate
// results are, so x87 builds compute the same to within an ulp.
#ifndef TARSIS_DEVICE_TRIG_H
#define TARSIS_DEVICE_TRIG_H

#include <cmath>

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
const double kRadiansPerDegree = 1.74532925199432954744e-02;

// Beyond this many degrees a quarter-turn count no longer fits every integer
// type the reduction below might use.
const double kDegreeLimit = 1.0e8;

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

// sin and cos of an angle in degrees. Whole quarter turns come off exactly,
// so a pose at 90 or 180 degrees has exact zeros and ones.
inline void sinCosDegrees(double degrees, double& s, double& c)
{
    if (!(std::fabs(degrees) <= kDegreeLimit)) { // also NaN and infinity
        s = std::sin(degrees * kRadiansPerDegree);
        c = std::cos(degrees * kRadiansPerDegree);
        return;
    }
    const double quarters = degrees * 1.11111111111111115352e-02; // / 90, rounded below
    const long n = static_cast<long>(quarters < 0 ? quarters - 0.5 : quarters + 0.5);
    // Exact: both terms are multiples of the argument's last bit.
    const double reduced = degrees - 90.0 * static_cast<double>(n);
    const double r = reduced * kRadiansPerDegree;
    const double z = r * r;
    const double sr = r + (r * z) * poly(kSin, z);
    const double cr = (1.0 - 0.5 * z) + (z * z) * poly(kCos, z);
    switch (n & 3) {
    case 0: s = sr; c = cr; break;
    case 1: s = cr; c = -sr; break;
    case 2: s = -sr; c = -cr; break;
    default: s = -cr; c = sr; break;
    }
}

// atan2(y, x) in radians, with the library's signs and quadrants.
inline double atan2(double y, double x)
{
    const double a = std::fabs(y), b = std::fabs(x);
    // Zeros (with their signed-zero rules), infinities, NaNs and magnitudes
    // whose sums below could overflow are the library's.
    if (!(a > 0.0 && b > 0.0 && a <= 1.0e300 && b <= 1.0e300))
        return std::atan2(y, x);
    const bool swapped = a > b;
    const double small = swapped ? b : a, large = swapped ? a : b;
    // atan(small/large) = k pi/16 + atan(u), u = (small - c large) / (large + c small),
    // c = tan(k pi/16), with k the nearest sixteenth of pi, so that
    // |u| <= tan(pi/32). That c is rounded moves the result by no more than
    // its own last bit.
    static const double kCentre[5] = {0.0, 0.198912367379658, 0.41421356237309503, 0.6681786379192989, 1.0};
    static const double kCentreAngle[5] = {0.0, kPi / 16, 2 * kPi / 16, 3 * kPi / 16, 4 * kPi / 16};
    const int k = (small > large * 0.09849140335716425) + (small > large * 0.3033466836073424) +
                  (small > large * 0.5345111359507917) + (small > large * 0.8206787908286604);
    const double c = kCentre[k];
    const double u = (small - c * large) / (large + c * small);
    const double z = u * u;
    double angle = kCentreAngle[k] + (u + (u * z) * poly(kAtan, z));
    if (swapped)
        angle = kPiOver2 - angle;
    if (x < 0)
        angle = kPi - angle;
    return y < 0 ? -angle : angle;
}

} // namespace trig

#endif
