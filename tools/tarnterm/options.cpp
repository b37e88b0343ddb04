#include "options.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

#include "option_table.h"
#include "plot_series.h"

namespace tarnterm {
namespace {

// Reads the option at args[i] and applies it, moving `i` past a value
// given as the next argument when `valueMayFollow`; else the value is only
// one after '='. False with `error` set for a mistake.
bool ReadOption(Options& o, const std::vector<std::string>& args, std::size_t& i,
                bool valueMayFollow, std::string& error) {
    std::string spelling = args[i];
    std::string value;
    bool hasValue = false;
    const std::size_t equals = spelling.find('=');
    if (spelling.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        value = spelling.substr(equals + 1);
        spelling.resize(equals);
        hasValue = true;
    } else if (spelling.compare(0, 2, "--") != 0 && spelling.size() > 2 &&
               FindOption(spelling.substr(0, 2)) != nullptr) {
        // A short option with its value attached: -b9600.
        value = spelling.substr(2);
        spelling.resize(2);
        hasValue = true;
    }
    const Option* option = FindOption(spelling);
    if (option == nullptr) {
        error = "unknown option " + spelling + "; tarnterm --help lists the options";
        return false;
    }
    const std::string name = option->name;
    if (option->valueName == nullptr && hasValue) {
        error = name + " takes no value; write it alone";
        return false;
    }
    const bool optionalValue = option->valueName != nullptr && option->valueName[0] == '[';
    if (option->valueName != nullptr && !optionalValue && !hasValue) {
        if (i + 1 >= args.size() || !valueMayFollow) {
            error = name + " needs a value, such as " + name + " " + option->example;
            return false;
        }
        value = args[++i];
    }
    return option->apply(o, Argument{name, value, error});
}

// "  -b, --baud N          bits per second ...": the spellings, then the
// help from this column on.
constexpr std::size_t kHelpColumn = 24;

std::string UsageLine(const Option& option) {
    std::string line = "  ";
    if (option.alias != nullptr) line += std::string(option.alias) + ", ";
    line += option.name;
    if (option.valueName != nullptr) {
        line += std::string(option.valueName[0] == '[' ? "" : " ") + option.valueName;
    }
    line.resize(std::max(kHelpColumn, line.size() + 2), ' ');
    for (const char* c = option.help; *c != '\0'; ++c) {
        line += *c;
        if (*c == '\n') line.append(kHelpColumn, ' ');
    }
    return line + "\n";
}

// The checks of the modes against each other and against a port.
bool CheckModes(const Options& o, std::string& error) {
    if (o.json && o.mode != Mode::kList) {
        error = "--json goes with --list: tarnterm --list --json";
        return false;
    }
    if (o.mode == Mode::kReplayCheck && (!o.port.empty() || o.demo || !o.steps.empty())) {
        error = "--replay-check takes only its FILE; use tarnterm --replay-check FILE";
        return false;
    }
    if (o.mode == Mode::kReplayCheck) return true;
    if (o.mode == Mode::kList || o.mode == Mode::kWatch) {
        if (!o.port.empty() || o.demo || !o.steps.empty()) {
            error = o.mode == Mode::kList
                        ? "--list takes no port and no other mode; use tarnterm --list"
                        : "--watch takes no port and no other mode; use tarnterm --watch";
            return false;
        }
        return true;
    }
    if ((o.remote || o.serve) && !o.demo) {
        error = o.serve ? "--serve offers the demo instrument to other programs; add --demo: "
                          "tarnterm --demo --serve 4000"
                        : "--remote reaches the demo instrument over the network; add --demo: "
                          "tarnterm --demo --remote";
        return false;
    }
    if (o.serve && (o.remote || !o.steps.empty())) {
        error =
            "--serve runs no terminal and no script; leave out --remote and the steps, and "
            "connect another tarnterm to the port it serves";
        return false;
    }
    if (o.demo && !o.port.empty()) {
        error =
            "--demo connects to its own simulated instrument; leave out the port '" + o.port + "'";
        return false;
    }
    if (!o.demo && o.port.empty()) {
        error = "no port given; name one (tarnterm --list shows them) or try tarnterm --demo";
        return false;
    }
    return true;
}

// The checks of a session's settings against its steps and its line.
bool CheckSettings(const Options& o, std::string& error) {
    if (o.timestamps != StampKind::kNone && !o.steps.empty() && o.logFile.empty()) {
        error =
            "--timestamps stamps the lines the terminal shows and those of the log; a script "
            "shows none, so add --log FILE";
        return false;
    }
    bool waits = false;
    for (const Step& step : o.steps) {
        waits = waits || step.kind == Step::Kind::kExpect || step.kind == Step::Kind::kReadLine ||
                step.kind == Step::Kind::kExpectFrame;
    }
    // A script's --reconnect waits for its port within the time-out too.
    if (o.timeoutGiven && !waits && !(o.reconnect && !o.steps.empty())) {
        error =
            "--timeout limits --expect, --read-line, --expect-frame and a script's --reconnect; "
            "add one of them or leave it out";
        return false;
    }
    if (!o.steps.empty() && !(o.map.in.ChangesNothing() && o.map.out.ChangesNothing())) {
        error =
            "--map is for the interactive terminal; script steps send and wait for bytes as "
            "written";
        return false;
    }
    if ((!o.plotColumns.empty() || o.plotScale != PlotScale::kShared) &&
        o.plot == PlotMode::kNone && o.plotOut.empty()) {
        error = std::string(o.plotColumns.empty() ? "--plot-scale" : "--plot-columns") +
                " shapes the chart of --plot and --plot-out; add one of them";
        return false;
    }
    if (o.plot != PlotMode::kNone && !o.steps.empty()) {
        error =
            "--plot draws on the interactive terminal; a script has no screen, so use "
            "--plot-out FILE.svg";
        return false;
    }
    // The combinations that a serial line cannot frame.
    if (!IsValidWidthAndStop(o.line.dataBits, o.line.stopBits)) {
        error = o.line.stopBits == sb1_5Bits
                    ? "--stop 1.5 works only with --data 5; use --stop 1 or 2 with 6 to 8 data bits"
                    : "--stop 2 cannot be used with --data 5; use --stop 1 or 1.5";
        return false;
    }
    for (const Step& step : o.steps) {
        const Flow driver = step.text == "DTR" ? Flow::kDtrDsr : Flow::kRtsCts;
        if (step.kind == Step::Kind::kPulse && o.line.flow == driver) {
            error = "--pulse " + std::string(step.text == "DTR" ? "dtr" : "rts") +
                    " cannot turn a line that --flow " + FlowName(driver) +
                    " drives; pulse the other line or choose another --flow";
            return false;
        }
    }
    return true;
}

// What needs a framing has one.
bool CheckFrames(const Options& o, std::string& error) {
    if (o.frame.framing != frNone) return true;
    for (const Step& step : o.steps) {
        if (step.kind == Step::Kind::kSendFrame || step.kind == Step::Kind::kExpectFrame) {
            error = std::string(step.kind == Step::Kind::kSendFrame ? "--send-frame sends"
                                                                    : "--expect-frame waits for") +
                    " frames of the kind --frame names; add it, such as --frame cobs";
            return false;
        }
    }
    if (o.frame.maxLength != 0) {
        error = "--max-frame limits the frames of --frame; add --frame KIND or leave it out";
        return false;
    }
    return true;
}

// The checks between options, made once all are known.
bool CheckCombination(const Options& o, std::string& error) {
    if (o.mode == Mode::kHelp || o.mode == Mode::kVersion) return true;
    if (!CheckModes(o, error)) return false;
    if (o.mode == Mode::kList || o.mode == Mode::kWatch || o.mode == Mode::kReplayCheck) {
        return true;
    }
    return CheckSettings(o, error) && CheckFrames(o, error);
}

}  // namespace

namespace {

// How the reading takes a port argument, given by its index: false ends
// the reading, a mistake when `error` is set.
using PortArgument = std::function<bool(std::size_t index, std::string& error)>;

// Reads `args` into `o` in order. The first `ownValuesOnly` arguments (a
// profile's) take no value from the argument after them. False with
// `error` set for a mistake.
bool ReadArguments(const std::vector<std::string>& args, Options& o, std::string& error,
                   const PortArgument& port, std::size_t ownValuesOnly = 0) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!port(i, error)) return error.empty();
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!ReadOption(o, args, i, i >= ownValuesOnly, error)) return false;
    }
    return true;
}

