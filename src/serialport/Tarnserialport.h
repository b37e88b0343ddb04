// TTarnSerialPort: a serial port as a component. Choose the port and the
// line settings through properties, call Open, and receive data through
// OnReceive (or, with AutoReceive off, through the Read operations).
//
// Threads. The application's main thread owns the component. While a port is
// open a receive thread polls it and raises the events; sends may run on any
// thread. Fields that those threads share are atomic, and the byte strings
// and handlers they share are guarded by the component's lock, so that
// nothing a thread reads is ever torn. Each declaration below says which
// threads may call it; one that says nothing belongs to the owner's thread.
//
// The state lives in a private class (Tarnserialport_p.h), so that this
// header holds only the interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host_component.h"
#include "host_stringlist.h"
#include "host_strings.h"
#include "host_thread.h"
#include "serial_events.h"
#include "serial_types.h"

class TTarnSerialPortPrivate;

class TTarnSerialPort : public tarn::host::TComponent {
public:
    using AnsiString = tarn::host::AnsiString;
    using UnicodeString = tarn::host::UnicodeString;
    using HANDLE = TPortHandle;

    explicit TTarnSerialPort(tarn::host::TComponent* AOwner = nullptr);
    ~TTarnSerialPort() override;

    // The class as the framework knows it: name, factory and the published
    // properties in declaration order.
    static const tarn::host::TComponentClass& StaticClass();
    const tarn::host::TComponentClass& ClassType() const override;

    // --- Port names ---------------------------------------------------------
    // The conversions are pure, except that spCustom stands for
    // CustomPortName. Port and CustomPortName are read and written under
    // the component's lock, and change only what the next Open opens. Any
    // thread.
    TCommPort StringToCommPort(const AnsiString& Port) const;
    AnsiString CommPortToString(TCommPort Port) const;

    TCommPort GetPort() const;
    void SetPort(TCommPort Value);
    AnsiString GetCustomPortName() const;
    void SetCustomPortName(const AnsiString& Value);

    // --- Line settings ------------------------------------------------------
    // The line settings, the driver time-outs, the queue sizes and Priority
    // are plain fields without a lock, read only by these functions and by
    // Open: one thread at a time may use them, the owner's thread or a
    // handler on another thread while the owner's thread leaves them alone.
    // While a port is open a line setter hands the whole block to the
    // driver again, and a block that the driver refuses closes the port.
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
    std::int32_t GetCustomBaudRate() const;
    void SetCustomBaudRate(std::int32_t Value);

    bool GetEnableDTROnOpen() const;
    void SetEnableDTROnOpen(bool Value);
    bool GetEnableRTSOnOpen() const;
    void SetEnableRTSOnOpen(bool Value);
    THwFlowControl GetHwFlowControl() const;
    void SetHwFlowControl(THwFlowControl Value);
    TSwFlowControl GetSwFlowControl() const;
    void SetSwFlowControl(TSwFlowControl Value);
    char GetXonChar() const;
    void SetXonChar(char Value);
    char GetXoffChar() const;
    void SetXoffChar(char Value);
    std::uint16_t GetXonLim() const;
    void SetXonLim(std::uint16_t Value);
    std::uint16_t GetXoffLim() const;
    void SetXoffLim(std::uint16_t Value);
    bool GetParityCheck() const;
    void SetParityCheck(bool Value);
    bool GetReplaceParityErrors() const;
    void SetReplaceParityErrors(bool Value);
    bool GetDiscardNulls() const;
    void SetDiscardNulls(bool Value);
    bool GetDsrSensitivity() const;
    void SetDsrSensitivity(bool Value);
    bool GetTXContinueOnXoff() const;
    void SetTXContinueOnXoff(bool Value);
    char GetErrorChar() const;
    void SetErrorChar(char Value);
    char GetEofChar() const;
    void SetEofChar(char Value);
    char GetEvtChar() const;
    void SetEvtChar(char Value);

    // The five driver time-outs, in milliseconds. They reach the driver at
    // the next Open.
    std::uint32_t GetReadIntervalTimeout() const;
    void SetReadIntervalTimeout(std::uint32_t Value);
    std::uint32_t GetReadTotalTimeoutMultiplier() const;
    void SetReadTotalTimeoutMultiplier(std::uint32_t Value);
    std::uint32_t GetReadTotalTimeoutConstant() const;
    void SetReadTotalTimeoutConstant(std::uint32_t Value);
    std::uint32_t GetWriteTotalTimeoutMultiplier() const;
    void SetWriteTotalTimeoutMultiplier(std::uint32_t Value);
    std::uint32_t GetWriteTotalTimeoutConstant() const;
    void SetWriteTotalTimeoutConstant(std::uint32_t Value);

