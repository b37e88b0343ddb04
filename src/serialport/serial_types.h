// The value types of the component: port identifiers, line-setting
// enumerations, modem-line sets and the component's exception class.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "host_exception.h"

// The handle of an open port, as the component hands it around: the
// driver's own handle type, an integer wide enough for a pointer, so that
// the values pass to the driver unchanged. It lives here so that the
// component's public header needs nothing of the driver.
using TPortHandle = std::uintptr_t;

// Port identifiers. Ordinal n from 1 to 254 stands for the port "COMn";
// every other name is a custom port and has the single identifier spCustom.
enum TCommPort : std::uint8_t {
    spNone,
    spCOM1,
    spCOM2,
    spCOM3,
    spCOM4,
    spCOM5,
    spCOM6,
    spCOM7,
    spCOM8,
    spCOM9,
    spCOM10,
    spCOM11,
    spCOM12,
    spCOM13,
    spCOM14,
    spCOM15,
    spCOM16,
    spCOM17,
    spCOM18,
    spCOM19,
    spCOM20,
    spCOM21,
    spCOM22,
    spCOM23,
    spCOM24,
    spCOM25,
    spCOM26,
    spCOM27,
    spCOM28,
    spCOM29,
    spCOM30,
    spCOM31,
    spCOM32,
    spCOM33,
    spCOM34,
    spCOM35,
    spCOM36,
    spCOM37,
    spCOM38,
    spCOM39,
    spCOM40,
    spCOM41,
    spCOM42,
    spCOM43,
    spCOM44,
    spCOM45,
    spCOM46,
    spCOM47,
    spCOM48,
    spCOM49,
    spCOM50,
    spCOM51,
    spCOM52,
    spCOM53,
    spCOM54,
    spCOM55,
    spCOM56,
    spCOM57,
    spCOM58,
    spCOM59,
    spCOM60,
    spCOM61,
    spCOM62,
    spCOM63,
    spCOM64,
    spCOM65,
    spCOM66,
    spCOM67,
    spCOM68,
    spCOM69,
    spCOM70,
    spCOM71,
    spCOM72,
    spCOM73,
    spCOM74,
    spCOM75,
    spCOM76,
    spCOM77,
    spCOM78,
    spCOM79,
    spCOM80,
    spCOM81,
    spCOM82,
    spCOM83,
    spCOM84,
    spCOM85,
    spCOM86,
    spCOM87,
    spCOM88,
    spCOM89,
    spCOM90,
    spCOM91,
    spCOM92,
    spCOM93,
    spCOM94,
    spCOM95,
    spCOM96,
    spCOM97,
    spCOM98,
    spCOM99,
    spCOM100,
    spCOM101,
    spCOM102,
    spCOM103,
    spCOM104,
    spCOM105,
    spCOM106,
    spCOM107,
    spCOM108,
    spCOM109,
    spCOM110,
    spCOM111,
    spCOM112,
    spCOM113,
    spCOM114,
    spCOM115,
    spCOM116,
    spCOM117,
    spCOM118,
    spCOM119,
    spCOM120,
    spCOM121,
    spCOM122,
    spCOM123,
    spCOM124,
    spCOM125,
    spCOM126,
    spCOM127,
    spCOM128,
    spCOM129,
    spCOM130,
    spCOM131,
    spCOM132,
    spCOM133,
    spCOM134,
    spCOM135,
    spCOM136,
    spCOM137,
    spCOM138,
    spCOM139,
    spCOM140,
    spCOM141,
    spCOM142,
    spCOM143,
    spCOM144,
    spCOM145,
    spCOM146,
    spCOM147,
    spCOM148,
    spCOM149,
    spCOM150,
    spCOM151,
    spCOM152,
    spCOM153,
    spCOM154,
    spCOM155,
    spCOM156,
    spCOM157,
    spCOM158,
    spCOM159,
    spCOM160,
    spCOM161,
    spCOM162,
    spCOM163,
    spCOM164,
    spCOM165,
    spCOM166,
    spCOM167,
    spCOM168,
    spCOM169,
    spCOM170,
    spCOM171,
    spCOM172,
    spCOM173,
    spCOM174,
    spCOM175,
    spCOM176,
    spCOM177,
    spCOM178,
    spCOM179,
    spCOM180,
    spCOM181,
    spCOM182,
    spCOM183,
    spCOM184,
    spCOM185,
    spCOM186,
    spCOM187,
    spCOM188,
    spCOM189,
    spCOM190,
    spCOM191,
    spCOM192,
    spCOM193,
    spCOM194,
    spCOM195,
    spCOM196,
    spCOM197,
    spCOM198,
    spCOM199,
    spCOM200,
    spCOM201,
    spCOM202,
    spCOM203,
    spCOM204,
    spCOM205,
    spCOM206,
    spCOM207,
    spCOM208,
    spCOM209,
    spCOM210,
    spCOM211,
    spCOM212,
    spCOM213,
    spCOM214,
    spCOM215,
    spCOM216,
    spCOM217,
    spCOM218,
    spCOM219,
    spCOM220,
    spCOM221,
    spCOM222,
    spCOM223,
    spCOM224,
    spCOM225,
    spCOM226,
    spCOM227,
    spCOM228,
    spCOM229,
    spCOM230,
    spCOM231,
    spCOM232,
    spCOM233,
    spCOM234,
    spCOM235,
    spCOM236,
    spCOM237,
    spCOM238,
    spCOM239,
    spCOM240,
    spCOM241,
    spCOM242,
    spCOM243,
    spCOM244,
    spCOM245,
    spCOM246,
    spCOM247,
    spCOM248,
    spCOM249,
    spCOM250,
    spCOM251,
    spCOM252,
    spCOM253,
    spCOM254,
    spCustom
};

