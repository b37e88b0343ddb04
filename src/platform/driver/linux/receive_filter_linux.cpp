#include "receive_filter_linux.h"

#include <cstring>

namespace tarn::driver {

void ReceiveFilter::Configure(bool decodeMarks, bool replaceErrors, std::uint8_t errorChar,
                              bool discardNul) {
    decodeMarks_ = decodeMarks;
    replaceErrors_ = replaceErrors;
    errorChar_ = errorChar;
    discardNul_ = discardNul;
    heldSize_ = 0;
}

bool ReceiveFilter::Emit(std::uint8_t byte, std::uint8_t* out, std::size_t& written) const {
    if (discardNul_ && byte == 0) return false;
    out[written++] = byte;
    return true;
}

std::size_t ReceiveFilter::CopyRun(const std::uint8_t* in, std::size_t size,
                                   std::uint8_t* out) const {
    if (!discardNul_) {
        if (size > 0) std::memmove(out, in, size);
        return size;
    }
    std::size_t written = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (in[i] != 0) out[written++] = in[i];
    }
    return written;
}

std::size_t ReceiveFilter::Process(const std::uint8_t* in, std::size_t size, std::uint8_t* out) {
    if (!decodeMarks_) return CopyRun(in, size, out);
    std::size_t written = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = in[i];
        if (heldSize_ == 0) {
            // The bytes up to the next escape go as they are, in one copy.
            const auto* escape =
                static_cast<const std::uint8_t*>(std::memchr(in + i, 0xFF, size - i));
            const std::size_t end =
                escape != nullptr ? static_cast<std::size_t>(escape - in) : size;
            written += CopyRun(in + i, end - i, out + written);
            if (end == size) break;
            held_[heldSize_++] = 0xFF;
            i = end;
        } else if (heldSize_ == 1) {
            if (byte == 0x00) {
                held_[heldSize_++] = byte;
            } else {
                // 0xFF 0xFF is a genuine 0xFF. The line discipline never sends
                // 0xFF followed by anything else; should it, the escape is
                // dropped so that the output stays within the input's length.
                heldSize_ = 0;
                Emit(byte, out, written);
            }
        } else {
            heldSize_ = 0;
            // 0xFF 0x00 0x00 is a break (or a damaged NUL, which the line
            // discipline cannot tell apart); it reads as NUL.
            const bool isBreak = byte == 0x00;
            Emit(!isBreak && replaceErrors_ ? errorChar_ : byte, out, written);
        }
    }
    return written;
}

}  // namespace tarn::driver
