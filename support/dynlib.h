// CDynamicLibH: one dynamic library loaded by name, with a cache of entry
// points indexed by slot numbers the caller chooses, so an entry point called
// for every sample is looked up only once. A failed lookup stays remembered
// until unload(). Loading and lookups go through the platform layer.
#pragma once

#include "support/platform.h"

#include <cstdint>
#include <vector>

class CLogger;

struct ProcCacheEntry {
    void* addr;          // the address found for this slot, or null
    std::uint32_t tried; // 1 once the slot's lookup was made
};

class CDynamicLibH {
public:
    CDynamicLibH(const char* libName, const CLogger* log);
    virtual ~CDynamicLibH();
    CDynamicLibH(const CDynamicLibH&) = delete;
    CDynamicLibH& operator=(const CDynamicLibH&) = delete;

    void init();
    bool load(const char* libName);
    bool unload();
    void* getProcAddr(const char* name);
    void* getProcAddrCached(const char* name, std::uint32_t slot);

    plat::LibHandle m_hLib;
    bool m_bOwnLog;
    std::vector<ProcCacheEntry> m_procCache;
    CLogger* m_pLog;
};
