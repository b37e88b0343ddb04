// The recording reader: whatever the input, it returns events or one error
// that names a line, and never crashes; a recording it accepts, written out
// again by the small writer below, reads back as the very same events.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "recording_reader.h"

namespace {

namespace rec = tarn::driver::recording;
using tarn::fuzz::Quoted;
using tarn::fuzz::Require;

std::string Text(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 32 && code < 127 && c != '"' && c != '\\') {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", code);
            out += escape;
        }
    }
    return out + "\"";
}

std::string Bool(bool b) { return b ? "true" : "false"; }

template <typename Enum>
std::string Named(Enum value, std::initializer_list<const char*> names) {
    return Text(names.begin()[static_cast<int>(value)]);
}

std::string Body(const rec::Event& e) {
    const rec::LineSettings& s = e.settings;
    switch (e.kind) {
        case rec::EventKind::Received:
            return "\"rx\",\"data\":" + Text(e.data);
        case rec::EventKind::Sent:
            return "\"tx\",\"data\":" + Text(e.data);
        case rec::EventKind::Settings:
            return "\"settings\",\"baud\":" + std::to_string(s.baud) +
                   ",\"bits\":" + std::to_string(s.bits) +
                   ",\"parity\":" + Named(s.parity, {"none", "odd", "even", "mark", "space"}) +
                   ",\"stop\":" + Named(s.stop, {"1", "1.5", "2"}) + ",\"cts\":" + Bool(s.cts) +
                   ",\"dsr\":" + Bool(s.dsr) +
                   ",\"dtr\":" + Named(s.dtr, {"off", "on", "handshake"}) +
                   ",\"rts\":" + Named(s.rts, {"off", "on", "handshake", "toggle"}) +
                   ",\"xonxoff\":" + Bool(s.xonxoff);
        case rec::EventKind::Escape:
            return "\"escape\",\"what\":" +
                   Named(e.escape, {"setdtr", "clrdtr", "setrts", "clrrts", "setbreak", "clrbreak",
                                    "setxon", "setxoff"});
        case rec::EventKind::Modem:
            return "\"modem\",\"cts\":" + Bool(e.modem.cts) + ",\"dsr\":" + Bool(e.modem.dsr) +
                   ",\"ring\":" + Bool(e.modem.ring) + ",\"rlsd\":" + Bool(e.modem.rlsd);
        case rec::EventKind::Purge:
            return "\"purge\",\"rx\":" + Bool(e.purgeRx) + ",\"tx\":" + Bool(e.purgeTx);
        case rec::EventKind::Gone:
            return "\"gone\",\"error\":" + std::to_string(e.error);
    }
    return {};
}

std::string Written(const rec::Recording& r) {
    // The port is written as bytes: a name above U+00FF is dropped here,
    // since this small writer only escapes bytes.
    std::string text =
        "{\"format\":\"tarn-recording\",\"version\":1,\"port\":" + Text(r.port) + "}\n";
    for (const rec::Event& e : r.events) {
        text += "{\"t\":" + std::to_string(e.t) + ",\"ev\":" + Body(e) + "}\n";
    }
    return text;
}

bool Same(const rec::Event& a, const rec::Event& b) {
    return a.t == b.t && a.kind == b.kind && a.data == b.data && a.settings == b.settings &&
           a.escape == b.escape && a.modem == b.modem && a.purgeRx == b.purgeRx &&
           a.purgeTx == b.purgeTx && a.error == b.error && a.line == b.line;
}

bool AsciiOnly(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<rec::Recording> read = rec::ParseRecording(input, error);
    if (!read) {
        Require(error.rfind("line ", 0) == 0, "an error names its line: " + Quoted(error));
        return 0;
    }
    Require(error.empty(), "an accepted recording leaves no error: " + Quoted(error));
    rec::Recording expected = *read;
    if (!AsciiOnly(expected.port)) expected.port.clear();
    const std::string again = Written(expected);
    const std::optional<rec::Recording> reread = rec::ParseRecording(again, error);
    Require(reread.has_value(),
            "a written recording reads back: " + Quoted(error) + " in " + Quoted(again));
    Require(reread->port == expected.port, "the port reads back: " + Quoted(reread->port));
    Require(reread->events.size() == expected.events.size(),
            "as many events read back: " + Quoted(again));
    for (std::size_t i = 0; i < expected.events.size(); ++i) {
        Require(Same(reread->events[i], expected.events[i]),
                "event " + std::to_string(i) + " reads back the same: " + Quoted(again));
    }
    return 0;
}
