// A port name that holds a NUL names no port: every system call below the
// driver would read only the part before it and open that device instead.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "pty_pair.h"
#include "serial_driver.h"
#include "serialport/component_test_support.h"
#include "virtual_port.h"

namespace tarn::driver {
namespace {

using namespace std::string_literals;

TEST(PortNamesWithNul, OpenNothingOnAnyBackend) {
    VirtualPort virtualPort("VNUL1");
    std::string whyNot;
    auto pty = tarn::test::PtyPair::Create(&whyNot);
    ASSERT_NE(pty, nullptr) << whyNot;
    const std::string terminal = "\\\\.\\" + pty->PortName();
    // Without the tail the terminal opens, so a refusal below is the name's.
    const HANDLE plain = CreateFileA(terminal);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(CloseHandle(plain));

    const std::vector<std::string> names = {"\\\\.\\VNUL1\0x"s, "\\\\.\\VNUL1\0"s,
                                            terminal + "\0junk"s, "\\\\.\\COM1\0junk"s,
                                            "\\\\.\\\0"s};
    for (const std::string& name : names) {
        SCOPED_TRACE(testing::PrintToString(name));
        SetLastError(ERROR_SUCCESS);
        const HANDLE h = CreateFileA(name);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    EXPECT_EQ(virtualPort.OpenCount(), 0);
}

TEST(PortNamesWithNul, MakeOpenFailWithTheSystemText) {
    VirtualPort device("VNUL2");
    TTarnSerialPort port;
    tarn::test::SelectPort(port, "VNUL2\0y"s);
    try {
        port.Open();
        FAIL() << "opened";
    } catch (const ETarnSerialPortException& e) {
        // The message holds the name as it was given, NUL and all, so it is
        // looked at whole rather than through what().
        const std::u16string message = e.Message();
        const std::string text = SystemErrorText(ERROR_INVALID_NAME);
        EXPECT_EQ(message.rfind(u"Cannot connect to VNUL2", 0), 0u) << e.what();
        EXPECT_NE(message.find(std::u16string(text.begin(), text.end())), std::u16string::npos)
            << e.what();
    }
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_EQ(device.OpenCount(), 0);
}

}  // namespace
}  // namespace tarn::driver
