// The processor time that this process has used so far, for tests that
// check that a wait does not spin. Under Wine it counts the program's own
// threads only; the Wine server runs as a process of its own.
#pragma once

namespace tarn::test {

// User and system time of all threads of this process, in seconds;
// negative when the system cannot tell.
double ProcessCpuSeconds();

}  // namespace tarn::test
