// Loads the fake device module for a test and reads its call log.
#pragma once

#include "helpers/host.h"
#include "support/platform.h"
#include "trackhost/slots.h"

#include <gtest/gtest.h>

#include <string>

namespace testhelp {

class FakeModule {
public:
    FakeModule() : m_lib(plat::loadLibrary(moduleFile("fakedev").c_str()))
    {
        if (!m_lib)
            return;
        create = reinterpret_cast<slots::CreateDevFn>(plat::findSymbol(m_lib, "createDev"));
        destroy = reinterpret_cast<slots::DeleteDevFn>(plat::findSymbol(m_lib, "deleteDev"));
        m_log = reinterpret_cast<LogFn>(plat::findSymbol(m_lib, "fakeCallLog"));
        calls();
    }
    ~FakeModule() { plat::freeLibrary(m_lib); }
    FakeModule(const FakeModule&) = delete;
    FakeModule& operator=(const FakeModule&) = delete;

    bool ok() const { return m_lib && create && destroy && m_log; }
    std::string loadError() const { return plat::lastLoadError(); }
    // The calls since the last look, as "NAME.op;NAME.op;...".
    std::string calls() { return m_log ? m_log(1) : ""; }

    slots::CreateDevFn create = nullptr;
    slots::DeleteDevFn destroy = nullptr;

private:
    typedef const char* (*LogFn)(int clear);
    plat::LibHandle m_lib;
    LogFn m_log = nullptr;
};

} // namespace testhelp
