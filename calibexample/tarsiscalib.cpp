// Example calibration library: a fixed linear correction of every sample,
// configured by the argument strings of the device's calibration line.
//
//   offset=x,y,z      feet added to the position (after scaling)
//   scale=s           position multiplied by s on every axis
//   scale=sx,sy,sz    position multiplied per axis
//   angle=da,de,dr    degrees added to azimuth, elevation and roll
//
// A sample becomes x' = x * sx + x0 (likewise y and z) and az' = az + da
// (likewise elevation and roll). An argument that does not parse is ignored
// with a note on stderr; the other arguments still apply. Every handle has its
// own correction, so several devices can use the library at once.
//
// Handles are serial numbers that are never reused, not addresses: a device
// may end the same handle twice, and the second calib_exit (or a late
// calib_evaluate) must neither free twice nor reach another device's state.
//
// Every sample of every device passes through calib_evaluate, so it takes no
// lock and makes no call: the live corrections sit in a fixed table of slots,
// a handle's slot is its serial number modulo the table's size, and the rare
// calib_init and calib_exit publish a slot's change through a sequence count
// that is odd while the slot changes. A reader that sees the count change
// reads again; one that finds another handle in the slot does nothing.
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(_WIN32)
#define TARSISCALIB_API extern "C" __declspec(dllexport)
#define TARSISCALIB_CALL __cdecl
#else
#define TARSISCALIB_API extern "C" __attribute__((visibility("default")))
#define TARSISCALIB_CALL
#endif

namespace {

struct Correction {
    float scale[3];
    float offset[3];
    float angle[3];
};

const unsigned kSlots = 256; // corrections alive at once

struct Slot {
    std::atomic<unsigned> sequence;     // odd while calib_init or calib_exit changes the slot
    std::atomic<std::uintptr_t> handle; // 0 while free
    std::atomic<float> value[9];        // scale, offset, angle
};

Slot g_slots[kSlots];   // zero-initialised: every slot free
std::mutex g_writers;   // serialises calib_init and calib_exit, never taken by calib_evaluate
std::uintptr_t g_lastHandle = 0;
unsigned g_live = 0;

Slot& slotOf(std::uintptr_t handle)
{
    return g_slots[handle % kSlots];
}

// Writes a slot's handle and correction (none: the slot becomes free), with
// g_writers held.
void publish(Slot& slot, std::uintptr_t handle, const Correction* c)
{
    const unsigned sequence = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(sequence + 1, std::memory_order_relaxed);
    // Release stores: a reader that sees one of them also sees the odd count.
    slot.handle.store(handle, std::memory_order_release);
    for (int i = 0; c && i < 3; ++i) {
        slot.value[i].store(c->scale[i], std::memory_order_release);
        slot.value[3 + i].store(c->offset[i], std::memory_order_release);
        slot.value[6 + i].store(c->angle[i], std::memory_order_release);
    }
    slot.sequence.store(sequence + 2, std::memory_order_release);
}

// Parses "a" or "a,b,c"... into values; the number of values, or -1 when the
// text is not a comma-separated list of at most maxCount finite numbers.
// Finite means finite as a float: 1e39 fits a double but would become
// infinity in the sample.
int parseList(const char* text, float* values, int maxCount)
{
    int count = 0;
    for (;;) {
        char* end = nullptr;
        const float v = static_cast<float>(std::strtod(text, &end));
        if (end == text || !std::isfinite(v) || count == maxCount)
            return -1;
        values[count++] = v;
        while (std::isspace(static_cast<unsigned char>(*end)))
            ++end;
        if (*end == '\0')
            return count;
        if (*end != ',')
            return -1;
        text = end + 1;
    }
}

bool keywordIs(const char* text, std::size_t length, const char* keyword)
{
    if (std::strlen(keyword) != length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != keyword[i])
            return false;
    }
    return true;
}

