// TTarnSerialPortPrivate: the state of a TTarnSerialPort, its locks, and the
// operations that the component's own sources share. Private to the
// component: included by its sources and its tests, never installed.
//
// The receive thread (TComThread), the background senders (TSenderThread)
// and the synchronous reads reach the component only through the public
// part of this class, a narrow interface; the state and the rest are for
// the component's own functions.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Tarnserialport.h"
#include "frame_cutter_p.h"
#include "serial_driver.h"

class TComThread;
namespace tarn::serialport {
class EndSequences;
}

static_assert(std::is_same_v<TPortHandle, tarn::driver::HANDLE>,
              "the component hands the driver's handles around unchanged");

// The identifier of a port name: spNone for an empty one, spCOM1 to spCOM254
// for "COM1" to "COM254" in any letter case, spCustom for any other. Pure;
// any thread.
TCommPort CommPortOfName(const tarn::host::AnsiString& name);
// The bits per second that `rate` stands for; `customRate` for brCustom.
std::int32_t BaudRateValue(TBaudRate rate, std::int32_t customRate);
// The data bits that `width` stands for, as the driver counts them.
std::uint8_t DataBitsOf(TDataWidth width);
// The modem input lines of `handle`; the empty set when unreadable. Any
// thread.
TLineStatusSet LineStatusOf(TPortHandle handle);

class TTarnSerialPortPrivate {
public:
    using AnsiString = tarn::host::AnsiString;
    using UnicodeString = tarn::host::UnicodeString;
    using HANDLE = tarn::driver::HANDLE;

    // The defaults from port_defaults_p.h.
    explicit TTarnSerialPortPrivate(TTarnSerialPort* component);
    TTarnSerialPortPrivate(const TTarnSerialPortPrivate&) = delete;
    TTarnSerialPortPrivate& operator=(const TTarnSerialPortPrivate&) = delete;

    // --- The interface of the threads and the synchronous reads ---------------

    // The settings that the receive thread and the synchronous reads
    // follow, each read afresh (atomically, one by one) at every call, so
    // that a change takes effect at the next look. Any thread.
    struct TReceiveSettings {
        std::uint32_t delay;
        bool wakeOnData;
        bool autoReceive;
        bool needSynchronization;
        std::int32_t maxLineLength;
        // Delay is at least MinCheckDisconnectedInterval: the presence
        // check looks at the port list.
        bool presenceChecked;
    };
    TReceiveSettings ReceiveSettings() const;
    // The two of them that a synchronous read looks at for every line.
    bool AutoReceive() const { return FAutoReceive.load(); }
    std::int32_t MaxLineLength() const { return FMaxLineLength.load(); }

    // Hands the settings to a port just opened: the device control block,
    // the time-outs and the queue sizes. The driver's error code when it
    // refuses the block, ERROR_SUCCESS otherwise; time-outs and queue sizes
    // are taken as the driver takes them. On the thread that opens.
    std::uint32_t ApplySettingsOnOpen(HANDLE handle);

    // The handle of the open port, or the invalid handle value. Any thread.
    HANDLE PortHandle() const;
    // Called by the receive thread as it closes `handle`, so that the port
    // no longer counts as open while the thread winds down. Any thread.
    void ForgetPortHandle(HANDLE handle);
    bool PortIsOpen() const { return PortHandle() != tarn::driver::INVALID_HANDLE_VALUE; }
    // True once a Close of the open port has been asked for, until it has
    // finished. Any thread.
    bool CloseRequested() const;

    // Held by every taker of the driver's input (the synchronous reads, the
    // receive thread, the purge of the input queue) across its driver calls,
    // so that a read that has looked at the waiting bytes takes those very
    // bytes. Never held while the component's lock is taken. Any thread.
    std::unique_lock<std::mutex> TakeInput() { return std::unique_lock<std::mutex>(FInputLock); }
    // IsReceiving, set by a taker of input around its driver read. Any
    // thread. A mark to look at, which orders nothing else: a plain store
    // spares every read the cost of a fence.
    void SetReceiving(bool receiving) { FIsReceiving.store(receiving, std::memory_order_relaxed); }

