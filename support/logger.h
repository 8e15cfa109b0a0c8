// CLogger: the 516-byte logger record shared with the host, and the routines
// that print one message line to standard output.
//
// Every object that receives a logger copies all 516 bytes; one that receives
// none builds a fresh record and names it after its class. A line reads:
// date, time, sender name, "[" thread id "]: ", level word, ": ", text.
#pragma once

#include <cstddef>
#include <cstdint>

class CLogger {
public:
    enum { kTextSize = 100, kFormatSize = 256 };

    CLogger();
    ~CLogger() = default;

    void setName(const char* text);
    void setInfoWord(const char* text);
    void setErrorWord(const char* text);
    void setWarningWord(const char* text);
    void setDebugWord(const char* text);
    void setDebugId(const int& id);

    bool isDebugOn() const;
    void printPrefix() const;

    // With newline false the line stays open for the caller to finish on stdout.
    void info(const char* text, const bool& newline) const;
    void error(const char* text, const bool& newline) const;
    void debug(const char* text, const bool& newline) const;
    // printf-style information text, cut at 255 characters; adds no line end.
    void infof(const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    std::uint8_t showDate;
    std::uint8_t showTime;
    std::uint8_t showThreadId;
    std::uint8_t enabled;
    char name[kTextSize];
    char infoWord[kTextSize];
    char errorWord[kTextSize];
    char warningWord[kTextSize];
    char debugWord[kTextSize];
    std::int32_t debugThreshold;
    std::int32_t debugLevel;
    std::int32_t debugId;

private:
    void line(const char* word, const char* text, bool newline) const;
};

static_assert(sizeof(CLogger) == 516, "CLogger is the host's 516-byte record");
static_assert(offsetof(CLogger, showDate) == 0 && offsetof(CLogger, showTime) == 1 &&
                  offsetof(CLogger, showThreadId) == 2 && offsetof(CLogger, enabled) == 3,
              "CLogger switch offsets");
static_assert(offsetof(CLogger, name) == 4 && offsetof(CLogger, infoWord) == 104 &&
                  offsetof(CLogger, errorWord) == 204 && offsetof(CLogger, warningWord) == 304 &&
                  offsetof(CLogger, debugWord) == 404,
              "CLogger text offsets");
static_assert(offsetof(CLogger, debugThreshold) == 504 && offsetof(CLogger, debugLevel) == 508 &&
                  offsetof(CLogger, debugId) == 512,
              "CLogger debug word offsets");
