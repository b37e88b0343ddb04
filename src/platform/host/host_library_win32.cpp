// Run-time binding on Windows: kernel32's own functions. A failure's system
// error code is handed on to the driver layer's last error.
#include <cstring>
#include <string>

#include "host_library.h"
#include "host_system_error.h"

#include "host_windows.h"

namespace tarn::host {
namespace {

// An empty name asks for the program itself, as a null name does in Win32.
const char* NameOrNull(const std::string& library) {
    return library.empty() ? nullptr : library.c_str();
}

HMODULE Checked(::HMODULE module) {
    if (module == nullptr) tarn::host::SetLastError(::GetLastError());
    return reinterpret_cast<HMODULE>(module);
}

}  // namespace

HMODULE GetModuleHandleA(const std::string& library) {
    return Checked(::GetModuleHandleA(NameOrNull(library)));
}

HMODULE LoadLibraryA(const std::string& library) {
    return Checked(::LoadLibraryA(library.c_str()));
}

FARPROC GetProcAddress(HMODULE module, const std::string& name) {
    ::FARPROC native = ::GetProcAddress(reinterpret_cast<::HMODULE>(module), name.c_str());
    if (native == nullptr) {
        tarn::host::SetLastError(::GetLastError());
        return nullptr;
    }
    // Both are plain code addresses; the caller casts to the real signature.
    FARPROC function;
    static_assert(sizeof function == sizeof native, "function pointers differ in size");
    std::memcpy(&function, &native, sizeof function);
    return function;
}

std::uint32_t CallUintFunction(FARPROC function, std::uint32_t value) {
    using UintFunction = UINT(WINAPI*)(UINT);
    return reinterpret_cast<UintFunction>(function)(value);
}

}  // namespace tarn::host
