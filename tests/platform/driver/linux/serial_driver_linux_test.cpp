// The termios backend through the driver seam, on pseudo-terminals: opening,
// data both ways, the Win32 time-out rules, purging, and a vanishing peer.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <future>

#include "port_registry.h"
#include "pty_port_fixture_linux.h"
#include "virtual_port.h"

namespace tarn::driver::test {
namespace {

class ScratchDirectory {
public:
    ScratchDirectory() {
        char name[] = "/tmp/tarn-serial-XXXXXX";
        path_ = mkdtemp(name) != nullptr ? name : "";
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void ExpectRefused(const std::string& name, std::uint32_t error) {
    SCOPED_TRACE(name);
    const HANDLE h = OpenPort(name);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), error);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

TEST(OsPortOpening, RefusesEverythingButTerminalsAndLeavesThemAlone) {
    ScratchDirectory scratch;
    ASSERT_FALSE(scratch.path().empty());
    const std::string file = scratch.path() + "/data";
    { std::ofstream(file) << "keep me"; }
    const std::string fifo = scratch.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string missing = scratch.path() + "/missing";

    ExpectRefused(file, ERROR_FILE_NOT_FOUND);
    ExpectRefused(scratch.path(), ERROR_FILE_NOT_FOUND);
    ExpectRefused(fifo, ERROR_FILE_NOT_FOUND);  // would block if it were opened
    ExpectRefused(missing, ERROR_FILE_NOT_FOUND);
    ExpectRefused("/dev/null", ERROR_NOT_SUPPORTED);  // a device, but no terminal
    ExpectRefused("no-such-port-here", ERROR_FILE_NOT_FOUND);
    ExpectRefused("", ERROR_FILE_NOT_FOUND);

    std::ifstream in(file);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "keep me");
    struct stat st;
    EXPECT_NE(stat(missing.c_str(), &st), 0) << "a refused name must not be created";
}

// The exclusive flag belongs to the terminal and outlives a process killed
// while the master stays open: it keeps the port only while its setter
// holds the device.
TEST(OsPortOpening, AnExclusiveFlagKeepsThePortOnlyWhileItsSetterHoldsIt) {
    std::string whyNot;
    const auto pty = tarn::test::PtyPair::Create(&whyNot);
    ASSERT_TRUE(pty) << whyNot;
    const std::string path = pty->PortName();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        // System calls only: the test process has threads.
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        const char byte = fd >= 0 && ioctl(fd, TIOCEXCL) == 0 ? 'y' : 'n';
        if (write(ready[1], &byte, 1) == 1) pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    EXPECT_EQ(byte, 'y');
    ExpectRefused(path, ERROR_ACCESS_DENIED);
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    // The kernel refuses everyone else before the driver sees the flag.
    if (geteuid() != 0) GTEST_SKIP() << "only the superuser can open a terminal so flagged";
    const HANDLE h = OpenPort(path);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

TEST_F(PtyPortTest, OpensOnlyOnceAtATime) {
    ExpectRefused(pty_->PortName(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(CloseHandle(handle_));
    handle_ = OpenPort(pty_->PortName());
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
}

TEST_F(PtyPortTest, FindsTheTerminalWhateverTheLetterCase) {
    ASSERT_TRUE(CloseHandle(handle_));
    std::string upper = pty_->PortName();
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    handle_ = OpenPort(upper);
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(pty_->WritePeer("x"));
    EXPECT_EQ(WaitForQueued(handle_, 1), 1u);
}

TEST_F(PtyPortTest, CarriesBytesBothWaysUnchanged) {
    COMSTAT stat{};
    std::uint32_t errors = 1;
    ASSERT_TRUE(ClearCommError(handle_, &errors, &stat)) << "a fresh port must not look gone";
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 0u);

    // Carriage returns, NULs, 0xFF and control characters pass untranslated.
    const std::string in("line\r\n\0\xff\x03\x11\x13z", 12);
    ASSERT_TRUE(pty_->WritePeer(in));
    ASSERT_EQ(WaitForQueued(handle_, 12), 12u);
    EXPECT_EQ(ReadAll(handle_, 100), in);
    // Nothing left: the default time-outs return at once with nothing.
    const auto start = Clock::now();
    EXPECT_EQ(ReadAll(handle_, 100), "");
    EXPECT_LT(Clock::now() - start, kPrompt);

    const std::string out("reply\n\0\xff", 8);
    ASSERT_TRUE(Write(handle_, out));
    EXPECT_EQ(pty_->ReadPeer(out.size(), 10s), out);
}

TEST_F(PtyPortTest, WritesALargeBlockWhileThePeerDrains) {
    std::string block(64 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 256);
    auto drained =
        std::async(std::launch::async, [&] { return pty_->ReadPeer(block.size(), 30s); });
    std::uint32_t written = 0;
    EXPECT_TRUE(
        WriteFile(handle_, block.data(), static_cast<std::uint32_t>(block.size()), &written));
    EXPECT_EQ(written, block.size());
    EXPECT_TRUE(drained.get() == block);
}

TEST_F(PtyPortTest, WriteTimeOutReturnsTheShortCountAsSuccess) {
    const COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, 200};
    ASSERT_TRUE(SetCommTimeouts(handle_, timeouts));
    // Nobody reads the peer end, so the terminal's queues fill up.
    const std::string block(1024 * 1024, 'w');
    std::uint32_t written = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(
        WriteFile(handle_, block.data(), static_cast<std::uint32_t>(block.size()), &written));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
    EXPECT_LT(written, block.size());
    EXPECT_GE(elapsed, 200ms);
    EXPECT_LT(elapsed, 200ms + kPrompt);
}

TEST_F(PtyPortTest, ReadTotalTimeOutWaitsItsTimeAndReturnsNothing) {
    const COMMTIMEOUTS timeouts{0, 0, 300, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle_, timeouts));
    const auto start = Clock::now();
    std::uint32_t got = 99;
    char buffer[10];
    EXPECT_TRUE(ReadFile(handle_, buffer, sizeof buffer, &got));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(got, 0u);
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 300ms + kPrompt);
}

TEST_F(PtyPortTest, ReadWithoutTimeOutsWaitsForTheWholeCount) {
    const COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle_, timeouts));
    auto reader = std::async(std::launch::async, [&] { return ReadAll(handle_, 4); });
    ASSERT_TRUE(pty_->WritePeer("ab"));
    ASSERT_TRUE(pty_->WritePeer("cd"));
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), "abcd");
}

