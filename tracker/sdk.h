// The module's own view of the tracker maker's SDK: OTK (COTKdev, COTKser,
// COTKmdat, COTKbiterr) and OvCmdIF (OvDebug::OVDOUT). Nothing links the
// maker's libraries: the binding (tracker/sdkbind.h) loads them when the
// first device is made and resolves every member of tracker/sdktable.h,
// whichever C++ compiler built them.
//
// The classes below carry the SDK's names and members, so the device's code
// reads as if it called the SDK directly. Each is a move-only handle to one
// SDK object living in storage the binding reserved (GuardedBlock: the SDK
// alone knows its objects' size). An object that could not be made (SDK not
// bound, no storage, storage overrun) fails every call: 0, or nothing for a
// void member, and GetLastResultStr says why. A call given an SDK object that
// could not be made fails the same way without reaching the SDK.
//
// Every call into the SDK runs under a frame of the module's own
// (plat::callGuarded) that catches what the SDK did not catch itself. A call
// that raised fails like any failing call, and its object is given up: its
// state is unknown, so no later call reaches it, not even its destructor,
// and its storage stays mapped for whatever of the SDK may still use it.
//
// Everything lives in namespace sdk, so that these classes never meet the
// simulated SDK's classes of the same names in a program that has both.
#pragma once

#include "support/guarded.h"
#include "support/platform.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

class CLogger;

namespace sdk {

// The SDK's enumerations; the SDK's compiler gives each the size of an int.
enum eOvErrCode : int {
    OV_ERR_NONE = 0,
    OV_ERR_NO_TRACKER = 0x20040001,      // nothing answered discovery yet
    OV_ERR_CMD_UNCONFIRMED = 0x20040003, // the command may have taken effect
    OV_ERR_TRACKER_BUSY = 0x20040005,    // tracker still starting up
    OV_ERR_COMM_TIMEOUT = 0x20020005,    // link timed out
};
enum eOvBaudRate : int {
    OV_BAUD_2400 = 1,
    OV_BAUD_4800 = 2,
    OV_BAUD_9600 = 3,
    OV_BAUD_19200 = 4,
    OV_BAUD_38400 = 5,
    OV_BAUD_57600 = 6,
    OV_BAUD_115200 = 7,
};
enum eOvParity : int { OV_PARITY_NONE = 0, OV_PARITY_ODD = 1, OV_PARITY_EVEN = 2 };
enum eOvTrackerType : int { OV_TRACKER_TARSIS = 0, OV_TRACKER_BREVIK = 1 };
enum eOvFrameRate : int { OV_FRAMERATE_60 = 2, OV_FRAMERATE_120 = 3, OV_FRAMERATE_240 = 4 };
enum eOvCommType : int { OV_COMM_NONE = 0, OV_COMM_SERIAL = 1, OV_COMM_USB = 2 };
enum eOTKMotionData : int { OTK_MD_POSITION = 2, OTK_MD_EULER = 4 };

class Object;
class COTKser;
class COTKbiterr;
class COTKmdat;
class COTKdev;

// Every bound member, in table order (COTKdev_DiscoverCnx, COTKser_Ctor, ...).
enum class Id : int {
#define TARSIS_SDK_MEMBER(library, cls, kind, member, ...) cls##_##member,
#include "tracker/sdktable.h"
#undef TARSIS_SDK_MEMBER
    Count
};
const int kMemberCount = static_cast<int>(Id::Count);

// Members of the SDK's classes are __thiscall on 32-bit Windows (the object
// in ECX, the callee pops its arguments), whichever compiler built them; on
// 64-bit Windows and on Linux they take the object as a plain first argument.
#if defined(_WIN32) && defined(__i386__)
#define TARSIS_SDK_THISCALL __attribute__((thiscall))
#define TARSIS_SDK_CDECL __attribute__((cdecl))
#else
#define TARSIS_SDK_THISCALL
#define TARSIS_SDK_CDECL
#endif

namespace detail {

// Entry points by Id; null while unbound, and for an optional member the
// library leaves out. Written only while no SDK object exists.
extern void* g_entry[kMemberCount];
// "COTKdev::DiscoverCnx" and so on, for reports of what a call raised.
extern const char* const g_callName[kMemberCount];

// Each member's signature as the module sees it, from the table.
template <Id id> struct Sig;
#define TARSIS_SDK_MEMBER(library, cls, kind, member, result, params, ...)                                         \
    template <> struct Sig<Id::cls##_##member> {                                                                   \
        using type = result params;                                                                                \
    };
#include "tracker/sdktable.h"
#undef TARSIS_SDK_MEMBER

// How a parameter crosses to the SDK: the module's SDK classes as the address
// of the SDK object they hold, everything else as it is.
template <typename T> struct Abi {
    using type = T;
    static T to(T value) { return value; }
    static const Object* of(T) { return nullptr; }
};
template <> struct Abi<COTKser*> {
    using type = void*;
    static void* to(COTKser* value);
    static const Object* of(COTKser* value);
};
template <> struct Abi<COTKbiterr&> {
    using type = void*;
    static void* to(COTKbiterr& value);
    static const Object* of(COTKbiterr& value);
};
template <> struct Abi<const COTKmdat&> {
    using type = const void*;
    static const void* to(const COTKmdat& value);
    static const Object* of(const COTKmdat& value);
};

// What a call that cannot reach the SDK returns.
template <typename R> struct Failure {
    static R value() { return R(); }
};
template <> struct Failure<void> {
    static void value() {}
};
// Not a model the device knows: the report then names no model.
template <> struct Failure<eOvTrackerType> {
    static eOvTrackerType value() { return static_cast<eOvTrackerType>(-1); }
};

// One call as the gate runs it: the entry, the SDK object, the arguments as
// they cross, and room for the result.
template <typename R, typename... A> struct Frame {
    using Entry = R(TARSIS_SDK_THISCALL*)(void*, A...);
    Frame(void* e, void* o, A... a) : entry(e), object(o), args(a...) {}
    void* entry;
    void* object;
    std::tuple<A...> args;
    R result;
    static void run(void* context)
    {
        Frame& f = *static_cast<Frame*>(context);
        f.result = std::apply([&f](A... a) { return reinterpret_cast<Entry>(f.entry)(f.object, a...); }, f.args);
    }
};
template <typename... A> struct Frame<void, A...> {
    using Entry = void(TARSIS_SDK_THISCALL*)(void*, A...);
    Frame(void* e, void* o, A... a) : entry(e), object(o), args(a...) {}
    void* entry;
    void* object;
    std::tuple<A...> args;
    static void run(void* context)
    {
        Frame& f = *static_cast<Frame*>(context);
        std::apply([&f](A... a) { reinterpret_cast<Entry>(f.entry)(f.object, a...); }, f.args);
    }
};
template <typename R, typename... A> R resultOf(Frame<R, A...>& frame) { return frame.result; }
template <typename... A> void resultOf(Frame<void, A...>&) {}

// A const member calls like any other.
template <typename F> struct Plain {
    using type = F;
};
template <typename R, typename... P> struct Plain<R(P...) const> {
    using type = R(P...);
};

template <Id id, typename F = typename Plain<typename Sig<id>::type>::type> struct Call;

} // namespace detail

