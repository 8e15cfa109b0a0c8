// The tracker record pipeline: one sensor sample becomes one time-stamped,
// calibrated, transformed TrackerRecord in the host's table. Runs once per
// sensor and frame, so nothing here allocates, each transform option costs
// only its own arithmetic, and the table's lock is held only for the lookup,
// the 56-byte copy and the mask bit: every line is printed after the unlock.
#include "device/device.h"
#include "device/trig.h"

#include "common/tracommon.h"
#include "support/calib.h"
#include "support/platform.h"
#include "support/storage.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace {
// The transforms run in double precision: near +-90 degrees of elevation the
// split between azimuth and roll is so sensitive that single precision would
// move them by thousands of stored units.
const double kRadToDeg = 180.0 / trig::kPi;

// The largest magnitudes a position or angle may have: scaled by 100000 and
// truncated toward zero, the value must fit the record's signed 32-bit word.
const double kScale = 100000.0;
const double kWordAbove = 2147483648.0;  // 2^31, the first value too big
const double kWordBelow = -2147483649.0; // the first value too small

struct Matrix3 {
    double m[3][3];
};

// Ry(a) * Rx(e) * Rz(r) for column vectors, from the sines and cosines of
// azimuth, elevation and roll. Inline, so that the matrix stays in registers
// instead of being returned through memory on every sample.
inline Matrix3 rotationOf(double sa, double ca, double se, double ce, double sr, double cr)
{
    return Matrix3{{{ca * cr + sa * se * sr, -ca * sr + sa * se * cr, sa * ce},
                    {ce * sr, ce * cr, -se},
                    {-sa * cr + ca * se * sr, sa * sr + ca * se * cr, ca * ce}}};
}

// The rotation of azimuth, elevation and roll in degrees.
inline Matrix3 rotationOfDegrees(double azimuth, double elevation, double roll)
{
    double sa, ca, se, ce, sr, cr;
    trig::sinCosDegrees(azimuth, sa, ca);
    trig::sinCosDegrees(elevation, se, ce);
    trig::sinCosDegrees(roll, sr, cr);
    return rotationOf(sa, ca, se, ce, sr, cr);
}

// The sine and cosine of atan2(y, x), from y, x and the length of (x, y),
// without the angle itself. The arc tangent of two zeros is 0 or 180 degrees
// by the sign of x.
inline void sinCosOfDirection(double y, double x, double length, double& s, double& c)
{
    if (length > 0) {
        const double inverse = 1.0 / length;
        s = y * inverse;
        c = x * inverse;
    } else {
        s = y;
        c = std::copysign(1.0, x);
    }
}

// A transform's block times r.
Matrix3 blockTimes(const PreparedTransform& t, const Matrix3& r)
{
    Matrix3 out;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out.m[i][j] = t.block[3 * i] * r.m[0][j] + t.block[3 * i + 1] * r.m[1][j] + t.block[3 * i + 2] * r.m[2][j];
    return out;
}

// Row i of r times column j of a transform's block.
inline double timesBlockAt(const Matrix3& r, int i, const PreparedTransform& s, int j)
{
    return r.m[i][0] * s.block[j] + r.m[i][1] * s.block[3 + j] + r.m[i][2] * s.block[6 + j];
}

