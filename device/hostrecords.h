// Records shared with the host daemon.
//
// Contract: the host owns every record here. Their byte layouts are fixed for
// the host's 32-bit process (4-byte pointers, little-endian) and pinned below;
// on 64-bit builds the same structs keep their natural layout, which only our
// own harness uses. Multi-byte values of TrackerRecord and UpdateFlags are in
// network byte order; record ids run 1..32 and id n owns bit n-1 of the
// big-endian mask word. Positions are in feet, angles in degrees (azimuth,
// elevation, roll). All calls come from the host's one device thread.
#pragma once

#include <cstddef>
#include <cstdint>

class CDataStorage;

enum { kMaxOptions = 32, kMaxOptionArgs = 64, kMaxRecords = 32 };

// One option line of the host's configuration file.
struct ConfigOption {
    std::uint32_t lineNumber;         // line in the configuration file
    const char* name;                 // option keyword
    const char* args[kMaxOptionArgs]; // argument strings, in order
    std::int32_t argCount;            // 0..64
    std::uint8_t consumed;            // set once a parser has taken the line
    std::uint8_t padding[3];
};

// The host's configuration of one device. The option texts must stay valid for
// the device's whole life: parsed options keep pointing into them.
struct DeviceConfig {
    std::uint32_t reserved0;
    const char* deviceName; // never null
    std::uint8_t header[268];
    ConfigOption options[kMaxOptions];
    std::uint32_t optionCount; // 0..32
};

// Handed to init(). Only the first 48 bytes (on 32-bit) are read.
struct InitInfo {
    CDataStorage* traStorage; // may be null when the device delivers no trackers
    CDataStorage* conStorage; // may be null when the device delivers no controllers
    std::uint8_t hostData[40]; // the host's own data, kept verbatim
};

// Buffer of each recvData call: two masks of the records rewritten this cycle.
struct UpdateFlags {
    std::uint8_t trackerMask[4];
    std::uint8_t controllerMask[4];
};

// One tracker's output: every word 32-bit network order.
struct TrackerRecord {
    std::uint32_t id;        // 1..32, or 0 when the computed id lies outside
    std::uint32_t reserved4;
    std::uint32_t seconds;   // since 1970-01-01 00:00 UTC
    std::uint32_t micros;    // within the second, a multiple of 1000
    std::uint32_t reserved16;
    std::int32_t pose[6];    // x, y, z, azimuth, elevation, roll, each x 100000
    std::uint32_t unused[3];
};

static_assert(sizeof(TrackerRecord) == 56, "TrackerRecord is 56 bytes");
static_assert(offsetof(TrackerRecord, seconds) == 8 && offsetof(TrackerRecord, micros) == 12 &&
                  offsetof(TrackerRecord, pose) == 20 && offsetof(TrackerRecord, unused) == 44,
              "TrackerRecord field offsets");
static_assert(sizeof(UpdateFlags) == 8, "UpdateFlags is 8 bytes");

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(ConfigOption) == 272, "ConfigOption is 272 bytes");
static_assert(offsetof(ConfigOption, lineNumber) == 0 && offsetof(ConfigOption, name) == 4 &&
                  offsetof(ConfigOption, args) == 8 && offsetof(ConfigOption, argCount) == 264 &&
                  offsetof(ConfigOption, consumed) == 268,
              "ConfigOption field offsets");
static_assert(sizeof(DeviceConfig) == 8984, "DeviceConfig is 8984 bytes");
static_assert(offsetof(DeviceConfig, deviceName) == 4 && offsetof(DeviceConfig, options) == 276 &&
                  offsetof(DeviceConfig, optionCount) == 8980,
              "DeviceConfig field offsets");
static_assert(sizeof(InitInfo) == 48 && offsetof(InitInfo, conStorage) == 4 && offsetof(InitInfo, hostData) == 8,
              "InitInfo layout");
#endif
