#include "support/calib.h"

#include "support/logger.h"

#include <cstring>

namespace {

char* copyArg(const char* text)
{
    // A missing string reaches the library as an empty one, never as null.
    if (!text)
        text = "";
    const std::size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

} // namespace

CCalibH::CCalibH(const char* libName, const CLogger* log)
    : CDynamicLibH(libName, log), m_hCalib(nullptr), m_pszArgs(), m_nArgs(0)
{
    if (!log)
        m_pLog->setName("CCalibH");
    m_pLog->debug("CCalibH: \"init\" called.", true);
}

// calib_exit is left to exit(): the library's handle is the device's business.
// The argument copies are ours, so a handler deleted without exit() frees them.
CCalibH::~CCalibH()
{
    m_pLog->debug("CCalibH: \"destructor\" called.", true);
    freeArgs();
}

void CCalibH::freeArgs()
{
    for (int i = 0; i < m_nArgs; ++i) {
        delete[] m_pszArgs[i];
        m_pszArgs[i] = nullptr;
    }
    m_nArgs = 0;
}

bool CCalibH::init(const char* const* args, int count)
{
    m_pLog->debug("CCalibH: \"init\" called.", true);
    InitFn initFn = reinterpret_cast<InitFn>(getProcAddrCached("calib_init", kSlotInit));

    // A repeated init replaces the earlier copies instead of leaking them.
    // Only ten strings fit; the option parser never hands over more, and any
    // surplus is dropped rather than written past the array.
    freeArgs();
    if (!args || count < 0)
        count = 0;
    if (count > kMaxArgs)
        count = kMaxArgs;
    // Counted one copy at a time, so copies made before a failed allocation
    // are still freed.
    for (int i = 0; i < count; ++i) {
        m_pszArgs[i] = copyArg(args[i]);
        m_nArgs = i + 1;
    }

    if (!initFn) {
        m_pLog->debug("CCalibH: could not call \"calib_init\".", true);
        return false;
    }
    m_hCalib = initFn(m_pszArgs, m_nArgs);
    m_pLog->debug("CCalibH: \"calib_init\" called.", true);
    return true;
}

bool CCalibH::evaluate(TraSample* sample)
{
    EvaluateFn evaluateFn = reinterpret_cast<EvaluateFn>(getProcAddrCached("calib_evaluate", kSlotEvaluate));
    if (!evaluateFn || !sample)
        return false;
    // TraSample is six consecutive floats, the layout the library expects.
    evaluateFn(m_hCalib, reinterpret_cast<float*>(sample));
    return true;
}

bool CCalibH::exit()
{
    m_pLog->debug("CCalibH: \"exit\" called.", true);
    ExitFn exitFn = reinterpret_cast<ExitFn>(getProcAddrCached("calib_exit", kSlotExit));
    freeArgs();
    if (!exitFn) {
        m_pLog->debug("CCalibH: could not call \"calib_exit\".", true);
        return false;
    }
    exitFn(m_hCalib);
    m_pLog->debug("CCalibH: \"calib_exit\" called.", true);
    return true;
}
