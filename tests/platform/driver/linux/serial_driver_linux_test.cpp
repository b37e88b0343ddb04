// What only the termios backend does, through the driver seam: the files it
// refuses to open, the exclusive flag of a terminal, and the port list that
// it makes up from the terminals open. What every backend does is in the
// driver contract (driver_contract_terminal_linux.cpp).
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

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
