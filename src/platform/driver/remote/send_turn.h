// A lock whose wait can be bounded, for the turns of a remote port's sends.
// std::timed_mutex bounds its wait with pthread_mutex_clocklock, which the
// thread checker of this compiler does not follow, so that it takes every
// later unlock for an unlock of a free lock. A flag under a plain mutex and
// a condition variable gives the same lock with calls that it does follow.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarn::driver::remote {

// Meets the standard's TimedLockable, so that std::unique_lock can hold it.
// Any thread.
class SendTurn {
public:
    void lock() {
        std::unique_lock<std::mutex> guard(mutex_);
        free_.wait(guard, [this] { return !taken_; });
        taken_ = true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (taken_) return false;
        taken_ = true;
        return true;
    }
    template <class Clock, class Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& until) {
        std::unique_lock<std::mutex> guard(mutex_);
        if (!free_.wait_until(guard, until, [this] { return !taken_; })) return false;
        taken_ = true;
        return true;
    }
    template <class Rep, class Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& time) {
        return try_lock_until(std::chrono::steady_clock::now() + time);
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            taken_ = false;
        }
        free_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool taken_ = false;  // guarded by mutex_
};

}  // namespace tarn::driver::remote