    // The driver's queue sizes; while a port is open a new size reaches the
    // driver at once.
    std::uint32_t GetInputBuffer() const;
    void SetInputBuffer(std::uint32_t Value);
    std::uint32_t GetOutputBuffer() const;
    void SetOutputBuffer(std::uint32_t Value);
    // The receive thread's priority; while a port is open it changes at once.
    tarn::host::TThreadPriority GetPriority() const;
    void SetPriority(tarn::host::TThreadPriority Value);

    // Delay and Interval are two names for the poll period in milliseconds.
    // Any thread.
    std::uint32_t GetDelay() const;
    void SetDelay(std::uint32_t Value);
    std::uint32_t GetInterval() const;
    void SetInterval(std::uint32_t Value);

    // --- Log, reading and buffering options -----------------------------------
    // Atomic flags and numbers, and strings under the component's lock. Any
    // thread.
    bool GetLogInput() const;
    void SetLogInput(bool Value);
    bool GetLogDateTime() const;
    void SetLogDateTime(bool Value);
    UnicodeString GetLogFile() const;
    void SetLogFile(const UnicodeString& Value);
    bool GetAutoReceive() const;
    void SetAutoReceive(bool Value);
    bool GetKeepEntireBuffer() const;
    void SetKeepEntireBuffer(bool Value);
    AnsiString GetNewLine() const;
    void SetNewLine(const AnsiString& Value);
    std::int32_t GetMaxLineLength() const;
    void SetMaxLineLength(std::int32_t Value);

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
    // Atomic flags and numbers, and a constant version. Any thread.
    bool GetIsSending() const;
    bool GetIsReceiving() const;
    bool GetIsFaulted() const;
    bool GetNeedSynchronization() const;
    void SetNeedSynchronization(bool Value);
    std::uint32_t GetMinCheckDisconnectedInterval() const;
    void SetMinCheckDisconnectedInterval(std::uint32_t Value);
    double GetVersion() const;
    // How the receive thread waits between its cycles. Off (the default), it
    // sleeps Delay milliseconds after every cycle. On, it sleeps in the
    // driver until bytes arrive, the device goes or the port closes, and
    // delivers each chunk as soon as it comes; the modem lines and the presence
    // check are still looked at at least every Delay. A change while a port
    // is open takes effect at the thread's next cycle. Any thread.
    bool GetWakeOnData() const;
    void SetWakeOnData(bool Value);

    // --- Opening and closing ---------------------------------------------------
    // Opens the port that Port names, with every setting, and starts the
    // receive thread. Raises "Cannot connect to ..." when it cannot. It
    // reads the line settings, so it keeps to their rule: one thread at a
    // time, the owner's or a handler's.
    void Open();
    // Stops the receive thread, which raises OnDisconnect and closes the
    // port, and waits for it (at most Delay + 4990 ms), serving the main
    // thread's queue meanwhile when it runs there. Called from inside one
    // of this component's events (or on the receive thread) it cannot wait
    // for the thread: it then raises OnDisconnect and closes the port
    // itself, and the thread finishes by itself once the event is over.
    // Any thread.
    void Close();
    // The port that is open, spNone when none. Any thread.
    TCommPort IsConnected() const;

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
    // The same on a short-lived thread of its own; returns at once. Any
    // thread.
    void SendStringOnNewThread(const AnsiString& str);
    void SendCharsOnNewThread(const AnsiString& str);
    // Waits until everything sent has left the driver's output queue and
    // the line, at most `timeoutMs` milliseconds; true when it has. False
    // at once when no port is open, and as soon as the port is closed or
    // its device goes meanwhile. Close discards what is still queued, so a
    // program whose last bytes matter drains first. Any thread.
    bool Drain(std::uint32_t timeoutMs);

    // --- Synchronous reads (AutoReceive off) -------------------------------------
    // Empty results (0) while AutoReceive is on or no port is open. Each
    // runs on the calling thread, any thread: the bytes a read takes it
    // takes under the component's input lock, and the buffers it keeps
    // under the component's lock. Reads on several threads at once share
    // out the bytes, each driver read going whole to one of them. A read
    // that waits gives way at once, empty, when a Close of the port has
    // been asked for, so that a main thread that reads can serve the
    // receive thread's last event.
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

