#include "trackhost/text.h"

#include <cstring>
#include <ostream>

namespace trackhost {

namespace {
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
} // namespace

bool sameNoCase(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool readDecimal(const std::string& text, std::size_t& pos, unsigned long long limit, unsigned long long& value)
{
    const std::size_t start = pos;
    bool over = false;
    value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        const unsigned digit = static_cast<unsigned>(text[pos] - '0');
        // Compared before multiplying, so that no number of digits overflows.
        if (over || digit > limit || value > (limit - digit) / 10)
            over = true;
        else
            value = value * 10 + digit;
    }
    return pos > start && !over;
}

void errorLine(std::ostream& err, const std::string& text) { err << "trackhost: " << text << std::endl; }

} // namespace trackhost
