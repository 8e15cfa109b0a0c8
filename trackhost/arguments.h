// The harness's command line: what a run is asked to do, read from the
// arguments, and the usage text shown for a bad command line or --help.
#pragma once

#include <cstdint>
#include <string>

namespace trackhost {

struct Options {
    long long cycles = -1; // -1: until interrupted
    unsigned periodMs = 10;
    bool quiet = false;
    std::string jsonPath; // empty: none; "-": standard output
    std::string configPath;
    bool check = false;   // create, init, stop and delete only; judge the option lines
    bool sdk = false;     // no configuration: load and bind the tracker SDK, say how it went
    std::string sdkModule = "tarsis"; // --sdk searches as this module would (a path, or a name beside trackhost)
    bool stats = false;   // figures per device and id at the end
    double statsEvery = 0; // seconds between figures while running; 0: none
    bool live = false;    // one line per record id, redrawn in place on a terminal
    std::string plotPath; // SVG picture of the run; empty: none
    std::string captureInfoPath; // no configuration: summarise this capture
    std::string replayPath;      // run the configuration against this capture
    double speed = 1.0;          // of the replay
    bool loop = false;           // replay from the start again after the end
    double runSeconds = 0;       // end the run after this long; 0: no limit
    // The host's reading clock in microseconds since 1970; null: the system clock.
    std::int64_t (*clock)() = nullptr;
    // The clock that times each recvData call for --stats, in microseconds;
    // null: a steady clock.
    std::int64_t (*callClock)() = nullptr;
    // Whether standard output is a terminal, for --live; null: ask the system.
    bool (*isTerminal)() = nullptr;
    // Called before each cycle with its number (tests push tracker frames here).
    void (*beforeCycle)(unsigned long cycle) = nullptr;
};

const char* usageText();
// False with error set for a bad command line; help is set for --help.
bool parseArguments(int argc, const char* const* argv, Options& options, bool& help, std::string& error);

} // namespace trackhost
