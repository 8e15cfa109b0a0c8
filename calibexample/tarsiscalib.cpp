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
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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

std::mutex g_lock;
std::map<std::uintptr_t, Correction> g_corrections;
std::uintptr_t g_lastHandle = 0;

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
    // Nothing may leave a C entry point as an exception: without memory for
    // the correction the handle is null, which every other entry point ignores.
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        const std::uintptr_t handle = ++g_lastHandle;
        g_corrections[handle] = c;
        return reinterpret_cast<void*>(handle);
    } catch (...) {
        return nullptr;
    }
}

TARSISCALIB_API void TARSISCALIB_CALL calib_evaluate(void* handle, float* sample)
{
    if (!sample)
        return;
    Correction c;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = g_corrections.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == g_corrections.end())
            return;
        c = found->second;
    }
    for (int i = 0; i < 3; ++i) {
        sample[i] = sample[i] * c.scale[i] + c.offset[i];
        sample[3 + i] += c.angle[i];
    }
}

TARSISCALIB_API void TARSISCALIB_CALL calib_exit(void* handle)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_corrections.erase(reinterpret_cast<std::uintptr_t>(handle));
}
