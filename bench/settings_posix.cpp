#include "scenarios.h"

namespace tarn::bench {

Settings Settings::Full() {
    Settings s;
    s.bulkBytes = 16u << 20;
    s.bulkDefaultBytes = 16u << 20;
    s.bulkDefaultRuns = 3;  // about seven minutes a run at 16 MiB
    s.lines = 200000;
    s.frames = 200000;
    s.roundTrips = 2000;
    s.waitSeconds = 3;
    s.idleSeconds = 5;
    s.sendBytes = 16u << 20;
    // A send run lasts a tenth of a second, in which the scheduling of the
    // writer and the reader on two processors moves the rate by a factor of
    // two either way.
    s.sendRunsPerRun = 3;
    s.remoteBytes = 4u << 20;
    s.remoteTrips = 1000;
    s.manyPorts = {64, 256};
    s.manyPortsIdleSeconds = 2;
    return s;
}

Settings Settings::Smoke() {
    Settings s;
    s.smoke = true;
    s.runs = 1;
    s.bulkBytes = 256u << 10;
    s.bulkDefaultBytes = 12u << 10;
    s.bulkDefaultRuns = 1;
    s.lines = 2000;
    s.frames = 2000;
    s.roundTrips = 50;
    s.waitSeconds = 1;
    s.idleSeconds = 0.3;
    s.sendBytes = 1u << 20;
    s.sendRunsPerRun = 1;
    s.remoteBytes = 64u << 10;
    s.remoteTrips = 20;
    s.manyPorts = {4};
    s.manyPortsIdleSeconds = 0.2;
    return s;
}

}  // namespace tarn::bench
