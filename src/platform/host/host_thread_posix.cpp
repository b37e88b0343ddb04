// Thread identity, priority and timer slack on POSIX. Linux gives each
// thread its own nice value, addressed by the thread's kernel id; that is the
// one priority an unprivileged process may lower (and, with privileges,
// raise).
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "host_thread.h"

namespace tarn::host::detail {

std::uint32_t CurrentOsThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

void ApplyThreadPriority(std::uint32_t osThreadId, TThreadPriority priority) {
    static const int kNice[] = {19, 10, 5, 0, -5, -10, -20};
    const auto index = static_cast<unsigned>(priority);
    if (index >= sizeof kNice / sizeof kNice[0]) return;
    // Failure (EACCES when raising without privileges) leaves the thread as
    // it was, which is all a best-effort priority can promise.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(osThreadId), kNice[index]);
}

void UsePreciseTimedWaits() {
    // Linux lets a timed wait end up to the thread's timer slack late, 50 µs
    // by default, so that wake-ups can be gathered: 5 % of a 1 ms poll
    // period. The wake-ups are as many either way.
    (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace tarn::host::detail
