// The termios backend when the system misbehaves: a table of system calls
// that passes every call to the kernel except the ones a case scripts, which
// fail with an errno or hand over fewer bytes, on a real pseudo-terminal
// opened through the driver seam. Each case looks only at what a caller of
// the driver sees: the result, the last error, the bytes that moved, and
// whether the port counts as gone afterwards.
#include "system_calls_linux.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

#include "pty_port_fixture_linux.h"

namespace tarn::driver::test {
namespace {

enum class Call { kRead, kWrite, kPoll, kIoctl, kTcdrain };

inline constexpr int kEveryTime = INT_MAX;

// What the fake answers instead of the kernel, `times` times in a row: a
// failure with `error`, or, with `error` 0, the real call on at most `limit`
// bytes.
struct Fault {
    Call call;
    int error;
    std::size_t limit;
    int times;
};

// The faults of the running case, taken in order for each call. Only calls
// on a terminal meet them; the wake-up eventfds of the port go through the
// table as well and are passed on.
class FaultScript {
public:
    static void Load(const std::vector<Fault>& faults) {
        std::lock_guard<std::mutex> lock(mutex_);
        faults_.assign(faults.begin(), faults.end());
        used_.assign(faults.size(), 0);
    }

    static std::optional<Fault> Next(Call call) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i < faults_.size(); ++i) {
            if (faults_[i].call != call || used_[i] == faults_[i].times) continue;
            ++used_[i];
            return faults_[i];
        }
        return std::nullopt;
    }

    // Whether the case met every fault it scripted, and so tested it.
    static bool AllMet() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i < faults_.size(); ++i) {
            if (used_[i] == 0 || (faults_[i].times != kEveryTime && used_[i] != faults_[i].times))
                return false;
        }
        return true;
    }

private:
    static inline std::mutex mutex_;
    static inline std::vector<Fault> faults_;
    static inline std::vector<int> used_;
};

std::optional<Fault> Injected(Call call, int fd) {
    if (!isatty(fd)) return std::nullopt;
    return FaultScript::Next(call);
}

template <typename Result>
Result FailWith(int error) {
    errno = error;
    return static_cast<Result>(-1);
}

ssize_t FakeRead(int fd, void* buffer, std::size_t size) {
    if (const auto fault = Injected(Call::kRead, fd)) {
        if (fault->error != 0) return FailWith<ssize_t>(fault->error);
        size = std::min(size, fault->limit);
    }
    return RealSystemCalls().read(fd, buffer, size);
}

ssize_t FakeWrite(int fd, const void* buffer, std::size_t size) {
    if (const auto fault = Injected(Call::kWrite, fd)) {
        if (fault->error != 0) return FailWith<ssize_t>(fault->error);
        size = std::min(size, fault->limit);
    }
    return RealSystemCalls().write(fd, buffer, size);
}

int FakePoll(pollfd* fds, nfds_t count, int timeoutMs) {
    const bool terminal =
        std::any_of(fds, fds + count, [](const pollfd& p) { return isatty(p.fd); });
    if (terminal) {
        if (const auto fault = FaultScript::Next(Call::kPoll)) return FailWith<int>(fault->error);
    }
    return RealSystemCalls().poll(fds, count, timeoutMs);
}

int FakeIoctl(int fd, unsigned long request, void* argument) {
    if (const auto fault = Injected(Call::kIoctl, fd)) return FailWith<int>(fault->error);
    return RealSystemCalls().ioctl(fd, request, argument);
}

int FakeTcdrain(int fd) {
    if (const auto fault = Injected(Call::kTcdrain, fd)) return FailWith<int>(fault->error);
    return RealSystemCalls().tcdrain(fd);
}

int PassTcflush(int fd, int queue) { return RealSystemCalls().tcflush(fd, queue); }
int PassTcflow(int fd, int action) { return RealSystemCalls().tcflow(fd, action); }

constexpr LinuxSystemCalls kFaultyCalls = {
    &FakeRead, &FakeWrite, &FakePoll, &FakeIoctl, &FakeTcdrain, &PassTcflush, &PassTcflow,
};

enum class Operation { kRead, kWrite, kDrain, kEscape, kQueueStatus, kWaitInput };

constexpr std::size_t kAll = ~std::size_t{0};

struct FaultCase {
    const char* name;
    Operation operation;
    std::vector<Fault> faults;
    // ERROR_SUCCESS when the call succeeds; ERROR_BAD_COMMAND, the code of
    // a removed device, also makes every later call fail so.
    std::uint32_t error;
    std::size_t moved = kAll;  // the bytes a read or a write reports
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) { return out << c.name; }

