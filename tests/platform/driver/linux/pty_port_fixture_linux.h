// A pseudo-terminal opened through the driver seam, with a second descriptor
// on the port end so that tests can look at the terminal settings the driver
// made. The observer is opened before the driver's own open, as the driver
// then makes the terminal exclusive.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "serial_driver.h"

namespace tarn::driver::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The time-outs that the component applies by default.
inline constexpr COMMTIMEOUTS kComponentTimeouts{0xFFFFFFFFu, 0, 0, 100, 1000};

// Upper bound for anything that should happen "at once".
inline constexpr auto kPrompt = 5s;

inline HANDLE OpenPort(const std::string& name) { return CreateFileA("\\\\.\\" + name); }

inline std::string ReadAll(HANDLE h, std::uint32_t count) {
    std::string bytes(count, '\0');
    std::uint32_t got = 0;
    if (!ReadFile(h, bytes.data(), count, &got)) return "<ReadFile failed>";
    bytes.resize(got);
    return bytes;
}

inline bool Write(HANDLE h, const std::string& bytes) {
    std::uint32_t written = 0;
    return WriteFile(h, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) &&
           written == bytes.size();
}

// Waits until the driver holds `count` received bytes; returns the count it
// last saw.
inline std::uint32_t WaitForQueued(HANDLE h, std::uint32_t count) {
    const auto deadline = Clock::now() + 10s;
    COMSTAT stat{};
    while (Clock::now() < deadline) {
        std::uint32_t errors = 0;
        if (!ClearCommError(h, &errors, &stat)) return 0;
        if (stat.cbInQue >= count) break;
        std::this_thread::sleep_for(1ms);
    }
    return stat.cbInQue;
}

class PtyPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        pty_ = tarn::test::PtyPair::Create(&whyNot);
        ASSERT_TRUE(pty_) << whyNot;
        observer_ = open(pty_->PortName().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(observer_, 0);
        handle_ = OpenPort(pty_->PortName());
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
        ASSERT_TRUE(SetCommTimeouts(handle_, kComponentTimeouts));
    }

    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        if (observer_ >= 0) close(observer_);
    }

    // A block as the component builds it: 28 bytes, binary, XON/XOFF
    // characters set, DTR and RTS enabled.
    static DCB BaseDcb(std::uint32_t rate = 9600) {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = rate;
        dcb.Flags = DCB_fBinary | (DTR_CONTROL_ENABLE << DCB_fDtrControlShift) |
                    (RTS_CONTROL_ENABLE << DCB_fRtsControlShift);
        dcb.ByteSize = 8;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        return dcb;
    }

    std::unique_ptr<tarn::test::PtyPair> pty_;
    int observer_ = -1;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace tarn::driver::test