// `args` with the first port argument that names a profile replaced by
// the profile's arguments, put first, so that the command line has the
// last word; `args` itself when none does.
std::vector<std::string> WithProfile(const std::vector<std::string>& args, const Profiles& profiles,
                                     std::string& name) {
    std::size_t at = args.size();
    Options scratch;
    std::string ignored;
    ReadArguments(args, scratch, ignored, [&](std::size_t i, std::string&) {
        if (profiles.count(args[i]) == 0) return true;
        at = i;
        return false;
    });
    if (at == args.size()) return args;
    name = args[at];
    std::vector<std::string> expanded = profiles.at(name);
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i != at) expanded.push_back(args[i]);
    }
    return expanded;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args, const Profiles& profiles) {
    ParseResult result;
    Options& o = result.options;
    const std::vector<std::string> used = WithProfile(args, profiles, o.profile);
    const std::size_t fromProfile = o.profile.empty() ? 0 : profiles.at(o.profile).size();
    const bool read = ReadArguments(
        used, o, result.error,
        [&](std::size_t i, std::string& error) {
            if (!o.port.empty()) {
                error = "only one port can be given, not '" + o.port + "' and '" + used[i] + "'";
                return false;
            }
            o.port = used[i];
            return true;
        },
        fromProfile);
    if (!read || !CheckCombination(o, result.error)) return result;
    // Frames of the binary framings would be noise as text: they show in
    // hexadecimal unless --display says otherwise.
    if (o.frame.framing != frNone && !o.frame.IsText() && !o.displayGiven) {
        o.display = DisplayMode::kHex;
    }
    result.ok = true;
    return result;
}

