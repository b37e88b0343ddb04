// The demo server: accepting clients, and one client's session between its
// connection and the port.
#include "demo_server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <utility>

#include "com_port_server.h"
#include "com_port_values.h"
#include "comm_state.h"
#include "serial_driver.h"

namespace tarnterm {

namespace drv = tarn::driver;
namespace rem = tarn::driver::remote;
using tarn::host::TcpConnection;

namespace {

// The longest single waits of the accept thread and of a session for the
// client; Cancel ends them sooner.
constexpr std::uint32_t kAcceptWaitMs = 60000;
constexpr std::uint32_t kReceiveWaitMs = 60000;
// How often the pump looks at the modem lines when no byte arrives: a
// virtual port ends the wait at once for input, not for its lines.
constexpr std::uint32_t kLinesTickMs = 20;
// A write to the port that flow control holds longer is tried again, unless
// the session ends meanwhile.
constexpr std::uint32_t kWriteWaitMs = 1000;
constexpr std::size_t kPieceSize = 4096;
constexpr char kSignature[] = "tarnterm demo instrument";

// NOTIFY-MODEMSTATE's change bits, below the lines themselves.
constexpr std::uint8_t kDeltaCts = 0x01;
constexpr std::uint8_t kDeltaDsr = 0x02;
constexpr std::uint8_t kRingEnded = 0x04;
constexpr std::uint8_t kDeltaDcd = 0x08;

using WireControl = rem::WireControl;

template <typename WireValue>
std::uint32_t Wire(WireValue value) {
    return static_cast<std::uint32_t>(value);
}

std::uint8_t Changes(std::uint8_t before, std::uint8_t now) {
    const std::uint8_t changed = before ^ now;
    std::uint8_t bits = 0;
    if (changed & rem::kModemCts) bits |= kDeltaCts;
    if (changed & rem::kModemDsr) bits |= kDeltaDsr;
    if (changed & rem::kModemDcd) bits |= kDeltaDcd;
    if ((before & rem::kModemRing) && !(now & rem::kModemRing)) bits |= kRingEnded;
    return bits;
}

// Flow control as SET-CONTROL tells it: the outbound setting (which sets
// both directions when changed) and the inbound one.
WireControl OutboundFlow(const drv::DCB& dcb) {
    if (dcb.Flags & drv::DCB_fOutxCtsFlow) return WireControl::FlowHardware;
    if (dcb.Flags & drv::DCB_fOutX) return WireControl::FlowXonXoff;
    return WireControl::FlowNone;
}

WireControl InboundFlow(const drv::DCB& dcb) {
    if (drv::RtsControl(dcb) == drv::RTS_CONTROL_HANDSHAKE) return WireControl::InboundFlowHardware;
    if (dcb.Flags & drv::DCB_fInX) return WireControl::InboundFlowXonXoff;
    return WireControl::InboundFlowNone;
}

void SetInboundFlow(drv::DCB& dcb, bool hardware, bool xonXoff) {
    dcb.Flags &= ~(drv::DCB_fInX | drv::DCB_fRtsControlMask);
    if (xonXoff) dcb.Flags |= drv::DCB_fInX;
    dcb.Flags |= (hardware ? drv::RTS_CONTROL_HANDSHAKE : drv::RTS_CONTROL_ENABLE)
                 << drv::DCB_fRtsControlShift;
}

void SetFlow(drv::DCB& dcb, WireControl flow) {
    const bool hardware = flow == WireControl::FlowHardware;
    const bool xonXoff = flow == WireControl::FlowXonXoff;
    dcb.Flags &= ~(drv::DCB_fOutxCtsFlow | drv::DCB_fOutX);
    if (hardware) dcb.Flags |= drv::DCB_fOutxCtsFlow;
    if (xonXoff) dcb.Flags |= drv::DCB_fOutX;
    SetInboundFlow(dcb, hardware, xonXoff);
}

// Opens the port for a client as a UART's driver does: 9600 8N1 with DTR
// and RTS raised, until the client's settings come. Reads take what waits,
// at once; the pump does the waiting.
drv::HANDLE OpenPort(const std::string& name) {
    const drv::HANDLE port = drv::CreateFileA(drv::DevicePath(name));
    if (port == drv::INVALID_HANDLE_VALUE) return port;
    drv::DCB dcb = drv::DefaultDcb();
    dcb.Flags |= drv::DTR_CONTROL_ENABLE << drv::DCB_fDtrControlShift |
                 drv::RTS_CONTROL_ENABLE << drv::DCB_fRtsControlShift;
    const drv::COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, kWriteWaitMs};
    // What an earlier client left in the port's queues is not this one's.
    if (!drv::SetCommState(port, dcb) || !drv::SetCommTimeouts(port, timeouts) ||
        !drv::PurgeComm(port, drv::PURGE_RXCLEAR | drv::PURGE_TXCLEAR)) {
        drv::CloseHandle(port);
        return drv::INVALID_HANDLE_VALUE;
    }
    return port;
}

}  // namespace

