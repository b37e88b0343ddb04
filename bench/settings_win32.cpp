// Under Wine every comm call is a request to the Wine server, so the amounts
// are smaller than on Linux: a full run of five pairs takes a few minutes, a
// smoke pass seconds.
#include "scenarios.h"

namespace tarn::bench {

Settings Settings::Full() {
    Settings s;
    s.bulkBytes = 4u << 20;
    // The default Delay takes at most what the terminal holds (4095 bytes)
    // a cycle: some 40 KB/s.
    s.bulkDefaultBytes = 256u << 10;
    s.bulkDefaultRuns = 3;
    s.lines = 100000;
    s.frames = 100000;
    s.roundTrips = 1000;
    s.waitSeconds = 2;
    s.idleSeconds = 2;
    s.sendBytes = 8u << 20;
    s.sendRunsPerRun = 1;
    s.remoteBytes = 1u << 20;
    s.remoteTrips = 500;
    s.goals = false;
    return s;
}

Settings Settings::Smoke() {
    Settings s = Full();
    s.smoke = true;
    s.runs = 1;
    s.bulkBytes = 64u << 10;
    s.bulkDefaultBytes = 8u << 10;
    s.bulkDefaultRuns = 1;
    s.lines = 200;
    s.frames = 200;
    s.roundTrips = 20;
    s.waitSeconds = 1;
    s.idleSeconds = 0.3;
    s.sendBytes = 64u << 10;
    s.remoteBytes = 32u << 10;
    s.remoteTrips = 10;
    return s;
}

}  // namespace tarn::bench
