// Line settings: the rate table, the readers and setters of the line
// properties, the time-outs and the queue sizes, and the apply operations
// that hand the settings to the driver of a port when it opens and, for the
// line properties and the queue sizes, while it is open.
#include "Tarnserialport.h"
#include "Tarnserialport_p.h"

namespace drv = tarn::driver;

namespace {

constexpr std::int32_t kBaudRates[] = {75,     110,    134,    150,    300,    600,   1200,  1800,
                                       2400,   4800,   7200,   9600,   14400,  19200, 38400, 57600,
                                       115200, 128000, 230400, 256000, 460800, 921600};
static_assert(sizeof(kBaudRates) / sizeof(kBaudRates[0]) == brCustom,
              "one rate for each literal before brCustom");

const char kInvalidWidthAndStop[] = "Invalid data-width and stop-bits combination.";

// The fields hold parity and stop bits as the driver's codes, which are the
// ordinals of the enumerations.
static_assert(drv::NOPARITY == pbNone && drv::ONESTOPBIT == sb1Bit &&
                  drv::ONE5STOPBITS == sb1_5Bits && drv::TWOSTOPBITS == sb2Bits,
              "parity and stop bits are stored as the driver's codes");

}  // namespace

std::int32_t BaudRateValue(TBaudRate rate, std::int32_t customRate) {
    if (rate >= brCustom) return customRate;
    return kBaudRates[rate];
}

std::uint8_t DataBitsOf(TDataWidth width) {
    return width <= dw8Bits ? static_cast<std::uint8_t>(5 + width) : 8;
}

std::int32_t TTarnSerialPort::BaudRateToInt(TBaudRate pBaudRate) const {
    return BaudRateValue(pBaudRate, d->FCustomBaudRate);
}

TBaudRate TTarnSerialPort::IntToBaudRate(std::int32_t Value) const {
    for (int i = 0; i < brCustom; ++i) {
        if (kBaudRates[i] == Value) return static_cast<TBaudRate>(i);
    }
    return brCustom;
}

TBaudRate TTarnSerialPort::GetBaudRate() const { return IntToBaudRate(d->FBaudRate); }

TDataWidth TTarnSerialPort::GetDataWidth() const {
    switch (d->FDataWidth) {
        case 5:
            return dw5Bits;
        case 6:
            return dw6Bits;
        case 7:
            return dw7Bits;
        default:
            return dw8Bits;
    }
}

TParityBits TTarnSerialPort::GetParity() const {
    return d->FParity <= pbSpace ? static_cast<TParityBits>(d->FParity) : pbNone;
}

TStopBits TTarnSerialPort::GetStopBits() const {
    return d->FStopBits <= sb2Bits ? static_cast<TStopBits>(d->FStopBits) : sb1Bit;
}

std::int32_t TTarnSerialPort::GetCustomBaudRate() const { return d->FCustomBaudRate; }

void TTarnSerialPort::SetBaudRate(TBaudRate Value) {
    d->FBaudRate = BaudRateToInt(Value);
    d->ReapplyDCB();
}

void TTarnSerialPort::SetCustomBaudRate(std::int32_t Value) {
    d->FCustomBaudRate = Value;
    if (GetBaudRate() == brCustom) {
        d->FBaudRate = d->FCustomBaudRate;
        d->ReapplyDCB();
    }
}

void TTarnSerialPort::SetDataWidth(TDataWidth Value) {
    if (!IsValidWidthAndStop(Value, GetStopBits())) {
        throw ETarnSerialPortException(kInvalidWidthAndStop);
    }
    d->FDataWidth = DataBitsOf(Value);
    d->ReapplyDCB();
}

void TTarnSerialPort::SetParity(TParityBits Value) {
    if (Value <= pbSpace) d->FParity = Value;
    d->ReapplyDCB();
}

void TTarnSerialPort::SetStopBits(TStopBits Value) {
    if (Value <= sb2Bits) {
        if (!IsValidWidthAndStop(GetDataWidth(), Value)) {
            throw ETarnSerialPortException(kInvalidWidthAndStop);
        }
        d->FStopBits = Value;
    }
    d->ReapplyDCB();
}

