// The program's view of the console: the three standard streams, keys read
// one by one in raw mode, and a wake-up that other threads use to end a wait
// for keys. Each system has its own implementation (console_posix.cpp,
// console_win32.cpp); the tests supply one of their own.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarnterm {

enum class Stream { kInput, kOutput, kError };

// How often a wait that the console cannot end looks whether a stop signal
// came, in milliseconds.
constexpr int kStopCheckMs = 100;

class Console {
public:
    virtual ~Console() = default;

    // Whether the stream is a terminal (on Windows, a console window).
    virtual bool IsTerminal(Stream stream) const = 0;

    // Switches the input terminal to raw mode: keys arrive as typed, without
    // echo or line editing, and Ctrl-C is a key like any other. False when
    // the input is not a terminal. It catches the stop signals as
    // CatchStopSignals does. RestoreMode, and the destructor, put the
    // previous mode back.
    virtual bool EnterRawMode() = 0;
    virtual void RestoreMode() = 0;

    // Has the requests to stop (hang-up, interrupt, termination; on Windows
    // Ctrl-C and Ctrl-Break) end the program's waits instead of the process,
    // until RestoreMode, so that the port is closed before the program ends:
    // ReadKeys then ends, and StopSignal says which came. A signal ignored
    // on purpose (as nohup ignores hang-ups) stays ignored. Main thread.
    virtual void CatchStopSignals() = 0;

    // Waits up to `timeoutMs` milliseconds for keys or a Wake, then appends
    // the keys that wait to `keys`. False once the input has ended or the
    // program has been told to stop (hang-up, termination, a closed console
    // window). Main thread only.
    virtual bool ReadKeys(std::string& keys, int timeoutMs) = 0;

    // Ends a wait in ReadKeys early. Any thread; never blocks.
    virtual void Wake() = 0;

    // The signal (hang-up, interrupt, termination) that told the program to
    // stop while the stop signals were caught; 0 for none. Waits that
    // ReadKeys does not end look at it at least every kStopCheckMs. Windows
    // reports Ctrl-C as SIGINT and Ctrl-Break as SIGBREAK.
    virtual int StopSignal() const = 0;

    // Writes bytes to standard output or standard error, unchanged.
    virtual void Write(Stream stream, const std::string& bytes) = 0;

    // A write of the program (to a file it records or logs to, or to a
    // redirected output) went beyond the system's limit on the size of a
    // file and failed: that file is cut short. Only POSIX systems have
    // such a limit.
    virtual bool FileLimitReached() const { return false; }

    // The size of the screen that standard output shows, in character
    // cells; false when it is no terminal or the system does not say.
    virtual bool ScreenSize(int& columns, int& rows) const = 0;

    // Has the screen take standard output as UTF-8 until RestoreMode, for
    // text of the program's own beyond ASCII (the chart of --plot). Where
    // terminals take the bytes as they come, nothing changes.
    virtual void UseUtf8Output() = 0;
};

// The console of this process.
std::unique_ptr<Console> CreateSystemConsole();

// Ends the process by `signal`, as if it had never been caught, so that the
// parent sees how the program ended (on Windows, with the status of a
// program that Ctrl-C ended); call it once the console is restored.
// Returns only where that cannot be done.
void EndBySignal(int signal);

// The program's arguments, without its name, in UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace tarnterm
