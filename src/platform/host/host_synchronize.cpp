#include "host_synchronize.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "host_exception.h"

namespace tarn::host {

namespace {

struct Request {
    std::function<void()> fn;
    std::exception_ptr error;  // written by the main thread before `done`
    bool done = false;         // guarded by Queue::mutex
    // The queuing thread waits here alone: with one wait for all, every
    // call that finished would wake every thread still waiting, and many
    // threads queuing at once would cost each other a wake per call.
    std::condition_variable completed;
};

struct Queue {
    std::mutex mutex;
    std::condition_variable arrived;             // the main thread waits here
    std::deque<std::shared_ptr<Request>> calls;  // guarded by mutex
    // The size of `calls`, written under the mutex: a message loop that
    // looks for calls after every step of its own (a line read, a key)
    // finds none nearly always, and then takes no lock.
    std::atomic<std::size_t> queued{0};
    // Looked at by every event that a receive thread raises, without a lock.
    std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
    std::function<void()> wake;  // guarded by mutex
};

// Never destroyed: a thread may still queue a call while the process exits,
// after static destructors would have run.
Queue& TheQueue() {
    static Queue* const queue = new Queue;
    return *queue;
}

// Creating the queue during static initialisation fixes the loading thread
// as the main thread, whatever thread first calls into the framework later.
[[maybe_unused]] const bool gMainThreadCaptured = (TheQueue(), true);

// Takes the oldest queued call and runs it; false when there was none.
bool RunOne(Queue& q) {
    std::shared_ptr<Request> request;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.calls.empty()) return false;
        request = std::move(q.calls.front());
        q.calls.pop_front();
        q.queued.store(q.calls.size());
    }
    try {
        request->fn();
    } catch (...) {
        request->error = std::current_exception();
    }
    // The call's captures are released here, on the main thread, before the
    // caller can go on and free what they refer to.
    request->fn = nullptr;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        request->done = true;
        // Under the mutex, while this reference keeps the request alive.
        request->completed.notify_one();
        // Dropped under the mutex, so the caller's reference is the last
        // and the captured exception dies on the caller's thread, after the
        // caller has handled it.
        request.reset();
    }
    return true;
}

}  // namespace

bool IsMainThread() { return TheQueue().mainThread.load() == std::this_thread::get_id(); }

void SetMainThread() { TheQueue().mainThread.store(std::this_thread::get_id()); }

void Synchronize(std::function<void()> fn) {
    if (!fn) return;
    if (IsMainThread()) {
        fn();
        return;
    }
    Queue& q = TheQueue();
    auto request = std::make_shared<Request>();
    request->fn = std::move(fn);
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        q.calls.push_back(request);
        q.queued.store(q.calls.size());
        wake = q.wake;
    }
    q.arrived.notify_all();
    if (wake) wake();
    {
        std::unique_lock<std::mutex> lock(q.mutex);
        request->completed.wait(lock, [&] { return request->done; });
    }
    if (request->error) std::rethrow_exception(request->error);
}

bool CheckSynchronize(int timeoutMs) {
    if (!IsMainThread()) {
        throw EThreadError(u"CheckSynchronize called from a thread that is not the main thread");
    }
    Queue& q = TheQueue();
    if (timeoutMs <= 0 && q.queued.load() == 0) return false;
    std::size_t pending = 0;
    {
        std::unique_lock<std::mutex> lock(q.mutex);
        if (timeoutMs > 0) {
            q.arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return !q.calls.empty(); });
        }
        pending = q.calls.size();
    }
    // Only the calls present now: a stream of new calls cannot keep the main
    // thread here for ever. A re-entrant call may have taken some already.
    bool ran = false;
    for (std::size_t i = 0; i < pending && RunOne(q); ++i) ran = true;
    return ran;
}

void ProcessMessages() {
    if (IsMainThread()) CheckSynchronize(0);
}

void SetWakeMainThread(std::function<void()> hook) {
    Queue& q = TheQueue();
    std::lock_guard<std::mutex> lock(q.mutex);
    q.wake = std::move(hook);
}

namespace detail {

void ServiceQueueUntil(const std::function<bool()>& done) {
    Queue& q = TheQueue();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(q.mutex);
            q.arrived.wait(lock, [&] { return !q.calls.empty() || done(); });
            if (done()) return;
        }
        RunOne(q);
    }
}

void SignalMainThread() {
    Queue& q = TheQueue();
    // Taking the mutex orders this wake-up after a waiter's test of its
    // condition, so the wake-up cannot fall between the test and the wait.
    { std::lock_guard<std::mutex> lock(q.mutex); }
    q.arrived.notify_all();
}

}  // namespace detail

}  // namespace tarn::host
