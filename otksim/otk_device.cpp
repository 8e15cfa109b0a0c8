// The simulated tracker: its state, result codes, the connection and the
// queries that need no tracker setting.
#include "otksim/otk_internal.h"

using otkint::Op;
using otkint::runOp;
using Gate = otksim_dev::Gate;

otksim_dev::otksim_dev(const otkint::Scenario& scenario)
    : sc(scenario), faults(scenario.faults), lastText(otkint::textForCode(0)),
      cnxCode(otksim::kNotConnected), cnxText("Tracker not connected: no discovery yet"),
      serial{OV_BAUD_115200, OV_PARITY_NONE, 0}, timed(scenario.timed), sensors(scenario.stations),
      nanStations(scenario.nanStations), padBytes(scenario.padBytes)
{
    if (sc.chaos)
        chaos.begin(sc.chaosSeed, sc.stations, sc.maxSensors);
    anyTimed = sc.chaos || !timed.empty();
    powerOn();
}

void otksim_dev::powerOn()
{
    mapSet = false;
    activeMap = sensors;
    rateHz = sc.rateHz;
    dataList.clear();
    bitErrors = sc.bitErrors ? 0x5 : 0;
    for (int s = 0; s <= 32; ++s) {
        hemisphereCount[s] = 0;
        for (int k = 0; k < 3; ++k)
            hemisphere[s][k] = 0.0f;
    }
    alignmentSet = false;
    for (auto& v : alignment)
        for (float& f : v)
            f = 0.0f;
}

namespace {

// The value of the span in force at t, or otherwise; spans that have ended
// are dropped as time passes.
std::uint32_t valueAt(std::vector<otkint::Span>& spans, unsigned long long t, std::uint32_t otherwise)
{
    if (spans.empty())
        return otherwise;
    std::size_t ended = 0;
    while (ended < spans.size() && t >= spans[ended].to)
        ++ended;
    spans.erase(spans.begin(), spans.begin() + static_cast<std::ptrdiff_t>(ended));
    return !spans.empty() && t >= spans.front().from ? spans.front().value : otherwise;
}

// How far ahead of the clock the chaos schedule is made.
const unsigned long long kChaosAheadMs = 60000;

} // namespace

void otksim_dev::backFromDrop()
{
    // Back like a power-cycled tracker: the old connection is gone.
    drop = Drop::Over;
    streaming = false;
    connected = false;
    restartPending = 0;
    cnxCode = otksim::kNotConnected;
    cnxText = "Tracker not connected: link was lost";
    powerOn();
}

void otksim_dev::advance()
{
    // Runs on every call and every frame: a scenario without timed faults
    // stays as it was made.
    if (!faultClockStarted || !anyTimed)
        return;
    const unsigned long long t = otkint::nowMs() - streamStartMs;
    if (chaos.on())
        chaos.extend(timed, t + kChaosAheadMs);
    std::vector<otkint::Span>& drops = timed.drops;
    while (!drops.empty() && t >= drops.front().to) {
        // Every drop that has ended by now, each once, a late call or not.
        drops.erase(drops.begin());
        backFromDrop();
    }
    if (!drops.empty() && t >= drops.front().from)
        drop = Drop::Lost;
    frozen = valueAt(timed.freezes, t, 0) != 0;
    garbled = valueAt(timed.garbles, t, 0) != 0;
    sensors = valueAt(timed.plugs, t, sc.stations);
    nanStations = valueAt(timed.nans, t, sc.nanStations);
    padBytes = static_cast<long>(valueAt(timed.pads, t, static_cast<std::uint32_t>(sc.padBytes)));
    spikeMs = static_cast<long>(valueAt(timed.spikes, t, 0));
}

bool otksim_dev::linkLost()
{
    if (drop != Drop::Lost && !replayGone)
        return false;
    connected = false;
    return !setResult(otksim::kLinkLost, otkint::textForCode(otksim::kLinkLost));
}

