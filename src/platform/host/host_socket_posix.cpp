// TCP connections on BSD sockets. Every socket is non-blocking and every
// wait is a poll that also watches a pipe of the object's own: Cancel
// writes one byte into it and nobody ever reads it, so the pipe stays
// readable, and a wait that runs now or starts later ends at once, with no
// moment in between in which a cancel could be missed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <string>

#include "host_socket.h"
#include "host_system_error.h"

namespace tarn::host {
namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t WsaErrorFromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return WSAEACCES;
        case EMFILE:
        case ENFILE:
            return WSAEMFILE;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case ENETDOWN:
            return WSAENETDOWN;
        case ENETUNREACH:
            return WSAENETUNREACH;
        case ECONNABORTED:
            return WSAECONNABORTED;
        // Writing to a connection that the peer has reset or closed.
        case ECONNRESET:
        case EPIPE:
            return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case ENOTCONN:
            return WSAENOTCONN;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        case EHOSTUNREACH:
        case EHOSTDOWN:
            return WSAEHOSTUNREACH;
        default:
            return WSAEINVAL;
    }
}

bool FailWithErrno(int error) {
    SetLastError(WsaErrorFromErrno(error));
    return false;
}

std::uint32_t WsaErrorFromResolver(int error) {
    switch (error) {
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_FAIL:
            return WSANO_RECOVERY;
        case EAI_MEMORY:
            return WSAENOBUFS;
        case EAI_FAMILY:
            return WSAEAFNOSUPPORT;
        case EAI_SYSTEM:
            return WsaErrorFromErrno(errno);
        default:
            return WSAHOST_NOT_FOUND;
    }
}

