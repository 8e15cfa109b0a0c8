#include "support/guarded.h"

#include "support/platform.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {
// Varies with the offset, so that an object filling its memory with one
// byte value (zeroing it, say) still differs from the pattern everywhere.
unsigned char pattern(std::size_t offset)
{
    return static_cast<unsigned char>(0xA5u ^ (offset * 29u) ^ (offset >> 8));
}
} // namespace

GuardedBlock::GuardedBlock(GuardedBlock&& other) noexcept { *this = std::move(other); }

GuardedBlock& GuardedBlock::operator=(GuardedBlock&& other) noexcept
{
    if (this != &other) {
        release();
        std::swap(m_pages, other.m_pages);
        std::swap(m_pageBytes, other.m_pageBytes);
        std::swap(m_object, other.m_object);
        std::swap(m_usable, other.m_usable);
        std::swap(m_band, other.m_band);
    }
    return *this;
}

bool GuardedBlock::reserve(std::size_t usable, std::size_t band, char* error, std::size_t size)
{
    release();
    usable = (usable + kAlign - 1) / kAlign * kAlign;
    band = (band + kAlign - 1) / kAlign * kAlign;
    const std::size_t page = plat::pageSize();
    const std::size_t pageBytes = (usable + band + page - 1) / page * page;
    void* pages = plat::mapGuarded(pageBytes, error, size);
    if (!pages)
        return false;
    m_pages = pages;
    m_pageBytes = pageBytes;
    m_object = static_cast<unsigned char*>(pages) + (pageBytes - usable - band);
    m_usable = usable;
    m_band = band;
    // Only the band: filling the usable bytes would touch every page of them.
    for (std::size_t i = usable; i < usable + band; ++i)
        m_object[i] = pattern(i);
    return true;
}

void GuardedBlock::release()
{
    plat::unmapGuarded(m_pages, m_pageBytes);
    m_pages = nullptr;
    m_pageBytes = 0;
    m_object = nullptr;
    m_usable = 0;
    m_band = 0;
}

bool GuardedBlock::bandIntact() const
{
    for (std::size_t i = m_usable; i < m_usable + m_band; ++i)
        if (m_object[i] != pattern(i))
            return false;
    return true;
}

std::size_t GuardedBlock::written() const
{
    if (!m_object)
        return 0;
    for (std::size_t i = m_usable + m_band; i > m_usable; --i)
        if (m_object[i - 1] != pattern(i - 1))
            return i;
    // Reading a page nothing has touched would bring it into memory: look
    // only at touched ones (all of them when the system cannot tell).
    const std::size_t page = plat::pageSize();
    const std::size_t pages = m_pageBytes / page;
    std::vector<unsigned char> touched(pages, 1);
    if (!plat::touchedPages(m_pages, m_pageBytes, touched.data()))
        std::fill(touched.begin(), touched.end(), 1);
    const auto* base = static_cast<const unsigned char*>(m_pages);
    const std::size_t start = static_cast<std::size_t>(m_object - base);
    for (std::size_t p = pages; p > 0; --p) {
        if (!touched[p - 1])
            continue;
        const std::size_t from = std::max((p - 1) * page, start);
        for (std::size_t i = std::min(p * page, start + m_usable); i > from; --i)
            if (base[i - 1] != 0)
                return i - start;
    }
    return 0;
}
