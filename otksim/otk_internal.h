// Internals of the simulated tracker shared by the core's source files: the
// scenario, the motion paths, the frame encoder and the state of one device.
#pragma once

#include "otksim/otksim.h"

#include "support/mcap.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace otkint {

// Every COTKdev operation, in declaration order; names as in OTK.h.
enum class Op {
    SetSerialIF, DiscoverCnx, CnxReady, RestartTracker, Disconnect, GetStationMap, SetStationMap,
    GetBITErrs, ClearBITErrs, MaxSensors, TrackerType, SetFrameRate, SetSHemisphere, ResetSAlignment,
    SetSAlignment, SetSDataList, ClearPnoBuffer, StartContPno, StopContPno, LastHostFrameCount,
    LastPnoPtr, GetLastResult, GetLastResultStr,
    Count
};
const char* opName(Op op);
// Exact, case-sensitive match against the OTK.h names.
bool opFromName(const char* name, Op& out);
// Operations that report success or failure, and so can be made to fail.
bool opFaultable(Op op);

// Injected failure: the op's calls fail with code; remaining < 0 means every call.
struct Fault {
    Op op;
    unsigned code;
    long remaining;
};

enum class Motion { Still, Circle, Counter };

// Where frames come from: a producer thread at the frame rate, the tests'
// own pushes, or made when the SDK is asked for them, as many as the rate
// owes by the simulator's clock (a run on a test's clock without a thread).
enum class Frames { Thread, Manual, Clock };

// A timed fault, in ms after the first start of the stream: from <= t < to,
// with the value it sets meanwhile (a station map, a latency, a byte count).
struct Span {
    unsigned long long from, to;
    std::uint32_t value;
};
const unsigned long long kForever = ~0ull;

// The timed faults of a scenario, each list in time order without overlaps.
struct TimedFaults {
    std::vector<Span> drops;   // the link fails; at the end the tracker is back as if power-cycled
    std::vector<Span> freezes; // no frame is made
    std::vector<Span> garbles; // frames come with a broken station header
    std::vector<Span> plugs;   // the sensors present: value is the station map
    std::vector<Span> spikes;  // value: ms that each call to the tracker takes on top of latency=
    std::vector<Span> nans;    // value: stations that send NaN as their position x
    std::vector<Span> pads;    // value: zero bytes after the records of every frame

    bool empty() const
    {
        return drops.empty() && freezes.empty() && garbles.empty() && plugs.empty() && spikes.empty() &&
               nans.empty() && pads.empty();
    }
};

// chaos=SEED: a random schedule of every timed fault, made from the seed a
// little ahead of the simulator's clock, for as long as the run lasts.
class ChaosSchedule {
public:
    void begin(std::uint64_t seed, std::uint32_t stations, int maxSensors);
    bool on() const { return m_on; }
    // Adds every episode that begins before untilMs.
    void extend(TimedFaults& faults, unsigned long long untilMs);

private:
    std::uint64_t next();
    // Uniform in [low, high].
    unsigned long long between(unsigned long long low, unsigned long long high);
    // Spread over octaves from low to high, short ones as likely as long ones.
    unsigned long long octaves(unsigned long long low, unsigned long long high);

    bool m_on = false;
    std::uint64_t m_state = 0;
    std::uint32_t m_stations = 0;
    int m_maxSensors = 0;
    unsigned long long m_at = 0;     // when the next episode begins
    unsigned long long m_free[7] = {}; // per kind, when its last span ends
};

struct Scenario {
    bool valid = true;
    std::string error; // the bad pair and why, for the report and the result text
    eOvTrackerType type = OV_TRACKER_TARSIS;
    int maxSensors = 16;
    std::uint32_t stations = 0xf;
    int rateHz = 120;
    bool bitErrors = false;
    Motion motion = Motion::Circle;
    int restartAttempts = 3;
    std::vector<Fault> faults;
    Frames frames = Frames::Thread;
    bool trace = false;
    TimedFaults timed;
    bool chaos = false;
    std::uint64_t chaosSeed = 0;
    // The frame count and the newest frame survive ClearPnoBuffer.
    bool stale = false;
    long footprintBytes = 0;
    // The time a call that talks to the tracker takes, and inside a drop the
    // time it waits before it fails (0: as long as any other call).
    long latencyMs = 0, linkTimeoutMs = 0;
    std::uint32_t nanStations = 0; // send NaN as their position x
    long padBytes = 0;             // after the records of every frame
    // A capture whose tracker this one becomes, and how it is played.
    std::string replayPath;
    double replaySpeed = 1.0;
    bool replayLoop = false;
};

