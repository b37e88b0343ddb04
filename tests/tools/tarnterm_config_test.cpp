// tarnterm's configuration file: where it is, its profiles, and a profile
// named on the command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "config.h"
#include "demo_instrument.h"
#include "exit_status.h"
#include "fake_console.h"
#include "options.h"
#include "program.h"

namespace {

using tarnterm::Profiles;

TEST(TarntermConfig, LivesInTheUsersConfigurationFolder) {
    const std::string tail = (std::filesystem::path("tarnterm") / "config").u8string();
    const struct {
        std::map<std::string, std::string> variables;
        std::string folder;
    } cases[] = {
        {{{"XDG_CONFIG_HOME", "/x"}, {"APPDATA", "/a"}, {"HOME", "/h"}}, "/x"},
        {{{"XDG_CONFIG_HOME", ""}, {"APPDATA", "/a"}, {"HOME", "/h"}}, "/a"},
        {{{"HOME", "/h"}}, (std::filesystem::u8path("/h") / ".config").u8string()},
        {{}, ""},
    };
    for (const auto& c : cases) {
        const std::string path = tarnterm::ConfigFilePath([&](const char* name) -> const char* {
            const auto found = c.variables.find(name);
            return found == c.variables.end() ? nullptr : found->second.c_str();
        });
        EXPECT_EQ(path,
                  c.folder.empty() ? "" : (std::filesystem::u8path(c.folder) / tail).u8string());
    }
}

TEST(TarntermConfig, ReadsProfilesAndNamesTheLineOfAMistake) {
    Profiles profiles;
    std::string error;
    ASSERT_TRUE(
        tarnterm::ParseConfig("# bench\n\n[bench]\r\nport = /dev/ttyUSB0\n  baud=9600\n"
                              "timestamps = delta\necho\n; next\n[ demo ]\ndemo\n",
                              "config", profiles, error))
        << error;
    EXPECT_EQ(profiles,
              (Profiles{{"bench", {"/dev/ttyUSB0", "--baud=9600", "--timestamps=delta", "--echo"}},
                        {"demo", {"--demo"}}}));
    const struct {
        const char* text;
        const char* says;
    } mistakes[] = {
        {"baud = 9600\n", "config:1: 'baud' stands before the first profile"},
        {"[a]\n[a]\n", "config:2: the profile a is given twice"},
        {"[a\n", "config:1: a profile's heading is its name in brackets"},
        {"[a]\n\nspeed = 9600\n", "config:3: 'speed' is no option"},
        // A value is checked where it is written, and never taken from the
        // next line.
        {"[a]\nbaud = abc\n", "config:2: --baud 'abc' is not a rate"},
        {"[a]\nlog\nbaud = 9600\n", "config:2: 'log' needs a value, such as log = traffic.log"},
        {"[a]\necho = yes\n", "config:2: --echo takes no value"},
        {"[a]\nport\n", "config:2: 'port' needs a value"},
    };
    for (const auto& mistake : mistakes) {
        Profiles none;
        EXPECT_FALSE(tarnterm::ParseConfig(mistake.text, "config", none, error)) << mistake.text;
        EXPECT_EQ(error.rfind(mistake.says, 0), 0u) << error;
    }
}

// A profile's options come first wherever it is named, so that the command
// line has the last word.
TEST(TarntermConfig, AProfileStandsForItsOptions) {
    const Profiles profiles = {{"bench", {"/dev/ttyUSB0", "--baud=9600", "--map=icrnl"}}};
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"bench", "-b", "19200"}, {"-b", "19200", "bench"}}) {
        const auto parsed = tarnterm::ParseCommandLine(args, profiles);
        ASSERT_TRUE(parsed.ok) << parsed.error;
        EXPECT_EQ(parsed.options.profile, "bench");
        EXPECT_EQ(parsed.options.port, "/dev/ttyUSB0");
        EXPECT_EQ(parsed.options.line.baud, 19200);
        EXPECT_EQ(parsed.options.map.in.cr, "\n");
    }
    EXPECT_EQ(tarnterm::ParseCommandLine({"COM3"}, profiles).options.port, "COM3");
    // A profile's option takes no value from the argument after it.
    const auto swallowing =
        tarnterm::ParseCommandLine({"log", "--baud=9600"}, {{"log", {"--log"}}});
    EXPECT_FALSE(swallowing.ok);
    EXPECT_EQ(swallowing.error.rfind("--log needs a value", 0), 0u) << swallowing.error;

    // The whole program, from a file.
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "tarnterm_test_config";
    std::ofstream(file) << "[idn]\ndemo\nsend = *IDN?\\r\nread-line\ntimeout = 30\n";
    tarn::test::FakeConsole console;
    EXPECT_EQ(tarnterm::RunProgram({"idn"}, console, file.u8string()), tarnterm::kExitOk)
        << console.Err();
    EXPECT_EQ(console.Out(), std::string(tarnterm::DemoInstrument::kIdentity) + "\n");
    std::ofstream(file) << "[idn]\nspeed = 1\n";
    tarn::test::FakeConsole broken;
    EXPECT_EQ(tarnterm::RunProgram({"idn"}, broken, file.u8string()), tarnterm::kExitUsage);
    EXPECT_EQ(broken.Err().rfind("tarnterm: " + file.u8string() + ":2: 'speed' is no option", 0),
              0u)
        << broken.Err();
    std::filesystem::remove(file);
}

}  // namespace
