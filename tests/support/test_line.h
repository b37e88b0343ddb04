// A line for tests that run the same case over every kind of port: an
// in-process virtual port, or a real pseudo-terminal behind the system's
// driver. The component opens it under Name(); the test plays the far end.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "pty_pair.h"
#include "virtual_port.h"

namespace tarn::test {

enum class LineKind { Virtual, PseudoTerminal };

inline const char* LineKindName(LineKind kind) {
    return kind == LineKind::Virtual ? "Virtual" : "PseudoTerminal";
}

class TestLine {
public:
    // A new line of that kind; null, with the reason in `whyNot`, when the
    // system cannot make one (the test then fails with that reason).
    static std::unique_ptr<TestLine> Create(LineKind kind, const std::string& virtualName,
                                            std::string* whyNot);
    // A line whose name Unlist can take off the port list while the device
    // stays, and whose input wait in the driver ends at once on input, line
    // changes and removal where the system allows: a virtual port that
    // wakes its waits on line changes, a terminal that opens by a link of
    // its own (PtyPair's `portByLink`).
    static std::unique_ptr<TestLine> CreateUnlistable(LineKind kind, const std::string& virtualName,
                                                      std::string* whyNot);

    virtual ~TestLine() = default;
    virtual std::string Name() const = 0;
    // Sends bytes from the far end to the component.
    virtual bool Inject(const std::string& bytes) = 0;
    // Reads what the component sent until `count` bytes have come or
    // `timeout` has passed; returns what came, never more than `count`.
    virtual std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) = 0;
    // Takes the line away as a pulled adapter goes: a virtual port is
    // removed, a terminal hangs up and loses its name.
    virtual void Remove() = 0;
    // Takes the line's name off the port list while its device stays, as a
    // system whose list lags behind its devices; false when it cannot (a
    // terminal's own name).
    virtual bool Unlist() = 0;
    // Waits until the receive thread has been through at least `cycles`
    // more poll cycles. A virtual port counts them; a terminal cannot, so
    // there the wait lasts `cycles` poll periods of `delayMs` and more.
    virtual bool WaitPollCycles(int cycles, std::uint32_t delayMs) = 0;
};

}  // namespace tarn::test
