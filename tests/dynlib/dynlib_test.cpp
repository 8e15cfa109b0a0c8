#include "helpers/capture.h"
#include "helpers/host.h"
#include "support/dynlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using testhelp::CaptureStdout;
using Lines = std::vector<std::string>;

namespace {

const std::string kProbe = testhelp::moduleFile("calibprobe");
const std::string kOther = testhelp::moduleFile("tarsiscalib");
const std::string kMissing = testhelp::moduleFile("no_such_tarsis_library");

// A host logger whose level shows the loader's debug class.
CLogger tracedLogger()
{
    CLogger log = testhelp::quietLogger("dl");
    log.debugLevel = 3;
    return log;
}

std::string trace(const std::string& text) { return "dl: DEBUG: CDynamicLibH: " + text; }

long lookups(const CaptureStdout& out)
{
    const Lines lines = out.lines();
    return std::count(lines.begin(), lines.end(), trace("\"getProcAddr\" called."));
}

} // namespace

TEST(DynLib, LoadsAtConstructionAndTracesEveryStep)
{
    CLogger host = tracedLogger();
    CaptureStdout out;
    auto* lib = new CDynamicLibH(kProbe.c_str(), &host);
    EXPECT_EQ(out.lines(), (Lines{trace("\"constructor\" called."), trace("\"init\" called."),
                                  trace("\"load\" called."), trace(kProbe + " library loaded.")}));
    ASSERT_NE(lib->m_hLib, nullptr);
    EXPECT_EQ(std::string(lib->m_pLog->name), "dl");
    EXPECT_EQ(lib->m_pLog->debugId, 3);
    EXPECT_EQ(host.debugId, 0) << "the host's record is copied, not changed";

    out.clear();
    EXPECT_NE(lib->getProcAddr("probe_stats"), nullptr);
    EXPECT_EQ(lib->getProcAddr("not_exported_anywhere"), nullptr);
    EXPECT_EQ(out.lines(), (Lines{trace("\"getProcAddr\" called."), trace("\"getProcAddr\" called.")}));

    out.clear();
    delete lib;
    EXPECT_EQ(out.lines(), (Lines{trace("\"destructor\" called."), trace("\"unload\" called.")}));
}

TEST(DynLib, UnloadableNameLeavesAnObjectThatRefusesLookups)
{
    CLogger host = testhelp::quietLogger("dl");
    CaptureStdout out;
    CDynamicLibH lib(kMissing.c_str(), &host);
    EXPECT_EQ(out.lines(), Lines{"dl: ERROR: CDynamicLibH: Can not load the library " + kMissing});
    EXPECT_EQ(lib.m_hLib, nullptr);

    out.clear();
    EXPECT_EQ(lib.getProcAddr("probe_stats"), nullptr);
    EXPECT_EQ(lib.getProcAddrCached("probe_stats", 2), nullptr);
    EXPECT_EQ(out.lines(), (Lines{"dl: ERROR: CDynamicLibH: Library has not been loaded.",
                                  "dl: ERROR: CDynamicLibH: Library has not been loaded."}));
    EXPECT_TRUE(lib.m_procCache.empty()) << "a refused lookup leaves the cache alone";
}

TEST(DynLib, EmptyOrNullNamesAreRefused)
{
    CLogger host = testhelp::quietLogger("dl");
    CaptureStdout out;
    CDynamicLibH lib(nullptr, &host);
    EXPECT_EQ(out.text(), "") << "no name: nothing to load, nothing to report";
    EXPECT_FALSE(lib.load(""));
    EXPECT_FALSE(lib.load(nullptr));
    EXPECT_EQ(out.lines(), (Lines{"dl: ERROR: CDynamicLibH: Library name is empty.",
                                  "dl: ERROR: CDynamicLibH: Library name is empty."}));
    EXPECT_EQ(lib.m_hLib, nullptr);
}

TEST(DynLib, SecondLoadIsRefusedSilentlyAndKeepsTheFirstLibrary)
{
    CLogger host = testhelp::quietLogger("dl");
    CaptureStdout out;
    CDynamicLibH lib(nullptr, &host);
    ASSERT_TRUE(lib.load(kProbe.c_str()));
    const plat::LibHandle first = lib.m_hLib;
    EXPECT_FALSE(lib.load(kOther.c_str()));
    EXPECT_EQ(out.text(), "") << "without debug a good load writes nothing either";
    EXPECT_EQ(lib.m_hLib, first);
    EXPECT_NE(lib.getProcAddr("probe_stats"), nullptr) << "only the first library exports it";
}

