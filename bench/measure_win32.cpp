// Under Wine both clocks tick in steps of the Linux clock tick (10 ms), and
// they count this program's threads only: the time that the Wine server
// spends on the program's requests is its own process's.
#include "host_windows.h"

#include "cpu_time.h"
#include "measure.h"

namespace tarn::bench {

double ProcessCpuSeconds() { return tarn::test::ProcessCpuSeconds(); }

double ThreadCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    // FILETIME counts 100-nanosecond units.
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

double CpuClockTolerance() { return 2 / 64.0; }

}  // namespace tarn::bench
