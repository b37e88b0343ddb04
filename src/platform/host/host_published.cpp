#include "host_published.h"

namespace tarn::host::detail {

void ThrowWrongValue(const UnicodeString& expected, const TStreamValue& got) {
    throw EConvertError(u"Expected " + expected + u", found " +
                        Utf8ToUnicode(FormatStreamValue(got)));
}

void ThrowOutOfRange(const TStreamValue& got, const UnicodeString& range) {
    throw EConvertError(u"Value " + Utf8ToUnicode(FormatStreamValue(got)) + u" is out of range " +
                        range);
}

AnsiString ByteStringCodec::FromStream(const TStreamValue& s) const {
    if (s.type != TStreamValue::Type::String) ThrowWrongValue(u"a quoted string", s);
    AnsiString bytes;
    bytes.reserve(s.text.size());
    for (const char16_t c : s.text) {
        if (c > 0xFF) {
            throw EConvertError(u"Character #" + IntToStr(c) + u" does not fit in a byte string");
        }
        bytes += static_cast<char>(static_cast<unsigned char>(c));
    }
    return bytes;
}

}  // namespace tarn::host::detail
