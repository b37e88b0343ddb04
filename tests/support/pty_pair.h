// A pseudo-terminal pair for tests that need a real terminal device behind
// the driver. The port end is opened through the driver (and later the
// component) under PortName(); the peer end is driven by the test.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace tarn::test {

class PtyPair {
public:
    // Makes a new pair. On failure returns null and says why in `whyNot`;
    // callers fail the test with that text rather than skip it. With
    // `portByLink` the port end opens by a name that Unlist can take away:
    // natively a link in the temporary folder; under Wine its "COMn" name
    // is one already.
    static std::unique_ptr<PtyPair> Create(std::string* whyNot = nullptr, bool portByLink = false);
    // Whether a drain of the port end means the bytes reached the peer: not
    // under Wine, where a relay process stands between the two.
    static bool DrainReachesPeer();

    virtual ~PtyPair() = default;

    // The name under which the port end opens: natively the terminal's
    // absolute path, under Wine a "COMn" name whose dosdevices link points
    // at it.
    virtual std::string PortName() const = 0;

    // The port end's path in the Unix file system, for Unix programs that
    // serve it (ser2net_server.h): natively the same as PortName(), under
    // Wine the terminal that socat made.
    virtual std::string PortPath() const = 0;

    // A name under which more handles on the peer end open, for callers
    // that drive it with their own time-outs: under Wine its Windows path
    // (UTF-8). Natively empty: the peer end is a master, which has no name
    // that opens it again.
    virtual std::string PeerPath() const = 0;

    // Writes all of `bytes` to the peer end.
    virtual bool WritePeer(const std::string& bytes) = 0;

    // Reads from the peer end until `count` bytes have come or `timeout`
    // has passed; returns what came.
    virtual std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) = 0;

    // Closes the peer end and removes the port end's name, as a pulled
    // adapter would vanish.
    virtual void Remove() = 0;

    // Takes the port end's name off the port list while the terminal stays:
    // natively the link of a pair made with `portByLink` goes, under Wine
    // the port's entry in the port list key. False when there is no such
    // name, or it could not be taken off.
    virtual bool Unlist() = 0;
};

}  // namespace tarn::test
