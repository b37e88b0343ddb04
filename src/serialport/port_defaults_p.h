// The defaults of the component's properties, each written once. The
// constructor stores them (the line settings converted to the driver's
// values that its fields hold), and the class of the component records the
// published ones (serial_port_class.cpp), so that a stored form leaves out
// a property that still has its default.
#pragma once

#include <cstdint>

#include "host_thread.h"
#include "serial_types.h"

struct TSerialPortDefaults {
    // Published, in the order of the class.
    TCommPort Port = spNone;
    TBaudRate BaudRate = br004800;
    TDataWidth DataWidth = dw8Bits;
    TStopBits StopBits = sb1Bit;
    TParityBits Parity = pbNone;
    bool EnableDTROnOpen = true;
    bool EnableRTSOnOpen = true;
    THwFlowControl HwFlowControl = hfNONE;
    TSwFlowControl SwFlowControl = sfNONE;
    char XonChar = 17;
    char XoffChar = 19;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 1;
    bool ParityCheck = false;
    bool ReplaceParityErrors = false;
    bool DiscardNulls = false;
    bool DsrSensitivity = false;
    bool TXContinueOnXoff = false;
    char ErrorChar = 0;
    char EofChar = 26;
    char EvtChar = 26;
    std::uint32_t ReadIntervalTimeout = 0xFFFFFFFFu;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 100;
    std::uint32_t WriteTotalTimeoutConstant = 1000;
    std::uint32_t InputBuffer = 4096;
    std::uint32_t OutputBuffer = 4096;
    tarn::host::TThreadPriority Priority = tarn::host::tpNormal;
    // Delay and Interval, one poll period under two names.
    std::uint32_t Delay = 100;
    std::int32_t CustomBaudRate = 0;
    bool LogInput = false;
    bool LogDateTime = false;
    bool KeepEntireBuffer = false;
    std::int32_t MaxLineLength = 0;
    // Published, but with no default recorded: a stored form always holds
    // them, whatever their value.
    const char* CustomPortName = "vcom1";
    const char16_t* LogFile = u"";
    bool AutoReceive = true;
    const char* NewLine = "\r\n";

    // Public, not stored.
    bool NeedSynchronization = true;
    std::uint32_t MinCheckDisconnectedInterval = 50;
    bool WakeOnData = false;
    TFraming Framing = frNone;
    std::uint32_t FrameLength = 1;
    TFrameLengthField FrameLengthField = lf8Bit;
    std::uint32_t FrameGapMs = 0;
    std::uint32_t MaxFrameLength = 65536;
};

inline constexpr TSerialPortDefaults kSerialPortDefaults{};