    // --- Frames (public, not stored) -------------------------------------------
    // Whole messages cut out of the bytes that arrive, in the framing chosen
    // here; frNone, the default, leaves reception as it is. With AutoReceive
    // on, OnFrame raises each frame after the OnReceive of the chunk that
    // completed it, on the same thread; with it off, ReadFrame takes one.
    // Bytes that cannot make a frame go to OnFrameError. A change of any of
    // these while a port is open starts afresh at the next chunk, dropping
    // the unfinished frame; so do Open and Close. A setter raises
    // ETarnSerialPortException when the framing in force cannot take the
    // value (SetFraming checks all of them). Any thread.
    TFraming GetFraming() const;
    void SetFraming(TFraming Value);
    // frDelimiter: the bytes that end each frame; empty, the default, for
    // the NewLine.
    AnsiString GetFrameDelimiter() const;
    void SetFrameDelimiter(const AnsiString& Value);
    // frFixedLength: the bytes of each frame.
    std::uint32_t GetFrameLength() const;
    void SetFrameLength(std::uint32_t Value);
    // frLengthPrefixed: the length field before each frame.
    TFrameLengthField GetFrameLengthField() const;
    void SetFrameLengthField(TFrameLengthField Value);
    // frSilence: how long the line stays quiet to end a frame, in
    // milliseconds; 0, the default, for 3.5 character times at the line
    // settings (1.75 ms above 19200 bit/s), rounded up. The receive thread
    // measures it at its own pace: without WakeOnData, the gap is at least
    // Delay.
    std::uint32_t GetFrameGapMs() const;
    void SetFrameGapMs(std::uint32_t Value);
    // The longest frame, in payload bytes (default 65536): a frame that
    // grows past it is thrown away and reported, never collected for ever.
    std::uint32_t GetMaxFrameLength() const;
    void SetMaxFrameLength(std::uint32_t Value);
    TFrameEvent GetOnFrame() const;
    void SetOnFrame(TFrameEvent Value);
    TFrameErrorEvent GetOnFrameError() const;
    void SetOnFrameError(TFrameErrorEvent Value);
    // With AutoReceive off: one frame, waiting at most `timeOutMs`
    // milliseconds (0 or less: no limit); the bytes after it stay in the
    // driver. An unfinished frame at the time-out is kept for the next
    // ReadFrame. OnFrameError runs on the calling thread. Empty, or false,
    // when no frame came, AutoReceive is on, no port is open or the
    // framing is frNone; the second form tells an empty frame from none.
    AnsiString ReadFrame(std::int32_t timeOutMs);
    bool ReadFrame(std::int32_t timeOutMs, AnsiString& frame);
    // Sends `payload` as one frame of the framing in force, in one write,
    // and returns the frame's size in bytes. Raises ETarnSerialPortException
    // when the payload cannot be one frame (it holds the delimiter, it has
    // not FrameLength bytes, it is too long), as SendData does when no port
    // is open, and when the driver took only part of the frame (a write
    // time-out), which leaves the line with a broken frame.
    std::uint32_t SendFrame(const AnsiString& payload);
    // The bytes that SendFrame would write for `payload`, for a caller that
    // sends them in pieces of its own; raises ETarnSerialPortException as
    // SendFrame does when the payload cannot be one frame.
    AnsiString EncodeFrame(const AnsiString& payload) const;

    // --- Recording (public, not stored) ------------------------------------------
    // The file that records the sessions of the port, for a replay or a
    // look at what went over the line: empty, the default, for none. Each
    // Open records its session from the start, with its settings, into the
    // file afresh (it is created, or emptied: a second Open overwrites the
    // first session). Set while a port is open, a name starts the recording
    // of the rest of the session at once, into the file afresh, and an
    // empty name ends it. The format is one JSON object per line
    // (src/platform/driver/recording/recording_event.h); each event reaches
    // the file as it happens. A file that cannot be created raises
    // ETarnSerialPortException "Cannot record COM3 to NAME. ..." (with the
    // error code 0), and so does a file that another port of the process
    // records ("Cannot record COM4 to NAME: the session of COM3 is recorded
    // there. ..."), from Open, which then leaves the port closed, or from
    // this setter while a port is open, which then changes nothing.
    // Unrelated to LogFile. The owner's thread, like Open.
    AnsiString GetRecordFile() const;
    void SetRecordFile(const AnsiString& Value);
    // True while the session of the open port is being written to
    // RecordFile. A write of the file that fails (a full disk) ends the
    // recording and the port goes on working: this is how an application
    // learns that its recording stopped short. Any thread.
    bool IsRecording() const;

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
    // True while a port is open whose driver can read the modem lines now.
    // A port that cannot (a remote port whose server does not report them)
    // reads all four lines as off; this tells such lines from lines that are
    // off. Any thread.
    bool ModemLinesReadable();

private:
    friend class TTarnSerialPortTestAccess;

    // The component's state, its locks and its own operations
    // (Tarnserialport_p.h). Set by the constructor and never replaced.
    const std::unique_ptr<TTarnSerialPortPrivate> d;
};
