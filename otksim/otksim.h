// Control API of the simulated tracker SDK, for tests and tools in the same
// process. The device itself never uses it: it talks to the tracker only
// through COTKdev.
//
// The simulation lives in the core library otksim; the SDK stand-ins are thin
// shells over its flat C interface (otksim/otksim_c.h). The calls below take
// the core's own device, which DeviceFor finds from the address of the SDK
// object in front of it, whichever stand-in made that object.
#pragma once

#include "otksim/otksim_c.h"
#include "otksim/OTK.h"

namespace otksim {

// One simulated tracker (opaque).
typedef ::otksim_dev Device;

// How the simulated tracker behaves, chosen by a scenario: blank- or
// semicolon-separated key=value pairs (keys and words ignore case):
//   type=tarsis|brevik       model (default tarsis)
//   max=N                    sensors supported, 1..32 (default 16 tarsis, 2 brevik)
//   stations=HEX             stations that have a sensor (default f tarsis, 3 brevik);
//                            bits at or above max are allowed and reported as they are
//   rate=60|120|240          power-on frame rate (tarsis 120 or 240, default 120; brevik 60)
//   bit=clear|errors         power-on built-in-test result (errors: 0x5)
//   motion=still|circle|counter  station paths, see MotionAt (default circle)
//   restart=N                failed discoveries after RestartTracker (default 3)
//   fail=OP:CODE[:COUNT],... the first COUNT calls of operation OP (name as in
//                            OTK.h, case-sensitive) fail with hex CODE; every call
//                            without COUNT. Entries for one OP are used in turn.
//   frames=manual|thread|clock  manual: StartContPno starts no producer thread;
//                            clock: no thread either, but the frames the rate
//                            owes by the simulator's clock (see SetClock) are
//                            made whenever the frame count or the frame is
//                            asked for, the newest kept and every one counted
//   trace=on|off             the simulator's own OVDOUT lines (default off, so
//                            captured device traces hold only the device's lines);
//                            the last one, when the SDK object goes, counts the
//                            frames made
//   drop=AFTER_MS:FOR_MS     AFTER_MS after the stream first started the link
//                            fails for FOR_MS: every call that needs the tracker
//                            (and DiscoverCnx, CnxReady) fails with kLinkLost and
//                            no frame is published. Then the tracker is back as
//                            if power-cycled: not connected, power-on settings,
//                            not streaming, until discovered, configured and
//                            started again.
//   freeze=AFTER_MS:FOR_MS   AFTER_MS after the stream first started no frame
//                            is published for FOR_MS; no call fails.
//   footprint=BYTES          the COTKdev constructor writes BYTES bytes (0 to
//                            33554432, default 0) from the object's own address,
//                            as an SDK whose object is that big would: for
//                            checking the room a caller reserves for the object.
//   latency=MS               every call that talks to the tracker (all but
//                            SetSerialIF, CnxReady, Disconnect, MaxSensors,
//                            TrackerType, ClearPnoBuffer, LastHostFrameCount,
//                            LastPnoPtr and the last-result reads, which the
//                            SDK answers itself) takes MS (0 to 60000) before
//                            it returns
//   linktimeout=MS           inside a drop=, such a call waits MS (0 to 60000)
//                            before it fails, as a serial SDK waits for an
//                            answer (0: latency=, as outside the drop)
//   nan=HEX                  the stations of the map send NaN as their
//                            position x in every frame the tracker makes
//   pad=N                    every frame the tracker makes carries N zero
//                            bytes (0 to 4096) after its records
//   garble=AFTER_MS:FOR_MS   AFTER_MS after the stream first started, frames
//                            keep coming for FOR_MS but with broken station
//                            headers: every record names station 0
//   plug=AFTER_MS:MAP[,...]  AFTER_MS after the stream first started the
//                            stations with a sensor become MAP (hexadecimal),
//                            until the next entry's time: sensors plugged in
//                            or pulled out. Until SetStationMap the tracker
//                            sends every sensor it has, a new one too.
//   stale=on|off             ClearPnoBuffer keeps the frame count and the
//                            newest frame, so after a loss LastPnoPtr hands
//                            out the frame from before it until a new one is
//                            made (default off)
//   chaos=SEED               a random schedule of every timed fault (drop,
//                            freeze, garble, plug, latency spikes, NaN
//                            stations, padding) drawn with its timing from
//                            SEED (0 to 999999999) for as long as the run
//                            lasts; the same seed gives the same schedule.
//                            Not with drop, freeze, garble or plug.
//   replay=PATH              the tracker is the one of a capture the device
//                            wrote (tracker/capture.h): model, sensors
//                            supported and station map from its metadata;
//                            each frame is published as recorded, at its
//                            recorded time from the first (the producer
//                            thread) or one per PushMotionFrame, with its
//                            recorded count. A capture cut short plays to
//                            its last whole frame, then says so on stderr
//                            and the tracker is gone as in a drop that never
//                            ends. A file that cannot be replayed makes
//                            discovery fail, naming file, byte and reason.
//                            PATH may be in double quotes (blanks, ';').
//   speed=X                  replay at X times the recorded pace (above 0,
//                            up to 1000; default 1)
//   loop                     replay from the start again after the end, the
//                            counts and times going on (also loop=on|off)
// The timed faults run on the simulator's clock (see SetClock) from the first
// start of the stream; drop and freeze also hold back the frames of PushFrame
// and PushMotionFrame, and garble, plug, nan and pad shape those of
// PushMotionFrame. The waits of latency and linktimeout go through SetSleep.
// PushFrame's frames are sent as given.
// A bad pair is reported on stderr and the tracker is then never found.
//
// Operation rules worth knowing:
// - Every call sets the last result; 0 and "No error" on success.
// - A call on a tracker that is not connected fails with kNotConnected, except
//   SetSerialIF, DiscoverCnx, CnxReady and Disconnect. CnxReady then reports
//   why there is no connection (for example the last discovery's code).
//   Disconnect succeeds while the link is open, even after RestartTracker.
//   MaxSensors then returns 0 and TrackerType the scenario's model.
// - An injected fault is taken before anything else and the call has no
//   effect, except with 0x20040003: the call then runs, takes effect, and
//   still reports 0x20040003 (its own failure wins if it fails by itself).
//   An injected DiscoverCnx failure is not one of a restart's N attempts.
// - RestartTracker drops the connection, stops streaming and restores the
//   power-on settings (station map, frame rate, empty data list, BIT result,
//   hemisphere, alignment); the next N DiscoverCnx calls fail with 0x20040001.
// - GetStationMap reports the stations that have a sensor AND are active.
//   SetStationMap makes a map active; one selecting a station without a
//   sensor (or a bit above 31) fails with kNoSensor and changes nothing.
// - SetFrameRate: tarsis accepts 3 (120 Hz) and 4 (240 Hz), brevik only 2
//   (60 Hz); refused with kNotSupported, and while streaming with kStreaming.
// - SetSDataList, ResetSAlignment and SetSAlignment act on all stations at
//   once (station -1); a single station gives kNotSupported. Data items may be
//   2 and 4 in any order. The alignment's two points must span a plane.
//   Hemisphere and alignment are stored but do not change the output.
//
// Frames: one record per station that has a sensor and is active, in station
// order; a record is an 8-byte header followed by three little-endian floats
// per item of the output data list, in list order (item 2: position in
// inches, item 4: azimuth, elevation, roll in degrees). With the list 2, 4 a
// record is 32 bytes: position at 8/12/16, angles at 20/24/28. Before a list
// is set (power-on, restart) the list is empty and records are header only.
// Header: byte 0 'P' (0x50), byte 1 record size, byte 2 station (1-based),
// byte 3 number of items, bytes 4-7 the frame index (uint32, little-endian).
// With no station to send, nothing is published. Frame index n has time
// t = n / rate; it restarts at 0 with each StartContPno. LastHostFrameCount
// counts frames published since the last ClearPnoBuffer;
// ClearPnoBuffer also forgets the newest frame (not with stale=on).

// Result codes of the simulator's own, next to those of eOvErrCode.
enum ResultCode : unsigned {
    kNotConnected = 0x20010001, // no connection to the tracker
    kBadArgument = 0x20010002,  // a value the tracker cannot take
    kNotSupported = 0x20010003, // the model does not offer it
    kNoSensor = 0x20010004,     // station map selects a station without a sensor
    kStreaming = 0x20010005,    // not allowed in continuous output mode
    kBadScenario = 0x20010006,  // the simulator's scenario is invalid: no tracker
    kNoThread = 0x20010007,     // the frame producer could not be started
    kLinkLost = 0x20010008,     // the link to the tracker failed (drop=)
};

// Scenario text in the form of the OTK_SIM environment variable. Devices
// constructed afterwards use it instead of the environment; nullptr goes back
// to the environment. Returns false (and reports on stderr) for a bad text.
OTKSIM_API bool SetScenario(const char* text);

// The device of the most recently constructed COTKdev that is still alive, or
// nullptr.
OTKSIM_API Device* LastDevice();

// The device of the live COTKdev at sdkObject (the object's address, from any
// stand-in), or nullptr.
OTKSIM_API Device* DeviceFor(const void* sdkObject);

// Where the text of every OvDebug::OVDOUT call goes, exactly as formatted
// (tests capture it). A null sink restores the default, which writes to
// standard error when OTK_TRACE=1 is set and discards the text otherwise.
typedef void (*TraceSink)(const char* text, void* context);
OTKSIM_API void SetTraceSink(TraceSink sink, void* context);

// The simulator's clock in ms for the timed faults; nullptr restores steady
// time. Tests that drive time themselves point it at their own clock.
typedef unsigned long long (*ClockFn)();
OTKSIM_API void SetClock(ClockFn clock);

// How the simulator waits out latency= and linktimeout= (ms); nullptr
// restores real sleeping. Tests that drive time themselves move their clock.
typedef void (*SleepFn)(unsigned long ms);
OTKSIM_API void SetSleep(SleepFn sleep);

// Publishes one frame by hand, exactly as the producer thread would: the frame
// count rises by one and LastPnoPtr returns these bytes. Works whether or not
// streaming was started; with the scenario key frames=manual, StartContPno
// starts no thread, so tests control every frame.
// A null pointer with length 0 publishes an empty frame. False when a timed
// fault holds frames back (nothing is published then).
OTKSIM_API bool PushFrame(Device* dev, const unsigned char* data, unsigned long length);
// Publishes the frame the producer would publish next (motion paths, station
// map, output data list) and advances the frame index. False when there is
// no station to send (the index still advances, as with the producer).
OTKSIM_API bool PushMotionFrame(Device* dev);

// The documented motion of a station (1-based) at time t seconds, in inches
// and degrees, for the scenario's motion (still, circle or counter):
//   still:  position (12 s, 6, -20), angles (5 s, -10, 20), whatever t.
//   circle: phase p = 2 pi * 0.25 Hz * t; position (12 s + 10 cos p,
//           10 sin p, -20), a circle of radius 10 in. around (12 s, 0, -20);
//           azimuth = p in degrees + 90 (the direction of travel), wrapped
//           into [-180, 180); elevation 0, roll 0.
//   counter: frame index n = t * rate rounded, c = n mod 1000; position
//           (1000 s + c, 2 c, -3 c), angles (0.1 c - 50, -0.05 c, 0.15 c - 75):
//           six different functions of one count, for checking that a
//           record read elsewhere was written whole.
// Computed in double and rounded to float, exactly as the frames carry it.
// Stations outside 1..32 give zeros.
OTKSIM_API void MotionAt(Device* dev, int station, double t, float position[3], float angles[3]);

// Calls of a named SDK operation (its name as in OTK.h) on this device; -1
// for an unknown name or device.
OTKSIM_API int CallCount(Device* dev, const char* operation);

// When the frame that LastPnoPtr last returned was published, in nanoseconds
// of std::chrono::steady_clock: how old a record written from it is.
OTKSIM_API bool HandedFrameTime(Device* dev, long long& steadyNanoseconds);

struct State {
    int connected;
    int streaming;
    int producerRunning;
    unsigned long stationMap;  // stations with a sensor
    unsigned long activeMap;   // station map set on the tracker
    int frameRate;             // eOvFrameRate in force
    int dataListCount;
    int dataList[16];
    unsigned long bitErrors;
    int hemisphereSet[33];     // per station 1..32; index 0 for "all" (-1); counts commands
    float hemisphere[33][3];
    int alignmentSet;          // SetSAlignment accepted for all stations
    float alignment[3][3];
    unsigned long frameCount;
    eOvBaudRate baud;          // of the serial setting; 0 before SetSerialIF
    // Added after the fields above.
    int linkOpen;              // host side holds a link (till Disconnect)
    int restartPending;        // discoveries still to fail after a restart
    int serialSet;
    int parity;
    int flowControl;
    unsigned long nextFrameIndex;
    int linkLost;              // inside a drop=
    int frozen;                // inside a freeze=
    // Added after the fields above.
    int garbled;               // inside a garble=
    unsigned long nanStations; // sending NaN now
    long padBytes;             // after the records of each frame now
    long spikeMs;              // on top of latency= now
    unsigned long long publishedSerial; // frames made over the device's life
    unsigned long long handedSerial;    // of the frame LastPnoPtr last gave out
    unsigned long long trackerCalls;    // calls that talked to the tracker (see latency=)
    int replayState;           // 0 no replay, 1 playing, 2 ended, 3 ended early (the tracker is gone)
    unsigned long replayFrames; // frames of the capture published
};
OTKSIM_API bool GetState(Device* dev, State& out);

// A copy of the frame LastPnoPtr last gave out (its serial is
// State::handedSerial). False when it is longer than capacity.
OTKSIM_API bool HandedFrame(Device* dev, unsigned char* buffer, unsigned long capacity, unsigned long& length);

} // namespace otksim
