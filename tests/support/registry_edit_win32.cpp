// Edits of the port list key through the real registry.
#include "registry_edit_win32.h"

#include <atomic>
#include <string>

#include "host_windows.h"

namespace tarn::test {
namespace {

constexpr wchar_t kSerialCommPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::string Describe(const char* what, LSTATUS status) {
    return std::string(what) + " failed with error " + std::to_string(status);
}

bool SetValue(const std::u16string& name, DWORD type, const void* data, DWORD size,
              std::string* whyNot) {
    // The system makes this key volatile, and a key under it could not be
    // anything else; a test that has to create it does the same.
    HKEY key = nullptr;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialCommPath, 0, nullptr,
                                       REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        if (whyNot)
            *whyNot = Describe("RegCreateKeyExW(HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM)", status);
        return false;
    }
    status = ::RegSetValueExW(key, Wide(name), 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        if (whyNot) *whyNot = Describe("RegSetValueExW", status);
        return false;
    }
    return true;
}

}  // namespace

bool SetSerialCommString(const std::u16string& name, const std::u16string& data,
                         std::string* whyNot) {
    // With its terminating NUL, as the system stores strings.
    const DWORD size = static_cast<DWORD>((data.size() + 1) * sizeof(char16_t));
    return SetValue(name, REG_SZ, data.c_str(), size, whyNot);
}

bool SetSerialCommDword(const std::u16string& name, std::uint32_t data, std::string* whyNot) {
    const DWORD value = data;
    return SetValue(name, REG_DWORD, &value, sizeof value, whyNot);
}

bool DeleteSerialCommValue(const std::u16string& name) {
    HKEY key = nullptr;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommPath, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    status = ::RegDeleteValueW(key, Wide(name));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::u16string UniqueSerialCommValueName() {
    static std::atomic<unsigned> counter{0};
    const std::string name = "\\Device\\TarnTest_" + std::to_string(::GetCurrentProcessId()) + "_" +
                             std::to_string(++counter);
    return std::u16string(name.begin(), name.end());
}

}  // namespace tarn::test
