// Ends the test program when one test runs far longer than any test should,
// naming it, so that a test that hangs fails the run in minutes instead of
// holding it until the outer time limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The slowest tests wait for events with 30-second bounds a few times over,
// under a sanitizer or Wine; ten minutes is far beyond any of them.
constexpr auto kLimit = std::chrono::minutes(10);

class Watchdog : public ::testing::EmptyTestEventListener {
public:
    Watchdog() {
        std::thread([this] { Watch(); }).detach();
    }

    void OnTestStart(const ::testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        started_ = Clock::now();
        running_ = true;
    }

    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }

private:
    void Watch() {
        while (true) {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            std::lock_guard<std::mutex> lock(mutex_);
            if (running_ && Clock::now() - started_ > kLimit) {
                std::fprintf(stderr, "\n[  FAILED  ] %s did not end within %d minutes\n",
                             name_.c_str(), static_cast<int>(kLimit.count()));
                std::fprintf(stderr, "[  FAILED  ] 1 test, stopped by the watchdog\n");
                std::fflush(stderr);
                std::_Exit(3);
            }
        }
    }

    std::mutex mutex_;
    std::string name_;
    Clock::time_point started_;
    bool running_ = false;
};

// The listener list owns the watchdog.
const bool installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
    return true;
}();

}  // namespace
