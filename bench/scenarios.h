// The benchmark scenarios. Each one does the same work twice over a fresh
// pseudo-terminal pair: once through the component and once in a baseline
// that uses plain read, write and poll on the slave end, the raw limit of
// the pair. The runner interleaves the two, run by run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report.h"

namespace tarn::bench {

// The amounts of work. The smoke pass uses small ones: it proves that each
// scenario runs and verifies its data, and measures nothing worth reading.
struct Settings {
    bool smoke = false;
    std::size_t runs = 5;
    std::size_t bulkBytes = 16u << 20;         // bulk receive at Delay 1
    std::size_t bulkDefaultBytes = 16u << 20;  // bulk receive at the default Delay
    std::size_t bulkDefaultRuns = 3;           // about seven minutes a run at 16 MiB
    std::size_t lines = 200000;
    std::size_t roundTrips = 2000;
    int waitSeconds = 3;
    double idleSeconds = 5;
    std::size_t sendBytes = 16u << 20;
    // A send run lasts a tenth of a second, in which the scheduling of the
    // writer and the reader on two processors moves the rate by a factor of
    // two either way: this many times the pairs keep the median ratio steady.
    std::size_t sendRunsPerRun = 3;

    static Settings Smoke();
};

// One run of one side: its figures, in the order of the scenario's figure
// kinds, or why it failed.
struct RunOutcome {
    std::vector<double> figures;
    std::string failure;
};

using RunFunction = std::function<RunOutcome(std::uint64_t seed)>;

struct Scenario {
    std::string name;
    std::string title;
    std::vector<FigureKind> figures;
    std::size_t runs = 0;
    RunFunction component;
    RunFunction baseline;
};

// Every scenario, in the order of the report.
std::vector<Scenario> AllScenarios(const Settings& settings);

// The scenarios of each file, appended to `out`.
void AddReceiveScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddLineScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddRoundTripScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddIdleScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddSendScenarios(const Settings& settings, std::vector<Scenario>& out);

// Runs `scenario` `scenario.runs` times, component and baseline in turn
// (the first of each pair alternating, so that a drift of the machine
// falls on both alike), and stops at the first failure.
ScenarioResult RunScenario(const Scenario& scenario,
                           const std::function<void(const std::string&)>& progress);

}  // namespace tarn::bench
