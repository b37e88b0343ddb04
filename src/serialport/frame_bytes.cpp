// The length field, SLIP's escapes and COBS's groups (frame_bytes_p.h).
#include <algorithm>
#include <cstring>

#include "frame_bytes_p.h"

namespace tarn::serialport::frame_bytes {

namespace {

bool BigEndian(TFrameLengthField field) { return field == lf16BitBE || field == lf32BitBE; }

}  // namespace

std::size_t LengthFieldWidth(TFrameLengthField field) {
    switch (field) {
        case lf8Bit:
            return 1;
        case lf16BitBE:
        case lf16BitLE:
            return 2;
        case lf32BitBE:
        case lf32BitLE:
            break;
    }
    return 4;
}

std::uint32_t LengthFieldLimit(TFrameLengthField field) {
    const std::size_t width = LengthFieldWidth(field);
    return width == 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * width)) - 1;
}

std::uint32_t ReadLengthField(TFrameLengthField field, const char* bytes) {
    const std::size_t width = LengthFieldWidth(field);
    std::uint32_t length = 0;
    for (std::size_t k = 0; k < width; ++k) {
        const std::size_t at = BigEndian(field) ? k : width - 1 - k;
        length = (length << 8) | static_cast<unsigned char>(bytes[at]);
    }
    return length;
}

void AppendLengthField(TFrameLengthField field, std::uint32_t length, std::string& out) {
    const std::size_t width = LengthFieldWidth(field);
    for (std::size_t k = 0; k < width; ++k) {
        const std::size_t shift = 8 * (BigEndian(field) ? width - 1 - k : k);
        out.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
}

void AppendSlipEscaped(std::string_view bytes, std::string& out) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        // Plain bytes go in runs; only END and ESC take two.
        const char* run = p;
        while (run < end && static_cast<unsigned char>(*run) != kSlipEnd &&
               static_cast<unsigned char>(*run) != kSlipEsc) {
            ++run;
        }
        out.append(p, static_cast<std::size_t>(run - p));
        if (run == end) break;
        out.push_back(static_cast<char>(kSlipEsc));
        const bool isEnd = static_cast<unsigned char>(*run) == kSlipEnd;
        out.push_back(static_cast<char>(isEnd ? kSlipEscEnd : kSlipEscEsc));
        p = run + 1;
    }
}

void AppendCobsEncoded(std::string_view bytes, std::string& out) {
    std::size_t at = 0;
    for (;;) {
        // One group: up to 254 bytes before the next zero.
        const std::size_t limit = std::min<std::size_t>(bytes.size() - at, 254);
        const void* zero = limit > 0 ? std::memchr(bytes.data() + at, 0, limit) : nullptr;
        const std::size_t run =
            zero != nullptr
                ? static_cast<std::size_t>(static_cast<const char*>(zero) - (bytes.data() + at))
                : limit;
        out.push_back(static_cast<char>(run + 1));
        out.append(bytes.data() + at, run);
        at += run;
        if (zero != nullptr) {
            ++at;  // the zero the group stands for
            continue;
        }
        if (at == bytes.size()) return;
        // A full group of 254; the payload goes on after it.
    }
}

std::string CobsDecoded(std::string_view raw, std::size_t limit) {
    std::string out;
    out.reserve(std::min(raw.size(), limit));
    std::size_t at = 0;
    bool zeroPending = false;
    while (at < raw.size() && out.size() < limit) {
        const auto code = static_cast<unsigned char>(raw[at++]);
        if (zeroPending) out.push_back('\0');
        const std::size_t run = std::min<std::size_t>(code - 1u, raw.size() - at);
        out.append(raw.data() + at, run);
        at += run;
        zeroPending = code != kCobsFullGroup;
    }
    if (out.size() > limit) out.resize(limit);
    return out;
}

}  // namespace tarn::serialport::frame_bytes