// Applies one "keyword=values" argument; false when it does not fit any form.
bool applyArgument(Correction& c, const char* arg)
{
    const char* equals = std::strchr(arg, '=');
    if (!equals)
        return false;
    const std::size_t length = static_cast<std::size_t>(equals - arg);
    float v[3];
    const int n = parseList(equals + 1, v, 3);
    if (keywordIs(arg, length, "offset") && n == 3) {
        std::memcpy(c.offset, v, sizeof v);
        return true;
    }
    if (keywordIs(arg, length, "angle") && n == 3) {
        std::memcpy(c.angle, v, sizeof v);
        return true;
    }
    if (keywordIs(arg, length, "scale") && (n == 1 || n == 3)) {
        for (int i = 0; i < 3; ++i)
            c.scale[i] = v[n == 1 ? 0 : i];
        return true;
    }
    return false;
}

} // namespace

TARSISCALIB_API void* TARSISCALIB_CALL calib_init(char** args, int count)
{
    Correction c;
    for (int i = 0; i < 3; ++i) {
        c.scale[i] = 1.0f;
        c.offset[i] = 0.0f;
        c.angle[i] = 0.0f;
    }
    for (int i = 0; args && i < count; ++i) {
        const char* arg = args[i] ? args[i] : "";
        if (!applyArgument(c, arg))
            std::fprintf(stderr,
                         "tarsiscalib: ignoring argument \"%s\" (use offset=x,y,z, scale=s, scale=sx,sy,sz or "
                         "angle=da,de,dr)\n",
                         arg);
    }
    // Nothing may leave a C entry point as an exception: a lock that cannot
    // be taken means no handle, which every other entry point ignores.
    try {
        std::lock_guard<std::mutex> guard(g_writers);
        if (g_live == kSlots) {
            std::fprintf(stderr, "tarsiscalib: no room for another correction (%u are in use)\n", kSlots);
            return nullptr;
        }
        // The next serial number whose slot is free; 0 is never a handle.
        do {
            ++g_lastHandle;
        } while (g_lastHandle == 0 || slotOf(g_lastHandle).handle.load(std::memory_order_relaxed) != 0);
        ++g_live;
        publish(slotOf(g_lastHandle), g_lastHandle, &c);
        return reinterpret_cast<void*>(g_lastHandle);
    } catch (...) {
        return nullptr;
    }
}

TARSISCALIB_API void TARSISCALIB_CALL calib_evaluate(void* handle, float* sample)
{
    const std::uintptr_t h = reinterpret_cast<std::uintptr_t>(handle);
    if (!sample || h == 0)
        return;
    const Slot& slot = slotOf(h);
    // The correction is read into registers: a copy through memory would
    // make the arithmetic wait for its stores.
    float sx, sy, sz, x0, y0, z0, da, de, dr;
    // Acquire loads throughout: the count's second reading cannot move ahead
    // of the values read before it.
    for (;;) {
        const unsigned before = slot.sequence.load(std::memory_order_acquire);
        const bool mine = slot.handle.load(std::memory_order_acquire) == h;
        sx = slot.value[0].load(std::memory_order_acquire);
        sy = slot.value[1].load(std::memory_order_acquire);
        sz = slot.value[2].load(std::memory_order_acquire);
        x0 = slot.value[3].load(std::memory_order_acquire);
        y0 = slot.value[4].load(std::memory_order_acquire);
        z0 = slot.value[5].load(std::memory_order_acquire);
        da = slot.value[6].load(std::memory_order_acquire);
        de = slot.value[7].load(std::memory_order_acquire);
        dr = slot.value[8].load(std::memory_order_acquire);
        if ((before & 1) == 0 && slot.sequence.load(std::memory_order_relaxed) == before) {
            if (!mine)
                return;
            break;
        }
    }
    sample[0] = sample[0] * sx + x0;
    sample[1] = sample[1] * sy + y0;
    sample[2] = sample[2] * sz + z0;
    sample[3] += da;
    sample[4] += de;
    sample[5] += dr;
}

TARSISCALIB_API void TARSISCALIB_CALL calib_exit(void* handle)
{
    const std::uintptr_t h = reinterpret_cast<std::uintptr_t>(handle);
    try {
        std::lock_guard<std::mutex> guard(g_writers);
        Slot& slot = slotOf(h);
        if (h == 0 || slot.handle.load(std::memory_order_relaxed) != h)
            return;
        publish(slot, 0, nullptr);
        --g_live;
    } catch (...) {
        // The lock could not be taken: the correction stays, as after no call.
    }
}
