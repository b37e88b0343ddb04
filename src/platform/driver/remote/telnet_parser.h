// The byte level of Telnet: which received bytes are data, which are a
// negotiation (IAC WILL/WONT/DO/DONT option) and which are a
// sub-negotiation (IAC SB option ... IAC SE). It takes one byte at a time
// and keeps its place between bytes, so that a command cut anywhere between
// two pieces from the network is taken up where it was cut.
//
// Nothing it is given is trusted: the sub-negotiation buffer never holds
// more than kMaxSubnegotiation bytes, and what Telnet does not define is
// dropped without effect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn::driver::remote {

class TelnetParser {
public:
    // What a byte completed.
    enum class Event : std::uint8_t {
        None,            // nothing yet, or something that is dropped
        Data,            // DataByte() is a data byte
        Negotiation,     // Verb() and Option() are a complete negotiation
        Subnegotiation,  // SubnegotiationOption() and SubnegotiationBody()
    };

    Event Step(std::uint8_t byte);

    // The last event's content, valid until the next Step.
    std::uint8_t DataByte() const { return dataByte_; }
    std::uint8_t Verb() const { return verb_; }
    std::uint8_t Option() const { return option_; }
    std::uint8_t SubnegotiationOption() const;
    // The bytes between the option and IAC SE, with IAC IAC undone.
    std::string_view SubnegotiationBody() const;

private:
    enum class Place : std::uint8_t { Data, Iac, Verb, Sub, SubIac };

    Event AfterIac(std::uint8_t byte);
    void KeepSubnegotiationByte(std::uint8_t byte);

    Place place_ = Place::Data;
    std::uint8_t dataByte_ = 0;
    std::uint8_t verb_ = 0;
    std::uint8_t option_ = 0;
    // The option byte followed by the body, kMaxSubnegotiation bytes at most.
    std::string sub_;
    bool subOverflowed_ = false;
};

}  // namespace tarn::driver::remote
