// Keeps a failure that repeats on every host cycle from flooding the log.
// Lines are grouped by kind: the same fixed text, whatever numbers it holds
// ("sens 1 nan 0.5" and "sens 3 nan -2" are one kind). The first line of a
// kind is written as it is; later lines of that kind are only counted, and
// summarised at most once per interval, as "(last message repeated N times)"
// when nothing else was written since, else as
// "(message repeated N times: FIRST LINE)". A line of a new kind first writes
// the summaries still held, then itself. Alternating kinds are held alike. A
// kind not seen for an interval is forgotten, so it is written in full again.
// Lines of two channels that end up on one output (console lines and the
// logger's lines on standard output) share one filter, so that "last message"
// means the line just above.
#pragma once

#include <cstdint>
#include <string>

class RepeatFilter {
public:
    // Writes one finished line to its channel; context is the filter's.
    using Writer = void (*)(void* context, const char* text);

    // lineEnd ends every line of the channel that reaches the filter and is
    // appended to each summary ("" for console lines, which the writer ends
    // itself, "\r\n" for trace lines).
    RepeatFilter(Writer writer, void* context, const char* lineEnd, std::uint64_t intervalMs = 5000);

    // A line to write at time now (ms).
    void line(const char* text, std::uint64_t now) { line(text, now, m_writer); }
    // A line of another channel on the same output: it and the summaries of
    // its kind go through writer.
    void line(const char* text, std::uint64_t now, Writer writer);
    // Writes the summaries that are due, even when the failure has stopped,
    // and forgets kinds that have gone quiet.
    void tick(std::uint64_t now);
    // Writes every summary still held and forgets every kind.
    void end();

    // Also hands every line written (full lines and summaries) to tap, until
    // set back to null: a capture keeps the device's console lines this way.
    using Tap = void (*)(void* context, const char* text);
    void setTap(Tap tap, void* context);

    // Lines held back and not yet summarised, over all kinds.
    unsigned long held() const;

    // Whether two lines differ at most in their numbers (decimal, with sign,
    // fraction and exponent; 0x hexadecimal; nan and inf).
    static bool sameKind(const char* a, const char* b);

private:
    static const int kKinds = 8;
    struct Kind {
        bool used = false;
        Writer writer = nullptr;
        std::string text;          // the line as written in full
        unsigned long held = 0;    // lines of the kind since its last output
        std::uint64_t writtenAt = 0; // of its full line or its last summary
        std::uint64_t seenAt = 0;    // of its latest line
    };

    void summarise(int kind, std::uint64_t now);
    void write(Writer writer, const char* text);
    void summariseAll(std::uint64_t now);

    Writer m_writer;
    void* m_context;
    Tap m_tap = nullptr;
    void* m_tapContext = nullptr;
    const char* m_lineEnd;
    std::uint64_t m_intervalMs;
    Kind m_kinds[kKinds];
    int m_lastOut = -1;   // the kind whose line or summary was written last
    char m_summary[1400]; // longer than any line the device writes
};
