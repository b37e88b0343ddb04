// Lock files in the UUCP convention: which files keep a port from this
// process and which are taken over, and how an open of a port honours them
// and the other claims of exclusive access.
#include "uucp_lock_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pty_pair.h"
#include "serial_driver.h"

namespace tarn::driver {
namespace {

namespace fs = std::filesystem;

// A process that surely lives while the test runs, and is not this one.
pid_t LivePid() { return getppid(); }

// The id of a process that has ended and been collected.
pid_t DeadPid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

std::string LockText(pid_t pid) {
    char text[24];
    std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(pid));
    return text;
}

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "<none>";
}

class LockFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/tarn-lock-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder_ = name;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::uint32_t Claim(std::unique_ptr<UucpLock>& lock) {
        return UucpLock::Acquire(folder_.string(), "/dev/ttyTARN0", lock);
    }
    fs::path folder_;
};

TEST_F(LockFolderTest, ALiveOwnerKeepsThePortAndStaleFilesAreTakenOver) {
    const struct {
        std::string text;
        bool taken;
    } cases[] = {
        {LockText(LivePid()), false},
        {std::to_string(LivePid()) + "\n", false},  // not aligned, still a process id
        {LockText(DeadPid()), true},
        {LockText(getpid()), true},  // left by an earlier process with this id
        {"garbage\n", true},
        {"", true},
    };
    const fs::path file = folder_ / "LCK..ttyTARN0";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        std::ofstream(file, std::ios::trunc) << c.text;
        std::unique_ptr<UucpLock> lock;
        EXPECT_EQ(Claim(lock), c.taken ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
        EXPECT_EQ(Contents(file), c.taken ? LockText(getpid()) : c.text);
        // No temporary file stays behind.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
    }
}

TEST_F(LockFolderTest, ReleaseRemovesOnlyAFileThatStillNamesThisProcess) {
    std::unique_ptr<UucpLock> lock;
    ASSERT_EQ(Claim(lock), ERROR_SUCCESS);
    ASSERT_NE(lock, nullptr);
    lock.reset();
    EXPECT_FALSE(fs::exists(folder_ / "LCK..ttyTARN0"));

    ASSERT_EQ(Claim(lock), ERROR_SUCCESS);
    std::ofstream(folder_ / "LCK..ttyTARN0", std::ios::trunc) << LockText(LivePid());
    lock.reset();
    EXPECT_EQ(Contents(folder_ / "LCK..ttyTARN0"), LockText(LivePid()));

    // Where nothing can be written, the claim goes on without a file.
    EXPECT_EQ(UucpLock::Acquire((folder_ / "missing").string(), "/dev/ttyTARN0", lock),
              ERROR_SUCCESS);
    EXPECT_EQ(lock, nullptr);
}

// Opens of a pseudo-terminal through the driver, with lock files in the
// test's own folder.
class PortClaimTest : public LockFolderTest {
protected:
    void SetUp() override {
        LockFolderTest::SetUp();
        UseLockFolderForTests(folder_.string());
        std::string whyNot;
        pty_ = tarn::test::PtyPair::Create(&whyNot);
        ASSERT_NE(pty_, nullptr) << whyNot;
        lockFile_ = folder_ / ("LCK.." + fs::path(pty_->PortName()).filename().string());
    }
    void TearDown() override {
        UseLockFolderForTests(std::nullopt);
        LockFolderTest::TearDown();
    }
    HANDLE Open() { return CreateFileA("\\\\.\\" + pty_->PortName()); }
    void ExpectRefused() {
        const HANDLE h = Open();
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }

    std::unique_ptr<tarn::test::PtyPair> pty_;
    fs::path lockFile_;
};

TEST_F(PortClaimTest, AnOpenPortHoldsItsLockFileInPlaceOfAStaleOne) {
    std::ofstream(lockFile_) << LockText(DeadPid());
    const HANDLE h = Open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(Contents(lockFile_), LockText(getpid()));
    ExpectRefused();
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_FALSE(fs::exists(lockFile_));
}

TEST_F(PortClaimTest, EachConventionOfAnotherProgramKeepsThePortClosed) {
    std::ofstream(lockFile_) << LockText(LivePid());
    ExpectRefused();
    fs::remove(lockFile_);

    const int other = open(pty_->PortName().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    ExpectRefused();
    EXPECT_FALSE(fs::exists(lockFile_)) << "a refused open must not leave its lock file";
    ASSERT_EQ(flock(other, LOCK_UN), 0);

    // TIOCEXCL does not keep out the superuser; the open looks for it.
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    ExpectRefused();
    ASSERT_EQ(ioctl(other, TIOCNXCL), 0);
    close(other);
}

}  // namespace
}  // namespace tarn::driver
