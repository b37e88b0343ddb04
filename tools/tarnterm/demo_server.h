// The demo instrument over the network, for --demo --remote and --demo
// --serve: a small server that speaks the server end of the remote port
// protocol (com_port_server.h) to one TCP client at a time and carries it
// to a port of this process through the driver seam, so that a terminal
// reaches the instrument as it would a port on another machine.
//
// What a client gets: the data both ways; its line settings applied to the
// port and answered with the values in force; DTR, RTS and break driven on
// the port and answered; the port's modem lines once the protocol is
// agreed and again whenever they change; purges; its requests to hold back
// and resume the data. The port is opened for each client and closed when
// the client goes (or the port does, the instrument being unplugged, which
// ends the client's connection), so every client meets an instrument fresh
// from power-up. A client that comes while another is served is closed at
// once.
//
// Threads. The accept thread waits for clients. Each client is served by a
// session thread, which reads what the client sends, writes the data to
// the port and answers the requests, and by a pump thread, which takes what
// the port receives and its lines and sends them. Memory stays bounded: a
// thread holds at most one piece of the connection's or the port's bytes.
// A client that does not read holds the pump in its send, which leaves the
// bytes in the port's input queue, bounded by its size; the session's own
// sends wait for the pump's, and it reads the client on only once the port
// has sent what it was given. So such a client, or one whose device holds
// the port back by flow control, is held back by TCP. Only a client that
// holds our data back (FLOWCONTROL-SUSPEND) is read on regardless, to hear
// it let the data go; what it sends meanwhile waits in the port's output
// queue. Each client's port is opened with its queues purged, so nothing
// of an earlier client reaches the next.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host_socket.h"

namespace tarnterm {

class DemoSession;

class DemoServer {
public:
    // Listens on `address` ("127.0.0.1", "" for every address) and `port`
    // (0: any free port) for clients of the port named `portName`. Null,
    // with the host's last error set (a Windows Sockets number such as
    // WSAEADDRINUSE), when it cannot listen.
    static std::unique_ptr<DemoServer> Start(const std::string& portName,
                                             const std::string& address, std::uint16_t port);
    // Ends the session of a client that is served, closes the port and
    // stops listening.
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    // The port listened on. Any thread.
    std::uint16_t Port() const { return listener_->Port(); }
    // True while a client is served. Any thread.
    bool Serving() const;

private:
    DemoServer(std::string portName, std::unique_ptr<tarn::host::TcpListener> listener);
    // The accept thread.
    void AcceptClients();

    const std::string portName_;
    const std::unique_ptr<tarn::host::TcpListener> listener_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::shared_ptr<DemoSession> session_;  // guarded by mutex_
    std::thread sessionThread_;             // guarded by mutex_
    std::thread acceptThread_;
};

}  // namespace tarnterm
