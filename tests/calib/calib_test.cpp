#include "calib/libs/probe.h"
#include "helpers/capture.h"
#include "helpers/host.h"
#include "support/calib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <string>
#include <vector>

using testhelp::CaptureStdout;
using Lines = std::vector<std::string>;

namespace {

const std::string kExample = testhelp::moduleFile("tarsiscalib");
const std::string kProbe = testhelp::moduleFile("calibprobe");
const std::string kNoInit = testhelp::moduleFile("calibnoinit");
const std::string kNoEval = testhelp::moduleFile("calibnoeval");

CLogger tracedLogger()
{
    CLogger log = testhelp::quietLogger("cal");
    log.debugLevel = 3;
    return log;
}

std::string calibTrace(const std::string& text) { return "cal: DEBUG: CCalibH: " + text; }

long count(const CaptureStdout& out, const std::string& line)
{
    const Lines lines = out.lines();
    return std::count(lines.begin(), lines.end(), line);
}

// Holds one of the test libraries loaded beside the handler and reads what it
// recorded; the shared load also keeps its counters alive between handlers.
class Probe {
public:
    explicit Probe(const std::string& file) : m_lib(plat::loadLibrary(file.c_str())), m_stats(nullptr)
    {
        typedef ProbeStats* (*StatsFn)();
        auto fn = reinterpret_cast<StatsFn>(plat::findSymbol(m_lib, "probe_stats"));
        if (fn) {
            m_stats = fn();
            std::memset(m_stats, 0, sizeof *m_stats);
        }
    }
    ~Probe() { plat::freeLibrary(m_lib); }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    ProbeStats& operator*() const { return *m_stats; }
    ProbeStats* operator->() const { return m_stats; }
    bool ok() const { return m_stats != nullptr; }

private:
    plat::LibHandle m_lib;
    ProbeStats* m_stats;
};

void expectSample(const TraSample& s, float x, float y, float z, float az, float el, float roll)
{
    EXPECT_FLOAT_EQ(s.x, x);
    EXPECT_FLOAT_EQ(s.y, y);
    EXPECT_FLOAT_EQ(s.z, z);
    EXPECT_FLOAT_EQ(s.azimuth, az);
    EXPECT_FLOAT_EQ(s.elevation, el);
    EXPECT_FLOAT_EQ(s.roll, roll);
}

} // namespace

