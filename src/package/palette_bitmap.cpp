#include "palette_bitmap.h"

extern "C" bool TarnSerialPortPack_FindBitmapResource(const char* name, const void** data,
                                                      std::size_t* size) {
    tarn::package::ResourceBytes found;
    if (data == nullptr || size == nullptr || !tarn::package::FindBitmapResource(name, found)) {
        return false;
    }
    *data = found.data;
    *size = found.size;
    return true;
}
