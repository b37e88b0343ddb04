#include <dlfcn.h>

#include "package/package_library.h"

namespace tarn::package::testing {

PackageLibrary::PackageLibrary() {
    handle_ = dlopen(TARN_PACKAGE_FILE, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) error_ = dlerror();
}

PackageLibrary::~PackageLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

ExportedFunction PackageLibrary::Find(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    // POSIX guarantees that a function's address survives the trip through
    // the void pointer that dlsym returns.
    return reinterpret_cast<ExportedFunction>(dlsym(handle_, name));
}

}  // namespace tarn::package::testing
