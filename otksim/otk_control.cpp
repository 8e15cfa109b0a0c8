// The in-process control API of the simulated tracker, and the registry of
// live devices it works on.
#include "otksim/otk_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

// Guards the device list and the scenario override. Taken before a device's
// dataMutex, never while holding it.
std::mutex g_registryMutex;
struct Registered {
    otksim_dev* dev;
    const void* sdkObject;
};
std::vector<Registered> g_devices; // in construction order
bool g_haveOverride = false;
std::atomic<otksim::ClockFn> g_clock{nullptr};
std::atomic<otksim::SleepFn> g_sleep{nullptr};
std::string g_override;

// Runs fn on a live device's state, keeping the device alive meanwhile.
template <typename Fn> bool withDevice(otksim_dev* dev, Fn fn)
{
    std::lock_guard<std::mutex> registry(g_registryMutex);
    if (!dev || std::none_of(g_devices.begin(), g_devices.end(), [dev](const Registered& r) { return r.dev == dev; }))
        return false;
    std::lock_guard<std::mutex> data(dev->dataMutex);
    fn(*dev);
    return true;
}

} // namespace

namespace otkint {

void registerDevice(otksim_dev* dev, const void* sdkObject)
{
    std::lock_guard<std::mutex> registry(g_registryMutex);
    g_devices.push_back(Registered{dev, sdkObject});
}

void unregisterDevice(otksim_dev* dev)
{
    std::lock_guard<std::mutex> registry(g_registryMutex);
    g_devices.erase(std::remove_if(g_devices.begin(), g_devices.end(),
                                   [dev](const Registered& r) { return r.dev == dev; }),
                    g_devices.end());
}

unsigned long long nowMs()
{
    const otksim::ClockFn clock = g_clock.load();
    if (clock)
        return clock();
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count());
}

void sleepMs(unsigned long ms)
{
    const otksim::SleepFn sleep = g_sleep.load();
    if (sleep)
        sleep(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string currentScenarioText()
{
    std::lock_guard<std::mutex> registry(g_registryMutex);
    if (g_haveOverride)
        return g_override;
    const char* env = std::getenv("OTK_SIM");
    return env ? env : "";
}

} // namespace otkint

namespace otksim {

bool SetScenario(const char* text)
{
    {
        std::lock_guard<std::mutex> registry(g_registryMutex);
        g_haveOverride = text != nullptr;
        g_override = text ? text : "";
    }
    if (!text)
        return true;
    // A bad text is kept all the same, so that the next device is a tracker
    // that cannot be found.
    otkint::Scenario sc = otkint::parseScenario(text);
    if (!sc.valid)
        otkint::reportBadScenario(sc);
    return sc.valid;
}

void SetClock(ClockFn clock) { g_clock.store(clock); }

void SetSleep(SleepFn sleep) { g_sleep.store(sleep); }

Device* LastDevice()
{
    std::lock_guard<std::mutex> registry(g_registryMutex);
    return g_devices.empty() ? nullptr : g_devices.back().dev;
}

Device* DeviceFor(const void* sdkObject)
{
    std::lock_guard<std::mutex> registry(g_registryMutex);
    if (!sdkObject)
        return nullptr;
    for (const Registered& r : g_devices)
        if (r.sdkObject == sdkObject)
            return r.dev;
    return nullptr;
}

bool PushFrame(Device* dev, const unsigned char* data, unsigned long length)
{
    if (!data && length)
        return false;
    bool published = false;
    return withDevice(dev, [&](otksim_dev& im) {
        im.advance();
        if (im.framesHeld())
            return;
        im.publish(std::vector<unsigned char>(data, data + length));
        published = true;
    }) && published;
}

bool PushMotionFrame(Device* dev)
{
    bool published = false;
    return withDevice(dev, [&](otksim_dev& im) { published = im.publishMotionFrame(); }) && published;
}

void MotionAt(Device* dev, int station, double t, float position[3], float angles[3])
{
    otkint::Motion motion = otkint::Motion::Circle;
    int rateHz = 1;
    if (!withDevice(dev, [&](otksim_dev& im) {
            motion = im.sc.motion;
            rateHz = im.rateHz;
        }))
        station = 0; // an unknown device moves nothing
    otkint::motionAt(motion, station, t, rateHz, position, angles);
}

int CallCount(Device* dev, const char* operation)
{
    otkint::Op op;
    if (!otkint::opFromName(operation, op))
        return -1;
    int count = -1;
    withDevice(dev, [&](otksim_dev& im) { count = static_cast<int>(im.calls[static_cast<int>(op)]); });
    return count;
}

bool HandedFrameTime(Device* dev, long long& steadyNanoseconds)
{
    return withDevice(dev, [&](otksim_dev& im) {
        steadyNanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(im.handedAt.time_since_epoch()).count();
    });
}

bool HandedFrame(Device* dev, unsigned char* buffer, unsigned long capacity, unsigned long& length)
{
    bool fits = false;
    return withDevice(dev, [&](otksim_dev& im) {
        length = static_cast<unsigned long>(im.handed.size());
        fits = length <= capacity;
        if (fits && length)
            std::memcpy(buffer, im.handed.data(), length);
    }) && fits;
}

bool GetState(Device* dev, State& out)
{
    return withDevice(dev, [&](otksim_dev& im) {
        std::memset(&out, 0, sizeof out);
        out.connected = im.connected;
        out.streaming = im.streaming;
        out.producerRunning = im.producerRunning;
        im.advance();
        out.stationMap = im.sensors;
        out.activeMap = im.mapSet ? im.activeMap : im.sensors;
        out.frameRate = otkint::rateToEnum(im.rateHz);
        out.dataListCount = static_cast<int>(im.dataList.size());
        for (size_t i = 0; i < im.dataList.size(); ++i)
            out.dataList[i] = im.dataList[i];
        out.bitErrors = im.bitErrors;
        for (int s = 0; s <= 32; ++s) {
            out.hemisphereSet[s] = im.hemisphereCount[s];
            for (int k = 0; k < 3; ++k)
                out.hemisphere[s][k] = im.hemisphere[s][k];
        }
        out.alignmentSet = im.alignmentSet;
        std::memcpy(out.alignment, im.alignment, sizeof out.alignment);
        out.frameCount = im.hostFrameCount;
        out.baud = static_cast<eOvBaudRate>(im.serialSet ? im.serial.baud : 0);
        out.linkOpen = im.linkOpen;
        out.restartPending = im.restartPending;
        out.serialSet = im.serialSet;
        out.parity = im.serial.parity;
        out.flowControl = im.serial.flow;
        out.nextFrameIndex = im.nextFrameIndex;
        out.linkLost = im.drop == otksim_dev::Drop::Lost || im.replayGone;
        out.frozen = im.frozen;
        out.garbled = im.garbled;
        out.nanStations = im.nanStations;
        out.padBytes = im.padBytes;
        out.spikeMs = im.spikeMs;
        out.publishedSerial = im.publishedSerial;
        out.handedSerial = im.handedSerial;
        out.trackerCalls = im.trackerCalls;
        out.replayState = static_cast<int>(im.replayState);
        out.replayFrames = im.replayFrames;
    });
}

} // namespace otksim
