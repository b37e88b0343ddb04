#include "timer_resolution.h"

#include <atomic>

#include "host_library.h"

namespace tarn::timer {

namespace {

// Null until bound; a failed binding is tried again at the next call.
std::atomic<host::FARPROC> beginPeriod{nullptr};
std::atomic<host::FARPROC> endPeriod{nullptr};
std::atomic<std::uint32_t> beginCount{0};
std::atomic<std::uint32_t> endCount{0};

host::FARPROC LinkAPI(const char* library, const char* name) {
    host::HMODULE module = host::GetModuleHandleA(library);
    if (module == nullptr) module = host::LoadLibraryA(library);
    if (module == nullptr) return nullptr;
    return host::GetProcAddress(module, name);
}

std::uint32_t CallPeriod(std::atomic<host::FARPROC>& slot, const char* name, std::uint32_t period) {
    host::FARPROC function = slot.load();
    if (function == nullptr) {
        function = LinkAPI("winmm.dll", name);
        slot.store(function);
    }
    if (function != nullptr) host::CallUintFunction(function, period);
    return 0;
}

}  // namespace

std::uint32_t TimeBeginPeriod(std::uint32_t period) {
    ++beginCount;
    return CallPeriod(beginPeriod, "timeBeginPeriod", period);
}

std::uint32_t TimeEndPeriod(std::uint32_t period) {
    ++endCount;
    return CallPeriod(endPeriod, "timeEndPeriod", period);
}

std::uint32_t BeginCount() { return beginCount.load(); }
std::uint32_t EndCount() { return endCount.load(); }

}  // namespace tarn::timer
