// The library keeps its own per-thread last-error code, as Win32 does, so
// that virtual ports and both systems' ports report errors the same way.
#include "host_system_error.h"

namespace tarn::host {

namespace {
thread_local std::uint32_t lastError = ERROR_SUCCESS;
}  // namespace

std::uint32_t GetLastError() { return lastError; }

void SetLastError(std::uint32_t code) { lastError = code; }

}  // namespace tarn::host
