// Polls a condition that another thread or the kernel makes true, with a
// limit so generous that only a fault can reach it.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tarn::bench {

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tarn::bench
