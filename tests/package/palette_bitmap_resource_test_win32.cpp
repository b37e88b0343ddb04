// The palette image as Windows itself sees it: a BITMAP resource of the
// package DLL that the system loads by name, as a designer does.
#include <gtest/gtest.h>
#include "host_windows.h"

namespace tarn::package {
namespace {

HMODULE PackageModule() { return GetModuleHandleA(TARN_PACKAGE_FILE); }

TEST(PaletteBitmapResource, LoadsThroughTheSystemAsAn8BitImageWith256Colours) {
    HMODULE package = PackageModule();
    ASSERT_NE(package, nullptr);
    HANDLE image = LoadImageA(package, "TTARNSERIALPORT", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    ASSERT_NE(image, nullptr) << GetLastError();
    HBITMAP bitmap = static_cast<HBITMAP>(image);

    DIBSECTION section{};
    ASSERT_EQ(GetObjectA(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBm.bmWidth, 24);
    EXPECT_EQ(section.dsBm.bmHeight, 24);
    EXPECT_EQ(section.dsBmih.biBitCount, 8);

    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    RGBQUAD colours[256];
    EXPECT_EQ(GetDIBColorTable(dc, 0, 256, colours), 256u);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
}

TEST(PaletteBitmapResource, LoadsAsADeviceBitmapByNameInAnyLetterCase) {
    HMODULE package = PackageModule();
    ASSERT_NE(package, nullptr);
    for (const char* name : {"TTARNSERIALPORT", "TTarnSerialPort"}) {
        HBITMAP bitmap = LoadBitmapA(package, name);
        ASSERT_NE(bitmap, nullptr) << name;
        BITMAP info{};
        ASSERT_NE(GetObjectA(bitmap, sizeof info, &info), 0);
        EXPECT_EQ(info.bmWidth, 24);
        EXPECT_EQ(info.bmHeight, 24);
        DeleteObject(bitmap);
    }
}

}  // namespace
}  // namespace tarn::package
