// Line settings: the rate table, the readers and setters of the line
// properties, and the three apply operations that hand the settings to the
// driver of an open port.
#include "Tarnserialport.h"
#include "com_thread.h"

namespace drv = tarn::driver;

namespace {

constexpr std::int32_t kBaudRates[] = {75,    110,   134,    150,    300,    600,
                                       1200,  1800,  2400,   4800,   7200,   9600,
                                       14400, 19200, 38400,  57600,  115200, 128000,
                                       230400, 256000, 460800, 921600};
static_assert(sizeof(kBaudRates) / sizeof(kBaudRates[0]) == brCustom,
              "one rate for each literal before brCustom");

const char kInvalidWidthAndStop[] = "Invalid data-width and stop-bits combination.";

}  // namespace

std::int32_t TTarnSerialPort::BaudRateToInt(TBaudRate pBaudRate) const {
    if (pBaudRate >= brCustom) return FCustomBaudRate;
    return kBaudRates[pBaudRate];
}

TBaudRate TTarnSerialPort::IntToBaudRate(std::int32_t Value) const {
    for (int i = 0; i < brCustom; ++i) {
        if (kBaudRates[i] == Value) return static_cast<TBaudRate>(i);
    }
    return brCustom;
}

TBaudRate TTarnSerialPort::GetBaudRate() const { return IntToBaudRate(FBaudRate); }

TDataWidth TTarnSerialPort::GetDataWidth() const {
    switch (FDataWidth) {
        case 5: return dw5Bits;
        case 6: return dw6Bits;
        case 7: return dw7Bits;
        default: return dw8Bits;
    }
}

TParityBits TTarnSerialPort::GetParity() const {
    return FParity <= pbSpace ? static_cast<TParityBits>(FParity) : pbNone;
}

TStopBits TTarnSerialPort::GetStopBits() const {
    return FStopBits <= sb2Bits ? static_cast<TStopBits>(FStopBits) : sb1Bit;
}

bool TTarnSerialPort::ValidWidthAndStop(std::uint8_t dataBits, std::uint8_t stopCode) {
    // Five data bits go with one or one and a half stop bits; six to eight
    // with one or two, as UARTs allow.
    if (dataBits == 5) return stopCode != drv::TWOSTOPBITS;
    return stopCode != drv::ONE5STOPBITS;
}

void TTarnSerialPort::SetBaudRate(TBaudRate Value) {
    FBaudRate = BaudRateToInt(Value);
    ReapplyDCB();
}

void TTarnSerialPort::SetCustomBaudRate(std::int32_t Value) {
    FCustomBaudRate = Value;
    if (GetBaudRate() == brCustom) {
        FBaudRate = FCustomBaudRate;
        ReapplyDCB();
    }
}

void TTarnSerialPort::SetDataWidth(TDataWidth Value) {
    const std::uint8_t bits = Value <= dw8Bits ? static_cast<std::uint8_t>(5 + Value) : 8;
    if (!ValidWidthAndStop(bits, FStopBits)) throw ETarnSerialPortException(kInvalidWidthAndStop);
    FDataWidth = bits;
    ReapplyDCB();
}

void TTarnSerialPort::SetParity(TParityBits Value) {
    if (Value <= pbSpace) FParity = Value;
    ReapplyDCB();
}

void TTarnSerialPort::SetStopBits(TStopBits Value) {
    if (Value <= sb2Bits) {
        if (!ValidWidthAndStop(FDataWidth, Value)) {
            throw ETarnSerialPortException(kInvalidWidthAndStop);
        }
        FStopBits = Value;
    }
    ReapplyDCB();
}

// The simple setters: equal values change nothing; others are stored and
// the whole block is applied again while a port is open.
#define TARN_DCB_SETTER(Name, Type)                        \
    void TTarnSerialPort::Set##Name(Type Value) {          \
        if (F##Name == Value) return;                      \
        F##Name = Value;                                   \
        ReapplyDCB();                                      \
    }

TARN_DCB_SETTER(EnableDTROnOpen, bool)
TARN_DCB_SETTER(EnableRTSOnOpen, bool)
TARN_DCB_SETTER(HwFlowControl, THwFlowControl)
TARN_DCB_SETTER(SwFlowControl, TSwFlowControl)
TARN_DCB_SETTER(XonChar, char)
TARN_DCB_SETTER(XoffChar, char)
TARN_DCB_SETTER(XonLim, std::uint16_t)
TARN_DCB_SETTER(XoffLim, std::uint16_t)
TARN_DCB_SETTER(ParityCheck, bool)
TARN_DCB_SETTER(ReplaceParityErrors, bool)
TARN_DCB_SETTER(DiscardNulls, bool)
TARN_DCB_SETTER(DsrSensitivity, bool)
TARN_DCB_SETTER(TXContinueOnXoff, bool)
TARN_DCB_SETTER(ErrorChar, char)
TARN_DCB_SETTER(EofChar, char)
TARN_DCB_SETTER(EvtChar, char)

#undef TARN_DCB_SETTER

void TTarnSerialPort::SetInputBuffer(std::uint32_t Value) {
    if (FInputBuffer == Value) return;
    FInputBuffer = Value;
    // Only the queue sizes: the XON limit derived from the old size stays in
    // force until the block is applied again.
    if (CurrentThread() != nullptr) SetBuffers(PortHandle());
}

void TTarnSerialPort::SetOutputBuffer(std::uint32_t Value) {
    if (FOutputBuffer == Value) return;
    FOutputBuffer = Value;
    if (CurrentThread() != nullptr) SetBuffers(PortHandle());
}

void TTarnSerialPort::ReapplyDCB() {
    if (CurrentThread() != nullptr) SetDCBState(PortHandle());
}

drv::DCB TTarnSerialPort::BuildDCB() const {
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

bool TTarnSerialPort::SetDCBState(HANDLE handle) {
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    // The block carries the rate unsigned, so a negative one would reach the
    // driver as billions of bits per second. It is refused here as a driver
    // refuses a setting, and the stored value stays as it was set.
    std::uint32_t error = drv::ERROR_INVALID_PARAMETER;
    if (FBaudRate > 0) {
        try {
            ClearInputBuffer();
            const drv::DCB dcb = BuildDCB();
            if (drv::SetCommState(handle, dcb)) return true;
        } catch (...) {
            return false;
        }
        error = drv::GetLastError();
    }
    // The block was refused: the connection ends. The driver's error code
    // stays what the caller finds afterwards.
    Close();
    drv::SetLastError(error);
    return false;
}

bool TTarnSerialPort::SetTimeOuts(HANDLE handle) {
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

bool TTarnSerialPort::SetBuffers(HANDLE handle) {
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    try {
        return drv::SetupComm(handle, FInputBuffer, FOutputBuffer);
    } catch (...) {
        return false;
    }
}
