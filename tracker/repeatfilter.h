// Keeps a failure that repeats on every host cycle from flooding the log.
// Lines are grouped by kind: the same fixed text, whatever numbers it holds
// ("sens 1 nan 0.5" and "sens 3 nan -2" are one kind). The first line of a
// kind is written as it is; later lines of that kind are only counted, and
// summarised at most once per interval, as "(last message repeated N times)"
// when nothing else was written since, else as
// "(message repeated N times: FIRST LINE)". A line of a new kind first writes
// the summaries still held, then itself. Alternating kinds are held alike. A
// kind not seen for an interval is forgotten, so it is written in full again.
#pragma once

#include <cstdint>
#include <string>

class RepeatFilter {
public:
    // Writes one finished line to its channel.
    using Writer = void (*)(const char* text);

    // lineEnd ends every line of the channel that reaches the filter and is
    // appended to each summary ("" for console lines, which the writer ends
    // itself, "\r\n" for trace lines).
    RepeatFilter(Writer writer, const char* lineEnd, std::uint64_t intervalMs = 5000);

    // A line to write at time now (ms).
    void line(const char* text, std::uint64_t now);
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
        std::string text;          // the line as written in full
        unsigned long held = 0;    // lines of the kind since its last output
        std::uint64_t writtenAt = 0; // of its full line or its last summary
        std::uint64_t seenAt = 0;    // of its latest line
    };

    void summarise(int kind, std::uint64_t now);
    void write(const char* text);
    void summariseAll(std::uint64_t now);

    Writer m_writer;
    Tap m_tap = nullptr;
    void* m_tapContext = nullptr;
    const char* m_lineEnd;
    std::uint64_t m_intervalMs;
    Kind m_kinds[kKinds];
    int m_lastOut = -1;   // the kind whose line or summary was written last
    char m_summary[1400]; // longer than any line the device writes
};
