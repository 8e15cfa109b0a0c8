#include "trackhost/check.h"

#include "support/logger.h"
#include "trackhost/devices.h"
#include "trackhost/text.h"

#include <cctype>
#include <cstring>

namespace trackhost {

namespace {

// A line number at text[pos..]; 0 when there is none or it is too large.
unsigned readLineNumber(const std::string& text, std::size_t& pos)
{
    unsigned long long value = 0;
    return readDecimal(text, pos, 0xFFFFFFFFull, value) ? static_cast<unsigned>(value) : 0;
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
        if (!sameNoCase(text.substr(start - 5, 5), "line ") || (start > 5 && text[start - 6] != ' '))
            continue;
        std::size_t pos = start;
        const unsigned line = readLineNumber(text, pos);
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
                const unsigned number = readLineNumber(body, at);
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

CheckVerdict judgeLines(const std::string& file, const std::vector<Device>& devices)
{
    CheckVerdict v;
    for (const Device& d : devices) {
        if (!d.object)
            continue;
        if (d.initResult != 1)
            ++v.failedInits;
        const DeviceConfig* config = d.block->config();
        for (std::uint32_t i = 0; i < config->optionCount; ++i) {
            const ConfigOption& o = config->options[i];
            ++v.lines;
            const std::string at = file + ":" + std::to_string(o.lineNumber) + ": " + d.block->name() + ": ";
            const auto r = d.output.refused.find(o.lineNumber);
            if (r != d.output.refused.end()) {
                ++v.refused;
                v.findings.push_back(at + "refused: " + r->second);
            } else if (o.consumed || d.output.read.count(o.lineNumber)) {
                continue;
            } else if (d.initResult != 1) {
                ++v.unchecked;
                v.findings.push_back(at + "not checked, init failed before this line was read: " + o.name);
            } else {
                ++v.unknown;
                v.findings.push_back(at + "no parser took this line (unknown keyword?): " + o.name);
            }
        }
    }
    return v;
}

std::string CheckVerdict::summary(std::size_t devices, bool stepsOk) const
{
    std::string text = "check: " + std::to_string(devices) + (devices == 1 ? " device, " : " devices, ") +
                       std::to_string(lines) + " option lines: ";
    if (clean(stepsOk))
        return text + "clean";
    text += std::to_string(unknown) + " unknown, " + std::to_string(refused) + " refused";
    if (unchecked)
        text += ", " + std::to_string(unchecked) + " not checked";
    if (failedInits)
        text += ", " + std::to_string(failedInits) + " init failed";
    return text;
}

} // namespace trackhost
