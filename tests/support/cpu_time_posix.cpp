#include <time.h>

#include "cpu_time.h"

namespace tarn::test {

namespace {

double ClockSeconds(clockid_t clock) {
    timespec now{};
    if (clock_gettime(clock, &now) != 0) return -1.0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

double ProcessCpuSeconds() { return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID); }

double ThreadCpuSeconds() { return ClockSeconds(CLOCK_THREAD_CPUTIME_ID); }

}  // namespace tarn::test
