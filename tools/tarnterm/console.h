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

class Console {
public:
    virtual ~Console() = default;

    // Whether the stream is a terminal (on Windows, a console window).
    virtual bool IsTerminal(Stream stream) const = 0;

    // Switches the input terminal to raw mode: keys arrive as typed, without
    // echo or line editing, and Ctrl-C is a key like any other. False when
    // the input is not a terminal. RestoreMode, and the destructor, put the
    // previous mode back.
    virtual bool EnterRawMode() = 0;
    virtual void RestoreMode() = 0;

    // Waits up to `timeoutMs` milliseconds for keys or a Wake, then appends
    // the keys that wait to `keys`. False once the input has ended or the
    // program has been told to stop (hang-up, termination, a closed console
    // window). Main thread only.
    virtual bool ReadKeys(std::string& keys, int timeoutMs) = 0;

    // Ends a wait in ReadKeys early. Any thread; never blocks.
    virtual void Wake() = 0;

    // The signal (hang-up, termination) that told the program to stop,
    // once ReadKeys has ended for it; 0 for none, and always 0 where there
    // are no signals.
    virtual int StopSignal() const = 0;

    // Writes bytes to standard output or standard error, unchanged.
    virtual void Write(Stream stream, const std::string& bytes) = 0;

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
// parent sees how the program ended; call it once the console is restored.
// Returns only where that cannot be done.
void EndBySignal(int signal);

// The program's arguments, without its name, in UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace tarnterm
