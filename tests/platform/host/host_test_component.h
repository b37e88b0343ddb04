// A small component class for the component and streaming tests: one
// property of every kind, an enumeration, an event, and a setter that
// depends on a property declared before it.
#pragma once

#include <cstdint>

#include "host_class_registry.h"
#include "host_component.h"
#include "host_event.h"
#include "host_exception.h"
#include "host_published.h"

namespace tarn::host::testing {

enum TTestPort : std::uint8_t { tsNone, tsCOM1, tsCOM2, tsCustom };
enum TTestStopBits : std::uint8_t { tsOneBit, tsOneAndHalfBits, tsTwoBits };

class TTestDevice : public TComponent {
public:
    using TReceiveEvent = TEvent<void(TTestDevice* sender, const AnsiString& data)>;

    explicit TTestDevice(TComponent* owner) : TComponent(owner) {}

    static const TComponentClass& StaticClass() {
        using P = Prop<TTestDevice>;
        static const TComponentClass cls = DeclareClass<TTestDevice>(
            u"TTestDevice",
            {P::Enum(u"Port", {u"tsNone", u"tsCOM1", u"tsCOM2", u"tsCustom"}, &TTestDevice::GetPort,
                     &TTestDevice::SetPort, tsNone),
             P::Int(u"DataWidth", &TTestDevice::GetDataWidth, &TTestDevice::SetDataWidth, 8),
             P::Enum(u"StopBits", {u"tsOneBit", u"tsOneAndHalfBits", u"tsTwoBits"},
                     &TTestDevice::GetStopBits, &TTestDevice::SetStopBits, tsOneBit),
             P::Bool(u"EnableDTR", &TTestDevice::EnableDTR, &TTestDevice::EnableDTR, true),
             P::Char(u"XonChar", &TTestDevice::XonChar, &TTestDevice::XonChar, 17),
             P::Int(u"XonLim", &TTestDevice::XonLim, &TTestDevice::XonLim, 0),
             P::Int(u"Delay", &TTestDevice::Delay, &TTestDevice::Delay, 100u),
             P::Int(u"Offset", &TTestDevice::Offset, &TTestDevice::Offset),
             P::Float(u"Ratio", &TTestDevice::Ratio, &TTestDevice::Ratio, 1.5),
             P::Str(u"CustomName", &TTestDevice::CustomName, &TTestDevice::CustomName),
             P::Str(u"LogFile", &TTestDevice::LogFile, &TTestDevice::LogFile, u""),
             P::Str(u"NewLine", &TTestDevice::NewLine, &TTestDevice::NewLine),
             P::Event(u"OnReceive", &TTestDevice::OnReceive, &TTestDevice::OnReceive)});
        return cls;
    }
    const TComponentClass& ClassType() const override { return StaticClass(); }

    TTestPort GetPort() const { return port_; }
    void SetPort(TTestPort port) { port_ = port; }
    std::int8_t GetDataWidth() const { return dataWidth_; }
    void SetDataWidth(std::int8_t width) {
        if (width < 5 || width > 8) throw Exception("Data width must be 5 to 8.");
        CheckCombination(width, stopBits_);
        dataWidth_ = width;
    }
    TTestStopBits GetStopBits() const { return stopBits_; }
    void SetStopBits(TTestStopBits stopBits) {
        CheckCombination(dataWidth_, stopBits);
        stopBits_ = stopBits;
    }

    bool EnableDTR = true;
    char XonChar = 17;
    std::uint16_t XonLim = 0;
    std::uint32_t Delay = 100;
    std::int32_t Offset = 0;
    double Ratio = 1.5;
    AnsiString CustomName = "vcom1";
    UnicodeString LogFile;
    AnsiString NewLine = "\r\n";
    TReceiveEvent OnReceive;

private:
    // One and a half stop bits go with five data bits only, two stop bits
    // with six to eight, as serial drivers require.
    static void CheckCombination(std::int8_t width, TTestStopBits stopBits) {
        if ((width == 5 && stopBits == tsTwoBits) || (width != 5 && stopBits == tsOneAndHalfBits)) {
            throw Exception("Invalid data-width and stop-bits combination.");
        }
    }

    TTestPort port_ = tsNone;
    std::int8_t dataWidth_ = 8;
    TTestStopBits stopBits_ = tsOneBit;
};

// A derived class: its property comes after all of the base's.
class TTestDeviceEx : public TTestDevice {
public:
    explicit TTestDeviceEx(TComponent* owner) : TTestDevice(owner) {}
    static const TComponentClass& StaticClass() {
        using P = Prop<TTestDeviceEx>;
        static const TComponentClass cls = DeclareClass<TTestDeviceEx, TTestDevice>(
            u"TTestDeviceEx", {P::Int(u"Extra", &TTestDeviceEx::Extra, &TTestDeviceEx::Extra, -1)});
        return cls;
    }
    const TComponentClass& ClassType() const override { return StaticClass(); }

    std::int64_t Extra = -1;
};

// A class that streams may not create.
class TTestAbstract : public TComponent {
public:
    explicit TTestAbstract(TComponent* owner) : TComponent(owner) {}
    static const TComponentClass& StaticClass() {
        static const TComponentClass cls =
            DeclareAbstractClass<TTestAbstract>(u"TTestAbstract", {});
        return cls;
    }
    const TComponentClass& ClassType() const override { return StaticClass(); }
};

inline void RegisterTestClasses() {
    RegisterClass(TTestDevice::StaticClass());
    RegisterClass(TTestDeviceEx::StaticClass());
    RegisterClass(TTestAbstract::StaticClass());
}

}  // namespace tarn::host::testing
