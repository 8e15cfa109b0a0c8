#include "common/tracommon.h"

#include "common/tracommon_parse.h"
#include "device/optionread.h"
#include "support/calib.h"
#include "support/logger.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace tracommon {

const char* const kIncomplete = "Incomplete option line found for ";
const char* const kTooMany = "Too many args found for ";
const char* const kInvalidArg = "Invalid arg found for ";
const char* const kInvalidString = "Invalid string found for ";
const char* const kInvalidUnit = "Invalid unit found for ";
const char* const kInvalidTrackerId = "Invalid tracker ID found for ";

const char* Line::arg(unsigned i) const
{
    const char* text = i < count ? option->args[i] : nullptr;
    return text ? text : "";
}

Outcome refuse(const CTraCommonH& handler, const char* kind, const Line& line)
{
    handler.m_pLog->error("", false);
    std::cout << kind << line.label << line.option->lineNumber << "." << std::endl;
    return kRefused;
}

bool trackerId(const CTraCommonH& handler, const Line& line, unsigned i, unsigned& id)
{
    // Unsigned comparison on purpose: a negative ID turns huge and is refused.
    const unsigned long value = static_cast<unsigned long>(std::strtol(line.arg(i), nullptr, 0));
    if (value == 0 || value > handler.m_nTrackers) {
        refuse(handler, kInvalidTrackerId, line);
        return false;
    }
    id = static_cast<unsigned>(value);
    return true;
}

bool numbers(const CTraCommonH& handler, const Line& line, unsigned first, unsigned count, float* values)
{
    for (unsigned k = 0; k < count; ++k) {
        const char* text = line.arg(first + k);
        values[k] = static_cast<float>(std::strtod(text, nullptr));
        // Only a word is wrong; "12abc" is 12 and "-x" or "" are plain 0.
        // "nan", "inf" and numbers beyond the float range are no measure at all.
        if ((values[k] == 0.0f && std::isalpha(static_cast<unsigned char>(text[0]))) || !std::isfinite(values[k])) {
            refuse(handler, kInvalidArg, line);
            return false;
        }
    }
    return true;
}

bool scaleLengths(const CTraCommonH& handler, const Line& line, float factor, float* values)
{
    for (unsigned k = 0; k < 3; ++k) {
        values[k] *= factor;
        if (!std::isfinite(values[k])) {
            refuse(handler, kInvalidArg, line);
            return false;
        }
    }
    return true;
}

void rebuildTransform(float transform[16], PreparedTransform& prepared, const float rotation[16],
                      const float offset[16])
{
    std::memcpy(transform, rotation, 16 * sizeof(float));
    transform[12] = offset[3];
    transform[13] = offset[7];
    transform[14] = offset[11];
    transform[15] = 1.0f;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k)
            prepared.block[3 * i + k] = transform[4 * k + i];
        prepared.offset[i] = transform[12 + i];
    }
}

} // namespace tracommon

using namespace tracommon;

