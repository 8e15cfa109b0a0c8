// Captures what the code under test writes: standard output (every console and
// log line goes through std::cout) and the trace lines of OvDebug::OVDOUT,
// which the simulated SDK hands to its trace sink.
#pragma once

#include "otksim/otksim.h"

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace testhelp {

class CaptureStdout {
public:
    CaptureStdout() : m_old(std::cout.rdbuf(m_buffer.rdbuf())), m_flags(std::cout.flags()),
                      m_precision(std::cout.precision()) {}
    ~CaptureStdout() { restore(); }
    CaptureStdout(const CaptureStdout&) = delete;
    CaptureStdout& operator=(const CaptureStdout&) = delete;

    std::string text() const { return m_buffer.str(); }
    // Whole lines, without their line ends.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::istringstream in(m_buffer.str());
        std::string line;
        while (std::getline(in, line))
            out.push_back(line);
        return out;
    }
    void clear() { m_buffer.str(std::string()); }
    void restore()
    {
        if (m_old) {
            std::cout.rdbuf(m_old);
            std::cout.flags(m_flags);
            std::cout.precision(m_precision);
            m_old = nullptr;
        }
    }

private:
    std::ostringstream m_buffer;
    std::streambuf* m_old;
    std::ios::fmtflags m_flags;
    std::streamsize m_precision;
};

class CaptureTrace {
public:
    CaptureTrace() { otksim::SetTraceSink(&CaptureTrace::sink, this); }
    ~CaptureTrace() { otksim::SetTraceSink(nullptr, nullptr); }
    CaptureTrace(const CaptureTrace&) = delete;
    CaptureTrace& operator=(const CaptureTrace&) = delete;

    // One entry per OVDOUT call, exactly as formatted (line ends included).
    const std::vector<std::string>& lines() const { return m_lines; }
    void clear() { m_lines.clear(); }

private:
    static void sink(const char* text, void* context)
    {
        static_cast<CaptureTrace*>(context)->m_lines.push_back(text ? text : "");
    }
    std::vector<std::string> m_lines;
};

// A logger prefix without date, time or thread id: "NAME: ".
template <typename Logger> void plainPrefix(Logger& log)
{
    log.showDate = 0;
    log.showTime = 0;
    log.showThreadId = 0;
}

} // namespace testhelp
