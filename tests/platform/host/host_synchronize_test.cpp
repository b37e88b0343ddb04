#include "host_synchronize.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "host_exception.h"

using namespace tarn::host;

namespace {

// Services the queue until `done` holds; false if a minute was not enough,
// which only a hung call explains.
bool ServiceUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        CheckSynchronize(20);
    }
    return true;
}

TEST(HostSynchronize, TheTestThreadIsTheMainThread) {
    // The suite's main thread loaded the library, so it holds the role.
    EXPECT_TRUE(IsMainThread());
    bool other = true;
    std::thread([&] { other = IsMainThread(); }).join();
    EXPECT_FALSE(other);
}

TEST(HostSynchronize, OnTheMainThreadTheCallRunsAtOnce) {
    int calls = 0;
    Synchronize([&] { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_THROW(Synchronize([] { throw EConvertError("direct"); }), EConvertError);
}

TEST(HostSynchronize, BackgroundCallRunsOnTheMainThreadAndBlocksTheCaller) {
    const std::thread::id mainId = std::this_thread::get_id();
    std::thread::id ranOn;
    bool ranBeforeReturn = false;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        bool ran = false;
        Synchronize([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
        // Plain variables written on the main thread are visible here
        // without a lock: Synchronize orders them before its return.
        ranBeforeReturn = ran;
        returned = true;
    });
    EXPECT_TRUE(ServiceUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, mainId);
    EXPECT_TRUE(ranBeforeReturn);
}

TEST(HostSynchronize, AnExceptionOfTheCallIsRaisedAgainInTheCaller) {
    std::atomic<bool> returned{false};
    UnicodeString caught;
    std::thread worker([&] {
        try {
            Synchronize([] { throw EConvertError(UnicodeString(u"bad value")); });
        } catch (const EConvertError& e) {
            caught = e.Message();
        }
        returned = true;
    });
    EXPECT_TRUE(ServiceUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(caught, u"bad value");
}

TEST(HostSynchronize, WakeHookFiresOnTheQueuingThread) {
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    std::thread::id hookThread;
    SetWakeMainThread([&] {
        std::lock_guard<std::mutex> lock(m);
        ++wakes;
        hookThread = std::this_thread::get_id();
        cv.notify_all();
    });
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        Synchronize([] {});
        returned = true;
    });
    const std::thread::id workerId = worker.get_id();
    {
        // The hook, not a poll, tells the main thread that work is queued.
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return wakes > 0; }));
    }
    EXPECT_TRUE(CheckSynchronize());
    worker.join();
    SetWakeMainThread(nullptr);
    EXPECT_TRUE(returned);
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(hookThread, workerId);
}

TEST(HostSynchronize, CheckSynchronizeWaitsForAnArrival) {
    EXPECT_FALSE(CheckSynchronize(5)) << "nothing queued";
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        Synchronize([] {});
        returned = true;
    });
    // However late the worker queues its call, the wait ends with it.
    EXPECT_TRUE(CheckSynchronize(60000));
    worker.join();
    EXPECT_TRUE(returned);
}

TEST(HostSynchronize, ManyThreadsAtOnceEachCallRunsExactlyOnce) {
    constexpr int kThreads = 8;
    constexpr int kCallsEach = 50;
    long counter = 0;  // touched on the main thread only
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < kCallsEach; ++i) Synchronize([&] { ++counter; });
            ++finished;
        });
    }
    EXPECT_TRUE(ServiceUntil([&] { return finished.load() == kThreads; }));
    for (auto& w : workers) w.join();
    EXPECT_EQ(counter, kThreads * kCallsEach);
}

TEST(HostSynchronize, ACallMayServiceTheQueueAgain) {
    std::atomic<bool> firstRunning{false};
    std::atomic<bool> secondRan{false};
    std::atomic<bool> bothReturned{false};
    bool secondRanInsideFirst = false;
    std::thread first([&] {
        Synchronize([&] {
            firstRunning = true;
            // A handler that pumps messages while it waits, as a modal loop
            // does: the second thread's call runs inside this one.
            secondRanInsideFirst = ServiceUntil([&] { return secondRan.load(); });
        });
    });
    std::thread second([&] {
        while (!firstRunning.load()) std::this_thread::yield();
        Synchronize([&] { secondRan = true; });
        bothReturned = true;
    });
    EXPECT_TRUE(ServiceUntil([&] { return bothReturned.load(); }));
    first.join();
    second.join();
    EXPECT_TRUE(secondRanInsideFirst);
}

TEST(HostSynchronize, OnlyTheMainThreadServicesTheQueue) {
    bool raised = false;
    std::thread([&] {
        try {
            CheckSynchronize();
        } catch (const EThreadError&) {
            raised = true;
        }
        ProcessMessages();  // harmless off the main thread
    }).join();
    EXPECT_TRUE(raised);
}

TEST(HostSynchronize, SetMainThreadMovesTheRole) {
    std::mutex m;
    std::condition_variable cv;
    int stage = 0;
    std::atomic<bool> workerWasMain{false};
    std::atomic<bool> callRanOnWorker{false};
    std::thread worker([&] {
        SetMainThread();
        workerWasMain = IsMainThread();
        {
            std::unique_lock<std::mutex> lock(m);
            stage = 1;
            cv.notify_all();
            cv.wait(lock, [&] { return stage == 2; });
        }
        // The test thread's call below is queued for this thread now.
        CheckSynchronize(60000);
    });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return stage == 1; });
        EXPECT_FALSE(IsMainThread());
        stage = 2;
        cv.notify_all();
    }
    const std::thread::id workerId = worker.get_id();
    Synchronize([&] { callRanOnWorker = std::this_thread::get_id() == workerId; });
    worker.join();
    SetMainThread();
    EXPECT_TRUE(IsMainThread());
    EXPECT_TRUE(workerWasMain);
    EXPECT_TRUE(callRanOnWorker);
}

}  // namespace
