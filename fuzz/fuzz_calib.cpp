// The example calibration library inside the device: the input's first lines
// (up to an empty line, at most ten) are the calibration line's arguments, the
// rest are frames as for the frames target. Every written record must be the
// library's correction of its sample, and only a finite one may be written.
#include "fuzz/frames.h"

namespace {
int runOne(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args;
    std::size_t at = 0;
    while (at < size && args.size() < 10) {
        std::size_t end = at;
        while (end < size && data[end] != '\n')
            ++end;
        if (end == at || end == size) {
            at = end == size ? size : end + 1;
            break;
        }
        std::string arg(reinterpret_cast<const char*>(data + at), end - at);
        if (arg.find('\0') != std::string::npos)
            return 0; // option texts are C strings
        args.push_back(arg);
        at = end + 1;
    }
    fuzzhelp::runFrames(data + at, size - at, &args);
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzhelp::runTolerating(runOne, data, size);
}
