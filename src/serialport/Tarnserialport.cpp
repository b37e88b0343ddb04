// The component's life: construction with its defaults, the accessors of
// the options and the handlers that other threads share, and the handle
// access through the receive thread object.
#include "Tarnserialport.h"

#include <utility>

#include "Tarnserialport_p.h"
#include "com_thread_p.h"
#include "end_sequences_p.h"
#include "port_defaults_p.h"

namespace drv = tarn::driver;
using tarn::serialport::EndSequences;

namespace {
// The 32-bit build carries its own version number.
constexpr double kVersion = sizeof(void*) == 4 ? 1.68 : 1.67;

constexpr const TSerialPortDefaults& kDefaults = kSerialPortDefaults;
// The port is kept as its name, and no port has the empty one.
static_assert(kDefaults.Port == spNone, "the default port is stored as the empty name");

// The end sequence of the line reads for `newLine`; null for an empty one.
// One whose text no bytes stand for never matches: the reads run to their
// time-out, as for an end sequence given to them.
std::shared_ptr<const EndSequences> LineEndsOf(const TTarnSerialPort::AnsiString& newLine) {
    const tarn::host::UnicodeString text = tarn::host::AnsiToUnicode(newLine);
    if (text.empty()) return nullptr;
    return std::make_shared<const EndSequences>(
        std::vector<TTarnSerialPort::AnsiString>{tarn::serialport::EndSequenceBytes(text)});
}
}  // namespace

// The fields hold the line settings as the driver counts them; the table
// holds the published values.
TTarnSerialPortPrivate::TTarnSerialPortPrivate(TTarnSerialPort* component)
    : q(component),
      FPort(),
      FCustomPortName(kDefaults.CustomPortName),
      FBaudRate(BaudRateValue(kDefaults.BaudRate, kDefaults.CustomBaudRate)),
      FCustomBaudRate(kDefaults.CustomBaudRate),
      FDataWidth(DataBitsOf(kDefaults.DataWidth)),
      FParity(kDefaults.Parity),
      FStopBits(kDefaults.StopBits),
      FEnableDTROnOpen(kDefaults.EnableDTROnOpen),
      FEnableRTSOnOpen(kDefaults.EnableRTSOnOpen),
      FHwFlowControl(kDefaults.HwFlowControl),
      FSwFlowControl(kDefaults.SwFlowControl),
      FXonChar(kDefaults.XonChar),
      FXoffChar(kDefaults.XoffChar),
      FXonLim(kDefaults.XonLim),
      FXoffLim(kDefaults.XoffLim),
      FParityCheck(kDefaults.ParityCheck),
      FReplaceParityErrors(kDefaults.ReplaceParityErrors),
      FErrorChar(kDefaults.ErrorChar),
      FEofChar(kDefaults.EofChar),
      FEvtChar(kDefaults.EvtChar),
      FDiscardNulls(kDefaults.DiscardNulls),
      FDsrSensitivity(kDefaults.DsrSensitivity),
      FTXContinueOnXoff(kDefaults.TXContinueOnXoff),
      FReadIntervalTimeout(kDefaults.ReadIntervalTimeout),
      FReadTotalTimeoutMultiplier(kDefaults.ReadTotalTimeoutMultiplier),
      FReadTotalTimeoutConstant(kDefaults.ReadTotalTimeoutConstant),
      FWriteTotalTimeoutMultiplier(kDefaults.WriteTotalTimeoutMultiplier),
      FWriteTotalTimeoutConstant(kDefaults.WriteTotalTimeoutConstant),
      FInputBuffer(kDefaults.InputBuffer),
      FOutputBuffer(kDefaults.OutputBuffer),
      FPriority(kDefaults.Priority),
      FDelay(kDefaults.Delay),
      FWakeOnData(kDefaults.WakeOnData),
      FAutoReceive(kDefaults.AutoReceive),
      FNeedSynchronization(kDefaults.NeedSynchronization),
      FMinCheckDisconnectedInterval(kDefaults.MinCheckDisconnectedInterval),
      FLogInput(kDefaults.LogInput),
      FLogDateTime(kDefaults.LogDateTime),
      FLogFile(kDefaults.LogFile),
      FKeepEntireBuffer(kDefaults.KeepEntireBuffer),
      FNewLine(kDefaults.NewLine),
      FMaxLineLength(kDefaults.MaxLineLength),
      FFrameSettings{kDefaults.Framing, "", kDefaults.FrameLength, kDefaults.FrameLengthField,
                     kDefaults.MaxFrameLength},
      FFrameGapMs(kDefaults.FrameGapMs),
      FLineEnds(LineEndsOf(FNewLine)) {}

