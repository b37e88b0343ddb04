// What the fuzzers do when an invariant breaks: say which one, with the
// values involved, and abort, so that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarn::fuzz {

inline void Require(bool holds, const std::string& what) {
    if (holds) return;
    std::fprintf(stderr, "broken invariant: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// A byte string in C escapes, for the messages above.
inline std::string Quoted(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 32 && code < 127 && c != '"' && c != '\\') {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", code);
            out += escape;
        }
    }
    return out + "\"";
}

}  // namespace tarn::fuzz
