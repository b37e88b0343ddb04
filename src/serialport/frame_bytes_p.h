// The byte-level pieces that the frame decoder and the frame encoder share:
// the length field, SLIP's escapes and COBS's groups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "serial_types.h"

namespace tarn::serialport::frame_bytes {

constexpr unsigned char kSlipEnd = 0xC0;
constexpr unsigned char kSlipEsc = 0xDB;
constexpr unsigned char kSlipEscEnd = 0xDC;
constexpr unsigned char kSlipEscEsc = 0xDD;

// A COBS group of this code carries 254 bytes and no zero after them.
constexpr unsigned char kCobsFullGroup = 0xFF;

// How many bytes the field takes, and the largest length it can hold.
std::size_t LengthFieldWidth(TFrameLengthField field);
std::uint32_t LengthFieldLimit(TFrameLengthField field);

// The length that the field's bytes at `bytes` (LengthFieldWidth of them)
// hold, and the field's bytes for `length`, appended to `out`.
std::uint32_t ReadLengthField(TFrameLengthField field, const char* bytes);
void AppendLengthField(TFrameLengthField field, std::uint32_t length, std::string& out);

// SLIP's escapes of END and ESC, appended to `out`; nothing else changes.
void AppendSlipEscaped(std::string_view bytes, std::string& out);

// COBS: the groups that carry `bytes`, without the ending 0x00, appended to
// `out`. A run of 254 bytes that ends the payload gets no empty group after
// it.
void AppendCobsEncoded(std::string_view bytes, std::string& out);

// The decoded bytes of the COBS groups in `raw` (no 0x00 in it), at most
// `limit` of them. A group cut short by the end of `raw` gives what it has;
// the zero after the last group is not part of the result.
std::string CobsDecoded(std::string_view raw, std::size_t limit);

}  // namespace tarn::serialport::frame_bytes
