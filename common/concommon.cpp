#include "common/concommon.h"

#include "device/hostrecords.h"
#include "device/optionread.h"
#include "support/logger.h"
#include "support/platform.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

namespace {

const char* const kIncomplete = "Incomplete option line found for ";
const char* const kBadController = "Invalid controller ID found for ";
const char* const kTooMany = "Too many args found for ";
const char* const kBadValuator = "Invalid valuator ID found for ";
const char* const kBadButton = "Invalid button ID found for ";
const char* const kBadArg = "Invalid arg found for ";
const char* const kDuplicate = "Same ID found more than once in ";
const char* const kBadId = "Invalid ID found in ";

const char* const kEmuLine = "EmulateTracker at line ";
const char* const kEmuOption = "EmulateTracker option at line ";
const char* const kScaleLine = "ValuatorScale at line ";
const char* const kScaleOption = "ValuatorScale option at line ";
const char* const kOrderLine = "Order at line ";
const char* const kOrderOption = "Order option at line ";

// The host record has room for 64 argument pointers; a larger (or negative)
// count must not lead us past them.
unsigned argCount(const ConfigOption& option)
{
    if (option.argCount <= 0)
        return 0;
    return option.argCount > kMaxOptionArgs ? unsigned(kMaxOptionArgs) : unsigned(option.argCount);
}

const char* argText(const ConfigOption& option, unsigned index)
{
    return option.args[index] ? option.args[index] : "";
}

// Reads an integer the way the host's 32-bit strtol does (base 0, saturating
// at the 32-bit limits) and hands it back unsigned, so that a negative number
// exceeds every limit. The clamp keeps 64-bit builds from wrapping a large
// value such as 4294967297 into a small, valid-looking id.
std::uint32_t readNumber(const char* text)
{
    long value = std::strtol(text, nullptr, 0);
    if (value > long(INT32_MAX))
        value = long(INT32_MAX);
    else if (value < long(INT32_MIN))
        value = long(INT32_MIN);
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

// Reads "[v1,v2,...]" the way sscanf reads "[%f,%f,...]": blanks may lead each
// number, each comma must follow its number directly, and values the scan
// does not reach keep what they hold. False when a value read is not a finite
// float: sscanf would take "nan" and "inf", and a number beyond the float
// range is undefined for it.
bool readBracket(const char* text, float* values, unsigned count)
{
    if (*text != '[')
        return true;
    ++text;
    for (unsigned i = 0; i < count; ++i) {
        char* end = nullptr;
        const double value = std::strtod(text, &end);
        if (end == text)
            return true;
        const float narrowed = static_cast<float>(value);
        if (!std::isfinite(narrowed))
            return false;
        values[i] = narrowed;
        if (i + 1 < count && *end != ',')
            return true;
        text = end + 1;
    }
    return true;
}

bool startsWithLetter(const char* text)
{
    return std::isalpha(static_cast<unsigned char>(text[0])) != 0;
}

// One line of output per rejected option line: the logger's prefix and error
// word, then the message on stdout. Always returns false for the caller.
bool lineError(const CLogger* log, const char* problem, const char* context, const ConfigOption& option,
               bool ignored = false)
{
    log->error("", false);
    std::cout << problem << context << std::to_string(option.lineNumber) << (ignored ? ". Ignored." : ".")
              << std::endl;
    return false;
}

bool validController(const CConCommonH& handler, std::uint32_t id)
{
    return id >= 1 && id <= handler.m_nControllers;
}

// Pose value x 100000 in single precision, truncated toward zero. The volatile
// store rounds the product to float also where the FPU computes with more bits.
std::int32_t scaledPose(float value)
{
    volatile float stored = value * 100000.0f;
    const float product = stored;
    if (std::isnan(product))
        return 0;
    if (product >= 2147483648.0f)
        return INT32_MAX;
    if (product <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<std::int32_t>(product);
}

// Whether every pose value, scaled for the record, fits its 32-bit word: an
// emulated tracker's record would otherwise hold a clamped, unmeasured value.
bool poseFitsRecord(const float* values, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        const float product = values[i] * 100000.0f;
        if (!(product < 2147483648.0f && product > -2147483648.0f))
            return false;
    }
    return true;
}

bool parseEmulation(CConCommonH& handler, ConfigOption& option)
{
    const CLogger* log = handler.m_pLog;
    const unsigned count = argCount(option);
    if (count == 0)
        return lineError(log, kIncomplete, kEmuLine, option);
    const std::uint32_t id = readNumber(argText(option, 0));
    if (!validController(handler, id))
        return lineError(log, kBadController, kEmuOption, option);
    if (count < 2)
        return lineError(log, kIncomplete, kEmuLine, option);

    float initValues[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    const bool poseOk = readBracket(argText(option, 1), initValues, 6);
    if (count < 8)
        return lineError(log, kIncomplete, kEmuLine, option);
    if (count > 9)
        return lineError(log, kTooMany, kEmuLine, option);
    if (!poseOk || !poseFitsRecord(initValues, 6))
        return lineError(log, kBadArg, kEmuLine, option);

    const ControllerEntry& entry = handler.m_pControllers[id - 1];
    unsigned assign[6];
    for (unsigned axis = 0; axis < 6; ++axis) {
        const std::uint32_t valuator = readNumber(argText(option, 2 + axis));
        if (valuator > entry.numValuators || valuator > ControllerEntry::kMaxItems)
            return lineError(log, kBadValuator, kEmuOption, option);
        assign[axis] = valuator;
    }
    std::uint32_t resetButton = 0;
    if (count == 9) {
        resetButton = readNumber(argText(option, 8));
        if (resetButton == 0 || resetButton > entry.numButtons || resetButton > ControllerEntry::kMaxItems)
            return lineError(log, kBadButton, kEmuOption, option, true);
    }
    handler.setEmulation(id, 0, initValues, assign, resetButton);
    option.consumed = 1;
    return true;
}

bool parseScale(CConCommonH& handler, ConfigOption& option)
{
    const CLogger* log = handler.m_pLog;
    const unsigned count = argCount(option);
    if (count == 0)
        return lineError(log, kIncomplete, kScaleLine, option);
    const std::uint32_t id = readNumber(argText(option, 0));
    if (!validController(handler, id))
        return lineError(log, kBadController, kScaleOption, option);
    if (count < 3)
        return lineError(log, kIncomplete, kScaleLine, option);

    float coeff[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const char* scale = argText(option, 1);
    if (scale[0] == '[') {
        if (!readBracket(scale, coeff, 4))
            return lineError(log, kBadArg, kScaleLine, option);
        if (coeff[0] == 0.0f && coeff[1] == 0.0f && coeff[2] == 0.0f && coeff[3] == 0.0f)
            return lineError(log, kIncomplete, kScaleLine, option);
    } else {
        // A plain number is the linear factor; "0" is a valid all-zero scale.
        coeff[2] = static_cast<float>(std::strtod(scale, nullptr));
        if ((coeff[2] == 0.0f && startsWithLetter(scale)) || !std::isfinite(coeff[2]))
            return lineError(log, kBadArg, kScaleLine, option);
    }

    ControllerEntry& entry = handler.m_pControllers[id - 1];
    bool selected[ControllerEntry::kMaxItems] = {};
    for (unsigned i = 2; i < count; ++i) {
        const char* text = argText(option, i);
        if (sameWord(text, "all")) {
            for (bool& flag : selected)
                flag = true;
            break;
        }
        const std::uint32_t valuator = readNumber(text);
        if (valuator == 0 || valuator > entry.numValuators || valuator > ControllerEntry::kMaxItems)
            return lineError(log, kBadValuator, kScaleOption, option);
        selected[valuator - 1] = true;
    }
    for (unsigned v = 0; v < ControllerEntry::kMaxItems; ++v) {
        if (selected[v])
            std::memcpy(entry.valuatorScale[v], coeff, sizeof coeff);
    }
    option.consumed = 1;
    return true;
}

// valuatororder / buttonorder: argument p (after the controller id) names the
// real item that becomes output item p.
bool parseItemOrder(CConCommonH& handler, ConfigOption& option, bool buttons)
{
    const CLogger* log = handler.m_pLog;
    const unsigned count = argCount(option);
    if (count == 0)
        return lineError(log, kIncomplete, kOrderLine, option);
    const std::uint32_t id = readNumber(argText(option, 0));
    if (!validController(handler, id))
        return lineError(log, kBadController, kOrderOption, option);

    ControllerEntry& entry = handler.m_pControllers[id - 1];
    std::uint32_t& itemCount = buttons ? entry.numButtons : entry.numValuators;
    std::uint32_t* map = buttons ? entry.buttonMap : entry.valuatorMap;
    // The map has 32 slots, so even a known count set from outside cannot widen the limit.
    std::uint32_t limit = ControllerEntry::kMaxItems;
    if (handler.m_bKnownCounts && itemCount < limit)
        limit = itemCount;

    std::uint32_t values[kMaxOptionArgs] = {};
    std::uint32_t largest = 0;
    for (unsigned p = 1; p < count; ++p) {
        const char* text = argText(option, p);
        const std::uint32_t value = readNumber(text);
        if (value == 0 && startsWithLetter(text))
            return lineError(log, kBadArg, kOrderLine, option);
        values[p] = value;
        if (value == 0)
            continue; // an empty output position, never a duplicate
        if (value > largest)
            largest = value;
        for (unsigned q = p + 1; q < count; ++q) {
            if (readNumber(argText(option, q)) == value)
                return lineError(log, kDuplicate, kOrderOption, option);
        }
    }
    if (largest > limit)
        return lineError(log, kBadId, kOrderOption, option);

    itemCount = largest;
    std::memset(map, 0, sizeof(std::uint32_t) * ControllerEntry::kMaxItems);
    for (unsigned p = 1; p < count; ++p) {
        if (values[p] != 0)
            map[values[p] - 1] = p;
    }
    option.consumed = 1;
    return true;
}

bool parseControllerOrder(CConCommonH& handler, ConfigOption& option)
{
    // With an input connector the host itself decides the controller order.
    if (handler.m_bInputConnector)
        return true;
    unsigned count = argCount(option);
    if (count > handler.m_nOutControllers)
        count = handler.m_nOutControllers;

    std::uint32_t ids[kMaxOptionArgs] = {};
    for (unsigned p = 0; p < count; ++p) {
        ids[p] = readNumber(argText(option, p));
        if (!validController(handler, ids[p]))
            return lineError(handler.m_pLog, kBadController, kOrderOption, option);
    }
    for (std::uint32_t i = 0; i < handler.m_nControllers; ++i)
        handler.m_pControllers[i].order = 0;
    for (unsigned p = 0; p < count; ++p)
        handler.m_pControllers[ids[p] - 1].order = p + 1;
    option.consumed = 1;
    return true;
}

} // namespace

CConCommonH::CConCommonH(const CLogger* log)
    : m_bOwnLog(true), m_nControllers(0), m_bKnownCounts(true), m_pControllers(nullptr), m_bInputConnector(true),
      m_nOutControllers(0), m_nIdOffset(0), m_pLog(log ? new CLogger(*log) : new CLogger())
{
    if (!log)
        m_pLog->setName("CConCommonH");
    m_pLog->setDebugId(3);
    m_pLog->debug("CConCommonH: \"constructor\" called.", true);
}

CConCommonH::~CConCommonH()
{
    m_pLog->debug("CConCommonH: \"destructor\" called.", true);
    if (m_pControllers)
        releaseControllers();
    if (m_bOwnLog)
        delete m_pLog;
}

bool CConCommonH::initControllers(unsigned count, bool knownCounts)
{
    if (count == 0)
        return false;
    if (m_pControllers)
        releaseControllers();
    // Errors are results here, never exceptions: an absurd count simply fails.
    ControllerEntry* table = new (std::nothrow) ControllerEntry[count];
    if (!table)
        return false;
    for (unsigned i = 0; i < count; ++i) {
        ControllerEntry& entry = table[i];
        std::memset(&entry, 0, sizeof entry);
        for (unsigned v = 0; v < ControllerEntry::kMaxItems; ++v)
            entry.valuatorScale[v][2] = 1.0f;
        entry.emulation = nullptr;
    }
    m_pControllers = table;
    m_nControllers = count;
    m_bKnownCounts = knownCounts;
    return true;
}

bool CConCommonH::releaseControllers()
{
    if (!m_pControllers)
        return false;
    for (std::uint32_t i = 0; i < m_nControllers; ++i)
        delete m_pControllers[i].emulation;
    delete[] m_pControllers;
    m_pControllers = nullptr;
    m_nControllers = 0;
    return true;
}

bool CConCommonH::parseConfig(DeviceConfig* config)
{
    if (!m_pControllers) {
        m_pLog->error("CConCommonH: lookup Null", true);
        return false;
    }
    if (!config) {
        m_pLog->error("CConCommonH: config empty", true);
        return false;
    }
    const unsigned count = config->optionCount < unsigned(kMaxOptions) ? config->optionCount : unsigned(kMaxOptions);
    bool ok = true;
    for (unsigned i = 0; i < count; ++i) {
        ConfigOption& option = config->options[i];
        const char* name = option.name;
        if (!name)
            continue;
        // Lines already consumed by another parser are handled again on purpose:
        // "order" applies to the trackers and the controllers of one device alike.
        bool lineOk = true;
        if (sameWord(name, "emulatetracker"))
            lineOk = parseEmulation(*this, option);
        else if (sameWord(name, "valuatororder"))
            lineOk = parseItemOrder(*this, option, false);
        else if (sameWord(name, "buttonorder"))
            lineOk = parseItemOrder(*this, option, true);
        else if (sameWord(name, "valuatorscale"))
            lineOk = parseScale(*this, option);
        else if (sameWord(name, "controllerorder") || sameWord(name, "unitorder") || sameWord(name, "order"))
            lineOk = parseControllerOrder(*this, option);
        else
            continue;
        // Also a line left as it was (controller order on an input connector) was read.
        noteOptionRead(*m_pLog, option);
        if (!lineOk)
            ok = false;
    }
    return ok;
}

bool CConCommonH::setEmulation(unsigned index, unsigned trackerId, const float* initValues,
                               const unsigned* valuatorAssign, unsigned resetButton)
{
    if (!m_pControllers || index == 0 || index > m_nControllers)
        return false;
    ControllerEntry& entry = m_pControllers[index - 1];
    if (!entry.emulation) {
        entry.emulation = new (std::nothrow) TraEmulation;
        if (!entry.emulation)
            return false;
    }
    TraEmulation& emu = *entry.emulation;
    emu.trackerId = trackerId;
    for (unsigned axis = 0; axis < 6; ++axis) {
        emu.initValues[axis] = initValues ? initValues[axis] : 0.0f;
        emu.valuatorAssign[axis] = valuatorAssign ? valuatorAssign[axis] : 0;
    }
    emu.resetButton = resetButton;
    emu.reserved[0] = 0;
    emu.reserved[1] = 0;
    return true;
}

unsigned CConCommonH::setEmuTrackerIds(unsigned firstId)
{
    if (firstId == 0 || !m_pControllers)
        return 0;
    unsigned numbered = 0;
    for (std::uint32_t i = 0; i < m_nControllers; ++i) {
        if (m_pControllers[i].emulation)
            m_pControllers[i].emulation->trackerId = firstId + numbered++;
    }
    return numbered;
}

bool CConCommonH::setEmuTraData(unsigned index, TrackerRecord* record, const TrackerRecord* source)
{
    if (!record || !m_pControllers || index == 0 || index > m_nControllers)
        return false;
    const TraEmulation* emu = m_pControllers[index - 1].emulation;
    if (!emu)
        return false;
    if (source) {
        // Both words are already in network order.
        record->seconds = source->seconds;
        record->micros = source->micros;
    }
    if (emu->trackerId >= 1 && emu->trackerId <= kMaxRecords)
        record->id = plat::hostToNet32(emu->trackerId);
    for (unsigned axis = 0; axis < 6; ++axis) {
        const std::uint32_t word = plat::hostToNet32(static_cast<std::uint32_t>(scaledPose(emu->initValues[axis])));
        record->pose[axis] = static_cast<std::int32_t>(word);
    }
    return true;
}

unsigned CConCommonH::emulatingController(unsigned k) const
{
    if (k == 0 || !m_pControllers)
        return 0;
    unsigned seen = 0;
    for (std::uint32_t i = 0; i < m_nControllers; ++i) {
        if (m_pControllers[i].emulation && ++seen == k)
            return i + 1;
    }
    return 0;
}
