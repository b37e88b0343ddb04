#include "host_windows.h"

#include "palette_bitmap.h"

namespace tarn::package {
namespace {

// Any object inside the package serves to find the package's own module;
// the process's main module would be the wrong place to look.
const char kModuleAnchor = 0;

HMODULE PackageModule() {
    HMODULE module = nullptr;
    // The package cannot be unloaded while its own code runs, so the
    // reference count need not be raised.
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            &kModuleAnchor, &module)) {
        return nullptr;
    }
    return module;
}

}  // namespace

bool FindBitmapResource(const char* name, ResourceBytes& out) {
    // A null name would be taken as the integer identifier 0.
    if (name == nullptr) return false;
    HMODULE module = PackageModule();
    if (module == nullptr) return false;
    // RT_BITMAP in its narrow form, whatever the UNICODE setting.
    HRSRC info = FindResourceA(module, name, MAKEINTRESOURCEA(2));
    if (info == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, info);
    DWORD size = SizeofResource(module, info);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) return false;
    out.data = static_cast<const unsigned char*>(data);
    out.size = size;
    return true;
}

}  // namespace tarn::package
