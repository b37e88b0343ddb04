#include "host_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "host_exception.h"
#include "host_synchronize.h"

using namespace tarn::host;

namespace {

static_assert(static_cast<int>(tpNormal) == 3, "ordinal 3 is normal priority");
static_assert(sizeof(TThreadPriority) == 1, "a priority is one byte");

bool ServiceUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        CheckSynchronize(20);
    }
    return true;
}

// Runs a function as its body.
class FnThread : public TThread {
public:
    FnThread(bool suspended, std::function<void(FnThread&)> body)
        : TThread(suspended), body_(std::move(body)) {}
    ~FnThread() override {
        // The body uses body_, so the thread stops before it goes.
        if (Started()) {
            Terminate();
            if (!FreeOnTerminate()) WaitFor();
        }
    }
    using TThread::ReturnValue;
    using TThread::SetReturnValue;
    bool Started() const { return ThreadID() != 0; }

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(FnThread&)> body_;
};

// Sets a member in its constructor that Execute relies on.
class LateInitThread : public TThread {
public:
    explicit LateInitThread(bool suspended) : TThread(suspended) { ready_ = 42; }
    ~LateInitThread() override {
        Terminate();
        if (ThreadID() != 0) WaitFor();
    }
    int seen = 0;

protected:
    void Execute() override { seen = ready_; }

private:
    int ready_ = 0;
};

TEST(HostThread, BodyStartsOnlyAfterTheMostDerivedConstructor) {
    LateInitThread* thread = TThread::Create<LateInitThread>(false);
    thread->WaitFor();
    EXPECT_EQ(thread->seen, 42);
    delete thread;
}

TEST(HostThread, SuspendedThreadRunsOnlyAfterStart) {
    std::atomic<bool> ran{false};
    FnThread* thread = TThread::Create<FnThread>(true, [&](FnThread&) { ran = true; });
    EXPECT_EQ(thread->ThreadID(), 0u);
    EXPECT_THROW(thread->WaitFor(), EThreadError);
    EXPECT_FALSE(ran);
    thread->Start();
    EXPECT_NE(thread->ThreadID(), 0u);
    EXPECT_THROW(thread->Start(), EThreadError);
    thread->WaitFor();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(thread->Finished());
    delete thread;
}

TEST(HostThread, TerminateEndsAPollingBodyAndWaitForReturnsItsValue) {
    std::atomic<bool> polling{false};
    FnThread thread(false, [&](FnThread& self) {
        while (!self.Terminated()) {
            polling = true;
            TThread::Sleep(1);
        }
        self.SetReturnValue(7);
    });
    thread.Start();
    while (!polling.load()) std::this_thread::yield();
    EXPECT_FALSE(thread.Finished());
    EXPECT_FALSE(thread.Terminated());
    thread.Terminate();
    EXPECT_TRUE(thread.Terminated());
    EXPECT_EQ(thread.WaitFor(), 7u);
    EXPECT_TRUE(thread.Finished());
}

TEST(HostThread, OnTerminateRunsOnTheMainThreadWhileWaitForWaits) {
    const std::thread::id mainId = std::this_thread::get_id();
    std::thread::id handlerThread;
    TThread* sender = nullptr;
    FnThread thread(true, [](FnThread&) {});
    thread.SetOnTerminate([&](TThread* t) {
        handlerThread = std::this_thread::get_id();
        sender = t;
    });
    thread.Start();
    // WaitFor on the main thread services the queue; otherwise the
    // synchronized OnTerminate would never run and this would hang.
    thread.WaitFor();
    EXPECT_EQ(handlerThread, mainId);
    EXPECT_EQ(sender, &thread);
}

TEST(HostThread, ThreadsWaitForEachOtherOffTheMainThread) {
    // A wait on another thread blocks without servicing; the waited-for
    // thread has no OnTerminate, so nothing needs the main thread.
    FnThread target(false, [](FnThread& self) {
        while (!self.Terminated()) TThread::Sleep(1);
    });
    target.Start();
    std::atomic<bool> waited{false};
    FnThread waiter(false, [&](FnThread&) {
        target.Terminate();
        target.WaitFor();
        waited = target.Finished();
    });
    waiter.Start();
    waiter.WaitFor();
    EXPECT_TRUE(waited);
}

TEST(HostThread, SynchronizeFromTheBodyRunsOnTheMainThread) {
    const std::thread::id mainId = std::this_thread::get_id();
    std::thread::id memberRan, staticRan;
    FnThread thread(false, [&](FnThread& self) {
        self.Synchronize([&] { memberRan = std::this_thread::get_id(); });
        TThread::Synchronize(&self, [&] { staticRan = std::this_thread::get_id(); });
    });
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(memberRan, mainId);
    EXPECT_EQ(staticRan, mainId);
}

