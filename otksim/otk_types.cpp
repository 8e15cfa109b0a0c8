// The small value classes of the simulated tracker SDK.
#include "tracker/OTK.h"

COTKser::COTKser(eOvBaudRate baud, eOvParity parity, int flowControl)
    : m_baud(baud), m_parity(parity), m_flow(flowControl)
{
}

COTKbiterr::COTKbiterr() : m_errors(0) {}

int COTKbiterr::IsClear() const
{
    return m_errors == 0;
}

COTKmdat::COTKmdat() : m_count(0), m_items() {}

void COTKmdat::Empty()
{
    m_count = 0;
}

int COTKmdat::Append(eOTKMotionData item)
{
    if (m_count < 0 || m_count >= kMaxItems)
        return 0;
    m_items[m_count++] = item;
    return 1;
}
