// Only terminals are opened as ports: other character devices are refused
// by their class, without being opened, as no serial port.
#include "terminal_class_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "pty_pair.h"
#include "serial_driver.h"

namespace tarn::driver {
namespace {

namespace fs = std::filesystem;

TEST(TerminalClass, ComesFromTheDeviceListOrThePseudoTerminalMajors) {
    char name[] = "/tmp/tarn-class-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const fs::path chars = name;
    fs::create_directories(chars / "1:3");
    fs::create_directories(chars / "4:64");
    fs::create_directory_symlink("../../../class/mem", chars / "1:3" / "subsystem");
    fs::create_directory_symlink("../../../class/tty", chars / "4:64" / "subsystem");
    const std::string dir = chars.string();  // also a file that is not on devpts

    EXPECT_EQ(ClassifyCharDevice(dir, makedev(4, 64), dir), TerminalClass::kTerminal);
    EXPECT_EQ(ClassifyCharDevice(dir, makedev(136, 7), dir), TerminalClass::kTerminal);
    EXPECT_EQ(ClassifyCharDevice(dir, makedev(1, 3), dir), TerminalClass::kNotTerminal);
    EXPECT_EQ(ClassifyCharDevice(dir, makedev(10, 130), dir), TerminalClass::kNotTerminal);
    EXPECT_EQ(ClassifyCharDevice(dir, makedev(1, 3), dir + "/none"), TerminalClass::kUnknown);
    fs::remove_all(chars);
}

TEST(TerminalClass, OtherDevicesAreRefusedUnopenedAndTerminalsOpen) {
    for (const char* device : {"/dev/null", "/dev/zero", "/dev/full"}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(CreateFileA(std::string("\\\\.\\") + device), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    }

    // A node of its own for /dev/zero shows whether anyone opened it.
    char name[] = "/tmp/tarn-zero-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const std::string node = std::string(name) + "/zero";
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        EXPECT_GE(inotify_add_watch(watch, node.c_str(), IN_OPEN), 0);
        EXPECT_EQ(CreateFileA("\\\\.\\" + node), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
        char events[256];
        EXPECT_LT(read(watch, events, sizeof events), 0) << "the device was opened";
        // The watch does see an open.
        const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            EXPECT_GT(read(watch, events, sizeof events), 0);
            close(fd);
        }
        close(watch);
    }
    fs::remove_all(name);

    std::string whyNot;
    auto pty = tarn::test::PtyPair::Create(&whyNot);
    ASSERT_NE(pty, nullptr) << whyNot;
    const HANDLE h = CreateFileA("\\\\.\\" + pty->PortName());
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

}  // namespace
}  // namespace tarn::driver
