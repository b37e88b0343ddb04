// The wakes that WakeCommWaits asks of a device's input waits, counted. A
// wait is given the count from a moment of its caller's choosing and ends
// on any wake asked for since, whichever other waits that wake ends too.
// Two threads may wait on one handle at once (the receive thread and a
// read of the application's), and a wake meant for one of them must not
// be used up by the other; the receive thread takes the count before it
// looks at what a wake would tell it to look at again, so that a wake
// that comes in between ends its next wait.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarn::driver {

class CommWakes {
public:
    void Ask() { asked_.fetch_add(1); }
    std::uint64_t Asked() const { return asked_.load(); }
    // True once a wake has been asked for since the count was `seen`.
    bool Since(std::uint64_t seen) const { return asked_.load() != seen; }

private:
    std::atomic<std::uint64_t> asked_{0};
};

}  // namespace tarn::driver
