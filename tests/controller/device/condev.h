// ConDev: a small controller device for the tests of the device base's
// controller steps. It has no hardware: its option lines say how many
// controllers it declares ("controllers N") and how many trackers of its own
// it delivers ("trackers N", default 0); everything else (controller order,
// tracker emulation, ...) is left to the common option handlers.
//
// Its own trackers report a fixed pose (fixedPose) on every cycle; the
// trackers its controllers emulate keep the initial pose of their emulation
// line and are announced in the update mask on every cycle.
#pragma once

#include "device/device.h"

#include <cstdint>

class ConDev final : public CDevice {
public:
    enum { kMaxCount = 32 };

    ConDev(DeviceConfig* config, const CLogger* logTemplate);

    int init(InitInfo* info) override;  // slot 0
    bool start() override;              // slot 1
    int configure() override;           // slot 2
    bool stop() override;               // slot 3
    bool printConfig() override;        // slot 4
    int update() override;              // slot 7
    int updataConData() override;       // slot 8

    // The pose own tracker `sensor` (1-based) reports: feet and degrees.
    static void fixedPose(unsigned sensor, float position[3], float angles[3]);

private:
    bool readCounts(std::uint32_t& controllers, std::uint32_t& trackers);
};
