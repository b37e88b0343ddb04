// The server end: the client's requests in, answers and notifications out.
#include "com_port_server.h"

#include <algorithm>
#include <utility>

namespace tarn::driver::remote {

namespace {

constexpr std::uint8_t Command(ComCommand command) { return static_cast<std::uint8_t>(command); }

constexpr std::uint8_t ServerCommand(ComCommand command) {
    return static_cast<std::uint8_t>(Command(command) + kServerOffset);
}

// How many value bytes a request of the client carries; -1 for a command
// that a client does not send (the notifications are the server's) or that
// does not exist, and for Signature, whose text has any length.
int RequestValueSize(std::uint8_t command) {
    switch (static_cast<ComCommand>(command)) {
        case ComCommand::SetBaudRate:
            return 4;
        case ComCommand::SetDataSize:
        case ComCommand::SetParity:
        case ComCommand::SetStopSize:
        case ComCommand::SetControl:
        case ComCommand::SetLineStateMask:
        case ComCommand::SetModemStateMask:
        case ComCommand::PurgeData:
            return 1;
        case ComCommand::FlowControlSuspend:
        case ComCommand::FlowControlResume:
            return 0;
        case ComCommand::Signature:
        case ComCommand::NotifyLineState:
        case ComCommand::NotifyModemState:
            break;
    }
    return -1;
}

}  // namespace

ComPortServer::ComPortServer() : telnet_(ComPortSession()) {}

void ComPortServer::Receive(const std::uint8_t* bytes, std::size_t count, std::string& data) {
    for (std::size_t i = 0; i < count; ++i) {
        const TelnetParser& parser = telnet_.Parser();
        switch (telnet_.Step(bytes[i])) {
            case TelnetParser::Event::Data:
                data += static_cast<char>(parser.DataByte());
                break;
            case TelnetParser::Event::Subnegotiation:
                if (parser.SubnegotiationOption() == kOptionComPort && ComPortAgreed()) {
                    OnComPort(parser.SubnegotiationBody());
                }
                break;
            case TelnetParser::Event::Negotiation:
            case TelnetParser::Event::None:
                break;
        }
    }
}

void ComPortServer::OnComPort(std::string_view body) {
    if (body.empty() || requests_.size() >= kMaxQueuedRequests) return;
    const auto command = static_cast<std::uint8_t>(body[0]);
    const std::string_view value = body.substr(1);
    ComRequest request;
    request.command = static_cast<ComCommand>(command);
    if (command == Command(ComCommand::Signature)) {
        request.text = std::string(value);
    } else {
        const int size = RequestValueSize(command);
        if (size < 0 || value.size() != static_cast<std::size_t>(size)) return;
        for (const char c : value)
            request.value = request.value << 8 | static_cast<std::uint8_t>(c);
    }
    requests_.push_back(std::move(request));
}

std::optional<ComRequest> ComPortServer::TakeRequest() {
    if (requests_.empty()) return std::nullopt;
    ComRequest request = std::move(requests_.front());
    requests_.pop_front();
    return request;
}

bool ComPortServer::ComPortAgreed() const {
    return telnet_.Peers(kOptionComPort) || telnet_.Ours(kOptionComPort);
}

void ComPortServer::SendData(const std::uint8_t* bytes, std::size_t count) {
    telnet_.SendData(bytes, count);
}

void ComPortServer::SendCommand(std::uint8_t command, std::string_view value) {
    std::string body(1, static_cast<char>(command));
    body += value;
    telnet_.SendSubnegotiation(kOptionComPort, body);
}

void ComPortServer::Answer(ComCommand request, std::uint32_t value) {
    const std::uint8_t command = ServerCommand(request);
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    const std::string_view all(bytes, sizeof bytes);
    switch (request) {
        case ComCommand::SetBaudRate:
            SendCommand(command, all);
            break;
        case ComCommand::FlowControlSuspend:
        case ComCommand::FlowControlResume:
            SendCommand(command, {});
            break;
        default:
            SendCommand(command, all.substr(3));
            break;
    }
}

void ComPortServer::AnswerSignature(std::string_view text) {
    // The option and the command byte count towards the bound as well.
    const std::size_t room = kMaxSubnegotiation - 2;
    SendCommand(ServerCommand(ComCommand::Signature), text.substr(0, std::min(text.size(), room)));
}

void ComPortServer::NotifyModemState(std::uint8_t state) {
    SendCommand(ServerCommand(ComCommand::NotifyModemState),
                std::string_view(reinterpret_cast<const char*>(&state), 1));
}

void ComPortServer::NotifyLineState(std::uint8_t state) {
    SendCommand(ServerCommand(ComCommand::NotifyLineState),
                std::string_view(reinterpret_cast<const char*>(&state), 1));
}

void ComPortServer::Suspend() { SendCommand(ServerCommand(ComCommand::FlowControlSuspend), {}); }

void ComPortServer::Resume() { SendCommand(ServerCommand(ComCommand::FlowControlResume), {}); }

std::string ComPortServer::TakeOutgoing() { return telnet_.TakeOutgoing(); }

}  // namespace tarn::driver::remote
