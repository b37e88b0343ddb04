#include "host_windows.h"

#include "package/package_library.h"

namespace tarn::package::testing {

PackageLibrary::PackageLibrary() {
    // A bare file name: the package DLL sits beside the test program, which
    // is the first place LoadLibrary searches.
    handle_ = LoadLibraryA(TARN_PACKAGE_FILE);
    if (handle_ == nullptr) {
        error_ = "LoadLibraryA failed with error " + std::to_string(GetLastError());
    }
}

PackageLibrary::~PackageLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

ExportedFunction PackageLibrary::Find(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    // FARPROC declares no parameters; going through void (*)() keeps the
    // compiler from taking the later cast for a mistake.
    return reinterpret_cast<ExportedFunction>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace tarn::package::testing
