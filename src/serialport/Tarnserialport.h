// TTarnSerialPort: a serial port as a component. Choose the port and the
// line settings through properties, call Open, and receive data through
// OnReceive (or, with AutoReceive off, through the Read operations).
//
// Threads. The application's main thread owns the component. While a port is
// open a receive thread polls it and raises the events; sends may run on any
// thread. Fields that those threads share are atomic, and the byte strings
// and handlers they share are guarded by the component's lock, so that
// nothing a thread reads is ever torn.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host_component.h"
#include "host_stringlist.h"
#include "host_strings.h"
#include "host_thread.h"
#include "serial_driver.h"
#include "serial_events.h"
#include "serial_types.h"

class TComThread;

class TTarnSerialPort : public tarn::host::TComponent {
public:
    using AnsiString = tarn::host::AnsiString;
    using UnicodeString = tarn::host::UnicodeString;
    using HANDLE = tarn::driver::HANDLE;

    explicit TTarnSerialPort(tarn::host::TComponent* AOwner = nullptr);
    ~TTarnSerialPort() override;

    // The class as the framework knows it: name, factory and the published
    // properties in declaration order.
    static const tarn::host::TComponentClass& StaticClass();
    const tarn::host::TComponentClass& ClassType() const override;

    // --- Port names ---------------------------------------------------------
    TCommPort StringToCommPort(const AnsiString& Port) const;
    AnsiString CommPortToString(TCommPort Port) const;

    TCommPort GetPort() const { return GetCommPort(); }
    void SetPort(TCommPort Value) { SetCommPort(Value); }
    AnsiString GetCustomPortName() const;
    void SetCustomPortName(const AnsiString& Value);

    // --- Line settings ------------------------------------------------------
    std::int32_t BaudRateToInt(TBaudRate pBaudRate) const;
    TBaudRate IntToBaudRate(std::int32_t Value) const;

    TBaudRate GetBaudRate() const;
    void SetBaudRate(TBaudRate Value);
    TDataWidth GetDataWidth() const;
    void SetDataWidth(TDataWidth Value);
    TStopBits GetStopBits() const;
    void SetStopBits(TStopBits Value);
    TParityBits GetParity() const;
    void SetParity(TParityBits Value);
    std::int32_t GetCustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(std::int32_t Value);

    bool GetEnableDTROnOpen() const { return FEnableDTROnOpen; }
    void SetEnableDTROnOpen(bool Value);
    bool GetEnableRTSOnOpen() const { return FEnableRTSOnOpen; }
    void SetEnableRTSOnOpen(bool Value);
    THwFlowControl GetHwFlowControl() const { return FHwFlowControl; }
    void SetHwFlowControl(THwFlowControl Value);
    TSwFlowControl GetSwFlowControl() const { return FSwFlowControl; }
    void SetSwFlowControl(TSwFlowControl Value);
    char GetXonChar() const { return FXonChar; }
    void SetXonChar(char Value);
    char GetXoffChar() const { return FXoffChar; }
    void SetXoffChar(char Value);
    std::uint16_t GetXonLim() const { return FXonLim; }
    void SetXonLim(std::uint16_t Value);
    std::uint16_t GetXoffLim() const { return FXoffLim; }
    void SetXoffLim(std::uint16_t Value);
    bool GetParityCheck() const { return FParityCheck; }
    void SetParityCheck(bool Value);
    bool GetReplaceParityErrors() const { return FReplaceParityErrors; }
    void SetReplaceParityErrors(bool Value);
    bool GetDiscardNulls() const { return FDiscardNulls; }
    void SetDiscardNulls(bool Value);
    bool GetDsrSensitivity() const { return FDsrSensitivity; }
    void SetDsrSensitivity(bool Value);
    bool GetTXContinueOnXoff() const { return FTXContinueOnXoff; }
    void SetTXContinueOnXoff(bool Value);
    char GetErrorChar() const { return FErrorChar; }
    void SetErrorChar(char Value);
    char GetEofChar() const { return FEofChar; }
    void SetEofChar(char Value);
    char GetEvtChar() const { return FEvtChar; }
    void SetEvtChar(char Value);

