// trackhost: a small stand-in for the host tracking daemon. It reads a
// configuration file, loads the device modules it names and drives them
// through their slots, showing the tracker records they write.
#include "trackhost/arguments.h"
#include "trackhost/capture.h"
#include "trackhost/devices.h"
#include "trackhost/host.h"
#include "trackhost/sdkcheck.h"

#include <csignal>
#include <iostream>
#include <string>

namespace {
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) { g_interrupted = 1; }
} // namespace

int main(int argc, char** argv)
{
    trackhost::Options options;
    bool help = false;
    std::string error;
    if (!trackhost::parseArguments(argc, argv, options, help, error)) {
        std::cerr << "trackhost: " << error << '\n' << trackhost::usageText();
        return 2;
    }
    if (help) {
        std::cout << trackhost::usageText();
        return 0;
    }
    if (options.sdk)
        return trackhost::checkSdk(std::cout, trackhost::resolveModule(options.sdkModule));
    if (!options.captureInfoPath.empty())
        return trackhost::captureInfo(options.captureInfoPath, std::cout, std::cerr);
    if (!options.replayPath.empty() && !trackhost::prepareReplay(options, std::cerr))
        return 1;
    // Ctrl-C ends the cycle loop; the devices are then stopped and deleted.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    return trackhost::run(options, std::cout, std::cerr, &g_interrupted);
}
