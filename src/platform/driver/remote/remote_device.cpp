// The remote device's connection: opening and negotiation, the reader
// thread, the outgoing bytes, the end of the connection, and the line
// settings and modem lines, which travel as COM-PORT-OPTION requests.
// Reading and writing are in remote_device_io.cpp.
#include "remote_device.h"

#include <utility>

#include "com_port_values.h"
#include "comm_state.h"
#include "device_path.h"
#include "remote_port_list.h"

namespace tarn::driver {

std::shared_ptr<SerialDevice> OpenRemoteDevice(const std::string& path, bool& isRemote) {
    isRemote = false;
    if (!HasDevicePrefix(path)) return nullptr;
    const std::string name = StripDevicePrefix(path);
    if (!remote::HasUrlShape(name)) return nullptr;
    // No port of the system is named like an address, so a name of that
    // shape that spells no address we know is malformed, not missing.
    isRemote = true;
    const std::optional<remote::RemoteAddress> address = remote::ParseRemoteAddress(name);
    if (!address) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return remote::RemoteDevice::Open(*address, name);
}

namespace remote {

namespace {

constexpr std::uint8_t kLineErrorBits = kLineBreak | kLineFraming | kLineParity | kLineOverrun;
constexpr std::uint8_t kModemLineBits = kModemDcd | kModemRing | kModemDsr | kModemCts;
// The reader's longest wait in one Receive; Cancel ends it sooner.
constexpr std::uint32_t kReceiveWaitMs = 60000;
constexpr std::size_t kReceiveChunk = 4096;

bool Fail(std::uint32_t error) {
    SetLastError(error);
    return false;
}

// The device control block's flow control as SET-CONTROL says it. The
// protocol has one setting for both directions.
WireControl FlowOnWire(const DCB& dcb) {
    if ((dcb.Flags & DCB_fOutxCtsFlow) != 0 || RtsControl(dcb) == RTS_CONTROL_HANDSHAKE) {
        return WireControl::FlowHardware;
    }
    if ((dcb.Flags & (DCB_fOutX | DCB_fInX)) != 0) return WireControl::FlowXonXoff;
    return WireControl::FlowNone;
}

}  // namespace

std::shared_ptr<SerialDevice> RemoteDevice::Open(const RemoteAddress& address,
                                                 const std::string& name) {
    const unsigned number = ClaimRemotePort(name);
    if (number == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::unique_ptr<host::TcpConnection> connection =
        host::ConnectTcp(address.host, address.port, kConnectTimeoutMs);
    if (!connection) {
        const std::uint32_t error = GetLastError();
        UnlistRemotePort(number);
        SetLastError(error);
        return nullptr;
    }
    auto device = std::make_shared<RemoteDevice>(std::move(connection),
                                                 address.protocol == RemoteProtocol::ComPort);
    device->listedNumber_ = number;
    if (!device->Start()) {
        const std::uint32_t error = GetLastError();
        device.reset();  // releases the claim
        SetLastError(error);
        return nullptr;
    }
    return device;
}

RemoteDevice::RemoteDevice(std::unique_ptr<host::TcpConnection> connection, bool telnet)
    : connection_(std::move(connection)), telnet_(telnet), dcb_(DefaultDcb()) {}

RemoteDevice::~RemoteDevice() { Released(); }

bool RemoteDevice::Start() {
    reader_ = std::thread([this] { ReadLoop(); });
    if (telnet_) {
        if (!FlushOutgoing(true)) return OpeningFailed();
        Lock lock(mutex_);
        WaitUntil(lock, Clock::now() + std::chrono::milliseconds(kNegotiationTimeoutMs),
                  [this] { return client_.ComPortAgreed() || client_.ComPortRefused(); });
        if (!Usable()) {
            // OpeningFailed takes the lock itself.
            lock.unlock();
            return OpeningFailed();
        }
        // A server that never answered is served as plain Telnet: the data
        // still passes, escaped, without line settings or modem lines.
        comPort_ = client_.ComPortAgreed();
        if (comPort_) {
            client_.RequestModemStateMask(0xFF);
            client_.RequestLineStateMask(kLineErrorBits);
            lock.unlock();
            if (!FlushOutgoing(true)) return OpeningFailed();
        }
    }
    ListRemotePort(listedNumber_);
    return true;
}

bool RemoteDevice::OpeningFailed() {
    std::lock_guard<std::mutex> lock(mutex_);
    // What broke the connection says more to the one opening than "gone".
    return Fail(dropError_ != ERROR_SUCCESS ? dropError_ : kDeviceGoneError);
}

void RemoteDevice::ReadLoop() {
    ReadUntilEnd();
    std::lock_guard<std::mutex> lock(mutex_);
    readerEnded_ = true;
    changed_.notify_all();
}

void RemoteDevice::ReadUntilEnd() {
    std::uint8_t buffer[kReceiveChunk];
    for (;;) {
        std::size_t room = 0;
        bool closing = false;
        {
            // A full queue stops the reading, and the server's sends wait
            // in TCP until the application reads.
            Lock lock(mutex_);
            if (input_.size() >= inputLimit_) ++readerStalls_;
            changed_.wait(lock, [this] { return !Usable() || input_.size() < inputLimit_; });
            if (gone_) return;
            // While closing, what the server sends is read and thrown away,
            // so that the connection holds nothing unread when it drops.
            closing = released_;
            // The data bytes of a piece are never more than its bytes, so
            // the queue never grows past its limit.
            room = closing ? kReceiveChunk : std::min(kReceiveChunk, inputLimit_ - input_.size());
        }
        std::size_t got = 0;
        if (!connection_->Receive(buffer, room, kReceiveWaitMs, got)) {
            const std::uint32_t error = GetLastError();
            {
                // The server's end of the stream is what closing waits for.
                std::lock_guard<std::mutex> lock(mutex_);
                if (released_) return;
            }
            MarkGone(error);
            return;
        }
        if (got == 0 || closing) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            TakeFromServer(buffer, got);
        }
        // Answers to the server's negotiation go out now, unless a sender
        // is busy, which then sends them after its own bytes. One that
        // fails because the port closed meanwhile leaves the reading to go
        // on for the closing.
        if (telnet_ && !FlushOutgoing(false)) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (gone_) return;
        }
    }
}

void RemoteDevice::TakeFromServer(const std::uint8_t* bytes, std::size_t count) {
    if (!telnet_) {
        input_.append(reinterpret_cast<const char*>(bytes), count);
    } else {
        const bool purgeAwaited = !client_.Purge().answered;
        const std::uint64_t inputEnd = inputTaken_ + input_.size();
        client_.Receive(bytes, count, input_);
        if (purgeAwaited && client_.Purge().answered) {
            purgeAnswerAt_ = inputEnd + client_.DataBeforePurgeAnswer();
        }
        lineErrors_ |= client_.TakeLineErrors() & kLineErrorBits;
        const std::optional<std::uint8_t> modem = client_.ModemState();
        // The lower bits say what changed since the last notification;
        // only the lines themselves count.
        if (modem && (!modemState_ || ((*modem ^ *modemState_) & kModemLineBits) != 0)) {
            ++modemChanges_;
        }
        modemState_ = modem;
    }
    changed_.notify_all();
}

bool RemoteDevice::SendUnsent(Deadline deadline) {
    if (unsent_.empty()) return true;
    std::size_t sent = 0;
    const bool sendable = connection_->Send(unsent_.data(), unsent_.size(), deadline, sent);
    const std::uint32_t error = GetLastError();
    unsent_.erase(0, sent);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unsentBytes_ = unsent_.size();
        changed_.notify_all();
    }
    if (sendable) return true;
    MarkGone(error);
    return false;
}