TEST(Calib, ExampleLibraryAppliesTheDocumentedCorrection)
{
    CLogger host = testhelp::quietLogger("cal");
    CCalibH both(kExample.c_str(), &host);
    CCalibH perAxis(kExample.c_str(), &host);
    const char* args[] = {"offset=1,2,3", "scale=2", "angle=10,-5,90"};
    ASSERT_TRUE(both.init(args, 3));
    // An argument of no known form is skipped; the rest still applies.
    const char* args2[] = {"bogus", "SCALE=1,2,3", "offset=1,2", "angle=x,y,z"};
    ASSERT_TRUE(perAxis.init(args2, 4));
    EXPECT_NE(both.m_hCalib, perAxis.m_hCalib);

    TraSample a = {1.0f, 1.5f, -2.0f, 30.0f, 0.0f, -90.0f};
    TraSample b = a;
    EXPECT_TRUE(both.evaluate(&a));
    EXPECT_TRUE(perAxis.evaluate(&b));
    expectSample(a, 3.0f, 5.0f, -1.0f, 40.0f, -5.0f, 0.0f);
    expectSample(b, 1.0f, 3.0f, -6.0f, 30.0f, 0.0f, -90.0f);

    // Ending one handle leaves the other device's correction untouched, and
    // a second exit of the same handle is harmless.
    EXPECT_TRUE(both.exit());
    EXPECT_TRUE(both.exit());
    TraSample c = {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(both.evaluate(&c));
    expectSample(c, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(perAxis.evaluate(&c));
    expectSample(c, 1.0f, 2.0f, 3.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(perAxis.exit());
}

// The example library's entry points, called directly as a second device
// (or a second thread) would.
struct ExampleLibrary {
    typedef void* (*InitFn)(char**, int);
    typedef void (*EvaluateFn)(void*, float*);
    typedef void (*ExitFn)(void*);
    plat::LibHandle lib = plat::loadLibrary(kExample.c_str());
    InitFn init = reinterpret_cast<InitFn>(plat::findSymbol(lib, "calib_init"));
    EvaluateFn evaluate = reinterpret_cast<EvaluateFn>(plat::findSymbol(lib, "calib_evaluate"));
    ExitFn exit = reinterpret_cast<ExitFn>(plat::findSymbol(lib, "calib_exit"));
    ~ExampleLibrary() { plat::freeLibrary(lib); }
    void* scaled(const char* arg)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%s", arg);
        char* args[] = {text};
        return init(args, 1);
    }
};

TEST(Calib, ExampleLibraryHolds256LiveHandlesAndNeverReusesOne)
{
    ExampleLibrary lib;
    ASSERT_TRUE(lib.init && lib.evaluate && lib.exit);
    std::vector<void*> live;
    std::set<void*> seen;
    for (int i = 0; i < 256; ++i) {
        live.push_back(lib.scaled("scale=2"));
        ASSERT_NE(nullptr, live.back()) << i;
        ASSERT_TRUE(seen.insert(live.back()).second) << i;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, lib.scaled("scale=2"));
    EXPECT_EQ("tarsiscalib: no room for another correction (256 are in use)\n",
              testing::internal::GetCapturedStderr());
    // A freed slot takes a new handle; the old one stays dead.
    lib.exit(live[17]);
    void* fresh = lib.scaled("scale=3");
    ASSERT_NE(nullptr, fresh);
    EXPECT_TRUE(seen.insert(fresh).second);
    float sample[6] = {1, 1, 1, 0, 0, 0};
    lib.evaluate(live[17], sample);
    EXPECT_EQ(1.0f, sample[0]);
    lib.evaluate(fresh, sample);
    EXPECT_EQ(3.0f, sample[0]);
    live[17] = fresh;
    for (void* h : live)
        lib.exit(h);
}

// A stale handle whose slot other devices keep taking and freeing must never
// pick up their corrections, and a live one always applies exactly its own.
TEST(Calib, ExampleLibraryEvaluatesWithoutLockWhileOthersComeAndGo)
{
    ExampleLibrary lib;
    ASSERT_TRUE(lib.init && lib.evaluate && lib.exit);
    void* stale = lib.scaled("scale=5");
    void* mine = lib.scaled("offset=1,2,3");
    lib.exit(stale);
    std::atomic<bool> done(false);
    std::thread churn([&] {
        for (int i = 0; i < 20000; ++i)
            lib.exit(lib.scaled(i % 2 ? "scale=7" : "angle=9,9,9"));
        done = true;
    });
    long wrong = 0;
    while (!done) {
        float a[6] = {1, 1, 1, 1, 1, 1};
        lib.evaluate(stale, a);
        float b[6] = {1, 1, 1, 1, 1, 1};
        lib.evaluate(mine, b);
        const float wantB[6] = {2, 3, 4, 1, 1, 1};
        for (int k = 0; k < 6; ++k)
            wrong += (a[k] != 1.0f) + (b[k] != wantB[k]);
    }
    churn.join();
    lib.exit(mine);
    EXPECT_EQ(0, wrong);
}

TEST(Calib, ExampleLibraryIgnoresNumbersThatAreNoFiniteFloat)
{
    CLogger host = testhelp::quietLogger("cal");
    const char* const bad[] = {"scale=nan", "scale=-INF", "offset=infinity,0,0", "offset=0,1e309,0",
                               "angle=0,0,1e39", "scale=1,-3.5e38,1", "scale=0x1p200"};
    for (const char* arg : bad) {
        CCalibH calib(kExample.c_str(), &host);
        const char* args[] = {arg};
        ASSERT_TRUE(calib.init(args, 1));
        TraSample s = {1.0f, 2.0f, 3.0f, 10.0f, 20.0f, 30.0f};
        EXPECT_TRUE(calib.evaluate(&s));
        SCOPED_TRACE(arg);
        expectSample(s, 1.0f, 2.0f, 3.0f, 10.0f, 20.0f, 30.0f);
        calib.exit();
    }
}

TEST(Calib, TracesOfConstructionInitAndExit)
{
    Probe probe(kProbe);
    ASSERT_TRUE(probe.ok());
    CLogger host = tracedLogger();
    CaptureStdout out;
    CCalibH calib(kProbe.c_str(), &host);
    const char* args[] = {"a"};
    EXPECT_TRUE(calib.init(args, 1));
    EXPECT_EQ(count(out, calibTrace("\"init\" called.")), 2) << out.text();
    const Lines lines = out.lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{calibTrace("\"init\" called."), "cal: DEBUG: CDynamicLibH: \"getProcAddrCached\" called.",
                     "cal: DEBUG: CDynamicLibH: \"getProcAddr\" called.", calibTrace("\"calib_init\" called.")}));

    out.clear();
    EXPECT_TRUE(calib.exit());
    EXPECT_EQ(out.lines(),
              (Lines{calibTrace("\"exit\" called."), "cal: DEBUG: CDynamicLibH: \"getProcAddrCached\" called.",
                     "cal: DEBUG: CDynamicLibH: \"getProcAddr\" called.", calibTrace("\"calib_exit\" called.")}));
}

