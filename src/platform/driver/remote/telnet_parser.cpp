// The Telnet byte-level state machine. Every branch consumes exactly the
// byte it is given, so the place kept between bytes is the whole state.
#include "telnet_parser.h"

#include "com_port_protocol.h"

namespace tarn::driver::remote {

namespace {

bool IsNegotiationVerb(std::uint8_t byte) {
    return byte == kWILL || byte == kWONT || byte == kDO || byte == kDONT;
}

}  // namespace

TelnetParser::Event TelnetParser::Step(std::uint8_t byte) {
    switch (place_) {
        case Place::Data:
            if (byte == kIAC) {
                place_ = Place::Iac;
                return Event::None;
            }
            dataByte_ = byte;
            return Event::Data;
        case Place::Iac:
            return AfterIac(byte);
        case Place::Verb:
            option_ = byte;
            place_ = Place::Data;
            return Event::Negotiation;
        case Place::Sub:
            if (byte == kIAC) {
                place_ = Place::SubIac;
            } else {
                KeepSubnegotiationByte(byte);
            }
            return Event::None;
        case Place::SubIac:
            if (byte == kIAC) {
                place_ = Place::Sub;
                KeepSubnegotiationByte(kIAC);
                return Event::None;
            }
            if (byte == kSE) {
                place_ = Place::Data;
                // An empty sub-negotiation names no option, and one that ran
                // past the bound is dropped whole rather than cut.
                return sub_.empty() || subOverflowed_ ? Event::None : Event::Subnegotiation;
            }
            // A peer that forgot IAC SE has started a command: the unfinished
            // sub-negotiation is dropped and the command is taken as such, so
            // that the stream recovers at the next command.
            return AfterIac(byte);
    }
    return Event::None;
}

TelnetParser::Event TelnetParser::AfterIac(std::uint8_t byte) {
    if (byte == kIAC) {
        place_ = Place::Data;
        dataByte_ = kIAC;
        return Event::Data;
    }
    if (IsNegotiationVerb(byte)) {
        verb_ = byte;
        place_ = Place::Verb;
        return Event::None;
    }
    if (byte == kSB) {
        sub_.clear();
        sub_.reserve(kMaxSubnegotiation);
        subOverflowed_ = false;
        place_ = Place::Sub;
        return Event::None;
    }
    // SE without SB, the commands without an argument (NOP, GA, AYT, ...)
    // and bytes that are no command at all mean nothing to a serial line.
    place_ = Place::Data;
    return Event::None;
}

void TelnetParser::KeepSubnegotiationByte(std::uint8_t byte) {
    if (sub_.size() < kMaxSubnegotiation) {
        sub_.push_back(static_cast<char>(byte));
    } else {
        subOverflowed_ = true;
    }
}

std::uint8_t TelnetParser::SubnegotiationOption() const {
    return static_cast<std::uint8_t>(sub_[0]);
}

std::string_view TelnetParser::SubnegotiationBody() const {
    return std::string_view(sub_).substr(1);
}

}  // namespace tarn::driver::remote
