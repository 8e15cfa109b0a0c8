// The simulated tracker: continuous output and the frame producer.
#include "otksim/otk_internal.h"

#include <chrono>
#include <system_error>

using otkint::Op;
using otkint::runOp;
using Lock = std::unique_lock<std::mutex>;

void otksim_dev::publish(std::vector<unsigned char> frame)
{
    published = std::move(frame);
    publishedAt = std::chrono::steady_clock::now();
    ++hostFrameCount;
    ++publishedSerial;
}

bool otksim_dev::publishMotionFrame()
{
    advance();
    if (framesHeld())
        return false;
    if (replay) {
        if (replayState != ReplayState::Playing)
            return false;
        otkint::Replay::Frame frame;
        std::string why;
        const otkint::Replay::Next next = replay->next(frame, why);
        return publishReplayFrame(frame, next, why);
    }
    const std::uint32_t index = nextFrameIndex++;
    const std::uint32_t stations = sendingStations();
    if (!stations)
        return false;
    // An empty frame pads nothing: with no station there is no frame at all.
    std::vector<unsigned char> frame =
        otkint::encodeFrame(sc.motion, stations, dataList, index, rateHz, nanStations, padBytes);
    if (garbled)
        otkint::garbleFrame(frame, 8 + 12 * dataList.size());
    publish(std::move(frame));
    return true;
}

void otksim_dev::makeDueFrames()
{
    if (sc.frames != otkint::Frames::Clock || !streaming)
        return;
    // Frame n is due n frame periods after the start, the first at once.
    const unsigned long long elapsed = otkint::nowMs() - runStartMs;
    const unsigned long long due = elapsed * static_cast<unsigned long long>(rateHz) / 1000 + 1;
    if (due <= runFramesDue)
        return;
    const unsigned long long owed = due - runFramesDue;
    runFramesDue = due;
    // Only the newest is kept, as by a reader that looks less often than
    // frames come; the count tells of every one.
    nextFrameIndex = static_cast<std::uint32_t>(due - 1);
    if (publishMotionFrame())
        hostFrameCount += static_cast<unsigned long>(owed - 1);
}

void otksim_dev::stopProducer(Lock& lock)
{
    streaming = false;
    if (!producer.joinable())
        return;
    stopRequested = true;
    wake.notify_all();
    lock.unlock();
    producer.join();
    lock.lock();
    stopRequested = false;
    producerRunning = false;
}

void otksim_dev::producerLoop()
{
    Lock lock(dataMutex);
    const auto start = std::chrono::steady_clock::now();
    // SetFrameRate is refused while streaming, so the rate holds for this run.
    const long long rate = rateHz;
    for (long long n = 1; !stopRequested; ++n) {
        // A tracker back from a drop sends nothing until started again.
        publishMotionFrame();
        // Deadlines from the start, so the rate does not drift; a late thread
        // catches up with the frames it owes.
        const auto due = start + std::chrono::nanoseconds(n * 1000000000LL / rate);
        wake.wait_until(lock, due, [this] { return stopRequested; });
    }
}

int otksim_ClearPnoBuffer(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::ClearPnoBuffer, [&](Lock&) {
        if (!im.needConnection())
            return false;
        if (im.sc.stale)
            return true; // count and frame stay, as the stale= key promises
        im.published.clear();
        im.hostFrameCount = 0;
        return true;
    });
}

int otksim_StartContPno(otksim_dev* dev, void* /*window: no notification window is supported*/)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::StartContPno, [&](Lock& lock) {
        if (!im.needConnection())
            return false;
        if (im.streaming)
            return im.setResult(otksim::kStreaming, "Already in continuous output mode");
        im.nextFrameIndex = 0;
        if (!im.faultClockStarted) {
            im.faultClockStarted = true;
            im.streamStartMs = otkint::nowMs();
        }
        // The thread of a stream that a drop ended is still to be joined.
        if (im.producer.joinable())
            im.stopProducer(lock);
        im.runStartMs = otkint::nowMs();
        im.runFramesDue = 0;
        if (im.sc.frames == otkint::Frames::Thread) {
            try {
                im.producer = std::thread(im.replay ? &otksim_dev::replayLoop : &otksim_dev::producerLoop, &im);
            } catch (const std::system_error& e) {
                return im.setResult(otksim::kNoThread, std::string("Could not start continuous output: ") + e.what());
            }
            im.producerRunning = true;
        }
        im.streaming = true;
        if (im.sc.trace)
            otkint::trace("OTK: continuous output at %d Hz\r\n", im.rateHz);
        return true;
    });
}

int otksim_StopContPno(otksim_dev* dev)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::StopContPno, [&](Lock& lock) {
        if (!im.needConnection())
            return false;
        im.stopProducer(lock);
        if (im.sc.trace)
            otkint::trace("OTK: continuous output stopped\r\n");
        return true;
    });
}

int otksim_LastHostFrameCount(otksim_dev* dev, unsigned long* count)
{
    otksim_dev& im = *dev;
    return runOp(im, Op::LastHostFrameCount, [&](Lock&) {
        if (!im.needConnection())
            return false;
        im.makeDueFrames();
        *count = im.hostFrameCount;
        return true;
    });
}

int otksim_LastPnoPtr(otksim_dev* dev, unsigned char** buffer, unsigned long* length)
{
    otksim_dev& im = *dev;
    *buffer = nullptr;
    *length = 0;
    return runOp(im, Op::LastPnoPtr, [&](Lock&) {
        if (!im.needConnection())
            return false;
        im.makeDueFrames();
        // A copy of our own: the producer may publish again at any time.
        im.handed = im.published;
        im.handedAt = im.publishedAt;
        im.handedSerial = im.handed.empty() ? 0 : im.publishedSerial;
        *buffer = im.handed.empty() ? nullptr : im.handed.data();
        *length = static_cast<unsigned long>(im.handed.size());
        return true;
    });
}
