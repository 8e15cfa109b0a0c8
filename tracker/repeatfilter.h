// Holds back identical repeats of a failure line so that a failure on every
// host cycle does not flood the log: the first line is written as it is, its
// repeats are only counted and summarised at most once per interval as
// "(last message repeated N times)"; a different line ends the run.
#pragma once

#include <cstdint>
#include <string>

class RepeatFilter {
public:
    // Writes one finished line to its channel.
    using Writer = void (*)(const char* text);

    // lineEnd is appended to the summary ("" for console lines, which the
    // writer ends itself, "\r\n" for trace lines).
    RepeatFilter(Writer writer, const char* lineEnd, std::uint64_t intervalMs = 5000)
        : m_writer(writer), m_lineEnd(lineEnd), m_intervalMs(intervalMs)
    {
    }

    // A line to write at time now (ms).
    void line(const char* text, std::uint64_t now);
    // Writes the summary of held repeats once the interval has passed, even
    // when the failure has stopped.
    void tick(std::uint64_t now);
    // Ends the run of repeats: writes the summary of any held repeats and
    // forgets the line, so that it would be written in full again.
    void end();

    unsigned long held() const { return m_held; }

private:
    void summarise(std::uint64_t now);

    Writer m_writer;
    const char* m_lineEnd;
    std::uint64_t m_intervalMs;
    std::string m_last;
    bool m_haveLast = false;
    unsigned long m_held = 0;
    std::uint64_t m_writtenAt = 0; // the line or its last summary
};
