// What the reader of a port gets from the bytes that the terminal's line
// discipline hands over.
//
// With parity checking on, the line discipline is asked to mark every byte
// that arrived with a parity or framing error as the three bytes 0xFF 0x00 b
// (a break as 0xFF 0x00 0x00), and then doubles each genuine 0xFF. This
// filter undoes that encoding, substituting the Windows error character for
// a damaged byte when asked to, and drops NUL bytes when asked to, as the
// Windows driver does for fNull. A mark may be cut in two by a short read;
// its first part is held until the rest arrives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn::driver {

class ReceiveFilter {
public:
    // decodeMarks: the line discipline marks errors (PARMRK is on).
    // replaceErrors/errorChar: a damaged byte reads as errorChar; otherwise
    // as the byte that arrived. A break always reads as NUL.
    // discardNul: NUL bytes are dropped after decoding.
    // Drops any part of a mark that is being held.
    void Configure(bool decodeMarks, bool replaceErrors, std::uint8_t errorChar, bool discardNul);

    // Decodes `size` bytes from `in` into `out`, which must have room for
    // `size` bytes: the output is never longer than the input of the same
    // call. `out` may be `in`: no byte is written before it has been read.
    // Returns the number of bytes written.
    std::size_t Process(const std::uint8_t* in, std::size_t size, std::uint8_t* out);

    // The bytes held from an incomplete mark (0 to 2).
    std::size_t Held() const { return heldSize_; }

    // Forgets a held mark, as when the receive queue is purged.
    void Reset() { heldSize_ = 0; }

private:
    bool Emit(std::uint8_t byte, std::uint8_t* out, std::size_t& written) const;
    // Copies bytes that hold no escape, dropping NULs when asked to; `out`
    // may be `in` or before it. Returns the number written.
    std::size_t CopyRun(const std::uint8_t* in, std::size_t size, std::uint8_t* out) const;

    bool decodeMarks_ = false;
    bool replaceErrors_ = false;
    std::uint8_t errorChar_ = 0;
    bool discardNul_ = false;
    std::uint8_t held_[2] = {};
    std::size_t heldSize_ = 0;
};

}  // namespace tarn::driver
