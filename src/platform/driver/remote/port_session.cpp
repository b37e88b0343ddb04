// One client's session of a port server: the client's requests applied to
// the port, and the port's bytes and lines carried to the client.
#include "port_session.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <utility>

#include "com_port_server.h"
#include "com_port_values.h"
#include "comm_state.h"
#include "serial_driver.h"

namespace tarn::driver::remote {

namespace {

// The longest single wait of a session for the client; Cancel ends it
// sooner.
constexpr std::uint32_t kReceiveWaitMs = 60000;
// How often the pump looks at the modem lines when no byte arrives: a
// virtual port ends the wait at once for input, not for its lines.
constexpr std::uint32_t kLinesTickMs = 20;
// A write to the port that flow control holds longer is tried again, unless
// the session ends meanwhile.
constexpr std::uint32_t kWriteWaitMs = 1000;
constexpr std::size_t kPieceSize = 4096;

// NOTIFY-MODEMSTATE's change bits, below the lines themselves.
constexpr std::uint8_t kDeltaCts = 0x01;
constexpr std::uint8_t kDeltaDsr = 0x02;
constexpr std::uint8_t kRingEnded = 0x04;
constexpr std::uint8_t kDeltaDcd = 0x08;

template <typename WireValue>
std::uint32_t Wire(WireValue value) {
    return static_cast<std::uint32_t>(value);
}

std::uint8_t Changes(std::uint8_t before, std::uint8_t now) {
    const std::uint8_t changed = before ^ now;
    std::uint8_t bits = 0;
    if (changed & kModemCts) bits |= kDeltaCts;
    if (changed & kModemDsr) bits |= kDeltaDsr;
    if (changed & kModemDcd) bits |= kDeltaDcd;
    if ((before & kModemRing) && !(now & kModemRing)) bits |= kRingEnded;
    return bits;
}

// Flow control as SET-CONTROL tells it: the outbound setting (which sets
// both directions when changed) and the inbound one.
WireControl OutboundFlow(const DCB& dcb) {
    if (dcb.Flags & DCB_fOutxCtsFlow) return WireControl::FlowHardware;
    if (dcb.Flags & DCB_fOutX) return WireControl::FlowXonXoff;
    return WireControl::FlowNone;
}

WireControl InboundFlow(const DCB& dcb) {
    if (RtsControl(dcb) == RTS_CONTROL_HANDSHAKE) return WireControl::InboundFlowHardware;
    if (dcb.Flags & DCB_fInX) return WireControl::InboundFlowXonXoff;
    return WireControl::InboundFlowNone;
}

void SetInboundFlow(DCB& dcb, bool hardware, bool xonXoff) {
    dcb.Flags &= ~(DCB_fInX | DCB_fRtsControlMask);
    if (xonXoff) dcb.Flags |= DCB_fInX;
    dcb.Flags |= (hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE) << DCB_fRtsControlShift;
}

void SetFlow(DCB& dcb, WireControl flow) {
    const bool hardware = flow == WireControl::FlowHardware;
    const bool xonXoff = flow == WireControl::FlowXonXoff;
    dcb.Flags &= ~(DCB_fOutxCtsFlow | DCB_fOutX);
    if (hardware) dcb.Flags |= DCB_fOutxCtsFlow;
    if (xonXoff) dcb.Flags |= DCB_fOutX;
    SetInboundFlow(dcb, hardware, xonXoff);
}

}  // namespace

HANDLE OpenPortForClient(const std::string& name) {
    const HANDLE port = CreateFileA(DevicePath(name));
    if (port == INVALID_HANDLE_VALUE) return port;
    DCB dcb = DefaultDcb();
    dcb.Flags |= DTR_CONTROL_ENABLE << DCB_fDtrControlShift | RTS_CONTROL_ENABLE
                                                                  << DCB_fRtsControlShift;
    // The usual XON and XOFF, for the client's flow control to come: the
    // drivers of real ports refuse a block whose two are the same.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 1024;
    dcb.XoffLim = 1;
    const COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, kWriteWaitMs};
    // What an earlier client left in the port's queues is not this one's.
    if (!SetCommState(port, dcb) || !SetCommTimeouts(port, timeouts) ||
        !PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        CloseHandle(port);
        return INVALID_HANDLE_VALUE;
    }
    return port;
}

void PortSession::Run() {
    // Our negotiation goes first.
    if (Flush()) {
        pump_ = std::thread([this] { Pump(); });
        ServeClient();
    }
    Stop();
    if (pump_.joinable()) pump_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    // Closing the connection is what tells the client that the port went.
    client_.reset();
    CloseHandle(port_);
    ended_ = true;
}

void PortSession::Stop() {
    stop_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    client_->Cancel();
    CancelCommWaits(port_);
    resumed_.notify_all();
}

