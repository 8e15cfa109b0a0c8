// CDevice: the device base class every device module derives from.
//
// Contract with the host (one thread, the host's, calls everything):
//  - init (slot 0) copies the InitInfo into the device's own InitData, which
//    also holds the two option handlers; the host keeps ownership of the
//    DeviceConfig, the record tables and the UpdateFlags buffer of each cycle.
//  - recvData (slot 5) clears the masks of the kinds the device delivers, then
//    runs updataConData (slot 8) and update (slot 7).
//  - Records are written by setTraData: network byte order, positions in the
//    caller's unit (feet for trackers), angles in degrees, each x 100000, under
//    the tracker table's mutex, with the record's id marked in the mask.
// Slot order is a binary contract; there is no virtual destructor: devices
// are destroyed only through the module's deleteDev.
#pragma once

#include "device/hostrecords.h"
#include "support/base.h"

#include <cstdint>
#include <exception>

class CTraCommonH;
class CConCommonH;
struct TraSample;

// The device's private copy of the host's InitInfo, plus the option handlers.
struct InitData {
    CDataStorage* pTraStorage;
    CDataStorage* pConStorage;
    std::uint8_t hostData[40];  // kept verbatim
    CTraCommonH* pTraCommon;    // owned, null until created
    CConCommonH* pConCommon;    // owned, null until created
    UpdateFlags* pUpdateFlags;  // buffer of the latest recvData call
};

class CDevice : public CBase {
public:
    CDevice(DeviceConfig* config, const CLogger* logTemplate);
    ~CDevice();

    int recvData(unsigned char* buffer, int length) override;            // slot 5
    int reservedOp(std::uint32_t first, std::uint32_t second) override; // slot 6
    virtual int update() = 0;                                            // slot 7
    virtual int updataConData() = 0;                                     // slot 8

    int setInitInfo(InitInfo* info);
    bool printHeader();

    // Option handlers: created by initTables, filled by setTraId and
    // initCommonOpts, reported by printFooter.
    bool initTables();
    bool setTraId(unsigned sensor, unsigned id);
    bool initCommonOpts();
    bool initCalib();
    bool deinitCalib();
    bool printFooter();

    // Record pipeline: one sensor sample into the host's tracker table,
    // stamped with the time of the call.
    bool setTraData(unsigned sensor, const float position[3], const float angles[3]);
    // A record's time stamp, both words already in network order.
    struct RecordStamp {
        std::uint32_t seconds; // since 1970-01-01 00:00 UTC
        std::uint32_t micros;  // the milliseconds within the second, x 1000
    };
    static RecordStamp stampNow();
    // The clock stamps come from, in ns since 1970, and the stamp of a time
    // read from it: a caller that needs the time for more than the stamp
    // reads the clock once.
    static std::uint64_t clockNs();
    static RecordStamp stampOf(std::uint64_t ns);
    // What a stored sample put into its record: the id and the six pose
    // words in host order (x, y, z in feet and azimuth, elevation, roll in
    // degrees, each x 100000).
    struct WrittenPose {
        std::uint32_t id;
        std::int32_t pose[6];
    };
    // The same with a stamp the caller read: a caller that stores a whole
    // frame at once reads the clock once for all of the frame's samples.
    // valuesRefused, when given, tells a false result's cause: the sample's
    // own values (not finite, or beyond what a record holds) or anything else.
    // written, when given, receives what a stored sample's record holds.
    bool setTraData(unsigned sensor, const float position[3], const float angles[3], const RecordStamp& stamp,
                    bool* valuesRefused = nullptr, WrittenPose* written = nullptr);

    // Where the pipeline's lines about one failed sample go ("TraData storage
    // not found", "ID of TraData is zero."): the logger's ERROR lines, unless
    // a device that summarises repeated lines takes them. Only a failure
    // reaches the sink; a written sample costs nothing here.
    typedef void (*SampleErrorFn)(void* context, const char* text);
    void setSampleErrorSink(SampleErrorFn sink, void* context)
    {
        m_pfnSampleError = sink;
        m_pSampleErrorContext = context;
    }

    InitData* m_pInit;
    char* m_pszName;
    DeviceConfig* m_pConfig;
    std::uint32_t m_nMaxTrackers;
    std::uint32_t m_nMaxControllers;
    std::uint32_t m_nTrackers;
    std::uint32_t m_nControllers;
    std::uint32_t m_nEmulated;

protected:
    // Runs one operation for the host and returns its result. Nothing the C++
    // library throws (std::bad_alloc above all) may cross into the host, so a
    // throw becomes the operation's failure result and one error line naming
    // the operation.
    template <typename Result, typename Body>
    Result guarded(const char* operation, Result failure, Body body) noexcept
    {
        try {
            return body();
        } catch (const std::exception& e) {
            reportThrow(operation, e.what());
        } catch (...) {
            reportThrow(operation, "unknown exception");
        }
        return failure;
    }

private:
    void sampleError(const char* text);
    SampleErrorFn m_pfnSampleError = nullptr;
    void* m_pSampleErrorContext = nullptr;

    void reportThrow(const char* operation, const char* what) noexcept;
    int dispatch(unsigned char* buffer);
    bool initControllerTable();
    bool initControllerOpts();
    bool fillEmulatedRecords();
};
