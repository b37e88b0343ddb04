// Waiting in tests and benchmarks for something that another thread, the
// kernel or a queued event makes true, with a limit so generous that only a
// fault reaches it. Main thread only: it serves the queue of synchronized
// events while it waits, so that an event the condition waits for can run.
#pragma once

#include <chrono>

#include "host_synchronize.h"

namespace tarn::test {

// Generous: the machine is shared and a sanitizer may slow everything down.
inline constexpr std::chrono::seconds kEventLimit{30};

// Serves the main thread's queue until `done()` holds or the limit passes.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = kEventLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        tarn::host::CheckSynchronize(5);
    }
    return true;
}

}  // namespace tarn::test
