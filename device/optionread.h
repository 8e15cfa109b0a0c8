// What every option parser of the module shares: keyword comparison, and
// telling the host which option lines a parser read.
//
// A parser may read a line without taking it (the consumed flag stays 0): a
// line passed over after an earlier refusal, or one that a second parser also
// reads. A host that wants to know which lines a device understood (a
// configuration check) switches on the debug lines of the logger record it
// hands to createDev and looks for "Option line N read: KEYWORD". Nothing is
// formatted while debug lines are off.
#pragma once

#include "device/hostrecords.h"
#include "support/logger.h"

#include <cctype>
#include <cstdio>

// Keywords and words compare whole and without regard to case; a missing
// text equals nothing.
inline bool sameWord(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
}

inline void noteOptionRead(const CLogger& log, const ConfigOption& option)
{
    if (!log.enabled || !log.isDebugOn())
        return;
    char text[160];
    std::snprintf(text, sizeof text, "Option line %u read: %.100s", static_cast<unsigned>(option.lineNumber),
                  option.name ? option.name : "");
    log.debug(text, true);
}
