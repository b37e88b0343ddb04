// The many-ports scenarios are left out of the Windows builds: under Wine
// every pair is two terminals that a socat process joins and a COM port of
// the prefix, and hundreds of them at once are more than a prefix takes in
// a bench run.
#include "scenarios.h"

namespace tarn::bench {

void AddManyPortsScenarios(const Settings&, std::vector<Scenario>&) {}

}  // namespace tarn::bench
