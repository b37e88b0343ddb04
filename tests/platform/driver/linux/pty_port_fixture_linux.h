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

#include "platform/driver/driver_contract.h"
#include "pty_pair.h"
#include "serial_driver.h"

namespace tarn::driver::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using contract::kComponentTimeouts;
using contract::ReadAll;
using contract::WaitForQueued;
using contract::Write;

inline HANDLE OpenPort(const std::string& name) { return CreateFileA("\\\\.\\" + name); }

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
