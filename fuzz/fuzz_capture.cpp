// The capture reader on any bytes: it must end (End, Cut or Error) within the
// input, hand out every item in file order, and never read outside the input.
#include "support/mcap.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
[[noreturn]] void violation(const char* what, unsigned long long a, unsigned long long b)
{
    std::fprintf(stderr, "fuzz violation [capture]: %s (%llu, %llu)\n", what, a, b);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    mcap::MemorySource source(data, size);
    mcap::Reader reader(source);
    std::uint64_t last = 0;
    // Every item is a record of at least 9 bytes, so the input bounds them.
    for (std::size_t n = 0; n <= size; ++n) {
        const mcap::Reader::Item& item = reader.next();
        using K = mcap::Reader::Kind;
        if (item.offset > size || item.end > size || item.end < item.offset)
            violation("an item outside the input", item.offset, item.end);
        if (item.kind == K::End || item.kind == K::Cut || item.kind == K::Error)
            return 0;
        if (item.offset < last)
            violation("an item before the one handed out earlier", item.offset, last);
        last = item.offset;
        if ((item.kind == K::Message || item.kind == K::Schema) && item.size > item.end - item.offset)
            violation("a payload longer than its record", item.size, item.end - item.offset);
    }
    violation("no end after more items than the input has bytes", size, last);
}
