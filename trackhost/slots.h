// Calls into a device object the way the host daemon makes them: by vtable
// slot, knowing nothing of the module's classes.
//
// Slots: 0 init, 1 start, 2 configure, 3 stop, 4 printConfig, 5 recvData,
// 6 reservedOp, 7 update, 8 updataConData. The object's first word points to
// its vtable. On 32-bit Windows member functions use thiscall (the object in
// ECX), so the pointer types must say so; elsewhere the object is simply the
// first argument. The exports createDev and deleteDev are plain cdecl.
#pragma once

#include "device/hostrecords.h"

#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define TRACKHOST_MEMBER_CALL __attribute__((thiscall))
#else
#define TRACKHOST_MEMBER_CALL
#endif

class CLogger;

namespace slots {

enum Slot {
    kInit = 0,
    kStart = 1,
    kConfigure = 2,
    kStop = 3,
    kPrintConfig = 4,
    kRecvData = 5,
    kReservedOp = 6,
    kUpdate = 7,
    kUpdataConData = 8,
};

// Entry points of a module, looked up by name.
typedef void* (*CreateDevFn)(DeviceConfig* config, CLogger* log);
typedef bool (*DeleteDevFn)(void* device);

typedef int(TRACKHOST_MEMBER_CALL* InitFn)(void* self, InitInfo* info);
typedef bool(TRACKHOST_MEMBER_CALL* BoolFn)(void* self);
typedef int(TRACKHOST_MEMBER_CALL* IntFn)(void* self);
typedef int(TRACKHOST_MEMBER_CALL* RecvDataFn)(void* self, unsigned char* buffer, int length);
typedef int(TRACKHOST_MEMBER_CALL* ReservedOpFn)(void* self, std::uint32_t first, std::uint32_t second);

template <typename Fn> inline Fn entry(void* device, Slot slot)
{
    void** vtbl = *static_cast<void***>(device);
    return reinterpret_cast<Fn>(vtbl[slot]);
}

inline int init(void* device, InitInfo* info) { return entry<InitFn>(device, kInit)(device, info); }
inline bool start(void* device) { return entry<BoolFn>(device, kStart)(device); }
inline int configure(void* device) { return entry<IntFn>(device, kConfigure)(device); }
inline bool stop(void* device) { return entry<BoolFn>(device, kStop)(device); }
inline bool printConfig(void* device) { return entry<BoolFn>(device, kPrintConfig)(device); }
inline int recvData(void* device, unsigned char* buffer, int length)
{
    return entry<RecvDataFn>(device, kRecvData)(device, buffer, length);
}
inline int reservedOp(void* device, std::uint32_t first, std::uint32_t second)
{
    return entry<ReservedOpFn>(device, kReservedOp)(device, first, second);
}
inline int update(void* device) { return entry<IntFn>(device, kUpdate)(device); }
inline int updataConData(void* device) { return entry<IntFn>(device, kUpdataConData)(device); }

} // namespace slots
