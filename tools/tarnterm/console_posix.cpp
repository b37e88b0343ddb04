// The console on POSIX systems: termios raw mode on standard input, and a
// self-pipe that both other threads and signal handlers write to, so that a
// poll() on the keyboard also ends for queued events and for a request to
// stop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "console.h"

namespace tarnterm {
namespace {

// The write end of the self-pipe, for the signal handlers.
std::atomic<int> gWakeWriteFd{-1};
volatile std::sig_atomic_t gStopSignal = 0;
volatile std::sig_atomic_t gFileLimitReached = 0;

void OnFileLimit(int) { gFileLimitReached = 1; }

void OnStopSignal(int signal) {
    gStopSignal = signal;
    const int fd = gWakeWriteFd.load();
    if (fd >= 0) {
        const int saved = errno;
        const char byte = 's';
        [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
        errno = saved;
    }
}

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd out{fd, POLLOUT, 0};
            poll(&out, 1, 100);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // A closed screen; nothing more can be shown.
        }
    }
}

class PosixConsole final : public Console {
public:
    PosixConsole() {
        // Beyond a file-size limit (ulimit -f) a write of the record file,
        // the log or a redirected screen then fails, and the program says
        // so at its end; the signal's default would end it mid-line with
        // nothing said.
        struct sigaction fileLimit {};
        fileLimit.sa_handler = OnFileLimit;
        sigemptyset(&fileLimit.sa_mask);
        sigaction(SIGXFSZ, &fileLimit, nullptr);
        int fds[2];
        if (pipe(fds) == 0) {
            for (int fd : fds) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
            wakeRead_ = fds[0];
            wakeWrite_ = fds[1];
        }
    }

    ~PosixConsole() override {
        RestoreMode();
        if (wakeRead_ >= 0) close(wakeRead_);
        if (wakeWrite_ >= 0) close(wakeWrite_);
    }

    bool IsTerminal(Stream stream) const override { return isatty(FdOf(stream)) == 1; }

    bool ScreenSize(int& columns, int& rows) const override {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
            return false;
        }
        columns = size.ws_col;
        rows = size.ws_row;
        return true;
    }

    void UseUtf8Output() override {}

    bool EnterRawMode() override {
        if (raw_) return true;
        if (tcgetattr(STDIN_FILENO, &saved_) != 0) return false;
        termios mode = saved_;
        mode.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
        mode.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        // Output processing stays on, so that a line feed still returns the
        // cursor. TCSANOW keeps keys that were typed early.
        if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) return false;
        raw_ = true;
        CatchStopSignals();
        return true;
    }

    void RestoreMode() override {
        if (raw_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        raw_ = false;
        if (!caught_) return;
        caught_ = false;
        gWakeWriteFd = -1;
        for (int signal : kStopSignals) sigaction(signal, &savedActions_[Index(signal)], nullptr);
    }

    // In raw mode the terminal sends no signals for keys; these come from
    // elsewhere (a closed window, kill). Outside it they are Ctrl-C too.
    // Either way they must let the program restore the terminal and close
    // its port, so they end the waits instead of the process.
    void CatchStopSignals() override {
        if (caught_) return;
        caught_ = true;
        gStopSignal = 0;
        gWakeWriteFd = wakeWrite_;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (int signal : kStopSignals) {
            struct sigaction& saved = savedActions_[Index(signal)];
            sigaction(signal, nullptr, &saved);
            // A signal ignored on purpose (as nohup ignores hang-ups) stays
            // ignored.
            if (saved.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
        }
    }

    bool ReadKeys(std::string& keys, int timeoutMs) override {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = poll(fds, wakeRead_ >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno != EINTR) return false;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        if (gStopSignal != 0) return false;
        if (fds[0].revents & POLLIN) {
            char buffer[256];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0) {
                keys.append(buffer, static_cast<std::size_t>(n));
                return true;
            }
            if (n == 0 || (errno != EINTR && errno != EAGAIN)) return false;
        }
        // A terminal that hung up, or input closed without data.
        return (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
    }

    void Wake() override {
        if (wakeWrite_ < 0) return;
        const char byte = 'w';
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t n = write(wakeWrite_, &byte, 1);
    }

    int StopSignal() const override { return gStopSignal; }

    bool FileLimitReached() const override { return gFileLimitReached != 0; }

    void Write(Stream stream, const std::string& bytes) override { WriteAll(FdOf(stream), bytes); }

private:
    static constexpr int kStopSignals[] = {SIGHUP, SIGINT, SIGTERM};
    static int Index(int signal) { return signal == SIGHUP ? 0 : signal == SIGINT ? 1 : 2; }

    static int FdOf(Stream stream) {
        switch (stream) {
            case Stream::kInput:
                return STDIN_FILENO;
            case Stream::kOutput:
                return STDOUT_FILENO;
            case Stream::kError:
                break;
        }
        return STDERR_FILENO;
    }

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool raw_ = false;
    bool caught_ = false;
    termios saved_{};
    struct sigaction savedActions_[3]{};
};

}  // namespace

std::unique_ptr<Console> CreateSystemConsole() { return std::make_unique<PosixConsole>(); }

void EndBySignal(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace tarnterm
