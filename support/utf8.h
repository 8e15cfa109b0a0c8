// Telling well-formed UTF-8 from other bytes, for text that must stay valid
// JSON whatever a device or a path put into it.
#pragma once

#include <cstddef>

// The length of the well-formed UTF-8 sequence at p, of at most left bytes
// (1 for ASCII; no overlong form, no surrogate, nothing above U+10FFFF), or 0
// when there is none.
inline std::size_t utf8Length(const unsigned char* p, std::size_t left)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n > left || p[1] < lo || p[1] > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (p[k] < 0x80 || p[k] > 0xBF)
            return 0;
    return n;
}
