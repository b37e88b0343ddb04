// On Linux a thread's priority is its own nice value.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "host_thread.h"

using namespace tarn::host;

namespace {

class SpinThread : public TThread {
public:
    SpinThread() : TThread(true) {}
    ~SpinThread() override {
        Terminate();
        WaitFor();
    }
    std::atomic<bool> running{false};

protected:
    void Execute() override {
        running = true;
        while (!Terminated()) Sleep(1);
    }
};

TEST(HostThreadPriority, LoweringAPriorityReachesTheSystemThread) {
    const int processNice = getpriority(PRIO_PROCESS, 0);
    SpinThread thread;
    thread.SetPriority(tpLowest);
    thread.Start();
    while (!thread.running.load()) std::this_thread::yield();
    const auto tid = static_cast<id_t>(thread.ThreadID());
    // Only lowering is allowed without privileges, so nice 10 is expected
    // where the suite runs at 10 or less; nice 19 always.
    if (processNice <= 10) {
        EXPECT_EQ(getpriority(PRIO_PROCESS, tid), 10);
    }
    thread.SetPriority(tpIdle);
    EXPECT_EQ(getpriority(PRIO_PROCESS, tid), 19);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), processNice) << "the calling thread is untouched";
}

class SlackProbe : public TThread {
public:
    SlackProbe() : TThread(true) {}
    std::atomic<long> slack{-1};

protected:
    void Execute() override { slack = ::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL); }
};

TEST(HostThreadTimers, ThreadsSleepWithoutTheDefaultTimerSlack) {
    // Linux's default of 50 µs would stretch a 1 ms poll period by 5 %.
    SlackProbe probe;
    probe.Start();
    probe.WaitFor();
    EXPECT_EQ(probe.slack.load(), 1);
    EXPECT_NE(::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 1)
        << "the calling thread is untouched";
}

}  // namespace
