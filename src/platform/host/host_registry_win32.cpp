// The registry on Windows: the real one, opened read-only.
#include <cstring>
#include <string>
#include <vector>

#include "host_registry.h"
#include "host_windows.h"

namespace tarn::host {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

// The seam keeps the predefined roots as their 32-bit values; Win32 defines
// them as those values taken as a signed LONG, widened to a pointer.
::HKEY ToWindowsKey(tarn::host::HKEY root) {
    const auto value = static_cast<LONG>(static_cast<DWORD>(root));
    return reinterpret_cast<::HKEY>(static_cast<ULONG_PTR>(value));
}

// String data as the registry holds it: up to the first NUL, or to the end
// when the writer stored none.
std::u16string StringData(const std::vector<BYTE>& data, DWORD size) {
    std::u16string text(size / sizeof(char16_t), u'\0');
    if (!text.empty()) std::memcpy(&text[0], data.data(), text.size() * sizeof(char16_t));
    const std::size_t end = text.find(u'\0');
    if (end != std::u16string::npos) text.resize(end);
    return text;
}

}  // namespace

bool ReadSystemRegistryKey(HKEY root, const std::u16string& path,
                           std::vector<RegistryValue>& values) {
    ::HKEY key = nullptr;
    if (::RegOpenKeyExW(ToWindowsKey(root), reinterpret_cast<const wchar_t*>(path.c_str()), 0,
                        KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD longestName = 0;
    DWORD largestData = 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &longestName, &largestData, nullptr, nullptr);
    std::vector<wchar_t> name(longestName + 1);
    std::vector<BYTE> data(largestData + sizeof(char16_t));

    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LSTATUS status = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                               data.data(), &dataSize);
        if (status == ERROR_MORE_DATA) {
            // A value grew after the sizes were asked; make room and read it
            // again.
            name.resize(name.size() * 2 + 256);
            data.resize(data.size() * 2 + 256);
            continue;
        }
        if (status != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS at the end

        RegistryValue value;
        value.name.assign(reinterpret_cast<const char16_t*>(name.data()), nameLength);
        value.isString = type == REG_SZ || type == REG_EXPAND_SZ;
        if (value.isString) value.data = StringData(data, dataSize);
        values.push_back(std::move(value));
        ++index;
    }
    ::RegCloseKey(key);
    return true;
}

}  // namespace tarn::host
