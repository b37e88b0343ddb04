// The built package, loaded at run time by its file as a designer or an
// application loads it, with its functions found by their exported names.
// The file comes from TARN_PACKAGE_FILE, which the test build defines.
#pragma once

#include <string>

namespace tarn::package::testing {

// Any exported function; cast to the real signature before calling.
using ExportedFunction = void (*)();

class PackageLibrary {
public:
    PackageLibrary();
    ~PackageLibrary();
    PackageLibrary(const PackageLibrary&) = delete;
    PackageLibrary& operator=(const PackageLibrary&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    // The loader's reason when loading failed.
    const std::string& Error() const { return error_; }
    // Null when the package exports no function of that name.
    ExportedFunction Find(const char* name) const;

    template <typename Function>
    Function FindAs(const char* name) const {
        return reinterpret_cast<Function>(Find(name));
    }

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace tarn::package::testing