Gate otksim_dev::enter(Op op)
{
    advance();
    ++calls[static_cast<int>(op)];
    if (otkint::opTalksToTracker(op))
        ++trackerCalls;
    for (otkint::Fault& f : faults) {
        if (f.op != op || f.remaining == 0)
            continue;
        if (f.remaining > 0)
            --f.remaining;
        if (f.code == OV_ERR_CMD_UNCONFIRMED)
            return Gate::RunUnconfirmed;
        setResult(f.code, otkint::textForCode(f.code));
        return Gate::Fail;
    }
    return Gate::Run;
}

int otksim_dev::leave(Gate gate, bool ok)
{
    if (!ok)
        return 0;
    if (gate == Gate::RunUnconfirmed) {
        // The simulated command did take effect; only the answer got lost.
        setResult(OV_ERR_CMD_UNCONFIRMED, otkint::textForCode(OV_ERR_CMD_UNCONFIRMED));
        return 0;
    }
    setResult(0, otkint::textForCode(0));
    return 1;
}

bool otksim_dev::setResult(unsigned code, const std::string& text)
{
    lastCode = code;
    lastText = text;
    if (code && sc.trace)
        otkint::trace("OTK: 0x%08X %s\r\n", code, text.c_str());
    return false;
}

void otksim_dev::takeTime(Op op, std::unique_lock<std::mutex>& lock)
{
    if (!otkint::opTalksToTracker(op))
        return;
    advance();
    const long ms = drop == Drop::Lost && sc.linkTimeoutMs ? sc.linkTimeoutMs : sc.latencyMs + spikeMs;
    if (ms <= 0)
        return;
    lock.unlock();
    otkint::sleepMs(static_cast<unsigned long>(ms));
    lock.lock();
}

bool otksim_dev::needConnection()
{
    if (linkLost())
        return false;
    if (connected)
        return true;
    if (drop == Drop::Over && linkOpen)
        return setResult(otksim::kNotConnected, "Tracker not connected: link was lost");
    return setResult(otksim::kNotConnected,
                     linkOpen ? "Tracker not connected: restarting" : "Tracker not connected");
}

otksim_dev* otksim_dev_create(void* sdkObject)
{
    otkint::Scenario sc = otkint::parseScenario(otkint::currentScenarioText().c_str());
    if (!sc.valid)
        otkint::reportBadScenario(sc);
    // A replayed capture decides which tracker this is.
    std::unique_ptr<otkint::Replay> replay;
    std::string replayError;
    if (sc.valid && !sc.replayPath.empty()) {
        replay.reset(new otkint::Replay);
        if (replay->open(sc.replayPath, sc.replaySpeed, sc.replayLoop, replayError)) {
            const otkint::Replay::Tracker& t = replay->tracker();
            sc.type = t.type;
            sc.maxSensors = t.maxSensors;
            sc.stations = t.stations;
            sc.rateHz = t.rateHz ? t.rateHz : t.type == OV_TRACKER_BREVIK ? 60 : 120;
        } else {
            replay.reset();
        }
    }
    if (sdkObject) {
        // Bytes that vary, so that no guard pattern a caller fills in matches them.
        unsigned char* p = static_cast<unsigned char*>(sdkObject);
        for (long i = 0; i < sc.footprintBytes; ++i)
            p[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    otksim_dev* dev = new otksim_dev(sc);
    dev->replayError = replayError;
    if (replay) {
        dev->replay = std::move(replay);
        dev->replayState = otksim_dev::ReplayState::Playing;
    }
    otkint::registerDevice(dev, sdkObject);
    return dev;
}

void otksim_dev_destroy(otksim_dev* dev)
{
    if (!dev)
        return;
    otkint::unregisterDevice(dev);
    {
        std::lock_guard<std::mutex> call(dev->callMutex);
        std::unique_lock<std::mutex> lock(dev->dataMutex);
        dev->stopProducer(lock);
        // What a long run served, to hold against what the host received.
        if (dev->sc.trace && dev->publishedSerial)
            otkint::trace("OTK: %lu frames made\r\n", static_cast<unsigned long>(dev->publishedSerial));
    }
    delete dev;
}

int otksim_SetSerialIF(otksim_dev* dev, const otksim_serial* ser)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::SetSerialIF, [&](std::unique_lock<std::mutex>&) {
        if (!ser)
            return im.setResult(otksim::kBadArgument, "Invalid argument: no serial setting");
        const int baud = ser->baud, parity = ser->parity;
        if (baud < OV_BAUD_2400 || baud > OV_BAUD_115200)
            return im.setResult(otksim::kBadArgument, "Invalid argument: baud rate " + std::to_string(baud));
        if (parity < OV_PARITY_NONE || parity > OV_PARITY_EVEN)
            return im.setResult(otksim::kBadArgument, "Invalid argument: parity " + std::to_string(parity));
        im.serial = *ser;
        im.serialSet = true;
        return true;
    });
}