TEST(Calib, LibraryGetsCopiesAndTheHandleComesBack)
{
    Probe probe(kProbe);
    ASSERT_TRUE(probe.ok());
    CLogger host = testhelp::quietLogger("cal");
    CCalibH calib(kProbe.c_str(), &host);
    char first[] = "offset=1,2,3";
    const char* args[] = {first, "scale=2"};
    ASSERT_TRUE(calib.init(args, 2));
    EXPECT_EQ(probe->lastCount, 2);
    EXPECT_EQ(probe->lastArgs, calib.m_pszArgs);
    EXPECT_NE(probe->argPointers[0], first) << "the library must see the handler's copy";
    EXPECT_STREQ(probe->argTexts[0], "offset=1,2,3");
    EXPECT_STREQ(probe->argTexts[1], "scale=2");
    first[0] = 'X';
    EXPECT_STREQ(calib.m_pszArgs[0], "offset=1,2,3");
    ASSERT_NE(calib.m_hCalib, nullptr);

    TraSample s = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(calib.evaluate(&s));
    EXPECT_FLOAT_EQ(s.x, 2.0f) << "the caller goes on with the changed sample";
    EXPECT_EQ(probe->lastEvaluateHandle, calib.m_hCalib);

    // exit frees the copies; a second exit calls the library again, same handle.
    EXPECT_TRUE(calib.exit());
    EXPECT_EQ(calib.m_nArgs, 0);
    EXPECT_EQ(calib.m_pszArgs[0], nullptr);
    EXPECT_TRUE(calib.exit());
    EXPECT_EQ(probe->exitCalls, 2);
    EXPECT_EQ(probe->lastExitHandle, calib.m_hCalib);
}

TEST(Calib, ZeroArgumentsAndTooManyArguments)
{
    Probe probe(kProbe);
    ASSERT_TRUE(probe.ok());
    CLogger host = testhelp::quietLogger("cal");
    CCalibH calib(kProbe.c_str(), &host);
    ASSERT_TRUE(calib.init(nullptr, 0));
    EXPECT_EQ(probe->lastCount, 0);
    EXPECT_EQ(probe->lastArgs, calib.m_pszArgs) << "the empty array, not null";

    const char* many[12] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"};
    ASSERT_TRUE(calib.init(many, 12));
    EXPECT_EQ(calib.m_nArgs, CCalibH::kMaxArgs);
    EXPECT_EQ(probe->lastCount, CCalibH::kMaxArgs);
    EXPECT_STREQ(probe->argTexts[9], "9");
    EXPECT_TRUE(calib.exit());
}