// The simple settings: equal values change nothing; others are stored and
// the whole block is applied again while a port is open.
#define TARN_DCB_SETTING(Name, Type)                               \
    Type TTarnSerialPort::Get##Name() const { return d->F##Name; } \
    void TTarnSerialPort::Set##Name(Type Value) {                  \
        if (d->F##Name == Value) return;                           \
        d->F##Name = Value;                                        \
        d->ReapplyDCB();                                           \
    }

TARN_DCB_SETTING(EnableDTROnOpen, bool)
TARN_DCB_SETTING(EnableRTSOnOpen, bool)
TARN_DCB_SETTING(HwFlowControl, THwFlowControl)
TARN_DCB_SETTING(SwFlowControl, TSwFlowControl)
TARN_DCB_SETTING(XonChar, char)
TARN_DCB_SETTING(XoffChar, char)
TARN_DCB_SETTING(XonLim, std::uint16_t)
TARN_DCB_SETTING(XoffLim, std::uint16_t)
TARN_DCB_SETTING(ParityCheck, bool)
TARN_DCB_SETTING(ReplaceParityErrors, bool)
TARN_DCB_SETTING(DiscardNulls, bool)
TARN_DCB_SETTING(DsrSensitivity, bool)
TARN_DCB_SETTING(TXContinueOnXoff, bool)
TARN_DCB_SETTING(ErrorChar, char)
TARN_DCB_SETTING(EofChar, char)
TARN_DCB_SETTING(EvtChar, char)

#undef TARN_DCB_SETTING

// The time-outs reach the driver at the next Open only.
#define TARN_TIMEOUT_SETTING(Name)                                          \
    std::uint32_t TTarnSerialPort::Get##Name() const { return d->F##Name; } \
    void TTarnSerialPort::Set##Name(std::uint32_t Value) { d->F##Name = Value; }

TARN_TIMEOUT_SETTING(ReadIntervalTimeout)
TARN_TIMEOUT_SETTING(ReadTotalTimeoutMultiplier)
TARN_TIMEOUT_SETTING(ReadTotalTimeoutConstant)
TARN_TIMEOUT_SETTING(WriteTotalTimeoutMultiplier)
TARN_TIMEOUT_SETTING(WriteTotalTimeoutConstant)

#undef TARN_TIMEOUT_SETTING

std::uint32_t TTarnSerialPort::GetInputBuffer() const { return d->FInputBuffer; }

void TTarnSerialPort::SetInputBuffer(std::uint32_t Value) {
    if (d->FInputBuffer == Value) return;
    d->FInputBuffer = Value;
    // Only the queue sizes: the XON limit derived from the old size stays in
    // force until the block is applied again.
    if (d->CurrentThread() != nullptr) d->SetBuffers(d->PortHandle());
}

std::uint32_t TTarnSerialPort::GetOutputBuffer() const { return d->FOutputBuffer; }

void TTarnSerialPort::SetOutputBuffer(std::uint32_t Value) {
    if (d->FOutputBuffer == Value) return;
    d->FOutputBuffer = Value;
    if (d->CurrentThread() != nullptr) d->SetBuffers(d->PortHandle());
}

void TTarnSerialPortPrivate::ReapplyDCB() {
    UpdateLineGap();
    if (CurrentThread() != nullptr) SetDCBState(PortHandle());
}

std::uint32_t TTarnSerialPortPrivate::ApplySettingsOnOpen(HANDLE handle) {
    UpdateLineGap();
    if (!SetDCBState(handle)) {
        const std::uint32_t error = drv::GetLastError();
        return error == drv::ERROR_SUCCESS ? drv::ERROR_INVALID_PARAMETER : error;
    }
    SetTimeOuts(handle);
    SetBuffers(handle);
    return drv::ERROR_SUCCESS;
}