    // The five driver time-outs, in milliseconds. They reach the driver at
    // the next Open.
    std::uint32_t GetReadIntervalTimeout() const { return FReadIntervalTimeout; }
    void SetReadIntervalTimeout(std::uint32_t Value) { FReadIntervalTimeout = Value; }
    std::uint32_t GetReadTotalTimeoutMultiplier() const { return FReadTotalTimeoutMultiplier; }
    void SetReadTotalTimeoutMultiplier(std::uint32_t Value) { FReadTotalTimeoutMultiplier = Value; }
    std::uint32_t GetReadTotalTimeoutConstant() const { return FReadTotalTimeoutConstant; }
    void SetReadTotalTimeoutConstant(std::uint32_t Value) { FReadTotalTimeoutConstant = Value; }
    std::uint32_t GetWriteTotalTimeoutMultiplier() const { return FWriteTotalTimeoutMultiplier; }
    void SetWriteTotalTimeoutMultiplier(std::uint32_t Value) {
        FWriteTotalTimeoutMultiplier = Value;
    }
    std::uint32_t GetWriteTotalTimeoutConstant() const { return FWriteTotalTimeoutConstant; }
    void SetWriteTotalTimeoutConstant(std::uint32_t Value) { FWriteTotalTimeoutConstant = Value; }

    std::uint32_t GetInputBuffer() const { return FInputBuffer; }
    void SetInputBuffer(std::uint32_t Value);
    std::uint32_t GetOutputBuffer() const { return FOutputBuffer; }
    void SetOutputBuffer(std::uint32_t Value);
    tarn::host::TThreadPriority GetPriority() const { return FPriority; }
    void SetPriority(tarn::host::TThreadPriority Value);

    // Delay and Interval are two names for the poll period in milliseconds.
    std::uint32_t GetDelay() const { return FDelay; }
    void SetDelay(std::uint32_t Value) { FDelay = Value; }
    std::uint32_t GetInterval() const { return FDelay; }
    void SetInterval(std::uint32_t Value) { FDelay = Value; }

    // --- Log, reading and buffering options -----------------------------------
    bool GetLogInput() const { return FLogInput; }
    void SetLogInput(bool Value) { FLogInput = Value; }
    bool GetLogDateTime() const { return FLogDateTime; }
    void SetLogDateTime(bool Value) { FLogDateTime = Value; }
    UnicodeString GetLogFile() const;
    void SetLogFile(const UnicodeString& Value);
    bool GetAutoReceive() const { return FAutoReceive; }
    void SetAutoReceive(bool Value);
    bool GetKeepEntireBuffer() const { return FKeepEntireBuffer; }
    void SetKeepEntireBuffer(bool Value) { FKeepEntireBuffer = Value; }
    AnsiString GetNewLine() const;
    void SetNewLine(const AnsiString& Value);
    std::int32_t GetMaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(std::int32_t Value) { FMaxLineLength = Value; }

    // --- Events ---------------------------------------------------------------
    // Handlers may be replaced at any time from any thread; each delivery
    // reads the handler at the moment it runs.
    TSendReceiveEvent GetOnReceive() const;
    void SetOnReceive(TSendReceiveEvent Value);
    TSendReceiveEvent GetOnSend() const;
    void SetOnSend(TSendReceiveEvent Value);
    TLineStatusEvent GetOnLineStatusChange() const;
    void SetOnLineStatusChange(TLineStatusEvent Value);
    TConnectEvent GetOnConnect() const;
    void SetOnConnect(TConnectEvent Value);
    TConnectEvent GetOnDisconnect() const;
    void SetOnDisconnect(TConnectEvent Value);
    TConnectEvent GetOnFault() const;
    void SetOnFault(TConnectEvent Value);

    // --- Public, not stored ---------------------------------------------------
    bool GetIsSending() const { return FIsSending; }
    bool GetIsReceiving() const { return FIsReceiving; }
    bool GetIsFaulted() const { return FIsFaulted; }
    bool GetNeedSynchronization() const { return FNeedSynchronization; }
    void SetNeedSynchronization(bool Value) { FNeedSynchronization = Value; }
    std::uint32_t GetMinCheckDisconnectedInterval() const { return FMinCheckDisconnectedInterval; }
    void SetMinCheckDisconnectedInterval(std::uint32_t Value) {
        FMinCheckDisconnectedInterval = Value;
    }
    double GetVersion() const { return FVersion; }
    // How the receive thread waits between its cycles. Off (the default), it
    // sleeps Delay milliseconds after every cycle. On, it sleeps in the
    // driver until bytes arrive, the device goes or the port closes, and
    // delivers each chunk as soon as it comes; the modem lines and the presence
    // check are still looked at at least every Delay. A change while a port
    // is open takes effect at the thread's next cycle. Any thread.
    bool GetWakeOnData() const { return FWakeOnData; }
    void SetWakeOnData(bool Value) { FWakeOnData = Value; }

