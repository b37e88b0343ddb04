// The package as a program sees it that only loads it at run time: every
// entry such a program needs is exported under its plain C name.
#include <gtest/gtest.h>

#include <cstddef>

#include "package/dib_header.h"
#include "package/package_library.h"

namespace tarn::package {
namespace {

using testing::PackageLibrary;

TEST(PackageLoading, ReadsThePaletteImageBackThroughTheExportedLookup) {
    PackageLibrary package;
    ASSERT_TRUE(package.Loaded()) << package.Error();
    using FindBitmap = bool (*)(const char*, const void**, std::size_t*);
    auto find = package.FindAs<FindBitmap>("TarnSerialPortPack_FindBitmapResource");
    ASSERT_NE(find, nullptr);

    const void* data = nullptr;
    std::size_t size = 0;
    ASSERT_TRUE(find("TTARNSERIALPORT", &data, &size));
    ASSERT_GE(size, sizeof(dib::DibHeader));
    dib::DibHeader header = dib::ReadDibHeader(data);
    EXPECT_EQ(header.width, 24);
    EXPECT_EQ(header.height, 24);
    EXPECT_EQ(header.bitCount, 8);
    EXPECT_EQ(dib::PaletteEntries(header), 256u);
    EXPECT_EQ(size, header.size + 256 * 4 + dib::RowStride(header) * 24);
}

}  // namespace
}  // namespace tarn::package