bool SetNonBlockingAndPrivate(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// The poll time-out in milliseconds until `deadline`, -1 for none; rounded
// up, so that a wait never ends before its deadline and loops.
int PollTimeout(const Clock::time_point* deadline) {
    if (deadline == nullptr) return -1;
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::string AddressText(const sockaddr* address, socklen_t length) {
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
        hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
        addrinfo* found = nullptr;
        const int result = ::getaddrinfo(host.empty() ? nullptr : host.c_str(),
                                         std::to_string(port).c_str(), &hints, &found);
        if (result != 0) {
            SetLastError(WsaErrorFromResolver(result));
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
    explicit Socket(int fd = -1) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The pipe that Cancel makes readable for good.
class CancelSignal {
public:
    // False with the last error set when no pipe could be made.
    bool Create() {
        int fds[2];
        if (::pipe(fds) != 0) return FailWithErrno(errno);
        read_.Reset(fds[0]);
        write_.Reset(fds[1]);
        return SetNonBlockingAndPrivate(fds[0]) && SetNonBlockingAndPrivate(fds[1]);
    }
    void Raise() {
        if (raised_.exchange(true)) return;
        const char byte = 1;
        // The pipe is empty until now, so the one byte always fits.
        (void)!::write(write_.Get(), &byte, 1);
    }
    bool Raised() const { return raised_.load(); }
    int ReadEnd() const { return read_.Get(); }

private:
    Socket read_;
    Socket write_;
    std::atomic<bool> raised_{false};
};

// Waits until `fd` polls with one of `events`, or until `deadline` (none:
// no limit), or `cancel` (none: nothing cancels). 1 when it does, 0 on
// time-out, -1 with the last error set: `cancelError` on cancel, else the
// poll's own.
int WaitFor(int fd, short events, const CancelSignal* cancel, const Clock::time_point* deadline,
            std::uint32_t cancelError) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {cancel ? cancel->ReadEnd() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 2, PollTimeout(deadline));
        if (ready < 0 && errno != EINTR) {
            FailWithErrno(errno);
            return -1;
        }
        if (ready > 0 && fds[1].revents != 0) {
            SetLastError(cancelError);
            return -1;
        }
        // Errors and hang-ups count as ready: the call that follows says
        // what they are.
        if (ready > 0 && fds[0].revents != 0) return 1;
        if (deadline != nullptr && Clock::now() >= *deadline) return 0;
    }
}

class PosixTcpConnection final : public TcpConnection {
public:
    PosixTcpConnection(Socket& socket, std::string peer) : peer_(std::move(peer)) {
        fd_.Reset(socket.Release());
    }
    bool Create() { return cancel_.Create(); }

    bool Send(const void* bytes, std::size_t count, std::optional<Clock::time_point> deadline,
              std::size_t& sent) override {
        std::lock_guard<std::mutex> lock(sendMutex_);
        sent = 0;
        const auto* next = static_cast<const char*>(bytes);
        while (sent < count) {
            if (cancel_.Raised()) return Cancelled();
            const ssize_t took = ::send(fd_.Get(), next + sent, count - sent, MSG_NOSIGNAL);
            if (took >= 0) {
                sent += static_cast<std::size_t>(took);
                continue;
            }
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return FailWithErrno(errno);
            const int ready = WaitFor(fd_.Get(), POLLOUT, &cancel_, deadline ? &*deadline : nullptr,
                                      WSAESHUTDOWN);
            if (ready < 0) return false;
            if (ready == 0) return true;
        }
        return true;
    }

    bool Receive(void* buffer, std::size_t capacity, std::uint32_t milliseconds,
                 std::size_t& received) override {
        received = 0;
        if (capacity == 0) return !cancel_.Raised() || Cancelled();
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            if (cancel_.Raised()) return Cancelled();
            const ssize_t got = ::recv(fd_.Get(), buffer, capacity, 0);
            if (got > 0) {
                received = static_cast<std::size_t>(got);
                return true;
            }
            if (got == 0) {
                SetLastError(WSAEDISCON);
                return false;
            }
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return FailWithErrno(errno);
            const int ready = WaitFor(fd_.Get(), POLLIN, &cancel_, &deadline, WSAESHUTDOWN);
            if (ready < 0) return false;
            if (ready == 0) return true;
        }
    }

    std::optional<std::size_t> Unacknowledged() const override {
        // Linux answers this request (SIOCOUTQ there) for a TCP socket with
        // the bytes sent and not yet acknowledged, those not yet sent
        // included; a system that does not tell refuses it.
        int count = 0;
        if (::ioctl(fd_.Get(), TIOCOUTQ, &count) != 0 || count < 0) return std::nullopt;
        return static_cast<std::size_t>(count);
    }

    bool ShutDownSending() override {
        return ::shutdown(fd_.Get(), SHUT_WR) == 0 || FailWithErrno(errno);
    }

    void Cancel() override { cancel_.Raise(); }
    std::string PeerName() const override { return peer_; }

private:
    static bool Cancelled() {
        SetLastError(WSAESHUTDOWN);
        return false;
    }

    Socket fd_;
    const std::string peer_;
    CancelSignal cancel_;
    // One Send at a time, so that the bytes of two never interleave.
    std::mutex sendMutex_;
};

// Keeps small writes from waiting for the acknowledgement of earlier ones:
// a serial line's bytes are expected to leave when written.
void SendAtOnce(int fd) {
    const int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::unique_ptr<TcpConnection> MakeConnection(Socket& socket, std::string peer) {
    SendAtOnce(socket.Get());
    auto connection = std::make_unique<PosixTcpConnection>(socket, std::move(peer));
    if (!connection->Create()) return nullptr;
    return connection;
}

// Connects `socket` to `address` by `deadline`. False with the last error.
bool ConnectOne(Socket& socket, const addrinfo& address, Clock::time_point deadline) {
    socket.Reset(::socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (socket.Get() < 0) return FailWithErrno(errno);
    if (!SetNonBlockingAndPrivate(socket.Get())) return FailWithErrno(errno);
    if (::connect(socket.Get(), address.ai_addr, address.ai_addrlen) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return FailWithErrno(errno);
    const int ready = WaitFor(socket.Get(), POLLOUT, nullptr, &deadline, WSAETIMEDOUT);
    if (ready < 0) return false;
    if (ready == 0) {
        SetLastError(WSAETIMEDOUT);
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return FailWithErrno(errno);
    }
    return error == 0 || FailWithErrno(error);
}

class PosixTcpListener final : public TcpListener {
public:
    PosixTcpListener(Socket& socket, std::uint16_t port) : port_(port) {
        fd_.Reset(socket.Release());
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
            socklen_t length = sizeof peer;
            Socket accepted(::accept(fd_.Get(), reinterpret_cast<sockaddr*>(&peer), &length));
            if (accepted.Get() >= 0) {
                if (!SetNonBlockingAndPrivate(accepted.Get())) {
                    FailWithErrno(errno);
                    return nullptr;
                }
                return MakeConnection(accepted,
                                      AddressText(reinterpret_cast<sockaddr*>(&peer), length));
            }
            // A connection that was reset while it waited is not this
            // listener's failure; the next one is waited for.
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                FailWithErrno(errno);
                return nullptr;
            }
            const int ready =
                WaitFor(fd_.Get(), POLLIN, &cancel_, &deadline, ERROR_OPERATION_ABORTED);
            if (ready < 0) return nullptr;
            if (ready == 0) {
                SetLastError(WSAETIMEDOUT);
                return nullptr;
            }
        }
    }

    void Cancel() override { cancel_.Raise(); }

private:
    Socket fd_;
    const std::uint16_t port_;
    CancelSignal cancel_;
};

}  // namespace

std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, std::uint16_t port,
                                          std::uint32_t milliseconds) {
    // The name lookup itself is the resolver's and has its own limits.
    const std::unique_ptr<AddressList> addresses = AddressList::Resolve(host, port, false);
    if (!addresses) return nullptr;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (const addrinfo* address = addresses->First(); address != nullptr;
         address = address->ai_next) {
        Socket socket;
        if (ConnectOne(socket, *address, deadline)) {
            return MakeConnection(socket, AddressText(address->ai_addr, address->ai_addrlen));
        }
        if (Clock::now() >= deadline) break;
    }
    // The last address's error stands for all.
    return nullptr;
}

std::unique_ptr<TcpListener> ListenTcp(const std::string& address, std::uint16_t port) {
    const std::unique_ptr<AddressList> addresses = AddressList::Resolve(address, port, true);
    if (!addresses) return nullptr;
    for (const addrinfo* candidate = addresses->First(); candidate != nullptr;
         candidate = candidate->ai_next) {
        Socket socket(
            ::socket(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol));
        if (socket.Get() < 0 || !SetNonBlockingAndPrivate(socket.Get())) {
            FailWithErrno(errno);
            continue;
        }
        // A port left in TIME_WAIT by an earlier run can be listened on again.
        const int on = 1;
        (void)::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(socket.Get(), candidate->ai_addr, candidate->ai_addrlen) != 0 ||
            ::listen(socket.Get(), SOMAXCONN) != 0) {
            FailWithErrno(errno);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
            FailWithErrno(errno);
            continue;
        }
        const std::uint16_t boundPort =
            bound.ss_family == AF_INET6
                ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
        auto listener = std::make_unique<PosixTcpListener>(socket, boundPort);
        if (!listener->Create()) return nullptr;
        return listener;
    }
    return nullptr;
}

}  // namespace tarn::host