// A set of port identifiers, one bit for each of the 256 ordinals.
class TCommPortSet {
public:
    constexpr TCommPortSet() = default;

    bool Contains(TCommPort port) const { return (bits_[port >> 3] >> (port & 7)) & 1u; }
    void Include(TCommPort port) {
        bits_[port >> 3] |= static_cast<std::uint8_t>(1u << (port & 7));
    }
    void Exclude(TCommPort port) {
        bits_[port >> 3] &= static_cast<std::uint8_t>(~(1u << (port & 7)));
    }
    bool Empty() const {
        for (std::uint8_t b : bits_) {
            if (b) return false;
        }
        return true;
    }
    int Count() const {
        int n = 0;
        for (int i = 0; i < 256; ++i) n += Contains(static_cast<TCommPort>(i)) ? 1 : 0;
        return n;
    }
    const std::array<std::uint8_t, 32>& Bits() const { return bits_; }

    friend bool operator==(const TCommPortSet& a, const TCommPortSet& b) {
        return a.bits_ == b.bits_;
    }
    friend bool operator!=(const TCommPortSet& a, const TCommPortSet& b) { return !(a == b); }

private:
    std::array<std::uint8_t, 32> bits_{};
};
static_assert(sizeof(TCommPortSet) == 32, "a port set is 256 bits");

enum TBaudRate : std::uint8_t {
    br000075,
    br000110,
    br000134,
    br000150,
    br000300,
    br000600,
    br001200,
    br001800,
    br002400,
    br004800,
    br007200,
    br009600,
    br014400,
    br019200,
    br038400,
    br057600,
    br115200,
    br128000,
    br230400,
    br256000,
    br460800,
    br921600,
    brCustom
};

enum TDataWidth : std::uint8_t { dw5Bits, dw6Bits, dw7Bits, dw8Bits };
enum TParityBits : std::uint8_t { pbNone, pbOdd, pbEven, pbMark, pbSpace };
enum TStopBits : std::uint8_t { sb1Bit, sb1_5Bits, sb2Bits };