bool RemoteDevice::SendQueued(SendLock& send, Deadline deadline) {
    for (;;) {
        if (unsent_.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!Usable()) {
                send.unlock();
                return FailUnusable();
            }
            if (telnet_) unsent_ = client_.TakeOutgoing();
            unsentBytes_ = unsent_.size();
            // Let go while the queue is seen empty, so that bytes queued
            // after this look find either this sender still here or the
            // send lock free for their own.
            if (unsent_.empty()) {
                send.unlock();
                return true;
            }
        }
        if (!SendUnsent(deadline)) {
            send.unlock();
            std::lock_guard<std::mutex> lock(mutex_);
            return FailUnusable();
        }
        if (!unsent_.empty()) return true;  // the deadline passed
    }
}

bool RemoteDevice::FlushOutgoing(bool wait, Deadline deadline) {
    SendLock send(sendMutex_, std::defer_lock);
    if (wait) {
        send.lock();
    } else if (!send.try_lock()) {
        // Whoever sends now looks again before letting go, in SendQueued.
        return true;
    }
    return SendQueued(send, deadline);
}

void RemoteDevice::MarkGone(std::uint32_t error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_) return;
        gone_ = true;
        dropError_ = error;
        changed_.notify_all();
    }
    // Ends a send that waits for room on another thread.
    connection_->Cancel();
    UnlistRemotePort(listedNumber_);
}

