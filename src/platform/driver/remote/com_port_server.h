// The server end of the serial port protocol (com_port_protocol.h), for a
// program that offers a port, real or simulated, over the network. Like the
// client it knows no sockets, threads or clocks: bytes from the network go
// in, data and the client's requests come out; the owner applies a request
// to its port and answers with the value now in force.
//
// Requests are checked for their exact length and kept until taken, at
// most kMaxQueuedRequests of them; a client that sends more before the
// owner takes them loses the surplus. Not thread-safe; the owner
// serialises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "com_port_protocol.h"
#include "telnet_session.h"

namespace tarn::driver::remote {

inline constexpr std::size_t kMaxQueuedRequests = 64;

// One request of the client. `value` is the baud rate for SetBaudRate, the
// one value byte for the commands that carry one, and 0 for those that
// carry none (FlowControlSuspend, FlowControlResume) and for Signature,
// whose text, empty when the client asks for ours, is in `text`.
struct ComRequest {
    ComCommand command = ComCommand::Signature;
    std::uint32_t value = 0;
    std::string text;
};

class ComPortServer {
public:
    // Queues WILL and DO BINARY, WILL and DO SUPPRESS-GO-AHEAD and WILL
    // COM-PORT-OPTION; a client's WILL COM-PORT-OPTION is agreed to.
    ComPortServer();

    // Takes bytes from the network; the data bytes among them are appended
    // to `data`, the client's requests are queued for TakeRequest.
    void Receive(const std::uint8_t* bytes, std::size_t count, std::string& data);

    // The oldest request not yet taken; empty when there is none.
    std::optional<ComRequest> TakeRequest();

    // True once the client has said WILL COM-PORT-OPTION (or DO). Requests
    // are taken only from then on.
    bool ComPortAgreed() const;

    // Appends `count` data bytes to the outgoing bytes, each IAC doubled.
    void SendData(const std::uint8_t* bytes, std::size_t count);

    // Queues the answer to a request: the command plus kServerOffset with
    // `value` in four bytes for SetBaudRate and in one byte otherwise, or
    // with no value for FlowControlSuspend and FlowControlResume.
    void Answer(ComCommand request, std::uint32_t value);
    // Queues the answer to a Signature request; a text that does not fit
    // in kMaxSubnegotiation is cut.
    void AnswerSignature(std::string_view text);

    // Notifications: the modem lines and their changes, the line state
    // (errors and the rest), and asking the client to hold back its data
    // (Suspend) or to go on (Resume).
    void NotifyModemState(std::uint8_t state);
    void NotifyLineState(std::uint8_t state);
    void Suspend();
    void Resume();

    // Everything queued for the network since the last call, in order.
    std::string TakeOutgoing();

private:
    void OnComPort(std::string_view body);
    void SendCommand(std::uint8_t command, std::string_view value);

    TelnetSession telnet_;
    std::deque<ComRequest> requests_;
};

}  // namespace tarn::driver::remote