TTarnSerialPort::TTarnSerialPort(tarn::host::TComponent* AOwner)
    : tarn::host::TComponent(AOwner), d(std::make_unique<TTarnSerialPortPrivate>(this)) {}

void TTarnSerialPortPrivate::ResetReadCounts() {
    {
        // The reads add to the count in their hold of the input.
        std::lock_guard<std::mutex> input(FInputLock);
        FReadBytes = 0;
    }
    FSignaledBytes = 0;
    // Where the counts start again, so do the frames: at Open, at Close and
    // when the reader changes.
    ++FFramingGeneration;
}

TTarnSerialPortPrivate::TReceiveSettings TTarnSerialPortPrivate::ReceiveSettings() const {
    const std::uint32_t delay = FDelay.load();
    return {delay,
            FWakeOnData.load(),
            FAutoReceive.load(),
            FNeedSynchronization.load(),
            FMaxLineLength.load(),
            delay >= FMinCheckDisconnectedInterval.load()};
}

TComThread* TTarnSerialPortPrivate::CurrentThread() const {
    std::lock_guard<std::mutex> lock(FLock);
    return ComThread;
}

TTarnSerialPortPrivate::HANDLE TTarnSerialPortPrivate::PortHandle() const {
    return FComHandle.load(std::memory_order_acquire);
}

void TTarnSerialPortPrivate::ForgetPortHandle(HANDLE handle) {
    // A port opened again meanwhile has a handle of its own, which stays.
    FComHandle.compare_exchange_strong(handle, drv::INVALID_HANDLE_VALUE);
}

void TTarnSerialPortPrivate::SetComThread(TComThread* thread) {
    ComThread = thread;
    FComHandle.store(thread != nullptr ? thread->GetPortHandle() : drv::INVALID_HANDLE_VALUE,
                     std::memory_order_release);
}

TTarnSerialPortPrivate::TOpenConnection TTarnSerialPortPrivate::OpenConnection() const {
    std::lock_guard<std::mutex> lock(FLock);
    TOpenConnection connection;
    if (ComThread == nullptr) return connection;
    connection.handle = ComThread->GetPortHandle();
    connection.serial = ComThread->Serial();
    connection.name = ComThread->OpenedName();
    return connection;
}

TTarnSerialPortPrivate::AnsiString TTarnSerialPortPrivate::RawPort() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPort;
}

TTarnSerialPortPrivate::AnsiString TTarnSerialPortPrivate::LastReadBuffer() const {
    std::lock_guard<std::mutex> lock(FInputLock);
    return FReadBuffer;
}

tarn::host::TThreadPriority TTarnSerialPort::GetPriority() const { return d->FPriority; }

void TTarnSerialPort::SetPriority(tarn::host::TThreadPriority Value) {
    if (d->FPriority == Value) return;
    d->FPriority = Value;
    std::lock_guard<std::mutex> lock(d->FLock);
    if (d->ComThread) d->ComThread->SetPriority(Value);
}

namespace {

// A receive thread asleep in the driver may wait there without a period
// where nothing it looks at can change: after a change of the settings it
// looks again now. The handle may be closing meanwhile; handles are never
// reused, so the call then fails harmlessly.
void WakeWaitsOf(const TTarnSerialPortPrivate& d) {
    const drv::HANDLE handle = d.PortHandle();
    if (handle != drv::INVALID_HANDLE_VALUE) drv::WakeCommWaits(handle);
}

}  // namespace

std::uint32_t TTarnSerialPort::GetDelay() const { return d->FDelay; }
void TTarnSerialPort::SetDelay(std::uint32_t Value) {
    d->FDelay = Value;
    // Delay turns the presence check on and off.
    WakeWaitsOf(*d);
}
std::uint32_t TTarnSerialPort::GetInterval() const { return d->FDelay; }
void TTarnSerialPort::SetInterval(std::uint32_t Value) { SetDelay(Value); }

bool TTarnSerialPort::GetLogInput() const { return d->FLogInput; }
void TTarnSerialPort::SetLogInput(bool Value) { d->FLogInput = Value; }
bool TTarnSerialPort::GetLogDateTime() const { return d->FLogDateTime; }
void TTarnSerialPort::SetLogDateTime(bool Value) { d->FLogDateTime = Value; }

TTarnSerialPort::UnicodeString TTarnSerialPort::GetLogFile() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FLogFile;
}

