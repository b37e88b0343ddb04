// The driver contract on what makes calls wait and what ends their waits:
// the Win32 time-out rules, purges, input waits, and a port that goes away.
#include <future>
#include <tuple>
#include <utility>
#include <vector>

#include "driver_contract.h"

namespace tarn::driver::contract {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// 0 for a call that succeeded, else its error, taken on the call's thread.
std::uint32_t ErrorOf(bool ok) { return ok ? 0u : GetLastError(); }

TEST_P(DriverContractTimeouts, ReadTotalTimeOutWaitsItsTimeAndReturnsNothing) {
    ASSERT_TRUE(SetCommTimeouts(handle_, COMMTIMEOUTS{0, 0, 300, 0, 0}));
    const auto start = Clock::now();
    std::uint32_t got = 99;
    char buffer[10];
    EXPECT_TRUE(ReadFile(handle_, buffer, sizeof buffer, &got));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(got, 0u);
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 300ms + kPrompt);
}

TEST_P(DriverContractTimeouts, ReadWithoutTimeOutsOrWithinItsTotalWaitsForTheWholeCount) {
    const COMMTIMEOUTS unlimited{0, 0, 0, 0, 0};
    const COMMTIMEOUTS longTotal{0, 0, 60000, 0, 0};
    for (const COMMTIMEOUTS& timeouts : {unlimited, longTotal}) {
        SCOPED_TRACE(timeouts.ReadTotalTimeoutConstant);
        ASSERT_TRUE(SetCommTimeouts(handle_, timeouts));
        const std::string got = Guarded(
            [&] {
                auto reader = std::async(std::launch::async, [&] { return ReadAll(handle_, 4); });
                EXPECT_TRUE(port_->WritePeer("ab"));
                EXPECT_TRUE(port_->WritePeer("cd"));
                return reader.get();
            },
            kPrompt);
        EXPECT_EQ(got, "abcd");
    }
}

// The interval time-out ends a read when the line goes quiet; the mode that
// returns with the first byte waits only for its arrival.
TEST_P(DriverContractTimeouts, ReadsEndWhenTheLineGoesQuietOrWithTheFirstByte) {
    if (!Backend().intervalTimeouts) GTEST_SKIP() << "the backend has no interval time-outs";
    ASSERT_TRUE(SetCommTimeouts(handle_, COMMTIMEOUTS{50, 0, 0, 0, 0}));
    ASSERT_TRUE(port_->WritePeer("abc"));
    ASSERT_EQ(WaitForQueued(3), 3u);
    auto start = Clock::now();
    EXPECT_EQ(Read(100), "abc");
    EXPECT_LT(Clock::now() - start, kPrompt);
    // Under Wine such a read waits out its whole constant.
    if (!Backend().firstByteReturns) return;

    ASSERT_TRUE(SetCommTimeouts(handle_, COMMTIMEOUTS{0xFFFFFFFFu, 0xFFFFFFFFu, 60000, 0, 0}));
    start = Clock::now();
    auto reader = std::async(std::launch::async, [&] { return ReadAll(handle_, 100); });
    ASSERT_TRUE(port_->WritePeer("q"));
    if (reader.wait_for(30s) != std::future_status::ready) port_->Remove();
    EXPECT_EQ(reader.get(), "q");
    EXPECT_LT(Clock::now() - start, 30s);
}

