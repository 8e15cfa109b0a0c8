#include "support/base.h"

CBase::CBase(const CLogger* logTemplate) : m_bOwnLog(true), m_pLog(nullptr), m_bInputConnector(true)
{
    if (logTemplate) {
        m_pLog = new CLogger(*logTemplate);
    } else {
        m_pLog = new CLogger();
        m_pLog->setName("CBase");
    }
    m_pLog->setDebugId(1);
}

CBase::~CBase()
{
    if (m_bOwnLog && m_pLog)
        delete m_pLog;
    m_pLog = nullptr;
}
