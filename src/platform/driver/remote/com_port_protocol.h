// The protocol of a serial port reached over the network: Telnet (RFC 854)
// with the options BINARY (0), SUPPRESS-GO-AHEAD (3) and COM-PORT-OPTION
// (44, RFC 2217). This part knows no sockets, threads or clocks: bytes from
// the network are fed in, in pieces of any size down to one byte, and what
// they mean comes out as data bytes and as a changed state; requests are
// turned into bytes for the network. The remote device (remote_device.cpp)
// and the demo server of tarnterm put a connection and a clock around it.
//
// Nothing from the network is trusted: every length is bounded, a
// sub-negotiation that runs on past kMaxSubnegotiation bytes is dropped,
// unknown commands and options are refused or ignored as Telnet says, and
// no input makes the state grow. Not thread-safe; the owner serialises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "telnet_session.h"

namespace tarn::driver::remote {

// Telnet bytes.
inline constexpr std::uint8_t kIAC = 255;
inline constexpr std::uint8_t kDONT = 254;
inline constexpr std::uint8_t kDO = 253;
inline constexpr std::uint8_t kWONT = 252;
inline constexpr std::uint8_t kWILL = 251;
inline constexpr std::uint8_t kSB = 250;
inline constexpr std::uint8_t kSE = 240;
inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;

// The longest sub-negotiation kept, after IAC doubling is undone. The
// longest the protocol defines is a signature text; anything longer is
// dropped whole.
inline constexpr std::size_t kMaxSubnegotiation = 256;

// COM-PORT-OPTION commands as a client sends them; a server answers with
// the same command plus kServerOffset.
enum class ComCommand : std::uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Values of SET-PARITY, SET-STOPSIZE and PURGE-DATA on the wire.
enum class WireParity : std::uint8_t {
    Request = 0,
    None = 1,
    Odd = 2,
    Even = 3,
    Mark = 4,
    Space = 5
};
enum class WireStopSize : std::uint8_t { Request = 0, One = 1, Two = 2, OneAndHalf = 3 };
enum class WirePurge : std::uint8_t { Receive = 1, Transmit = 2, Both = 3 };

// Values of SET-CONTROL.
enum class WireControl : std::uint8_t {
    RequestFlow = 0,
    FlowNone = 1,
    FlowXonXoff = 2,
    FlowHardware = 3,
    RequestBreak = 4,
    BreakOn = 5,
    BreakOff = 6,
    RequestDtr = 7,
    DtrOn = 8,
    DtrOff = 9,
    RequestRts = 10,
    RtsOn = 11,
    RtsOff = 12,
    RequestInboundFlow = 13,
    InboundFlowNone = 14,
    InboundFlowXonXoff = 15,
    InboundFlowHardware = 16,
};

// NOTIFY-MODEMSTATE bits (the top four are the lines; the bottom four
// their changes) and NOTIFY-LINESTATE bits.
inline constexpr std::uint8_t kModemDcd = 0x80;
inline constexpr std::uint8_t kModemRing = 0x40;
inline constexpr std::uint8_t kModemDsr = 0x20;
inline constexpr std::uint8_t kModemCts = 0x10;
inline constexpr std::uint8_t kLineTimeout = 0x80;
inline constexpr std::uint8_t kLineShiftRegisterEmpty = 0x40;
inline constexpr std::uint8_t kLineHoldingRegisterEmpty = 0x20;
inline constexpr std::uint8_t kLineBreak = 0x10;
inline constexpr std::uint8_t kLineFraming = 0x08;
inline constexpr std::uint8_t kLineParity = 0x04;
inline constexpr std::uint8_t kLineOverrun = 0x02;
inline constexpr std::uint8_t kLineDataReady = 0x01;

// What the server last said of one setting: nothing yet (no answer since the
// last request), or the value it answered with. A server answers a request
// with the value now in force, which need not be the one asked for.
struct Answer {
    bool answered = false;
    std::uint32_t value = 0;
};

// The client end: what the component's remote device speaks.
class ComPortClient {
public:
    // Queues the opening negotiation: WILL and DO BINARY, WILL and DO
    // SUPPRESS-GO-AHEAD, WILL COM-PORT-OPTION.
    ComPortClient();

    // Takes bytes from the network. The data bytes among them (IAC IAC
    // undone, commands and sub-negotiations removed) are appended to
    // `data`; answers to the server's negotiation are queued for
    // TakeOutgoing; what the server says of the port changes the state
    // below. A command cut anywhere between two calls is taken up where it
    // was cut.
    void Receive(const std::uint8_t* bytes, std::size_t count, std::string& data);

    // Appends `count` data bytes to the outgoing bytes, each IAC doubled.
    void SendData(const std::uint8_t* bytes, std::size_t count);

    // Requests. Each queues its sub-negotiation and clears the matching
    // Answer, so that the owner can wait for the server's answer to it.
    void RequestBaudRate(std::uint32_t baud);
    void RequestDataSize(std::uint8_t bits);
    void RequestParity(WireParity parity);
    void RequestStopSize(WireStopSize stop);
    void RequestControl(WireControl value);
    void RequestPurge(WirePurge which);
    void RequestLineStateMask(std::uint8_t mask);
    void RequestModemStateMask(std::uint8_t mask);

    // Everything queued for the network since the last call, in order.
    std::string TakeOutgoing();

    // The server's answers since the matching request. Control answers are
    // kept apart by the group the value belongs to (flow, break, DTR, RTS,
    // inbound flow), since a server answers each group on its own.
    Answer BaudRate() const;
    Answer DataSize() const;
    Answer Parity() const;
    Answer StopSize() const;
    Answer Flow() const;
    Answer Break() const;
    Answer Dtr() const;
    Answer Rts() const;
    Answer InboundFlow() const;
    Answer Purge() const;
    // How many data bytes the Receive that took the purge's answer appended
    // to its `data` before the answer: the part of its bytes sent before.
    std::size_t DataBeforePurgeAnswer() const { return dataBeforePurgeAnswer_; }

    // True once the server has said DO COM-PORT-OPTION (or WILL, which some
    // servers send instead); false while it has not, and for good once it
    // has said DONT.
    bool ComPortAgreed() const;
    bool ComPortRefused() const;
    // The last NOTIFY-MODEMSTATE, all eight bits; empty until the first.
    std::optional<std::uint8_t> ModemState() const;
    // The line error bits (break, framing, parity, overrun) of every
    // NOTIFY-LINESTATE since the last call, or-ed together; cleared by it.
    std::uint8_t TakeLineErrors();
    // True between the server's FLOWCONTROL-SUSPEND and -RESUME: the owner
    // holds back data (but not requests) meanwhile.
    bool SendingSuspended() const;

private:
    // Takes a COM-PORT-OPTION sub-negotiation from the server.
    void OnComPort(std::string_view body);
    void SendRequest(ComCommand command, std::string_view value);
    // The Answer that a control value belongs to; null for no known group.
    Answer* ControlGroup(std::uint8_t value);

    TelnetSession telnet_;
    Answer baudRate_;
    Answer dataSize_;
    Answer parity_;
    Answer stopSize_;
    Answer flow_;
    Answer break_;
    Answer dtr_;
    Answer rts_;
    Answer inboundFlow_;
    Answer purge_;
    std::size_t dataBeforePurgeAnswer_ = 0;
    bool comPortRefused_ = false;
    std::optional<std::uint8_t> modemState_;
    std::uint8_t lineErrors_ = 0;
    bool sendingSuspended_ = false;
};

}  // namespace tarn::driver::remote
