// The harness's configuration reader and command line.
#include "trackhost/config.h"
#include "trackhost/arguments.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using trackhost::DeviceList;

namespace {

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> words;
    std::string error;
    EXPECT_TRUE(trackhost::splitLine(line, words, error)) << line;
    return words;
}

std::string parseError(const std::string& text)
{
    DeviceList devices;
    std::string error;
    EXPECT_FALSE(trackhost::parseConfig(text, "x.cfg", devices, error));
    EXPECT_TRUE(devices.empty());
    return error;
}

std::string repeat(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

} // namespace

TEST(TrackhostSplit, BlanksQuotesAndComments)
{
    struct Case {
        const char* line;
        std::vector<std::string> words;
    } cases[] = {
        {"", {}},
        {"   \t  ", {}},
        {"# only a comment", {}},
        {"baud 9600", {"baud", "9600"}},
        {"  sensoroffset\t1  2   3  ", {"sensoroffset", "1", "2", "3"}},
        {"reset no\r", {"reset", "no"}},
        {"calibration \"my lib.so\" arg", {"calibration", "my lib.so", "arg"}},
        {"name \"\" last", {"name", "", "last"}},
        {"a\"b c\"d e", {"ab cd", "e"}},
        {"hemisphere +z # the upper half", {"hemisphere", "+z"}},
        {"path#tail", {"path"}},
        {"text \"a # in quotes\"", {"text", "a # in quotes"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(split(c.line), c.words) << "line: " << c.line;
}

TEST(TrackhostSplit, UnterminatedQuoteIsAnError)
{
    std::vector<std::string> words;
    std::string error;
    EXPECT_FALSE(trackhost::splitLine("calibration \"lib.so arg", words, error));
    EXPECT_EQ(error, "unterminated quote");
}

TEST(TrackhostConfig, DevicesWithOptionsAndLineNumbers)
{
    const std::string text = "# two devices\n"
                             "\n"
                             "device tarsis0 tarsis\n"
                             "  baud 115200   # fast\n"
                             "  sensoroffset 1 \"2\" 3\n"
                             "\r\n"
                             "DEVICE other ./lib/other.so\n"
                             "  reset\n";
    DeviceList devices;
    std::string error;
    ASSERT_TRUE(trackhost::parseConfig(text, "x.cfg", devices, error)) << error;
    ASSERT_EQ(devices.size(), 2u);

    const DeviceConfig* first = devices[0]->config();
    EXPECT_EQ(devices[0]->module(), "tarsis");
    EXPECT_EQ(devices[0]->line(), 3u);
    EXPECT_STREQ(first->deviceName, "tarsis0");
    ASSERT_EQ(first->optionCount, 2u);
    EXPECT_EQ(first->options[0].lineNumber, 4u);
    EXPECT_STREQ(first->options[0].name, "baud");
    ASSERT_EQ(first->options[0].argCount, 1);
    EXPECT_STREQ(first->options[0].args[0], "115200");
    EXPECT_EQ(first->options[1].lineNumber, 5u);
    ASSERT_EQ(first->options[1].argCount, 3);
    EXPECT_STREQ(first->options[1].args[1], "2");
    EXPECT_EQ(first->options[1].consumed, 0);

    const DeviceConfig* second = devices[1]->config();
    EXPECT_EQ(devices[1]->module(), "./lib/other.so");
    EXPECT_STREQ(second->deviceName, "other");
    ASSERT_EQ(second->optionCount, 1u);
    EXPECT_EQ(second->options[0].lineNumber, 8u);
    EXPECT_EQ(second->options[0].argCount, 0);

    // The texts stay where they are when the list itself moves on.
    const char* name = first->options[0].name;
    DeviceList moved = std::move(devices);
    EXPECT_EQ(moved[0]->config()->options[0].name, name);
    EXPECT_STREQ(name, "baud");
}

TEST(TrackhostConfig, LimitsOfOneDevice)
{
    const std::string args64 = "many" + repeat(" a", 64) + "\n";
    DeviceList devices;
    std::string error;
    ASSERT_TRUE(trackhost::parseConfig("device d m\n" + args64 + repeat("opt\n", 31), "x.cfg", devices, error))
        << error;
    EXPECT_EQ(devices[0]->config()->optionCount, 32u);
    EXPECT_EQ(devices[0]->config()->options[0].argCount, 64);

    EXPECT_EQ(parseError("device d m\n" + repeat("opt\n", 32) + "one too many\n"),
              "x.cfg:34: more than 32 options for device d");
    EXPECT_EQ(parseError("device d m\nmany" + repeat(" a", 65) + "\n"), "x.cfg:2: more than 64 arguments on one line");
    // The limit counts per device, not per file.
    EXPECT_TRUE(trackhost::parseConfig("device a m\n" + repeat("opt\n", 32) + "device b m\n" + repeat("opt\n", 32),
                                       "x.cfg", devices, error))
        << error;
}

TEST(TrackhostConfig, ErrorsNameFileAndLine)
{
    EXPECT_EQ(parseError("# header\n\nbaud 9600\ndevice d m\n"), "x.cfg:3: option line before any device");
    EXPECT_EQ(parseError("device d m\ncalibration \"lib.so\n"), "x.cfg:2: unterminated quote");
    EXPECT_EQ(parseError("device d m\n\"\" 9600\n"), "x.cfg:2: empty keyword");
    EXPECT_EQ(parseError("device d\n"), "x.cfg:1: device line needs a name and a module");
    EXPECT_EQ(parseError("device d m extra\n"), "x.cfg:1: device line needs a name and a module");
    EXPECT_EQ(parseError("device \"\" m\n"), "x.cfg:1: device line needs a name and a module");
    EXPECT_EQ(parseError("device d m\ndevice d m\n"), "x.cfg:2: device d already defined on line 1");
    EXPECT_EQ(parseError("# nothing here\n"), "x.cfg: no device defined");
    EXPECT_EQ(parseError(""), "x.cfg: no device defined");
}

TEST(TrackhostConfig, ReadsFilesAndReportsUnreadableOnes)
{
    const std::string path = "trackhost-config-test.cfg";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("device d0 fakedev\r\nbaud 9600\r\n", f);
    std::fclose(f);
    DeviceList devices;
    std::string error;
    EXPECT_TRUE(trackhost::readConfigFile(path, devices, error)) << error;
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_STREQ(devices[0]->config()->options[0].args[0], "9600");
    std::remove(path.c_str());

    EXPECT_FALSE(trackhost::readConfigFile("no-such-dir/none.cfg", devices, error));
    EXPECT_EQ(error.rfind("no-such-dir/none.cfg: cannot read: ", 0), 0u) << error;
}

TEST(TrackhostConfig, WhatTheReaderRefusesOrSkips)
{
    DeviceList devices;
    std::string error;
    // A byte-order mark is skipped: the first line is still a device line.
    ASSERT_TRUE(trackhost::parseConfig("\xEF\xBB\xBF" "device d m\n", "x.cfg", devices, error)) << error;
    EXPECT_EQ(devices[0]->name(), "d");
    EXPECT_EQ(parseError(std::string("device d m\nbaud 96\0" "00\n", 20)), "x.cfg:2: NUL byte in the line: not a text file?");

    // Over 1 MiB: refused, naming the line that runs past the limit.
    const std::string path = "trackhost-config-big.cfg";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string line = "# " + std::string(1021, 'x') + "\n"; // 1024 bytes
        for (int i = 0; i < 1024; ++i)
            std::fputs(line.c_str(), f);
        std::fputs("device d m\n", f);
        std::fclose(f);
    }
    EXPECT_FALSE(trackhost::readConfigFile(path, devices, error));
    EXPECT_EQ(error, path + ":1025: file larger than 1048576 bytes (1 MiB): not a configuration?");
    std::remove(path.c_str());

    // As many devices as a host takes, and not one more.
    std::string many;
    for (unsigned i = 0; i < trackhost::kMaxDevices; ++i)
        many += "device d" + std::to_string(i) + " m\n";
    ASSERT_TRUE(trackhost::parseConfig(many, "x.cfg", devices, error)) << error;
    EXPECT_EQ(devices.size(), std::size_t(trackhost::kMaxDevices));
    EXPECT_EQ(parseError(many + "device d17 m\n"), "x.cfg:257: device d17 already defined on line 18");
    EXPECT_EQ(parseError(many + "device x m\n"), "x.cfg:257: more than 256 devices");
}

TEST(TrackhostArguments, OptionsAndUsageErrors)
{
    trackhost::Options options;
    bool help = false;
    std::string error;
    const char* full[] = {"trackhost", "--cycles", "20", "--period", "5", "--quiet", "--json", "-", "a.cfg"};
    ASSERT_TRUE(trackhost::parseArguments(9, full, options, help, error)) << error;
    EXPECT_EQ(options.cycles, 20);
    EXPECT_EQ(options.periodMs, 5u);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.jsonPath, "-");
    EXPECT_EQ(options.configPath, "a.cfg");
    EXPECT_FALSE(help);

    trackhost::Options field;
    const char* fieldArgs[] = {"trackhost", "--stats-every", "2.5", "--live", "--plot", "run.svg", "a.cfg"};
    ASSERT_TRUE(trackhost::parseArguments(7, fieldArgs, field, help, error)) << error;
    EXPECT_TRUE(field.stats);
    EXPECT_DOUBLE_EQ(field.statsEvery, 2.5);
    EXPECT_TRUE(field.live);
    EXPECT_EQ(field.plotPath, "run.svg");
    trackhost::Options checking;
    const char* checkArgs[] = {"trackhost", "--check", "a.cfg"};
    ASSERT_TRUE(trackhost::parseArguments(3, checkArgs, checking, help, error)) << error;
    EXPECT_TRUE(checking.check);

    trackhost::Options defaults;
    const char* plain[] = {"trackhost", "a.cfg"};
    ASSERT_TRUE(trackhost::parseArguments(2, plain, defaults, help, error));
    EXPECT_EQ(defaults.cycles, -1);
    EXPECT_EQ(defaults.periodMs, 10u);
    EXPECT_FALSE(defaults.quiet);
    EXPECT_TRUE(defaults.jsonPath.empty());

    trackhost::Options sdkOnly;
    const char* sdkArgs[] = {"trackhost", "--sdk"};
    ASSERT_TRUE(trackhost::parseArguments(2, sdkArgs, sdkOnly, help, error)) << error;
    EXPECT_TRUE(sdkOnly.sdk);
    EXPECT_EQ("tarsis", sdkOnly.sdkModule);
    trackhost::Options sdkAs;
    const char* sdkModuleArgs[] = {"trackhost", "--sdk", "plugins/tarsis.so"};
    ASSERT_TRUE(trackhost::parseArguments(3, sdkModuleArgs, sdkAs, help, error)) << error;
    EXPECT_EQ("plugins/tarsis.so", sdkAs.sdkModule);

    const char* helpArgs[] = {"trackhost", "--help"};
    EXPECT_TRUE(trackhost::parseArguments(2, helpArgs, defaults, help, error));
    EXPECT_TRUE(help);

    struct Bad {
        std::vector<const char*> argv;
        const char* error;
    } bad[] = {
        {{"trackhost"}, "no configuration file given"},
        {{"trackhost", "--cycles"}, "--cycles needs a value"},
        {{"trackhost", "--cycles", "-3", "a.cfg"}, "bad cycle count '-3'"},
        {{"trackhost", "--cycles", "12x", "a.cfg"}, "bad cycle count '12x'"},
        {{"trackhost", "--period", "99999999", "a.cfg"}, "bad period '99999999'"},
        {{"trackhost", "--json", "", "a.cfg"}, "--json needs a path"},
        {{"trackhost", "--verbose", "a.cfg"}, "unknown option --verbose"},
        {{"trackhost", "a.cfg", "b.cfg"}, "only one configuration file, please"},
        {{"trackhost", "--stats-every", "0", "a.cfg"}, "bad --stats-every seconds '0' (0.1 to 86400)"},
        {{"trackhost", "--stats-every", "inf", "a.cfg"}, "bad --stats-every seconds 'inf' (0.1 to 86400)"},
        {{"trackhost", "--stats-every", "2s", "a.cfg"}, "bad --stats-every seconds '2s' (0.1 to 86400)"},
        {{"trackhost", "--stats-every"}, "--stats-every needs a value"},
        {{"trackhost", "--plot", "", "a.cfg"}, "--plot needs a path"},
        {{"trackhost", "--check", "--cycles", "3", "a.cfg"},
         "--check runs no cycles: it takes no --cycles, --json, --stats, --live or --plot"},
        {{"trackhost", "--live", "--json", "-", "a.cfg"}, "--live and --json - both want standard output"},
        {{"trackhost", "--sdk", "tarsis", "a.cfg"}, "--sdk takes a module at most, no configuration file and no other option"},
        {{"trackhost", "--sdk", "--quiet"}, "--sdk takes a module at most, no configuration file and no other option"},
        {{"trackhost", "--quiet", "--sdk"}, "--sdk takes a module at most, no configuration file and no other option"},
    };
    for (const Bad& b : bad) {
        trackhost::Options o;
        EXPECT_FALSE(trackhost::parseArguments(static_cast<int>(b.argv.size()), b.argv.data(), o, help, error));
        EXPECT_EQ(error, b.error);
    }
}
