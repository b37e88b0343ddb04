// The behaviour that every backend of the driver seam owes its callers,
// checked once and run over each backend of the build. A backend takes part
// through a DriverBackend object: how to make one of its ports with the far
// end of the line in the test's hands, and the few answers in which its
// ports may honestly differ. Its file instantiates the suites with
// TARN_DRIVER_CONTRACT_BACKEND; the cases themselves reach the port through
// the seam's functions only (driver_contract_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "serial_driver.h"

namespace tarn::driver::contract {

// One port of a backend and the far end of its line.
class ContractPort {
public:
    virtual ~ContractPort() = default;
    // The name that CreateFileA opens after "\\.\".
    virtual std::string Name() const = 0;
    // Sends all of `bytes` from the far end.
    virtual bool WritePeer(const std::string& bytes) = 0;
    // Takes what reached the far end until `count` bytes have come or
    // `timeout` has passed.
    virtual std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) = 0;
    // The far end takes nothing more, so that writes wait for room. A far
    // end that is never read fills up by itself and does nothing here.
    virtual void StopTakingOutput() {}
    // The device goes away as a pulled adapter does.
    virtual void Remove() = 0;
};

// A backend: its ports and the answers in which they differ from those of
// the others.
struct DriverBackend {
    // The parameter's name in the cases' names.
    const char* name;
    // Makes a new port; null with the reason in `whyNot` when it cannot.
    std::unique_ptr<ContractPort> (*makePort)(std::string* whyNot);

    // The error of a second opening while the port is open.
    std::uint32_t openTwiceError = ERROR_ACCESS_DENIED;
    // The error of every call on a removed port; 0 where only a failure is
    // promised, as the system's own driver gives whatever its device says.
    std::uint32_t removedError = ERROR_BAD_COMMAND;
    // The settings, the line controls and a purge fail on a removed port
    // too, not only the data and the queue query.
    bool removalFailsEveryCall = true;
    // The read time-outs that end a read on a quiet line, and the mode that
    // returns with the first byte, are modelled.
    bool intervalTimeouts = true;
    // SetCommTimeouts refuses the combination that Windows refuses.
    bool refusesForbiddenTimeouts = true;
    // A write that runs out of time says so with ERROR_SEM_TIMEOUT.
    bool writeTimeoutSetsSemTimeout = true;
    // A purge aborts a read that is waiting, and a write.
    bool purgeAbortsWaitingReads = true;
    bool purgeAbortsWaitingWrites = true;
    // A purge with a flag it does not know fails.
    bool refusesUnknownPurgeFlags = true;
    // SetupComm refuses a queue of no bytes.
    bool refusesEmptyQueues = true;
    // The line has modem lines to set and to read; without them the driver
    // says ERROR_NOT_SUPPORTED.
    bool modemLines = false;
    // Every data width and parity reads back as set (a pseudo-terminal is
    // always eight bits wide without parity).
    bool anyDataFormat = false;
    // An input wait that a close on another thread ends fails, as one on an
    // invalid handle.
    bool closeFailsAWaitingInputWait = false;
};

// A port of the terminal backends: a pseudo-terminal pair (pty_pair.h),
// which is a COM port to a pseudo-terminal under Wine.
std::unique_ptr<ContractPort> MakeTerminalPort(std::string* whyNot);

inline std::string BackendName(const ::testing::TestParamInfo<DriverBackend>& info) {
    return info.param.name;
}

// Failures name the backend.
inline void PrintTo(const DriverBackend& backend, std::ostream* os) { *os << backend.name; }

// Each case gets a new port of the backend, opened through the seam with the
// settings that the component applies by default.
class DriverContract : public ::testing::TestWithParam<DriverBackend> {
protected:
    void SetUp() override;
    void TearDown() override;

    const DriverBackend& Backend() const { return GetParam(); }
    HANDLE Open() const;
    void ApplyComponentSettings();
    // One ReadFile of up to `count` bytes, on a thread of its own: a read
    // that blocks where it must not fails the test instead of hanging it,
    // as the port is then removed, which ends the read.
    std::string Read(std::uint32_t count);
    bool Write(const std::string& bytes);
    // Waits until the driver holds at least `count` received bytes; returns
    // the count it last saw.
    std::uint32_t WaitForQueued(std::uint32_t count);

    // Runs `call` on a thread of its own and waits for it at most `limit`.
    // One still running then fails the test, and is ended by removing the
    // port rather than left to hang the suite.
    template <typename Call>
    auto Guarded(Call call, std::chrono::milliseconds limit) {
        auto running = std::async(std::launch::async, std::move(call));
        if (running.wait_for(limit) != std::future_status::ready) {
            ADD_FAILURE() << "a call on the port did not return within " << limit.count() << " ms";
            port_->Remove();
        }
        return running.get();
    }

    std::unique_ptr<ContractPort> port_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class DriverContractTimeouts : public DriverContract {};
class DriverContractPurge : public DriverContract {};
class DriverContractInputWait : public DriverContract {};
class DriverContractRemoval : public DriverContract {};

}  // namespace tarn::driver::contract

// Runs every suite of the contract over `backend`, a DriverBackend.
#define TARN_DRIVER_CONTRACT_BACKEND(backend)                                       \
    INSTANTIATE_TEST_SUITE_P(, DriverContract, ::testing::Values(backend),          \
                             ::tarn::driver::contract::BackendName);                \
    INSTANTIATE_TEST_SUITE_P(, DriverContractTimeouts, ::testing::Values(backend),  \
                             ::tarn::driver::contract::BackendName);                \
    INSTANTIATE_TEST_SUITE_P(, DriverContractPurge, ::testing::Values(backend),     \
                             ::tarn::driver::contract::BackendName);                \
    INSTANTIATE_TEST_SUITE_P(, DriverContractInputWait, ::testing::Values(backend), \
                             ::tarn::driver::contract::BackendName);                \
    INSTANTIATE_TEST_SUITE_P(, DriverContractRemoval, ::testing::Values(backend),   \
                             ::tarn::driver::contract::BackendName)
