// One client's session of a port server (port_server.h): between its TCP
// connection, which speaks the server end of the remote port protocol
// (com_port_server.h), and a port of this process, reached through the
// driver seam.
//
// Threads. Run serves the client on the thread that calls it (the session
// thread): it reads what the client sends, writes the data to the port and
// answers the requests. It starts a pump thread, which takes what the port
// receives and its lines and sends them. Stop and Ended are for any thread.
//
// Memory stays bounded: a thread holds at most one piece of the
// connection's or the port's bytes. A client that does not read holds the
// pump in its send, which leaves the bytes in the port's input queue,
// bounded by its size; the session's own sends wait for the pump's, and it
// reads the client on only once the port has sent what it was given. So
// such a client, or one whose device holds the port back by flow control,
// is held back by TCP. Only a client that holds our data back
// (FLOWCONTROL-SUSPEND) is read on regardless, to hear it let the data go;
// what it sends meanwhile waits in the port's output queue.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "com_port_server.h"
#include "host_socket.h"
#include "serial_driver.h"

namespace tarn::driver::remote {

// Opens `name` for a client as a UART's driver does: 9600 8N1 with DTR and
// RTS raised, until the client's settings come, and with its queues
// purged, so that nothing of an earlier client reaches the next.
// INVALID_HANDLE_VALUE when it cannot.
HANDLE OpenPortForClient(const std::string& name);

class PortSession {
public:
    // Takes the client and the open port; `signature` answers a client
    // that asks for the server's.
    PortSession(std::unique_ptr<host::TcpConnection> client, HANDLE port, std::string signature)
        : client_(std::move(client)), port_(port), signature_(std::move(signature)) {}

    // Serves the client until it goes, the port goes or Stop; then closes
    // both. The session thread.
    void Run();
    // Ends the session soon. Any thread.
    void Stop();
    // Run has returned. Any thread.
    bool Ended() const { return ended_; }

private:
    // The session thread's part: what the client sends.
    void ServeClient();
    // The pump thread: what the port receives, and its lines.
    void Pump();
    // Sends what the protocol has queued. Neither lock may be held.
    bool Flush();
    bool WriteToPort(const std::string& data);
    // Waits until the port has sent what it was given, unless the client
    // holds our data back. False when the port has gone or the session ends.
    bool AwaitPortSent();
    // Applies a request and queues its answer. False when the port has
    // gone. The session thread.
    bool Apply(const ComRequest& request);
    bool Control(std::uint32_t value);
    // Changes the settings when `change` says so and answers `command` with
    // what `inForce` reads from the settings then in force.
    template <typename Change, typename InForce>
    bool ChangeSettings(ComCommand command, Change change, InForce inForce);
    // DTR, RTS or break: `request` is the group's request value, followed
    // by its on and off values.
    bool DriveLine(std::uint32_t value, WireControl request, std::uint32_t setCode,
                   std::uint32_t clearCode, bool& state);
    void Answer(ComCommand command, std::uint32_t value);
    bool PortAlive() const;

    std::unique_ptr<host::TcpConnection> client_;  // reset by Run, once closed_ is set
    const HANDLE port_;
    const std::string signature_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::thread pump_;

    std::mutex sendMutex_;  // orders the sends to the client; taken before mutex_
    std::mutex mutex_;
    std::condition_variable resumed_;
    ComPortServer server_;           // guarded by mutex_
    bool suspended_ = false;         // guarded by mutex_: the client holds our data back
    std::uint8_t modemMask_ = 0xFF;  // guarded by mutex_
    bool closed_ = false;            // guarded by mutex_: the client and port are closed

    // The output lines as set; the session thread's own.
    bool dtr_ = true;
    bool rts_ = true;
    bool break_ = false;
};

}  // namespace tarn::driver::remote
