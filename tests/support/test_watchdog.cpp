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

// What the watch thread reads. It is never destroyed: the detached watch
// thread may still look at it while the program's static objects, the
// listener among them, are being destroyed at exit.
struct WatchState {
    std::mutex mutex;
    std::string name;
    Clock::time_point started;
    bool running = false;
};

WatchState& State() {
    static WatchState* state = new WatchState;
    return *state;
}

void Watch() {
    WatchState& state = State();
    while (true) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.running && Clock::now() - state.started > kLimit) {
            std::fprintf(stderr, "\n[  FAILED  ] %s did not end within %d minutes\n",
                         state.name.c_str(), static_cast<int>(kLimit.count()));
            std::fprintf(stderr, "[  FAILED  ] 1 test, stopped by the watchdog\n");
            std::fflush(stderr);
            std::_Exit(3);
        }
    }
}

class Watchdog : public ::testing::EmptyTestEventListener {
public:
    Watchdog() { std::thread(Watch).detach(); }

    void OnTestStart(const ::testing::TestInfo& info) override {
        WatchState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.name = std::string(info.test_suite_name()) + "." + info.name();
        state.started = Clock::now();
        state.running = true;
    }

    void OnTestEnd(const ::testing::TestInfo&) override {
        WatchState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.running = false;
    }
};

// The listener list owns the watchdog.
const bool installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
    return true;
}();

}  // namespace
