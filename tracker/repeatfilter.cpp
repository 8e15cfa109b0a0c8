#include "tracker/repeatfilter.h"

#include <cstdio>
#include <cstring>

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool wordAt(const char* s, const char* word)
{
    for (; *word; ++s, ++word)
        if (lower(*s) != *word)
            return false;
    return !isLetter(*s);
}

// The length of the number that starts at s[i], or 0. A number is what
// printf writes for an integer, a double (%g, %f, %e, nan, inf) or %#x.
std::size_t numberAt(const char* s, std::size_t i)
{
    const char* p = s + i;
    if (i > 0 && (isLetter(s[i - 1]) || isDigit(s[i - 1])))
        return 0; // inside a word: "x86", "Ptr2"
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && isHexDigit(p[2])) {
        std::size_t n = 2;
        while (isHexDigit(p[n]))
            ++n;
        return isLetter(p[n]) ? 0 : n;
    }
    std::size_t n = (p[0] == '-' || p[0] == '+') ? 1 : 0;
    if (wordAt(p + n, "nan") || wordAt(p + n, "inf"))
        return n + 3;
    const std::size_t digitsFrom = n;
    while (isDigit(p[n]))
        ++n;
    if (p[n] == '.' && isDigit(p[n + 1])) {
        ++n;
        while (isDigit(p[n]))
            ++n;
    }
    if (n == digitsFrom)
        return 0;
    if ((p[n] == 'e' || p[n] == 'E') && (isDigit(p[n + 1]) || ((p[n + 1] == '-' || p[n + 1] == '+') && isDigit(p[n + 2])))) {
        n += 2;
        while (isDigit(p[n]))
            ++n;
    }
    return n;
}
} // namespace

RepeatFilter::RepeatFilter(Writer writer, void* context, const char* lineEnd, std::uint64_t intervalMs)
    : m_writer(writer), m_context(context), m_lineEnd(lineEnd), m_intervalMs(intervalMs)
{
}

bool RepeatFilter::sameKind(const char* a, const char* b)
{
    std::size_t i = 0, j = 0;
    for (;;) {
        const std::size_t na = numberAt(a, i), nb = numberAt(b, j);
        if (na && nb) {
            i += na;
            j += nb;
        } else if (a[i] != b[j]) {
            return false;
        } else if (!a[i]) {
            return true;
        } else {
            ++i;
            ++j;
        }
    }
}

void RepeatFilter::line(const char* text, std::uint64_t now, Writer writer)
{
    for (int k = 0; k < kKinds; ++k) {
        Kind& kind = m_kinds[k];
        if (kind.used && kind.writer == writer && sameKind(kind.text.c_str(), text)) {
            ++kind.held;
            kind.seenAt = now;
            if (now - kind.writtenAt >= m_intervalMs)
                summarise(k, now);
            return;
        }
    }
    // A new kind: what is held comes first, so each count stands before the
    // line that ended its run. The slot is a free one or the one quiet longest.
    summariseAll(now);
    int slot = 0;
    for (int k = 0; k < kKinds; ++k) {
        if (!m_kinds[k].used) {
            slot = k;
            break;
        }
        if (m_kinds[k].seenAt < m_kinds[slot].seenAt)
            slot = k;
    }
    write(writer, text);
    Kind& kind = m_kinds[slot];
    kind.used = true;
    kind.writer = writer;
    kind.text = text;
    kind.held = 0;
    kind.writtenAt = kind.seenAt = now;
    m_lastOut = slot;
}

void RepeatFilter::tick(std::uint64_t now)
{
    for (int k = 0; k < kKinds; ++k) {
        Kind& kind = m_kinds[k];
        if (!kind.used)
            continue;
        if (kind.held && now - kind.writtenAt >= m_intervalMs)
            summarise(k, now);
        else if (!kind.held && now - kind.seenAt >= m_intervalMs)
            kind.used = false;
    }
}

void RepeatFilter::end()
{
    summariseAll(0); // every kind is forgotten next, so the time is never read
    for (Kind& kind : m_kinds)
        kind.used = false;
}

unsigned long RepeatFilter::held() const
{
    unsigned long n = 0;
    for (const Kind& kind : m_kinds)
        if (kind.used)
            n += kind.held;
    return n;
}

void RepeatFilter::summariseAll(std::uint64_t now)
{
    // The kind written last goes first: its summary can then say "last message".
    if (m_lastOut >= 0 && m_kinds[m_lastOut].used && m_kinds[m_lastOut].held)
        summarise(m_lastOut, now);
    for (int k = 0; k < kKinds; ++k)
        if (m_kinds[k].used && m_kinds[k].held)
            summarise(k, now);
}

void RepeatFilter::summarise(int k, std::uint64_t now)
{
    Kind& kind = m_kinds[k];
    const bool one = kind.held == 1;
    if (k == m_lastOut) {
        std::snprintf(m_summary, sizeof m_summary,
                      one ? "(last message repeated %lu time)%s" : "(last message repeated %lu times)%s", kind.held,
                      m_lineEnd);
    } else {
        // Named by its first line, without that line's end.
        int length = static_cast<int>(kind.text.size());
        const int endLength = static_cast<int>(std::strlen(m_lineEnd));
        if (length >= endLength && kind.text.compare(length - endLength, endLength, m_lineEnd) == 0)
            length -= endLength;
        std::snprintf(m_summary, sizeof m_summary,
                      one ? "(message repeated %lu time: %.*s)%s" : "(message repeated %lu times: %.*s)%s", kind.held,
                      length, kind.text.c_str(), m_lineEnd);
    }
    write(kind.writer, m_summary);
    kind.held = 0;
    kind.writtenAt = now;
    m_lastOut = k;
}

void RepeatFilter::setTap(Tap tap, void* context)
{
    m_tap = tap;
    m_tapContext = context;
}

void RepeatFilter::write(Writer writer, const char* text)
{
    writer(m_context, text);
    if (m_tap)
        m_tap(m_tapContext, text);
}