// Whether a line takes `width` with `stop`, as UARTs allow: five data bits
// go with one or one and a half stop bits, six to eight with one or two.
// The component refuses the other pairs (SetDataWidth, SetStopBits). Pure;
// any thread.
constexpr bool IsValidWidthAndStop(TDataWidth width, TStopBits stop) {
    return width == dw5Bits ? stop != sb2Bits : stop != sb1_5Bits;
}
enum THwFlowControl : std::uint8_t { hfNONE, hfDTRDSR, hfRTSCTS };
enum TSwFlowControl : std::uint8_t { sfNONE, sfXONXOFF };

// Modem input lines; in a TLineStatusSet the line with ordinal n is bit n.
enum TLineStatus : std::uint8_t { lsCTS, lsDSR, lsRING, lsDCD };

class TLineStatusSet {
public:
    constexpr TLineStatusSet() = default;
    constexpr TLineStatusSet(std::initializer_list<TLineStatus> lines) {
        for (TLineStatus line : lines) bits_ |= static_cast<std::uint8_t>(1u << line);
    }
    static constexpr TLineStatusSet FromBits(std::uint8_t bits) {
        TLineStatusSet set;
        set.bits_ = static_cast<std::uint8_t>(bits & 0x0F);
        return set;
    }

    constexpr bool Contains(TLineStatus line) const { return (bits_ >> line) & 1u; }
    void Include(TLineStatus line) { bits_ |= static_cast<std::uint8_t>(1u << line); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr std::uint8_t Bits() const { return bits_; }

    friend constexpr bool operator==(TLineStatusSet a, TLineStatusSet b) {
        return a.bits_ == b.bits_;
    }
    friend constexpr bool operator!=(TLineStatusSet a, TLineStatusSet b) { return !(a == b); }

private:
    std::uint8_t bits_ = 0;
};
static_assert(sizeof(TLineStatusSet) == 1, "a line set is one byte");

// How received bytes are cut into whole messages (frames) for OnFrame and
// ReadFrame, and how SendFrame makes one. frNone leaves the bytes as they
// come.
enum TFraming : std::uint8_t {
    frNone,
    frDelimiter,       // ends with FrameDelimiter, which the frame leaves out
    frFixedLength,     // FrameLength bytes each
    frLengthPrefixed,  // a length field (FrameLengthField), then that many bytes
    frSlip,            // SLIP (END 0xC0, ESC 0xDB)
    frCobs,            // consistent overhead byte stuffing, ended by 0x00
    frSilence          // ends when the line has been quiet for FrameGapMs
};
// The length field of frLengthPrefixed: its width and byte order. It counts
// the bytes that follow it, not itself.
enum TFrameLengthField : std::uint8_t { lf8Bit, lf16BitBE, lf16BitLE, lf32BitBE, lf32BitLE };
// Why bytes were thrown away instead of making a frame.
enum TFrameErrorReason : std::uint8_t {
    feTooLong,        // the frame grew past MaxFrameLength
    feBadEscape,      // SLIP: ESC followed by a byte other than 0xDC or 0xDD
    feBadCode,        // COBS: a code byte that points past the frame's end
    feLengthTooLarge  // length field: a length beyond MaxFrameLength
};

// The one exception class the component raises, always with a complete
// message text, and with the system's error code behind it where there is
// one.
class ETarnSerialPortException : public tarn::host::Exception {
public:
    using tarn::host::Exception::Exception;
    ETarnSerialPortException(tarn::host::UnicodeString message, std::uint32_t errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}

    // The system's error code (host_system_error.h names them) behind an
    // Open that failed, a refused line setting among them
    // (ERROR_INVALID_PARAMETER): ERROR_FILE_NOT_FOUND for a port that is
    // not there, ERROR_ACCESS_DENIED for one that is busy, a Windows
    // Sockets code for a port on another machine. 0 where the component
    // refused on its own (a port not open, a combination of settings that
    // no line takes, a log file that cannot be written, a record file that
    // cannot be created). Any thread.
    std::uint32_t ErrorCode() const noexcept { return errorCode_; }

private:
    std::uint32_t errorCode_ = 0;
};