int otksim_DiscoverCnx(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    std::lock_guard<std::mutex> call(im.callMutex);
    std::unique_lock<std::mutex> data(im.dataMutex);
    im.takeTime(Op::DiscoverCnx, data);
    const Gate gate = im.enter(Op::DiscoverCnx);
    int ok = 0;
    if (gate != Gate::Fail) {
        bool found = false;
        if (im.linkLost()) {
            // no answer: the result says why
        } else if (!im.sc.valid) {
            im.setResult(otksim::kBadScenario, "No tracker found: bad simulator scenario " + im.sc.error);
        } else if (!im.replayError.empty()) {
            im.setResult(otksim::kBadScenario, im.replayError);
        } else if (im.restartPending > 0) {
            --im.restartPending;
            im.setResult(OV_ERR_NO_TRACKER, "No tracker answered discovery: tracker restarting");
        } else {
            im.linkOpen = im.connected = true;
            found = true;
        }
        ok = im.leave(gate, found);
    }
    // CnxReady repeats why this attempt found nothing.
    if (!im.connected) {
        im.cnxCode = im.lastCode;
        im.cnxText = im.lastText;
    }
    if (!ok)
        return OV_COMM_NONE;
    return im.serialSet ? OV_COMM_SERIAL : OV_COMM_USB;
}

int otksim_CnxReady(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::CnxReady, [&](std::unique_lock<std::mutex>&) {
        if (im.linkLost())
            return false;
        return im.connected || im.setResult(im.cnxCode, im.cnxText);
    });
}

int otksim_RestartTracker(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::RestartTracker, [&](std::unique_lock<std::mutex>& lock) {
        if (!im.needConnection())
            return false;
        im.stopProducer(lock);
        im.connected = false;
        im.restartPending = im.sc.restartAttempts;
        im.cnxCode = OV_ERR_NO_TRACKER;
        im.cnxText = "Tracker restarting";
        im.powerOn();
        return true;
    });
}

int otksim_Disconnect(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::Disconnect, [&](std::unique_lock<std::mutex>& lock) {
        if (!im.linkOpen)
            return im.setResult(otksim::kNotConnected, "Tracker not connected");
        im.stopProducer(lock);
        im.linkOpen = im.connected = false;
        im.cnxCode = otksim::kNotConnected;
        im.cnxText = "Tracker not connected: disconnected";
        return true;
    });
}

int otksim_MaxSensors(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    std::lock_guard<std::mutex> call(im.callMutex);
    std::lock_guard<std::mutex> data(im.dataMutex);
    im.enter(Op::MaxSensors);
    if (!im.needConnection())
        return 0;
    im.leave(Gate::Run, true);
    return im.sc.maxSensors;
}

int otksim_TrackerType(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    std::lock_guard<std::mutex> call(im.callMutex);
    std::lock_guard<std::mutex> data(im.dataMutex);
    im.enter(Op::TrackerType);
    // The enum has no "unknown": without a connection the scenario's model is
    // returned next to the failure result.
    if (im.needConnection())
        im.leave(Gate::Run, true);
    return im.sc.type;
}

unsigned otksim_GetLastResult(otksim_dev* dev)
{
    std::lock_guard<std::mutex> data(dev->dataMutex);
    ++dev->calls[static_cast<int>(Op::GetLastResult)];
    return dev->lastCode;
}

const char* otksim_GetLastResultStr(otksim_dev* dev)
{
    std::lock_guard<std::mutex> data(dev->dataMutex);
    ++dev->calls[static_cast<int>(Op::GetLastResultStr)];
    return dev->lastText.c_str();
}