// A capture of the device (tracker/capture.h) played back: the tracker it
// was taken from, and its frames with their counts and times.
class Replay {
public:
    struct Tracker {
        eOvTrackerType type = OV_TRACKER_TARSIS;
        int maxSensors = 0;
        std::uint32_t stations = 0;
        int rateHz = 0; // 0: the capture does not know it
    };
    struct Frame {
        std::vector<unsigned char> bytes;
        unsigned long count = 0;     // to publish: the recorded count, moved on by each loop
        std::uint64_t offsetNs = 0;  // from the capture's first frame, at the replay's speed
    };
    enum class Next { Frame, End, Cut };

    // Reads the capture up to its "tarsis" metadata. The error names the
    // file, the byte and what was wrong.
    bool open(const std::string& path, double speed, bool loop, std::string& error);
    const Tracker& tracker() const { return m_tracker; }
    // The next frame; End after the last one (never with loop), Cut when the
    // file ends early or is damaged there, why saying where and what.
    Next next(Frame& out, std::string& why);
    const std::string& path() const { return m_path; }

private:
    bool restart(std::string& why);

    std::string m_path;
    double m_speed = 1.0;
    bool m_loop = false;
    Tracker m_tracker;
    mcap::FileSource m_source;
    std::unique_ptr<mcap::Reader> m_reader;
    std::uint16_t m_frameChannel = 0;
    bool m_haveFirst = false;
    std::uint64_t m_firstTime = 0, m_lastTime = 0;
    unsigned long m_firstCount = 0, m_lastCount = 0;
    unsigned long m_passFrames = 0;
    std::uint64_t m_loopTimeNs = 0;
    unsigned long m_loopCount = 0;
};

// Parses scenario text (null or blank gives the defaults). On a bad pair the
// result is the default scenario with valid false and error naming the pair.
Scenario parseScenario(const char* text);
// Writes the scenario's complaint to standard error.
void reportBadScenario(const Scenario& sc);

// Result texts of the codes the SDK knows, "Error 0x%08X" for others.
std::string textForCode(unsigned code);

// rateHz turns t back into the frame index that the counter motion needs.
void motionAt(Motion motion, int station, double t, int rateHz, float position[3], float angles[3]);

// One frame: a record per station in the mask, in station order. Each record
// is an 8-byte header (see otksim.h) followed by three floats per data item;
// the stations of nanStations carry NaN as their position x, and padBytes
// zero bytes follow the records.
std::vector<unsigned char> encodeFrame(Motion motion, std::uint32_t stations, const std::vector<int>& items,
                                       std::uint32_t frameIndex, int rateHz, std::uint32_t nanStations = 0,
                                       long padBytes = 0);
// A frame whose station headers are broken: no record names a station.
void garbleFrame(std::vector<unsigned char>& frame, std::size_t recordSize);

// Devices alive with the SDK objects in front of them, for otksim::LastDevice,
// otksim::DeviceFor and the control calls.
void registerDevice(otksim_dev* dev, const void* sdkObject);
void unregisterDevice(otksim_dev* dev);
// The scenario text a new device uses: SetScenario's, else OTK_SIM's.
std::string currentScenarioText();

int rateToEnum(int rateHz);

// The simulator's clock in ms: steady time, or the function set by SetClock.
unsigned long long nowMs();
// Waits ms: really, or through the function set by SetSleep.
void sleepMs(unsigned long ms);
// Operations that need an answer from the tracker, and so take the link's time.
bool opTalksToTracker(Op op);

// printf-style text to the trace sink, as OvDebug::OVDOUT hands it over.
void trace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace otkint

// One simulated tracker: the device behind an SDK object.
struct otksim_dev {
    // What an operation does after the injected faults were looked at.
    enum class Gate { Run, Fail, RunUnconfirmed };

    explicit otksim_dev(const otkint::Scenario& scenario);

    // Both locks below are taken in this order. callMutex keeps one API call
    // at a time (so the producer thread is started and joined consistently);
    // dataMutex guards everything the producer and the control calls share.
    std::mutex callMutex;
    std::mutex dataMutex;
    std::condition_variable wake;

    const otkint::Scenario sc;
    std::vector<otkint::Fault> faults;
    unsigned long calls[static_cast<int>(otkint::Op::Count)] = {};

    unsigned lastCode = 0;
    std::string lastText;

    // The host side holds the link from a successful discovery to Disconnect;
    // the tracker answers on it only while connected (not while restarting).
    bool linkOpen = false;
    bool connected = false;
    int restartPending = 0;
    unsigned cnxCode = 0; // why CnxReady reports no connection
    std::string cnxText;

    bool serialSet = false;
    otksim_serial serial;