drv::DCB TTarnSerialPortPrivate::BuildDCB() const {
    drv::DCB dcb{};
    dcb.DCBlength = sizeof(drv::DCB);
    dcb.BaudRate = static_cast<std::uint32_t>(FBaudRate);
    dcb.ByteSize = FDataWidth;
    dcb.StopBits = FStopBits;
    dcb.Parity = FParity;

    std::uint32_t flags = drv::DCB_fBinary;
    // A line that is handshaken is driven by the flow control, so the
    // handshake mode wins over "raise on open" for the same line; or-ing
    // both into the two-bit field would give 3, a mode nobody asked for.
    std::uint32_t dtr = drv::DTR_CONTROL_DISABLE;
    if (FHwFlowControl == hfDTRDSR) {
        dtr = drv::DTR_CONTROL_HANDSHAKE;
    } else if (FEnableDTROnOpen) {
        dtr = drv::DTR_CONTROL_ENABLE;
    }
    std::uint32_t rts = drv::RTS_CONTROL_DISABLE;
    if (FHwFlowControl == hfRTSCTS) {
        rts = drv::RTS_CONTROL_HANDSHAKE;
    } else if (FEnableRTSOnOpen) {
        rts = drv::RTS_CONTROL_ENABLE;
    }
    flags |= dtr << drv::DCB_fDtrControlShift;
    flags |= rts << drv::DCB_fRtsControlShift;
    if (FHwFlowControl == hfDTRDSR) flags |= drv::DCB_fOutxDsrFlow;
    if (FHwFlowControl == hfRTSCTS) flags |= drv::DCB_fOutxCtsFlow;
    if (FSwFlowControl == sfXONXOFF) flags |= drv::DCB_fOutX | drv::DCB_fInX;
    dcb.XonChar = FXonChar;
    dcb.XoffChar = FXoffChar;
    dcb.XonLim = FXonLim > 0 ? FXonLim : static_cast<std::uint16_t>(FInputBuffer / 4);
    dcb.XoffLim = FXoffLim;
    if (FParityCheck) flags |= drv::DCB_fParity;
    if (FReplaceParityErrors) flags |= drv::DCB_fErrorChar;
    if (FDiscardNulls) flags |= drv::DCB_fNull;
    if (FDsrSensitivity) flags |= drv::DCB_fDsrSensitivity;
    if (FTXContinueOnXoff) flags |= drv::DCB_fTXContinueOnXoff;
    dcb.Flags = flags;
    dcb.ErrorChar = FErrorChar;
    dcb.EofChar = FEofChar;
    dcb.EvtChar = FEvtChar;
    return dcb;
}

bool TTarnSerialPortPrivate::SetDCBState(HANDLE handle) {
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    // The block carries the rate unsigned, so a negative one would reach the
    // driver as billions of bits per second. It is refused here as a driver
    // refuses a setting, and the stored value stays as it was set.
    std::uint32_t error = drv::ERROR_INVALID_PARAMETER;
    if (FBaudRate > 0) {
        try {
            q->ClearInputBuffer();
            const drv::DCB dcb = BuildDCB();
            if (drv::SetCommState(handle, dcb)) return true;
        } catch (...) {
            return false;
        }
        error = drv::GetLastError();
    }
    // The block was refused: the connection ends. The driver's error code
    // stays what the caller finds afterwards.
    q->Close();
    drv::SetLastError(error);
    return false;
}

bool TTarnSerialPortPrivate::SetTimeOuts(HANDLE handle) {
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    try {
        const drv::COMMTIMEOUTS timeouts{FReadIntervalTimeout, FReadTotalTimeoutMultiplier,
                                         FReadTotalTimeoutConstant, FWriteTotalTimeoutMultiplier,
                                         FWriteTotalTimeoutConstant};
        return drv::SetCommTimeouts(handle, timeouts);
    } catch (...) {
        return false;
    }
}

bool TTarnSerialPortPrivate::SetBuffers(HANDLE handle) {
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    try {
        return drv::SetupComm(handle, FInputBuffer, FOutputBuffer);
    } catch (...) {
        return false;
    }
}