void TTarnSerialPort::SetLogFile(const UnicodeString& Value) {
    std::lock_guard<std::mutex> lock(d->FLock);
    d->FLogFile = Value;
}

bool TTarnSerialPort::GetAutoReceive() const { return d->FAutoReceive; }

void TTarnSerialPort::SetAutoReceive(bool Value) {
    if (d->FAutoReceive.exchange(Value) == Value) return;
    d->ResetReadCounts();
    // The receive thread's wait depends on it.
    WakeWaitsOf(*d);
}

bool TTarnSerialPort::GetKeepEntireBuffer() const { return d->FKeepEntireBuffer; }
void TTarnSerialPort::SetKeepEntireBuffer(bool Value) { d->FKeepEntireBuffer = Value; }

TTarnSerialPort::AnsiString TTarnSerialPort::GetNewLine() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FNewLine;
}

void TTarnSerialPort::SetNewLine(const AnsiString& Value) {
    // Made before anything changes, so that running out of memory changes
    // nothing.
    std::shared_ptr<const EndSequences> ends = LineEndsOf(Value);
    std::uint64_t change = 0;
    {
        std::lock_guard<std::mutex> lock(d->FLock);
        // Framed by the NewLine, an empty one would leave no delimiter at all.
        if (Value.empty() && d->FFrameSettings.framing == frDelimiter &&
            d->FFrameSettings.delimiter.empty()) {
            throw ETarnSerialPortException(
                "The NewLine is the frame delimiter and cannot be empty while frDelimiter is in "
                "force");
        }
        d->FNewLine = Value;
        change = ++d->FNewLineChanges;
        // The NewLine is the frame delimiter while none is set.
        if (d->FFrameSettings.delimiter.empty()) d->RemakeFramingLocked();
    }
    // The line reads look the ends up in their hold of the input, which is
    // never taken while the component's lock is held.
    {
        std::lock_guard<std::mutex> input(d->FInputLock);
        if (change <= d->FLineEndsOf) return;
        d->FLineEnds = std::move(ends);
        d->FLineEndsOf = change;
    }
    // A line read that waits looks again now: an empty NewLine ends it.
    WakeWaitsOf(*d);
}

std::int32_t TTarnSerialPort::GetMaxLineLength() const { return d->FMaxLineLength; }
void TTarnSerialPort::SetMaxLineLength(std::int32_t Value) { d->FMaxLineLength = Value; }

bool TTarnSerialPort::GetIsSending() const { return d->FIsSending; }
bool TTarnSerialPort::GetIsReceiving() const { return d->FIsReceiving; }
bool TTarnSerialPort::GetIsFaulted() const { return d->FIsFaulted; }
bool TTarnSerialPort::GetNeedSynchronization() const { return d->FNeedSynchronization; }
void TTarnSerialPort::SetNeedSynchronization(bool Value) { d->FNeedSynchronization = Value; }

std::uint32_t TTarnSerialPort::GetMinCheckDisconnectedInterval() const {
    return d->FMinCheckDisconnectedInterval;
}

void TTarnSerialPort::SetMinCheckDisconnectedInterval(std::uint32_t Value) {
    d->FMinCheckDisconnectedInterval = Value;
    WakeWaitsOf(*d);
}

double TTarnSerialPort::GetVersion() const { return kVersion; }
bool TTarnSerialPort::GetWakeOnData() const { return d->FWakeOnData; }
void TTarnSerialPort::SetWakeOnData(bool Value) {
    d->FWakeOnData = Value;
    WakeWaitsOf(*d);
}

TCommPort TTarnSerialPort::IsConnected() const { return d->ConnectedTo; }

#define TARN_HANDLER_ACCESSORS(Name, Type)          \
    Type TTarnSerialPort::Get##Name() const {       \
        std::lock_guard<std::mutex> lock(d->FLock); \
        return d->F##Name;                          \
    }                                               \
    void TTarnSerialPort::Set##Name(Type Value) {   \
        std::lock_guard<std::mutex> lock(d->FLock); \
        d->F##Name = std::move(Value);              \
    }

TARN_HANDLER_ACCESSORS(OnReceive, TSendReceiveEvent)
TARN_HANDLER_ACCESSORS(OnSend, TSendReceiveEvent)
TARN_HANDLER_ACCESSORS(OnLineStatusChange, TLineStatusEvent)
TARN_HANDLER_ACCESSORS(OnConnect, TConnectEvent)
TARN_HANDLER_ACCESSORS(OnDisconnect, TConnectEvent)
TARN_HANDLER_ACCESSORS(OnFault, TConnectEvent)

#undef TARN_HANDLER_ACCESSORS
