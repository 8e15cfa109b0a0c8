#include "trackhost/arguments.h"

#include "trackhost/text.h"

#include <cstdlib>
#include <cstring>

namespace trackhost {

const char* usageText()
{
    return "usage: trackhost [--cycles N] [--period MS] [--quiet] [--json PATH|-] [--stats] [--stats-every S]\n"
           "                 [--live] [--plot PATH] [--replay CAPTURE [--speed X] [--loop]] CONFIG\n"
           "       trackhost --check CONFIG\n"
           "       trackhost --sdk [MODULE]\n"
           "       trackhost --capture-info CAPTURE\n"
           "  --cycles N        run N host cycles (default: until interrupted)\n"
           "  --period MS       pause between cycles in milliseconds (default 10)\n"
           "  --quiet           do not show the records\n"
           "  --json PATH       also write each rewritten record as one JSON line ('-': standard output)\n"
           "  --stats           at the end, per device and id: records, rate, longest gap, recvData\n"
           "                    failures, age of the records when read (p50/p99/max)\n"
           "  --stats-every S   the same every S seconds while running (implies --stats)\n"
           "  --live            one line per record id, redrawn in place (plain lines when not a terminal)\n"
           "  --plot PATH       write an SVG picture of the run: top view, position and angles over time\n"
           "  --check           create, init, stop and delete every device without streaming; name every\n"
           "                    option line no parser took and every refused line; exit 0 only when clean\n"
           "  --sdk [MODULE]    load the tracker SDK as MODULE (default: tarsis beside trackhost) would;\n"
           "                    show where it looked, what each member was bound to and the storage each\n"
           "                    SDK object needs; exit 0 only when all is bound\n"
           "  --replay CAPTURE  run CONFIG against a capture through the simulated tracker SDK; without\n"
           "                    --cycles the run ends with the capture\n"
           "  --speed X         replay at X times the recorded pace (0.01 to 1000, default 1)\n"
           "  --loop            replay the capture again and again (until Ctrl-C or --cycles)\n"
           "  --capture-info CAPTURE  summarise a capture: tracker, duration, frames, rate, stations, gaps,\n"
           "                    frames left out; exit 0 only for a complete capture\n";
}

namespace {

// A whole argument that is a decimal number no larger than limit.
bool readWholeNumber(const char* text, unsigned long long limit, unsigned long long& value)
{
    const std::string digits = text;
    std::size_t pos = 0;
    return readDecimal(digits, pos, limit, value) && pos == digits.size();
}

} // namespace

bool parseArguments(int argc, const char* const* argv, Options& options, bool& help, std::string& error)
{
    help = false;
    bool haveConfig = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "--cycles" || arg == "--period" || arg == "--json" || arg == "--stats-every" ||
                                arg == "--plot" || arg == "--replay" || arg == "--speed" || arg == "--capture-info";
        if (takesValue && i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        unsigned long long n = 0;
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--sdk") {
            if (i != 1 || argc > 3 || (argc == 3 && (!*argv[2] || argv[2][0] == '-'))) {
                error = "--sdk takes a module at most, no configuration file and no other option";
                return false;
            }
            options.sdk = true;
            if (argc == 3)
                options.sdkModule = argv[2];
            return true;
        } else if (arg == "--capture-info") {
            if (argc != 3) {
                error = "--capture-info takes a capture and nothing else";
                return false;
            }
            options.captureInfoPath = argv[++i];
            if (options.captureInfoPath.empty()) {
                error = "--capture-info needs a path";
                return false;
            }
            return true;
        } else if (arg == "--replay") {
            options.replayPath = argv[++i];
            if (options.replayPath.empty()) {
                error = "--replay needs a path";
                return false;
            }
        } else if (arg == "--speed") {
            const char* text = argv[++i];
            char* end = nullptr;
            const double speed = std::strtod(text, &end);
            if (!*text || *end || !(speed >= 0.01 && speed <= 1000) ||
                std::strspn(text, "0123456789.") != std::strlen(text)) {
                error = std::string("bad --speed '") + text + "' (0.01 to 1000)";
                return false;
            }
            options.speed = speed;
        } else if (arg == "--loop") {
            options.loop = true;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--live") {
            options.live = true;
        } else if (arg == "--stats-every") {
            const char* text = argv[++i];
            char* end = nullptr;
            const double seconds = std::strtod(text, &end);
            // Written out as a plain number: no "inf", "nan" or hexadecimal.
            if (!*text || *end || !(seconds >= 0.1 && seconds <= 86400) ||
                std::strspn(text, "0123456789.") != std::strlen(text)) {
                error = std::string("bad --stats-every seconds '") + text + "' (0.1 to 86400)";
                return false;
            }
            options.statsEvery = seconds;
            options.stats = true;
        } else if (arg == "--plot") {
            options.plotPath = argv[++i];
            if (options.plotPath.empty()) {
                error = "--plot needs a path";
                return false;
            }
        } else if (arg == "--cycles") {
            if (!readWholeNumber(argv[++i], 1000000000ull, n)) {
                error = std::string("bad cycle count '") + argv[i] + "'";
                return false;
            }
            options.cycles = static_cast<long long>(n);
        } else if (arg == "--period") {
            if (!readWholeNumber(argv[++i], 60000ull, n)) {
                error = std::string("bad period '") + argv[i] + "'";
                return false;
            }
            options.periodMs = static_cast<unsigned>(n);
        } else if (arg == "--json") {
            options.jsonPath = argv[++i];
            if (options.jsonPath.empty()) {
                error = "--json needs a path";
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (haveConfig) {
            error = "only one configuration file, please";
            return false;
        } else {
            options.configPath = arg;
            haveConfig = true;
        }
    }
    if (!haveConfig) {
        error = "no configuration file given";
        return false;
    }
    if (options.check && (options.stats || options.live || !options.plotPath.empty() || !options.jsonPath.empty() ||
                          options.cycles >= 0)) {
        error = "--check runs no cycles: it takes no --cycles, --json, --stats, --live or --plot";
        return false;
    }
    if (options.replayPath.empty() && (options.loop || options.speed != 1.0)) {
        error = "--speed and --loop belong to --replay";
        return false;
    }
    if (options.check && !options.replayPath.empty()) {
        error = "--check runs no cycles: it takes no --replay";
        return false;
    }
    if (options.live && options.jsonPath == "-") {
        error = "--live and --json - both want standard output";
        return false;
    }
    return true;
}

} // namespace trackhost