class DemoSession {
public:
    DemoSession(std::unique_ptr<TcpConnection> client, drv::HANDLE port)
        : client_(std::move(client)), port_(port) {}

    // Serves the client until it goes, the port goes or Stop; then closes
    // both. The session thread.
    void Run();
    // Ends the session soon. Any thread.
    void Stop();
    // Run has returned. Any thread.
    bool Ended() const { return ended_; }

private:
    // The session thread's part: what the client sends.
    void ServeClient();
    // The pump thread: what the port receives, and its lines.
    void Pump();
    // Sends what the protocol has queued. Neither lock may be held.
    bool Flush();
    bool WriteToPort(const std::string& data);
    // Waits until the port has sent what it was given, unless the client
    // holds our data back. False when the port has gone or the session ends.
    bool AwaitPortSent();
    // Applies a request and queues its answer. False when the port has
    // gone. The session thread.
    bool Apply(const rem::ComRequest& request);
    bool Control(std::uint32_t value);
    // Changes the settings when `change` says so and answers `command` with
    // what `inForce` reads from the settings then in force.
    template <typename Change, typename InForce>
    bool ChangeSettings(rem::ComCommand command, Change change, InForce inForce);
    // DTR, RTS or break: `request` is the group's request value, followed
    // by its on and off values.
    bool DriveLine(std::uint32_t value, WireControl request, std::uint32_t setCode,
                   std::uint32_t clearCode, bool& state);
    void Answer(rem::ComCommand command, std::uint32_t value);
    bool PortAlive() const;

    std::unique_ptr<TcpConnection> client_;  // reset by Run, once closed_ is set
    const drv::HANDLE port_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::thread pump_;

    std::mutex sendMutex_;  // orders the sends to the client; taken before mutex_
    std::mutex mutex_;
    std::condition_variable resumed_;
    rem::ComPortServer server_;      // guarded by mutex_
    bool suspended_ = false;         // guarded by mutex_: the client holds our data back
    std::uint8_t modemMask_ = 0xFF;  // guarded by mutex_
    bool closed_ = false;            // guarded by mutex_: the client and port are closed

    // The output lines as set; the session thread's own.
    bool dtr_ = true;
    bool rts_ = true;
    bool break_ = false;
};

void DemoSession::Run() {
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
    drv::CloseHandle(port_);
    ended_ = true;
}

void DemoSession::Stop() {
    stop_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    client_->Cancel();
    drv::CancelCommWaits(port_);
    resumed_.notify_all();
}

bool DemoSession::Flush() {
    std::lock_guard<std::mutex> send(sendMutex_);
    std::string outgoing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outgoing = server_.TakeOutgoing();
    }
    return outgoing.empty() || client_->SendAll(outgoing.data(), outgoing.size());
}

