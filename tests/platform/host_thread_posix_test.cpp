// On Linux a thread's priority is its own nice value.
#include <gtest/gtest.h>
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

}  // namespace