// Storage, construction and destruction shared by the SDK classes below.
class Object {
public:
    // The SDK object, or null when it could not be made.
    void* object() const { return m_object; }
    // Why it could not be made, or null.
    const char* failure() const { return m_object ? nullptr : m_failure.c_str(); }
    // The storage reserved for it, and how much of it the SDK has written.
    std::size_t reservedBytes() const { return m_block.usable(); }
    std::size_t writtenBytes() const { return m_block.written(); }

protected:
    Object() = default;
    ~Object() { destroy(); }
    Object(Object&& other) noexcept;
    Object& operator=(Object&& other) noexcept;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Acquires the binding and reserves the storage; false (with the reason
    // kept) when the object cannot be made. built() then checks what the
    // SDK's constructor left behind.
    bool prepare(const char* cls, Id dtor, const CLogger* log);
    void built();
    // Runs the SDK's destructor, checks the storage and gives it back; the
    // binding is released last of all.
    void destroy();

    // The failure text of the last call refused for an unusable argument,
    // until the next call that reaches the SDK.
    const char* refusal() const { return m_refused ? m_refusal.c_str() : nullptr; }
    // Whether a call raised and the object was given up.
    bool abandoned() const { return m_abandoned; }
    // Gives the object up without a call having raised: one that another,
    // given-up SDK object may still use.
    void abandon();

private:
    template <Id, typename> friend struct detail::Call;
    friend class COTKdev;
    bool argumentsUsable(std::initializer_list<const Object*> arguments) const;
    // A call of member id raised: the object is given up, and why is kept as
    // its failure. Also through a const member, hence the mutable state.
    void raised(Id id, const plat::CallFault& fault) const;

    GuardedBlock m_block;
    mutable void* m_object = nullptr;
    mutable std::string m_failure;
    const char* m_class = "";
    Id m_dtor = Id::Count;
    bool m_acquired = false;
    bool m_built = false;
    bool m_overrunKnown = false; // found after construction: the failure says so
    mutable bool m_abandoned = false;
    mutable bool m_refused = false;
    mutable std::string m_refusal;
};

namespace detail {
template <Id id, typename R, typename... P> struct Call<id, R(P...)> {
    const Object& self;
    // An optional member the library leaves out does nothing.
    R operator()(P... p) const
    {
        void* entry = g_entry[static_cast<int>(id)];
        if (!self.m_object || !entry || !self.argumentsUsable({Abi<P>::of(p)...}))
            return Failure<R>::value();
        self.m_refused = false;
        Frame<R, typename Abi<P>::type...> frame(entry, self.m_object, Abi<P>::to(p)...);
        plat::CallFault fault;
        if (!plat::callGuarded(&decltype(frame)::run, &frame, fault)) {
            self.raised(id, fault);
            return Failure<R>::value();
        }
        return resultOf(frame);
    }
};
} // namespace detail

// Only the class being declared gets the forwarding members of its lines.
#define TARSIS_SDK_FORWARD_Method(cls, member, result, params, args)                                               \
    result member params { return detail::Call<Id::cls##_##member>{*this} args; }
#define TARSIS_SDK_FORWARD_Custom(cls, member, result, params, args)
#define TARSIS_SDK_FORWARD_Ctor(cls, member, result, params, args)
#define TARSIS_SDK_FORWARD_Dtor(cls, member, result, params, args)
#define TARSIS_SDK_FORWARD_Static(cls, member, result, params, args)
#define TARSIS_SDK_MEMBER(library, cls, kind, member, result, params, args, ...)                                   \
    TARSIS_SDK_PICK_##cls(TARSIS_SDK_FORWARD_##kind(cls, member, result, params, args))
#define TARSIS_SDK_PICK_OvDebug(x)
#define TARSIS_SDK_PICK_COTKser(x)
#define TARSIS_SDK_PICK_COTKbiterr(x)
#define TARSIS_SDK_PICK_COTKmdat(x)
#define TARSIS_SDK_PICK_COTKdev(x)

// Serial settings; the device hands the object to COTKdev::SetSerialIF.
class COTKser : public Object {
public:
    COTKser(eOvBaudRate baud, eOvParity parity, int flowControl);
    ~COTKser() = default;
    COTKser(COTKser&&) noexcept = default;
    COTKser& operator=(COTKser&&) noexcept = default;
};

// Built-in-test results, filled by COTKdev::GetBITErrs.
class COTKbiterr : public Object {
public:
    COTKbiterr();
    ~COTKbiterr() = default;
    COTKbiterr(COTKbiterr&&) noexcept = default;
    COTKbiterr& operator=(COTKbiterr&&) noexcept = default;

#undef TARSIS_SDK_PICK_COTKbiterr
#define TARSIS_SDK_PICK_COTKbiterr(x) x
#include "tracker/sdktable.h"
#undef TARSIS_SDK_PICK_COTKbiterr
#define TARSIS_SDK_PICK_COTKbiterr(x)
};

// The list of motion data items each station record carries.
class COTKmdat : public Object {
public:
    COTKmdat();
    ~COTKmdat() = default;
    COTKmdat(COTKmdat&&) noexcept = default;
    COTKmdat& operator=(COTKmdat&&) noexcept = default;

#undef TARSIS_SDK_PICK_COTKmdat
#define TARSIS_SDK_PICK_COTKmdat(x) x
#include "tracker/sdktable.h"
#undef TARSIS_SDK_PICK_COTKmdat
#define TARSIS_SDK_PICK_COTKmdat(x)
};

// The tracker. Made when the device is made, with the device's logger: the
// binding, when this is the first SDK object, logs what it bound through it.
class COTKdev : public Object {
public:
    explicit COTKdev(const CLogger* log = nullptr);
    ~COTKdev();
    COTKdev(COTKdev&&) noexcept = default;
    COTKdev& operator=(COTKdev&&) noexcept = default;

    // The SDK keeps the address it is given, so the serial object moves into
    // this one and lives as long as it; the caller's handle is left empty.
    int SetSerialIF(COTKser* serial);
    // After a failure: the SDK's result, or 0 and the reason when the call
    // never reached the SDK. The text is never null.
    eOvErrCode GetLastResult();
    const char* GetLastResultStr();

#undef TARSIS_SDK_PICK_COTKdev
#define TARSIS_SDK_PICK_COTKdev(x) x
#include "tracker/sdktable.h"
#undef TARSIS_SDK_PICK_COTKdev
#define TARSIS_SDK_PICK_COTKdev(x)

private:
    std::vector<COTKser> m_serials; // every serial object the SDK was given
};

#undef TARSIS_SDK_MEMBER

// The support library's debug output. The text is formatted here and handed
// to the SDK as one "%s" argument; without the library it goes nowhere.
class OvDebug {
public:
    static void OVDOUT(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 1, 2)))
#endif
        ;
};

namespace detail {
inline void* Abi<COTKser*>::to(COTKser* value) { return value ? value->object() : nullptr; }
inline const Object* Abi<COTKser*>::of(COTKser* value) { return value; }
inline void* Abi<COTKbiterr&>::to(COTKbiterr& value) { return value.object(); }
inline const Object* Abi<COTKbiterr&>::of(COTKbiterr& value) { return &value; }
inline const void* Abi<const COTKmdat&>::to(const COTKmdat& value) { return value.object(); }
inline const Object* Abi<const COTKmdat&>::of(const COTKmdat& value) { return &value; }
} // namespace detail

} // namespace sdk
