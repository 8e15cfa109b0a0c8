// The controller test device: its counts come from its own option lines, the
// rest of its set-up and all of its report from the device base.
#include "condev.h"

#include "common/tracommon.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {
bool sameWord(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// A whole decimal number 0..limit, nothing else.
bool readNumber(const char* text, unsigned long limit, std::uint32_t& value)
{
    if (!text || !std::isdigit(static_cast<unsigned char>(*text)))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > limit)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}
} // namespace

ConDev::ConDev(DeviceConfig* config, const CLogger* logTemplate) : CDevice(config, logTemplate) {}

bool ConDev::readCounts(std::uint32_t& controllers, std::uint32_t& trackers)
{
    bool ok = true;
    for (std::uint32_t i = 0; i < m_pConfig->optionCount && i < kMaxOptions; ++i) {
        ConfigOption& option = m_pConfig->options[i];
        std::uint32_t* target = nullptr;
        if (sameWord(option.name, "controllers"))
            target = &controllers;
        else if (sameWord(option.name, "trackers"))
            target = &trackers;
        else
            continue;
        if (option.argCount != 1 || !readNumber(option.args[0], kMaxCount, *target)) {
            const std::string text = std::string("Invalid count found for ") + option.name + " at line " +
                                     std::to_string(option.lineNumber) + ".";
            m_pLog->error(text.c_str(), true);
            ok = false;
            continue;
        }
        option.consumed = 1;
    }
    return ok;
}

int ConDev::init(InitInfo* info)
{
    std::uint32_t controllers = 0;
    std::uint32_t trackers = 0;
    bool ok = setInitInfo(info) == 1 && readCounts(controllers, trackers);
    if (ok) {
        m_nMaxControllers = controllers;
        m_nControllers = controllers;
        // Room for every own tracker and one emulated tracker per controller:
        // the emulated trackers take the handler's entries behind the own ones.
        m_nMaxTrackers = trackers + controllers;
        m_nTrackers = trackers;
        ok = initTables();
    }
    for (unsigned sensor = 1; ok && sensor <= m_nTrackers; ++sensor)
        ok = setTraId(sensor, sensor);
    if (ok)
        ok = initCommonOpts();
    // The report is printed on failure too: it shows how far set-up came.
    printConfig();
    return ok ? 1 : -1;
}

bool ConDev::start() { return true; }

int ConDev::configure() { return 2; }

bool ConDev::stop() { return deinitCalib(); }

bool ConDev::printConfig()
{
    printHeader();
    m_pLog->infof("DEVICE TYPE           : Test controllers: %u controllers, %u trackers, %u emulated\n",
                  static_cast<unsigned>(m_nControllers), static_cast<unsigned>(m_nTrackers),
                  static_cast<unsigned>(m_nEmulated));
    return printFooter();
}

void ConDev::fixedPose(unsigned sensor, float position[3], float angles[3])
{
    position[0] = static_cast<float>(sensor);
    position[1] = 0.5f;
    position[2] = -0.25f;
    angles[0] = 10.0f * static_cast<float>(sensor);
    angles[1] = -20.0f;
    angles[2] = 30.0f;
}

int ConDev::update()
{
    bool ok = true;
    for (unsigned sensor = 1; sensor <= m_nTrackers; ++sensor) {
        float position[3];
        float angles[3];
        fixedPose(sensor, position, angles);
        if (!setTraData(sensor, position, angles))
            ok = false;
    }
    return ok ? 1 : 0;
}

int ConDev::updataConData()
{
    // The emulated records were filled once at init and hold their pose; they
    // are marked every cycle so that the host reads them with the rest.
    CTraCommonH* tra = m_pInit ? m_pInit->pTraCommon : nullptr;
    if (tra && m_pInit->pUpdateFlags) {
        for (unsigned i = 1; i <= m_nEmulated; ++i)
            tra->markUpdated(m_pInit->pUpdateFlags->trackerMask, tra->m_nIdOffset + m_nTrackers + i);
    }
    return 1;
}
