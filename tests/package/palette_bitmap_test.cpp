// The palette image as the package hands it out: the component's bitmap
// resource, found by name, in the form the resource compiler stores it.
#include "palette_bitmap.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "package/dib_header.h"

namespace tarn::package {
namespace {

using dib::DibHeader;
using dib::PaletteEntries;
using dib::ReadDibHeader;
using dib::RowStride;

ResourceBytes PaletteImage() {
    ResourceBytes bytes;
    EXPECT_TRUE(FindBitmapResource("TTARNSERIALPORT", bytes));
    return bytes;
}

TEST(PaletteBitmap, Is24By24With256ColoursAndNoFileHeader) {
    ResourceBytes bytes = PaletteImage();
    ASSERT_NE(bytes.data, nullptr);
    ASSERT_GE(bytes.size, sizeof(DibHeader));
    DibHeader header = ReadDibHeader(bytes.data);
    EXPECT_EQ(header.size, 40u);  // not "BM": the file header is gone
    EXPECT_EQ(header.width, 24);
    EXPECT_EQ(header.height, 24);  // positive: rows stored bottom-up
    EXPECT_EQ(header.planes, 1);
    EXPECT_EQ(header.bitCount, 8);
    EXPECT_EQ(header.compression, dib::kBiRgb);
    EXPECT_EQ(PaletteEntries(header), 256u);
    EXPECT_EQ(bytes.size, header.size + PaletteEntries(header) * 4 + RowStride(header) * 24);
}

TEST(PaletteBitmap, HoldsTheCommittedBitmapFileWithoutItsFirst14Bytes) {
    std::ifstream in(TARN_PALETTE_BITMAP_FILE, std::ios::binary);
    ASSERT_TRUE(in) << TARN_PALETTE_BITMAP_FILE;
    std::vector<unsigned char> file{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    ASSERT_GT(file.size(), 14u);
    ASSERT_EQ(file[0], 'B');
    ASSERT_EQ(file[1], 'M');
    ResourceBytes bytes = PaletteImage();
    std::vector<unsigned char> resource(bytes.data, bytes.data + bytes.size);
    EXPECT_EQ(resource, std::vector<unsigned char>(file.begin() + 14, file.end()));
}

// Palette renderers take the colour of the bottom-left pixel as transparent,
// so that pixel must be background and the drawing must not be all of it.
TEST(PaletteBitmap, DrawsOnABackgroundTakenFromTheBottomLeftPixel) {
    ResourceBytes bytes = PaletteImage();
    ASSERT_GE(bytes.size, sizeof(DibHeader));
    DibHeader header = ReadDibHeader(bytes.data);
    ASSERT_EQ(header.bitCount, 8);
    const unsigned char* pixels = bytes.data + header.size + PaletteEntries(header) * 4;
    ASSERT_EQ(pixels + RowStride(header) * 24, bytes.data + bytes.size);

    const unsigned char background = pixels[0];  // first stored row is the bottom one
    std::set<unsigned char> drawn;
    int covered = 0;
    for (int row = 0; row < 24; ++row) {
        for (int column = 0; column < 24; ++column) {
            unsigned char index = pixels[row * RowStride(header) + column];
            if (index == background) continue;
            drawn.insert(index);
            ++covered;
        }
    }
    EXPECT_GE(covered, 24 * 24 / 2);
    EXPECT_GE(drawn.size(), 5u);
    // The centre of the image lies on the connector, not on the background.
    EXPECT_NE(pixels[12 * RowStride(header) + 12], background);
}

TEST(PaletteBitmapLookup, MatchesTheNameInAnyLetterCase) {
    ResourceBytes upper = PaletteImage();
    for (const char* name : {"ttarnserialport", "TTarnSerialPort", "tTARNSERIALPORt"}) {
        ResourceBytes found;
        ASSERT_TRUE(FindBitmapResource(name, found)) << name;
        EXPECT_EQ(found.data, upper.data) << name;
        EXPECT_EQ(found.size, upper.size) << name;
    }
}

TEST(PaletteBitmapLookup, FailsForOtherNamesAndLeavesTheResultAlone) {
    const unsigned char sentinel = 0;
    for (const char* name : {"", "TTARNSERIALPOR", "TTARNSERIALPORTS", "TTARNSERIALPORT ",
                             "TARNSERIALPORT", "#1", static_cast<const char*>(nullptr)}) {
        ResourceBytes found{&sentinel, 7};
        EXPECT_FALSE(FindBitmapResource(name, found)) << (name ? name : "(null)");
        EXPECT_EQ(found.data, &sentinel);
        EXPECT_EQ(found.size, 7u);
    }
}

TEST(PaletteBitmapLookup, CEntryPointGivesTheSameBytes) {
    ResourceBytes expected = PaletteImage();
    const void* data = nullptr;
    std::size_t size = 0;
    ASSERT_TRUE(TarnSerialPortPack_FindBitmapResource("ttarnserialport", &data, &size));
    EXPECT_EQ(data, expected.data);
    EXPECT_EQ(size, expected.size);

    const void* untouched = &size;
    std::size_t untouchedSize = 3;
    EXPECT_FALSE(TarnSerialPortPack_FindBitmapResource("NOSUCHBITMAP", &untouched, &untouchedSize));
    EXPECT_FALSE(TarnSerialPortPack_FindBitmapResource("TTARNSERIALPORT", nullptr, &untouchedSize));
    EXPECT_FALSE(TarnSerialPortPack_FindBitmapResource("TTARNSERIALPORT", &untouched, nullptr));
    EXPECT_EQ(untouched, &size);
    EXPECT_EQ(untouchedSize, 3u);
}

}  // namespace
}  // namespace tarn::package
