// Text as JSON for the programs built on the library (tarnterm's port list,
// the benchmark's report), so that every JSON they write escapes the same
// way. Pure; safe on any thread.
#pragma once

#include <string>

namespace tarn::host {

// `text` as a JSON string literal, quotes included. Quotes and backslashes
// are escaped, control bytes below 0x20 become \u00XX, and every other byte
// passes through as it is, so UTF-8 text stays UTF-8.
std::string JsonQuoted(const std::string& text);

}  // namespace tarn::host
