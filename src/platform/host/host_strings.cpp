#include "host_strings.h"

#include <cstddef>
#include <string>
#include <type_traits>

namespace tarn::host {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(UnicodeString& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

template <class Str>
Str TrimImpl(const Str& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    // The comparison is on the unsigned code, so bytes above 127 in a byte
    // string are never taken for control characters.
    auto code = [&](std::size_t i) {
        return static_cast<std::uint32_t>(
            static_cast<std::make_unsigned_t<typename Str::value_type>>(text[i]));
    };
    while (first < last && code(first) <= 32) ++first;
    while (last > first && code(last - 1) <= 32) --last;
    return text.substr(first, last - first);
}

template <class Ch>
Ch UpperAscii(Ch c) {
    return (c >= 'a' && c <= 'z') ? static_cast<Ch>(c - 'a' + 'A') : c;
}

template <class Str>
Str UpperImpl(Str text) {
    for (auto& c : text) c = UpperAscii(c);
    return text;
}

template <class Str>
bool SameImpl(const Str& a, const Str& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    }
    return true;
}

}  // namespace

std::string UnicodeToUtf8(const UnicodeString& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

UnicodeString Utf8ToUnicode(const std::string& text) {
    UnicodeString out;
    out.reserve(text.size());
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, cp = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, cp = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, cp = lead & 0x07, minimum = 0x10000;
        } else {
            out += static_cast<char16_t>(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int got = 0;
        while (got < extra && j < n && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
            ++j;
            ++got;
        }
        // A truncated or over-long sequence, a surrogate or a code point
        // above U+10FFFF is one replacement character for the bytes taken.
        if (got < extra || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += static_cast<char16_t>(kReplacement);
            i = j;
            continue;
        }
        AppendUtf16(out, cp);
        i = j;
    }
    return out;
}

AnsiString Trim(const AnsiString& text) { return TrimImpl(text); }
UnicodeString Trim(const UnicodeString& text) { return TrimImpl(text); }

AnsiString UpperCaseAscii(const AnsiString& text) { return UpperImpl(text); }
UnicodeString UpperCaseAscii(const UnicodeString& text) { return UpperImpl(text); }

bool SameTextAscii(const AnsiString& a, const AnsiString& b) { return SameImpl(a, b); }
bool SameTextAscii(const UnicodeString& a, const UnicodeString& b) { return SameImpl(a, b); }

int CompareTextAscii(const UnicodeString& a, const UnicodeString& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = UpperAscii(a[i]);
        const char16_t y = UpperAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

UnicodeString IntToStr(std::int64_t value) {
    const std::string digits = std::to_string(value);
    return UnicodeString(digits.begin(), digits.end());
}

}  // namespace tarn::host
