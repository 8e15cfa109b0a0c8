// Every member of the maker's SDK that the module calls, one line each:
//
//   TARSIS_SDK_MEMBER(library, class, kind, member, result, (parameters), (arguments), need,
//                     MSVC i686 name, MSVC x86-64 name, Itanium name)
//
// kind: Method (a forwarding member of the same name is generated in the
// module's class), Custom (a method whose forwarding member is written by
// hand), Ctor and Dtor (called by the storage of the module's class; a
// constructor is called as returning nothing), Static (no object).
// need: Required, or Optional for what a library may leave out because it is
// trivial (a constructor or destructor with nothing to do is not exported).
// The three names are what each compiler makes of the declaration; a library
// that spells a parameter type otherwise is still found by class and member.
//
// No include guard: each includer defines TARSIS_SDK_MEMBER to what it needs.
// clang-format off
TARSIS_SDK_MEMBER(OvCmdIF, OvDebug, Static, OVDOUT, void, (const char* format, ...), (), Required,
    "?OVDOUT@OvDebug@@SAXPBDZZ", "?OVDOUT@OvDebug@@SAXPEBDZZ", "_ZN7OvDebug6OVDOUTEPKcz")

TARSIS_SDK_MEMBER(OTK, COTKser, Ctor, Ctor, void, (eOvBaudRate baud, eOvParity parity, int flowControl), (), Required,
    "??0COTKser@@QAE@W4eOvBaudRate@@W4eOvParity@@H@Z", "??0COTKser@@QEAA@W4eOvBaudRate@@W4eOvParity@@H@Z",
    "_ZN7COTKserC1E11eOvBaudRate9eOvParityi")
TARSIS_SDK_MEMBER(OTK, COTKser, Dtor, Dtor, void, (), (), Optional,
    "??1COTKser@@QAE@XZ", "??1COTKser@@QEAA@XZ", "_ZN7COTKserD1Ev")

TARSIS_SDK_MEMBER(OTK, COTKbiterr, Ctor, Ctor, void, (), (), Optional,
    "??0COTKbiterr@@QAE@XZ", "??0COTKbiterr@@QEAA@XZ", "_ZN10COTKbiterrC1Ev")
TARSIS_SDK_MEMBER(OTK, COTKbiterr, Dtor, Dtor, void, (), (), Optional,
    "??1COTKbiterr@@QAE@XZ", "??1COTKbiterr@@QEAA@XZ", "_ZN10COTKbiterrD1Ev")
TARSIS_SDK_MEMBER(OTK, COTKbiterr, Method, IsClear, int, () const, (), Required,
    "?IsClear@COTKbiterr@@QBEHXZ", "?IsClear@COTKbiterr@@QEBAHXZ", "_ZNK10COTKbiterr7IsClearEv")

TARSIS_SDK_MEMBER(OTK, COTKmdat, Ctor, Ctor, void, (), (), Optional,
    "??0COTKmdat@@QAE@XZ", "??0COTKmdat@@QEAA@XZ", "_ZN8COTKmdatC1Ev")
TARSIS_SDK_MEMBER(OTK, COTKmdat, Dtor, Dtor, void, (), (), Optional,
    "??1COTKmdat@@QAE@XZ", "??1COTKmdat@@QEAA@XZ", "_ZN8COTKmdatD1Ev")
TARSIS_SDK_MEMBER(OTK, COTKmdat, Method, Empty, void, (), (), Required,
    "?Empty@COTKmdat@@QAEXXZ", "?Empty@COTKmdat@@QEAAXXZ", "_ZN8COTKmdat5EmptyEv")
TARSIS_SDK_MEMBER(OTK, COTKmdat, Method, Append, int, (eOTKMotionData item), (item), Required,
    "?Append@COTKmdat@@QAEHW4eOTKMotionData@@@Z", "?Append@COTKmdat@@QEAAHW4eOTKMotionData@@@Z",
    "_ZN8COTKmdat6AppendE14eOTKMotionData")

TARSIS_SDK_MEMBER(OTK, COTKdev, Ctor, Ctor, void, (), (), Required,
    "??0COTKdev@@QAE@XZ", "??0COTKdev@@QEAA@XZ", "_ZN7COTKdevC1Ev")
TARSIS_SDK_MEMBER(OTK, COTKdev, Dtor, Dtor, void, (), (), Required,
    "??1COTKdev@@QAE@XZ", "??1COTKdev@@QEAA@XZ", "_ZN7COTKdevD1Ev")