    // Who took the bytes of a read, which decides how its books are kept.
    enum class TReader {
        // The receive thread, for OnReceive. Its bytes are not counted: with
        // AutoReceive on nothing is announced.
        ReceiveThread,
        // A synchronous read of what waits.
        Application,
        // A synchronous read of a count, or up to an end sequence: the books
        // are kept as for bytes read one at a time, the last read buffer
        // holding the last byte and the log getting one record per byte.
        ApplicationByBytes,
    };
    // The books of one driver read, alike for every reader, in this order:
    // the count of bytes taken (synchronous reads), so that the receive
    // thread never announces them again; then the last read buffer and,
    // with KeepEntireBuffer, the whole history. A read whose last byte
    // completes a line leaves the `completed` line as the last read buffer
    // instead, in the same step (none when null). On the thread that read,
    // in the same hold of the input as the read itself, so that the books
    // cost no lock of their own. REQUIRES: the input held (TakeInput).
    void KeepReadBooks(std::string_view bytes, TReader reader,
                       const std::string_view* completed = nullptr);
    // With LogInput, the log record of one driver read, the last step of
    // every read: a log that cannot be written then does not cost the
    // reader its bytes. Raises ETarnSerialPortException when the log cannot
    // be written. On the thread that read.
    void LogRead(std::string_view bytes, TReader reader);
    // A found line becomes the last read buffer. Any thread; REQUIRES: the
    // input not held.
    void SetLastReadBuffer(const AnsiString& line);
    // The NewLine as the end sequence of the line reads; null for an empty
    // one. Looked up in the read's own hold of the input, so that a line
    // read takes no other lock for it. REQUIRES: the input held.
    const tarn::serialport::EndSequences* LineEndsHeld() const { return FLineEnds.get(); }

    // The bytes read by the application since the count was last reset
    // (Open, Close, a change of AutoReceive). Any thread.
    std::uint32_t ReadCount() const { return FReadBytes; }
    // With AutoReceive off the receive thread announces new bytes without
    // reading them. True when `waiting` bytes wait, of which some have not
    // been announced: `readBefore` is ReadCount taken before the queue was
    // counted, so that a read in between makes the total smaller, never
    // larger. The bytes then count as announced. Receive thread.
    bool AnnounceWaiting(std::uint32_t readBefore, std::uint32_t waiting);

    // Records the modem lines that the receive thread read; true when they
    // differ from those it recorded before, and OnLineStatusChange is due.
    // Receive thread.
    bool UpdateLineStatus(TLineStatusSet lines);
    // IsFaulted: the device of the open port has gone. Any thread. True for
    // the one caller that is to raise OnFault: a send and the receive thread
    // may both find the device gone, and the fault is raised once. A handler
    // that throws gives the claim back, so that the next look raises it again.
    bool ClaimFault() {
        FIsFaulted = true;
        return !FFaultClaimed.exchange(true);
    }
    void ReleaseFault() { FFaultClaimed = false; }
    // IsFaulted without the claim: the receive thread still raises it.
    void NoteGone() { FIsFaulted = true; }

    // The deliveries of the events, on the thread that raises them (the
    // main thread while NeedSynchronization asks for it; a send's own
    // thread for OnSend). Each reads its handler as it runs and calls
    // nothing for a component that is being destroyed. Exceptions of the
    // handler pass.
    void DeliverReceive(AnsiString chunk) const;
    // OnSend with the `count` bytes at `data` that the driver took. True
    // when a handler is assigned, called or not.
    bool DeliverSend(const char* data, std::uint32_t count) const;
    void DeliverLineStatus(TLineStatusSet lines) const;
    enum class TConnectionEvent { Connect, Disconnect, Fault };
    // OnConnect and OnDisconnect are not raised for spNone.
    void DeliverConnectionEvent(TConnectionEvent event, TCommPort port) const;

    // The framing in force (frame_cutter_p.h), made again at every change
    // of a framing setting (and of the NewLine while it is the delimiter).
    // Any thread.
    tarn::serialport::TFramingNow FramingNow() const;
    // The number of the last such change, or of an Open or Close, each of
    // which starts the frames afresh. Any thread.
    std::uint32_t FramingGeneration() const { return FFramingGeneration; }
    // ReadFrame's cutter. REQUIRES: the input held (TakeInput).
    tarn::serialport::TFrameCutter& ReadFrameCutter() { return FReadFrames; }
    // OnFrame or OnFrameError for each of `found`, in order, each taking
    // its bytes (which `found` is left without). A handler that raises does
    // not cost the later ones their event: the first exception passes once
    // all have run.
    void DeliverFrames(std::vector<tarn::serialport::TFoundFrame>& found) const;

