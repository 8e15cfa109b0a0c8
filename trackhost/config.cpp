#include "trackhost/config.h"

#include "trackhost/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace trackhost {

DeviceBlock::DeviceBlock(const std::string& name, const std::string& module, unsigned line)
    : m_name(name), m_module(module), m_line(line), m_config(new DeviceConfig)
{
    std::memset(m_config.get(), 0, sizeof(DeviceConfig));
    m_config->deviceName = keep(name);
}

const char* DeviceBlock::keep(const std::string& text)
{
    m_strings.push_back(text);
    return m_strings.back().c_str();
}

bool DeviceBlock::addOption(unsigned line, const std::vector<std::string>& words)
{
    if (m_config->optionCount >= kMaxOptions || words.empty() || words.size() - 1 > kMaxOptionArgs)
        return false;
    ConfigOption& option = m_config->options[m_config->optionCount];
    option.lineNumber = line;
    option.name = keep(words[0]);
    option.argCount = 0;
    for (std::size_t i = 1; i < words.size(); ++i)
        option.args[option.argCount++] = keep(words[i]);
    ++m_config->optionCount;
    return true;
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string at(const std::string& fileName, unsigned line, const std::string& text)
{
    return fileName + ":" + std::to_string(line) + ": " + text;
}

} // namespace

bool splitLine(const std::string& line, std::vector<std::string>& words, std::string& error)
{
    words.clear();
    std::string word;
    bool inWord = false; // a word has started, even an empty quoted one
    bool quoted = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word += c;
            continue;
        }
        if (c == '#')
            break;
        if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (isBlank(c)) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) {
        error = "unterminated quote";
        return false;
    }
    if (inWord)
        words.push_back(word);
    return true;
}

bool parseConfig(const std::string& text, const std::string& fileName, DeviceList& devices, std::string& error)
{
    DeviceList parsed;
    std::unordered_map<std::string, unsigned> names; // device name -> its line
    std::vector<std::string> words;
    unsigned lineNumber = 0;
    // An editor's UTF-8 byte-order mark is not part of the first line.
    std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (line.find('\0') != std::string::npos) {
            error = at(fileName, lineNumber, "NUL byte in the line: not a text file?");
            return false;
        }

        std::string why;
        if (!splitLine(line, words, why)) {
            error = at(fileName, lineNumber, why);
            return false;
        }
        if (words.empty())
            continue;
        if (words[0].empty()) {
            // A device would see an option line without a keyword.
            error = at(fileName, lineNumber, "empty keyword");
            return false;
        }
        if (sameNoCase(words[0], "device")) {
            if (words.size() != 3 || words[1].empty() || words[2].empty()) {
                error = at(fileName, lineNumber, "device line needs a name and a module");
                return false;
            }
            if (parsed.size() >= kMaxDevices && !names.count(words[1])) {
                error = at(fileName, lineNumber, "more than " + std::to_string(kMaxDevices) + " devices");
                return false;
            }
            const auto known = names.emplace(words[1], lineNumber);
            if (!known.second) {
                error = at(fileName, lineNumber,
                           "device " + words[1] + " already defined on line " + std::to_string(known.first->second));
                return false;
            }
            parsed.emplace_back(new DeviceBlock(words[1], words[2], lineNumber));
            continue;
        }
        if (parsed.empty()) {
            error = at(fileName, lineNumber, "option line before any device");
            return false;
        }
        if (words.size() - 1 > kMaxOptionArgs) {
            error = at(fileName, lineNumber, "more than " + std::to_string(kMaxOptionArgs) + " arguments on one line");
            return false;
        }
        DeviceBlock& device = *parsed.back();
        if (!device.addOption(lineNumber, words)) {
            error = at(fileName, lineNumber,
                       "more than " + std::to_string(kMaxOptions) + " options for device " + device.name());
            return false;
        }
    }
    if (parsed.empty()) {
        error = fileName + ": no device defined";
        return false;
    }
    devices = std::move(parsed);
    return true;
}

bool readConfigFile(const std::string& path, DeviceList& devices, std::string& error)
{
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": cannot read: " + std::strerror(errno ? errno : ENOENT);
        return false;
    }
    std::string text;
    char buffer[4096];
    std::size_t n;
    while (text.size() <= kMaxConfigBytes && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    // A directory opens fine on some systems and only fails on reading.
    const bool failed = std::ferror(file) != 0;
    const int code = errno;
    std::fclose(file);
    if (failed) {
        error = path + ": cannot read: " + std::strerror(code ? code : EIO);
        return false;
    }
    if (text.size() > kMaxConfigBytes) {
        // Name the line that runs past the limit.
        const unsigned line = 1 + static_cast<unsigned>(std::count(text.begin(), text.begin() + kMaxConfigBytes, '\n'));
        error = at(path, line, "file larger than " + std::to_string(kMaxConfigBytes) + " bytes (1 MiB): not a configuration?");
        return false;
    }
    return parseConfig(text, path, devices, error);
}

} // namespace trackhost
