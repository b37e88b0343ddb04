// The library keeps its own per-thread last-error code, as Win32 does, so
// that virtual ports and both systems' ports report errors the same way.
#include "host_system_error.h"

#include <mutex>

namespace tarn::host {

namespace {
thread_local std::uint32_t lastError = ERROR_SUCCESS;
}  // namespace

std::uint32_t GetLastError() { return lastError; }

void SetLastError(std::uint32_t code) { lastError = code; }

namespace {

// A ring of the latest texts, each beside its code. Never destroyed, so that
// a thread that reports an error while the process exits still finds it.
struct DescribedErrors {
    std::mutex mutex;
    std::uint32_t issued = 0;                     // guarded by mutex
    std::uint32_t codes[kDescribedErrorsKept]{};  // guarded by mutex
    std::string texts[kDescribedErrorsKept];      // guarded by mutex
};

DescribedErrors& Described() {
    static auto* described = new DescribedErrors;
    return *described;
}

}  // namespace

std::uint32_t DescribedError(std::string text) {
    DescribedErrors& d = Described();
    std::lock_guard<std::mutex> lock(d.mutex);
    // 2^24 codes before one comes again, long after its text has gone.
    const std::uint32_t code = kDescribedErrorBit | (d.issued++ & 0x00FFFFFFu);
    const std::size_t slot = code % kDescribedErrorsKept;
    d.codes[slot] = code;
    d.texts[slot] = std::move(text);
    return code;
}

bool DescribedErrorText(std::uint32_t code, std::string& text) {
    if ((code & kDescribedErrorBit) == 0) return false;
    DescribedErrors& d = Described();
    std::lock_guard<std::mutex> lock(d.mutex);
    const std::size_t slot = code % kDescribedErrorsKept;
    if (d.codes[slot] != code || d.texts[slot].empty()) return false;
    text = d.texts[slot];
    return true;
}

}  // namespace tarn::host