    // With a RecordFile, records the session of the port just opened as
    // `port` from now on (RecordFile in the public header); true without
    // one. False with the driver's error set when the file cannot be
    // created. On the thread that opens.
    bool StartRecordingOnOpen(HANDLE handle, const AnsiString& port);
    // The failure of a record file `path` that cannot be created, for the
    // port opened as `port`.
    // `error` is the driver's: a refusal in words is raised in them.
    [[noreturn]] static void RaiseRecordFailure(const AnsiString& port, const AnsiString& path,
                                                std::uint32_t error);

    // The presence check that the receive thread and the sends share: true
    // when the check is switched on (Delay at least
    // MinCheckDisconnectedInterval) and the port opened as `openedName` is
    // no longer among the ports present. Any thread.
    bool PortHasVanished(const AnsiString& openedName) const;
    // Close, but only while the connection numbered `serial` is the open
    // one (0: whichever is open), so that a late fault path cannot close a
    // connection that a handler has opened since. Any thread.
    void CloseConnection(std::uint64_t serial);
    // Called by the receive thread as its last act on the component: the
    // port is closed and the thread no longer touches the component.
    void ThreadEnded(TComThread* thread);

    // A background send begins or ends; the component does not go before
    // every send it began has ended. Any thread.
    void SenderStarted();
    void SenderEnded();

private:
    friend class TTarnSerialPort;
    friend class TTarnSerialPortTestAccess;

    // --- The component's own operations ----------------------------------------

    // A copy of `field`, one of those guarded by FLock, taken under it: how
    // the deliveries and the log read their handler or file name. Any
    // thread. REQUIRES: FLock not held.
    template <typename T>
    T Guarded(const T& field) const {
        std::lock_guard<std::mutex> lock(FLock);
        return field;
    }

    // Zeroes the counts of bytes read and announced.
    void ResetReadCounts();

    // The receive thread object of the open port, or null. The object may
    // end at any moment after the lock is released; use PortHandle to reach
    // the handle. Any thread.
    TComThread* CurrentThread() const;
    AnsiString RawPort() const;
    AnsiString LastReadBuffer() const;

    // Appends one record of received bytes to LogFile, or with
    // `recordPerByte` one record for each byte, in one write; raises
    // ETarnSerialPortException when the file cannot be written. Runs on the
    // thread that read the data.
    void WriteLog(const AnsiString& data, bool recordPerByte = false);

    bool Escape(std::uint32_t function);
    bool Purge(std::uint32_t flags);

    // Apply operations: each takes the port handle and reports the driver's
    // verdict; none raises. A refused block closes the port.
    bool SetDCBState(HANDLE handle);
    bool SetTimeOuts(HANDLE handle);
    bool SetBuffers(HANDLE handle);
    // Fills the device control block from the line-setting fields.
    tarn::driver::DCB BuildDCB() const;
    // Re-applies the device control block when a port is open.
    void ReapplyDCB();
    // The quiet time of frSilence that the line settings give, kept for the
    // receive thread, which does not read the line settings.
    void UpdateLineGap();
    // Stores a framing setting: `change` alters a copy of the settings,
    // which must then make a usable format while a framing is in force
    // (the failure is raised otherwise, and nothing changes); then the
    // format is made again. Any thread.
    template <typename Change>
    void ChangeFraming(Change change);
    void RemakeFramingLocked();

    // Ends a connection that is ending (its device has gone, or a Close of
    // it could not wait), and waits for threads that wind down, so that
    // Open can open a port at once.
    void FinishEndingConnections();
    // Registers the thread of a connection just opened, before OnConnect,
    // so that the handler finds the port open. Then raises OnConnect and
    // starts the thread; the thread owns itself from there on.
    void BeginConnection(TComThread* thread);
    // Waits until every receive thread that has been asked to stop has
    // ended, servicing the main thread's queue meanwhile. A thread that
    // cannot be waited for from here (we run inside its event) is skipped,
    // or, with `detachIfStuck`, detached. False when one was skipped or
    // detached.
    bool WaitForThreadEnd(bool detachIfStuck);
    // Waits at most `limit` for the end of the receive thread numbered
    // `serial`, servicing the main thread's queue meanwhile when called
    // there. REQUIRES: `lock` holds FLock.
    void WaitForThreadOf(std::uint64_t serial, std::chrono::milliseconds limit,
                         std::unique_lock<std::mutex>& lock);
    // The wait of both: until `done` returns true or `deadline` (none: no
    // limit) has passed, on the main thread serving its queue meanwhile (a
    // thread may wait there to run one of its events), elsewhere on the
    // signal of a thread's end. `done` is called with the lock held.
    // REQUIRES: `lock` holds FLock.
    void WaitForThreads(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
                        std::optional<std::chrono::steady_clock::time_point> deadline);
    // True while the receive thread numbered `serial` has not ended.
    // REQUIRES: FLock held.
    bool ThreadRunning(std::uint64_t serial) const;

