// Small readers shared by the tracker's option handlers.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace tracker {

// Option names and words compare without regard to case.
inline bool sameWord(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    while (*a && *b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
        ++a;
        ++b;
    }
    return *a == *b;
}

// Hexadecimal the way strtoul reads base 16; values beyond 32 bits read as
// 0xFFFFFFFF, as they do where unsigned long has 32 bits.
inline std::uint32_t readHex(const char* text)
{
    if (!text)
        return 0;
    const unsigned long long v = std::strtoull(text, nullptr, 16);
    const bool negative = [text] {
        const char* p = text;
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        return *p == '-';
    }();
    if (!negative && v > 0xFFFFFFFFull)
        return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(v);
}

} // namespace tracker