    // --- Opening and closing ---------------------------------------------------
    // Opens the port that Port names, with every setting, and starts the
    // receive thread. Raises "Cannot connect to ..." when it cannot.
    void Open();
    // Stops the receive thread, which raises OnDisconnect and closes the
    // port. Called from inside one of this component's events (or on the
    // receive thread) it cannot wait for the thread: it then raises
    // OnDisconnect and closes the port itself, and the thread finishes by
    // itself once the event is over.
    void Close();
    // The port that is open, spNone when none. Any thread.
    TCommPort IsConnected() const { return ConnectedTo; }

    // --- Sending ----------------------------------------------------------------
    // One synchronous write each, on the calling thread; the result is the
    // count the driver took. OnSend (and OnFault for a vanished port) run on
    // the calling thread. A port that is not open raises
    // "%s is not open. Serial port is not connected.". Any thread.
    std::uint32_t SendString(const AnsiString& str);
    std::uint32_t SendStringLine(const AnsiString& str);
    std::uint32_t SendData(const void* Data, std::uint32_t dataSize);
    std::uint32_t SendWord(std::uint16_t number);
    std::uint32_t SendByte(std::uint8_t number);
    std::uint32_t SendChar(char character);
    std::uint32_t SendChars(const AnsiString& str);
    std::uint32_t SendCharsLine(const AnsiString& str);
    // The same on a short-lived thread of its own; returns at once.
    void SendStringOnNewThread(const AnsiString& str);
    void SendCharsOnNewThread(const AnsiString& str);
    // Waits until everything sent has left the driver's output queue and
    // the line, at most `timeoutMs` milliseconds; true when it has. False
    // at once when no port is open, and as soon as the port is closed or
    // its device goes meanwhile. Close discards what is still queued, so a
    // program whose last bytes matter drains first. Any thread.
    bool Drain(std::uint32_t timeoutMs);

    // --- Synchronous reads (AutoReceive off) -------------------------------------
    // Empty results (0) while AutoReceive is on or no port is open.
    AnsiString ReadBuffer();
    AnsiString ReadChar();
    AnsiString ReadChars(std::int32_t noChars);
    std::uint8_t ReadByte();
    AnsiString ReadStringUpToEndChars(const UnicodeString& endChars, std::int32_t timeOutSeconds);
    AnsiString ReadStringUpToEndChars(const tarn::host::TStrings& endCharsList,
                                      std::int32_t timeOutSeconds);
    AnsiString ReadStringLine(std::int32_t timeOutSeconds);
    std::uint32_t GetBufferSize();
    UnicodeString GetLastReadBuffer() const;
    UnicodeString GetEntireBuffer() const;

    // --- Traffic log ----------------------------------------------------------
    // Each byte 0 to 31 replaced by its name ("<CR>", "<LF>", ...); every
    // other byte copied. Pure; any thread.
    AnsiString ReplaceControlChars(const AnsiString& strInput) const;

    // --- Ports present --------------------------------------------------------
    // Read afresh from the system's port list at each call. Any thread.
    TCommPortSet GetExistingCommPorts();
    void GetExistingCommPortNames(tarn::host::TStrings& Strings);
    bool IsExistingCommPort(const UnicodeString& pport);

    // --- Modem lines and port control ----------------------------------------
    // Each works on the open port and answers false when no port is open or
    // the driver refuses. Any thread.
    bool SetBreak(bool OnOff);
    bool SetDTR(bool OnOff);
    bool SetRTS(bool OnOff);
    bool SetXonXoff(bool OnOff);
    bool ClearInputBuffer();
    bool ClearOutputBuffer();
    bool GetCTS();
    bool GetDSR();
    bool GetRING();
    bool GetDCD();

private:
    friend class TComThread;
    friend class TSenderThread;
    friend class TTarnSerialPortTestAccess;

