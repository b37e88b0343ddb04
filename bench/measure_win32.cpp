// Under Wine both clocks tick in steps of the Linux clock tick (10 ms), and
// they count this program's threads only: the time that the Wine server
// spends on the program's requests is its own process's.
#include "measure.h"

namespace tarn::bench {

double CpuClockTolerance() { return 2 / 64.0; }

}  // namespace tarn::bench
