#include "trackhost/check.h"

#include "support/logger.h"

#include <cctype>
#include <cstring>

namespace trackhost {

namespace {

// Digits at text[pos..]; 0 when there are none or too many.
unsigned readNumber(const std::string& text, std::size_t& pos)
{
    unsigned long value = 0;
    std::size_t digits = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && digits < 10) {
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        ++pos;
        ++digits;
    }
    return digits == 0 || digits == 10 || value > 0xFFFFFFFFul ? 0 : static_cast<unsigned>(value);
}

// The text after the logger's "WORD: " on a line that carries it.
bool afterWord(const std::string& line, const char* word, std::string& text)
{
    const std::string marker = std::string(": ") + word + ": ";
    const std::size_t at = line.find(marker);
    if (at == std::string::npos)
        return false;
    text = line.substr(at + marker.size());
    return true;
}

} // namespace

unsigned refusedLine(const std::string& message)
{
    std::string text = message;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r'))
        text.pop_back();
    const char* const tails[] = {". Ignored.", "."};
    for (const char* tail : tails) {
        const std::size_t n = std::strlen(tail);
        if (text.size() <= n || text.compare(text.size() - n, n, tail) != 0)
            continue;
        std::size_t end = text.size() - n;
        std::size_t start = end;
        while (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1])))
            --start;
        if (start == end || start < 5)
            continue;
        const std::string word = text.substr(start - 5, 5);
        if ((word != "line " && word != "Line ") || (start > 5 && text[start - 6] != ' '))
            continue;
        std::size_t pos = start;
        const unsigned line = readNumber(text, pos);
        if (pos == end)
            return line;
    }
    return 0;
}

void scanOutput(const std::string& text, const CLogger& log, DeviceOutput& out)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string body;
        if (afterWord(line, log.debugWord, body)) {
            static const char kRead[] = "Option line ";
            if (body.compare(0, sizeof kRead - 1, kRead) == 0) {
                std::size_t at = sizeof kRead - 1;
                const unsigned number = readNumber(body, at);
                if (number && body.compare(at, 6, " read:") == 0)
                    out.read.insert(number);
            }
            continue;
        }
        out.shown.push_back(line);
        if (!afterWord(line, log.errorWord, body))
            body = line;
        const unsigned number = refusedLine(body);
        if (number && !out.refused.count(number))
            out.refused[number] = body;
    }
}

} // namespace trackhost
