// The system's text for an error code on Windows, from its message tables,
// in the ANSI code page as the host runtime's byte strings hold it.
#include <cstdio>
#include <string>

#include "host_system_error.h"

#include "host_windows.h"

namespace tarn::host {

std::string SystemErrorText(std::uint32_t code) {
    std::string described;
    if (DescribedErrorText(code, described)) return described;
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) ::LocalFree(buffer);

    // The tables end each text with a line break, which a message built
    // around the text does not want.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        // Codes the system has no text for read as the other platforms word
        // them, so that a message never ends in nothing.
        char fallback[48];
        std::snprintf(fallback, sizeof fallback, "Unknown error (0x%x)",
                      static_cast<unsigned>(code));
        text = fallback;
    }
    return text;
}

}  // namespace tarn::host
