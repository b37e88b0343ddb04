// The shared watch of the port list: its thread, its members, and the order
// in which the thread starts and ends (see port_list_watch_p.h).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "port_change_signal.h"
#include "port_list_watch_p.h"

namespace drv = tarn::driver;

namespace {

// How long one wait of the watch's thread lasts while every member has
// taken the last change. Only a bound on the call: the signal ends it at
// every change.
constexpr std::uint32_t kQuietWaitMs = 60 * 60 * 1000;

// How soon a member that has not taken a change is woken again, doubled at
// each time up to the longest. Its own input wait may have been ended by
// the wake, but another thread's (a synchronous read's) may have used it
// up; a member whose thread is busy elsewhere takes the change later.
constexpr std::uint32_t kFirstRewakeMs = 250;
constexpr std::uint32_t kLongestRewakeMs = 4000;

// Changes come in bursts: an adapter brings several names, a program opens
// many ports one after another (each open terminal is entered in the list).
// The members are woken once the list has been quiet this long, or at the
// latest this long after the first change, not at every change: a wake per
// member per change would cost a burst of N openings N * N wakes.
constexpr std::chrono::milliseconds kQuietAfterChange{20};
constexpr std::chrono::milliseconds kLongestBurst{200};

// Waits out a burst of changes that began with one the signal has just
// reported. Changed, or Cancelled when the signal was cancelled meanwhile.
drv::PortChangeSignal::Result SettleAfterChange(drv::PortChangeSignal& signal) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point last = Clock::now() + kLongestBurst;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(last - Clock::now());
        if (left.count() <= 0) return drv::PortChangeSignal::Result::Changed;
        const auto wait = std::min(left, kQuietAfterChange);
        const auto result = signal.Wait(static_cast<std::uint32_t>(wait.count()));
        if (result == drv::PortChangeSignal::Result::Cancelled) return result;
        if (result == drv::PortChangeSignal::Result::TimedOut) {
            return drv::PortChangeSignal::Result::Changed;
        }
    }
}

class TPortListWatch {
public:
    static TPortListWatch& Instance() {
        // Never destroyed (see port_list_watch_p.h).
        static auto* watch = new TPortListWatch;
        return *watch;
    }

    // Adds `member`, starting the thread for the first; true when the
    // signal covers `name`. Member's thread.
    bool Join(TPortListMember& member, const std::string& name);
    // Removes `member`; the last one ends and joins the thread. Member's
    // thread.
    void Leave(TPortListMember& member);

private:
    // The watch's thread.
    void Run();
    // Ends and joins the thread when no member is left. REQUIRES:
    // lifeMutex_ held, mutex_ not.
    void EndIfUnused();
    // Wakes the members after the signal's `result`: all of them after a
    // change, those that have not taken the last one after a time-out. True
    // when some member has a change left to take. REQUIRES: mutex_ held.
    bool WakeMembers(drv::PortChangeSignal::Result result);

    // Orders the thread's start and end: held by a Join from the start
    // until the thread watches, and by the last Leave until the thread has
    // been joined. Taken before mutex_.
    std::mutex lifeMutex_;
    std::thread thread_;  // guarded by lifeMutex_

    std::mutex mutex_;
    std::condition_variable readyChanged_;
    std::vector<TPortListMember*> members_;  // guarded by mutex_
    // Whether the thread has set up its signal, and the signal (null when it
    // could not be made). The thread's own object; guarded by mutex_.
    bool ready_ = false;
    drv::PortChangeSignal* signal_ = nullptr;
};

bool TPortListWatch::Join(TPortListMember& member, const std::string& name) {
    const std::lock_guard<std::mutex> life(lifeMutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    drv::PortChangeSignal* signal = nullptr;
    try {
        std::unique_lock<std::mutex> lock(mutex_);
        readyChanged_.wait(lock, [this] { return ready_; });
        members_.push_back(&member);
        signal = signal_;
    } catch (...) {
        EndIfUnused();
        throw;
    }
    // The signal lives as long as the thread, which lifeMutex_ keeps from
    // ending meanwhile. A name that cannot be looked at is not covered.
    try {
        return signal != nullptr && signal->Covers(name);
    } catch (...) {
        return false;
    }
}

void TPortListWatch::Leave(TPortListMember& member) {
    const std::lock_guard<std::mutex> life(lifeMutex_);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        members_.erase(std::remove(members_.begin(), members_.end(), &member), members_.end());
    }
    EndIfUnused();
}

void TPortListWatch::EndIfUnused() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!members_.empty()) return;
        if (signal_ != nullptr) signal_->Cancel();
    }
    if (thread_.joinable()) thread_.join();
    const std::lock_guard<std::mutex> lock(mutex_);
    ready_ = false;
}

bool TPortListWatch::WakeMembers(drv::PortChangeSignal::Result result) {
    bool unanswered = false;
    for (TPortListMember* member : members_) {
        if (result == drv::PortChangeSignal::Result::Changed || member->ChangeUnanswered()) {
            member->Wake();
        }
        unanswered = unanswered || member->ChangeUnanswered();
    }
    return unanswered;
}

void TPortListWatch::Run() {
    // Made on this thread, as the signal asks: on Windows the registry's
    // notification ends with the thread that asked for it.
    std::unique_ptr<drv::PortChangeSignal> signal;
    try {
        signal = std::make_unique<drv::PortChangeSignal>();
    } catch (...) {
        // Without a signal no member is covered; each keeps its own period.
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        signal_ = signal.get();
        ready_ = true;
    }
    readyChanged_.notify_all();
    if (!signal) return;

    std::uint32_t rewakeMs = 0;  // 0 while every change has been taken
    for (;;) {
        auto result = signal->Wait(rewakeMs != 0 ? rewakeMs : kQuietWaitMs);
        if (result == drv::PortChangeSignal::Result::Changed) result = SettleAfterChange(*signal);
        if (result == drv::PortChangeSignal::Result::Cancelled) break;
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!WakeMembers(result)) {
            rewakeMs = 0;
        } else if (result == drv::PortChangeSignal::Result::Changed || rewakeMs == 0) {
            rewakeMs = kFirstRewakeMs;
        } else {
            rewakeMs = std::min(rewakeMs * 2, kLongestRewakeMs);
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    signal_ = nullptr;
}

}  // namespace

TPortListMember::TPortListMember(const std::atomic<drv::HANDLE>& handle, const std::string& name)
    : handle_(handle) {
    covered_ = TPortListWatch::Instance().Join(*this, name);
}

TPortListMember::~TPortListMember() { TPortListWatch::Instance().Leave(*this); }

void TPortListMember::Wake() {
    changed_.store(true);
    // The handle may be closing meanwhile; handles are never reused, so
    // the call then fails without touching another port.
    const drv::HANDLE handle = handle_.load();
    if (handle != drv::INVALID_HANDLE_VALUE) drv::WakeCommWaits(handle);
}
