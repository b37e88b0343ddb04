// The end sequences of a read up to an end: how each one looks as bytes,
// and where the first of them ends in bytes that arrive piece by piece.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "host_strings.h"

namespace tarn::serialport {

// An end sequence as the bytes that stand for it in the ANSI code page, or
// empty when it can never match: an empty entry, or one with a character
// that no byte converts to.
//
// Comparing these bytes with the tail of the bytes collected is the same as
// converting the collected bytes to text and searching the entry in it, for
// a single-byte code page, where each byte converts to one character of its
// own: a found entry ends at the last byte, since the search has run after
// every earlier byte, and equal characters mean equal bytes.
host::AnsiString EndSequenceBytes(const host::UnicodeString& entry);

// The end sequences of one read, in list order.
class EndSequences {
public:
    explicit EndSequences(std::vector<host::AnsiString> entries);

    // How many bytes of `arriving` reach the first byte at which an entry
    // ends, when `collected` came before them; 0 when none ends there. Of
    // `collected` only the bytes that an entry can still reach are looked
    // at, so that a long line is scanned once, not again for every piece.
    std::size_t FirstEnd(std::string_view collected, std::string_view arriving) const;

    // The first entry in list order that ends `collected`; null when none
    // does.
    const host::AnsiString* EndOf(std::string_view collected) const;

private:
    // FirstEnd over `text`, whose first `overlap` bytes were collected,
    // for entries that end at byte `from` (counted from 1) or later.
    std::size_t FirstEndIn(std::string_view text, std::size_t overlap, std::size_t from) const;

    std::vector<host::AnsiString> entries_;
    std::size_t longest_ = 0;
    std::array<bool, 256> lastBytes_{};
    // How many different bytes the entries end with, and the last of them.
    int lastByteKinds_ = 0;
    unsigned char onlyLastByte_ = 0;
};

}  // namespace tarn::serialport
