#include "tracker/repeatfilter.h"

#include <cstdio>

void RepeatFilter::line(const char* text, std::uint64_t now)
{
    if (m_haveLast && m_last == text) {
        ++m_held;
        tick(now);
        return;
    }
    end();
    m_writer(text);
    m_last = text;
    m_haveLast = true;
    m_writtenAt = now;
}

void RepeatFilter::tick(std::uint64_t now)
{
    if (m_held && now - m_writtenAt >= m_intervalMs)
        summarise(now);
}

void RepeatFilter::end()
{
    if (m_held)
        summarise(m_writtenAt);
    m_haveLast = false;
    m_last.clear();
}

void RepeatFilter::summarise(std::uint64_t now)
{
    char text[80];
    std::snprintf(text, sizeof text, "(last message repeated %lu times)%s", m_held, m_lineEnd);
    m_writer(text);
    m_held = 0;
    m_writtenAt = now;
}
