// TCP connections for the parts that reach a port or serve one over the
// network: a blocking socket with waits that have a limit and can be ended
// from another thread. host_socket_posix.cpp uses BSD sockets,
// host_socket_win32.cpp Winsock (started on first use).
//
// Failures are reported as the system's error code through the host's last
// error (SetLastError), as Windows Sockets numbers them on every system
// (WSAECONNREFUSED and the rest, host_system_error.h), so that a message
// reads the same everywhere.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tarn::host {

class TcpConnection {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~TcpConnection() = default;

    // Sends the `count` bytes, waiting for room until `deadline` (none: as
    // long as it takes) or Cancel; `sent` says how many the system took,
    // fewer than `count` only when the deadline passed. False with the last
    // error set when the connection failed or was cancelled (WSAECONNRESET,
    // WSAESHUTDOWN, ...).
    virtual bool Send(const void* bytes, std::size_t count,
                      std::optional<Clock::time_point> deadline, std::size_t& sent) = 0;
    // Sends all `count` bytes, as long as it takes.
    bool SendAll(const void* bytes, std::size_t count) {
        std::size_t sent = 0;
        return Send(bytes, count, std::nullopt, sent);
    }
    // Waits at most `milliseconds` for bytes and takes up to `capacity` of
    // them into `buffer`; `received` is 0 when the time ran out. False with
    // the last error set when the connection failed, the peer closed it
    // (WSAEDISCON) or Cancel was called.
    virtual bool Receive(void* buffer, std::size_t capacity, std::uint32_t milliseconds,
                         std::size_t& received) = 0;
    // How many of the bytes sent the far end has not acknowledged yet, those
    // still waiting to leave included; none where the system does not tell
    // (Windows).
    virtual std::optional<std::size_t> Unacknowledged() const = 0;
    // Ends this end's sending after the bytes sent so far: the far end reads
    // them and then the end of the stream. Receive goes on as before. False
    // with the last error set when the connection failed.
    virtual bool ShutDownSending() = 0;
    // Ends the waits of Send and Receive that run now and makes later
    // ones fail at once. Any thread; safe while another thread waits.
    virtual void Cancel() = 0;
    // "host:port" of the far end, as connected.
    virtual std::string PeerName() const = 0;
};

// Connects to `host` (a name or a numeric address) on `port`, giving up
// after `milliseconds`. Null with the last error set: WSAHOST_NOT_FOUND,
// WSAECONNREFUSED, WSAETIMEDOUT, WSAENETUNREACH and the like.
std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, std::uint16_t port,
                                          std::uint32_t milliseconds);

class TcpListener {
public:
    virtual ~TcpListener() = default;
    // The port it listens on (the one chosen when 0 was asked for).
    virtual std::uint16_t Port() const = 0;
    // Waits at most `milliseconds` for a connection. Null with the last
    // error WSAETIMEDOUT when none came, or another when it failed or was
    // cancelled.
    virtual std::unique_ptr<TcpConnection> Accept(std::uint32_t milliseconds) = 0;
    // Ends a running Accept and makes later ones fail at once. Any thread.
    virtual void Cancel() = 0;
};

// Listens on `port` (0: any free port) of `address` ("127.0.0.1", or ""
// for every address). Null with the last error set on failure.
std::unique_ptr<TcpListener> ListenTcp(const std::string& address, std::uint16_t port);

}  // namespace tarn::host
