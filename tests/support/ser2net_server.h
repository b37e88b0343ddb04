// A real RFC 2217 server for the tests of remote ports: ser2net (4.x)
// serves the port end of a pseudo-terminal pair on 127.0.0.1, and the test
// drives the peer end as it would the far end of a cable. ser2net runs in
// the foreground with a configuration of its own (ser2net-server.sh), never
// the system's, and goes with this object. The Windows builds start the same
// Linux ser2net through Wine and reach it over loopback.
//
// What ser2net (4.3 with gensio 2) does on a pseudo-terminal, as a client
// sees it:
// - It offers WILL ECHO, WILL and DO SUPPRESS-GO-AHEAD and BINARY, DO
//   COM-PORT-OPTION, and sends NOTIFY-MODEMSTATE 0 once the client agrees.
//   It echoes nothing, whatever the client answers to ECHO.
// - It answers baud rate, data size, parity, stop size (1 and 2; 1.5 gets
//   no answer), flow control and purge requests with the value asked for,
//   and applies any rate, also 0xFFFFFFFF (0xFF bytes in its answer come
//   doubled, as they should). Once the terminal had mark or space parity it
//   keeps the stick bit, and answers odd and even as mark and space.
// - It never answers DTR or RTS on or off: a pseudo-terminal has no modem
//   lines. Asked for their state it answers with the request itself (7,
//   10); it answers break on, off and its state all with "on", and every
//   inbound flow control request with "none".
// - It answers the modem and line state masks with a NOTIFY of the state.
// - While a client is connected a second one gets "Port already in use"
//   and is closed; stopping ser2net closes the connection (FIN).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pty_pair.h"
#include "unix_script.h"

namespace tarn::test {

// What the served terminal holds. The kernel keeps a pseudo-terminal at
// eight data bits without parity whatever is asked (it clears CSIZE and
// PARENB on every change), so data bits and whether parity is on never
// arrive; the parity's odd and stick bits do, as the rate and stop bits.
struct ServedTerminal {
    std::uint32_t baudRate = 0;
    int stopBits = 0;
    bool parityOdd = false;    // odd, or mark with parityStick
    bool parityStick = false;  // mark or space
};

class Ser2netServer {
public:
    // What the accepter speaks: RFC 2217, or plain TCP whose bytes are the
    // terminal's (the baseline of the benchmarks).
    enum class Protocol { Rfc2217, RawTcp };

    // Makes a pair and starts ser2net on a free port. On failure returns
    // null and says why in `whyNot`; `absent` is set when the reason is that
    // ser2net is not installed, the one reason to skip a test.
    static std::unique_ptr<Ser2netServer> Create(std::string& whyNot, bool& absent,
                                                 Protocol protocol = Protocol::Rfc2217);

    // Stops ser2net and removes its files, then the pair.
    ~Ser2netServer();

    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // "rfc2217://127.0.0.1:PORT", or "socket://127.0.0.1:PORT" for plain TCP.
    std::string Url() const;
    std::uint16_t Port() const { return port_; }

    // The pair whose port end ser2net serves; the test drives the peer end.
    PtyPair& Pair() { return *pair_; }

    // What the served terminal holds now (read with stty while a client is
    // connected, as ser2net sets the terminal up anew for each client).
    bool ReadTerminal(ServedTerminal& terminal, std::string& whyNot);

    // Stops ser2net; connected clients see the connection end, and the port
    // refuses connections until Start.
    bool Stop(std::string* whyNot = nullptr);

    // Starts ser2net again on the same port.
    bool Start(std::string* whyNot = nullptr);

private:
    Ser2netServer(std::unique_ptr<PtyPair> pair, std::unique_ptr<UnixScript> script);
    bool Launch(std::uint16_t port, std::string* whyNot, bool* absent);

    std::unique_ptr<PtyPair> pair_;
    std::unique_ptr<UnixScript> script_;
    Protocol protocol_ = Protocol::Rfc2217;
    std::uint16_t port_ = 0;
};

}  // namespace tarn::test
