// CTraCommonH: the options every tracker device shares (output order,
// transmitter and sensor transforms, calibration library, CAVE switch), parsed
// from the device's option lines, stored per tracker and printed as a report.
//
// Matrices are 16 floats, row-major, applied to row vectors: a point
// (x, y, z, 1) times the transform. Lengths are in feet. Tracker ids run 1..N
// and the entry of id n sits at index n-1. Filled while the device initialises,
// then only read (once per sample by the record pipeline).
#pragma once

#include <cstdint>

class CLogger;
class CCalibH;
struct DeviceConfig;

// A transform as the record pipeline applies it to column vectors, in double:
// its rotation block transposed (row-major) and its offset. Rebuilt with the
// float matrix it comes from, so that a sample converts nothing.
struct PreparedTransform {
    double block[9];
    double offset[3];
};

struct TrackerEntry {
    std::uint32_t order;  // output position within the device, 0 = not output
    float offset[16];     // x, y, z in elements 3, 7, 11
    float rotation[16];   // rows 0..2, columns 0..2
    float transform[16];  // rotation rows 0..2, row 3 = (offset, 1)
    PreparedTransform prepared; // of transform
    float translation[3];
    bool hasOffset;
    bool hasRotation;
    bool hasTranslation;
};

class CTraCommonH {
public:
    enum { kMaxCalibArgs = 10, kCalibLibSize = 256 };

    explicit CTraCommonH(const CLogger* log);
    ~CTraCommonH();
    CTraCommonH(const CTraCommonH&) = delete;
    CTraCommonH& operator=(const CTraCommonH&) = delete;

    bool initTrackers(unsigned count);
    // Null offset, rotation or translation means "none".
    bool setTracker(unsigned id, unsigned order, const float* offset, const float* rotation,
                    const float* translation);
    bool releaseTrackers();
    bool parseConfig(DeviceConfig* config);
    bool printOptions(bool showCaveCoord);
    bool printOptions() { return printOptions(true); }
    bool clearUpdateMask(unsigned char* mask);
    bool markUpdated(unsigned char* mask, unsigned id);

    bool m_bOwnLog;
    std::uint32_t m_nTrackers;
    TrackerEntry* m_pTrackers;
    bool m_bInputConnector;
    float m_fTransOffset[16];
    float m_fTransRot[16];
    float m_fTransXform[16];
    PreparedTransform m_transPrepared; // of m_fTransXform
    bool m_bTransOffset;
    bool m_bTransRot;
    bool m_bCaveCoord;
    std::uint32_t m_nOutTrackers;
    std::uint32_t m_nIdOffset;
    CCalibH* m_pCalib;
    char m_szCalibLib[kCalibLibSize];
    char* m_pszCalibArgs[kMaxCalibArgs];
    std::uint32_t m_nCalibArgs;
    CLogger* m_pLog;
};
