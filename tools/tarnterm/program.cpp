#include "program.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Tarnserialport.h"
#include "connection.h"
#include "demo_instrument.h"
#include "demo_tour.h"
#include "exit_status.h"
#include "frames.h"
#include "host_strings.h"
#include "host_synchronize.h"
#include "host_system_error.h"
#include "options.h"
#include "plot_series.h"
#include "plot_svg.h"
#include "port_server.h"
#include "replay_check.h"
#include "script.h"
#include "stamps.h"
#include "terminal.h"
#include "watch.h"

namespace tarnterm {
namespace {

using tarn::driver::remote::PortServer;

// The tour streams faster than the interactive demo, where readings are
// meant to be read.
constexpr std::chrono::milliseconds kTourReadingPeriod{200};
constexpr std::chrono::milliseconds kDemoReadingPeriod{1000};

int Fail(Console& console, int status, const std::string& message) {
    console.Write(Stream::kError, "tarnterm: " + message + "\n");
    return status;
}

constexpr char kCtrlC = '\x03';

// "HOST:PORT", an IPv6 address in brackets.
std::string HostAndPort(const std::string& host, std::uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// Starts serving the demo instrument, or says why it cannot: `status` is
// then the exit status.
std::unique_ptr<PortServer> ServeInstrument(const DemoInstrument& demo, const std::string& host,
                                            std::uint16_t port, Console& console, int& status) {
    std::unique_ptr<PortServer> server =
        PortServer::Start(demo.PortName(), host, port, "tarnterm demo instrument");
    if (server) return server;
    namespace errors = tarn::host::system_errors;
    const std::uint32_t error = tarn::host::GetLastError();
    const std::string where = HostAndPort(host, port);
    if (error == errors::WSAEADDRINUSE) {
        status = Fail(console, kExitPortBusy,
                      where + " is in use; serve on another port, or on 0 for any free one");
    } else if (error == errors::WSAEACCES) {
        status = Fail(console, kExitPortBusy,
                      "may not serve on " + where +
                          "; ports below 1024 need administrator rights, so choose another");
    } else {
        status = Fail(console, kExitOpenFailed,
                      "cannot serve on " + where + ": " + tarn::host::SystemErrorText(error) +
                          " Give an address of this machine, such as 127.0.0.1 or 0.0.0.0.");
    }
    return nullptr;
}

// --demo --serve: the instrument for other programs, until Ctrl-C (or,
// without a terminal, until the process is stopped).
int ServeDemo(const Options& options, Console& console) {
    DemoInstrument demo(DemoInstrument::kDefaultPortName, kDemoReadingPeriod);
    int status = kExitOk;
    const std::unique_ptr<PortServer> server =
        ServeInstrument(demo, options.serveHost, options.servePort, console, status);
    if (!server) return status;
    console.Write(Stream::kOutput, "serving the demo instrument on rfc2217://" +
                                       HostAndPort(options.serveHost, server->Port()) +
                                       "; Ctrl-C ends\n");
    if (console.EnterRawMode()) {
        // In raw mode Ctrl-C is a key.
        std::string typed;
        while (typed.find(kCtrlC) == std::string::npos && console.ReadKeys(typed, 1000)) {
        }
    } else {
        // Nothing to read: only a stop signal ends the serving.
        console.CatchStopSignals();
        while (console.StopSignal() == 0) tarn::host::CheckSynchronize(kStopCheckMs);
    }
    console.RestoreMode();
    const int signal = console.StopSignal();
    return signal != 0 ? kExitSignalBase + signal : kExitOk;
}

// Raw mode for as long as the terminal runs, and the previous mode back on
// every way out. Without raw mode the stop signals are caught all the same,
// so that the port is closed before a signal ends the program.
class ConsoleMode {
public:
    ConsoleMode(Console& console, bool raw) : console_(console) {
        raw_ = raw && console_.EnterRawMode();
        if (!raw_) console_.CatchStopSignals();
    }
    ~ConsoleMode() { Restore(); }
    bool Raw() const { return raw_; }
    void Restore() {
        if (!restored_) console_.RestoreMode();
        restored_ = true;
        raw_ = false;
    }

private:
    Console& console_;
    bool raw_ = false;
    bool restored_ = false;
};

int ShowVersion(Console& console) {
    TTarnSerialPort port;
    char text[96];
    std::snprintf(text, sizeof text, "tarnterm, built on TTarnSerialPort %.2f\n",
                  port.GetVersion());
    console.Write(Stream::kOutput, text);
    return kExitOk;
}

int CheckReplayFile(const Options& options, Console& console) {
    std::string report;
    if (!tarn::driver::recording::CheckReplay(options.replayFile, report)) {
        return Fail(console, kExitReplayInconsistent, report);
    }
    console.Write(Stream::kOutput, report + "\n");
    return kExitOk;
}

int ListPorts(const Options& options, Console& console) {
    TTarnSerialPort port;
    const std::vector<PortEntry> ports = PresentPorts(port);
    console.Write(Stream::kOutput, FormatPortList(ports, options.json));
    if (ports.empty() && !options.json) {
        console.Write(Stream::kError,
                      "tarnterm: no serial ports found; plug an adapter in, or try tarnterm "
                      "--demo\n");
    }
    return kExitOk;
}

bool CheckLogFile(const std::string& path, std::string& error) {
    std::ofstream file(std::filesystem::u8path(path), std::ios::app | std::ios::binary);
    if (file) return true;
    error = "cannot write the log file " + path +
            "; check that its folder exists and that you may write there";
    return false;
}

// A file that tarnterm makes afresh (--plot-out's chart, --record's
// recording) is not a folder, in a folder that exists; `what` names it in
// the message.
bool CheckNewFile(const std::string& path, const std::string& what, std::string& error) {
    const std::filesystem::path file = std::filesystem::u8path(path);
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code ignored;
    if (std::filesystem::is_directory(file, ignored)) {
        error = "cannot write " + what + " to " + path + "; it is a folder, name a file in it";
    } else if (!std::filesystem::is_directory(folder, ignored)) {
        error = "cannot write " + what + " to " + path + "; its folder does not exist";
    } else {
        return true;
    }
    return false;
}

int RunScriptOn(TTarnSerialPort& port, const Options& options, std::string portName,
                Console& console, StampedLog* log, PlotSeries* plot) {
    // Until a step waits for data the bytes stay in the driver, and the
    // receive thread only announces them; the script's reader then takes
    // reception over (ReceiveReader).
    port.SetAutoReceive(false);
    port.SetOnReceive([](TTarnSerialPort*, std::string) {});
    // A script stopped by a signal ends its step; the port is closed
    // before the signal ends the program.
    const ConsoleMode signals(console, false);
    const OpenOutcome opened = OpenScriptPort(port, options, portName, console);
    // A signal while waiting for the port ends the wait without a verdict.
    if (const int signal = console.StopSignal(); signal != 0) return kExitSignalBase + signal;
    if (opened.status != kExitOk) return Fail(console, opened.status, opened.message);
    int status = RunScript(port, options, portName, console, log, plot);
    // The recording that was asked for ended before the session did (a full
    // disk): a script whose steps all went through did not do all it was
    // told; one that failed keeps its own status, and says this as well.
    if (!options.recordFile.empty() && port.IsConnected() != spNone && !port.IsRecording()) {
        const int failed = Fail(console, kExitFailure, RecordingStoppedEarly(options.recordFile));
        if (status == kExitOk) status = failed;
    }
    port.Close();
    port.SetOnReceive(nullptr);
    return status;
}

int RunTerminalOn(TTarnSerialPort& port, const Options& options, const std::string& portName,
                  Console& console, DemoInstrument* demo, StampedLog* log, PlotSeries* plot) {
    const bool tour = demo != nullptr && !console.IsTerminal(Stream::kInput);
    TerminalSettings settings;
    settings.portSpec = demo != nullptr ? portName : options.port;
    settings.portName = portName;
    settings.line = options.line;
    settings.enter = options.enter;
    settings.display = options.display;
    settings.frames = options.frame.framing != frNone;
    settings.map = options.map;
    settings.breakMs = options.breakMs;
    settings.pulseMs = options.pulseMs;
    settings.timestamps = options.timestamps;
    settings.log = log;
    // The instrument does not echo; in the demo the screen does.
    settings.echo = options.echo || demo != nullptr;
    settings.reconnect = options.reconnect || demo != nullptr;
    settings.recordFile = options.recordFile;

    ConsoleMode mode(console, !tour);
    // Only the interactive session, where the console is set up for it,
    // colours by itself.
    const bool screen = mode.Raw() && console.IsTerminal(Stream::kOutput);
    settings.color = ColorWanted(options.color, screen, std::getenv("NO_COLOR"));
    // The live chart, like the colours, is drawn only on the interactive
    // terminal's screen; elsewhere the text goes on as without it.
    settings.plot = plot;
    if (screen) settings.plotScreen = options.plot;
    settings.plotScale = options.plotScale;
    Terminal terminal(port, console, settings, demo);
    if (tour) ShowTourIntro(terminal, port);
    const OpenOutcome opened = terminal.Connect();
    if (opened.status == kExitNoSuchPort && settings.reconnect && demo == nullptr) {
        // Not there yet: wait for it as for a port that went away.
        terminal.WaitForPort();
        return terminal.Run();
    }
    if (opened.status != kExitOk) {
        mode.Restore();
        return Fail(console, opened.status, opened.message);
    }
    if (tour) return RunDemoTour(terminal, *demo);
    return terminal.Run();
}

// What the command line names that only the system can check: the script's
// files and the files the session writes. The exit status, with `error`
// saying why when it is not kExitOk.
int CheckFiles(const Options& options, std::string& error) {
    if (!CheckScriptFiles(options, error)) return kExitUsage;
    if (!options.logFile.empty() && !CheckLogFile(options.logFile, error)) return kExitUsage;
    if (!options.plotOut.empty() && !CheckNewFile(options.plotOut, "the chart", error)) {
        return kExitUsage;
    }
    if (!options.recordFile.empty() && !CheckNewFile(options.recordFile, "the recording", error)) {
        return kExitUsage;
    }
    return kExitOk;
}

// The interactive session needs a terminal to type on. A port that is not
// there is said first, being the first thing to fix; --reconnect waits for
// it anyway.
int CheckTerminal(const Options& options, const std::string& portName, Console& console,
                  std::string& error) {
    if (!options.steps.empty() || options.demo || console.IsTerminal(Stream::kInput)) {
        return kExitOk;
    }
    if (!options.reconnect && !PortIsPresent(portName)) {
        const OpenOutcome missing = MissingPort(portName);
        error = missing.message;
        return missing.status;
    }
    error =
        "standard input is not a terminal, which the interactive terminal needs; "
        "for scripts use --send, --send-file, --expect or --read-line";
    return kExitUsage;
}

// The name to open for the port the command line names: itself, the name
// of the port that a usb: match finds, or empty while none matches (which
// only --reconnect waits out).
int PortNameToOpen(const Options& options, std::string& portName, std::string& error) {
    bool validMatch = true;
    portName = ResolvePortName(options.port, &validMatch);
    if (!validMatch) {
        error = "'" + options.port +
                "' is not a device to look for; write usb:VID:PID or usb:VID:PID:SERIAL with the "
                "ids in hexadecimal";
        return kExitUsage;
    }
    if (portName.empty() && !options.reconnect) {
        const OpenOutcome missing = NoPortMatches(options.port);
        error = missing.message;
        return missing.status;
    }
    return kExitOk;
}

// The line settings and the framing on the component, which has the last
// word on the settings the command line passed; false with its words in
// `error`.
bool SetUpPort(TTarnSerialPort& port, const Options& options, std::string& error) {
    try {
        ApplyLineSettings(port, options.line);
    } catch (const ETarnSerialPortException& e) {
        error = std::string(e.what()) + " Check the line settings.";
        return false;
    }
    try {
        ApplyFraming(port, options.frame);
    } catch (const ETarnSerialPortException& e) {
        error = std::string(e.what()) + "; check --frame and --max-frame";
        return false;
    }
    return true;
}

int ConnectAndRun(const Options& options, Console& console) {
    std::string error;
    if (const int status = CheckFiles(options, error); status != kExitOk) {
        return Fail(console, status, error);
    }
    const bool script = !options.steps.empty();
    std::unique_ptr<DemoInstrument> demo;
    std::unique_ptr<PortServer> server;
    std::string portName;
    if (options.demo) {
        const bool tour = !script && !console.IsTerminal(Stream::kInput);
        demo = std::make_unique<DemoInstrument>(DemoInstrument::kDefaultPortName,
                                                tour ? kTourReadingPeriod : kDemoReadingPeriod);
        portName = demo->PortName();
        if (options.remote) {
            // The terminal reaches the instrument through the network, as
            // it would a port on another machine.
            const std::string loopback = "127.0.0.1";
            int status = kExitOk;
            server = ServeInstrument(*demo, loopback, 0, console, status);
            if (!server) return status;
            portName = "rfc2217://" + HostAndPort(loopback, server->Port());
        }
    } else if (const int status = PortNameToOpen(options, portName, error); status != kExitOk) {
        return Fail(console, status, error);
    }
    if (const int status = CheckTerminal(options, portName, console, error); status != kExitOk) {
        return Fail(console, status, error);
    }

    TTarnSerialPort port;
    if (!portName.empty()) SelectPort(port, portName);
    if (!SetUpPort(port, options, error)) return Fail(console, kExitUsage, error);
    // Plain, the component keeps the log; stamped, tarnterm does, line by
    // line (StampedLog says why).
    std::unique_ptr<StampedLog> log;
    if (!options.logFile.empty() && options.timestamps != StampKind::kNone) {
        log = std::make_unique<StampedLog>(options.logFile, options.timestamps);
    } else if (!options.logFile.empty()) {
        port.SetLogFile(tarn::host::Utf8ToUnicode(options.logFile));
        port.SetLogInput(true);
    }
    // The component records each opening of the port, the demo's too.
    // The component takes file names in the system's code page.
    port.SetRecordFile(tarn::host::UnicodeToAnsi(tarn::host::Utf8ToUnicode(options.recordFile)));
    std::unique_ptr<PlotSeries> plot;
    if (options.plot != PlotMode::kNone || !options.plotOut.empty()) {
        plot = std::make_unique<PlotSeries>(options.plotColumns);
    }
    const int status =
        script ? RunScriptOn(port, options, portName, console, log.get(), plot.get())
               : RunTerminalOn(port, options, portName, console, demo.get(), log.get(), plot.get());
    if (!options.plotOut.empty() &&
        !WriteSessionSvg(options.plotOut, *plot, options.plotScale, error)) {
        return Fail(console, status != kExitOk ? status : kExitUsage, error);
    }
    return status;
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, Console& console,
               const std::string& configFile) {
    Profiles profiles;
    std::string error;
    if (!LoadConfig(configFile, profiles, error)) return Fail(console, kExitUsage, error);
    const ParseResult parsed = ParseCommandLine(args, profiles);
    if (!parsed.ok) return Fail(console, kExitUsage, parsed.error);
    const Options& options = parsed.options;

    switch (options.mode) {
        case Mode::kHelp:
            console.Write(Stream::kOutput, UsageText());
            return kExitOk;
        case Mode::kVersion:
            return ShowVersion(console);
        case Mode::kList:
            return ListPorts(options, console);
        case Mode::kWatch:
            return WatchPorts(console);
        case Mode::kReplayCheck:
            return CheckReplayFile(options, console);
        case Mode::kConnect:
            break;
    }
    if (options.serve) return ServeDemo(options, console);
    return ConnectAndRun(options, console);
}

}  // namespace tarnterm
