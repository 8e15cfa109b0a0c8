// The harness's configuration file: device blocks of option lines.
//
// Format: '#' starts a comment (outside double quotes); "device NAME MODULE"
// opens a device block; every other non-empty line is "keyword arg arg ..." of
// the current device, split on blanks, with double quotes grouping blanks into
// one word. Each device becomes one DeviceConfig whose strings this module
// keeps alive for the device's whole life. Errors name the file and the line.
#pragma once

#include "device/hostrecords.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace trackhost {

// One device block of the file, owning the DeviceConfig and all its texts.
class DeviceBlock {
public:
    DeviceBlock(const std::string& name, const std::string& module, unsigned line);
    DeviceBlock(const DeviceBlock&) = delete;
    DeviceBlock& operator=(const DeviceBlock&) = delete;

    const std::string& name() const { return m_name; }
    const std::string& module() const { return m_module; }
    unsigned line() const { return m_line; }
    DeviceConfig* config() { return m_config.get(); }
    const DeviceConfig* config() const { return m_config.get(); }

    // Appends one option line; false when the device already has kMaxOptions.
    bool addOption(unsigned line, const std::vector<std::string>& words);

private:
    const char* keep(const std::string& text);

    std::string m_name;
    std::string m_module;
    unsigned m_line;
    std::unique_ptr<DeviceConfig> m_config;
    std::deque<std::string> m_strings; // a deque never moves its elements
};

using DeviceList = std::vector<std::unique_ptr<DeviceBlock>>;

// Splits one line into words. Returns false with error set for an unterminated
// quote; a line that is empty or only a comment gives no words.
bool splitLine(const std::string& line, std::vector<std::string>& words, std::string& error);

// Reads a whole configuration text. A UTF-8 byte-order mark at the start is
// skipped; a line holding a NUL byte is refused. fileName is used only in messages, which
// read "FILE:LINE: text" (or "FILE: text" when no line is to blame).
bool parseConfig(const std::string& text, const std::string& fileName, DeviceList& devices, std::string& error);

// Largest configuration file read, and most devices in it; anything bigger is
// refused (each device holds a whole DeviceConfig in memory).
constexpr std::size_t kMaxConfigBytes = 1024 * 1024;
constexpr unsigned kMaxDevices = 256;

// Reads the file at path; an unreadable file gives "PATH: cannot read: reason".
bool readConfigFile(const std::string& path, DeviceList& devices, std::string& error);

} // namespace trackhost
