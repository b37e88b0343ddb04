// The package's bitmap resources: the palette image of the component,
// stored under the class name in capitals ("TTARNSERIALPORT").
//
// On Windows the image is a true RT_BITMAP resource of the package DLL; the
// other builds carry the same bytes inside the shared library. Either way a
// lookup returns the device-independent bitmap as the resource compiler
// stores it: BITMAPINFOHEADER, palette, then the pixel rows, without the
// 14-byte file header of a .bmp file.
#pragma once

#include <cstddef>

namespace tarn::package {

struct ResourceBytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// Finds the bitmap resource `name`, compared without regard to letter case
// as Windows compares resource names. The bytes live as long as the package
// is loaded and must not be written. Leaves `out` untouched and returns
// false when there is no such resource. Safe on any thread.
bool FindBitmapResource(const char* name, ResourceBytes& out);

}  // namespace tarn::package

// The same lookup with a C signature, for programs that load the package at
// run time and find this function by name. Returns false, and leaves both
// outputs untouched, when `data` or `size` is null or there is no such
// resource. Safe on any thread.
extern "C" bool TarnSerialPortPack_FindBitmapResource(const char* name, const void** data,
                                                      std::size_t* size);
