#include "host_json.h"

#include <cstdio>

#include "host_strings.h"

namespace tarn::host {

std::string JsonQuoted(const std::string& text) {
    // The round trip through UTF-16 keeps valid UTF-8 as it is and puts
    // U+FFFD where it is not, with the decoder every other text uses.
    const std::string utf8 = UnicodeToUtf8(Utf8ToUnicode(text));
    std::string quoted = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace tarn::host
