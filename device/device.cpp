#include "device/device.h"

#include "common/concommon.h"
#include "common/tracommon.h"

#include <cstring>
#include <iostream>

CDevice::CDevice(DeviceConfig* config, const CLogger* logTemplate)
    : CBase(logTemplate), m_pInit(nullptr), m_pszName(nullptr), m_pConfig(config), m_nMaxTrackers(0),
      m_nMaxControllers(0), m_nTrackers(0), m_nControllers(0), m_nEmulated(0)
{
}

CDevice::~CDevice()
{
    delete[] m_pszName;
    m_pszName = nullptr;
    if (m_pInit) {
        delete m_pInit->pTraCommon;
        m_pInit->pTraCommon = nullptr;
        delete m_pInit->pConCommon;
        m_pInit->pConCommon = nullptr;
        delete m_pInit;
        m_pInit = nullptr;
    }
}

int CDevice::setInitInfo(InitInfo* info)
{
    if (!info) {
        m_pLog->error("Init info is empty.", true);
        return 0;
    }
    // A repeated call keeps the handlers already made: only the host's part
    // of the record is taken again.
    if (!m_pInit) {
        m_pInit = new InitData;
        m_pInit->pTraCommon = nullptr;
        m_pInit->pConCommon = nullptr;
        m_pInit->pUpdateFlags = nullptr;
    }
    m_pInit->pTraStorage = info->traStorage;
    m_pInit->pConStorage = info->conStorage;
    std::memcpy(m_pInit->hostData, info->hostData, sizeof m_pInit->hostData);

    delete[] m_pszName;
    m_pszName = nullptr;
    const char* name = (m_pConfig && m_pConfig->deviceName) ? m_pConfig->deviceName : "";
    m_pszName = new char[std::strlen(name) + 1];
    std::strcpy(m_pszName, name);

    m_bInputConnector = true;
    return 1;
}

int CDevice::recvData(unsigned char* buffer, int /*length*/)
{
    return guarded("recvData", -1, [this, buffer] { return dispatch(buffer); });
}

void CDevice::reportThrow(const char* operation, const char* what) noexcept
{
    // Written without building a string: memory may be what ran out.
    try {
        m_pLog->error("", false);
        std::cout << operation << ": " << (what ? what : "") << std::endl;
    } catch (...) {
    }
}

int CDevice::dispatch(unsigned char* buffer)
{
    m_pLog->debug("\"recvData\" called.", true);
    if (!m_pInit)
        return 1; // nothing was initialised, so no handler exists
    UpdateFlags* flags = reinterpret_cast<UpdateFlags*>(buffer);
    m_pInit->pUpdateFlags = flags;

    // A null buffer has no masks to clear; the update still runs.
    if (flags && m_pInit->pConCommon)
        std::memset(flags->controllerMask, 0, sizeof flags->controllerMask);
    if (flags && m_pInit->pTraCommon)
        m_pInit->pTraCommon->clearUpdateMask(flags->trackerMask);

    if (m_pInit->pConCommon && updataConData() == 0)
        return -1;
    if (m_pInit->pTraCommon && update() == 0)
        return -1;
    return 1;
}

int CDevice::reservedOp(std::uint32_t, std::uint32_t) { return 0; }

bool CDevice::printHeader()
{
    m_pLog->info("DEVICE NAME           : ", false);
    // Before init has copied the name there is none; never stream a null text.
    std::cout << (m_pszName ? m_pszName : "(null)") << std::endl;
    return true;
}
