// CBase: the abstract root of every device class. It declares the host's first
// seven device operations (vtable slots 0..6, in this order; there is no
// virtual destructor) and owns the device's private copy of the logger.
#pragma once

#include "support/logger.h"

#include <cstdint>

struct InitInfo;

class CBase {
public:
    explicit CBase(const CLogger* logTemplate);
    ~CBase();
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;

    virtual int init(InitInfo* info) = 0;                                   // slot 0
    virtual bool start() = 0;                                               // slot 1
    virtual int configure() = 0;                                            // slot 2
    virtual bool stop() = 0;                                                // slot 3
    virtual bool printConfig() = 0;                                         // slot 4
    virtual int recvData(unsigned char* buffer, int length) = 0;            // slot 5
    virtual int reservedOp(std::uint32_t first, std::uint32_t second) = 0; // slot 6

    bool m_bOwnLog;
    CLogger* m_pLog;
    bool m_bInputConnector;
};