TEST_F(PtyPortTest, IntervalTimeOutEndsAReadWhenTheLineGoesQuiet) {
    const COMMTIMEOUTS timeouts{50, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle_, timeouts));
    ASSERT_TRUE(pty_->WritePeer("abc"));
    ASSERT_EQ(WaitForQueued(handle_, 3), 3u);
    const auto start = Clock::now();
    EXPECT_EQ(ReadAll(handle_, 100), "abc");
    EXPECT_LT(Clock::now() - start, kPrompt);
}

TEST_F(PtyPortTest, ReturnOnFirstByteModeWaitsOnlyForTheFirstArrival) {
    const COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0xFFFFFFFFu, 60000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle_, timeouts));
    const auto start = Clock::now();
    auto reader = std::async(std::launch::async, [&] { return ReadAll(handle_, 100); });
    ASSERT_TRUE(pty_->WritePeer("q"));
    ASSERT_EQ(reader.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(reader.get(), "q");
    EXPECT_LT(Clock::now() - start, 30s);
}

TEST_F(PtyPortTest, RefusesTheOneForbiddenTimeOutCombination) {
    const COMMTIMEOUTS forbidden{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(handle_, forbidden));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    COMMTIMEOUTS kept{};
    ASSERT_TRUE(GetCommTimeouts(handle_, kept));
    EXPECT_EQ(kept.ReadIntervalTimeout, kComponentTimeouts.ReadIntervalTimeout);
    EXPECT_EQ(kept.WriteTotalTimeoutConstant, kComponentTimeouts.WriteTotalTimeoutConstant);
}

