// One end of a Telnet connection without the connection: the parser, the
// option negotiation and the bytes queued for the network. The client and
// the server of the serial port protocol each own one and add the meaning
// of COM-PORT-OPTION on top.
//
// Options are negotiated on both sides (what we will do, what we let the
// peer do) as RFC 1143 describes, so that no pair of ends can loop: a
// request is answered only when it changes the state, an answer is never
// answered, and an option this end does not support is refused once and
// ignored after. Since a peer can still flip a supported option back and
// forth, the answers queued since the last TakeOutgoing are bounded too;
// past the bound a request is ignored as if it had not come.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "telnet_parser.h"

namespace tarn::driver::remote {

// The most bytes of answers to the peer's negotiation that wait in the
// outgoing queue; enough to refuse every option both ways at once.
inline constexpr std::size_t kMaxQueuedAnswers = 2048;

class TelnetSession {
public:
    // `supported`: the options this end agrees to on both sides.
    explicit TelnetSession(std::initializer_list<std::uint8_t> supported);

    // Queues WILL or DO `option` (a supported one) as this end's own request.
    void Ask(std::uint8_t verb, std::uint8_t option);

    // Takes one byte from the network. Negotiations are answered here and
    // still reported, so that the owner can see what the peer said; data
    // and sub-negotiations are the owner's (see Parser()).
    TelnetParser::Event Step(std::uint8_t byte);
    const TelnetParser& Parser() const { return parser_; }

    // True when the option is in force on our side (we do it) or on the
    // peer's side (the peer does it).
    bool Ours(std::uint8_t option) const { return ours_[option] == State::Yes; }
    bool Peers(std::uint8_t option) const { return peers_[option] == State::Yes; }

    // Appends data bytes, each IAC doubled.
    void SendData(const std::uint8_t* bytes, std::size_t count);
    void SendData(std::string_view bytes);
    // Appends IAC SB option body IAC SE, each IAC in the body doubled.
    void SendSubnegotiation(std::uint8_t option, std::string_view body);

    std::string TakeOutgoing();

private:
    enum class State : std::uint8_t { No, Yes, WantYes };

    void Negotiate(std::uint8_t verb, std::uint8_t option);
    // Queues IAC verb option as an answer; false when the bound is reached.
    bool Answer(std::uint8_t verb, std::uint8_t option);

    TelnetParser parser_;
    std::bitset<256> supported_;
    std::array<State, 256> ours_{};
    std::array<State, 256> peers_{};
    // Unsupported options already refused, on our side and the peer's.
    std::bitset<256> refusedOurs_;
    std::bitset<256> refusedPeers_;
    std::string outgoing_;
    std::size_t queuedAnswers_ = 0;
};

// The session that both ends of the serial port protocol start with: it
// agrees to BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION, and has queued
// WILL and DO for the first two and WILL COM-PORT-OPTION.
TelnetSession ComPortSession();

}  // namespace tarn::driver::remote
