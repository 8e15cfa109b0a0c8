// Small readers shared by the tracker's option handlers.
#pragma once

#include "device/optionread.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace tracker {

// Hexadecimal the way a 32-bit strtoul reads base 16: leading blanks, a sign
// and a 0x prefix are allowed, reading stops at the first other character, a
// magnitude beyond 32 bits reads as 0xFFFFFFFF whatever the sign, and a
// negative value within 32 bits wraps. False when the text holds no
// hexadecimal digit at all ("zz", "nan", ""): strtoul would read that as 0,
// which is a real station mask and must not come from a typo.
inline bool readHex(const char* text, std::uint32_t& value)
{
    value = 0;
    if (!text)
        return false;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2])))
        p += 2;
    std::uint64_t magnitude = 0;
    bool digits = false;
    bool overflow = false;
    for (; std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        const unsigned digit = c <= '9' ? unsigned(c - '0') : unsigned(c - 'a' + 10);
        digits = true;
        magnitude = magnitude * 16 + digit;
        if (magnitude > 0xFFFFFFFFull) {
            overflow = true;
            magnitude = 0xFFFFFFFFull; // keeps the product from growing further
        }
    }
    if (!digits)
        return false;
    if (overflow)
        value = 0xFFFFFFFFu;
    else
        value = negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude))
                         : static_cast<std::uint32_t>(magnitude);
    return true;
}

} // namespace tracker
