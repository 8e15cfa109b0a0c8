#include "support/dynlib.h"

#include "support/logger.h"

#include <iostream>
#include <new>

namespace {

// Slots are small numbers chosen by the caller; a slot beyond this bound is
// looked up directly instead of growing the cache to an absurd size.
const std::uint32_t kMaxCachedSlots = 1024;

} // namespace

CDynamicLibH::CDynamicLibH(const char* libName, const CLogger* log)
    : m_hLib(nullptr), m_bOwnLog(true), m_procCache(), m_pLog(nullptr)
{
    if (log) {
        m_pLog = new CLogger(*log);
    } else {
        m_pLog = new CLogger();
        m_pLog->setName("CDynamicLibH");
    }
    m_pLog->setDebugId(3);
    m_pLog->debug("CDynamicLibH: \"constructor\" called.", true);
    init();
    // The object is usable whether or not the library loaded; lookups report it.
    if (libName)
        load(libName);
}

CDynamicLibH::~CDynamicLibH()
{
    m_pLog->debug("CDynamicLibH: \"destructor\" called.", true);
    unload();
    if (m_bOwnLog)
        delete m_pLog;
    m_pLog = nullptr;
}

void CDynamicLibH::init()
{
    m_pLog->debug("CDynamicLibH: \"init\" called.", true);
    m_hLib = nullptr;
}

bool CDynamicLibH::load(const char* libName)
{
    m_pLog->debug("CDynamicLibH: \"load\" called.", true);
    if (!libName || !*libName) {
        m_pLog->error("CDynamicLibH: Library name is empty.", true);
        return false;
    }
    if (m_hLib)
        return false;
    m_hLib = plat::loadLibrary(libName);
    if (!m_hLib) {
        m_pLog->error("CDynamicLibH: Can not load the library ", false);
        std::cout << libName << std::endl;
        return false;
    }
    if (m_pLog->isDebugOn()) {
        m_pLog->debug("CDynamicLibH: ", false);
        std::cout << libName << " library loaded." << std::endl;
    }
    return true;
}

bool CDynamicLibH::unload()
{
    m_pLog->debug("CDynamicLibH: \"unload\" called.", true);
    if (m_hLib)
        plat::freeLibrary(m_hLib);
    m_hLib = nullptr;
    // Addresses of the released library are stale; the storage stays for reuse.
    m_procCache.clear();
    return true;
}

void* CDynamicLibH::getProcAddr(const char* name)
{
    m_pLog->debug("CDynamicLibH: \"getProcAddr\" called.", true);
    if (!m_hLib) {
        m_pLog->error("CDynamicLibH: Library has not been loaded.", true);
        return nullptr;
    }
    return plat::findSymbol(m_hLib, name);
}

void* CDynamicLibH::getProcAddrCached(const char* name, std::uint32_t slot)
{
    m_pLog->debug("CDynamicLibH: \"getProcAddrCached\" called.", true);
    if (!m_hLib) {
        m_pLog->error("CDynamicLibH: Library has not been loaded.", true);
        return nullptr;
    }
    if (slot >= kMaxCachedSlots)
        return getProcAddr(name);
    if (slot >= m_procCache.size()) {
        try {
            m_procCache.resize(static_cast<std::size_t>(slot) + 1, ProcCacheEntry{nullptr, 0});
        } catch (const std::bad_alloc&) {
            // The cache only saves a search: without memory for it, search.
            // (Failing here would leave calib_exit uncalled at stop.)
            return getProcAddr(name);
        }
    }
    ProcCacheEntry& entry = m_procCache[slot];
    // A failed lookup is remembered, so a missing entry point costs one search.
    if (!entry.addr && !entry.tried) {
        entry.tried = 1;
        entry.addr = getProcAddr(name);
    }
    return entry.addr;
}