Fault Fail(Call call, int error, int times = 1) { return {call, error, 0, times}; }
Fault Short(Call call, std::size_t limit, int times = kEveryTime) {
    return {call, 0, limit, times};
}

const std::string kReadPayload = "read me\r\n\x01";
const std::string kWritePayload = "The quick brown fox";

const FaultCase kCases[] = {
    // A call that a signal interrupted is made again, and a short transfer
    // is followed by the rest: nothing is lost or doubled.
    {"ReadInterrupted", Operation::kRead, {Fail(Call::kRead, EINTR, 3)}, ERROR_SUCCESS},
    {"ReadShort", Operation::kRead, {Short(Call::kRead, 2)}, ERROR_SUCCESS},
    {"ReadWouldBlockThenPollInterrupted",
     Operation::kRead,
     {Fail(Call::kRead, EAGAIN), Fail(Call::kPoll, EINTR, 3)},
     ERROR_SUCCESS},
    {"WriteInterrupted", Operation::kWrite, {Fail(Call::kWrite, EINTR, 3)}, ERROR_SUCCESS},
    {"WriteShort", Operation::kWrite, {Short(Call::kWrite, 3)}, ERROR_SUCCESS},
    {"WriteWouldBlock", Operation::kWrite, {Fail(Call::kWrite, EAGAIN, 2)}, ERROR_SUCCESS},
    {"DrainInterrupted",
     Operation::kDrain,
     {Fail(Call::kIoctl, EINTR, 2), Fail(Call::kTcdrain, EINTR, 2)},
     ERROR_SUCCESS},
    {"EscapeInterrupted", Operation::kEscape, {Fail(Call::kIoctl, EINTR, 2)}, ERROR_SUCCESS},
    {"QueueStatusInterrupted",
     Operation::kQueueStatus,
     {Fail(Call::kIoctl, EINTR, 2)},
     ERROR_SUCCESS},
    {"InputWaitInterrupted", Operation::kWaitInput, {Fail(Call::kPoll, EINTR, 3)}, ERROR_SUCCESS},
    // The errors with which the kernel says the device went away.
    {"ReadIoError", Operation::kRead, {Fail(Call::kRead, EIO)}, ERROR_BAD_COMMAND, 0},
    {"ReadNoDevice", Operation::kRead, {Fail(Call::kRead, ENXIO)}, ERROR_BAD_COMMAND, 0},
    {"WriteShortThenIoError",
     Operation::kWrite,
     {Short(Call::kWrite, 3, 1), Fail(Call::kWrite, EIO)},
     ERROR_BAD_COMMAND,
     3},
    {"WriteNoDevice", Operation::kWrite, {Fail(Call::kWrite, ENXIO)}, ERROR_BAD_COMMAND, 0},
    {"DrainIoError", Operation::kDrain, {Fail(Call::kTcdrain, EIO)}, ERROR_BAD_COMMAND},
    {"QueueStatusNoDevice",
     Operation::kQueueStatus,
     {Fail(Call::kIoctl, ENXIO)},
     ERROR_BAD_COMMAND},
    // An errno without a Windows counterpart is a failure all the same.
    {"ReadUnknownError", Operation::kRead, {Fail(Call::kRead, EPROTO)}, ERROR_GEN_FAILURE, 0},
    {"WriteShortThenUnknownError",
     Operation::kWrite,
     {Short(Call::kWrite, 3, 1), Fail(Call::kWrite, EPROTO)},
     ERROR_GEN_FAILURE,
     3},
    {"EscapeUnknownError", Operation::kEscape, {Fail(Call::kIoctl, EPROTO)}, ERROR_GEN_FAILURE},
};

class SystemCallFaults : public PtyPortTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    struct Result {
        bool ok = false;
        std::uint32_t error = 0;
        std::uint32_t moved = 0;
        std::string read;
    };

    // Runs the case's operation with its faults scripted.
    Result RunFaulty(const FaultCase& c) {
        FaultScript::Load(c.faults);
        ScopedSystemCallsForTests faulty(kFaultyCalls);
        Result r;
        std::string buffer(64, '\0');
        switch (c.operation) {
            case Operation::kRead:
                r.ok = ReadFile(handle_, buffer.data(), 64, &r.moved);
                r.read = buffer.substr(0, r.moved);
                break;
            case Operation::kWrite:
                r.ok = WriteFile(handle_, kWritePayload.data(),
                                 static_cast<std::uint32_t>(kWritePayload.size()), &r.moved);
                break;
            case Operation::kDrain:
                r.ok = DrainCommOutput(handle_, 10000);
                break;
            case Operation::kEscape:
                r.ok = EscapeCommFunction(handle_, SETBREAK);
                break;
            case Operation::kQueueStatus: {
                COMSTAT stat{};
                r.ok = ClearCommError(handle_, nullptr, &stat);
                break;
            }
            case Operation::kWaitInput:
                r.ok = WaitCommInput(handle_, 10000);
                break;
        }
        r.error = GetLastError();
        return r;
    }
};

