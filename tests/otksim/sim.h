// Helpers for the simulated tracker's tests: a device built for a scenario,
// connection, and little-endian reads from frames.
#pragma once

#include "otksim/otksim.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace simtest {

// A COTKdev made under the given scenario; later devices use OTK_SIM again.
inline std::unique_ptr<COTKdev> makeDevice(const char* scenario)
{
    otksim::SetScenario(scenario);
    std::unique_ptr<COTKdev> dev(new COTKdev);
    otksim::SetScenario(nullptr);
    return dev;
}

// The simulator's device behind an SDK object.
inline otksim::Device* sim(COTKdev& dev)
{
    return otksim::DeviceFor(&dev);
}

inline bool connect(COTKdev& dev)
{
    COTKser ser(OV_BAUD_115200, OV_PARITY_NONE, 1);
    return dev.SetSerialIF(&ser) && dev.DiscoverCnx() != OV_COMM_NONE && dev.CnxReady();
}

inline bool setPositionAngles(COTKdev& dev)
{
    COTKmdat list;
    list.Append(OTK_MD_POSITION);
    list.Append(OTK_MD_EULER);
    return dev.SetSDataList(-1, list) != 0;
}

inline unsigned code(COTKdev& dev)
{
    return static_cast<unsigned>(dev.GetLastResult());
}

inline std::uint32_t u32At(const unsigned char* p)
{
    return p[0] | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline float floatAt(const unsigned char* p)
{
    const std::uint32_t bits = u32At(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline otksim::State state(COTKdev& dev)
{
    otksim::State s;
    otksim::GetState(sim(dev), s);
    return s;
}

} // namespace simtest
