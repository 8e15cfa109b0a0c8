// Frames of any shape and content pushed through update of a device without
// transforms; every record written must be the exact sample it came from.
#include "fuzz/frames.h"

namespace {
int runOne(const std::uint8_t* data, std::size_t size)
{
    fuzzhelp::runFrames(data, size, nullptr);
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzhelp::runTolerating(runOne, data, size);
}
