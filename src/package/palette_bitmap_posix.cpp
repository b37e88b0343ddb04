#include <cstring>

#include "embedded_bitmaps_posix.h"
#include "palette_bitmap.h"

namespace tarn::package {
namespace {

// Resource names match in any letter case on Windows; only ASCII letters fold
// there too, so the locale plays no part.
bool SameResourceName(const char* a, const char* b) {
    auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

}  // namespace

bool FindBitmapResource(const char* name, ResourceBytes& out) {
    if (name == nullptr) return false;
    for (std::size_t i = 0; i < kEmbeddedBitmapCount; ++i) {
        const EmbeddedBitmap& bitmap = kEmbeddedBitmaps[i];
        if (SameResourceName(name, bitmap.name)) {
            out.data = bitmap.data;
            out.size = bitmap.size;
            return true;
        }
    }
    return false;
}

}  // namespace tarn::package
