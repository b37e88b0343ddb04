// The behaviour that every backend of the driver seam owes its callers,
// checked once and run over each backend of the build. A backend takes part
// through a DriverBackend object: how to make one of its ports with the far
// end of the line in the test's hands, and the few answers in which its
// ports may honestly differ. Its file instantiates the suites with
// TARN_DRIVER_CONTRACT_BACKEND; the cases themselves reach the port through
// the seam's functions only (driver_contract_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "port_registry.h"
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

    // The error of a second opening while the port is open; 0 where the
    // port opens again (Wine shares a terminal between its handles).
    std::uint32_t openTwiceError = ERROR_ACCESS_DENIED;
    // The error of every call on a removed port; 0 where only a failure is
    // promised, as the system's own driver gives whatever its device says.
    std::uint32_t removedError = ERROR_BAD_COMMAND;
    // A read, the settings, the line controls and a purge fail on a removed
    // port too, not only a write, a peek and the queue query.
    bool removalFailsEveryCall = true;
    // A removal ends a read that waits for bytes.
    bool removalEndsAWaitingRead = true;
    // The read time-outs that end a read on a quiet line are modelled, and
    // the mode that returns with the first byte.
    bool intervalTimeouts = true;
    bool firstByteReturns = true;
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
    // A write waits once the far end stops taking bytes; not where buffers
    // on the way (TCP's) take a block of a megabyte at once.
    bool writesWaitForTheFarEnd = true;
    // An input wait on a quiet line lasts its time; not where the far end's
    // notices of its modem lines end it too.
    bool quietInputWaitLastsItsTime = true;
    // The error of opening a removed port; 0 where only a failure is
    // promised.
    std::uint32_t removedOpenError = ERROR_FILE_NOT_FOUND;
    // A port closed here is free again at once; not where the far end
    // (a server) lets go of the old connection on its own time and refuses
    // a new one until then.
    bool reopensAtOnce = true;
};

// The port is in the driver's port list.
inline bool IsListed(const std::string& name) {
    const std::u16string wanted(name.begin(), name.end());
    std::vector<RegistryValue> values;
    if (!ReadRegistryKey(HKEY_LOCAL_MACHINE, kSerialCommKey, values)) return false;
    return std::any_of(values.begin(), values.end(),
                       [&](const RegistryValue& v) { return v.isString && v.data == wanted; });
}

// The time-outs that the component applies by default: reads return at once
// with what is queued.
inline constexpr COMMTIMEOUTS kComponentTimeouts{0xFFFFFFFFu, 0, 0, 100, 1000};

// Upper bound for anything that should happen at once.
inline constexpr std::chrono::seconds kPrompt{10};

// A zero-filled block with what the component's defaults put into it.
inline DCB ComponentDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.Parity = NOPARITY;
    dcb.Flags = DCB_fBinary | (DTR_CONTROL_ENABLE << DCB_fDtrControlShift) |
                (RTS_CONTROL_ENABLE << DCB_fRtsControlShift);
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 1024;
    dcb.XoffLim = 1;
    return dcb;
}

// One ReadFile of up to `count` bytes.
inline std::string ReadAll(HANDLE handle, std::uint32_t count) {
    std::string bytes(count, '\0');
    std::uint32_t got = 0;
    if (!ReadFile(handle, &bytes[0], count, &got)) return "<ReadFile failed>";
    bytes.resize(got);
    return bytes;
}

inline bool Write(HANDLE handle, const std::string& bytes) {
    std::uint32_t written = 0xDEAD;
    return WriteFile(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) &&
           written == bytes.size();
}

// Waits until the driver holds at least `count` received bytes; returns the
// count it last saw.
inline std::uint32_t WaitForQueued(HANDLE handle, std::uint32_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kPrompt;
    COMSTAT stat{};
    for (;;) {
        std::uint32_t errors = 0;
        if (!ClearCommError(handle, &errors, &stat)) return 0;
        if (stat.cbInQue >= count || std::chrono::steady_clock::now() >= deadline) {
            return stat.cbInQue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A port of the terminal backends: a pseudo-terminal pair (pty_pair.h),
// which is a COM port to a pseudo-terminal under Wine.
std::unique_ptr<ContractPort> MakeTerminalPort(std::string* whyNot);
// A virtual port (virtual_port.h), whose far end is the port object.
std::unique_ptr<ContractPort> MakeVirtualPort(std::string* whyNot);

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
    // Open right after a close of this port: at once, or, where the backend
    // does not reopen at once, as soon as the far end lets the old
    // connection go (within the event limit).
    HANDLE Reopen(const std::string& name) const;
    void ApplyComponentSettings();
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

    // One ReadFile of up to `count` bytes, on a thread of its own: a read
    // that blocks where it must not fails the test instead of hanging it,
    // as the port is then removed, which ends the read.
    std::string Read(std::uint32_t count) {
        return Guarded([this, count] { return ReadAll(handle_, count); }, kPrompt);
    }
    bool Write(const std::string& bytes) { return contract::Write(handle_, bytes); }
    std::uint32_t WaitForQueued(std::uint32_t count) {
        return contract::WaitForQueued(handle_, count);
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