    TCommPort GetCommPort() const;
    void SetCommPort(TCommPort Value);

    void InitSyncCommunicationParams();

    // Appends one record of received bytes to LogFile, or with
    // `recordPerByte` one record for each byte, in one write; raises
    // ETarnSerialPortException when the file cannot be written. Runs on the
    // thread that read the data.
    void WriteLog(const AnsiString& data, bool recordPerByte = false);

    // The modem input lines of `handle`; the empty set when unreadable.
    TLineStatusSet GetLineStatus(HANDLE handle) const;
    bool Escape(std::uint32_t function);
    bool Purge(std::uint32_t flags);

    // Apply operations: each takes the port handle and reports the driver's
    // verdict; none raises.
    bool SetDCBState(HANDLE handle);
    bool SetTimeOuts(HANDLE handle);
    bool SetBuffers(HANDLE handle);
    // Fills the device control block from the line-setting fields.
    tarn::driver::DCB BuildDCB() const;
    // Re-applies the device control block when a port is open.
    void ReapplyDCB();

    // The receive thread object of the open port, or null. The object may
    // end at any moment after the lock is released; use PortHandle to reach
    // the handle. Any thread.
    TComThread* CurrentThread() const;
    AnsiString GetRawPort() const;
    AnsiString GetReadBufferCopy() const;

    // Synchronous reads, on the calling thread. One driver read of what
    // waits, at most `most` bytes, with the read bookkeeping; `result`
    // stays empty when the port is not usable or nothing waits. With
    // `until`, the waiting bytes are looked at first and the read takes as
    // many as `until` answers for them (at least one), so that the rest
    // stays in the driver. With `asSingleBytes` the books are kept as for
    // bytes read one at a time, as the reads of a count or up to an end
    // sequence keep them: the last read buffer holds the last byte, and the
    // log gets one record per byte. Exceptions pass, with `result` already
    // holding the bytes read.
    using TReadUntil = std::function<std::size_t(const AnsiString& waiting)>;
    void ReadWaiting(std::uint32_t most, const TReadUntil* until, bool asSingleBytes,
                     AnsiString& result);
    // A read up to the first of `entries` (end sequences as bytes, an empty
    // one never matching), with the time-out of ReadStringUpToEndChars.
    AnsiString ReadUpToEnds(std::vector<AnsiString> entries, std::int32_t timeOutSeconds);
    // Sleeps until bytes may wait on a usable port or `limitMs` milliseconds
    // have passed; true then, and the caller looks at the queue itself (a
    // wait in the driver may also end early). With a negative `limitMs`
    // there is no limit, and the wait ends with false once the port is
    // closed or its device has gone. Either way it ends with false as soon
    // as a Close of the port has been asked for.
    bool WaitForInput(std::int64_t limitMs);

    // Called by the receive thread as its last act on the component: the
    // port is closed and the thread no longer touches the component.
    void ThreadEnded(TComThread* thread);
    // Waits until every receive thread that has been asked to stop has
    // ended, servicing the main thread's queue meanwhile. A thread that
    // cannot be waited for from here (we run inside its event) is skipped,
    // or, with `detachIfStuck`, detached. False when one was skipped or
    // detached.
    bool WaitForThreadEnd(bool detachIfStuck);
    // True while the receive thread numbered `serial` has not ended.
    // REQUIRES: FLock held.
    bool ThreadRunning(std::uint64_t serial) const;
    // Close, but only while the connection numbered `serial` is the open
    // one (0: whichever is open), so that a late fault path cannot close a
    // connection that a handler has opened since.
    void CloseConnection(std::uint64_t serial);
    // True once a Close of the open port has been asked for, until it has
    // finished. Any thread.
    bool CloseRequested() const;
    // The handle of the open port, or the invalid handle value. Any thread.
    HANDLE PortHandle() const;
    bool PortIsOpen() const { return PortHandle() != tarn::driver::INVALID_HANDLE_VALUE; }

    // What a send needs of the open connection, taken in one look under
    // the lock: its handle (invalid when none is open), its number and the
    // name it was opened under. Any thread.
    struct TOpenConnection {
        HANDLE handle = tarn::driver::INVALID_HANDLE_VALUE;
        std::uint64_t serial = 0;
        AnsiString name;
    };
    TOpenConnection OpenConnection() const;

