// The harness's few dealings with the process's standard output beyond
// writing to it: catching what the devices print during a call, and asking
// whether a person's terminal is on the other end.
#pragma once

#include <cstdio>
#include <string>

namespace trackhost {

// Catches everything written to the process's standard output (file
// descriptor 1) between begin() and end(), whichever C++ or C runtime copy
// wrote it: a module may carry its own.
class StdoutCapture {
public:
    StdoutCapture() = default;
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    bool begin(std::string& error);
    // Restores standard output and returns what was written meanwhile.
    std::string end();

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    int m_saved = -1;
};

bool stdoutIsTerminal();

} // namespace trackhost
