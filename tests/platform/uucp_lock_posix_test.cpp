// Lock files in the UUCP convention: their format, which files keep a port
// from this process and which are taken over, and how an open of a port
// honours them and the other claims of exclusive access.
#include "uucp_lock_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pty_pair.h"
#include "serial_driver.h"

namespace tarn::driver {
namespace {

namespace fs = std::filesystem;

// A child process that lives until the object goes.
class LiveChild {
public:
    LiveChild() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            char byte;
            close(fds[1]);
            [[maybe_unused]] const ssize_t ignored = read(fds[0], &byte, 1);
            _exit(0);
        }
        close(fds[0]);
        release_ = fds[1];
    }
    ~LiveChild() { Reap(); }
    // Ends the child and collects it, so that its id names no process.
    void Reap() {
        if (release_ >= 0) close(release_);
        release_ = -1;
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

std::string LockText(pid_t pid) {
    char text[16];
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
    // Only `keep` is left in the folder: no temporary file stays behind.
    void ExpectOnly(const fs::path& keep) {
        for (const auto& entry : fs::directory_iterator(folder_)) {
            EXPECT_EQ(entry.path(), keep);
        }
    }
    fs::path folder_;
};

TEST_F(LockFolderTest, TheOwnFileNamesThisProcessUntilReleased) {
    const fs::path file = folder_ / "LCK..ttyTARN0";
    std::unique_ptr<UucpLock> lock;
    ASSERT_EQ(UucpLock::Acquire(folder_.string(), "/dev/ttyTARN0", lock), ERROR_SUCCESS);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(Contents(file), LockText(getpid()));
    ExpectOnly(file);

    // A second claim of this process is refused and leaves the file alone.
    std::unique_ptr<UucpLock> second;
    EXPECT_EQ(UucpLock::Acquire(folder_.string(), "/dev/ttyTARN0", second), ERROR_ACCESS_DENIED);
    EXPECT_EQ(second, nullptr);
    lock.reset();
    EXPECT_FALSE(fs::exists(file));

    // A file that another process has taken over is not removed.
    ASSERT_EQ(UucpLock::Acquire(folder_.string(), "/dev/ttyTARN0", lock), ERROR_SUCCESS);
    LiveChild other;
    std::ofstream(file, std::ios::trunc) << LockText(other.Pid());
    lock.reset();
    EXPECT_EQ(Contents(file), LockText(other.Pid()));

    // Where nothing can be written, the claim goes on without a file.
    EXPECT_EQ(UucpLock::Acquire((folder_ / "missing").string(), "/dev/ttyTARN0", lock),
              ERROR_SUCCESS);
    EXPECT_EQ(lock, nullptr);
}

TEST_F(LockFolderTest, ALiveOwnerKeepsThePortAndStaleFilesAreTakenOver) {
    LiveChild live;
    LiveChild dead;
    dead.Reap();
    const struct {
        std::string text;
        bool taken;
    } cases[] = {
        {LockText(live.Pid()), false},
        {std::to_string(live.Pid()) + "\n", false},  // not aligned, still a process id
        {LockText(dead.Pid()), true},
        {LockText(getpid()), true},  // left by an earlier process with this id
        {"garbage\n", true},
        {"", true},
        {LockText(0), true},
    };
    const fs::path file = folder_ / "LCK..ttyTARN1";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        std::ofstream(file, std::ios::trunc) << c.text;
        std::unique_ptr<UucpLock> lock;
        EXPECT_EQ(UucpLock::Acquire(folder_.string(), "/dev/ttyTARN1", lock),
                  c.taken ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
        EXPECT_EQ(lock != nullptr, c.taken);
        EXPECT_EQ(Contents(file), c.taken ? LockText(getpid()) : c.text);
        ExpectOnly(file);
    }
}

// Opens of a pseudo-terminal through the driver, with lock files in a folder
// of the test's own.
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

TEST_F(PortClaimTest, AnOpenPortHasItsLockFileAndTakesOverAStaleOne) {
    LiveChild dead;
    dead.Reap();
    std::ofstream(lockFile_) << LockText(dead.Pid());
    const HANDLE h = Open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(Contents(lockFile_), LockText(getpid()));
    ExpectRefused();
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_FALSE(fs::exists(lockFile_));
}

TEST_F(PortClaimTest, EachConventionOfAnotherProgramKeepsThePortClosed) {
    LiveChild owner;
    std::ofstream(lockFile_) << LockText(owner.Pid());
    ExpectRefused();
    EXPECT_EQ(Contents(lockFile_), LockText(owner.Pid()));
    fs::remove(lockFile_);

    const int other = open(pty_->PortName().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    ExpectRefused();
    EXPECT_FALSE(fs::exists(lockFile_)) << "a refused open must not leave its lock file";
    ASSERT_EQ(flock(other, LOCK_UN), 0);

    // TIOCEXCL does not keep out the superuser; the open checks for it.
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    ExpectRefused();
    ASSERT_EQ(ioctl(other, TIOCNXCL), 0);

    const HANDLE h = Open();
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    close(other);
}

}  // namespace
}  // namespace tarn::driver
