// Conversions through the process's ANSI code page (CP_ACP), as the host
// runtime does them for its byte strings.
#include "host_windows.h"

#include <climits>

#include "host_strings.h"

namespace tarn::host {

UnicodeString AnsiToUnicode(const AnsiString& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    return UnicodeString(wide.begin(), wide.end());
}

AnsiString UnicodeToAnsi(const UnicodeString& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const std::wstring wide(text.begin(), text.end());
    const int length = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    AnsiString out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out.data(), needed, nullptr, nullptr);
    return out;
}

}  // namespace tarn::host
