// Test-only edits of the port list, the registry key
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, for the Windows builds.
// (Elsewhere the list is made from the devices present and cannot be
// edited.) The key is volatile, as the system's own is: it vanishes when the
// machine, or Wine's server, stops.
//
// Writing under HKEY_LOCAL_MACHINE needs administrator rights on Windows;
// under Wine every user has them.
#pragma once

#include <cstdint>
#include <string>

namespace tarn::test {

// Adds or replaces a string (REG_SZ) value of the port list key, creating
// the key when it is missing. On failure returns false and says why in
// `whyNot`.
bool SetSerialCommString(const std::u16string& name, const std::u16string& data,
                         std::string* whyNot = nullptr);

// The same for a REG_DWORD value, which no reader can take for a port name.
bool SetSerialCommDword(const std::u16string& name, std::uint32_t data,
                        std::string* whyNot = nullptr);

// Deletes a value of the port list key; true also when it was not there.
bool DeleteSerialCommValue(const std::u16string& name);

// A value name that no other test of any process uses at the same time, for
// example "\Device\TarnTest_1234_7".
std::u16string UniqueSerialCommValueName();

// Deletes the named value when it goes out of scope.
class ScopedSerialCommValue {
public:
    explicit ScopedSerialCommValue(std::u16string name) : name_(std::move(name)) {}
    ~ScopedSerialCommValue() { DeleteSerialCommValue(name_); }
    ScopedSerialCommValue(const ScopedSerialCommValue&) = delete;
    ScopedSerialCommValue& operator=(const ScopedSerialCommValue&) = delete;

    const std::u16string& Name() const { return name_; }

private:
    std::u16string name_;
};

}  // namespace tarn::test
