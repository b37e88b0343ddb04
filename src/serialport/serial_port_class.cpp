// The published properties of the component, in declaration order, with
// the defaults recorded for stored forms (port_defaults_p.h). A stored form omits a property
// equal to its default and reads properties back in this order, so
// DataWidth comes before StopBits and Port before CustomPortName.
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "host_published.h"
#include "port_defaults_p.h"

using tarn::host::UnicodeString;

namespace {

std::vector<UnicodeString> CommPortNames() {
    std::vector<UnicodeString> names{u"spNone"};
    for (int n = 1; n <= 254; ++n)
        names.push_back(tarn::host::AnsiToUnicode("spCOM" + std::to_string(n)));
    names.push_back(u"spCustom");
    return names;
}

std::vector<UnicodeString> BaudRateNames() {
    return {u"br000075", u"br000110", u"br000134", u"br000150", u"br000300", u"br000600",
            u"br001200", u"br001800", u"br002400", u"br004800", u"br007200", u"br009600",
            u"br014400", u"br019200", u"br038400", u"br057600", u"br115200", u"br128000",
            u"br230400", u"br256000", u"br460800", u"br921600", u"brCustom"};
}

// One list, one entry per property, long as the list of properties is: its
// order is the order of the stored forms.
const tarn::host::TComponentClass& MakeClass() {
    using C = TTarnSerialPort;
    using P = tarn::host::Prop<C>;
    constexpr const TSerialPortDefaults& D = kSerialPortDefaults;
    static const tarn::host::TComponentClass cls = tarn::host::DeclareClass<C>(
        u"TTarnSerialPort",
        {
            P::Enum(u"Port", CommPortNames(), &C::GetPort, &C::SetPort, D.Port),
            P::Enum(u"BaudRate", BaudRateNames(), &C::GetBaudRate, &C::SetBaudRate, D.BaudRate),
            P::Enum(u"DataWidth", {u"dw5Bits", u"dw6Bits", u"dw7Bits", u"dw8Bits"},
                    &C::GetDataWidth, &C::SetDataWidth, D.DataWidth),
            P::Enum(u"StopBits", {u"sb1Bit", u"sb1_5Bits", u"sb2Bits"}, &C::GetStopBits,
                    &C::SetStopBits, D.StopBits),
            P::Enum(u"Parity", {u"pbNone", u"pbOdd", u"pbEven", u"pbMark", u"pbSpace"},
                    &C::GetParity, &C::SetParity, D.Parity),
            P::Bool(u"EnableDTROnOpen", &C::GetEnableDTROnOpen, &C::SetEnableDTROnOpen,
                    D.EnableDTROnOpen),
            P::Bool(u"EnableRTSOnOpen", &C::GetEnableRTSOnOpen, &C::SetEnableRTSOnOpen,
                    D.EnableRTSOnOpen),
            P::Enum(u"HwFlowControl", {u"hfNONE", u"hfDTRDSR", u"hfRTSCTS"}, &C::GetHwFlowControl,
                    &C::SetHwFlowControl, D.HwFlowControl),
            P::Enum(u"SwFlowControl", {u"sfNONE", u"sfXONXOFF"}, &C::GetSwFlowControl,
                    &C::SetSwFlowControl, D.SwFlowControl),
            P::Char(u"XonChar", &C::GetXonChar, &C::SetXonChar, D.XonChar),
            P::Char(u"XoffChar", &C::GetXoffChar, &C::SetXoffChar, D.XoffChar),
            P::Int(u"XonLim", &C::GetXonLim, &C::SetXonLim, D.XonLim),
            P::Int(u"XoffLim", &C::GetXoffLim, &C::SetXoffLim, D.XoffLim),
            P::Bool(u"ParityCheck", &C::GetParityCheck, &C::SetParityCheck, D.ParityCheck),
            P::Bool(u"ReplaceParityErrors", &C::GetReplaceParityErrors, &C::SetReplaceParityErrors,
                    D.ReplaceParityErrors),
            P::Bool(u"DiscardNulls", &C::GetDiscardNulls, &C::SetDiscardNulls, D.DiscardNulls),
            P::Bool(u"DsrSensitivity", &C::GetDsrSensitivity, &C::SetDsrSensitivity,
                    D.DsrSensitivity),
            P::Bool(u"TXContinueOnXoff", &C::GetTXContinueOnXoff, &C::SetTXContinueOnXoff,
                    D.TXContinueOnXoff),
            P::Char(u"ErrorChar", &C::GetErrorChar, &C::SetErrorChar, D.ErrorChar),
            P::Char(u"EofChar", &C::GetEofChar, &C::SetEofChar, D.EofChar),
            P::Char(u"EvtChar", &C::GetEvtChar, &C::SetEvtChar, D.EvtChar),
            P::Int(u"ReadIntervalTimeout", &C::GetReadIntervalTimeout, &C::SetReadIntervalTimeout,
                   D.ReadIntervalTimeout),
            P::Int(u"ReadTotalTimeoutMultiplier", &C::GetReadTotalTimeoutMultiplier,
                   &C::SetReadTotalTimeoutMultiplier, D.ReadTotalTimeoutMultiplier),
            P::Int(u"ReadTotalTimeoutConstant", &C::GetReadTotalTimeoutConstant,
                   &C::SetReadTotalTimeoutConstant, D.ReadTotalTimeoutConstant),
            P::Int(u"WriteTotalTimeoutMultiplier", &C::GetWriteTotalTimeoutMultiplier,
                   &C::SetWriteTotalTimeoutMultiplier, D.WriteTotalTimeoutMultiplier),
            P::Int(u"WriteTotalTimeoutConstant", &C::GetWriteTotalTimeoutConstant,
                   &C::SetWriteTotalTimeoutConstant, D.WriteTotalTimeoutConstant),
            P::Int(u"InputBuffer", &C::GetInputBuffer, &C::SetInputBuffer, D.InputBuffer),
            P::Int(u"OutputBuffer", &C::GetOutputBuffer, &C::SetOutputBuffer, D.OutputBuffer),
            P::Enum(u"Priority", tarn::host::ThreadPriorityNames(), &C::GetPriority,
                    &C::SetPriority, D.Priority),
            P::Int(u"Delay", &C::GetDelay, &C::SetDelay, D.Delay),
            P::Int(u"Interval", &C::GetInterval, &C::SetInterval, D.Delay),
            P::Str(u"CustomPortName", &C::GetCustomPortName, &C::SetCustomPortName),
            P::Int(u"CustomBaudRate", &C::GetCustomBaudRate, &C::SetCustomBaudRate,
                   D.CustomBaudRate),
            P::Bool(u"LogInput", &C::GetLogInput, &C::SetLogInput, D.LogInput),
            P::Bool(u"LogDateTime", &C::GetLogDateTime, &C::SetLogDateTime, D.LogDateTime),
            P::Str(u"LogFile", &C::GetLogFile, &C::SetLogFile),
            P::Bool(u"AutoReceive", &C::GetAutoReceive, &C::SetAutoReceive),
            P::Bool(u"KeepEntireBuffer", &C::GetKeepEntireBuffer, &C::SetKeepEntireBuffer,
                    D.KeepEntireBuffer),
            P::Str(u"NewLine", &C::GetNewLine, &C::SetNewLine),
            P::Int(u"MaxLineLength", &C::GetMaxLineLength, &C::SetMaxLineLength, D.MaxLineLength),
            P::Event(u"OnReceive", &C::GetOnReceive, &C::SetOnReceive),
            P::Event(u"OnSend", &C::GetOnSend, &C::SetOnSend),
            P::Event(u"OnLineStatusChange", &C::GetOnLineStatusChange, &C::SetOnLineStatusChange),
            P::Event(u"OnConnect", &C::GetOnConnect, &C::SetOnConnect),
            P::Event(u"OnDisconnect", &C::GetOnDisconnect, &C::SetOnDisconnect),
            P::Event(u"OnFault", &C::GetOnFault, &C::SetOnFault),
        });
    return cls;
}

}  // namespace

const tarn::host::TComponentClass& TTarnSerialPort::StaticClass() { return MakeClass(); }

const tarn::host::TComponentClass& TTarnSerialPort::ClassType() const { return StaticClass(); }
