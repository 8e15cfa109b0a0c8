// Control API of the simulated tracker SDK, for tests and tools in the same
// process. The device itself never uses it: it talks to the tracker only
// through COTKdev.
#pragma once

#include "tracker/OTK.h"

namespace otksim {

// Scenario text in the form of the OTK_SIM environment variable. Devices
// constructed afterwards use it instead of the environment; nullptr goes back
// to the environment. Returns false (and reports on stderr) for a bad text.
OTK_API bool SetScenario(const char* text);

// The most recently constructed COTKdev that is still alive, or nullptr.
OTK_API COTKdev* LastDevice();

// Publishes one frame by hand, exactly as the producer thread would: the frame
// count rises by one and LastPnoPtr returns these bytes. Works whether or not
// streaming was started; with the scenario key frames=manual, StartContPno
// starts no thread, so tests control every frame.
OTK_API bool PushFrame(COTKdev* dev, const unsigned char* data, unsigned long length);
// Publishes the frame the producer would publish next (motion paths, station
// map, output data list).
OTK_API bool PushMotionFrame(COTKdev* dev);

// The documented motion of a station (1-based) at time t seconds, in inches
// and degrees, for the scenario's motion (still or circle).
OTK_API void MotionAt(COTKdev* dev, int station, double t, float position[3], float angles[3]);

// Calls of a named SDK operation (its name as in OTK.h) on this device.
OTK_API int CallCount(COTKdev* dev, const char* operation);

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
    int hemisphereSet[33];     // per station 1..32; index 0 for "all" (-1)
    float hemisphere[33][3];
    int alignmentSet;          // SetSAlignment accepted for all stations
    float alignment[3][3];
    unsigned long frameCount;
    eOvBaudRate baud;
};
OTK_API bool GetState(COTKdev* dev, State& out);

} // namespace otksim