bool ProfileArgument(const std::string& name, bool hasValue, const std::string& value,
                     std::string& argument, std::string& error) {
    const Option* option = FindOption("--" + name);
    if (option == nullptr) {
        error = "'" + name +
                "' is no option; an entry is an option's long name, such as baud = 9600, or port";
        return false;
    }
    if (option->valueName != nullptr && option->valueName[0] != '[' && !hasValue) {
        error = "'" + name + "' needs a value, such as " + name + " = " + option->example;
        return false;
    }
    argument = "--" + name + (hasValue ? "=" + value : "");
    // Applied to options of its own, so that a value the command line would
    // refuse is reported with its line.
    Options scratch;
    std::size_t at = 0;
    return ReadOption(scratch, {argument}, at, false, error);
}

std::string ApplyMap(const ByteMap& map, const std::string& bytes) {
    if (map.ChangesNothing()) return bytes;
    std::string mapped;
    for (const char c : bytes) {
        if (c == '\r') {
            mapped += map.cr;
        } else if (c == '\n') {
            mapped += map.lf;
        } else {
            mapped += c;
        }
    }
    return mapped;
}

std::string DescribeLineSettings(const LineSettings& line) {
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char* const kStop[] = {"1", "1.5", "2"};
    std::string text = std::to_string(line.baud) + " ";
    text += static_cast<char>('5' + (line.dataBits - dw5Bits));
    text += kParity[line.parity];
    text += kStop[line.stopBits];
    text += ", flow ";
    text += FlowName(line.flow);
    return text;
}

const char* FlowName(Flow flow) {
    static const char* const kFlow[] = {"none", "rtscts", "dtrdsr", "xonxoff"};
    return kFlow[static_cast<int>(flow)];
}

const char* EnterKeyName(EnterKey enter) {
    switch (enter) {
        case EnterKey::kCr:
            return "CR";
        case EnterKey::kLf:
            return "LF";
        case EnterKey::kCrLf:
            break;
    }
    return "CR LF";
}

const char* DisplayModeName(DisplayMode mode) {
    switch (mode) {
        case DisplayMode::kRaw:
            return "raw";
        case DisplayMode::kNames:
            return "control characters named";
        case DisplayMode::kHex:
            break;
    }
    return "hexadecimal";
}

std::string EnterKeyBytes(EnterKey enter) {
    switch (enter) {
        case EnterKey::kCr:
            return "\r";
        case EnterKey::kLf:
            return "\n";
        case EnterKey::kCrLf:
            break;
    }
    return "\r\n";
}

std::string UsageText() {
    std::string text =
        R"(usage: tarnterm PORT [options]              interactive terminal on PORT
       tarnterm PORT STEP... [options]      script: send, wait, read, then exit
       tarnterm PROFILE [STEP...] [options] a profile of the configuration file
       tarnterm --demo [STEP...] [options]  the same on a simulated instrument
       tarnterm --demo --serve [HOST:]PORT  the instrument for other programs
       tarnterm --list [--json]             the serial ports present
       tarnterm --watch                     ports as they come and go
       tarnterm --replay-check FILE         whether a recording replays as recorded

PORT is COM1 to COM254 or a device name or path, such as /dev/ttyUSB0 or
/dev/serial/by-id/..., or usb:VID:PID[:SERIAL] for the first port whose USB
ids (in hexadecimal) and serial number match, or rfc2217://HOST:PORT for a
port on another machine, or replay://FILE[?OPTIONS] for a recorded session
played back (options mode=conversation|timed, speed=N|max, end=quiet|remove).

PROFILE is a [heading] of the configuration file, tarnterm/config in
$XDG_CONFIG_HOME, %APPDATA% or ~/.config, under which each line is an option
without its dashes (baud = 9600, timestamps = delta, echo) or port = PORT.
)";
    for (const OptionGroup& group : OptionGroups()) {
        text += std::string("\n") + group.heading + ":\n";
        for (const Option& option : group.options) text += UsageLine(option);
        if (group.note != nullptr) text += std::string("  ") + group.note + "\n";
    }
    return text + R"(
Exit status: 0 done, 1 connection failed, 2 invalid command line or setting,
3 time-out, 4 no such port, 5 port busy or access denied, 6 not a serial port,
7 port could not be opened otherwise, 8 sent bytes did not leave the port in
time, 9 the recording of --replay-check is bad or does not replay as
recorded, 128+N stopped by signal N.
)";
}

}  // namespace tarnterm
