// The bitmap resources that the build compiles into the shared library where
// there is no resource section to hold them. The table is generated from the
// .bmp files by cmake/TarnEmbedBitmaps.cmake.
#pragma once

#include <cstddef>

namespace tarn::package {

struct EmbeddedBitmap {
    const char* name;           // in capitals, as the resource compiler keeps it
    const unsigned char* data;  // the DIB, without the .bmp file header
    std::size_t size;
};

extern const EmbeddedBitmap kEmbeddedBitmaps[];
extern const std::size_t kEmbeddedBitmapCount;

}  // namespace tarn::package
