// The built tarnterm program as a user meets it: keys typed on a real
// pseudo-terminal and the screen read back, scripts against a pseudo-terminal
// port, and the exit statuses of failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Tarnserialport.h"
#include "connection.h"
#include "file_size_limit.h"
#include "pty_pair.h"
#include "serialport/component_test_support.h"
#include "slow_peer_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr auto kLimit = tarn::test::kEventLimit;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Starts tarnterm with `args` and the three descriptors as its standard
// streams; everything is prepared before fork, so that the child only
// duplicates descriptors and executes.
pid_t Spawn(const std::vector<std::string>& args, int in, int out, int err, bool newSession) {
    std::vector<std::string> argv = {TARNTERM_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The stop signals are the program's to catch, even where the
        // shell that started the tests ignores one; so is the signal of a
        // write beyond a file-size limit, which a test may ignore itself.
        for (const int signal : {SIGHUP, SIGINT, SIGTERM, SIGXFSZ}) std::signal(signal, SIG_DFL);
        if (newSession) setsid();
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    return pid;
}

// The wait status, or -1 when the program has not ended within the limit
// (it is killed then).
int WaitForEnd(pid_t pid) {
    const Clock::time_point deadline = Clock::now() + kLimit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(5ms);
    }
    return status;
}

// The exit status, or -1 when the program did not exit by itself.
int WaitForExit(pid_t pid) {
    const int status = WaitForEnd(pid);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs tarnterm without a terminal: input from /dev/null, output to pipes,
// or standard output to `screen` where one is given.
Outcome RunWithoutTerminal(const std::vector<std::string>& args, int screen = -1) {
    int outPipe[2];
    int errPipe[2];
    Outcome outcome;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return outcome;
    const int devNull = open("/dev/null", O_RDONLY);
    const pid_t pid = Spawn(args, devNull, screen >= 0 ? screen : outPipe[1], errPipe[1], false);
    close(devNull);
    close(outPipe[1]);
    close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    const Clock::time_point deadline = Clock::now() + kLimit;
    int open = 2;
    while (open > 0 && poll(fds, 2, MillisecondsUntil(deadline)) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    outcome.status = WaitForExit(pid);
    return outcome;
}

// tarnterm on a pseudo-terminal of its own: keys go in at the master, the
// screen comes out of it.
class Screen {
public:
    explicit Screen(const std::vector<std::string>& args) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (slave < 0) return;
        pid_ = Spawn(args, slave, slave, slave, true);
        close(slave);
    }
    ~Screen() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }

    bool Started() const { return pid_ > 0; }
    void Type(const std::string& keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Reads the screen until `text` has appeared since the last match. The
    // terminal turns each line feed into CR LF; the CRs are dropped here,
    // and so are the colours, which a screen shows but does not print.
    bool Shows(const std::string& text) {
        const Clock::time_point deadline = Clock::now() + kLimit;
        while (screen_.find(text, from_) == std::string::npos) {
            pollfd in{master_, POLLIN, 0};
            if (poll(&in, 1, MillisecondsUntil(deadline)) <= 0) return false;
            char buffer[4096];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0) return false;
            bytes_.append(buffer, static_cast<std::size_t>(n));
            for (ssize_t i = 0; i < n; ++i) {
                if (inColour_) {
                    inColour_ = buffer[i] != 'm';
                } else if (buffer[i] == '\x1b') {
                    inColour_ = true;
                } else if (buffer[i] != '\r') {
                    screen_ += buffer[i];
                }
            }
        }
        from_ = screen_.find(text, from_) + text.size();
        return true;
    }
    int Exit() {
        exited_ = true;
        return WaitForExit(pid_);
    }
    // Sends `signal` and gives the wait status.
    int EndBySignal(int signal) {
        exited_ = true;
        kill(pid_, signal);
        return WaitForEnd(pid_);
    }
    // The terminal is back in its line mode: keys echoed and edited.
    bool Cooked() const {
        const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
        termios mode{};
        const bool read = slave >= 0 && tcgetattr(slave, &mode) == 0;
        if (slave >= 0) close(slave);
        return read && (mode.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
    }
    const std::string& Text() const { return screen_; }
    // Everything the program wrote, as it wrote it.
    const std::string& Bytes() const { return bytes_; }

private:
    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string screen_;
    std::string bytes_;
    bool inColour_ = false;
    std::size_t from_ = 0;
};

TEST(TarntermBinary, InteractiveDemoTakesKeysAndShowsAnswers) {
    Screen screen({"--demo"});
    ASSERT_TRUE(screen.Started());
    ASSERT_TRUE(screen.Shows("Ctrl-T q to quit")) << screen.Text();
    screen.Type("*IDN?\r");
    // The local echo of the command, and below it the answer (the status
    // line of the modem lines may come before the answer or after it).
    EXPECT_TRUE(screen.Shows("*IDN?\n")) << screen.Text();
    EXPECT_TRUE(screen.Shows("Tarnwerk,TT-100 Demo Instrument,SN0001,1.0\n")) << screen.Text();
    screen.Type(
        "\x14"
        "d");
    EXPECT_TRUE(screen.Shows("[tarnterm] DTR off\n")) << screen.Text();
    EXPECT_TRUE(screen.Shows("modem lines CTS=on DSR=off")) << screen.Text();
    // On a terminal the status lines are in colour, unless NO_COLOR says no.
    const char* noColor = std::getenv("NO_COLOR");
    EXPECT_EQ(screen.Bytes().find("\x1b[36m[tarnterm] DTR off\x1b[0m") != std::string::npos,
              noColor == nullptr || *noColor == '\0');
    screen.Type(
        "\x14"
        "q");
    EXPECT_EQ(screen.Exit(), 0);
}

// The signals of a closed window and of kill: the terminal is put back in
// its mode, and the program ends by the signal, as its parent expects.
TEST(TarntermBinary, StopSignalsRestoreTheTerminalAndEndTheProgram) {
    for (const int signal : {SIGHUP, SIGTERM}) {
        Screen screen({"--demo"});
        ASSERT_TRUE(screen.Shows("Ctrl-T q to quit")) << screen.Text();
        ASSERT_FALSE(screen.Cooked());
        const int status = screen.EndBySignal(signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << ": " << status;
        EXPECT_TRUE(screen.Cooked()) << signal;
    }
}

// A script that a signal stops closes its port first, and so lifts the
// terminal's exclusive flag; then the signal ends it.
class TarntermBinaryStop : public testing::TestWithParam<int> {};

TEST_P(TarntermBinaryStop, AStoppedScriptClosesItsPortAndEndsByTheSignal) {
    std::string why;
    auto device = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(device, nullptr) << why;
    const int devNull = open("/dev/null", O_RDWR);
    const pid_t pid =
        Spawn({device->PortName(), "--send", "ready", "--expect", "never", "--timeout", "60"},
              devNull, devNull, devNull, false);
    close(devNull);
    ASSERT_EQ(device->ReadPeer(5, kLimit), "ready");
    kill(pid, GetParam());
    const int status = WaitForEnd(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << status;
    const int fd = open(device->PortName().c_str(), O_RDWR | O_NOCTTY);
    int exclusive = -1;
    EXPECT_TRUE(fd >= 0 && ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
    if (fd >= 0) close(fd);
    const Outcome next = RunWithoutTerminal({device->PortName(), "--send", "x"});
    EXPECT_EQ(next.status, 0) << next.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, TarntermBinaryStop, testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST(TarntermBinary, TerminalOnAPseudoTerminalPort) {
    std::string why;
    auto device = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(device, nullptr) << why;
    Screen screen({device->PortName(), "--enter", "cr", "--display", "names"});
    ASSERT_TRUE(screen.Shows("Ctrl-T q to quit")) << screen.Text();
    screen.Type("hi\r");
    EXPECT_EQ(device->ReadPeer(3, kLimit), "hi\r");
    ASSERT_TRUE(device->WritePeer("ok\x07\r\n"));
    EXPECT_TRUE(screen.Shows("ok<BEL><CR><LF>\n")) << screen.Text();
    // A pseudo-terminal has no modem lines: the driver's word on a change,
    // and the lines unknown rather than off.
    screen.Type(
        "\x14"
        "d"
        "\x14"
        "l");
    EXPECT_TRUE(
        screen.Shows("[tarnterm] DTR could not be changed: the driver says: The request "
                     "is not supported.\n[tarnterm] DTR=? RTS=? break=off; CTS=? DSR=? "
                     "RING=? DCD=?; 115200 8N1"))
        << screen.Text();
    device->Remove();
    EXPECT_TRUE(screen.Shows("was removed\n")) << screen.Text();
    EXPECT_EQ(screen.Exit(), 1);
}

TEST(TarntermBinary, ScriptStepsOnAPseudoTerminalPort) {
    std::string why;
    auto device = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(device, nullptr) << why;
    std::thread instrument([&] {
        if (device->ReadPeer(5, kLimit) == "PING\r") device->WritePeer("noise PONG 42\r\n");
    });
    const Outcome done = RunWithoutTerminal({device->PortName(), "--send", "PING\\r", "--expect",
                                             "PONG ", "--read-line", "--timeout", "30"});
    instrument.join();
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.out, "42\n");

    const Outcome late =
        RunWithoutTerminal({device->PortName(), "--expect", "never", "--timeout", "0.2"});
    EXPECT_EQ(late.status, 3);
    EXPECT_NE(late.err.find("no 'never'"), std::string::npos) << late.err;
}

// Every step of the script went through, but its recording could not be
// written to the end (a full disk): the script fails, and says why.
TEST(TarntermBinary, AScriptWhoseRecordingStoppedShortFails) {
    std::string why;
    auto device = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(device, nullptr) << why;
    const std::string answer(8192, 'a');
    std::thread instrument([&] {
        if (device->ReadPeer(5, kLimit) == "DUMP\r") device->WritePeer(answer + " END\r\n");
    });
    const std::string file = ::testing::TempDir() + "tarnterm_full_disk.jsonl";
    const std::string screenFile = ::testing::TempDir() + "tarnterm_full_screen.txt";
    Outcome done;
    Outcome tooLong;
    Outcome cutScreen;
    {
        const tarn::test::FileSizeLimit limit(4096);
        done = RunWithoutTerminal({device->PortName(), "--record", file, "--send", "DUMP\\r",
                                   "--expect", " END", "--timeout", "30"});
        instrument.join();
        // A script that fails for its own reason (a line longer than a read
        // of a line takes) says that as well, and keeps its status.
        std::thread second([&] {
            if (device->ReadPeer(5, kLimit) == "DUMP\r") device->WritePeer(std::string(66000, 'b'));
        });
        tooLong = RunWithoutTerminal(
            {device->PortName(), "--record", file, "--send", "DUMP\\r", "--read-line"});
        second.join();
        // So does a screen redirected to a file that reaches the limit.
        std::thread third([&] {
            if (device->ReadPeer(5, kLimit) == "DUMP\r") device->WritePeer(answer + "\r\n");
        });
        const int screen = open(screenFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        cutScreen =
            RunWithoutTerminal({device->PortName(), "--send", "DUMP\\r", "--read-line"}, screen);
        close(screen);
        third.join();
    }
    std::remove(file.c_str());
    std::remove(screenFile.c_str());
    EXPECT_EQ(cutScreen.status, 1) << cutScreen.err;
    EXPECT_NE(cutScreen.err.find("cut short"), std::string::npos) << cutScreen.err;
    EXPECT_EQ(done.status, 1) << done.err;
    EXPECT_NE(done.err.find("the recording to " + file + " stopped early"), std::string::npos)
        << done.err;
    EXPECT_EQ(tooLong.status, 3) << tooLong.err;
    EXPECT_NE(tooLong.err.find("stopped early"), std::string::npos) << tooLong.err;
}

TEST(TarntermBinary, TheTerminalTellsOfARecordingThatStoppedShort) {
    std::string why;
    auto device = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(device, nullptr) << why;
    const std::string file = ::testing::TempDir() + "tarnterm_terminal_full_disk.jsonl";
    int status = -1;
    {
        const tarn::test::FileSizeLimit limit(4096);
        Screen screen({device->PortName(), "--record", file});
        ASSERT_TRUE(screen.Shows("Ctrl-T q to quit")) << screen.Text();
        ASSERT_TRUE(device->WritePeer(std::string(8192, 'a')));
        EXPECT_TRUE(screen.Shows("the recording to " + file + " stopped early")) << screen.Text();
        screen.Type("\x14q");
        status = screen.Exit();
    }
    std::remove(file.c_str());
    EXPECT_EQ(status, 1);
}

TEST(TarntermBinary, SendFileDeliversEveryByteToASlowReader) {
    std::string why;
    auto device = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(device, nullptr) << why;
    // Far larger than the terminal's buffers, so that the end of the file
    // is still in them when the program is done writing.
    std::string content(256 * 1024, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 131 % 251);
    }
    const std::string path = testing::TempDir() + "tarnterm_slow_reader.bin";
    {
        std::ofstream file(path, std::ios::binary);
        file << content;
    }
    // The reader holds the file's tail until the program has exited, so
    // that the tail is still in the terminal's buffers when it closes the
    // port.
    tarn::test::SlowPeerReader reader(*device, content.size());
    const Outcome done = RunWithoutTerminal({device->PortName(), "--send-file", path});
    const std::string arrived = reader.Finish();
    std::remove(path.c_str());
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(arrived.size(), content.size());
    EXPECT_TRUE(arrived == content);
}

TEST(TarntermBinary, FailuresGiveOneLineAndTheirOwnStatus) {
    std::string why;
    auto device = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(device, nullptr) << why;
    TTarnSerialPort holder;
    tarnterm::SelectPort(holder, device->PortName());
    holder.Open();
    ASSERT_NE(holder.IsConnected(), spNone);

    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"/dev/null", "--send", "x"}, 6, "/dev/null is not a serial port"},
        {{"/dev/tarnterm-no-such-port", "--send", "x"}, 4, "does not exist"},
        {{"/dev/tarnterm-no-such-port"}, 4, "does not exist"},
        {{device->PortName(), "--send", "x"}, 5, "is busy"},
        {{"COM1", "--baud", "fast"}, 2, "is not a rate"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunWithoutTerminal(c.args);
        EXPECT_EQ(outcome.status, c.status) << c.args[0] << ": " << outcome.err;
        EXPECT_EQ(outcome.err.rfind("tarnterm: ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
}

TEST(TarntermBinary, DemoWithoutATerminalEndsByItself) {
    const Outcome outcome = RunWithoutTerminal({"--demo"});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_NE(outcome.out.find("[tarnterm] demo finished"), std::string::npos) << outcome.out;
}

}  // namespace
