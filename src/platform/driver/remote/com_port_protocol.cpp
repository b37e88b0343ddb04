// The client end of the serial port protocol: requests out, the server's
// answers and notifications in. Every sub-negotiation from the server is
// checked for its command and its exact length before it changes anything.
#include "com_port_protocol.h"

#include <utility>

namespace tarn::driver::remote {

namespace {

constexpr std::uint8_t kLineErrors = kLineBreak | kLineFraming | kLineParity | kLineOverrun;

constexpr std::uint8_t Command(ComCommand command) { return static_cast<std::uint8_t>(command); }

constexpr std::uint8_t ServerCommand(ComCommand command) {
    return static_cast<std::uint8_t>(Command(command) + kServerOffset);
}

std::string_view OneByte(const std::uint8_t& value) {
    return std::string_view(reinterpret_cast<const char*>(&value), 1);
}

}  // namespace

ComPortClient::ComPortClient() : telnet_(ComPortSession()) {}

void ComPortClient::Receive(const std::uint8_t* bytes, std::size_t count, std::string& data) {
    const std::size_t dataAtStart = data.size();
    for (std::size_t i = 0; i < count; ++i) {
        const TelnetParser& parser = telnet_.Parser();
        switch (telnet_.Step(bytes[i])) {
            case TelnetParser::Event::Data:
                data += static_cast<char>(parser.DataByte());
                break;
            case TelnetParser::Event::Negotiation:
                if (parser.Verb() == kDONT && parser.Option() == kOptionComPort) {
                    comPortRefused_ = true;
                }
                break;
            case TelnetParser::Event::Subnegotiation:
                // What the server says of the port counts only once the option
                // is agreed; sub-negotiations of other options mean nothing here.
                if (parser.SubnegotiationOption() == kOptionComPort && ComPortAgreed()) {
                    const bool purgeAwaited = !purge_.answered;
                    OnComPort(parser.SubnegotiationBody());
                    if (purgeAwaited && purge_.answered) {
                        dataBeforePurgeAnswer_ = data.size() - dataAtStart;
                    }
                }
                break;
            case TelnetParser::Event::None:
                break;
        }
    }
}

void ComPortClient::OnComPort(std::string_view body) {
    if (body.empty()) return;
    const auto command = static_cast<std::uint8_t>(body[0]);
    const std::string_view value = body.substr(1);
    const std::uint8_t byte = value.empty() ? 0 : static_cast<std::uint8_t>(value[0]);

    if (command == ServerCommand(ComCommand::SetBaudRate)) {
        if (value.size() != 4) return;
        std::uint32_t baud = 0;
        for (const char c : value) baud = baud << 8 | static_cast<std::uint8_t>(c);
        baudRate_ = {true, baud};
        return;
    }
    if (command == ServerCommand(ComCommand::FlowControlSuspend) ||
        command == ServerCommand(ComCommand::FlowControlResume)) {
        if (value.empty()) {
            sendingSuspended_ = command == ServerCommand(ComCommand::FlowControlSuspend);
        }
        return;
    }
    // Every other answer and notification carries exactly one byte; the
    // server's signature and its requests of ours are not needed.
    if (value.size() != 1) return;
    if (command == ServerCommand(ComCommand::SetDataSize)) {
        dataSize_ = {true, byte};
    } else if (command == ServerCommand(ComCommand::SetParity)) {
        parity_ = {true, byte};
    } else if (command == ServerCommand(ComCommand::SetStopSize)) {
        stopSize_ = {true, byte};
    } else if (command == ServerCommand(ComCommand::SetControl)) {
        if (Answer* group = ControlGroup(byte)) *group = {true, byte};
    } else if (command == ServerCommand(ComCommand::PurgeData)) {
        purge_ = {true, byte};
    } else if (command == ServerCommand(ComCommand::NotifyModemState)) {
        modemState_ = byte;
    } else if (command == ServerCommand(ComCommand::NotifyLineState)) {
        lineErrors_ |= byte & kLineErrors;
    }
}

Answer* ComPortClient::ControlGroup(std::uint8_t value) {
    // The values 17 to 19 choose further kinds of outbound flow control
    // (by DCD, DSR and the like), so they belong with the flow group.
    if (value <= 3 || (value >= 17 && value <= 19)) return &flow_;
    if (value <= 6) return &break_;
    if (value <= 9) return &dtr_;
    if (value <= 12) return &rts_;
    if (value <= 16) return &inboundFlow_;
    return nullptr;
}

void ComPortClient::SendData(const std::uint8_t* bytes, std::size_t count) {
    telnet_.SendData(bytes, count);
}

void ComPortClient::SendRequest(ComCommand command, std::string_view value) {
    std::string body(1, static_cast<char>(Command(command)));
    body += value;
    telnet_.SendSubnegotiation(kOptionComPort, body);
}

void ComPortClient::RequestBaudRate(std::uint32_t baud) {
    const char value[4] = {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                           static_cast<char>(baud >> 8), static_cast<char>(baud)};
    baudRate_ = {};
    SendRequest(ComCommand::SetBaudRate, std::string_view(value, sizeof value));
}

void ComPortClient::RequestDataSize(std::uint8_t bits) {
    dataSize_ = {};
    SendRequest(ComCommand::SetDataSize, OneByte(bits));
}

void ComPortClient::RequestParity(WireParity parity) {
    parity_ = {};
    SendRequest(ComCommand::SetParity, OneByte(static_cast<std::uint8_t>(parity)));
}

void ComPortClient::RequestStopSize(WireStopSize stop) {
    stopSize_ = {};
    SendRequest(ComCommand::SetStopSize, OneByte(static_cast<std::uint8_t>(stop)));
}

void ComPortClient::RequestControl(WireControl value) {
    const auto byte = static_cast<std::uint8_t>(value);
    if (Answer* group = ControlGroup(byte)) *group = {};
    SendRequest(ComCommand::SetControl, OneByte(byte));
}

void ComPortClient::RequestPurge(WirePurge which) {
    purge_ = {};
    SendRequest(ComCommand::PurgeData, OneByte(static_cast<std::uint8_t>(which)));
}

void ComPortClient::RequestLineStateMask(std::uint8_t mask) {
    SendRequest(ComCommand::SetLineStateMask, OneByte(mask));
}

void ComPortClient::RequestModemStateMask(std::uint8_t mask) {
    SendRequest(ComCommand::SetModemStateMask, OneByte(mask));
}

std::string ComPortClient::TakeOutgoing() { return telnet_.TakeOutgoing(); }

Answer ComPortClient::BaudRate() const { return baudRate_; }
Answer ComPortClient::DataSize() const { return dataSize_; }
Answer ComPortClient::Parity() const { return parity_; }
Answer ComPortClient::StopSize() const { return stopSize_; }
Answer ComPortClient::Flow() const { return flow_; }
Answer ComPortClient::Break() const { return break_; }
Answer ComPortClient::Dtr() const { return dtr_; }
Answer ComPortClient::Rts() const { return rts_; }
Answer ComPortClient::InboundFlow() const { return inboundFlow_; }
Answer ComPortClient::Purge() const { return purge_; }

bool ComPortClient::ComPortAgreed() const {
    return !comPortRefused_ && (telnet_.Ours(kOptionComPort) || telnet_.Peers(kOptionComPort));
}

bool ComPortClient::ComPortRefused() const { return comPortRefused_; }

std::optional<std::uint8_t> ComPortClient::ModemState() const { return modemState_; }

std::uint8_t ComPortClient::TakeLineErrors() { return std::exchange(lineErrors_, 0); }

bool ComPortClient::SendingSuspended() const { return sendingSuspended_; }

}  // namespace tarn::driver::remote
