// Port identifiers and names: the text form of a port is what is stored and
// opened; the identifier is derived from it whenever it is read.
#include <string>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "port_defaults_p.h"

using tarn::host::AnsiString;

namespace {

// Blanks and control characters at both ends removed, a to z upper-cased.
// Both steps work on single bytes, so going through the text form and back
// (the host's way) would change nothing: every byte that the ANSI code page
// maps is mapped back to itself.
AnsiString NormalisePortName(const AnsiString& name) {
    return tarn::host::UpperCaseAscii(tarn::host::Trim(name));
}

}  // namespace

TCommPort CommPortOfName(const AnsiString& Port) {
    const AnsiString name = NormalisePortName(Port);
    if (name.empty()) return spNone;
    // "COM" and 1 to 254 in decimal without leading zeros, nothing else.
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0') {
        return spCustom;
    }
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return spCustom;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= 254 ? static_cast<TCommPort>(number) : spCustom;
}

TCommPort TTarnSerialPort::StringToCommPort(const AnsiString& Port) const {
    return CommPortOfName(Port);
}

AnsiString TTarnSerialPort::CommPortToString(TCommPort Port) const {
    if (Port == spNone) return AnsiString();
    if (Port == spCustom) {
        const AnsiString custom = GetCustomPortName();
        // A blank custom name stands for the default one.
        return tarn::host::Trim(custom).empty() ? AnsiString(kSerialPortDefaults.CustomPortName)
                                                : custom;
    }
    return "COM" + std::to_string(static_cast<int>(Port));
}

TCommPort TTarnSerialPort::GetPort() const { return CommPortOfName(d->RawPort()); }

void TTarnSerialPort::SetPort(TCommPort Value) {
    // The stored name is left as it is when it already stands for the
    // identifier, in whatever letter case it holds.
    if (GetPort() == Value) return;
    AnsiString name = CommPortToString(Value);
    std::lock_guard<std::mutex> lock(d->FLock);
    d->FPort = std::move(name);
}

AnsiString TTarnSerialPort::GetCustomPortName() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FCustomPortName;
}

void TTarnSerialPort::SetCustomPortName(const AnsiString& Value) {
    const AnsiString trimmed = tarn::host::Trim(Value);
    std::lock_guard<std::mutex> lock(d->FLock);
    d->FCustomPortName = trimmed;
    if (CommPortOfName(d->FPort) == spCustom) d->FPort = d->FCustomPortName;
}
