// The published properties of the component, in declaration order, with
// the defaults recorded for stored forms. A stored form omits a property
// equal to its default and reads properties back in this order, so
// DataWidth comes before StopBits and Port before CustomPortName.
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "host_published.h"

using tarn::host::UnicodeString;

namespace {

std::vector<UnicodeString> CommPortNames() {
    std::vector<UnicodeString> names{u"spNone"};
    for (int n = 1; n <= 254; ++n) names.push_back(tarn::host::AnsiToUnicode("spCOM" + std::to_string(n)));
    names.push_back(u"spCustom");
    return names;
}

std::vector<UnicodeString> BaudRateNames() {
    return {u"br000075", u"br000110", u"br000134", u"br000150", u"br000300", u"br000600",
            u"br001200", u"br001800", u"br002400", u"br004800", u"br007200", u"br009600",
            u"br014400", u"br019200", u"br038400", u"br057600", u"br115200", u"br128000",
            u"br230400", u"br256000", u"br460800", u"br921600", u"brCustom"};
}

const tarn::host::TComponentClass& MakeClass() {
    using C = TTarnSerialPort;
    using P = tarn::host::Prop<C>;
    static const tarn::host::TComponentClass cls = tarn::host::DeclareClass<C>(
        u"TTarnSerialPort",
        {
            P::Enum(u"Port", CommPortNames(), &C::GetPort, &C::SetPort, spNone),
            P::Enum(u"BaudRate", BaudRateNames(), &C::GetBaudRate, &C::SetBaudRate, br004800),
            P::Enum(u"DataWidth", {u"dw5Bits", u"dw6Bits", u"dw7Bits", u"dw8Bits"},
                    &C::GetDataWidth, &C::SetDataWidth, dw8Bits),
            P::Enum(u"StopBits", {u"sb1Bit", u"sb1_5Bits", u"sb2Bits"}, &C::GetStopBits,
                    &C::SetStopBits, sb1Bit),
            P::Enum(u"Parity", {u"pbNone", u"pbOdd", u"pbEven", u"pbMark", u"pbSpace"},
                    &C::GetParity, &C::SetParity, pbNone),
            P::Bool(u"EnableDTROnOpen", &C::GetEnableDTROnOpen, &C::SetEnableDTROnOpen, true),
            P::Bool(u"EnableRTSOnOpen", &C::GetEnableRTSOnOpen, &C::SetEnableRTSOnOpen, true),
            P::Enum(u"HwFlowControl", {u"hfNONE", u"hfDTRDSR", u"hfRTSCTS"},
                    &C::GetHwFlowControl, &C::SetHwFlowControl, hfNONE),
            P::Enum(u"SwFlowControl", {u"sfNONE", u"sfXONXOFF"}, &C::GetSwFlowControl,
                    &C::SetSwFlowControl, sfNONE),
            P::Char(u"XonChar", &C::GetXonChar, &C::SetXonChar, 17),
            P::Char(u"XoffChar", &C::GetXoffChar, &C::SetXoffChar, 19),
            P::Int(u"XonLim", &C::GetXonLim, &C::SetXonLim, 0),
            P::Int(u"XoffLim", &C::GetXoffLim, &C::SetXoffLim, 1),
            P::Bool(u"ParityCheck", &C::GetParityCheck, &C::SetParityCheck, false),
            P::Bool(u"ReplaceParityErrors", &C::GetReplaceParityErrors,
                    &C::SetReplaceParityErrors, false),
            P::Bool(u"DiscardNulls", &C::GetDiscardNulls, &C::SetDiscardNulls, false),
            P::Bool(u"DsrSensitivity", &C::GetDsrSensitivity, &C::SetDsrSensitivity, false),
            P::Bool(u"TXContinueOnXoff", &C::GetTXContinueOnXoff, &C::SetTXContinueOnXoff, false),
            P::Char(u"ErrorChar", &C::GetErrorChar, &C::SetErrorChar, 0),
            P::Char(u"EofChar", &C::GetEofChar, &C::SetEofChar, 26),
            P::Char(u"EvtChar", &C::GetEvtChar, &C::SetEvtChar, 26),
            P::Int(u"ReadIntervalTimeout", &C::GetReadIntervalTimeout,
                   &C::SetReadIntervalTimeout, 0xFFFFFFFFu),
            P::Int(u"ReadTotalTimeoutMultiplier", &C::GetReadTotalTimeoutMultiplier,
                   &C::SetReadTotalTimeoutMultiplier, 0u),
            P::Int(u"ReadTotalTimeoutConstant", &C::GetReadTotalTimeoutConstant,
                   &C::SetReadTotalTimeoutConstant, 0u),
            P::Int(u"WriteTotalTimeoutMultiplier", &C::GetWriteTotalTimeoutMultiplier,
                   &C::SetWriteTotalTimeoutMultiplier, 100u),
            P::Int(u"WriteTotalTimeoutConstant", &C::GetWriteTotalTimeoutConstant,
                   &C::SetWriteTotalTimeoutConstant, 1000u),
            P::Int(u"InputBuffer", &C::GetInputBuffer, &C::SetInputBuffer, 4096u),
            P::Int(u"OutputBuffer", &C::GetOutputBuffer, &C::SetOutputBuffer, 4096u),
            P::Enum(u"Priority", tarn::host::ThreadPriorityNames(), &C::GetPriority,
                    &C::SetPriority, tarn::host::tpNormal),
            P::Int(u"Delay", &C::GetDelay, &C::SetDelay, 100u),
            P::Int(u"Interval", &C::GetInterval, &C::SetInterval, 100u),
            P::Str(u"CustomPortName", &C::GetCustomPortName, &C::SetCustomPortName),
            P::Int(u"CustomBaudRate", &C::GetCustomBaudRate, &C::SetCustomBaudRate, 0),
            P::Bool(u"LogInput", &C::GetLogInput, &C::SetLogInput, false),
            P::Bool(u"LogDateTime", &C::GetLogDateTime, &C::SetLogDateTime, false),
            P::Str(u"LogFile", &C::GetLogFile, &C::SetLogFile),
            P::Bool(u"AutoReceive", &C::GetAutoReceive, &C::SetAutoReceive),
            P::Bool(u"KeepEntireBuffer", &C::GetKeepEntireBuffer, &C::SetKeepEntireBuffer, false),
            P::Str(u"NewLine", &C::GetNewLine, &C::SetNewLine),
            P::Int(u"MaxLineLength", &C::GetMaxLineLength, &C::SetMaxLineLength, 0),
            P::Event(u"OnReceive", &C::GetOnReceive, &C::SetOnReceive),
            P::Event(u"OnSend", &C::GetOnSend, &C::SetOnSend),
            P::Event(u"OnLineStatusChange", &C::GetOnLineStatusChange,
                     &C::SetOnLineStatusChange),
            P::Event(u"OnConnect", &C::GetOnConnect, &C::SetOnConnect),
            P::Event(u"OnDisconnect", &C::GetOnDisconnect, &C::SetOnDisconnect),
            P::Event(u"OnFault", &C::GetOnFault, &C::SetOnFault),
        });
    return cls;
}

}  // namespace

const tarn::host::TComponentClass& TTarnSerialPort::StaticClass() { return MakeClass(); }

const tarn::host::TComponentClass& TTarnSerialPort::ClassType() const { return StaticClass(); }