void RemoteDevice::Released() {
    bool deliver = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (released_) return;
        released_ = true;
        changed_.notify_all();
        // The reader never drops the last reference itself, but a thread
        // cannot wait for itself if it ever did.
        deliver = !gone_ && reader_.joinable() && reader_.get_id() != std::this_thread::get_id();
    }
    if (deliver) CloseSending();
    connection_->Cancel();
    if (reader_.joinable()) {
        if (reader_.get_id() == std::this_thread::get_id()) {
            reader_.detach();
        } else {
            reader_.join();
        }
    }
    UnlistRemotePort(listedNumber_);
}

void RemoteDevice::CloseSending() {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kClosingMs);
    {
        // A write on another thread may hold the send lock until its own
        // time runs out; one that holds it longer loses its bytes.
        SendLock send(sendMutex_, std::defer_lock);
        if (!send.try_lock_until(deadline)) return;
        if (!SendUnsent(deadline) || !unsent_.empty()) return;
        if (!connection_->ShutDownSending()) return;
    }
    Lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return readerEnded_; });
}

bool RemoteDevice::Acknowledged() const {
    const std::optional<std::size_t> left = connection_->Unacknowledged();
    return !left || *left == 0;
}

bool RemoteDevice::FailUnusable() const {
    return Fail(released_ ? ERROR_INVALID_HANDLE : kDeviceGoneError);
}

// --- Settings -----------------------------------------------------------------

bool RemoteDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return FailUnusable();
    if (inQueue == 0 || outQueue == 0) return Fail(ERROR_INVALID_PARAMETER);
    // A queue that holds more than the new size keeps its bytes; the
    // reader waits until reads have taken it below.
    inputLimit_ = inQueue;
    changed_.notify_all();
    return true;
}

bool RemoteDevice::SetCommState(const DCB& dcb) {
    // A rate of 0 would ask the server for its rate instead of setting one.
    if (!IsWellFormedDcb(dcb) || dcb.BaudRate == 0) return Fail(ERROR_INVALID_PARAMETER);
    Lock lock(mutex_);
    if (!Usable()) return FailUnusable();
    if (!ComPortInForce()) {
        dcb_ = dcb;
        return true;
    }
    client_.RequestBaudRate(dcb.BaudRate);
    client_.RequestDataSize(dcb.ByteSize);
    client_.RequestParity(ParityOnWire(dcb.Parity));
    client_.RequestStopSize(StopSizeOnWire(dcb.StopBits));
    client_.RequestControl(FlowOnWire(dcb));
    // The lines' answers are not waited for: a server of a port without
    // modem lines never gives them, and the settings hold all the same.
    if (DtrControl(dcb) == DTR_CONTROL_ENABLE) client_.RequestControl(WireControl::DtrOn);
    if (DtrControl(dcb) == DTR_CONTROL_DISABLE) client_.RequestControl(WireControl::DtrOff);
    if (RtsControl(dcb) == RTS_CONTROL_ENABLE) client_.RequestControl(WireControl::RtsOn);
    if (RtsControl(dcb) == RTS_CONTROL_DISABLE) client_.RequestControl(WireControl::RtsOff);
    lock.unlock();
    if (!FlushOutgoing(true)) return false;
    lock.lock();
    WaitUntil(lock, Clock::now() + std::chrono::milliseconds(kSettingsAnswerTimeoutMs), [this] {
        return client_.BaudRate().answered && client_.DataSize().answered &&
               client_.Parity().answered && client_.StopSize().answered;
    });
    if (!Usable()) return FailUnusable();

    // A server answers with the value in force; another value than the one
    // asked for is a refusal, as a local driver refuses a rate it cannot
    // make. What the server did take is what GetCommState reports then. A
    // setting left unanswered is taken as set.
    DCB inForce = dcb;
    bool refused = false;
    const auto compare = [&](Answer answer, std::uint32_t asked, auto apply) {
        if (!answer.answered || answer.value == asked) return;
        refused = true;
        apply(answer.value);
    };
    compare(client_.BaudRate(), dcb.BaudRate, [&](std::uint32_t v) { inForce.BaudRate = v; });
    compare(client_.DataSize(), dcb.ByteSize,
            [&](std::uint32_t v) { inForce.ByteSize = static_cast<std::uint8_t>(v); });
    compare(client_.Parity(), static_cast<std::uint32_t>(ParityOnWire(dcb.Parity)),
            [&](std::uint32_t v) { inForce.Parity = ParityFromWire(v).value_or(inForce.Parity); });
    compare(client_.StopSize(), static_cast<std::uint32_t>(StopSizeOnWire(dcb.StopBits)),
            [&](std::uint32_t v) {
                inForce.StopBits = StopBitsFromWire(v).value_or(inForce.StopBits);
            });
    dcb_ = inForce;
    return !refused || Fail(ERROR_INVALID_PARAMETER);
}