bool PortSession::Flush() {
    std::lock_guard<std::mutex> send(sendMutex_);
    std::string outgoing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outgoing = server_.TakeOutgoing();
    }
    return outgoing.empty() || client_->SendAll(outgoing.data(), outgoing.size());
}

void PortSession::ServeClient() {
    std::uint8_t buffer[kPieceSize];
    while (!stop_) {
        std::size_t got = 0;
        if (!client_->Receive(buffer, sizeof buffer, kReceiveWaitMs, got)) return;
        std::size_t at = 0;
        while (at < got) {
            // Data and requests reach the port in the order they came: the
            // data before a request is written before the request applies.
            std::string data;
            std::optional<ComRequest> request;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                while (at < got && !request) {
                    server_.Receive(buffer + at++, 1, data);
                    request = server_.TakeRequest();
                }
            }
            if (!WriteToPort(data)) return;
            if (request && !Apply(*request)) return;
        }
        // Sending the answers waits for the pump's send, and reading on for
        // the port: a client whose answers cannot leave, or whose device
        // holds the port back by flow control, is held back by TCP.
        if (!Flush() || !AwaitPortSent()) return;
    }
}

bool PortSession::AwaitPortSent() {
    while (!stop_) {
        {
            // A client that holds our data back must still be heard when it
            // lets it go.
            std::lock_guard<std::mutex> lock(mutex_);
            if (suspended_) return true;
        }
        if (DrainCommOutput(port_, kLinesTickMs)) return true;
        if (GetLastError() != ERROR_SEM_TIMEOUT) return false;
    }
    return false;
}

void PortSession::Pump() {
    std::optional<std::uint8_t> told;  // the lines as last notified
    std::uint8_t buffer[kPieceSize];
    while (!stop_) {
        bool suspended = false;
        {
            // Held back, the data waits in the port's queue; the lines are
            // still told.
            std::unique_lock<std::mutex> lock(mutex_);
            suspended = suspended_;
            if (suspended) {
                resumed_.wait_for(lock, std::chrono::milliseconds(kLinesTickMs),
                                  [this] { return stop_ || !suspended_; });
            }
        }
        if (!suspended && !WaitCommInput(port_, kLinesTickMs)) break;
        std::uint32_t status = 0;
        // A port without modem lines (a pseudo-terminal) has none to tell,
        // and its data still goes.
        const bool hasLines = GetCommModemStatus(port_, &status);
        if (!hasLines && !PortAlive()) break;
        std::uint32_t read = 0;
        if (!suspended) {
            const std::optional<std::uint32_t> waiting = InputWaiting(port_);
            if (!waiting) break;
            const auto count = std::min<std::uint32_t>(*waiting, kPieceSize);
            if (count > 0 && !ReadFile(port_, buffer, count, &read)) break;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // Once the protocol is agreed the client hears the lines, and
            // then each change that its mask asks for.
            const std::uint8_t lines = ModemLinesOnWire(status);
            const std::uint8_t changes = told ? Changes(*told, lines) : 0;
            if (hasLines && server_.ComPortAgreed() &&
                (!told || (((lines ^ *told) | changes) & modemMask_) != 0)) {
                server_.NotifyModemState(static_cast<std::uint8_t>((lines | changes) & modemMask_));
                told = lines;
            }
            if (read > 0) server_.SendData(buffer, read);
        }
        if (!Flush()) break;
    }
    // The port went, or the client: the session ends either way.
    Stop();
}

bool PortSession::WriteToPort(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        if (stop_) return false;
        std::uint32_t written = 0;
        if (!WriteFile(port_, data.data() + done, static_cast<std::uint32_t>(data.size() - done),
                       &written)) {
            return false;
        }
        done += written;
    }
    return true;
}

bool PortSession::PortAlive() const {
    DCB dcb{};
    return GetCommState(port_, dcb);
}

void PortSession::Answer(ComCommand command, std::uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    server_.Answer(command, value);
}

template <typename Change, typename InForce>
bool PortSession::ChangeSettings(ComCommand command, Change change, InForce inForce) {
    DCB dcb{};
    if (!GetCommState(port_, dcb)) return false;
    if (change(dcb)) {
        // The block also drives DTR and RTS; they stay as last set.
        dcb.Flags &= ~DCB_fDtrControlMask;
        dcb.Flags |= (dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE) << DCB_fDtrControlShift;
        if (RtsControl(dcb) != RTS_CONTROL_HANDSHAKE) {
            dcb.Flags &= ~DCB_fRtsControlMask;
            dcb.Flags |= (rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE) << DCB_fRtsControlShift;
        }
        // A refused setting leaves the one in force, which the answer tells.
        SetCommState(port_, dcb);
        if (!GetCommState(port_, dcb)) return false;
    }
    Answer(command, inForce(dcb));
    return true;
}

