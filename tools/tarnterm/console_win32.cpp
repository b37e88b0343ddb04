// The console on Windows: the console input buffer in raw mode, read with
// ReadConsoleInputW, and an event object that other threads set to end a
// wait for keys.
#include <windows.h>

#include <shellapi.h>  // CommandLineToArgvW, which the lean <windows.h> leaves out

#include <atomic>
#include <csignal>

#include "console.h"
#include "console_keys_win32.h"

namespace tarnterm {
namespace {

// Set by the control handler when the console window closes or the system
// shuts down, and for Ctrl-C and Ctrl-Break outside raw mode; the handler
// runs on a thread of its own.
std::atomic<bool> gStopRequested{false};
std::atomic<int> gStopSignal{0};
std::atomic<bool> gBreaksStop{false};
std::atomic<HANDLE> gWakeEvent{nullptr};

BOOL WINAPI OnControlEvent(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        // In raw mode Ctrl-C arrives as a key instead, and Ctrl-Break does
        // nothing. Outside it both end the program, once its port is closed.
        if (!gBreaksStop) return TRUE;
        gStopSignal = type == CTRL_C_EVENT ? SIGINT : SIGBREAK;
    } else {
        gStopRequested = true;
    }
    if (HANDLE wake = gWakeEvent.load()) SetEvent(wake);
    return TRUE;
}

class WindowsConsole final : public Console {
public:
    WindowsConsole() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) { gWakeEvent = wake_; }

    ~WindowsConsole() override {
        RestoreMode();
        gWakeEvent = nullptr;
        if (wake_ != nullptr) CloseHandle(wake_);
    }

    bool IsTerminal(Stream stream) const override {
        DWORD mode = 0;
        return GetConsoleMode(HandleOf(stream), &mode) != 0;
    }

    bool ScreenSize(int& columns, int& rows) const override {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(HandleOf(Stream::kOutput), &info)) return false;
        columns = info.srWindow.Right - info.srWindow.Left + 1;
        rows = info.srWindow.Bottom - info.srWindow.Top + 1;
        return columns > 0 && rows > 0;
    }

    void UseUtf8Output() override {
        if (savedCodePage_ == 0) savedCodePage_ = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
    }

    bool EnterRawMode() override {
        if (raw_) return true;
        const HANDLE in = HandleOf(Stream::kInput);
        if (!GetConsoleMode(in, &savedInput_)) return false;
        // Keys one by one, Ctrl-C included; cursor keys as the escape
        // sequences a serial device expects, where the console offers that.
        if (!SetConsoleMode(in, ENABLE_VIRTUAL_TERMINAL_INPUT) && !SetConsoleMode(in, 0)) {
            return false;
        }
        const HANDLE out = HandleOf(Stream::kOutput);
        outputSaved_ = GetConsoleMode(out, &savedOutput_) != 0;
        if (outputSaved_) {
            SetConsoleMode(
                out, savedOutput_ | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        }
        raw_ = true;
        CatchStopSignals();
        return true;
    }

    void RestoreMode() override {
        if (savedCodePage_ != 0) SetConsoleOutputCP(savedCodePage_);
        savedCodePage_ = 0;
        if (raw_) {
            SetConsoleMode(HandleOf(Stream::kInput), savedInput_);
            if (outputSaved_) SetConsoleMode(HandleOf(Stream::kOutput), savedOutput_);
        }
        raw_ = false;
        if (!caught_) return;
        SetConsoleCtrlHandler(OnControlEvent, FALSE);
        gBreaksStop = false;
        caught_ = false;
    }

    // A closed window or a shutdown still ends the process as soon as the
    // handler returns, port open or not; the system closes the port then.
    void CatchStopSignals() override {
        gBreaksStop = !raw_;
        if (caught_) return;
        caught_ = true;
        gStopRequested = false;
        gStopSignal = 0;
        SetConsoleCtrlHandler(OnControlEvent, TRUE);
    }

    bool ReadKeys(std::string& keys, int timeoutMs) override {
        const HANDLE in = HandleOf(Stream::kInput);
        const HANDLE waits[2] = {wake_, in};
        const DWORD result =
            WaitForMultipleObjects(2, waits, FALSE, timeoutMs < 0 ? INFINITE : timeoutMs);
        if (gStopRequested || gStopSignal != 0) return false;
        if (result == WAIT_FAILED) return false;
        if (result != WAIT_OBJECT_0 + 1) return true;

        DWORD count = 0;
        if (!GetNumberOfConsoleInputEvents(in, &count)) return false;
        while (count > 0) {
            INPUT_RECORD records[64];
            DWORD got = 0;
            if (!ReadConsoleInputW(in, records, count < 64 ? count : 64, &got)) return false;
            for (DWORD i = 0; i < got; ++i) keys_.Append(records[i], keys);
            count -= got < count ? got : count;
        }
        return true;
    }

    void Wake() override {
        if (wake_ != nullptr) SetEvent(wake_);
    }

    // A closed window or a shutdown ends the process when the control
    // handler returns; only Ctrl-C and Ctrl-Break are reported.
    int StopSignal() const override { return gStopSignal; }

    void Write(Stream stream, const std::string& bytes) override {
        const HANDLE handle = HandleOf(stream);
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                           &wrote, nullptr) ||
                wrote == 0) {
                return;  // A closed screen; nothing more can be shown.
            }
            done += wrote;
        }
    }

private:
    static HANDLE HandleOf(Stream stream) {
        switch (stream) {
            case Stream::kInput:
                return GetStdHandle(STD_INPUT_HANDLE);
            case Stream::kOutput:
                return GetStdHandle(STD_OUTPUT_HANDLE);
            case Stream::kError:
                break;
        }
        return GetStdHandle(STD_ERROR_HANDLE);
    }

    HANDLE wake_;
    bool raw_ = false;
    bool caught_ = false;
    DWORD savedInput_ = 0;
    DWORD savedOutput_ = 0;
    bool outputSaved_ = false;
    // The output code page before UseUtf8Output, or 0.
    UINT savedCodePage_ = 0;
    ConsoleKeys keys_;
};

}  // namespace

std::unique_ptr<Console> CreateSystemConsole() { return std::make_unique<WindowsConsole>(); }

// A console program that Ctrl-C or Ctrl-Break ends has this status.
void EndBySignal(int) { ExitProcess(STATUS_CONTROL_C_EXIT); }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    // The narrow arguments are in the ANSI code page; the wide ones carry
    // every character of a file name.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    if (wide == nullptr) {
        for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
        return args;
    }
    for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i], -1));
    // The converted text of each argument ends with its terminating NUL.
    for (std::string& arg : args) {
        if (!arg.empty() && arg.back() == '\0') arg.pop_back();
    }
    LocalFree(wide);
    return args;
}

}  // namespace tarnterm