TEST(DynLib, CacheGrowsToTheSlotAndLooksUpOnlyThatSlot)
{
    CLogger host = tracedLogger();
    CDynamicLibH lib(kProbe.c_str(), &host);
    CaptureStdout out;
    void* addr = lib.getProcAddrCached("probe_stats", 3);
    ASSERT_NE(addr, nullptr);
    ASSERT_EQ(lib.m_procCache.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lib.m_procCache[i].addr, nullptr) << i;
        EXPECT_EQ(lib.m_procCache[i].tried, 0u) << i;
    }
    EXPECT_EQ(lib.m_procCache[3].tried, 1u);
    EXPECT_EQ(lookups(out), 1);

    // A found slot answers for any name, from the cache alone.
    out.clear();
    EXPECT_EQ(lib.getProcAddrCached("calib_exit", 3), addr);
    EXPECT_EQ(lib.getProcAddrCached("probe_stats", 1), addr);
    EXPECT_EQ(lib.m_procCache.size(), 4u);
    EXPECT_EQ(out.lines(), (Lines{trace("\"getProcAddrCached\" called."), trace("\"getProcAddrCached\" called."),
                                  trace("\"getProcAddr\" called.")}));
}

TEST(DynLib, FailedLookupIsRememberedUntilUnload)
{
    CLogger host = tracedLogger();
    CDynamicLibH lib(kProbe.c_str(), &host);
    CaptureStdout out;
    EXPECT_EQ(lib.getProcAddrCached("not_exported_anywhere", 0), nullptr);
    EXPECT_EQ(lib.getProcAddrCached("probe_stats", 0), nullptr);
    EXPECT_EQ(lookups(out), 1);
    EXPECT_EQ(out.text().find("ERROR"), std::string::npos) << "a missing name is no error";

    EXPECT_TRUE(lib.unload());
    EXPECT_EQ(lib.m_hLib, nullptr);
    EXPECT_TRUE(lib.m_procCache.empty());

    out.clear();
    ASSERT_TRUE(lib.load(kProbe.c_str()));
    EXPECT_NE(lib.getProcAddrCached("probe_stats", 0), nullptr);
    EXPECT_EQ(lookups(out), 1) << "a reload asks the library again";
}

TEST(DynLib, UnloadWithNothingLoadedStillSucceeds)
{
    CLogger host = tracedLogger();
    CDynamicLibH lib(nullptr, &host);
    lib.m_procCache.push_back(ProcCacheEntry{nullptr, 1});
    CaptureStdout out;
    EXPECT_TRUE(lib.unload());
    EXPECT_EQ(out.lines(), Lines{trace("\"unload\" called.")});
    EXPECT_TRUE(lib.m_procCache.empty());
}

TEST(DynLib, AbsurdSlotIsLookedUpWithoutGrowingTheCache)
{
    CLogger host = testhelp::quietLogger("dl");
    CDynamicLibH lib(kProbe.c_str(), &host);
    EXPECT_NE(lib.getProcAddrCached("probe_stats", 0xFFFFFFFFu), nullptr);
    EXPECT_TRUE(lib.m_procCache.empty());
}

// The export table as the platform layer reads it (PE export directory, ELF
// dynamic symbols): exactly what the library defines for others, none of
// what it imports.
TEST(DynLib, ExportTableListsExactlyWhatTheLibraryExports)
{
    const struct {
        std::string file;
        std::vector<std::string> names;
    } cases[] = {
        {kProbe, {"calib_evaluate", "calib_exit", "calib_init", "probe_stats"}},
        {testhelp::moduleFile("calibnoinit"), {"calib_evaluate", "calib_exit", "probe_stats"}},
    };
    for (const auto& c : cases) {
        plat::LibHandle lib = plat::loadLibrary(c.file.c_str());
        ASSERT_NE(lib, nullptr) << c.file;
        std::vector<std::string> names;
        EXPECT_TRUE(plat::forEachExport(
            lib, [](const char* name, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(name); },
            &names));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(c.names, names) << c.file;
        plat::freeLibrary(lib);
    }
    EXPECT_FALSE(plat::forEachExport(nullptr, [](const char*, void*) {}, nullptr));
}
