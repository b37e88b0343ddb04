#include "host_format.h"

#include <cstddef>

#include "host_exception.h"

namespace tarn::host {

namespace {

UnicodeString Quoted(const UnicodeString& s) { return u"\"" + s + u"\""; }

template <class Str>
Str FormatImpl(const Str& format, std::initializer_list<Str> args,
               const UnicodeString& formatText) {
    Str out;
    out.reserve(format.size());
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const auto c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 >= format.size()) {
            throw EConvertError(u"Format " + Quoted(formatText) + u" ends with a lone '%'");
        }
        const auto code = format[++i];
        if (code == '%') {
            out += code;
        } else if (code == 's' || code == 'S') {
            if (next == args.end()) {
                throw EConvertError(
                    u"Format " + Quoted(formatText) + u" has more %s placeholders than the " +
                    IntToStr(static_cast<std::int64_t>(args.size())) + u" argument(s) given");
            }
            out += *next++;
        } else {
            throw EConvertError(u"Format " + Quoted(formatText) +
                                u" uses an unsupported specifier at position " +
                                IntToStr(static_cast<std::int64_t>(i)));
        }
    }
    return out;
}

}  // namespace

UnicodeString Format(const UnicodeString& format, std::initializer_list<UnicodeString> args) {
    return FormatImpl(format, args, format);
}

AnsiString Format(const AnsiString& format, std::initializer_list<AnsiString> args) {
    return FormatImpl(format, args, AnsiToUnicode(format));
}

}  // namespace tarn::host
