// The component's life: construction with its defaults, destruction, the
// accessors of the fields that other threads share, and the handle access
// through the receive thread object.
#include "Tarnserialport.h"

#include <utility>

#include "com_thread.h"

namespace drv = tarn::driver;

namespace {
// The 32-bit build carries its own version number.
constexpr double kVersion = sizeof(void*) == 4 ? 1.68 : 1.67;
}  // namespace

TTarnSerialPort::TTarnSerialPort(tarn::host::TComponent* AOwner)
    : tarn::host::TComponent(AOwner) {
    // The defaults, in the order in which the fields are initialised.
    FVersion = kVersion;
    FPort.clear();
    FBaudRate = 4800;
    FDataWidth = 8;
    FStopBits = drv::ONESTOPBIT;
    FParity = drv::NOPARITY;
    FEnableDTROnOpen = true;
    FEnableRTSOnOpen = true;
    FHwFlowControl = hfNONE;
    FSwFlowControl = sfNONE;
    FXonChar = 17;
    FXoffChar = 19;
    FXonLim = 0;
    FXoffLim = 1;
    FParityCheck = false;
    FReplaceParityErrors = false;
    FErrorChar = 0;
    FEofChar = 26;
    FEvtChar = 26;
    FDiscardNulls = false;
    FDsrSensitivity = false;
    FTXContinueOnXoff = false;
    FPriority = tarn::host::tpNormal;
    FInputBuffer = 4096;
    FOutputBuffer = 4096;
    FReadIntervalTimeout = 0xFFFFFFFFu;
    FReadTotalTimeoutMultiplier = 0;
    FReadTotalTimeoutConstant = 0;
    FWriteTotalTimeoutMultiplier = 100;
    FWriteTotalTimeoutConstant = 1000;
    FReadBuffer.clear();
    FLineStatus = 0;
    FEntireBuffer.clear();
    FKeepEntireBuffer = false;
    FDelay = 100;
    FCustomPortName = "vcom1";
    FCustomBaudRate = 0;
    FAutoReceive = true;
    InitSyncCommunicationParams();
    FNewLine = "\r\n";
    FMaxLineLength = 0;
    FOnReceive = nullptr;
    FOnSend = nullptr;
    FOnLineStatusChange = nullptr;
    FOnConnect = nullptr;
    FOnDisconnect = nullptr;
    FOnFault = nullptr;
    ComThread = nullptr;
    ConnectedTo = spNone;
    FIsSending = false;
    FIsReceiving = false;
    FIsFaulted = false;
    FNeedSynchronization = true;
    FMinCheckDisconnectedInterval = 50;
    FLogInput = false;
    FLogDateTime = false;
    FLogFile.clear();
}

void TTarnSerialPort::InitSyncCommunicationParams() {
    FReadBytes = 0;
    FSignaledBytes = 0;
}

TComThread* TTarnSerialPort::CurrentThread() const {
    std::lock_guard<std::mutex> lock(FLock);
    return ComThread;
}

TTarnSerialPort::HANDLE TTarnSerialPort::PortHandle() const {
    // The thread unregisters itself under this lock before it ends, so the
    // object is alive while the lock is held.
    std::lock_guard<std::mutex> lock(FLock);
    return ComThread ? ComThread->GetPortHandle() : drv::INVALID_HANDLE_VALUE;
}

TTarnSerialPort::TOpenConnection TTarnSerialPort::OpenConnection() const {
    std::lock_guard<std::mutex> lock(FLock);
    TOpenConnection connection;
    if (ComThread == nullptr) return connection;
    connection.handle = ComThread->GetPortHandle();
    connection.serial = ComThread->Serial();
    connection.name = ComThread->OpenedName();
    return connection;
}

TTarnSerialPort::AnsiString TTarnSerialPort::GetRawPort() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPort;
}

TTarnSerialPort::AnsiString TTarnSerialPort::GetReadBufferCopy() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FReadBuffer;
}

void TTarnSerialPort::SetPriority(tarn::host::TThreadPriority Value) {
    if (FPriority == Value) return;
    FPriority = Value;
    std::lock_guard<std::mutex> lock(FLock);
    if (ComThread) ComThread->SetPriority(Value);
}

void TTarnSerialPort::SetAutoReceive(bool Value) {
    if (FAutoReceive.exchange(Value) != Value) InitSyncCommunicationParams();
}

TTarnSerialPort::UnicodeString TTarnSerialPort::GetLogFile() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FLogFile;
}

void TTarnSerialPort::SetLogFile(const UnicodeString& Value) {
    std::lock_guard<std::mutex> lock(FLock);
    FLogFile = Value;
}

TTarnSerialPort::AnsiString TTarnSerialPort::GetNewLine() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FNewLine;
}

void TTarnSerialPort::SetNewLine(const AnsiString& Value) {
    std::lock_guard<std::mutex> lock(FLock);
    FNewLine = Value;
}

#define TARN_HANDLER_ACCESSORS(Name, Type)                 \
    Type TTarnSerialPort::Get##Name() const {              \
        std::lock_guard<std::mutex> lock(FLock);           \
        return F##Name;                                    \
    }                                                      \
    void TTarnSerialPort::Set##Name(Type Value) {          \
        std::lock_guard<std::mutex> lock(FLock);           \
        F##Name = std::move(Value);                        \
    }

TARN_HANDLER_ACCESSORS(OnReceive, TSendReceiveEvent)
TARN_HANDLER_ACCESSORS(OnSend, TSendReceiveEvent)
TARN_HANDLER_ACCESSORS(OnLineStatusChange, TLineStatusEvent)
TARN_HANDLER_ACCESSORS(OnConnect, TConnectEvent)
TARN_HANDLER_ACCESSORS(OnDisconnect, TConnectEvent)
TARN_HANDLER_ACCESSORS(OnFault, TConnectEvent)

#undef TARN_HANDLER_ACCESSORS
