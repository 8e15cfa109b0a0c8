// The tracker record pipeline: one sensor sample becomes one time-stamped,
// calibrated, transformed TrackerRecord in the host's table. Runs once per
// sensor and frame, so nothing here allocates and the table's lock is held
// only for the lookup, the 56-byte copy and the mask bit.
#include "device/device.h"

#include "common/tracommon.h"
#include "support/calib.h"
#include "support/platform.h"
#include "support/storage.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace {
const float kDegToRad = 0.01745329f;
const float kRadToDeg = 57.29578f;

// Rotation of azimuth, elevation and roll (degrees): Ry(a) * Rx(e) * Rz(r),
// for column vectors.
void rotationOf(float azimuth, float elevation, float roll, float r[3][3])
{
    const float a = azimuth * kDegToRad, e = elevation * kDegToRad, w = roll * kDegToRad;
    const float sa = std::sin(a), ca = std::cos(a);
    const float se = std::sin(e), ce = std::cos(e);
    const float sr = std::sin(w), cr = std::cos(w);
    r[0][0] = ca * cr + sa * se * sr;
    r[0][1] = -ca * sr + sa * se * cr;
    r[0][2] = sa * ce;
    r[1][0] = ce * sr;
    r[1][1] = ce * cr;
    r[1][2] = -se;
    r[2][0] = -sa * cr + ca * se * sr;
    r[2][1] = sa * sr + ca * se * cr;
    r[2][2] = ca * ce;
}

// Scaled value truncated toward zero. Values the 32-bit word cannot hold (or
// a NaN from a calibration library) are clamped instead of being undefined.
std::int32_t scaled(float value)
{
    const double v = static_cast<double>(value) * 100000.0;
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return 2147483647;
    if (v <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<std::int32_t>(v);
}

std::uint32_t net(std::int32_t v) { return plat::hostToNet32(static_cast<std::uint32_t>(v)); }
} // namespace

void CDevice::composeOrientation(TraSample& sample, const float transmitter[16], const float sensor[16])
{
    float r[3][3];
    rotationOf(sample.azimuth, sample.elevation, sample.roll, r);
    // The stored transforms are row-vector matrices; their transposed upper
    // blocks act on column vectors like r does.
    float ar[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            ar[i][j] = transmitter[i] * r[0][j] + transmitter[4 + i] * r[1][j] + transmitter[8 + i] * r[2][j];
    float q[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            q[i][j] = ar[i][0] * sensor[4 * j] + ar[i][1] * sensor[4 * j + 1] + ar[i][2] * sensor[4 * j + 2];

    sample.azimuth = std::atan2(q[0][2], q[2][2]) * kRadToDeg;
    sample.elevation = std::atan2(-q[1][2], std::sqrt(q[0][2] * q[0][2] + q[2][2] * q[2][2])) * kRadToDeg;
    sample.roll = std::atan2(q[1][0], q[1][1]) * kRadToDeg;
}

bool CDevice::setTraData(unsigned sensor, const float position[3], const float angles[3])
{
    if (sensor == 0) {
        m_pLog->error("ID of TraData is zero.", true);
        return false;
    }
    CTraCommonH* tra = m_pInit ? m_pInit->pTraCommon : nullptr;
    if (!tra)
        return true;
    CDataStorage* storage = m_pInit->pTraStorage;
    // A station the handler has no entry for, or one that is not output, has
    // no record of its own: writing it would hit another device's record.
    if (sensor > tra->m_nTrackers || !tra->m_pTrackers || tra->m_pTrackers[sensor - 1].order == 0 || !storage) {
        m_pLog->error("TraData storage not found", true);
        return false;
    }
    const TrackerEntry& entry = tra->m_pTrackers[sensor - 1];

    TrackerRecord record;
    std::memset(&record, 0, sizeof record);
    TraSample sample = {position[0], position[1], position[2], angles[0], angles[1], angles[2]};

    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    record.seconds = plat::hostToNet32(static_cast<std::uint32_t>(now / 1000));
    record.micros = plat::hostToNet32(static_cast<std::uint32_t>((now % 1000) * 1000));

    const unsigned id = entry.order + tra->m_nIdOffset;
    if (id >= 1 && id <= kMaxRecords)
        record.id = plat::hostToNet32(id);

    if (tra->m_pCalib && !tra->m_pCalib->evaluate(&sample))
        return false;

    if (tra->m_bTransOffset || tra->m_bTransRot || entry.hasOffset || entry.hasRotation || entry.hasTranslation) {
        const float* t = tra->m_fTransXform;
        const float* s = entry.transform;
        const float x = sample.x, y = sample.y, z = sample.z;
        const float tx = t[0] * x + t[4] * y + t[8] * z + t[12];
        const float ty = t[1] * x + t[5] * y + t[9] * z + t[13];
        const float tz = t[2] * x + t[6] * y + t[10] * z + t[14];
        composeOrientation(sample, t, s);
        // The sensor offset turns with the sensor's final orientation.
        float r[3][3];
        rotationOf(sample.azimuth, sample.elevation, sample.roll, r);
        const float ox = s[12], oy = s[13], oz = s[14];
        sample.x = tx + r[0][0] * ox + r[0][1] * oy + r[0][2] * oz + entry.translation[0];
        sample.y = ty + r[1][0] * ox + r[1][1] * oy + r[1][2] * oz + entry.translation[1];
        sample.z = tz + r[2][0] * ox + r[2][1] * oy + r[2][2] * oz + entry.translation[2];
    }

    record.pose[0] = static_cast<std::int32_t>(net(scaled(sample.x)));
    record.pose[1] = static_cast<std::int32_t>(net(scaled(sample.y)));
    record.pose[2] = static_cast<std::int32_t>(net(scaled(sample.z)));
    record.pose[3] = static_cast<std::int32_t>(net(scaled(sample.azimuth)));
    record.pose[4] = static_cast<std::int32_t>(net(scaled(sample.elevation)));
    record.pose[5] = static_cast<std::int32_t>(net(scaled(sample.roll)));

    bool result = false;
    storage->lock();
    TrackerRecord* slot = storage->getTrackerRecord(id);
    if (slot) {
        m_pLog->debug("TraData storage found", true);
        std::memcpy(slot, &record, sizeof record);
        if (m_pInit->pUpdateFlags)
            tra->markUpdated(m_pInit->pUpdateFlags->trackerMask, id);
        result = true;
    } else {
        m_pLog->error("TraData storage not found", true);
    }
    storage->unlock();
    return result;
}
