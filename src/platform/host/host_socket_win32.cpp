// TCP connections on Winsock, started on first use and never stopped (a
// detached thread may still hold a connection while the process exits).
// Every socket is non-blocking and every wait is a select that also watches
// a UDP socket of the object's own, connected to itself: Cancel sends it
// one datagram and nobody ever reads it, so that socket stays readable, and
// a wait that runs now or starts later ends at once, with no moment in
// between in which a cancel could be missed. Winsock's error numbers are
// the ones this layer reports everywhere, so they pass through unchanged.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <mutex>
#include <string>

#include "host_socket.h"
#include "host_system_error.h"
#include "host_winsock.h"

namespace tarn::host {
namespace {

using Clock = std::chrono::steady_clock;

bool FailWith(std::uint32_t error) {
    SetLastError(error);
    return false;
}

bool FailWithSocketError() { return FailWith(static_cast<std::uint32_t>(::WSAGetLastError())); }

// False with the last error set when Winsock cannot be started.
bool StartWinsock() {
    static const int result = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result == 0 || FailWith(static_cast<std::uint32_t>(result));
}

bool SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

std::string AddressText(const sockaddr* address, int length) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(address, length, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    return address->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + service
                                          : std::string(host) + ":" + service;
}

class AddressList {
public:
    // Null with the last error set when `host` cannot be resolved.
    static std::unique_ptr<AddressList> Resolve(const std::string& host, std::uint16_t port,
                                                bool passive) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
        addrinfo* found = nullptr;
        const int result = ::getaddrinfo(host.empty() ? nullptr : host.c_str(),
                                         std::to_string(port).c_str(), &hints, &found);
        if (result != 0) {
            FailWith(static_cast<std::uint32_t>(result));
            return nullptr;
        }
        return std::unique_ptr<AddressList>(new AddressList(found));
    }
    ~AddressList() { ::freeaddrinfo(first_); }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    const addrinfo* First() const { return first_; }

private:
    explicit AddressList(addrinfo* first) : first_(first) {}
    addrinfo* first_;
};

class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
    ~Socket() {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET Get() const { return s_; }
    SOCKET Release() {
        const SOCKET s = s_;
        s_ = INVALID_SOCKET;
        return s;
    }
    void Reset(SOCKET s) {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
        s_ = s;
    }

private:
    SOCKET s_;
};

// The socket that Cancel makes readable for good.
class CancelSignal {
public:
    // False with the last error set when no socket could be made.
    bool Create() {
        socket_.Reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (socket_.Get() == INVALID_SOCKET) return FailWithSocketError();
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof self;
        if (::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
            ::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
            ::connect(socket_.Get(), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
            return FailWithSocketError();
        }
        return true;
    }
    void Raise() {
        if (raised_.exchange(true)) return;
        const char byte = 1;
        (void)::send(socket_.Get(), &byte, 1, 0);
    }
    bool Raised() const { return raised_.load(); }
    SOCKET Get() const { return socket_.Get(); }

private:
    Socket socket_;
    std::atomic<bool> raised_{false};
};

enum class Readiness { Read, Write };

// Waits until `s` is ready for `readiness` (or has failed), or until
// `deadline` (none: no limit), or `cancel` (none: nothing cancels). 1 when
// it is, 0 on time-out, -1 with the last error set: `cancelError` on
// cancel, else the select's own.
int WaitFor(SOCKET s, Readiness readiness, const CancelSignal* cancel,
            const Clock::time_point* deadline, std::uint32_t cancelError) {
    for (;;) {
        fd_set reads;
        fd_set writes;
        fd_set failures;
        FD_ZERO(&reads);
        FD_ZERO(&writes);
        FD_ZERO(&failures);
        FD_SET(s, readiness == Readiness::Read ? &reads : &writes);
        // A failed connect shows here, not among the writable sockets.
        FD_SET(s, &failures);
        if (cancel != nullptr) FD_SET(cancel->Get(), &reads);
        timeval limit{};
        timeval* limitPointer = nullptr;
        if (deadline != nullptr) {
            const auto left = std::chrono::ceil<std::chrono::microseconds>(
                std::max(*deadline - Clock::now(), Clock::duration::zero()));
            // select takes at most some 24 days; a longer wait loops.
            const long long us = std::min<long long>(left.count(), 1'000'000LL * 86'400 * 20);
            limit.tv_sec = static_cast<long>(us / 1'000'000);
            limit.tv_usec = static_cast<long>(us % 1'000'000);
            limitPointer = &limit;
        }
        const int ready = ::select(0, &reads, &writes, &failures, limitPointer);
        if (ready == SOCKET_ERROR) {
            FailWithSocketError();
            return -1;
        }
        if (cancel != nullptr && FD_ISSET(cancel->Get(), &reads)) {
            SetLastError(cancelError);
            return -1;
        }
        if (FD_ISSET(s, &reads) || FD_ISSET(s, &writes) || FD_ISSET(s, &failures)) return 1;
        if (deadline != nullptr && Clock::now() >= *deadline) return 0;
    }
}

bool WouldBlock() {
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

class WinsockTcpConnection final : public TcpConnection {
public:
    WinsockTcpConnection(Socket& socket, std::string peer) : peer_(std::move(peer)) {
        socket_.Reset(socket.Release());
    }
    bool Create() { return cancel_.Create(); }

    bool Send(const void* bytes, std::size_t count, std::optional<Clock::time_point> deadline,
              std::size_t& sent) override {
        std::lock_guard<std::mutex> lock(sendMutex_);
        sent = 0;
        const auto* next = static_cast<const char*>(bytes);
        while (sent < count) {
            if (cancel_.Raised()) return FailWith(WSAESHUTDOWN);
            const int chunk = static_cast<int>(std::min<std::size_t>(count - sent, INT_MAX));
            const int took = ::send(socket_.Get(), next + sent, chunk, 0);
            if (took != SOCKET_ERROR) {
                sent += static_cast<std::size_t>(took);
                continue;
            }
            if (!WouldBlock()) return FailWithSocketError();
            const int ready = WaitFor(socket_.Get(), Readiness::Write, &cancel_,
                                      deadline ? &*deadline : nullptr, WSAESHUTDOWN);
            if (ready < 0) return false;
            if (ready == 0) return true;
        }
        return true;
    }

    bool Receive(void* buffer, std::size_t capacity, std::uint32_t milliseconds,
                 std::size_t& received) override {
        received = 0;
        if (cancel_.Raised()) return FailWith(WSAESHUTDOWN);
        if (capacity == 0) return true;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        const int room = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
        for (;;) {
            if (cancel_.Raised()) return FailWith(WSAESHUTDOWN);
            const int got = ::recv(socket_.Get(), static_cast<char*>(buffer), room, 0);
            if (got > 0) {
                received = static_cast<std::size_t>(got);
                return true;
            }
            if (got == 0) return FailWith(WSAEDISCON);
            if (!WouldBlock()) return FailWithSocketError();
            const int ready =
                WaitFor(socket_.Get(), Readiness::Read, &cancel_, &deadline, WSAESHUTDOWN);
            if (ready < 0) return false;
            if (ready == 0) return true;
        }
    }

    // Winsock tells nothing of it: SIO_TCP_INFO counts only the bytes in
    // flight, not those still queued, and Wine refuses it (WSAEOPNOTSUPP).
    std::optional<std::size_t> Unacknowledged() const override { return std::nullopt; }

    bool ShutDownSending() override {
        return ::shutdown(socket_.Get(), SD_SEND) == 0 || FailWithSocketError();
    }

    void Cancel() override { cancel_.Raise(); }
    std::string PeerName() const override { return peer_; }

private:
    Socket socket_;
    const std::string peer_;
    CancelSignal cancel_;
    // One Send at a time, so that the bytes of two never interleave.
    std::mutex sendMutex_;
};

std::unique_ptr<TcpConnection> MakeConnection(Socket& socket, std::string peer) {
    // Small writes leave at once instead of waiting for the acknowledgement
    // of earlier ones: a serial line's bytes are expected to leave when
    // written.
    BOOL on = TRUE;
    (void)::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                       sizeof on);
    auto connection = std::make_unique<WinsockTcpConnection>(socket, std::move(peer));
    if (!connection->Create()) return nullptr;
    return connection;
}

// Connects `socket` to `address` by `deadline`. False with the last error.
bool ConnectOne(Socket& socket, const addrinfo& address, Clock::time_point deadline) {
    socket.Reset(::socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (socket.Get() == INVALID_SOCKET) return FailWithSocketError();
    if (!SetNonBlocking(socket.Get())) return FailWithSocketError();
    if (::connect(socket.Get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
        return true;
    }
    if (!WouldBlock()) return FailWithSocketError();
    const int ready = WaitFor(socket.Get(), Readiness::Write, nullptr, &deadline, WSAETIMEDOUT);
    if (ready < 0) return false;
    if (ready == 0) return FailWith(WSAETIMEDOUT);
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &length) != 0) {
        return FailWithSocketError();
    }
    return error == 0 || FailWith(static_cast<std::uint32_t>(error));
}

class WinsockTcpListener final : public TcpListener {
public:
    WinsockTcpListener(Socket& socket, std::uint16_t port) : port_(port) {
        socket_.Reset(socket.Release());
    }
    bool Create() { return cancel_.Create(); }

    std::uint16_t Port() const override { return port_; }

    std::unique_ptr<TcpConnection> Accept(std::uint32_t milliseconds) override {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            if (cancel_.Raised()) {
                SetLastError(ERROR_OPERATION_ABORTED);
                return nullptr;
            }
            sockaddr_storage peer{};
            int length = sizeof peer;
            Socket accepted(::accept(socket_.Get(), reinterpret_cast<sockaddr*>(&peer), &length));
            if (accepted.Get() != INVALID_SOCKET) {
                // An accepted socket takes its mode from the listener, but
                // it is set again rather than relied on.
                if (!SetNonBlocking(accepted.Get())) {
                    FailWithSocketError();
                    return nullptr;
                }
                return MakeConnection(accepted,
                                      AddressText(reinterpret_cast<sockaddr*>(&peer), length));
            }
            // A connection that was reset while it waited is not this
            // listener's failure; the next one is waited for.
            if (::WSAGetLastError() == WSAECONNRESET) continue;
            if (!WouldBlock()) {
                FailWithSocketError();
                return nullptr;
            }
            const int ready = WaitFor(socket_.Get(), Readiness::Read, &cancel_, &deadline,
                                      ERROR_OPERATION_ABORTED);
            if (ready < 0) return nullptr;
            if (ready == 0) {
                SetLastError(WSAETIMEDOUT);
                return nullptr;
            }
        }
    }

    void Cancel() override { cancel_.Raise(); }

private:
    Socket socket_;
    const std::uint16_t port_;
    CancelSignal cancel_;
};

}  // namespace

std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, std::uint16_t port,
                                          std::uint32_t milliseconds) {
    if (!StartWinsock()) return nullptr;
    // The name lookup itself is the resolver's and has its own limits.
    const std::unique_ptr<AddressList> addresses = AddressList::Resolve(host, port, false);
    if (!addresses) return nullptr;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (const addrinfo* address = addresses->First(); address != nullptr;
         address = address->ai_next) {
        Socket socket;
        if (ConnectOne(socket, *address, deadline)) {
            return MakeConnection(
                socket, AddressText(address->ai_addr, static_cast<int>(address->ai_addrlen)));
        }
        if (Clock::now() >= deadline) break;
    }
    // The last address's error stands for all.
    return nullptr;
}

std::unique_ptr<TcpListener> ListenTcp(const std::string& address, std::uint16_t port) {
    if (!StartWinsock()) return nullptr;
    const std::unique_ptr<AddressList> addresses = AddressList::Resolve(address, port, true);
    if (!addresses) return nullptr;
    for (const addrinfo* candidate = addresses->First(); candidate != nullptr;
         candidate = candidate->ai_next) {
        Socket socket(
            ::socket(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol));
        if (socket.Get() == INVALID_SOCKET || !SetNonBlocking(socket.Get()) ||
            ::bind(socket.Get(), candidate->ai_addr, static_cast<int>(candidate->ai_addrlen)) !=
                0 ||
            ::listen(socket.Get(), SOMAXCONN) != 0) {
            FailWithSocketError();
            continue;
        }
        sockaddr_storage bound{};
        int length = sizeof bound;
        if (::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
            FailWithSocketError();
            continue;
        }
        const std::uint16_t boundPort =
            bound.ss_family == AF_INET6
                ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
        auto listener = std::make_unique<WinsockTcpListener>(socket, boundPort);
        if (!listener->Create()) return nullptr;
        return listener;
    }
    return nullptr;
}

}  // namespace tarn::host
