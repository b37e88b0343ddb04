// One event of a recording of a port session, as the recorder writes it and
// the replay reads it back.
//
// A recording is a text file of JSON Lines, one object to a line, written as
// things happen, so that a program that dies leaves every event up to its
// last one. The first line names the format and its version:
//
//   {"format":"tarn-recording","version":1,"port":"COM3"}
//
// Every later line is one event, with the microseconds since the recording
// began (with the opening of the port, or later on the open port) in "t"
// (never decreasing) and its kind in "ev":
//
//   {"t":1520,"ev":"tx","data":"*IDN?\r\n"}
//   {"t":9031,"ev":"rx","data":"TARN,DEMO,1\r\n"}
//   {"t":9100,"ev":"settings","baud":9600,"bits":8,"parity":"none",
//    "stop":"1","cts":false,"dsr":false,"dtr":"on","rts":"on","xonxoff":false}
//   {"t":9200,"ev":"escape","what":"setdtr"}
//   {"t":9300,"ev":"modem","cts":true,"dsr":true,"ring":false,"rlsd":false}
//   {"t":9400,"ev":"purge","rx":true,"tx":false}
//   {"t":9500,"ev":"gone","error":22}
//
// "data" holds the bytes as a JSON string in which each character stands for
// one byte: printable ASCII as itself, the rest escaped (\r, \n, \t, \",
// \\ or \u00XX); a character above \u00ff is not a byte and makes the line bad.
// "rx" is what the application read from the port, "tx" what the port took
// from it, "gone" the device going away with the system error that said so.
// The values of "parity" are none, odd, even, mark, space; of "stop" 1,
// 1.5, 2; of "dtr" off, on, handshake; of "rts" off, on, handshake, toggle;
// of "what" setdtr, clrdtr, setrts, clrrts, setbreak, clrbreak, setxon,
// setxoff. A reader ignores members it does not know, so that a later
// version 1 writer may add some; a new version number means a file this
// reader cannot read.
#pragma once

#include <cstdint>
#include <string>

namespace tarn::driver::recording {

inline constexpr int kFormatVersion = 1;
inline constexpr const char* kFormatName = "tarn-recording";

enum class EventKind { Received, Sent, Settings, Escape, Modem, Purge, Gone };

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };
enum class DtrControl { Off, On, Handshake };
enum class RtsControl { Off, On, Handshake, Toggle };
enum class Escape { SetDtr, ClrDtr, SetRts, ClrRts, SetBreak, ClrBreak, SetXon, SetXoff };

struct LineSettings {
    std::uint32_t baud = 9600;
    int bits = 8;
    Parity parity = Parity::None;
    StopBits stop = StopBits::One;
    bool cts = false;
    bool dsr = false;
    DtrControl dtr = DtrControl::On;
    RtsControl rts = RtsControl::On;
    bool xonxoff = false;

    bool operator==(const LineSettings& o) const {
        return baud == o.baud && bits == o.bits && parity == o.parity && stop == o.stop &&
               cts == o.cts && dsr == o.dsr && dtr == o.dtr && rts == o.rts && xonxoff == o.xonxoff;
    }
    bool operator!=(const LineSettings& o) const { return !(*this == o); }
};

struct ModemLines {
    bool cts = false;
    bool dsr = false;
    bool ring = false;
    bool rlsd = false;

    bool operator==(const ModemLines& o) const {
        return cts == o.cts && dsr == o.dsr && ring == o.ring && rlsd == o.rlsd;
    }
    bool operator!=(const ModemLines& o) const { return !(*this == o); }
};

struct Event {
    std::uint64_t t = 0;  // microseconds since the recording began
    EventKind kind = EventKind::Received;
    std::string data;         // Received, Sent
    LineSettings settings;    // Settings
    Escape escape{};          // Escape
    ModemLines modem;         // Modem
    bool purgeRx = false;     // Purge
    bool purgeTx = false;     // Purge
    std::uint32_t error = 0;  // Gone
    std::uint64_t line = 0;   // where a reader found it (1 is the header)
};

}  // namespace tarn::driver::recording
