// Thread identity and priority on POSIX. Linux gives each thread its own
// nice value, addressed by the thread's kernel id; that is the one priority
// an unprivileged process may lower (and, with privileges, raise).
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

}  // namespace tarn::host::detail