TEST(HostThread, ExceptionEscapingExecuteIsKept) {
    FnThread thread(false, [](FnThread&) { throw EConvertError(UnicodeString(u"lost port")); });
    thread.Start();
    thread.WaitFor();
    const std::exception_ptr fatal = thread.FatalException();
    ASSERT_TRUE(fatal);
    try {
        std::rethrow_exception(fatal);
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"lost port");
    }
}

TEST(HostThread, WaitForRefusesItselfAndSelfFreeingThreads) {
    bool refusedSelf = false;
    FnThread thread(false, [&](FnThread& self) {
        try {
            self.WaitFor();
        } catch (const EThreadError&) {
            refusedSelf = true;
        }
    });
    thread.Start();
    thread.WaitFor();
    EXPECT_TRUE(refusedSelf);

    FnThread held(true, [](FnThread&) {});
    held.SetFreeOnTerminate(true);
    EXPECT_THROW(held.WaitFor(), EThreadError);
    held.SetFreeOnTerminate(false);  // it is on the stack, never started
}

TEST(HostThread, FreeOnTerminateThreadDeletesItselfAfterOnTerminate) {
    // The destructor reports through these; they outlive the thread.
    struct Report {
        std::mutex m;
        std::condition_variable cv;
        bool destroyed = false;
        bool terminatedFirst = false;
        bool onTerminateRan = false;
    };
    auto report = std::make_shared<Report>();

    class SelfFreeing : public TThread {
    public:
        explicit SelfFreeing(std::shared_ptr<Report> r) : TThread(true), report_(std::move(r)) {
            SetFreeOnTerminate(true);
        }
        ~SelfFreeing() override {
            std::lock_guard<std::mutex> lock(report_->m);
            report_->terminatedFirst = report_->onTerminateRan;
            report_->destroyed = true;
            report_->cv.notify_all();
        }

    protected:
        void Execute() override { buffer_.assign(1024, 'x'); }

    private:
        std::shared_ptr<Report> report_;
        std::string buffer_;
    };

    auto* thread = new SelfFreeing(report);
    thread->SetOnTerminate([report](TThread*) {
        std::lock_guard<std::mutex> lock(report->m);
        report->onTerminateRan = true;
    });
    thread->Start();
    // From here on the thread may be gone; only the report is touched.
    thread = nullptr;
    EXPECT_TRUE(ServiceUntil([&] {
        std::lock_guard<std::mutex> lock(report->m);
        return report->destroyed;
    }));
    std::lock_guard<std::mutex> lock(report->m);
    EXPECT_TRUE(report->terminatedFirst);
}

TEST(HostThread, PriorityIsStoredBeforeAndWhileRunning) {
    std::atomic<bool> running{false};
    FnThread thread(true, [&](FnThread& self) {
        running = true;
        while (!self.Terminated()) TThread::Sleep(1);
    });
    EXPECT_EQ(thread.Priority(), tpNormal);
    thread.SetPriority(tpLower);
    thread.Start();
    while (!running.load()) std::this_thread::yield();
    EXPECT_EQ(thread.Priority(), tpLower);
    thread.SetPriority(tpLowest);
    EXPECT_EQ(thread.Priority(), tpLowest);
    thread.Terminate();
    thread.WaitFor();
    thread.SetPriority(tpIdle);  // after the end: stored, not applied
    EXPECT_EQ(thread.Priority(), tpIdle);
}

TEST(HostThread, ThreadIdentifiersMatchFromInsideAndOutside) {
    std::atomic<std::uint32_t> inside{0};
    FnThread thread(false, [&](FnThread&) { inside = TThread::CurrentThreadID(); });
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(inside.load(), thread.ThreadID());
    EXPECT_NE(thread.ThreadID(), TThread::CurrentThreadID());
    EXPECT_EQ(ThreadPriorityNames()[tpNormal], u"tpNormal");
    EXPECT_EQ(ThreadPriorityNames().size(), static_cast<std::size_t>(tpTimeCritical) + 1);
}

TEST(HostThread, DestroyingARunningThreadStopsItFirst) {
    std::atomic<bool> running{false};
    std::atomic<bool> stopped{false};
    auto* thread = new FnThread(false, [&](FnThread& self) {
        running = true;
        while (!self.Terminated()) TThread::Sleep(1);
        stopped = true;
    });
    thread->Start();
    while (!running.load()) std::this_thread::yield();
    delete thread;
    EXPECT_TRUE(stopped);
}

}  // namespace