bool PortSession::DriveLine(std::uint32_t value, WireControl request, std::uint32_t setCode,
                            std::uint32_t clearCode, bool& state) {
    const std::uint32_t on = Wire(request) + 1;
    const std::uint32_t off = Wire(request) + 2;
    if (value == on || value == off) {
        if (EscapeCommFunction(port_, value == on ? setCode : clearCode)) {
            state = value == on;
        } else if (!PortAlive()) {
            return false;
        }
    }
    Answer(ComCommand::SetControl, state ? on : off);
    return true;
}

bool PortSession::Control(std::uint32_t value) {
    using C = ComCommand;
    if (value <= Wire(WireControl::FlowHardware)) {
        return ChangeSettings(
            C::SetControl,
            [&](DCB& dcb) {
                if (value != Wire(WireControl::RequestFlow)) SetFlow(dcb, WireControl(value));
                return value != Wire(WireControl::RequestFlow);
            },
            [](const DCB& dcb) { return Wire(OutboundFlow(dcb)); });
    }
    if (value <= Wire(WireControl::BreakOff)) {
        return DriveLine(value, WireControl::RequestBreak, SETBREAK, CLRBREAK, break_);
    }
    if (value <= Wire(WireControl::DtrOff)) {
        return DriveLine(value, WireControl::RequestDtr, SETDTR, CLRDTR, dtr_);
    }
    if (value <= Wire(WireControl::RtsOff)) {
        return DriveLine(value, WireControl::RequestRts, SETRTS, CLRRTS, rts_);
    }
    if (value <= Wire(WireControl::InboundFlowHardware)) {
        return ChangeSettings(
            C::SetControl,
            [&](DCB& dcb) {
                if (value == Wire(WireControl::RequestInboundFlow)) return false;
                SetInboundFlow(dcb, value == Wire(WireControl::InboundFlowHardware),
                               value == Wire(WireControl::InboundFlowXonXoff));
                return true;
            },
            [](const DCB& dcb) { return Wire(InboundFlow(dcb)); });
    }
    return true;  // no such control: left unanswered
}

// Carries out one request of the client: one case a command, each short,
// so the switch is as long as the list of commands.
bool PortSession::Apply(const ComRequest& request) {
    using C = ComCommand;
    const std::uint32_t value = request.value;
    switch (request.command) {
        case C::Signature:
            // A text is the client's own signature; an empty one asks for ours.
            if (request.text.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                server_.AnswerSignature(signature_);
            }
            return true;
        case C::SetBaudRate:
            return ChangeSettings(
                request.command,
                [&](DCB& dcb) {
                    if (value != 0) dcb.BaudRate = value;
                    return value != 0;
                },
                [](const DCB& dcb) { return dcb.BaudRate; });
        case C::SetDataSize:
            return ChangeSettings(
                request.command,
                [&](DCB& dcb) {
                    if (value >= 5 && value <= 8) dcb.ByteSize = static_cast<std::uint8_t>(value);
                    return value >= 5 && value <= 8;
                },
                [](const DCB& dcb) { return std::uint32_t{dcb.ByteSize}; });
        case C::SetParity:
            return ChangeSettings(
                request.command,
                [&](DCB& dcb) {
                    const std::optional<std::uint8_t> parity = ParityFromWire(value);
                    if (parity) dcb.Parity = *parity;
                    return parity.has_value();
                },
                [](const DCB& dcb) { return Wire(ParityOnWire(dcb.Parity)); });
        case C::SetStopSize:
            return ChangeSettings(
                request.command,
                [&](DCB& dcb) {
                    const std::optional<std::uint8_t> stopBits = StopBitsFromWire(value);
                    if (stopBits) dcb.StopBits = *stopBits;
                    return stopBits.has_value();
                },
                [](const DCB& dcb) { return Wire(StopSizeOnWire(dcb.StopBits)); });
        case C::SetControl:
            return Control(value);
        case C::SetLineStateMask:
            // A virtual port has no line errors to tell; the mask is kept
            // as asked all the same.
            Answer(request.command, value);
            return true;
        case C::SetModemStateMask: {
            std::lock_guard<std::mutex> lock(mutex_);
            modemMask_ = static_cast<std::uint8_t>(value);
            server_.Answer(request.command, value);
            return true;
        }
        case C::PurgeData: {
            // Our receive buffer is the port's input, bound for the client;
            // our transmit buffer is its output.
            const std::uint32_t flags =
                (value & 1 ? PURGE_RXCLEAR : 0) | (value & 2 ? PURGE_TXCLEAR : 0);
            if (flags == 0) return true;
            if (!PurgeComm(port_, flags) && !PortAlive()) return false;
            Answer(request.command, value);
            return true;
        }
        case C::FlowControlSuspend:
        case C::FlowControlResume: {
            std::lock_guard<std::mutex> lock(mutex_);
            suspended_ = request.command == C::FlowControlSuspend;
            resumed_.notify_all();
            return true;
        }
        case C::NotifyLineState:
        case C::NotifyModemState:
            break;  // the server's own, never queued as a request
    }
    return true;
}

}  // namespace tarn::driver::remote
