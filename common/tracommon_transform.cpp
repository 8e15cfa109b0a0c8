// The seven transform keywords of CTraCommonH: transmitter and sensor offsets,
// sensor translation, rotations from an axis and angle or from nine numbers.
#include "common/tracommon_parse.h"
#include "device/optionread.h"

#include <cmath>
#include <cstring>

namespace tracommon {

namespace {

// Degrees to radians, deliberately the single-precision value.
const float kDegToRad = 0.01745329f;

struct Unit {
    const char* word;
    float factor; // to feet
};

const Unit kUnits[] = {
    {"feet", 1.0f}, {"inches", 0.083333336f}, {"meters", 3.28084f}, {"m", 3.28084f}, {"cm", 0.0328084f},
};

bool unitFactor(const char* word, float& factor)
{
    for (const Unit& unit : kUnits) {
        if (sameWord(word, unit.word)) {
            factor = unit.factor;
            return true;
        }
    }
    return false;
}

// Unit word at argument i when the line has one; false for an unknown word.
bool lineFactor(const Line& line, unsigned i, float& factor)
{
    factor = 1.0f;
    return line.count <= i || unitFactor(line.arg(i), factor);
}

void offsetMatrix(float m[16], const float v[3])
{
    std::memset(m, 0, 16 * sizeof(float));
    m[3] = v[0];
    m[7] = v[1];
    m[11] = v[2];
}

// Rows 0..2 rotate a row vector by the angle about the axis; row 3 and
// column 3 stay 0, element 15 included.
void axisAngleMatrix(float m[16], const float axis[3], float angle)
{
    double x = axis[0], y = axis[1], z = axis[2];
    const double len = std::sqrt(x * x + y * y + z * z);
    double s = 0.0, c = 1.0;
    if (len == 0.0) {
        x = y = z = 0.0;
    } else {
        x /= len;
        y /= len;
        z /= len;
        const float radians = angle * kDegToRad;
        s = std::sin(static_cast<double>(radians));
        c = std::cos(static_cast<double>(radians));
    }
    const double t = 1.0 - c;
    const double rows[3][3] = {
        {t * x * x + c, t * x * y + z * s, t * x * z - y * s},
        {t * x * y - z * s, t * y * y + c, t * y * z + x * s},
        {t * x * z + y * s, t * y * z - x * s, t * z * z + c},
    };
    std::memset(m, 0, 16 * sizeof(float));
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            m[4 * r + col] = static_cast<float>(rows[r][col]);
}

void nineNumberMatrix(float m[16], const float v[9])
{
    std::memset(m, 0, 16 * sizeof(float));
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            m[4 * r + col] = v[3 * r + col];
}

// Checks of the sensor keywords in their order: the ID first (so a bad ID
// wins over a short line), then the count, then the numbers from argument 2
// on. kAccepted means the caller may go on and store.
Outcome sensorChecks(const CTraCommonH& h, const Line& line, unsigned minArgs, unsigned maxArgs,
                     unsigned numberCount, unsigned& id, float* values)
{
    if (line.count == 0)
        return refuse(h, kIncomplete, line);
    if (!trackerId(h, line, 0, id))
        return kRefused;
    if (line.count < minArgs)
        return refuse(h, kIncomplete, line);
    if (line.count > maxArgs)
        return refuse(h, kTooMany, line);
    if (!numbers(h, line, 1, numberCount, values))
        return kRefused;
    return line.gated ? kPassed : kAccepted;
}

Outcome transmitterChecks(const CTraCommonH& h, const Line& line, unsigned minArgs, unsigned maxArgs,
                          unsigned numberCount, float* values)
{
    if (line.count < minArgs)
        return refuse(h, kIncomplete, line);
    if (line.count > maxArgs)
        return refuse(h, kTooMany, line);
    if (!numbers(h, line, 0, numberCount, values))
        return kRefused;
    return line.gated ? kPassed : kAccepted;
}

} // namespace

Outcome transmitterOffset(CTraCommonH& h, const Line& line)
{
    float v[3];
    const Outcome checked = transmitterChecks(h, line, 3, 4, 3, v);
    if (checked != kAccepted)
        return checked;
    float factor;
    if (!lineFactor(line, 3, factor))
        return refuse(h, kInvalidString, line);
    if (!scaleLengths(h, line, factor, v))
        return kRefused;
    // A zero offset is taken but changes nothing, not even the flag.
    if (v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f)
        return kAccepted;
    offsetMatrix(h.m_fTransOffset, v);
    rebuildTransform(h.m_fTransXform, h.m_transPrepared, h.m_fTransRot, h.m_fTransOffset);
    h.m_bTransOffset = true;
    return kAccepted;
}

Outcome transmitterRotation(CTraCommonH& h, const Line& line)
{
    float axis[3];
    const Outcome checked = transmitterChecks(h, line, 4, 4, 3, axis);
    if (checked != kAccepted)
        return checked;
    float angle;
    if (!numbers(h, line, 3, 1, &angle))
        return kRefused;
    axisAngleMatrix(h.m_fTransRot, axis, angle);
    h.m_bTransRot = true;
    rebuildTransform(h.m_fTransXform, h.m_transPrepared, h.m_fTransRot, h.m_fTransOffset);
    return kAccepted;
}

Outcome transmitterRotationMatrix(CTraCommonH& h, const Line& line)
{
    float v[9];
    const Outcome checked = transmitterChecks(h, line, 9, 9, 9, v);
    if (checked != kAccepted)
        return checked;
    nineNumberMatrix(h.m_fTransRot, v);
    h.m_bTransRot = true;
    rebuildTransform(h.m_fTransXform, h.m_transPrepared, h.m_fTransRot, h.m_fTransOffset);
    return kAccepted;
}

Outcome sensorOffset(CTraCommonH& h, const Line& line)
{
    unsigned id;
    float v[3];
    const Outcome checked = sensorChecks(h, line, 4, 5, 3, id, v);
    if (checked != kAccepted)
        return checked;
    float factor;
    if (!lineFactor(line, 4, factor))
        return refuse(h, kInvalidUnit, line);
    if (!scaleLengths(h, line, factor, v))
        return kRefused;
    TrackerEntry& e = h.m_pTrackers[id - 1];
    offsetMatrix(e.offset, v);
    rebuildTransform(e.transform, e.prepared, e.rotation, e.offset);
    e.hasOffset = true;
    return kAccepted;
}

Outcome sensorTranslation(CTraCommonH& h, const Line& line)
{
    unsigned id;
    float v[3];
    const Outcome checked = sensorChecks(h, line, 4, 5, 3, id, v);
    if (checked != kAccepted)
        return checked;
    float factor;
    if (!lineFactor(line, 4, factor))
        return refuse(h, kInvalidUnit, line);
    if (!scaleLengths(h, line, factor, v))
        return kRefused;
    TrackerEntry& e = h.m_pTrackers[id - 1];
    for (int k = 0; k < 3; ++k)
        e.translation[k] = v[k];
    e.hasTranslation = true;
    return kAccepted;
}

Outcome sensorRotation(CTraCommonH& h, const Line& line)
{
    unsigned id;
    float axis[3];
    const Outcome checked = sensorChecks(h, line, 5, 5, 3, id, axis);
    if (checked != kAccepted)
        return checked;
    float angle;
    if (!numbers(h, line, 4, 1, &angle))
        return kRefused;
    TrackerEntry& e = h.m_pTrackers[id - 1];
    axisAngleMatrix(e.rotation, axis, angle);
    rebuildTransform(e.transform, e.prepared, e.rotation, e.offset);
    e.hasRotation = true;
    return kAccepted;
}

Outcome sensorRotationMatrix(CTraCommonH& h, const Line& line)
{
    unsigned id;
    float v[9];
    const Outcome checked = sensorChecks(h, line, 10, 10, 9, id, v);
    if (checked != kAccepted)
        return checked;
    TrackerEntry& e = h.m_pTrackers[id - 1];
    nineNumberMatrix(e.rotation, v);
    rebuildTransform(e.transform, e.prepared, e.rotation, e.offset);
    e.hasRotation = true;
    return kAccepted;
}

} // namespace tracommon
