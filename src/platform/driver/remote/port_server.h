// A port of this process offered to other programs over the network: a
// TCP server that speaks the server end of the remote port protocol (RFC
// 2217), so that a client anywhere, this library's rfc2217:// ports among
// them, reaches the port as it would one on its own machine. Any port that
// this process can open serves: a virtual port, a pseudo-terminal, a UART.
//
// What a client gets: the data both ways; its line settings applied to the
// port and answered with the values in force (a refused setting is
// answered with the one that stays); DTR, RTS and break driven on the port
// and answered; the port's modem lines once the protocol is agreed and
// again whenever they change, as its mask asks; purges; its requests to
// hold back and resume the data; the server's signature when it asks.
//
// One client at a time. The port is opened for each client, at 9600 8N1
// with DTR and RTS raised and its queues purged, and closed when the
// client goes; when the port goes (a device unplugged), the client's
// connection is closed, which is how the protocol tells it. A client that
// comes while another is served, or while the port cannot be opened, is
// closed at once.
//
// Memory stays bounded whatever a client does: one that does not read is
// held back by TCP, and the port's own queues hold the rest.
//
// Threads. Start and the destructor are for one thread, the owner's; Port
// and Serving for any thread. The server runs on threads of its own: one
// that accepts clients, and two for the client served.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarn::driver::remote {

class PortServer {
public:
    // The signature that a client hears unless Start is told another.
    static constexpr const char* kDefaultSignature = "TarnSerialPort port server";

    // Listens on `address` ("127.0.0.1", "0.0.0.0", "::1"; "" for every
    // address) and `port` (0: any free port) for clients of the port named
    // `portName` (as the driver names it: "COM3", "/dev/ttyUSB0", a virtual
    // port's name). Null when it cannot listen, with the system's error in
    // tarn::host::GetLastError() (host_system_error.h): a Windows Sockets
    // number such as WSAEADDRINUSE or WSAEACCES on every system.
    static std::unique_ptr<PortServer> Start(const std::string& portName,
                                             const std::string& address, std::uint16_t port,
                                             const std::string& signature = kDefaultSignature);
    // Ends the session of a client that is served, closes the port and
    // stops listening; returns once the server's threads have ended.
    virtual ~PortServer() = default;

    // The TCP port listened on, the one chosen when Start was given 0.
    virtual std::uint16_t Port() const = 0;
    // True while a client is served.
    virtual bool Serving() const = 0;

protected:
    PortServer() = default;
    PortServer(const PortServer&) = delete;
    PortServer& operator=(const PortServer&) = delete;
};

}  // namespace tarn::driver::remote