TEST_P(SystemCallFaults, ReportWhatTheDriverDidAndLoseNothing) {
    const FaultCase& c = GetParam();
    // Returns as soon as anything is there, waiting at most 10 s for it.
    const COMMTIMEOUTS firstByte{0xFFFFFFFFu, 0xFFFFFFFFu, 10000, 100, 1000};
    ASSERT_TRUE(SetCommTimeouts(handle_, firstByte));
    if (c.operation == Operation::kRead || c.operation == Operation::kWaitInput) {
        ASSERT_TRUE(pty_->WritePeer(kReadPayload));
        ASSERT_EQ(WaitForQueued(handle_, kReadPayload.size()), kReadPayload.size());
    }

    const Result r = RunFaulty(c);
    EXPECT_TRUE(FaultScript::AllMet()) << "the case did not meet all its faults";
    const bool succeeds = c.error == ERROR_SUCCESS;
    const bool gone = c.error == ERROR_BAD_COMMAND;
    EXPECT_EQ(r.ok, succeeds);
    if (!succeeds) {
        EXPECT_EQ(r.error, c.error);
    }

    if (c.operation == Operation::kRead) {
        const std::size_t expected = c.moved == kAll ? kReadPayload.size() : c.moved;
        EXPECT_EQ(r.moved, expected);
        // What the faulty read did not take is still there, once.
        std::string delivered = r.read;
        if (!gone) {
            ASSERT_TRUE(pty_->WritePeer("|"));
            const auto deadline = Clock::now() + 10s;
            while (delivered.find('|') == std::string::npos && Clock::now() < deadline)
                delivered += ReadAll(handle_, 64);
            EXPECT_EQ(delivered, kReadPayload + "|");
        }
    }
    if (c.operation == Operation::kWrite) {
        const std::size_t expected = c.moved == kAll ? kWritePayload.size() : c.moved;
        EXPECT_EQ(r.moved, expected);
        // The peer got what the write reported, once: a marker written past
        // the driver follows it directly.
        ASSERT_EQ(write(observer_, "|", 1), 1);
        EXPECT_EQ(pty_->ReadPeer(expected + 1, 10s), kWritePayload.substr(0, expected) + "|");
    }

    COMSTAT stat{};
    EXPECT_EQ(ClearCommError(handle_, nullptr, &stat), !gone);
    if (gone) {
        EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    }
}

INSTANTIATE_TEST_SUITE_P(PtyPort, SystemCallFaults, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A wait whose poll, once it returns, stalls its thread for a while, as a
// busy machine may before that thread runs again.
std::atomic<bool> stallingPollEntered{false};

int StallingPoll(pollfd* fds, nfds_t count, int timeoutMs) {
    const bool waits = timeoutMs != 0 &&
                       std::any_of(fds, fds + count, [](const pollfd& p) { return isatty(p.fd); });
    if (waits) stallingPollEntered.store(true);
    const int ready = RealSystemCalls().poll(fds, count, timeoutMs);
    if (waits) std::this_thread::sleep_for(200ms);
    return ready;
}

constexpr LinuxSystemCalls kStallingCalls = {
    &FakeRead, &FakeWrite, &StallingPoll, &FakeIoctl, &FakeTcdrain, &PassTcflush, &PassTcflow,
};

// The port is free for the next open once CloseHandle returns, also while
// a wait that the close ended still unwinds on another thread: reconnecting
// is a close and an open straight after, with reader threads still about.
TEST_F(PtyPortTest, ACloseFreesThePortBeforeAWaitOnItHasUnwound) {
    FaultScript::Load({});
    ScopedSystemCallsForTests stalling(kStallingCalls);
    std::thread waiter([handle = handle_] { WaitCommInput(handle, 10000); });
    for (const auto deadline = Clock::now() + 10s;
         !stallingPollEntered.load() && Clock::now() < deadline;)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(CloseHandle(handle_));
    handle_ = OpenPort(pty_->PortName());
    const std::uint32_t error = GetLastError();
    waiter.join();
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << "error " << error;
}

}  // namespace
}  // namespace tarn::driver::test
