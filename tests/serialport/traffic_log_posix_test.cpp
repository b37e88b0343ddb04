// Traffic log on POSIX: a FIFO named as the log fails at once, both for a
// read that logs and for the receive thread, instead of holding them until
// a reader comes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "virtual_port.h"

namespace {

using tarn::test::WaitUntil;

// Opens the FIFO's reading end if the test has not disarmed the guard within
// the event limit. A writer stuck opening the FIFO then goes on, so that the
// fault makes the test fail instead of hang. The end stays open while the
// guard lives, so that a late write finds a reader and raises no SIGPIPE.
class FifoRescue {
public:
    explicit FifoRescue(std::string path) : path_(std::move(path)), watch_([this] { Watch(); }) {}
    ~FifoRescue() {
        Disarm();
        watch_.join();
        if (reader_ >= 0) ::close(reader_);
    }
    FifoRescue(const FifoRescue&) = delete;
    FifoRescue& operator=(const FifoRescue&) = delete;

    // Ends the watch; true when the rescue was needed.
    bool Disarm() {
        std::lock_guard<std::mutex> lock(mutex_);
        disarmed_ = true;
        wake_.notify_all();
        return reader_ >= 0;
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, tarn::test::kEventLimit, [this] { return disarmed_; })) {
            reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
    }

    const std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool disarmed_ = false;
    int reader_ = -1;
    std::thread watch_;  // last, so that it starts once the rest exists
};

std::string MakeFifo() {
    std::string dir = ::testing::TempDir() + "tarn_log_fifo_XXXXXX";
    if (::mkdtemp(&dir[0]) == nullptr) return {};
    const std::string fifo = dir + "/traffic.log";
    return ::mkfifo(fifo.c_str(), 0600) == 0 ? fifo : std::string();
}

// The rescue outlives the component, whose teardown the fault would hold.
class TrafficLogFifo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(fifo_.empty());
        tarn::test::SelectPort(port_, "VLOGFIFO");
        port_.SetLogFile(tarn::host::AnsiToUnicode(fifo_));
        port_.SetLogInput(true);
    }
    void TearDown() override {
        if (fifo_.empty()) return;
        std::remove(fifo_.c_str());
        ::rmdir(fifo_.substr(0, fifo_.rfind('/')).c_str());
    }

    const std::string fifo_ = MakeFifo();
    FifoRescue rescue_{fifo_};
    tarn::driver::VirtualPort device_{"VLOGFIFO"};
    TTarnSerialPort port_;
};

TEST_F(TrafficLogFifo, ReadRaisesTheLogMessage) {
    port_.SetAutoReceive(false);
    port_.Open();
    device_.Inject("A");
    try {
        port_.ReadChar();
        ADD_FAILURE() << "the read logged into a FIFO";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(e.Message(), u"Invalid log file name or access denied.");
    }
    port_.Close();
    EXPECT_FALSE(rescue_.Disarm()) << "the read waited for a reader";
}

TEST_F(TrafficLogFifo, ReceptionGoesOnAndCloseReturns) {
    std::atomic<std::size_t> received{0};
    port_.SetOnReceive([&](TTarnSerialPort*, std::string data) { received += data.size(); });
    port_.Open();
    device_.Inject("AB");
    ASSERT_TRUE(WaitUntil([&] { return received == 2; }));
    // Further polls show that the receive thread came back from the log.
    const std::uint64_t queries = device_.QueueQueries();
    EXPECT_TRUE(WaitUntil([&] { return device_.QueueQueries() >= queries + 2; }));
    port_.Close();
    EXPECT_FALSE(rescue_.Disarm()) << "the receive thread waited for a reader";
}

}  // namespace
