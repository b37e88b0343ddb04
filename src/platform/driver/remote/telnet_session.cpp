// Option negotiation without loops, and the outgoing queue it answers into.
#include "telnet_session.h"

#include <utility>

#include "com_port_protocol.h"

namespace tarn::driver::remote {

TelnetSession::TelnetSession(std::initializer_list<std::uint8_t> supported) {
    for (const std::uint8_t option : supported) supported_.set(option);
}

void TelnetSession::Ask(std::uint8_t verb, std::uint8_t option) {
    auto& state = verb == kWILL ? ours_[option] : peers_[option];
    if (state != State::No) return;
    state = State::WantYes;
    outgoing_ += static_cast<char>(kIAC);
    outgoing_ += static_cast<char>(verb);
    outgoing_ += static_cast<char>(option);
}

TelnetParser::Event TelnetSession::Step(std::uint8_t byte) {
    const TelnetParser::Event event = parser_.Step(byte);
    if (event == TelnetParser::Event::Negotiation) Negotiate(parser_.Verb(), parser_.Option());
    return event;
}

void TelnetSession::Negotiate(std::uint8_t verb, std::uint8_t option) {
    // WILL and WONT speak of the peer's side, which we answer with DO and
    // DONT; DO and DONT of ours, answered with WILL and WONT.
    const bool peerSide = verb == kWILL || verb == kWONT;
    const bool enable = verb == kWILL || verb == kDO;
    auto& state = peerSide ? peers_[option] : ours_[option];
    auto& refused = peerSide ? refusedPeers_ : refusedOurs_;
    const std::uint8_t agree = peerSide ? kDO : kWILL;
    const std::uint8_t decline = peerSide ? kDONT : kWONT;

    if (enable) {
        if (state == State::WantYes) {
            state = State::Yes;  // the answer to our own request
        } else if (state == State::No) {
            if (supported_[option]) {
                if (Answer(agree, option)) state = State::Yes;
            } else if (!refused[option] && Answer(decline, option)) {
                refused.set(option);
            }
        }
    } else {
        if (state == State::Yes) {
            // The peer may always switch an option off; it waits for the
            // acknowledgement. Should the bound keep it from going out, the
            // option is off all the same.
            state = State::No;
            Answer(decline, option);
        } else if (state == State::WantYes) {
            state = State::No;  // our request refused
        }
    }
}

bool TelnetSession::Answer(std::uint8_t verb, std::uint8_t option) {
    if (queuedAnswers_ + 3 > kMaxQueuedAnswers) return false;
    queuedAnswers_ += 3;
    outgoing_ += static_cast<char>(kIAC);
    outgoing_ += static_cast<char>(verb);
    outgoing_ += static_cast<char>(option);
    return true;
}

void TelnetSession::SendData(const std::uint8_t* bytes, std::size_t count) {
    SendData(std::string_view(reinterpret_cast<const char*>(bytes), count));
}

void TelnetSession::SendData(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<std::uint8_t>(c) == kIAC) outgoing_ += c;
        outgoing_ += c;
    }
}

void TelnetSession::SendSubnegotiation(std::uint8_t option, std::string_view body) {
    outgoing_ += static_cast<char>(kIAC);
    outgoing_ += static_cast<char>(kSB);
    outgoing_ += static_cast<char>(option);
    SendData(body);
    outgoing_ += static_cast<char>(kIAC);
    outgoing_ += static_cast<char>(kSE);
}

std::string TelnetSession::TakeOutgoing() {
    queuedAnswers_ = 0;
    return std::exchange(outgoing_, std::string());
}

TelnetSession ComPortSession() {
    TelnetSession session({kOptionBinary, kOptionSuppressGoAhead, kOptionComPort});
    session.Ask(kWILL, kOptionBinary);
    session.Ask(kDO, kOptionBinary);
    session.Ask(kWILL, kOptionSuppressGoAhead);
    session.Ask(kDO, kOptionSuppressGoAhead);
    session.Ask(kWILL, kOptionComPort);
    return session;
}

}  // namespace tarn::driver::remote