TEST_F(PtyPortTest, PurgeDiscardsTheReceiveQueueAndAbortsAWaitingRead) {
    ASSERT_TRUE(pty_->WritePeer("stale"));
    ASSERT_EQ(WaitForQueued(handle_, 5), 5u);
    ASSERT_TRUE(PurgeComm(handle_, PURGE_RXCLEAR));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);

    const COMMTIMEOUTS forever{0, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle_, forever));
    auto reader = std::async(std::launch::async, [&] {
        char byte;
        std::uint32_t got = 0;
        const bool ok = ReadFile(handle_, &byte, 1, &got);
        return ok ? 0u : GetLastError();
    });
    // An abort reaches the reads already running; repeat it until the reader,
    // which may not have started yet, has been reached.
    const auto deadline = Clock::now() + 10s;
    while (reader.wait_for(10ms) != std::future_status::ready && Clock::now() < deadline) {
        ASSERT_TRUE(PurgeComm(handle_, PURGE_RXABORT));
    }
    ASSERT_EQ(reader.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(reader.get(), ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(PurgeComm(handle_, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PtyPortTest, PurgeAbortsAWriteThatIsWaitingForRoom) {
    const COMMTIMEOUTS noLimit{0xFFFFFFFFu, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle_, noLimit));
    const std::string block(1024 * 1024, 'w');
    auto writer = std::async(std::launch::async, [&] {
        std::uint32_t written = 0;
        const bool ok =
            WriteFile(handle_, block.data(), static_cast<std::uint32_t>(block.size()), &written);
        return std::make_pair(ok ? 0u : GetLastError(), written);
    });
    const auto deadline = Clock::now() + 10s;
    while (writer.wait_for(10ms) != std::future_status::ready && Clock::now() < deadline) {
        ASSERT_TRUE(PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR));
    }
    ASSERT_EQ(writer.wait_for(0s), std::future_status::ready);
    const auto [error, written] = writer.get();
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
    EXPECT_LT(written, block.size());
}

TEST_F(PtyPortTest, ReadsWritesAndControlRunOnSeveralThreadsAtOnce) {
    constexpr std::size_t kBytes = 32 * 1024;
    std::string inbound(kBytes, '\0');
    std::string outbound(kBytes, '\0');
    for (std::size_t i = 0; i < kBytes; ++i) {
        inbound[i] = static_cast<char>('a' + i % 26);
        outbound[i] = static_cast<char>('A' + i % 26);
    }
    std::atomic<bool> done{false};
    auto reader = std::async(std::launch::async, [&] {
        std::string got;
        const auto deadline = Clock::now() + 30s;
        while (got.size() < kBytes && Clock::now() < deadline) {
            COMSTAT stat{};
            if (!ClearCommError(handle_, nullptr, &stat)) break;
            if (stat.cbInQue == 0) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            got += ReadAll(handle_, stat.cbInQue);
        }
        return got;
    });
    auto writer = std::async(std::launch::async, [&] {
        bool ok = true;
        for (std::size_t at = 0; at < kBytes && ok; at += 1024)
            ok = Write(handle_, outbound.substr(at, 1024));
        return ok;
    });
    auto control = std::async(std::launch::async, [&] {
        int calls = 0;
        while (!done.load()) {
            DCB dcb{};
            std::uint32_t status = 0;
            EscapeCommFunction(handle_, SETBREAK);
            EscapeCommFunction(handle_, CLRBREAK);
            GetCommModemStatus(handle_, &status);
            GetCommState(handle_, dcb);
            SetupComm(handle_, 4096, 4096);
            ++calls;
        }
        return calls;
    });
    auto peerReader = std::async(std::launch::async, [&] { return pty_->ReadPeer(kBytes, 30s); });
    EXPECT_TRUE(pty_->WritePeer(inbound));  // no ASSERT: `done` must be set below
    EXPECT_TRUE(reader.get() == inbound);
    EXPECT_TRUE(writer.get());
    EXPECT_TRUE(peerReader.get() == outbound);
    done = true;
    EXPECT_GT(control.get(), 0);
}

TEST_F(PtyPortTest, SetupCommTakesAnyPositiveSize) {
    EXPECT_TRUE(SetupComm(handle_, 1, 1));
    EXPECT_TRUE(SetupComm(handle_, 300000, 65536));
    EXPECT_FALSE(SetupComm(handle_, 0, 4096));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PtyPortTest, AHungUpPeerMakesEveryCallFailAsRemoved) {
    pty_->Remove();
    std::uint32_t errors = 0;
    COMSTAT stat{};
    EXPECT_FALSE(ClearCommError(handle_, &errors, &stat));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    char buffer[4];
    std::uint32_t count = 0;
    EXPECT_FALSE(ReadFile(handle_, buffer, sizeof buffer, &count));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    EXPECT_FALSE(WriteFile(handle_, "x", 1, &count));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    DCB dcb{};
    EXPECT_FALSE(GetCommState(handle_, dcb));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    EXPECT_FALSE(SetCommState(handle_, BaseDcb()));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    EXPECT_FALSE(PurgeComm(handle_, PURGE_RXCLEAR));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    EXPECT_FALSE(EscapeCommFunction(handle_, SETBREAK));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    EXPECT_TRUE(CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
}

TEST_F(PtyPortTest, AHangUpEndsAWaitingRead) {
    const COMMTIMEOUTS forever{0, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle_, forever));
    auto reader = std::async(std::launch::async, [&] {
        char byte;
        std::uint32_t got = 0;
        const bool ok = ReadFile(handle_, &byte, 1, &got);
        return ok ? 0u : GetLastError();
    });
    pty_->Remove();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), ERROR_BAD_COMMAND);
}