    // Tracker settings, back to their power-on values on restart. Until a
    // station map is set every sensor sends, also one plugged in later.
    bool mapSet = false;
    std::uint32_t activeMap = 0;
    int rateHz = 0;
    std::vector<int> dataList;
    std::uint32_t bitErrors = 0;
    int hemisphereCount[33] = {};
    float hemisphere[33][3] = {};
    bool alignmentSet = false;
    float alignment[3][3] = {};

    bool streaming = false;
    bool producerRunning = false;
    bool stopRequested = false;
    std::thread producer;
    std::uint32_t nextFrameIndex = 0;
    std::vector<unsigned char> published;
    unsigned long hostFrameCount = 0;
    unsigned long long publishedSerial = 0; // frames made over the device's life
    unsigned long long handedSerial = 0;    // of the frame LastPnoPtr gave out
    unsigned long long trackerCalls = 0;    // calls that talked to the tracker
    std::vector<unsigned char> handed; // what LastPnoPtr gave out; caller thread only
    // frames=clock: when the stream started, and the frames owed so far.
    unsigned long long runStartMs = 0;
    unsigned long long runFramesDue = 0;
    std::chrono::steady_clock::time_point publishedAt; // of the newest frame
    std::chrono::steady_clock::time_point handedAt;    // publish time of handed

    // The timed faults run on the simulator's clock from the first stream start.
    enum class Drop { Waiting, Lost, Over };
    bool faultClockStarted = false;
    unsigned long long streamStartMs = 0;
    otkint::TimedFaults timed; // what is still to come
    otkint::ChaosSchedule chaos;
    bool anyTimed = false; // any timed fault at all: else advance has nothing to do
    Drop drop = Drop::Waiting;
    bool frozen = false;
    bool garbled = false;
    std::uint32_t sensors = 0;     // stations with a sensor now
    std::uint32_t nanStations = 0; // in force now
    long padBytes = 0;
    long spikeMs = 0;

    // The helpers below expect dataMutex held.
    void powerOn();
    Gate enter(otkint::Op op);
    int leave(Gate gate, bool ok);
    bool setResult(unsigned code, const std::string& text); // returns false for use in failures
    bool needConnection();
    // The time op takes on the link (latency=, linktimeout= inside a drop),
    // waited with dataMutex released so that frames keep coming meanwhile.
    void takeTime(otkint::Op op, std::unique_lock<std::mutex>& lock);
    // Moves the timed faults to the simulator's present time.
    void advance();
    // No frame is published now: the link is lost, the stream frozen, or the
    // tracker came back from a drop and has not been started again.
    bool framesHeld() const
    {
        return drop == Drop::Lost || frozen || (drop == Drop::Over && !streaming) || replayGone;
    }
    bool linkLost();
    void publish(std::vector<unsigned char> frame);
    bool publishMotionFrame();
    std::uint32_t sendingStations() const { return mapSet ? sensors & activeMap : sensors; }
    // frames=clock: makes the frames the rate owes by now; the newest is kept.
    void makeDueFrames();
    // At the end of a drop: the tracker is back as if power-cycled.
    void backFromDrop();
    // Called with callMutex held and dataMutex held by lock; releases the
    // latter while joining the producer.
    void stopProducer(std::unique_lock<std::mutex>& lock);
    void producerLoop();

    // Replay of a capture (replay=): the frames come from it instead of the
    // motion paths. replayError keeps a capture that cannot be replayed from
    // being found; a capture that ends early leaves the tracker gone, as a
    // lost link would.
    std::unique_ptr<otkint::Replay> replay;
    std::string replayError;
    enum class ReplayState { None, Playing, Ended, EndedEarly };
    ReplayState replayState = ReplayState::None;
    unsigned long replayFrames = 0;
    bool replayGone = false;
    std::uint64_t replayBaseNs = 0; // offset of the first frame of this stream
    bool replayBaseSet = false;
    // Publishes the replay's next frame, or ends the replay; false when none.
    bool publishReplayFrame(otkint::Replay::Frame& frame, otkint::Replay::Next next, const std::string& why);
    void replayLoop();
};

namespace otkint {

// The frame of every faultable operation: one call at a time, the injected
// faults first, then body(lock) with dataMutex held by lock; body reports a
// failure by setting the result and returning false.
template <typename Body> int runOp(otksim_dev& im, Op op, Body body)
{
    std::lock_guard<std::mutex> call(im.callMutex);
    std::unique_lock<std::mutex> lock(im.dataMutex);
    im.takeTime(op, lock);
    const otksim_dev::Gate gate = im.enter(op);
    if (gate == otksim_dev::Gate::Fail)
        return 0;
    const bool ok = body(lock);
    return im.leave(gate, ok);
}

} // namespace otkint
