#include "recording_writer.h"

#include "host_strings.h"
#include "host_system_error.h"

namespace tarn::driver::recording {

namespace {

const char* ParityName(Parity parity) {
    switch (parity) {
        case Parity::None:
            return "none";
        case Parity::Odd:
            return "odd";
        case Parity::Even:
            return "even";
        case Parity::Mark:
            return "mark";
        case Parity::Space:
            return "space";
    }
    return "none";
}

const char* StopName(StopBits stop) {
    switch (stop) {
        case StopBits::One:
            return "1";
        case StopBits::OneAndHalf:
            return "1.5";
        case StopBits::Two:
            return "2";
    }
    return "1";
}

const char* DtrName(DtrControl dtr) {
    switch (dtr) {
        case DtrControl::Off:
            return "off";
        case DtrControl::On:
            return "on";
        case DtrControl::Handshake:
            return "handshake";
    }
    return "on";
}

const char* RtsName(RtsControl rts) {
    switch (rts) {
        case RtsControl::Off:
            return "off";
        case RtsControl::On:
            return "on";
        case RtsControl::Handshake:
            return "handshake";
        case RtsControl::Toggle:
            return "toggle";
    }
    return "on";
}

const char* EscapeName(Escape escape) {
    switch (escape) {
        case Escape::SetDtr:
            return "setdtr";
        case Escape::ClrDtr:
            return "clrdtr";
        case Escape::SetRts:
            return "setrts";
        case Escape::ClrRts:
            return "clrrts";
        case Escape::SetBreak:
            return "setbreak";
        case Escape::ClrBreak:
            return "clrbreak";
        case Escape::SetXon:
            return "setxon";
        case Escape::SetXoff:
            return "setxoff";
    }
    return "setdtr";
}

const char* Bool(bool value) { return value ? "true" : "false"; }

std::string Quoted(const char* text) { return std::string("\"") + text + "\""; }

std::string SettingsMembers(const LineSettings& s) {
    return ",\"baud\":" + std::to_string(s.baud) + ",\"bits\":" + std::to_string(s.bits) +
           ",\"parity\":" + Quoted(ParityName(s.parity)) + ",\"stop\":" + Quoted(StopName(s.stop)) +
           ",\"cts\":" + Bool(s.cts) + ",\"dsr\":" + Bool(s.dsr) +
           ",\"dtr\":" + Quoted(DtrName(s.dtr)) + ",\"rts\":" + Quoted(RtsName(s.rts)) +
           ",\"xonxoff\":" + Bool(s.xonxoff);
}

// The members after "ev" of each kind.
std::string KindMembers(const Event& e) {
    switch (e.kind) {
        case EventKind::Received:
            return "\"rx\",\"data\":" + EncodedBytes(e.data);
        case EventKind::Sent:
            return "\"tx\",\"data\":" + EncodedBytes(e.data);
        case EventKind::Settings:
            return "\"settings\"" + SettingsMembers(e.settings);
        case EventKind::Escape:
            return "\"escape\",\"what\":" + Quoted(EscapeName(e.escape));
        case EventKind::Modem:
            return std::string("\"modem\",\"cts\":") + Bool(e.modem.cts) +
                   ",\"dsr\":" + Bool(e.modem.dsr) + ",\"ring\":" + Bool(e.modem.ring) +
                   ",\"rlsd\":" + Bool(e.modem.rlsd);
        case EventKind::Purge:
            return std::string("\"purge\",\"rx\":") + Bool(e.purgeRx) +
                   ",\"tx\":" + Bool(e.purgeTx);
        case EventKind::Gone:
            return "\"gone\",\"error\":" + std::to_string(e.error);
    }
    return "\"unknown\"";
}

}  // namespace

std::string EncodedBytes(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    out.reserve(bytes.size() + 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\r':
                out += "\\r";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            default:
                break;
        }
        if (byte >= 0x20 && byte < 0x7f) {
            out += c;
        } else {
            // A byte above 0x7f is the character of the same number, which
            // JSON can only write as an escape without turning it into UTF-8.
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        }
    }
    out += '"';
    return out;
}

std::string HeaderLine(const std::string& port) {
    return std::string("{\"format\":\"") + kFormatName +
           "\",\"version\":" + std::to_string(kFormatVersion) + ",\"port\":" + EncodedBytes(port) +
           "}";
}

std::string EventLine(const Event& event) {
    return "{\"t\":" + std::to_string(event.t) + ",\"ev\":" + KindMembers(event) + "}";
}

bool RecordingWriter::Open(const std::string& path, const std::string& port) {
    Close();
    if (!file_.Assign(tarn::host::AnsiToUnicode(path))) {
        tarn::host::SetLastError(tarn::host::system_errors::ERROR_INVALID_NAME);
        return false;
    }
    // The host opens only regular files, and never blocks on a FIFO; it
    // does not say why a file would not open, so every cause is one error.
    written_ = 0;
    if (!file_.Rewrite() || !WriteLine(HeaderLine(port))) {
        Close();
        tarn::host::SetLastError(tarn::host::system_errors::ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool RecordingWriter::Write(const Event& event) {
    // A reader takes lines of some MiB, and a byte may take six to write:
    // a long transfer becomes events of this many bytes at the same time,
    // which a replay joins again.
    constexpr std::size_t kLongestData = 1u << 20;
    const bool bytes = event.kind == EventKind::Received || event.kind == EventKind::Sent;
    if (!bytes || event.data.size() <= kLongestData) return WriteLine(EventLine(event));
    Event piece;
    piece.t = event.t;
    piece.kind = event.kind;
    for (std::size_t at = 0; at < event.data.size(); at += kLongestData) {
        piece.data.assign(event.data, at, kLongestData);
        if (!WriteLine(EventLine(piece))) return false;
    }
    return true;
}

bool RecordingWriter::WriteLine(std::string line) {
    if (!file_.IsOpen()) return false;
    line += '\n';
    if (file_.Write(line) && file_.Flush()) {
        written_ += line.size();
        return true;
    }
    // Whatever part of the line reached the file goes again, so that the
    // file still reads up to its last whole event.
    file_.CloseCutTo(written_);
    return false;
}

void RecordingWriter::Close() {
    if (file_.IsOpen()) file_.Close();
}

}  // namespace tarn::driver::recording
