// Only terminals are opened as ports: other character devices are refused
// by their class, without being opened, as no serial port.
#include "terminal_class_posix.h"

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

class TerminalClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/tarn-class-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    fs::path root_;
};

TEST_F(TerminalClassTest, ComesFromTheSysfsLinkOrThePseudoTerminalMajors) {
    const fs::path chars = root_ / "dev" / "char";
    for (const char* entry : {"1:3", "4:64"}) fs::create_directories(chars / entry);
    fs::create_directory_symlink("../../../class/mem", chars / "1:3" / "subsystem");
    fs::create_directory_symlink("../../../class/tty", chars / "4:64" / "subsystem");
    const std::string file = root_.string();  // not on devpts

    const struct {
        dev_t device;
        TerminalClass expected;
    } cases[] = {
        {makedev(4, 64), TerminalClass::kTerminal},
        {makedev(1, 3), TerminalClass::kNotTerminal},
        {makedev(10, 130), TerminalClass::kNotTerminal},  // in no class at all
        {makedev(136, 7), TerminalClass::kTerminal},      // a pseudo-terminal slave
        {makedev(143, 1), TerminalClass::kTerminal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(major(c.device)) + ":" + std::to_string(minor(c.device)));
        EXPECT_EQ(ClassifyCharDevice(file, c.device, chars.string()), c.expected);
    }
    // Without the system's list of devices there is nothing to ask.
    EXPECT_EQ(ClassifyCharDevice(file, makedev(1, 3), (root_ / "none").string()),
              TerminalClass::kUnknown);
}

TEST_F(TerminalClassTest, OtherDevicesAreRefusedUnopenedAndTerminalsOpen) {
    for (const char* device : {"/dev/null", "/dev/zero", "/dev/full"}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(CreateFileA(std::string("\\\\.\\") + device), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    }

    // A node of its own for /dev/zero shows whether anyone opened it.
    const std::string node = (root_ / "zero").string();
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, node.c_str(), IN_OPEN), 0);
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

    std::string whyNot;
    auto pty = tarn::test::PtyPair::Create(&whyNot);
    ASSERT_NE(pty, nullptr) << whyNot;
    const HANDLE h = CreateFileA("\\\\.\\" + pty->PortName());
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

}  // namespace
}  // namespace tarn::driver
