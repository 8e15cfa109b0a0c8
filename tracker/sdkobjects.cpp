// The module's SDK classes: storage, construction and destruction of the SDK
// objects they hold, and the members written by hand.
#include "tracker/sdkbind.h"

#include <cstdio>
#include <iostream>
#include <mutex>
#include <new>
#include <utility>

namespace sdk {

namespace {
std::string overrunLine(const char* cls, std::size_t reserved)
{
    char line[256];
    std::snprintf(line, sizeof line, text::kOverrun, cls, static_cast<unsigned long>(reserved));
    return line;
}

// Also for an object no call may reach any more for its storage's overrun:
// it was built, so it goes. False when the destructor raised.
bool callDestructor(Id id, void* object, plat::CallFault& fault)
{
    void* entry = detail::g_entry[static_cast<int>(id)];
    if (!entry)
        return true;
    detail::Frame<void> frame(entry, object);
    return plat::callGuarded(&detail::Frame<void>::run, &frame, fault);
}

// The storage of given-up objects, kept mapped for the life of the process,
// also through its exit: the SDK may still hold their addresses (a thread it
// started, a serial object its device object was given). Kept without
// allocating, in room that is never destroyed; past that room, on the heap.
void keepForGood(GuardedBlock&& block)
{
    const std::size_t kRoom = 256;
    alignas(GuardedBlock) static unsigned char room[kRoom][sizeof(GuardedBlock)];
    static std::size_t used = 0;
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (used < kRoom)
        new (room[used++]) GuardedBlock(std::move(block));
    else
        new (std::nothrow) GuardedBlock(std::move(block));
}
} // namespace

Object::Object(Object&& other) noexcept { *this = std::move(other); }

Object& Object::operator=(Object&& other) noexcept
{
    if (this != &other) {
        destroy();
        m_block = std::move(other.m_block);
        m_object = std::exchange(other.m_object, nullptr);
        m_failure = std::move(other.m_failure);
        m_class = other.m_class;
        m_dtor = other.m_dtor;
        m_acquired = std::exchange(other.m_acquired, false);
        m_built = std::exchange(other.m_built, false);
        m_overrunKnown = other.m_overrunKnown;
        m_abandoned = std::exchange(other.m_abandoned, false);
        m_refused = std::exchange(other.m_refused, false);
        m_refusal = std::move(other.m_refusal);
    }
    return *this;
}

bool Object::prepare(const char* cls, Id dtor, const CLogger* log)
{
    m_class = cls;
    m_dtor = dtor;
    const BindReport& report = acquireBinding(log);
    m_acquired = true;
    if (!report.complete) {
        m_failure = report.failure;
        return false;
    }
    char error[256] = "";
    if (!m_block.reserve(objectStorageBytes(), kGuardBandBytes, error, sizeof error)) {
        char line[512];
        std::snprintf(line, sizeof line, text::kNoStorage, cls, error);
        m_failure = line;
        return false;
    }
    // The constructor's call goes through like any other; built() decides.
    // Fresh storage is zeroed: an object whose trivial constructor is not
    // bound starts as that constructor would leave it.
    m_object = m_block.data();
    return true;
}

void Object::built()
{
    // Only a constructor that returned makes an object to destroy.
    if (m_abandoned)
        return;
    m_built = true;
    if (m_block.bandIntact())
        return;
    // The object is larger than its storage: no call may reach it again.
    m_failure = overrunLine(m_class, m_block.usable());
    m_overrunKnown = true;
    m_object = nullptr;
}

void Object::destroy()
{
    if (m_built && !m_abandoned) {
        plat::CallFault fault;
        if (!callDestructor(m_dtor, m_block.data(), fault)) {
            std::cout << raisedLine(m_dtor, fault) << std::endl;
            m_abandoned = true;
        } else if (!m_block.bandIntact() && !m_overrunKnown) {
            std::cout << overrunLine(m_class, m_block.usable()) << std::endl;
        }
    }
    m_built = false;
    if (m_abandoned && m_block.data())
        keepForGood(std::move(m_block));
    m_block.release();
    m_object = nullptr;
    if (m_acquired) {
        m_acquired = false;
        releaseBinding();
    }
}

void Object::raised(Id id, const plat::CallFault& fault) const
{
    m_failure = raisedLine(id, fault);
    m_object = nullptr;
    m_abandoned = true;
}

void Object::abandon()
{
    m_object = nullptr;
    m_abandoned = true;
}

bool Object::argumentsUsable(std::initializer_list<const Object*> arguments) const
{
    for (const Object* argument : arguments) {
        if (argument && !argument->m_object) {
            m_refused = true;
            m_refusal = argument->m_failure;
            return false;
        }
    }
    return true;
}

COTKser::COTKser(eOvBaudRate baud, eOvParity parity, int flowControl)
{
    if (prepare("COTKser", Id::COTKser_Dtor, nullptr)) {
        detail::Call<Id::COTKser_Ctor>{*this}(baud, parity, flowControl);
        built();
    }
}

COTKbiterr::COTKbiterr()
{
    if (prepare("COTKbiterr", Id::COTKbiterr_Dtor, nullptr)) {
        detail::Call<Id::COTKbiterr_Ctor>{*this}();
        built();
    }
}

COTKmdat::COTKmdat()
{
    if (prepare("COTKmdat", Id::COTKmdat_Dtor, nullptr)) {
        detail::Call<Id::COTKmdat_Ctor>{*this}();
        built();
    }
}

COTKdev::COTKdev(const CLogger* log)
{
    if (prepare("COTKdev", Id::COTKdev_Dtor, log)) {
        detail::Call<Id::COTKdev_Ctor>{*this}();
        built();
    }
}

// The SDK's device object goes first: it may use its serial objects until
// then. A device object given up may use them for ever.
COTKdev::~COTKdev()
{
    destroy();
    if (abandoned())
        for (COTKser& serial : m_serials)
            serial.abandon();
}

int COTKdev::SetSerialIF(COTKser* serial)
{
    // Room first, so that keeping the object cannot fail once the SDK has it.
    m_serials.reserve(m_serials.size() + 1);
    const int result = detail::Call<Id::COTKdev_SetSerialIF>{*this}(serial);
    if (object() && serial && serial->object())
        m_serials.push_back(std::move(*serial));
    return result;
}

eOvErrCode COTKdev::GetLastResult()
{
    if (!object() || refusal())
        return OV_ERR_NONE;
    return detail::Call<Id::COTKdev_GetLastResult>{*this}();
}

const char* COTKdev::GetLastResultStr()
{
    if (const char* why = failure())
        return why;
    if (const char* why = refusal())
        return why;
    const char* text = detail::Call<Id::COTKdev_GetLastResultStr>{*this}();
    return text ? text : "";
}

} // namespace sdk
