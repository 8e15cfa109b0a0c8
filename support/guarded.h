// GuardedBlock: storage for one object whose size only the library that
// constructs it knows. The object gets a fixed number of usable bytes, zeroed
// and costing memory only as far as it is touched, so they may be far more
// than any object needs; a band filled with a known pattern follows, then a
// no-access page. A write into the band shows when the band is checked; a
// write beyond it faults at once. The object sits at the end of its pages,
// so the band ends at the page. Every reserve maps fresh memory: nothing an
// earlier object left shows in a later one.
#pragma once

#include <cstddef>

class GuardedBlock {
public:
    GuardedBlock() = default;
    ~GuardedBlock() { release(); }
    GuardedBlock(GuardedBlock&& other) noexcept;
    GuardedBlock& operator=(GuardedBlock&& other) noexcept;
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    // Usable bytes are rounded up to kAlign, and the object is aligned to it.
    // On failure writes the system's text into error and returns false.
    enum { kAlign = 64 };
    bool reserve(std::size_t usable, std::size_t band, char* error, std::size_t size);
    void release();

    void* data() const { return m_object; }
    std::size_t usable() const { return m_usable; }
    // Whether the band after the usable bytes still holds its pattern.
    bool bandIntact() const;
    // Bytes from the start to the last one the object changed: in the band,
    // the last that no longer holds the pattern; below it, the last that is
    // no longer zero. How much of the storage the object has written, at
    // least; only pages the object touched are read.
    std::size_t written() const;

private:
    void* m_pages = nullptr;
    std::size_t m_pageBytes = 0;
    unsigned char* m_object = nullptr;
    std::size_t m_usable = 0;
    std::size_t m_band = 0;
};
