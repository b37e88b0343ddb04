#include "host_windows.h"

#include "cpu_time.h"

namespace tarn::test {

namespace {

// FILETIME counts 100-nanosecond units.
double Seconds(const FILETIME& t) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7;
}

}  // namespace

double ProcessCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1.0;
    return Seconds(kernel) + Seconds(user);
}

double ThreadCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return -1.0;
    return Seconds(kernel) + Seconds(user);
}

}  // namespace tarn::test
