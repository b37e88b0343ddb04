// Run-time binding over the dynamic loader. Windows libraries such as
// "winmm.dll" do not exist here, so asking for them yields null, which every
// caller is prepared for.
#include <dlfcn.h>

#include <cstring>

#include "host_library.h"
#include "host_system_error.h"

namespace tarn::host {

HMODULE GetModuleHandleA(const std::string& library) {
    // An empty name means the program itself, as a null name does in Win32.
    void* module = dlopen(library.empty() ? nullptr : library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // GetModuleHandle takes no reference; RTLD_NOLOAD did, so give it back.
    // The library stays loaded by whoever loaded it before.
    dlclose(module);
    return module;
}

HMODULE LoadLibraryA(const std::string& library) {
    void* module = dlopen(library.empty() ? nullptr : library.c_str(), RTLD_LAZY);
    if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

FARPROC GetProcAddress(HMODULE module, const std::string& name) {
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(module, name.c_str());
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // A data pointer and a function pointer have the same size here; copying
    // the bits is the portable way to convert between them.
    FARPROC function;
    static_assert(sizeof function == sizeof symbol, "function and data pointers differ in size");
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

std::uint32_t CallUintFunction(FARPROC function, std::uint32_t value) {
    using UintFunction = std::uint32_t (*)(std::uint32_t);
    return reinterpret_cast<UintFunction>(function)(value);
}

}  // namespace tarn::host