// The sample's angles (azimuth, elevation, roll in degrees) become those of
// q = T r S: the transmitter's block, the rotation of the measured angles and
// the sensor's block, each only when its option is set. Only the five entries
// of q that the angles depend on are computed.
//
// withTurn also builds the rotation of the new angles, for the sensor offset,
// from the sines and cosines those five entries give (two square roots and
// three divisions, no trigonometry). q itself would not do: nine numbers of a
// matrix option need not be a rotation (a reflection turns the azimuth by 180
// degrees, a scale is no turn at all), and even blocks built from an axis and
// an angle are rotations only to about 1e-7 in single precision, which the
// angles magnify by 1 / cos(elevation): 0.00001 degrees from a pole, q and the
// rotation of its angles turn a 5-inch offset dozens of units apart.
void composeOrientation(const CTraCommonH& tra, const TrackerEntry& entry, double angles[3], bool withTurn,
                        Matrix3& turn)
{
    Matrix3 r = rotationOfDegrees(angles[0], angles[1], angles[2]);
    if (tra.m_bTransRot)
        r = blockTimes(tra.m_transPrepared, r);
    double q02 = r.m[0][2], q12 = r.m[1][2], q22 = r.m[2][2], q10 = r.m[1][0], q11 = r.m[1][1];
    if (entry.hasRotation) {
        const PreparedTransform& s = entry.prepared;
        q02 = timesBlockAt(r, 0, s, 2);
        q12 = timesBlockAt(r, 1, s, 2);
        q22 = timesBlockAt(r, 2, s, 2);
        q10 = timesBlockAt(r, 1, s, 0);
        q11 = timesBlockAt(r, 1, s, 1);
    }
    const double horizontal = std::sqrt(q02 * q02 + q22 * q22);
    angles[0] = trig::atan2(q02, q22) * kRadToDeg;
    angles[1] = trig::atan2(-q12, horizontal) * kRadToDeg;
    angles[2] = trig::atan2(q10, q11) * kRadToDeg;
    if (withTurn) {
        double sa, ca, se, ce, sr, cr;
        sinCosOfDirection(q02, q22, horizontal, sa, ca);
        sinCosOfDirection(-q12, horizontal, std::sqrt(horizontal * horizontal + q12 * q12), se, ce);
        sinCosOfDirection(q10, q11, std::sqrt(q10 * q10 + q11 * q11), sr, cr);
        turn = rotationOf(sa, ca, se, ce, sr, cr);
    }
}

// The record's word for a value, or false when the value is not finite or
// its scaled value (truncated toward zero) does not fit 32 bits.
bool scaledWord(double value, std::int32_t& word)
{
    const double v = value * kScale;
    if (!(v > kWordBelow && v < kWordAbove)) // also false for a NaN
        return false;
    word = static_cast<std::int32_t>(plat::hostToNet32(static_cast<std::uint32_t>(static_cast<std::int32_t>(v))));
    return true;
}

// The result of a sample refused for its own values, told to a caller that asked.
bool refuseValues(bool* valuesRefused)
{
    if (valuesRefused)
        *valuesRefused = true;
    return false;
}

bool finiteSample(const TraSample& s)
{
    return std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.z) && std::isfinite(s.azimuth) &&
           std::isfinite(s.elevation) && std::isfinite(s.roll);
}

// The common transforms of one sample, in the order transmitter transform,
// orientation, sensor offset, sensor translation; v is x, y, z, azimuth,
// elevation, roll. An option that is not set costs nothing.
void transform(const CTraCommonH& tra, const TrackerEntry& entry, double v[6])
{
    const PreparedTransform& t = tra.m_transPrepared;
    if (tra.m_bTransRot) {
        const double x = v[0], y = v[1], z = v[2];
        for (int i = 0; i < 3; ++i)
            v[i] = t.block[3 * i] * x + t.block[3 * i + 1] * y + t.block[3 * i + 2] * z + t.offset[i];
    } else if (tra.m_bTransOffset) {
        for (int i = 0; i < 3; ++i)
            v[i] += t.offset[i];
    }
    // The sensor offset turns with the rotation of the sensor's final angles.
    // Without a rotation option those are the measured ones.
    Matrix3 turn;
    if (tra.m_bTransRot || entry.hasRotation)
        composeOrientation(tra, entry, v + 3, entry.hasOffset, turn);
    else if (entry.hasOffset)
        turn = rotationOfDegrees(v[3], v[4], v[5]);
    if (entry.hasOffset) {
        const double* o = entry.prepared.offset;
        for (int i = 0; i < 3; ++i)
            v[i] += turn.m[i][0] * o[0] + turn.m[i][1] * o[1] + turn.m[i][2] * o[2];
    }
    if (entry.hasTranslation) {
        v[0] += entry.translation[0];
        v[1] += entry.translation[1];
        v[2] += entry.translation[2];
    }
}
} // namespace

void CDevice::sampleError(const char* text)
{
    if (m_pfnSampleError)
        m_pfnSampleError(m_pSampleErrorContext, text);
    else
        m_pLog->error(text, true);
}

