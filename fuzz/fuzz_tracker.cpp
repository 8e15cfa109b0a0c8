// The tracker's option lines through init, configure, a few cycles of
// simulated motion and stop, against a simulated tracker with injected
// faults. The first input line is the simulator's scenario (for example
// "fail=SetSDataList:0x20040003"), every further line one option line.
// A calibration line always names the example library.
#include "fuzz/harness.h"

namespace {
int runOne(const std::uint8_t* data, std::size_t size)
{
    if (std::memchr(data, '\0', size))
        return 0; // option texts are C strings
    const std::vector<std::string> lines = fuzzhelp::splitLines(data, size);
    fuzzhelp::DeviceRun run(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> words = fuzzhelp::splitWords(lines[i]);
        if (words.empty())
            continue;
        std::string keyword = words[0];
        for (char& c : keyword)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((keyword == "calibration" || keyword == "calib") && words.size() > 1)
            words[1] = fuzzhelp::CalibLib::get().path;
        if (!run.options().add(words, static_cast<unsigned>(i + 1)))
            break;
    }
    if (run.init() != 1)
        return 0;
    OvTrackD& d = run.dev();
    d.configure();
    d.start();
    for (int i = 0; i < 4; ++i) {
        otksim::PushMotionFrame(testhelp::simOf(d));
        run.cycle();
    }
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzhelp::runTolerating(runOne, data, size);
}
