// A FIFO as the traffic log. The FIFO's reading end is opened if the test
// has not disarmed the pipe within the event limit: a writer stuck opening
// the FIFO then goes on, so that the fault makes the test fail instead of
// hang. The end stays open while the pipe lives, so that a late write finds
// a reader and raises no SIGPIPE.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "log_pipe.h"
#include "wait_until.h"

namespace tarn::test {
namespace {

class Fifo final : public LogPipe {
public:
    Fifo(std::string dir, std::string path)
        : dir_(std::move(dir)), path_(std::move(path)), watch_([this] { Watch(); }) {}
    ~Fifo() override {
        Disarm();
        watch_.join();
        if (reader_ >= 0) ::close(reader_);
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }

    std::string Name() const override { return path_; }

    bool Disarm() override {
        std::lock_guard<std::mutex> lock(mutex_);
        disarmed_ = true;
        wake_.notify_all();
        return reader_ >= 0;
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, kEventLimit, [this] { return disarmed_; })) {
            reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
    }

    const std::string dir_;
    const std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool disarmed_ = false;
    int reader_ = -1;
    std::thread watch_;  // last, so that it starts once the rest exists
};

}  // namespace

std::unique_ptr<LogPipe> LogPipe::Create(std::string* whyNot) {
    std::string dir = ::testing::TempDir() + "tarn_log_fifo_XXXXXX";
    const bool made = ::mkdtemp(&dir[0]) != nullptr;
    if (made && ::mkfifo((dir + "/traffic.log").c_str(), 0600) == 0) {
        return std::make_unique<Fifo>(dir, dir + "/traffic.log");
    }
    if (whyNot) *whyNot = std::string(made ? "mkfifo" : "mkdtemp") + ": " + std::strerror(errno);
    if (made) ::rmdir(dir.c_str());
    return nullptr;
}

}  // namespace tarn::test
