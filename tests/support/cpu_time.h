// The processor time that this process and one thread have used so far,
// for tests that check that a wait does not spin and for the benchmarks'
// figures. Under Wine it counts the program's own threads only; the Wine
// server runs as a process of its own.
#pragma once

namespace tarn::test {

// User and system time of every thread of this process, ended ones
// included, in seconds; negative when the system cannot tell.
double ProcessCpuSeconds();

// User and system time of the calling thread, in seconds; negative when
// the system cannot tell.
double ThreadCpuSeconds();

}  // namespace tarn::test
