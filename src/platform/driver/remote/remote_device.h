// A port on another machine, reached over TCP (remote_address.h names it):
// the device that the driver opens for "rfc2217://HOST:PORT" and
// "socket://HOST:PORT". It answers the driver calls as a local port does,
// from a connection and a thread of its own.
//
// Threads. One reader thread per connection takes what the server sends,
// feeds the protocol client, puts the data bytes into the input queue and
// sends the client's answers. It stops reading while the queue is full, so
// that TCP holds back a server that sends faster than the application
// reads, and memory stays bounded. The driver's calls come from any thread.
// Everything below is guarded by `mutex_`, except the connection's sends,
// which are ordered by `sendMutex_` (taken first when both are held).
//
// Writes wait for room in the connection within the write time-outs. A
// write whose time runs out while the connection has taken part of its
// bytes has taken them all: the rest waits in an output queue of its own,
// goes first, and until it has gone later writes take nothing. A drain
// waits until that queue is empty and, where the system tells (Linux), the
// server has acknowledged every byte.
//
// Closing delivers what was sent before it drops the connection: it sends
// the rest of the output queue, ends our sending (the server reads the end
// of the stream after the last byte), and reads on, throwing away what
// comes, until the server ends the connection or kClosingMs pass. Dropping
// a connection with unread bytes in it resets it, and a reset throws away
// what is still on its way to the server.
//
// A dropped connection (the server closed or reset it, or it failed) makes
// the device gone: every later call fails with kDeviceGoneError, as for a
// pulled USB adapter, waits end at once, and the port leaves the port list,
// so that the component's presence check finds it vanished.
//
// Without COM-PORT-OPTION (a server that refused or never agreed to it, or
// socket://) the line settings are kept here only, the modem lines cannot
// be read (ERROR_NOT_SUPPORTED) and the output lines cannot be driven.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "com_port_protocol.h"
#include "comm_wakes.h"
#include "host_socket.h"
#include "remote_address.h"
#include "send_turn.h"
#include "serial_device.h"

namespace tarn::driver::remote {

// How long an opening waits for the server to accept the connection.
inline constexpr std::uint32_t kConnectTimeoutMs = 5000;
// How long an opening waits for the server to agree to COM-PORT-OPTION or
// refuse it, before it goes on with plain Telnet.
inline constexpr std::uint32_t kNegotiationTimeoutMs = 2000;
// How long SetCommState waits for the answers to the line settings.
inline constexpr std::uint32_t kSettingsAnswerTimeoutMs = 2000;
// How long an output line's change, or a purge of the server's receive
// side, waits for its answer; a line that does not answer in this time is
// taken for one the server cannot drive, a server that does not answer a
// purge for one that never does.
inline constexpr std::uint32_t kLineAnswerTimeoutMs = 1000;
// How long closing waits for the server to take the last bytes and to end
// the connection after us, before it drops the connection.
inline constexpr std::uint32_t kClosingMs = 2000;

class RemoteDevice final : public SerialDevice {
public:
    // Connects to `address` and negotiates. Null with the last error set
    // (the connection's WSA error) on failure. `name` is the port name as
    // opened, for the port list.
    static std::shared_ptr<SerialDevice> Open(const RemoteAddress& address,
                                              const std::string& name);

    RemoteDevice(std::unique_ptr<host::TcpConnection> connection, bool telnet);
    ~RemoteDevice() override;
    RemoteDevice(const RemoteDevice&) = delete;
    RemoteDevice& operator=(const RemoteDevice&) = delete;

    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool SetCommState(const DCB& dcb) override;
    bool GetCommState(DCB& dcb) override;
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
    bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) override;
    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) override;
    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) override;
    bool PurgeComm(std::uint32_t flags) override;
    bool EscapeCommFunction(std::uint32_t function) override;
    bool GetCommModemStatus(std::uint32_t* status) override;
    bool WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) override;
    bool PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) override;
    bool DrainCommOutput(std::uint32_t milliseconds) override;
    std::uint32_t CommWaitWakes() const override;
    void CancelCommWaits() override;
    void WakeCommWaits() override;
    std::uint64_t CommWakesAsked() const override;
    void Released() override;