TARSIS_SDK_MEMBER(OTK, COTKdev, Custom, SetSerialIF, int, (COTKser* serial), (serial), Required,
    "?SetSerialIF@COTKdev@@QAEHPAVCOTKser@@@Z", "?SetSerialIF@COTKdev@@QEAAHPEAVCOTKser@@@Z",
    "_ZN7COTKdev11SetSerialIFEP7COTKser")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, DiscoverCnx, eOvCommType, (), (), Required,
    "?DiscoverCnx@COTKdev@@QAE?AW4eOvCommType@@XZ", "?DiscoverCnx@COTKdev@@QEAA?AW4eOvCommType@@XZ",
    "_ZN7COTKdev11DiscoverCnxEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, CnxReady, int, (), (), Required,
    "?CnxReady@COTKdev@@QAEHXZ", "?CnxReady@COTKdev@@QEAAHXZ", "_ZN7COTKdev8CnxReadyEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, RestartTracker, int, (), (), Required,
    "?RestartTracker@COTKdev@@QAEHXZ", "?RestartTracker@COTKdev@@QEAAHXZ", "_ZN7COTKdev14RestartTrackerEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, Disconnect, int, (), (), Required,
    "?Disconnect@COTKdev@@QAEHXZ", "?Disconnect@COTKdev@@QEAAHXZ", "_ZN7COTKdev10DisconnectEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, GetStationMap, int, (unsigned long& map), (map), Required,
    "?GetStationMap@COTKdev@@QAEHAAK@Z", "?GetStationMap@COTKdev@@QEAAHAEAK@Z", "_ZN7COTKdev13GetStationMapERm")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, SetStationMap, int, (const unsigned long& map), (map), Required,
    "?SetStationMap@COTKdev@@QAEHABK@Z", "?SetStationMap@COTKdev@@QEAAHAEBK@Z", "_ZN7COTKdev13SetStationMapERKm")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, GetBITErrs, int, (COTKbiterr& errors), (errors), Required,
    "?GetBITErrs@COTKdev@@QAEHAAVCOTKbiterr@@@Z", "?GetBITErrs@COTKdev@@QEAAHAEAVCOTKbiterr@@@Z",
    "_ZN7COTKdev10GetBITErrsER10COTKbiterr")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, ClearBITErrs, int, (), (), Required,
    "?ClearBITErrs@COTKdev@@QAEHXZ", "?ClearBITErrs@COTKdev@@QEAAHXZ", "_ZN7COTKdev12ClearBITErrsEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, MaxSensors, int, (), (), Required,
    "?MaxSensors@COTKdev@@QAEHXZ", "?MaxSensors@COTKdev@@QEAAHXZ", "_ZN7COTKdev10MaxSensorsEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, TrackerType, eOvTrackerType, (), (), Required,
    "?TrackerType@COTKdev@@QAE?AW4eOvTrackerType@@XZ", "?TrackerType@COTKdev@@QEAA?AW4eOvTrackerType@@XZ",
    "_ZN7COTKdev11TrackerTypeEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, SetFrameRate, int, (eOvFrameRate rate), (rate), Required,
    "?SetFrameRate@COTKdev@@QAEHW4eOvFrameRate@@@Z", "?SetFrameRate@COTKdev@@QEAAHW4eOvFrameRate@@@Z",
    "_ZN7COTKdev12SetFrameRateE12eOvFrameRate")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, SetSHemisphere, int, (int station, const float (&hemisphere)[3]),
    (station, hemisphere), Required,
    "?SetSHemisphere@COTKdev@@QAEHHAAY02$$CBM@Z", "?SetSHemisphere@COTKdev@@QEAAHHAEAY02$$CBM@Z",
    "_ZN7COTKdev14SetSHemisphereEiRA3_Kf")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, ResetSAlignment, int, (int station), (station), Required,
    "?ResetSAlignment@COTKdev@@QAEHH@Z", "?ResetSAlignment@COTKdev@@QEAAHH@Z", "_ZN7COTKdev15ResetSAlignmentEi")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, SetSAlignment, int,
    (int station, const float (&origin)[3], const float (&xPoint)[3], const float (&yPoint)[3]),
    (station, origin, xPoint, yPoint), Required,
    "?SetSAlignment@COTKdev@@QAEHHAAY02$$CBM00@Z", "?SetSAlignment@COTKdev@@QEAAHHAEAY02$$CBM00@Z",
    "_ZN7COTKdev13SetSAlignmentEiRA3_KfS2_S2_")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, SetSDataList, int, (int station, const COTKmdat& list), (station, list),
    Required,
    "?SetSDataList@COTKdev@@QAEHHABVCOTKmdat@@@Z", "?SetSDataList@COTKdev@@QEAAHHAEBVCOTKmdat@@@Z",
    "_ZN7COTKdev12SetSDataListEiRK8COTKmdat")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, ClearPnoBuffer, int, (), (), Required,
    "?ClearPnoBuffer@COTKdev@@QAEHXZ", "?ClearPnoBuffer@COTKdev@@QEAAHXZ", "_ZN7COTKdev14ClearPnoBufferEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, StartContPno, int, (void* window), (window), Required,
    "?StartContPno@COTKdev@@QAEHPAX@Z", "?StartContPno@COTKdev@@QEAAHPEAX@Z", "_ZN7COTKdev12StartContPnoEPv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, StopContPno, int, (), (), Required,
    "?StopContPno@COTKdev@@QAEHXZ", "?StopContPno@COTKdev@@QEAAHXZ", "_ZN7COTKdev11StopContPnoEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, LastHostFrameCount, int, (unsigned long& count), (count), Required,
    "?LastHostFrameCount@COTKdev@@QAEHAAK@Z", "?LastHostFrameCount@COTKdev@@QEAAHAEAK@Z",
    "_ZN7COTKdev18LastHostFrameCountERm")
TARSIS_SDK_MEMBER(OTK, COTKdev, Method, LastPnoPtr, int, (unsigned char*& buffer, unsigned long& length),
    (buffer, length), Required,
    "?LastPnoPtr@COTKdev@@QAEHAAPAEAAK@Z", "?LastPnoPtr@COTKdev@@QEAAHAEAPEAEAEAK@Z",
    "_ZN7COTKdev10LastPnoPtrERPhRm")
TARSIS_SDK_MEMBER(OTK, COTKdev, Custom, GetLastResult, eOvErrCode, (), (), Required,
    "?GetLastResult@COTKdev@@QAE?AW4eOvErrCode@@XZ", "?GetLastResult@COTKdev@@QEAA?AW4eOvErrCode@@XZ",
    "_ZN7COTKdev13GetLastResultEv")
TARSIS_SDK_MEMBER(OTK, COTKdev, Custom, GetLastResultStr, const char*, (), (), Required,
    "?GetLastResultStr@COTKdev@@QAEPBDXZ", "?GetLastResultStr@COTKdev@@QEAAPEBDXZ",
    "_ZN7COTKdev16GetLastResultStrEv")
// clang-format on