namespace {

const char* const kLabelCalib = "Calibration at line ";
const char* const kLabelOrder = "Order at line ";
const char* const kLabelCave = "CAVECoord at line ";

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Outcome parseOrder(CTraCommonH& h, const Line& line)
{
    if (h.m_bInputConnector) {
        h.m_pLog->error("", false);
        std::cout << "Can not change the order on input connector at line " << line.option->lineNumber << "."
                  << std::endl;
        return kRefused;
    }
    // Only as many IDs as the device has outputs; the rest is never read.
    const unsigned n = line.count < h.m_nOutTrackers ? line.count : h.m_nOutTrackers;
    unsigned ids[kMaxOptionArgs];
    for (unsigned k = 0; k < n; ++k)
        if (!trackerId(h, line, k, ids[k]))
            return kRefused;
    for (unsigned i = 0; i < h.m_nTrackers; ++i)
        h.m_pTrackers[i].order = 0;
    for (unsigned k = 0; k < n; ++k)
        h.m_pTrackers[ids[k] - 1].order = k + 1;
    return kAccepted;
}

void dropCalibration(CTraCommonH& h)
{
    delete h.m_pCalib;
    h.m_pCalib = nullptr;
    for (unsigned j = 0; j < h.m_nCalibArgs && j < CTraCommonH::kMaxCalibArgs; ++j) {
        delete[] h.m_pszCalibArgs[j];
        h.m_pszCalibArgs[j] = nullptr;
    }
    h.m_nCalibArgs = 0;
}

char* copyText(const char* text)
{
    const std::size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

Outcome parseCalib(CTraCommonH& h, const Line& line)
{
    if (line.count == 0)
        return refuse(h, kIncomplete, line);
    // A name that does not fit is refused, not shortened: the shortened name
    // could load another library.
    const char* name = line.arg(0);
    const std::size_t length = std::strlen(name);
    if (length >= CTraCommonH::kCalibLibSize)
        return refuse(h, kInvalidArg, line);
    std::memcpy(h.m_szCalibLib, name, length + 1);
    const unsigned args = line.count - 1;
    if (args > CTraCommonH::kMaxCalibArgs)
        return refuse(h, kTooMany, line);
    if (h.m_pCalib)
        dropCalibration(h);
    h.m_pCalib = new CCalibH(h.m_szCalibLib, h.m_pLog);
    // Counted one copy at a time, so a failed allocation leaks no earlier copy.
    for (unsigned j = 0; j < args; ++j) {
        h.m_pszCalibArgs[j] = copyText(line.arg(j + 1));
        h.m_nCalibArgs = j + 1;
    }
    return kAccepted;
}

Outcome parseCave(CTraCommonH& h, const Line& line)
{
    if (!h.m_bInputConnector)
        return kPassed;
    if (line.count == 0)
        return refuse(h, kIncomplete, line);
    if (line.count > 1)
        return refuse(h, kTooMany, line);
    const char* word = line.arg(0);
    if (sameWord(word, "yes") || sameWord(word, "on"))
        h.m_bCaveCoord = true;
    else if (sameWord(word, "no") || sameWord(word, "off"))
        h.m_bCaveCoord = false;
    else
        return refuse(h, kInvalidString, line);
    return kAccepted;
}

// A count from the host, kept within the slots its record has so that a bad
// count never makes us read past them.
unsigned bounded(std::int64_t count, unsigned slots)
{
    if (count < 0)
        return 0;
    return count > slots ? slots : static_cast<unsigned>(count);
}

struct Keyword {
    const char* name;
    const char* label;
    Handler handler;
};

// Matched top to bottom against the whole option name.
const Keyword kKeywords[] = {
    {"transmitteroffset", "TransmitterOffset at line ", transmitterOffset},
    {"transmitterrotation", "TransmitterRotation at line ", transmitterRotation},
    {"transmitterrotationmatrix", "TransmitterRotationMatrix at line ", transmitterRotationMatrix},
    {"sensoroffset", "SensorOffset at line ", sensorOffset},
    {"sensortranslation", "SensorTranslation at line ", sensorTranslation},
    {"sensorrotation", "SensorRotation at line ", sensorRotation},
    {"sensorrotationmatrix", "SensorRotationMatrix at line ", sensorRotationMatrix},
    {"calibration", kLabelCalib, parseCalib},
    {"calib", kLabelCalib, parseCalib},
    {"trackerorder", kLabelOrder, parseOrder},
    {"unitorder", kLabelOrder, parseOrder},
    {"order", kLabelOrder, parseOrder},
    {"cavecoord", kLabelCave, parseCave},
    {"cavecoordinates", kLabelCave, parseCave},
};

} // namespace

CTraCommonH::CTraCommonH(const CLogger* log)
    : m_bOwnLog(true), m_nTrackers(0), m_pTrackers(nullptr), m_bInputConnector(true), m_fTransOffset(),
      m_fTransRot(), m_fTransXform(), m_bTransOffset(false), m_bTransRot(false), m_bCaveCoord(false),
      m_nOutTrackers(0), m_nIdOffset(0), m_pCalib(nullptr), m_szCalibLib(), m_pszCalibArgs(), m_nCalibArgs(0),
      m_pLog(nullptr)
{
    if (log) {
        m_pLog = new CLogger(*log);
    } else {
        m_pLog = new CLogger();
        m_pLog->setName("CTraCommonH");
    }
    m_pLog->setDebugId(3);
    std::memcpy(m_fTransRot, kIdentity, sizeof m_fTransRot);
    rebuildTransform(m_fTransXform, m_transPrepared, m_fTransRot, m_fTransOffset);
    m_pLog->debug("CTraCommonH: \"constructor\" called.", true);
}

CTraCommonH::~CTraCommonH()
{
    m_pLog->debug("CTraCommonH: \"destructor\" called.", true);
    if (m_pCalib)
        dropCalibration(*this);
    releaseTrackers();
    if (m_bOwnLog)
        delete m_pLog;
    m_pLog = nullptr;
}

bool CTraCommonH::initTrackers(unsigned count)
{
    if (count == 0)
        return false;
    releaseTrackers();
    m_pTrackers = new TrackerEntry[count];
    m_nTrackers = count;
    for (unsigned id = 1; id <= count; ++id)
        setTracker(id, 0, nullptr, nullptr, nullptr);
    return true;
}

bool CTraCommonH::setTracker(unsigned id, unsigned order, const float* offset, const float* rotation,
                             const float* translation)
{
    if (!m_pTrackers || id == 0 || id > m_nTrackers)
        return false;
    TrackerEntry& e = m_pTrackers[id - 1];
    e.order = order;
    e.hasOffset = offset != nullptr;
    if (offset)
        std::memcpy(e.offset, offset, sizeof e.offset);
    else
        std::memset(e.offset, 0, sizeof e.offset);
    e.hasRotation = rotation != nullptr;
    std::memcpy(e.rotation, rotation ? rotation : kIdentity, sizeof e.rotation);
    e.hasTranslation = translation != nullptr;
    for (int k = 0; k < 3; ++k)
        e.translation[k] = translation ? translation[k] : 0.0f;
    rebuildTransform(e.transform, e.prepared, e.rotation, e.offset);
    return true;
}

bool CTraCommonH::releaseTrackers()
{
    if (!m_pTrackers)
        return false;
    delete[] m_pTrackers;
    m_pTrackers = nullptr;
    m_nTrackers = 0;
    return true;
}

bool CTraCommonH::parseConfig(DeviceConfig* config)
{
    if (!m_pTrackers) {
        m_pLog->error("CTraCommonH: lookup is Null.", true);
        return false;
    }
    if (!config) {
        m_pLog->error("CTraCommonH: config is empty.", true);
        return false;
    }
    bool failed = false;
    const unsigned lines = bounded(config->optionCount, kMaxOptions);
    for (unsigned i = 0; i < lines; ++i) {
        ConfigOption& option = config->options[i];
        if (!option.name)
            continue;
        for (const Keyword& keyword : kKeywords) {
            if (!sameWord(option.name, keyword.name))
                continue;
            noteOptionRead(*m_pLog, option);
            Line line;
            line.option = &option;
            line.count = bounded(option.argCount, kMaxOptionArgs);
            line.label = keyword.label;
            line.gated = failed;
            const Outcome outcome = keyword.handler(*this, line);
            if (outcome == kAccepted)
                option.consumed = 1;
            else if (outcome == kRefused)
                failed = true;
            break;
        }
    }
    return !failed;
}

bool CTraCommonH::clearUpdateMask(unsigned char* mask)
{
    std::memset(mask, 0, 4);
    return true;
}

bool CTraCommonH::markUpdated(unsigned char* mask, unsigned id)
{
    if (id < 1 || id > 32)
        return false;
    // Bit id-1 of a big-endian word: the low ids live in the last byte.
    mask[3 - (id - 1) / 8] |= static_cast<unsigned char>(1u << ((id - 1) % 8));
    return true;
}
