// Pseudo-terminal pairs: the slave is the port, the master is the peer that
// the test drives.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "pty_pair.h"

namespace tarn::test {
namespace {

using Clock = std::chrono::steady_clock;

// How long WritePeer waits for the port end to make room.
constexpr std::chrono::seconds kWriteLimit{30};

// While no one has the slave open, the master polls as hung up and reads
// fail with EIO; this is how often it is looked at again then.
constexpr std::chrono::milliseconds kIdleRecheck{2};

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

class PosixPtyPair final : public PtyPair {
public:
    PosixPtyPair(int master, std::string slavePath, std::string link)
        : master_(master), slavePath_(std::move(slavePath)), link_(std::move(link)) {}

    ~PosixPtyPair() override {
        Remove();
        Unlist();
    }

    std::string PortName() const override { return link_.empty() ? slavePath_ : link_; }
    std::string PortPath() const override { return slavePath_; }
    std::string PeerPath() const override { return {}; }

    bool WritePeer(const std::string& bytes) override {
        if (master_ < 0) return false;
        const Clock::time_point deadline = Clock::now() + kWriteLimit;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = write(master_, bytes.data() + done, bytes.size() - done);
            if (put > 0) {
                done += static_cast<std::size_t>(put);
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (Clock::now() >= deadline) return false;
            pollfd out{master_, POLLOUT, 0};
            poll(&out, 1, MillisecondsUntil(deadline));
        }
        return true;
    }

    std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) override {
        std::string got;
        if (master_ < 0) return got;
        const Clock::time_point deadline = Clock::now() + timeout;
        while (got.size() < count) {
            char buffer[4096];
            const std::size_t want = std::min(sizeof buffer, count - got.size());
            const ssize_t n = read(master_, buffer, want);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (Clock::now() >= deadline) break;
            if (n < 0 && errno == EIO) {
                // The slave is not open (yet, or any more).
                std::this_thread::sleep_for(kIdleRecheck);
                continue;
            }
            pollfd in{master_, POLLIN, 0};
            poll(&in, 1, MillisecondsUntil(deadline));
            if ((in.revents & POLLHUP) != 0) std::this_thread::sleep_for(kIdleRecheck);
        }
        return got;
    }

    void Remove() override {
        // Closing the master hangs the slave up, and the kernel removes the
        // slave's name from /dev/pts.
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

    bool Unlist() override {
        std::error_code error;
        return !link_.empty() && std::filesystem::remove(link_, error);
    }

private:
    std::atomic<int> master_;  // read by the reading and the writing thread
    std::string slavePath_;
    std::string link_;  // the name the port end opens by, when not its own
};

// A new link to `target` in the temporary folder, or empty with the reason
// in `whyNot`.
std::string LinkTo(const std::string& target, std::string* whyNot) {
    static std::atomic<int> made{0};
    std::error_code error;
    const std::filesystem::path link =
        std::filesystem::temp_directory_path(error) /
        ("tarn-pty-" + std::to_string(getpid()) + "-" + std::to_string(++made));
    if (!error) std::filesystem::create_symlink(target, link, error);
    if (!error) return link.string();
    if (whyNot != nullptr) *whyNot = "the link to " + target + " failed: " + error.message();
    return {};
}

std::unique_ptr<PtyPair> Fail(int master, const char* step, std::string* whyNot) {
    const int error = errno;
    if (master >= 0) close(master);
    if (whyNot != nullptr) *whyNot = std::string(step) + " failed: " + std::strerror(error);
    return nullptr;
}

}  // namespace

std::unique_ptr<PtyPair> PtyPair::Create(std::string* whyNot, bool portByLink) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return Fail(-1, "posix_openpt", whyNot);
    if (grantpt(master) != 0) return Fail(master, "grantpt", whyNot);
    if (unlockpt(master) != 0) return Fail(master, "unlockpt", whyNot);
    char path[128];
    if (ptsname_r(master, path, sizeof path) != 0) return Fail(master, "ptsname_r", whyNot);
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        return Fail(master, "fcntl", whyNot);
    }
    std::string link;
    if (portByLink && (link = LinkTo(path, whyNot)).empty()) {
        close(master);
        return nullptr;
    }
    return std::make_unique<PosixPtyPair>(master, path, std::move(link));
}

bool PtyPair::DrainReachesPeer() { return true; }

}  // namespace tarn::test