private:
    using Clock = std::chrono::steady_clock;
    using Lock = std::unique_lock<std::mutex>;
    using SendLock = std::unique_lock<SendTurn>;
    using Deadline = std::optional<Clock::time_point>;

    // The output lines that are driven one request at a time.
    enum Line { kDtr, kRts, kBreak, kLineCount };

    // Opening: starts the reader, sends the negotiation, waits for the
    // server's word on COM-PORT-OPTION and lists the port. False with the
    // last error set when the connection dropped meanwhile.
    bool Start();
    // Fails with what broke the connection, for the one opening it.
    bool OpeningFailed();
    void ReadLoop();
    // The reader's loop; returns when the connection dropped, or ended
    // while closing.
    void ReadUntilEnd();
    // Takes what the server sent. REQUIRES: mutex_ held.
    void TakeFromServer(const std::uint8_t* bytes, std::size_t count);
    // Sends the output queue (unsent_) until it is empty or `deadline`
    // passes. REQUIRES: sendMutex_ held. False with the last error set when
    // the connection dropped.
    bool SendUnsent(Deadline deadline);
    // Sends the output queue, then what the protocol client has queued, in
    // order, looking again before it lets go of `send`, so that what others
    // queue meanwhile goes too. Returns with `send` let go when everything
    // went, still held (and bytes in the queue) when `deadline` passed
    // first. False with the last error set when the connection dropped.
    bool SendQueued(SendLock& send, Deadline deadline);
    // SendQueued, by `deadline` (none: as long as it takes). `wait` false:
    // returns at once when another thread is sending, which then sends
    // these bytes as well. Neither lock may be held.
    bool FlushOutgoing(bool wait, Deadline deadline = std::nullopt);
    // Closing: sends what is left, ends our sending and waits for the
    // reader to see the server end the connection, within kClosingMs.
    void CloseSending();
    // The server has acknowledged everything sent, or the system does not
    // tell. REQUIRES: mutex_ held.
    bool Acknowledged() const;
    // The connection failed with `error`: the device is gone from now on.
    void MarkGone(std::uint32_t error);
    // Waits on `lock` until `done` holds, the device is gone or released, or
    // `deadline` passes. True when `done` holds.
    template <typename Done>
    bool WaitUntil(Lock& lock, Clock::time_point deadline, Done done) {
        changed_.wait_until(lock, deadline, [&] { return !Usable() || done(); });
        return Usable() && done();
    }
    // Sends a change of one output line and waits for its answer.
    bool DriveLine(Line line, remote::WireControl value);

    // REQUIRES: mutex_ held.
    bool Usable() const { return !gone_ && !released_; }
    bool ComPortInForce() const { return telnet_ && comPort_; }
    // Fails with the error of a gone or released device. REQUIRES: mutex_.
    bool FailUnusable() const;
    // Drops the queued input up to `position`, counted as inputTaken_
    // counts. REQUIRES: mutex_ held.
    void TakeInputBefore(std::uint64_t position);

    const std::unique_ptr<host::TcpConnection> connection_;
    const bool telnet_;  // false for socket://: the bytes are the line's

    SendTurn sendMutex_;  // orders the connection's sends; taken before mutex_
    std::string unsent_;  // the output queue; guarded by sendMutex_
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // any field below that a call waits for

    ComPortClient client_;
    bool comPort_ = false;  // the server agreed to COM-PORT-OPTION
    std::string input_;     // the input queue
    // Bytes that have left the front of input_, read or purged, ever; and
    // where in that count the server's last purge answer came.
    std::uint64_t inputTaken_ = 0;
    std::uint64_t purgeAnswerAt_ = 0;
    std::size_t inputLimit_ = kDefaultInputQueue;
    std::uint8_t lineErrors_ = 0;  // NOTIFY-LINESTATE error bits not yet taken
    std::optional<std::uint8_t> modemState_;
    unsigned modemChanges_ = 0;
    unsigned readerStalls_ = 0;         // times the reader waited for room in the queue
    bool silentLine_[kLineCount] = {};  // lines that never answered
    bool silentPurge_ = false;          // a purge went unanswered
    bool localXoff_ = false;            // SETXOFF: our sending held
    unsigned receiveAborts_ = 0;        // PURGE_RXABORT ends running reads
    unsigned transmitAborts_ = 0;       // PURGE_TXABORT ends held writes
    std::uint64_t bytesUnderway_ = 0;   // written, not yet handed to the socket
    std::size_t unsentBytes_ = 0;       // the output queue's size, as last seen
    bool drained_ = false;              // a drain has succeeded, and nothing was written since
    bool gone_ = false;
    std::uint32_t dropError_ = ERROR_SUCCESS;  // what broke the connection
    bool released_ = false;
    bool readerEnded_ = false;
    bool waitsCancelled_ = false;
    CommWakes wakes_;
    // In the remote port list; set before the reader starts, then fixed.
    unsigned listedNumber_ = 0;
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{0xFFFFFFFFu, 0, 0, 0, 0};

    std::thread reader_;
};

}  // namespace tarn::driver::remote