void DemoSession::ServeClient() {
    std::uint8_t buffer[kPieceSize];
    while (!stop_) {
        std::size_t got = 0;
        if (!client_->Receive(buffer, sizeof buffer, kReceiveWaitMs, got)) return;
        std::size_t at = 0;
        while (at < got) {
            // Data and requests reach the port in the order they came: the
            // data before a request is written before the request applies.
            std::string data;
            std::optional<rem::ComRequest> request;
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

bool DemoSession::AwaitPortSent() {
    while (!stop_) {
        {
            // A client that holds our data back must still be heard when it
            // lets it go.
            std::lock_guard<std::mutex> lock(mutex_);
            if (suspended_) return true;
        }
        if (drv::DrainCommOutput(port_, kLinesTickMs)) return true;
        if (drv::GetLastError() != drv::ERROR_SEM_TIMEOUT) return false;
    }
    return false;
}

void DemoSession::Pump() {
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
        if (!suspended && !drv::WaitCommInput(port_, kLinesTickMs)) break;
        std::uint32_t status = 0;
        if (!drv::GetCommModemStatus(port_, &status)) break;
        std::uint32_t read = 0;
        if (!suspended) {
            const std::optional<std::uint32_t> waiting = drv::InputWaiting(port_);
            if (!waiting) break;
            const auto count = std::min<std::uint32_t>(*waiting, kPieceSize);
            if (count > 0 && !drv::ReadFile(port_, buffer, count, &read)) break;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // Once the protocol is agreed the client hears the lines, and
            // then each change that its mask asks for.
            const std::uint8_t lines = rem::ModemLinesOnWire(status);
            const std::uint8_t changes = told ? Changes(*told, lines) : 0;
            if (server_.ComPortAgreed() &&
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

bool DemoSession::WriteToPort(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        if (stop_) return false;
        std::uint32_t written = 0;
        if (!drv::WriteFile(port_, data.data() + done,
                            static_cast<std::uint32_t>(data.size() - done), &written)) {
            return false;
        }
        done += written;
    }
    return true;
}

bool DemoSession::PortAlive() const {
    drv::DCB dcb{};
    return drv::GetCommState(port_, dcb);
}

void DemoSession::Answer(rem::ComCommand command, std::uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    server_.Answer(command, value);
}

template <typename Change, typename InForce>
bool DemoSession::ChangeSettings(rem::ComCommand command, Change change, InForce inForce) {
    drv::DCB dcb{};
    if (!drv::GetCommState(port_, dcb)) return false;
    if (change(dcb)) {
        // The block also drives DTR and RTS; they stay as last set.
        dcb.Flags &= ~drv::DCB_fDtrControlMask;
        dcb.Flags |= (dtr_ ? drv::DTR_CONTROL_ENABLE : drv::DTR_CONTROL_DISABLE)
                     << drv::DCB_fDtrControlShift;
        if (drv::RtsControl(dcb) != drv::RTS_CONTROL_HANDSHAKE) {
            dcb.Flags &= ~drv::DCB_fRtsControlMask;
            dcb.Flags |= (rts_ ? drv::RTS_CONTROL_ENABLE : drv::RTS_CONTROL_DISABLE)
                         << drv::DCB_fRtsControlShift;
        }
        // A refused setting leaves the one in force, which the answer tells.
        drv::SetCommState(port_, dcb);
        if (!drv::GetCommState(port_, dcb)) return false;
    }
    Answer(command, inForce(dcb));
    return true;
}

bool DemoSession::DriveLine(std::uint32_t value, WireControl request, std::uint32_t setCode,
                            std::uint32_t clearCode, bool& state) {
    const std::uint32_t on = Wire(request) + 1;
    const std::uint32_t off = Wire(request) + 2;
    if (value == on || value == off) {
        if (drv::EscapeCommFunction(port_, value == on ? setCode : clearCode)) {
            state = value == on;
        } else if (!PortAlive()) {
            return false;
        }
    }
    Answer(rem::ComCommand::SetControl, state ? on : off);
    return true;
}

bool DemoSession::Control(std::uint32_t value) {
    using C = rem::ComCommand;
    if (value <= Wire(WireControl::FlowHardware)) {
        return ChangeSettings(
            C::SetControl,
            [&](drv::DCB& dcb) {
                if (value != Wire(WireControl::RequestFlow)) SetFlow(dcb, WireControl(value));
                return value != Wire(WireControl::RequestFlow);
            },
            [](const drv::DCB& dcb) { return Wire(OutboundFlow(dcb)); });
    }
    if (value <= Wire(WireControl::BreakOff)) {
        return DriveLine(value, WireControl::RequestBreak, drv::SETBREAK, drv::CLRBREAK, break_);
    }
    if (value <= Wire(WireControl::DtrOff)) {
        return DriveLine(value, WireControl::RequestDtr, drv::SETDTR, drv::CLRDTR, dtr_);
    }
    if (value <= Wire(WireControl::RtsOff)) {
        return DriveLine(value, WireControl::RequestRts, drv::SETRTS, drv::CLRRTS, rts_);
    }
    if (value <= Wire(WireControl::InboundFlowHardware)) {
        return ChangeSettings(
            C::SetControl,
            [&](drv::DCB& dcb) {
                if (value == Wire(WireControl::RequestInboundFlow)) return false;
                SetInboundFlow(dcb, value == Wire(WireControl::InboundFlowHardware),
                               value == Wire(WireControl::InboundFlowXonXoff));
                return true;
            },
            [](const drv::DCB& dcb) { return Wire(InboundFlow(dcb)); });
    }
    return true;  // no such control: left unanswered
}

// Carries out one request of the client: one case a command, each short,
// so the switch is as long as the list of commands.
bool DemoSession::Apply(const rem::ComRequest& request) {
    using C = rem::ComCommand;
    const std::uint32_t value = request.value;
    switch (request.command) {
        case C::Signature:
            // A text is the client's own signature; an empty one asks for ours.
            if (request.text.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                server_.AnswerSignature(kSignature);
            }
            return true;
        case C::SetBaudRate:
            return ChangeSettings(
                request.command,
                [&](drv::DCB& dcb) {
                    if (value != 0) dcb.BaudRate = value;
                    return value != 0;
                },
                [](const drv::DCB& dcb) { return dcb.BaudRate; });
        case C::SetDataSize:
            return ChangeSettings(
                request.command,
                [&](drv::DCB& dcb) {
                    if (value >= 5 && value <= 8) dcb.ByteSize = static_cast<std::uint8_t>(value);
                    return value >= 5 && value <= 8;
                },
                [](const drv::DCB& dcb) { return std::uint32_t{dcb.ByteSize}; });
        case C::SetParity:
            return ChangeSettings(
                request.command,
                [&](drv::DCB& dcb) {
                    const std::optional<std::uint8_t> parity = rem::ParityFromWire(value);
                    if (parity) dcb.Parity = *parity;
                    return parity.has_value();
                },
                [](const drv::DCB& dcb) { return Wire(rem::ParityOnWire(dcb.Parity)); });
        case C::SetStopSize:
            return ChangeSettings(
                request.command,
                [&](drv::DCB& dcb) {
                    const std::optional<std::uint8_t> stopBits = rem::StopBitsFromWire(value);
                    if (stopBits) dcb.StopBits = *stopBits;
                    return stopBits.has_value();
                },
                [](const drv::DCB& dcb) { return Wire(rem::StopSizeOnWire(dcb.StopBits)); });
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
                (value & 1 ? drv::PURGE_RXCLEAR : 0) | (value & 2 ? drv::PURGE_TXCLEAR : 0);
            if (flags == 0) return true;
            if (!drv::PurgeComm(port_, flags) && !PortAlive()) return false;
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

// --- The server ---------------------------------------------------------------

std::unique_ptr<DemoServer> DemoServer::Start(const std::string& portName,
                                              const std::string& address, std::uint16_t port) {
    std::unique_ptr<tarn::host::TcpListener> listener = tarn::host::ListenTcp(address, port);
    if (!listener) return nullptr;
    std::unique_ptr<DemoServer> server(new DemoServer(portName, std::move(listener)));
    server->acceptThread_ = std::thread([s = server.get()] { s->AcceptClients(); });
    return server;
}

DemoServer::DemoServer(std::string portName, std::unique_ptr<tarn::host::TcpListener> listener)
    : portName_(std::move(portName)), listener_(std::move(listener)) {}

DemoServer::~DemoServer() {
    stopping_ = true;
    listener_->Cancel();
    if (acceptThread_.joinable()) acceptThread_.join();
    // The accept thread has gone; nothing else starts or replaces a session.
    std::shared_ptr<DemoSession> session;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session = session_;
        thread = std::move(sessionThread_);
    }
    if (session) session->Stop();
    if (thread.joinable()) thread.join();
}

bool DemoServer::Serving() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return session_ && !session_->Ended();
}

void DemoServer::AcceptClients() {
    while (!stopping_) {
        // Null on a time-out, a failed accept, or Cancel, which stopping_
        // then tells.
        std::unique_ptr<TcpConnection> client = listener_->Accept(kAcceptWaitMs);
        if (!client) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        // One client at a time: a newcomer is closed, as it is while the
        // instrument is unplugged and its port cannot be opened.
        if (session_ && !session_->Ended()) continue;
        if (sessionThread_.joinable()) sessionThread_.join();
        const drv::HANDLE port = OpenPort(portName_);
        if (port == drv::INVALID_HANDLE_VALUE) continue;
        session_ = std::make_shared<DemoSession>(std::move(client), port);
        sessionThread_ = std::thread([session = session_] { session->Run(); });
    }
}

}  // namespace tarnterm
