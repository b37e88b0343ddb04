// Reads the BITMAPINFOHEADER at the start of a device-independent bitmap,
// independently of the package's own code, so that the tests check the
// bytes rather than the package's view of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarn::package::dib {

struct DibHeader {
    std::uint32_t size;
    std::int32_t width;
    std::int32_t height;
    std::uint16_t planes;
    std::uint16_t bitCount;
    std::uint32_t compression;
    std::uint32_t sizeImage;
    std::int32_t xPelsPerMeter;
    std::int32_t yPelsPerMeter;
    std::uint32_t clrUsed;
    std::uint32_t clrImportant;
};
static_assert(sizeof(DibHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

inline constexpr std::uint32_t kBiRgb = 0;

// The caller checks that at least sizeof(DibHeader) bytes are there. Both
// the resource section and the embedded copy store the header little-endian.
inline DibHeader ReadDibHeader(const void* data) {
    DibHeader header;
    std::memcpy(&header, data, sizeof header);
    return header;
}

// Palette entries that follow the header: biClrUsed, where 0 means all that
// the bit depth allows.
inline std::uint32_t PaletteEntries(const DibHeader& header) {
    if (header.clrUsed != 0) return header.clrUsed;
    return header.bitCount <= 8 ? 1u << header.bitCount : 0u;
}

// Bytes of one pixel row, padded to a multiple of four.
inline std::size_t RowStride(const DibHeader& header) {
    return ((static_cast<std::size_t>(header.width) * header.bitCount + 31) / 32) * 4;
}

}  // namespace tarn::package::dib