    // What a send needs of the open connection, taken in one look under
    // the lock: its handle (invalid when none is open), its number and the
    // name it was opened under. Any thread.
    struct TOpenConnection {
        HANDLE handle = tarn::driver::INVALID_HANDLE_VALUE;
        std::uint64_t serial = 0;
        AnsiString name;
    };
    TOpenConnection OpenConnection() const;
    // How a send treats a block of no bytes and a write that no OnSend
    // handler hears of, which the public sends have always done in two ways.
    enum class TSendForm {
        // SendString: no bytes are still a write, and the presence check
        // runs after any write that no handler heard of.
        String,
        // SendData and the sends built on it: no bytes count as no open
        // port, and the presence check runs only after a write that took
        // nothing.
        Block,
    };
    // The one send behind every public send, on the calling thread: one
    // synchronous write of the `count` bytes at `data` to the open
    // connection, OnSend with the bytes the driver took, and the presence
    // check as `form` says. Returns the count written. Raises the
    // not-connected failure when no port is open, and in place of whatever
    // fails on the way (the write, a handler, the closing). Any thread.
    std::uint32_t Send(const char* data, std::uint32_t count, TSendForm form);
    // Sending: the not-connected failure, and the presence check that a
    // send runs on its own thread for the connection it wrote to.
    [[noreturn]] void RaiseNotConnected() const;
    void CheckPresenceAfterSend(const TOpenConnection& connection);
    // Waits until every background send that this component started has
    // ended.
    void WaitForSenders();

    // --- State -------------------------------------------------------------------

    // The public object: the Sender of every event.
    TTarnSerialPort* const q;

    // Guards the byte strings, the log file name and the handlers, which the
    // receive and sender threads read while the application may write them.
    mutable std::mutex FLock;
    // See TakeInput; also guards what the reads leave behind, and the
    // NewLine's ends that the line reads look up.
    mutable std::mutex FInputLock;

    // The port that the next Open opens, as its name.
    AnsiString FPort;            // guarded by FLock
    AnsiString FCustomPortName;  // guarded by FLock

    // The line settings, the time-outs, the queue sizes and the priority:
    // plain, read and written by the public functions and by Open on one
    // thread at a time (see the public header).
    std::int32_t FBaudRate;
    std::int32_t FCustomBaudRate;
    std::uint8_t FDataWidth;
    std::uint8_t FParity;
    std::uint8_t FStopBits;
    bool FEnableDTROnOpen;
    bool FEnableRTSOnOpen;
    THwFlowControl FHwFlowControl;
    TSwFlowControl FSwFlowControl;
    char FXonChar;
    char FXoffChar;
    std::uint16_t FXonLim;
    std::uint16_t FXoffLim;
    bool FParityCheck;
    bool FReplaceParityErrors;
    char FErrorChar;
    char FEofChar;
    char FEvtChar;
    bool FDiscardNulls;
    bool FDsrSensitivity;
    bool FTXContinueOnXoff;
    std::uint32_t FReadIntervalTimeout;
    std::uint32_t FReadTotalTimeoutMultiplier;
    std::uint32_t FReadTotalTimeoutConstant;
    std::uint32_t FWriteTotalTimeoutMultiplier;
    std::uint32_t FWriteTotalTimeoutConstant;
    std::uint32_t FInputBuffer;
    std::uint32_t FOutputBuffer;
    tarn::host::TThreadPriority FPriority;

