// Port names: the identifier a name stands for, the name of an identifier,
// the way Port and CustomPortName select the stored name, and on POSIX the
// device file a name opens. The input is read twice: whole, as one name,
// and as a sequence of operations on one component, each followed by the
// checks of what it must have done.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Tarnserialport.h"
#include "device_name_linux.h"
#include "fuzz_check.h"
#include "host_strings.h"

namespace {

using tarn::fuzz::Quoted;
using tarn::fuzz::Require;
using tarn::host::AnsiString;

bool IsComPort(TCommPort id) { return id >= spCOM1 && id <= spCOM254; }

std::string LowerCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Letter case ignored and empty path components dropped: what may change
// when the driver looks a path up without regard to case.
std::string PathKey(const std::string& path) {
    std::string key;
    for (const char c : LowerCaseAscii(path)) {
        if (c == '/' && !key.empty() && key.back() == '/') continue;
        key += c;
    }
    if (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

void CheckName(const TTarnSerialPort& port, const AnsiString& name) {
    const TCommPort id = port.StringToCommPort(name);
    const AnsiString trimmed = tarn::host::Trim(name);
    Require(port.StringToCommPort(trimmed) == id &&
                port.StringToCommPort(tarn::host::UpperCaseAscii(name)) == id &&
                port.StringToCommPort(LowerCaseAscii(name)) == id &&
                port.StringToCommPort(" \t" + name + "\r\n") == id,
            "blanks around a name and letter case change its identifier: " + Quoted(name));
    Require((id == spNone) == trimmed.empty(),
            "only a blank name stands for no port: " + Quoted(name));
    if (IsComPort(id)) {
        Require(port.CommPortToString(id) == tarn::host::UpperCaseAscii(trimmed),
                "a name of a COM port is that port's name: " + Quoted(name));
    }

    // The component opens a stored (trimmed) name with the device prefix.
    const std::string opened = tarn::driver::StripDevicePrefix("\\\\.\\" + trimmed);
    Require(opened == trimmed, "the device prefix comes off again: " + Quoted(trimmed));
    const std::string file = tarn::driver::DeviceFileForName(trimmed);
    Require(!file.empty() && file[0] == '/', "a device file is an absolute path: " + Quoted(file));
    Require(PathKey(file) == PathKey(tarn::driver::DeviceFileForName(LowerCaseAscii(trimmed))),
            "letter case changes the device file of " + Quoted(trimmed) + " beyond its case");
    if (IsComPort(id)) {
        Require(file == "/dev/ttyS" + std::to_string(static_cast<int>(id) - 1),
                "COMn opens /dev/ttyS(n-1): " + Quoted(trimmed) + " opens " + Quoted(file));
    }
    const std::string found = tarn::driver::FindPathIgnoringCase(file);
    Require(found == file || PathKey(found) == PathKey(file),
            "the path found for " + Quoted(file) + " is another path: " + Quoted(found));
}

// Takes `count` bytes from the input, fewer at its end.
std::string Take(const std::uint8_t*& data, std::size_t& size, std::size_t count) {
    if (count > size) count = size;
    std::string bytes(reinterpret_cast<const char*>(data), count);
    data += count;
    size -= count;
    return bytes;
}

void SelectPort(TTarnSerialPort& port, TCommPort id) {
    const TCommPort before = port.GetPort();
    port.SetPort(id);
    if (id != spCustom) {
        Require(port.GetPort() == id, "Port reads back as set: " + std::to_string(id));
        if (IsComPort(id)) {
            Require(port.StringToCommPort(port.CommPortToString(id)) == id,
                    "the name of COM" + std::to_string(id) + " stands for it");
        }
        return;
    }
    // The custom name decides, and it may be the name of a COM port; an
    // already custom selection keeps its name.
    const TCommPort expected =
        before == spCustom ? spCustom : port.StringToCommPort(port.CommPortToString(spCustom));
    Require(port.GetPort() == expected && expected != spNone,
            "selecting the custom port gives " + std::to_string(port.GetPort()) + ", not " +
                std::to_string(expected));
}

void RenameCustomPort(TTarnSerialPort& port, const AnsiString& name) {
    const TCommPort before = port.GetPort();
    port.SetCustomPortName(name);
    const AnsiString trimmed = tarn::host::Trim(name);
    Require(port.GetCustomPortName() == trimmed,
            "the custom name is stored trimmed: " + Quoted(port.GetCustomPortName()));
    Require(port.CommPortToString(spCustom) == (trimmed.empty() ? AnsiString("vcom1") : trimmed),
            "the custom port's name is the custom name, or vcom1 when it is blank");
    // While a custom port is selected the stored name follows the custom
    // name; otherwise the selection stays.
    const TCommPort expected = before == spCustom ? port.StringToCommPort(trimmed) : before;
    Require(port.GetPort() == expected, "renaming the custom port to " + Quoted(name) +
                                            " selects " + std::to_string(port.GetPort()) +
                                            ", not " + std::to_string(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TTarnSerialPort port;
    CheckName(port, AnsiString(reinterpret_cast<const char*>(data), size));

    // Operations: 'P' and an identifier byte selects a port, 'N', a length
    // byte and that many bytes names the custom port; other bytes skip.
    while (size >= 2) {
        const char op = static_cast<char>(*data);
        ++data;
        --size;
        if (op == 'P') {
            SelectPort(port, static_cast<TCommPort>(Take(data, size, 1)[0]));
        } else if (op == 'N') {
            const auto length = static_cast<unsigned char>(Take(data, size, 1)[0]);
            const AnsiString name = Take(data, size, length);
            RenameCustomPort(port, name);
            CheckName(port, name);
        }
    }
    return 0;
}