std::uint64_t CDevice::clockNs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

CDevice::RecordStamp CDevice::stampOf(std::uint64_t ns)
{
    const std::uint64_t ms = ns / 1000000;
    return RecordStamp{plat::hostToNet32(static_cast<std::uint32_t>(ms / 1000)),
                       plat::hostToNet32(static_cast<std::uint32_t>((ms % 1000) * 1000))};
}

CDevice::RecordStamp CDevice::stampNow() { return stampOf(clockNs()); }

bool CDevice::setTraData(unsigned sensor, const float position[3], const float angles[3])
{
    return setTraData(sensor, position, angles, stampNow());
}

bool CDevice::setTraData(unsigned sensor, const float position[3], const float angles[3], const RecordStamp& stamp,
                         bool* valuesRefused, WrittenPose* written)
{
    if (valuesRefused)
        *valuesRefused = false;
    if (sensor == 0) {
        sampleError("ID of TraData is zero.");
        return false;
    }
    CTraCommonH* tra = m_pInit ? m_pInit->pTraCommon : nullptr;
    if (!tra)
        return true;
    CDataStorage* storage = m_pInit->pTraStorage;
    // A station the handler has no entry for, or one that is not output, has
    // no record of its own: writing it would hit another device's record.
    if (sensor > tra->m_nTrackers || !tra->m_pTrackers || tra->m_pTrackers[sensor - 1].order == 0 || !storage) {
        sampleError("TraData storage not found");
        return false;
    }
    const TrackerEntry& entry = tra->m_pTrackers[sensor - 1];

    TrackerRecord record;
    std::memset(&record, 0, sizeof record);
    TraSample sample = {position[0], position[1], position[2], angles[0], angles[1], angles[2]};

    record.seconds = stamp.seconds;
    record.micros = stamp.micros;

    const unsigned id = entry.order + tra->m_nIdOffset;
    if (id >= 1 && id <= kMaxRecords)
        record.id = plat::hostToNet32(id);

    if (tra->m_pCalib && !tra->m_pCalib->evaluate(&sample))
        return false;
    // Only measurements reach the table: a NaN or infinity from the tracker
    // or the calibration library, or a value the record's word cannot hold,
    // rejects the sample like any other failure, before the lock.
    if (!finiteSample(sample))
        return refuseValues(valuesRefused);
    double v[6] = {sample.x, sample.y, sample.z, sample.azimuth, sample.elevation, sample.roll};
    if (tra->m_bTransOffset || tra->m_bTransRot || entry.hasOffset || entry.hasRotation || entry.hasTranslation)
        transform(*tra, entry, v);
    for (int i = 0; i < 6; ++i) {
        if (!scaledWord(v[i], record.pose[i]))
            return refuseValues(valuesRefused);
    }

    CMutexH* mutex = storage->m_pMutex;
    if (!mutex)
        return false; // nothing guards the table: writing could tear a record
    // Both texts are written only on a failure.
    char lockText[CMutexH::kTextSize];
    char unlockText[CMutexH::kTextSize];
    const bool locked = mutex->acquire(lockText, sizeof lockText);
    TrackerRecord* slot = nullptr;
    if (locked) {
        slot = storage->getTrackerRecord(id);
        if (slot) {
            std::memcpy(slot, &record, sizeof record);
            if (m_pInit->pUpdateFlags)
                tra->markUpdated(m_pInit->pUpdateFlags->trackerMask, id);
        }
    }
    // Released after a failed wait as well: a wait that failed on an abandoned
    // mutex still made us its owner, and the host needs it back.
    const bool released = mutex->release(unlockText, sizeof unlockText);

    if (!locked)
        mutex->reportLockFailure(lockText);
    else if (slot)
        m_pLog->debug("TraData storage found", true);
    else
        sampleError("TraData storage not found");
    if (!released)
        mutex->reportUnlockFailure(unlockText);
    if (written && slot) {
        written->id = id;
        for (int i = 0; i < 6; ++i)
            written->pose[i] = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(record.pose[i])));
    }
    return slot != nullptr;
}