    // What the threads read while the application may change it.
    std::atomic<std::uint32_t> FDelay;
    std::atomic<bool> FWakeOnData;
    std::atomic<bool> FAutoReceive;
    std::atomic<bool> FNeedSynchronization;
    std::atomic<std::uint32_t> FMinCheckDisconnectedInterval;
    std::atomic<bool> FLogInput;
    std::atomic<bool> FLogDateTime;
    UnicodeString FLogFile;  // guarded by FLock
    AnsiString FRecordFile;  // guarded by FLock
    std::atomic<bool> FKeepEntireBuffer;
    AnsiString FNewLine;  // guarded by FLock
    // Counts the changes of the NewLine, so that of two setters that race
    // the later one leaves its line ends.
    std::uint64_t FNewLineChanges = 0;  // guarded by FLock
    std::atomic<std::int32_t> FMaxLineLength;
    TSendReceiveEvent FOnReceive;          // guarded by FLock
    TSendReceiveEvent FOnSend;             // guarded by FLock
    TLineStatusEvent FOnLineStatusChange;  // guarded by FLock
    TConnectEvent FOnConnect;              // guarded by FLock
    TConnectEvent FOnDisconnect;           // guarded by FLock
    TConnectEvent FOnFault;                // guarded by FLock

    // Framing: the settings (an empty delimiter stands for the NewLine), the
    // format they make, the gap of frSilence that the line settings give,
    // the count of changes, the handlers, and ReadFrame's cutter.
    tarn::serialport::TFrameFormat FFrameSettings;                       // guarded by FLock
    std::uint32_t FFrameGapMs;                                           // guarded by FLock
    std::shared_ptr<const tarn::serialport::TFrameFormat> FFrameFormat;  // guarded by FLock
    std::atomic<std::uint32_t> FLineGapMicros{0};
    std::atomic<std::uint32_t> FFramingGeneration{0};
    TFrameEvent FOnFrame;            // guarded by FLock
    TFrameErrorEvent FOnFrameError;  // guarded by FLock
    // Counts the changes of the two handlers above, raised under FLock
    // after each, so that a delivery of many frames fetches them again
    // only when they have changed.
    std::atomic<std::uint32_t> FFrameHandlerChanges{0};
    tarn::serialport::TFrameCutter FReadFrames;  // guarded by FInputLock

    // What the reads leave behind.
    AnsiString FReadBuffer;    // guarded by FInputLock
    AnsiString FEntireBuffer;  // guarded by FInputLock
    // The NewLine's end sequence, as of its change number FLineEndsOf.
    std::shared_ptr<const tarn::serialport::EndSequences> FLineEnds;  // guarded by FInputLock
    std::uint64_t FLineEndsOf = 0;                                    // guarded by FInputLock
    std::atomic<std::uint32_t> FReadBytes{0};      // changed only with FInputLock held
    std::atomic<std::uint32_t> FSignaledBytes{0};  // receive thread, and resets
    std::atomic<std::uint8_t> FLineStatus{0};      // TLineStatusSet bits

    // The state of the connection.
    std::atomic<TCommPort> ConnectedTo{spNone};
    std::atomic<bool> FIsSending{false};
    std::atomic<bool> FIsReceiving{false};
    std::atomic<bool> FIsFaulted{false};
    std::atomic<bool> FFaultClaimed{false};
    std::atomic<bool> FDestroying{false};
    TComThread* ComThread = nullptr;  // guarded by FLock
    // The handle of ComThread's port, kept beside it so that the readers,
    // which ask for it at every driver call, need no lock: a handle that
    // closes meanwhile is refused by the driver, and none is used twice.
    std::atomic<HANDLE> FComHandle{tarn::driver::INVALID_HANDLE_VALUE};
    // Makes `thread` the open port's, or none. REQUIRES: FLock held.
    void SetComThread(TComThread* thread);
    // The receive threads that can still reach the component (the open
    // port's, and any that wind down after Close), the signal of their
    // ends, and the number of the last connection.
    std::vector<TComThread*> FRunningThreads;    // guarded by FLock
    std::condition_variable FThreadEndedSignal;  // with FLock
    std::uint64_t FLastConnectionSerial = 0;     // guarded by FLock
    // Whether this component has begun a finer timer period that it has not
    // ended, so that begin and end stay paired.
    std::atomic<bool> FTimerPeriodBegun{false};

    // Background sends still running; the component does not go before they
    // have ended.
    std::mutex FSendersLock;
    std::condition_variable FSendersDone;  // with FSendersLock
    int FActiveSenders = 0;                // guarded by FSendersLock
};