TEST(Calib, MissingInitStillCopiesAndExitFreesThem)
{
    Probe probe(kNoInit);
    ASSERT_TRUE(probe.ok());
    CLogger host = tracedLogger();
    CCalibH calib(kNoInit.c_str(), &host);
    const char* args[] = {"a", "b"};
    CaptureStdout out;
    EXPECT_FALSE(calib.init(args, 2));
    EXPECT_FALSE(calib.init(args, 2));
    EXPECT_EQ(count(out, calibTrace("could not call \"calib_init\".")), 2);
    EXPECT_EQ(count(out, "cal: DEBUG: CDynamicLibH: \"getProcAddr\" called."), 1) << "asked only once";
    EXPECT_EQ(calib.m_nArgs, 2);
    EXPECT_STREQ(calib.m_pszArgs[1], "b");
    EXPECT_TRUE(calib.exit());
    EXPECT_EQ(calib.m_nArgs, 0);
    EXPECT_EQ(probe->exitCalls, 1);
}

TEST(Calib, MissingEvaluateFailsEverySampleAfterOneLookup)
{
    Probe probe(kNoEval);
    ASSERT_TRUE(probe.ok());
    CLogger host = tracedLogger();
    CCalibH calib(kNoEval.c_str(), &host);
    ASSERT_TRUE(calib.init(nullptr, 0));
    TraSample s = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    CaptureStdout out;
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(calib.evaluate(&s));
    EXPECT_EQ(count(out, "cal: DEBUG: CDynamicLibH: \"getProcAddr\" called."), 1);
    EXPECT_EQ(out.text().find("CCalibH"), std::string::npos) << "evaluate has no message of its own";
    expectSample(s, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f);
    EXPECT_TRUE(calib.exit());
}

TEST(Calib, UnloadableLibraryFailsEveryOperation)
{
    CLogger host = testhelp::quietLogger("cal");
    const std::string missing = testhelp::moduleFile("no_such_calibration");
    CaptureStdout out;
    CCalibH calib(missing.c_str(), &host);
    const char* args[] = {"a"};
    TraSample s = {};
    EXPECT_FALSE(calib.init(args, 1));
    EXPECT_FALSE(calib.evaluate(&s));
    EXPECT_FALSE(calib.exit());
    const std::string notLoaded = "cal: ERROR: CDynamicLibH: Library has not been loaded.";
    EXPECT_EQ(out.lines(), (Lines{"cal: ERROR: CDynamicLibH: Can not load the library " + missing, notLoaded,
                                  notLoaded, notLoaded}));
    EXPECT_EQ(calib.m_nArgs, 0);
}

TEST(Calib, WithoutLoggerTheHandlerIsNamedCCalibH)
{
    Probe probe(kProbe);
    ASSERT_TRUE(probe.ok());
    CCalibH calib(kProbe.c_str(), nullptr);
    EXPECT_STREQ(calib.m_pLog->name, "CCalibH");
    EXPECT_EQ(calib.m_pLog->debugId, 3);
    testhelp::plainPrefix(*calib.m_pLog);
    calib.m_pLog->debugLevel = 3;
    CaptureStdout out;
    calib.exit();
    ASSERT_FALSE(out.lines().empty());
    EXPECT_EQ(out.lines()[0], "CCalibH: DEBUG: CCalibH: \"exit\" called.");
}

TEST(Calib, DestructorWithoutExitFreesCopiesButDoesNotEndTheLibrary)
{
    Probe probe(kProbe);
    ASSERT_TRUE(probe.ok());
    CLogger host = tracedLogger();
    auto* calib = new CCalibH(kProbe.c_str(), &host);
    const char* args[] = {"offset=1,2,3", "scale=2", "angle=1,2,3"};
    ASSERT_TRUE(calib->init(args, 3));
    CaptureStdout out;
    delete calib; // the leak check of the sanitizer build sees any copy left behind
    EXPECT_EQ(probe->exitCalls, 0);
    EXPECT_EQ(out.lines(), (Lines{calibTrace("\"destructor\" called."), "cal: DEBUG: CDynamicLibH: \"destructor\" called.",
                                  "cal: DEBUG: CDynamicLibH: \"unload\" called."}));
}
