// A pseudo-terminal pair for the benchmarks, and plain descriptor I/O on it.
// The slave end is the port: the component opens it by path, the baseline
// opens it raw with OpenSlaveRaw. The master end is the peer that a
// scenario drives. Every wait has a limit, so that a benchmark that stops
// moving fails instead of hanging.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "measure.h"

namespace tarn::bench {

class PseudoTerminal {
public:
    // A new pair with a non-blocking master; null with the reason in
    // `whyNot` on failure.
    static std::unique_ptr<PseudoTerminal> Create(std::string* whyNot);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Opens the slave non-blocking and raw (no echo, no line editing, no
    // translation of carriage returns or line feeds), as the component
    // configures it; -1 with the reason in `whyNot` on failure. The caller
    // closes the descriptor.
    int OpenSlaveRaw(std::string* whyNot) const;

private:
    PseudoTerminal(int master, std::string slavePath)
        : master_(master), slavePath_(std::move(slavePath)) {}

    int master_;
    std::string slavePath_;
};

// Writes all `size` bytes to the non-blocking `fd`, waiting with poll while
// the other end has no room. False when the descriptor fails or no byte is
// taken for kStallLimit.
bool WriteAll(int fd, const char* data, std::size_t size);

// Waits until the non-blocking `fd` is readable and reads at most `room`
// bytes. Returns the count read; 0 when nothing came within `timeoutMs`
// (-1 for no limit); -1 when the descriptor fails or hangs up.
long ReadSome(int fd, char* out, std::size_t room, int timeoutMs);

// Reads exactly `size` bytes, each wait limited by kStallLimit. False when
// they do not come.
bool ReadExactly(int fd, char* out, std::size_t size);

}  // namespace tarn::bench
