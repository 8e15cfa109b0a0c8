// CConCommonH: the options every controller device shares (controller, valuator
// and button order, valuator scales, tracker emulation), parsed from the
// device's option lines, and their report. Controller ids run 1..N and the
// entry of id n sits at index n-1. Used only on the device's init thread.
#pragma once

#include <cstdint>

class CLogger;
struct DeviceConfig;
struct TrackerRecord;

struct TraEmulation {
    std::uint32_t trackerId;         // 0 until setEmuTrackerIds numbers it
    float initValues[6];             // X, Y, Z, Azim, Elev, Roll
    std::uint32_t valuatorAssign[6]; // real valuator driving each axis, 0 = none
    std::uint32_t resetButton;       // 0 = none
    std::uint32_t reserved[2];
};

struct ControllerEntry {
    enum { kMaxItems = 32 };
    std::uint32_t order; // output controller number, 0 = not output
    std::uint32_t numValuators;
    std::uint32_t numButtons;
    std::uint32_t valuatorMap[kMaxItems];
    std::uint32_t buttonMap[kMaxItems];
    float valuatorScale[kMaxItems][4]; // a, b, c, d of a*X^3 + b*X^2 + c*X + d
    TraEmulation* emulation;           // owned, or null
};

class CConCommonH {
public:
    explicit CConCommonH(const CLogger* log);
    ~CConCommonH();
    CConCommonH(const CConCommonH&) = delete;
    CConCommonH& operator=(const CConCommonH&) = delete;

    bool initControllers(unsigned count, bool knownCounts);
    bool releaseControllers();
    bool parseConfig(DeviceConfig* config);
    bool setEmulation(unsigned index, unsigned trackerId, const float* initValues, const unsigned* valuatorAssign,
                      unsigned resetButton);
    unsigned setEmuTrackerIds(unsigned firstId);
    bool setEmuTraData(unsigned index, TrackerRecord* record, const TrackerRecord* source);
    // Controller id (1-based) of the k-th controller, in table order, that has
    // an emulation record; 0 when there are fewer than k.
    unsigned emulatingController(unsigned k) const;
    bool printOptions();

    bool m_bOwnLog;
    std::uint32_t m_nControllers;
    bool m_bKnownCounts;
    ControllerEntry* m_pControllers;
    bool m_bInputConnector;
    std::uint32_t m_nOutControllers;
    std::uint32_t m_nIdOffset;
    CLogger* m_pLog;
};
