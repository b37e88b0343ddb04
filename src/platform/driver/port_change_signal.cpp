// The part of the signal that every backend shares: the process's own
// changes, Cancel, and the time-out around the backend's wait.
#include "port_change_signal.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "remote_address.h"
#include "virtual_port_directory.h"

namespace tarn::driver {

namespace {

// The signals that exist. Never destroyed, so that a port removed during
// process exit still finds it.
struct Subscribers {
    std::mutex mutex;
    std::vector<PortChangeSignal*> signals;  // guarded by mutex
};

Subscribers& TheSubscribers() {
    static auto* subscribers = new Subscribers;
    return *subscribers;
}

}  // namespace

void NotifyPortListChanged() {
    Subscribers& s = TheSubscribers();
    // Held while waking, so that a signal cannot be destroyed meanwhile;
    // Wake only sets a flag and interrupts a wait, and never blocks.
    std::lock_guard<std::mutex> lock(s.mutex);
    for (PortChangeSignal* signal : s.signals) signal->Wake();
}

PortChangeSignal::PortChangeSignal() : system_(detail::OpenSystemWatch()) {
    Subscribers& s = TheSubscribers();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.signals.push_back(this);
}

PortChangeSignal::~PortChangeSignal() {
    Subscribers& s = TheSubscribers();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.signals.erase(std::remove(s.signals.begin(), s.signals.end(), this), s.signals.end());
}

bool PortChangeSignal::SystemWatched() const { return system_->Watching(); }

bool PortChangeSignal::Covers(const std::string& name) const {
    // The driver tells of every change of these lists itself
    // (NotifyPortListChanged). A remote name is never a port of the system,
    // and a virtual one hides the system's port of the same name.
    if (remote::HasUrlShape(name) || FindListedPort(name) != nullptr) return true;
    return system_->Watching() && system_->Covers(name);
}

void PortChangeSignal::Wake() {
    changed_.store(true);
    system_->Interrupt();
}

void PortChangeSignal::Cancel() {
    cancelled_.store(true);
    system_->Interrupt();
}

PortChangeSignal::Result PortChangeSignal::Wait(std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // The flags are looked at before each wait: a Wake or Cancel that
        // came first has also left the backend's wait interrupted, so none
        // is lost between the look and the wait.
        if (cancelled_.load()) return Result::Cancelled;
        if (changed_.exchange(false)) return Result::Changed;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return Result::TimedOut;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (system_->Wait(static_cast<std::uint32_t>(left))) {
            if (cancelled_.load()) return Result::Cancelled;
            changed_.store(false);
            return Result::Changed;
        }
    }
}

}  // namespace tarn::driver
