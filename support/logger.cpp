#include "support/logger.h"

#include "support/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

namespace {
void copyText(char (&field)[CLogger::kTextSize], const char* text)
{
    // NUL-padded like strncpy; the last byte always stays a terminator.
    std::memset(field, 0, sizeof field);
    if (text)
        std::strncpy(field, text, sizeof field - 1);
}
} // namespace

CLogger::CLogger()
    : showDate(1), showTime(1), showThreadId(1), enabled(1), name(), infoWord(), errorWord(), warningWord(),
      debugWord(), debugThreshold(1), debugLevel(0), debugId(0)
{
    copyText(name, "MESSAGE");
    copyText(infoWord, "INFO");
    copyText(errorWord, "ERROR");
    copyText(warningWord, "WARNING");
    copyText(debugWord, "DEBUG");
}

void CLogger::setName(const char* text) { copyText(name, text); }
void CLogger::setInfoWord(const char* text) { copyText(infoWord, text); }
void CLogger::setErrorWord(const char* text) { copyText(errorWord, text); }
void CLogger::setWarningWord(const char* text) { copyText(warningWord, text); }
void CLogger::setDebugWord(const char* text) { copyText(debugWord, text); }
void CLogger::setDebugId(const int& id) { debugId = id; }

bool CLogger::isDebugOn() const
{
    if (debugLevel == 0)
        return false;
    if (debugLevel == debugId)
        return true;
    if (debugThreshold > debugLevel)
        return false;
    return true;
}

void CLogger::printPrefix() const
{
    std::ostream& out = std::cout;
    if (showDate || showTime) {
        char format[16] = "";
        if (showDate)
            std::strcat(format, "%b %d ");
        if (showTime)
            std::strcat(format, "%X ");
        char stamp[100] = "";
        const std::time_t now = std::time(nullptr);
        const std::tm* local = std::localtime(&now);
        if (local)
            std::strftime(stamp, sizeof stamp, format, local);
        out << stamp;
    }
    out.write(name, static_cast<std::streamsize>(strnlen(name, sizeof name)));
    if (showThreadId)
        out << '[' << plat::currentThreadId() << "]: ";
    else
        out << ": ";
}

void CLogger::line(const char* word, const char* text, bool newline) const
{
    printPrefix();
    std::ostream& out = std::cout;
    out << word << ": " << (text ? text : "");
    if (newline)
        out << std::endl;
}

void CLogger::info(const char* text, const bool& newline) const
{
    if (enabled)
        line(infoWord, text, newline);
}

void CLogger::error(const char* text, const bool& newline) const
{
    if (enabled)
        line(errorWord, text, newline);
}

void CLogger::debug(const char* text, const bool& newline) const
{
    if (enabled && isDebugOn())
        line(debugWord, text, newline);
}

void CLogger::infof(const char* format, ...) const
{
    if (!enabled)
        return;
    char buffer[kFormatSize] = {};
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
    }
    line(infoWord, buffer, false);
}