TEST_P(DriverContractTimeouts, RefusesTheOneForbiddenTimeOutCombination) {
    if (!Backend().refusesForbiddenTimeouts) GTEST_SKIP() << "the backend takes any time-outs";
    const COMMTIMEOUTS forbidden{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(handle_, forbidden));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    COMMTIMEOUTS kept{};
    ASSERT_TRUE(GetCommTimeouts(handle_, kept));
    EXPECT_EQ(kept.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(kept.WriteTotalTimeoutConstant, 1000u);
}

TEST_P(DriverContractTimeouts, WriteTimeOutReturnsTheShortCountAsSuccess) {
    if (!Backend().writesWaitForTheFarEnd) GTEST_SKIP() << "buffers on the way take the block";
    ASSERT_TRUE(SetCommTimeouts(handle_, COMMTIMEOUTS{0xFFFFFFFFu, 0, 0, 0, 200}));
    port_->StopTakingOutput();
    const std::string block(1024 * 1024, 'w');
    const auto start = Clock::now();
    const auto [ok, error, written] = Guarded(
        [&] {
            std::uint32_t n = 0;
            const bool done =
                WriteFile(handle_, block.data(), static_cast<std::uint32_t>(block.size()), &n);
            return std::make_tuple(done, GetLastError(), n);
        },
        200ms + kPrompt);
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(ok);
    if (Backend().writeTimeoutSetsSemTimeout) {
        EXPECT_EQ(error, ERROR_SEM_TIMEOUT);
    }
    EXPECT_LT(written, block.size());
    EXPECT_GE(elapsed, 200ms);
    EXPECT_LT(elapsed, 200ms + kPrompt);
}

TEST_P(DriverContractPurge, PurgeDiscardsTheReceiveQueue) {
    ASSERT_TRUE(port_->WritePeer("stale"));
    ASSERT_EQ(WaitForQueued(5), 5u);
    ASSERT_TRUE(PurgeComm(handle_, PURGE_RXCLEAR));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_EQ(Read(16), "");
    // The line still works afterwards.
    ASSERT_TRUE(port_->WritePeer("fresh"));
    ASSERT_EQ(WaitForQueued(5), 5u);
    EXPECT_EQ(Read(16), "fresh");
    EXPECT_TRUE(PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    if (!Backend().refusesUnknownPurgeFlags) return;
    EXPECT_FALSE(PurgeComm(handle_, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_P(DriverContractPurge, PurgeAbortsAWaitingRead) {
    if (!Backend().purgeAbortsWaitingReads) GTEST_SKIP() << "the backend's purge aborts no read";
    ASSERT_TRUE(SetCommTimeouts(handle_, COMMTIMEOUTS{0, 0, 0, 0, 0}));
    auto reader = std::async(std::launch::async, [&] {
        char byte;
        std::uint32_t got = 0;
        return ErrorOf(ReadFile(handle_, &byte, 1, &got));
    });
    // An abort reaches the reads already running; repeat it until the reader,
    // which may not have started yet, has been reached.
    const auto deadline = Clock::now() + kPrompt;
    while (reader.wait_for(10ms) != std::future_status::ready && Clock::now() < deadline) {
        EXPECT_TRUE(PurgeComm(handle_, PURGE_RXABORT));
    }
    if (reader.wait_for(0s) != std::future_status::ready) port_->Remove();
    EXPECT_EQ(reader.get(), ERROR_OPERATION_ABORTED);
}

TEST_P(DriverContractPurge, PurgeAbortsAWriteThatIsWaitingForRoom) {
    if (!Backend().purgeAbortsWaitingWrites) GTEST_SKIP() << "the backend's purge aborts no write";
    ASSERT_TRUE(SetCommTimeouts(handle_, COMMTIMEOUTS{0xFFFFFFFFu, 0, 0, 0, 0}));
    port_->StopTakingOutput();
    const std::string block(1024 * 1024, 'w');
    auto writer = std::async(std::launch::async, [&] {
        std::uint32_t written = 0;
        const bool ok =
            WriteFile(handle_, block.data(), static_cast<std::uint32_t>(block.size()), &written);
        return std::make_pair(ErrorOf(ok), written);
    });
    const auto deadline = Clock::now() + kPrompt;
    while (writer.wait_for(10ms) != std::future_status::ready && Clock::now() < deadline) {
        EXPECT_TRUE(PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR));
    }
    if (writer.wait_for(0s) != std::future_status::ready) port_->Remove();
    const auto [error, written] = writer.get();
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
    EXPECT_LT(written, block.size());
}

TEST_P(DriverContractInputWait, AnInputWaitEndsWithTheFirstByteAndLastsItsTimeOtherwise) {
    const auto start = Clock::now();
    EXPECT_TRUE(WaitCommInput(handle_, 50));
    if (Backend().quietInputWaitLastsItsTime) {
        EXPECT_GE(Clock::now() - start, 50ms);
    }

    auto waiter = std::async(std::launch::async, [&] { return WaitCommInput(handle_, 600000); });
    ASSERT_TRUE(port_->WritePeer("x"));
    if (waiter.wait_for(kPrompt) != std::future_status::ready) port_->Remove();
    EXPECT_TRUE(waiter.get());

    // The byte is still there, and a wait with it there ends at once.
    EXPECT_TRUE(Guarded([&] { return WaitCommInput(handle_, 600000); }, kPrompt));
    EXPECT_EQ(Read(4), "x");
}

TEST_P(DriverContractInputWait, ACancelEndsTheInputWaitsAndLeavesTheHandleUsable) {
    auto waiter = std::async(std::launch::async, [&] { return WaitCommInput(handle_, 600000); });
    ASSERT_TRUE(CancelCommWaits(handle_));
    if (waiter.wait_for(kPrompt) != std::future_status::ready) port_->Remove();
    EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(Guarded([&] { return WaitCommInput(handle_, 600000); }, kPrompt))
        << "a later wait ends at once too";
    ASSERT_TRUE(port_->WritePeer("y"));
    ASSERT_EQ(WaitForQueued(1), 1u);
    EXPECT_EQ(Read(4), "y");
    ASSERT_TRUE(CloseHandle(handle_));
    EXPECT_FALSE(CancelCommWaits(handle_));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    handle_ = INVALID_HANDLE_VALUE;
}

TEST_P(DriverContractInputWait, AWakeEndsEveryWaitGivenACountFromBeforeIt) {
    // Whether a waiter has begun its wait when the wake comes or not, it
    // ends: two threads that wait on one handle both need the wake.
    const std::uint64_t seen = CommWakesAsked(handle_);
    const auto wait = [&] { return WaitCommInput(handle_, 600000, seen); };
    std::vector<std::future<bool>> waiters;
    for (int i = 0; i < 2; ++i) waiters.push_back(std::async(std::launch::async, wait));
    ASSERT_TRUE(WakeCommWaits(handle_));
    for (std::future<bool>& waiter : waiters) {
        if (waiter.wait_for(kPrompt) != std::future_status::ready) port_->Remove();
        EXPECT_TRUE(waiter.get());
    }
    // A wait counted from after the wake waits on.
    const auto start = Clock::now();
    EXPECT_TRUE(WaitCommInput(handle_, 50, CommWakesAsked(handle_)));
    if (Backend().quietInputWaitLastsItsTime) {
        EXPECT_GE(Clock::now() - start, 50ms);
    }
}

TEST_P(DriverContractInputWait, BytesReadAheadEndAnInputWaitAtOnce) {
    // A read of one byte may take the system's whole queue and keep the rest.
    ASSERT_TRUE(port_->WritePeer("abc"));
    ASSERT_EQ(WaitForQueued(3), 3u);
    ASSERT_EQ(Read(1), "a");
    EXPECT_TRUE(Guarded([&] { return WaitCommInput(handle_, 600000); }, kPrompt));
    EXPECT_EQ(Read(2), "bc");
}

TEST_P(DriverContractInputWait, ClosingTheHandleEndsAnInputWaitOnAnotherThread) {
    // The waiter takes its own copy of the handle, which this thread resets.
    auto waiter = std::async(std::launch::async,
                             [handle = handle_] { return ErrorOf(WaitCommInput(handle, 600000)); });
    // The waiter may not have begun yet; then it finds the handle invalid.
    ASSERT_TRUE(CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
    if (waiter.wait_for(kPrompt) != std::future_status::ready) port_->Remove();
    const std::uint32_t error = waiter.get();
    if (Backend().closeFailsAWaitingInputWait) {
        EXPECT_EQ(error, ERROR_INVALID_HANDLE);
    }
    // The port is free at once for another opening.
    handle_ = Reopen(port_->Name());
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
}

// The error of a call on a removed port, as the backend gives it.
void ExpectRemoved(const DriverBackend& backend, bool ok, const char* call) {
    const std::uint32_t error = GetLastError();
    EXPECT_FALSE(ok) << call;
    if (backend.removedError != 0) {
        EXPECT_EQ(error, backend.removedError) << call;
    } else {
        EXPECT_NE(error, ERROR_SUCCESS) << call;
    }
    SetLastError(ERROR_SUCCESS);
}

TEST_P(DriverContractRemoval, ARemovedPortLeavesTheListFailsEveryCallAndOpensNoMore) {
    EXPECT_TRUE(IsListed(port_->Name()));
    port_->Remove();
    EXPECT_FALSE(IsListed(port_->Name()));
    SetLastError(ERROR_SUCCESS);
    std::uint32_t errors = 0;
    COMSTAT stat{};
    ExpectRemoved(Backend(), ClearCommError(handle_, &errors, &stat), "ClearCommError");
    char buffer[4];
    std::uint32_t count = 0;
    ExpectRemoved(Backend(), WriteFile(handle_, "x", 1, &count), "WriteFile");
    count = 7;
    ExpectRemoved(Backend(), PeekInput(handle_, buffer, sizeof buffer, &count), "PeekInput");
    EXPECT_EQ(count, 0u);
    if (Backend().removalFailsEveryCall) {
        ExpectRemoved(Backend(), ReadFile(handle_, buffer, sizeof buffer, &count), "ReadFile");
        DCB dcb{};
        ExpectRemoved(Backend(), GetCommState(handle_, dcb), "GetCommState");
        ExpectRemoved(Backend(), SetCommState(handle_, ComponentDcb()), "SetCommState");
        ExpectRemoved(Backend(), PurgeComm(handle_, PURGE_RXCLEAR), "PurgeComm");
        ExpectRemoved(Backend(), EscapeCommFunction(handle_, SETBREAK), "EscapeCommFunction");
    }
    EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
    if (Backend().removedOpenError != 0) {
        EXPECT_EQ(GetLastError(), Backend().removedOpenError);
    }
    EXPECT_TRUE(CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
}

TEST_P(DriverContractRemoval, ARemovalEndsAWaitingRead) {
    if (!Backend().removalEndsAWaitingRead) GTEST_SKIP() << "a removal ends no read under Wine";
    ASSERT_TRUE(SetCommTimeouts(handle_, COMMTIMEOUTS{0, 0, 0, 0, 0}));
    auto reader = std::async(std::launch::async, [&] {
        char byte;
        std::uint32_t got = 0;
        const bool ok = ReadFile(handle_, &byte, 1, &got);
        return std::make_pair(ok, GetLastError());
    });
    port_->Remove();
    ASSERT_EQ(reader.wait_for(kPrompt), std::future_status::ready);
    const auto [ok, error] = reader.get();
    SetLastError(error);
    ExpectRemoved(Backend(), ok, "ReadFile");
}

TEST_P(DriverContractRemoval, ARemovalEndsAnInputWait) {
    auto waiter = std::async(std::launch::async, [&] {
        const bool ok = WaitCommInput(handle_, 600000);
        return std::make_pair(ok, GetLastError());
    });
    port_->Remove();
    ASSERT_EQ(waiter.wait_for(kPrompt), std::future_status::ready);
    const auto [ok, error] = waiter.get();
    SetLastError(error);
    ExpectRemoved(Backend(), ok, "the running WaitCommInput");
    ExpectRemoved(Backend(), WaitCommInput(handle_, 600000), "a later WaitCommInput");
}

}  // namespace
}  // namespace tarn::driver::contract
