// Thread identity and priority on Windows, where every priority of the
// host's thread class has a system equivalent.
#include "host_windows.h"

#include "host_thread.h"

namespace tarn::host::detail {

std::uint32_t CurrentOsThreadId() { return GetCurrentThreadId(); }

void ApplyThreadPriority(std::uint32_t osThreadId, TThreadPriority priority) {
    static const int kPriority[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                    THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                    THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                    THREAD_PRIORITY_TIME_CRITICAL};
    const auto index = static_cast<unsigned>(priority);
    if (index >= sizeof kPriority / sizeof kPriority[0]) return;
    const HANDLE thread = OpenThread(THREAD_SET_INFORMATION, FALSE, osThreadId);
    if (thread == nullptr) return;
    SetThreadPriority(thread, kPriority[index]);
    CloseHandle(thread);
}

// Windows has no timer slack per thread: the resolution of every timed wait
// is the system timer's, which the component raises with timeBeginPeriod
// while a short poll period is in force.
void UsePreciseTimedWaits() {}

}  // namespace tarn::host::detail