// An input wait sleeps in the kernel: it ends when a byte arrives, when the
// handle is closed on another thread, or when the peer hangs up, and
// otherwise lasts its time.
TEST_F(PtyPortTest, AnInputWaitEndsWithTheFirstByteAndLastsItsTimeOtherwise) {
    const auto start = Clock::now();
    EXPECT_TRUE(WaitCommInput(handle_, 50));
    EXPECT_GE(Clock::now() - start, 50ms);

    auto waiter = std::async(std::launch::async, [&] { return WaitCommInput(handle_, 60000); });
    ASSERT_TRUE(pty_->WritePeer("x"));
    ASSERT_EQ(waiter.wait_for(kPrompt), std::future_status::ready);
    EXPECT_TRUE(waiter.get());

    // The byte is still there, and a wait with it there ends at once.
    EXPECT_TRUE(WaitCommInput(handle_, 60000));
    EXPECT_EQ(ReadAll(handle_, 1), "x");
}

TEST_F(PtyPortTest, ACancelEndsTheInputWaitsAndLeavesTheHandleUsable) {
    auto waiter = std::async(std::launch::async, [&] { return WaitCommInput(handle_, 60000); });
    ASSERT_TRUE(CancelCommWaits(handle_));
    ASSERT_EQ(waiter.wait_for(kPrompt), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(WaitCommInput(handle_, 60000)) << "a later wait ends at once too";
    ASSERT_TRUE(pty_->WritePeer("y"));
    ASSERT_EQ(WaitForQueued(handle_, 1), 1u);
    EXPECT_EQ(ReadAll(handle_, 1), "y");
}

TEST_F(PtyPortTest, BytesReadAheadEndAnInputWaitAtOnce) {
    // A read of one byte takes the kernel's whole queue and keeps the rest.
    ASSERT_TRUE(pty_->WritePeer("abc"));
    ASSERT_EQ(WaitForQueued(handle_, 3), 3u);
    ASSERT_EQ(ReadAll(handle_, 1), "a");
    EXPECT_TRUE(WaitCommInput(handle_, 60000));
    EXPECT_EQ(ReadAll(handle_, 2), "bc");
}

TEST_F(PtyPortTest, ClosingTheHandleEndsAnInputWaitOnAnotherThread) {
    // The waiter takes its own copy of the handle, which this thread resets.
    auto waiter =
        std::async(std::launch::async, [handle = handle_] { return WaitCommInput(handle, 60000); });
    // The waiter may not have begun yet; then it finds the handle invalid.
    ASSERT_TRUE(CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
    ASSERT_EQ(waiter.wait_for(kPrompt), std::future_status::ready);
    waiter.get();
    // The port is free at once for another opening.
    handle_ = OpenPort(pty_->PortName());
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
}

TEST_F(PtyPortTest, AHangUpEndsAnInputWaitAsARemoval) {
    auto waiter = std::async(std::launch::async, [&] {
        const bool ok = WaitCommInput(handle_, 60000);
        return ok ? 0u : GetLastError();
    });
    pty_->Remove();
    ASSERT_EQ(waiter.wait_for(kPrompt), std::future_status::ready);
    EXPECT_EQ(waiter.get(), ERROR_BAD_COMMAND);
    EXPECT_FALSE(WaitCommInput(handle_, 60000));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
}

std::vector<std::u16string> ListedPortNames() {
    std::vector<RegistryValue> values;
    std::vector<std::u16string> names;
    if (ReadRegistryKey(HKEY_LOCAL_MACHINE, kSerialCommKey, values)) {
        for (const RegistryValue& value : values) names.push_back(value.data);
    }
    return names;
}

bool IsListed(const std::string& name) {
    const std::u16string wanted(name.begin(), name.end());
    const auto names = ListedPortNames();
    return std::find(names.begin(), names.end(), wanted) != names.end();
}

TEST_F(PtyPortTest, ThePortListShowsAnOpenTerminalUntilItGoes) {
    EXPECT_TRUE(IsListed(pty_->PortName()));
    pty_->Remove();
    EXPECT_FALSE(IsListed(pty_->PortName()));
}

// The presence check's shortcut: what it vouches for must be in the list
// that a full read gives, and an open terminal must be found by it.
TEST_F(PtyPortTest, TheLookupOfOnePortVouchesOnlyForListedPorts) {
    VirtualPort virtualPort("VLook1");
    std::vector<std::u16string> asked = {u"vlook1",  u"VLOOK1", u" VLook1 ", u"COM0",
                                         u"COM1",    u"com2",   u"COM01",    u"ttyS0",
                                         u"nothing", u"",       u"../tty",   u"/dev/null"};
    const std::string terminal = pty_->PortName();
    asked.emplace_back(terminal.begin(), terminal.end());
    std::string upper = terminal;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    asked.emplace_back(upper.begin(), upper.end());
    for (const std::u16string& listed : ListedPortNames()) asked.push_back(listed);

    const std::vector<std::u16string> all = ListedPortNames();
    for (const std::u16string& name : asked) {
        for (const std::u16string& found : ListedPortsNamed(name)) {
            EXPECT_NE(std::find(all.begin(), all.end(), found), all.end())
                << std::string(found.begin(), found.end());
        }
    }
    const std::u16string wide(terminal.begin(), terminal.end());
    EXPECT_EQ(ListedPortsNamed(wide), std::vector<std::u16string>{wide});
    EXPECT_EQ(ListedPortsNamed(std::u16string(upper.begin(), upper.end())),
              std::vector<std::u16string>{wide});
    EXPECT_EQ(ListedPortsNamed(u"vlook1"), std::vector<std::u16string>{u"VLook1"});

    pty_->Remove();
    EXPECT_TRUE(ListedPortsNamed(wide).empty());
}

// A path without the root is taken from the working directory at the open;
// the presence check finds the port under that name wherever the program is
// later.
TEST_F(PtyPortTest, APathFromTheWorkingDirectoryOpensAndStaysPresent) {
    ASSERT_TRUE(CloseHandle(handle_));
    const std::string path = pty_->PortName();
    const std::string relative = "./" + path.substr(path.rfind('/') + 1);
    const std::u16string wide(relative.begin(), relative.end());
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(path.substr(0, path.rfind('/')));
    handle_ = OpenPort(relative);
    const std::uint32_t error = GetLastError();
    std::filesystem::current_path("/");
    const bool present = ListedPortsNamed(wide) == std::vector<std::u16string>{wide};
    std::filesystem::current_path(home);
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << error;
    EXPECT_TRUE(present);
    EXPECT_TRUE(IsListed(relative));
}

TEST_F(PtyPortTest, ThePortListForgetsATerminalOnceClosed) {
    EXPECT_TRUE(IsListed(pty_->PortName()));
    ASSERT_TRUE(CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(IsListed(pty_->PortName()));
}

}  // namespace
}  // namespace tarn::driver::test
