// Text as JSON for the programs built on the library (tarnterm's port list,
// the benchmark's report), so that every JSON they write escapes the same
// way. Pure; safe on any thread.
#pragma once

#include <string>

namespace tarn::host {

// `text` as a JSON string literal, quotes included, and always valid UTF-8
// as RFC 8259 asks. Quotes and backslashes are escaped, control bytes below
// 0x20 become \u00XX, and UTF-8 text passes through as it is. Bytes that are
// not UTF-8 (a device's serial number in another code page, a cut sequence)
// are each replaced by U+FFFD, as Utf8ToUnicode decodes them: JSON has no
// escape for a byte, only for a character.
std::string JsonQuoted(const std::string& text);

}  // namespace tarn::host