bool RemoteDevice::GetCommState(DCB& dcb) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return FailUnusable();
    dcb = dcb_;
    return true;
}

bool RemoteDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return FailUnusable();
    timeouts_ = timeouts;
    return true;
}

bool RemoteDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return FailUnusable();
    timeouts = timeouts_;
    return true;
}

// --- Lines --------------------------------------------------------------------

bool RemoteDevice::DriveLine(Line line, WireControl value) {
    Lock lock(mutex_);
    if (!Usable()) return FailUnusable();
    // A line that never answered is one the server cannot drive; asking
    // again would only wait again.
    if (!ComPortInForce() || silentLine_[line]) return Fail(ERROR_NOT_SUPPORTED);
    client_.RequestControl(value);
    const unsigned stallsAtStart = readerStalls_;
    const bool fullAtStart = input_.size() >= inputLimit_;
    lock.unlock();
    if (!FlushOutgoing(true)) return false;
    lock.lock();
    const auto answer = [this, line] {
        return line == kDtr ? client_.Dtr() : line == kRts ? client_.Rts() : client_.Break();
    };
    const bool answered =
        WaitUntil(lock, Clock::now() + std::chrono::milliseconds(kLineAnswerTimeoutMs),
                  [&] { return answer().answered; });
    if (!Usable()) return FailUnusable();
    if (!answered) {
        // While the input queue was full the answer may be waiting unread
        // behind the data; only silence heard is taken for good.
        if (fullAtStart || readerStalls_ != stallsAtStart || input_.size() >= inputLimit_) {
            return Fail(ERROR_SEM_TIMEOUT);
        }
        silentLine_[line] = true;
        return Fail(ERROR_NOT_SUPPORTED);
    }
    // The server answers with the line's state now: another one than asked
    // for is a line it could not set.
    return answer().value == static_cast<std::uint32_t>(value) || Fail(ERROR_NOT_SUPPORTED);
}

bool RemoteDevice::EscapeCommFunction(std::uint32_t function) {
    switch (function) {
        case SETDTR:
            return DriveLine(kDtr, WireControl::DtrOn);
        case CLRDTR:
            return DriveLine(kDtr, WireControl::DtrOff);
        case SETRTS:
            return DriveLine(kRts, WireControl::RtsOn);
        case CLRRTS:
            return DriveLine(kRts, WireControl::RtsOff);
        case SETBREAK:
            return DriveLine(kBreak, WireControl::BreakOn);
        case CLRBREAK:
            return DriveLine(kBreak, WireControl::BreakOff);
        case SETXOFF:
        case SETXON: {
            // As a local driver does, these act on this end's sending only,
            // as if the far end had sent XOFF or XON: writes hold until
            // SETXON. The protocol's FLOWCONTROL-SUSPEND would instead stop
            // the server's sending to us, which is not what these ask.
            std::lock_guard<std::mutex> lock(mutex_);
            if (!Usable()) return FailUnusable();
            localXoff_ = function == SETXOFF;
            changed_.notify_all();
            return true;
        }
        default:
            return Fail(ERROR_INVALID_PARAMETER);
    }
}

bool RemoteDevice::GetCommModemStatus(std::uint32_t* status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return FailUnusable();
    // Without a notification the lines are unknown, which is not the same
    // as all off.
    if (!modemState_) return Fail(ERROR_NOT_SUPPORTED);
    if (status != nullptr) *status = ModemStatusFromWire(*modemState_);
    return true;
}

std::uint32_t RemoteDevice::CommWaitWakes() const {
    return COMMWAIT_INPUT | COMMWAIT_LINES | COMMWAIT_REMOVAL;
}

}  // namespace remote
}  // namespace tarn::driver