    // Sending: the not-connected failure, and the presence check that a
    // send runs on its own thread for the connection it wrote to.
    [[noreturn]] void RaiseNotConnected() const;
    void CheckPresenceAfterSend(const TOpenConnection& connection);
    // The presence check that the receive thread and the sends share: true
    // when the check is switched on (Delay at least
    // MinCheckDisconnectedInterval) and the port opened as `openedName` is
    // no longer among the ports present. Any thread.
    bool PortHasVanished(const AnsiString& openedName);
    // Waits until every background send that this component started has
    // ended (sender_thread.cpp).
    void WaitForSenders();

    static bool ValidWidthAndStop(std::uint8_t dataBits, std::uint8_t stopCode);

    // Guards the byte strings, the log file name and the handlers, which the
    // receive and sender threads read while the application may write them.
    mutable std::mutex FLock;
    // Held by every taker of the driver's input (the synchronous reads, the
    // receive thread, the purge of the input queue) across its driver calls,
    // so that a read that has looked at the waiting bytes takes those very
    // bytes. Never held while FLock is taken.
    std::mutex FInputLock;

    // Fields in declaration order.
    AnsiString FPort;                                     // guarded by FLock
    AnsiString FCustomPortName;                           // guarded by FLock
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
    AnsiString FReadBuffer;                               // guarded by FLock
    AnsiString FEntireBuffer;                             // guarded by FLock
    std::atomic<bool> FKeepEntireBuffer;
    std::atomic<std::uint8_t> FLineStatus;                // TLineStatusSet bits
    std::uint32_t FReadIntervalTimeout;
    std::uint32_t FReadTotalTimeoutMultiplier;
    std::uint32_t FReadTotalTimeoutConstant;
    std::uint32_t FWriteTotalTimeoutMultiplier;
    std::uint32_t FWriteTotalTimeoutConstant;
    tarn::host::TThreadPriority FPriority;
    std::atomic<std::uint32_t> FDelay;
    std::uint32_t FInputBuffer;
    std::uint32_t FOutputBuffer;
    double FVersion;
    TComThread* ComThread;                                // guarded by FLock
    std::atomic<TCommPort> ConnectedTo;
    std::atomic<bool> FIsSending;
    std::atomic<bool> FIsReceiving;
    std::atomic<bool> FIsFaulted;
    std::atomic<bool> FNeedSynchronization;
    std::atomic<bool> FAutoReceive;
    std::atomic<bool> FLogInput;
    std::atomic<bool> FLogDateTime;
    UnicodeString FLogFile;                               // guarded by FLock
    std::atomic<std::uint32_t> FMinCheckDisconnectedInterval;
    AnsiString FNewLine;                                  // guarded by FLock
    std::atomic<std::int32_t> FMaxLineLength;
    TSendReceiveEvent FOnReceive;                         // guarded by FLock
    TSendReceiveEvent FOnSend;                            // guarded by FLock
    TLineStatusEvent FOnLineStatusChange;                 // guarded by FLock
    TConnectEvent FOnConnect;                             // guarded by FLock
    TConnectEvent FOnDisconnect;                          // guarded by FLock
    TConnectEvent FOnFault;                               // guarded by FLock
    std::atomic<std::uint32_t> FSignaledBytes;
    std::atomic<std::uint32_t> FReadBytes;

    // Beyond the fields above: the receive threads that can still reach the
    // component (the open port's, and any that wind down after Close), the
    // signal of their ends, and the number of the last connection.
    std::vector<TComThread*> FRunningThreads;             // guarded by FLock
    std::condition_variable FThreadEndedSignal;           // with FLock
    std::uint64_t FLastConnectionSerial = 0;              // guarded by FLock
    std::atomic<bool> FDestroying{false};
    std::atomic<bool> FWakeOnData{false};
    // Whether this component has begun a finer timer period that it has not
    // ended, so that begin and end stay paired.
    std::atomic<bool> FTimerPeriodBegun{false};
    // Background sends still running; the component does not go before they
    // have ended.
    std::mutex FSendersLock;
    std::condition_variable FSendersDone;                 // with FSendersLock
    int FActiveSenders = 0;                               // guarded by FSendersLock
};
