// The benchmark scenarios. Each one does the same work twice over a fresh
// pseudo-terminal pair: once through the component and once in a baseline
// that uses the port end the plain way (read, write and poll on Linux,
// ReadFile and WriteFile on Windows), the raw limit of the pair. The runner
// interleaves the two, run by run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report.h"

namespace tarn::bench {

// The amounts of work, which differ between Linux and Windows (where the
// bench runs under Wine, whose comm calls cost far more). The smoke pass
// uses small ones: it proves that each scenario runs and verifies its data,
// and measures nothing worth reading.
struct Settings {
    bool smoke = false;
    std::size_t runs = 5;
    std::size_t bulkBytes = 0;         // bulk receive at Delay 1 and woken by data
    std::size_t bulkDefaultBytes = 0;  // bulk receive at the default Delay
    std::size_t bulkDefaultRuns = 0;   // at most this many runs of that one
    std::size_t lines = 0;
    std::size_t frames = 0;  // of each framing and each way of taking them
    std::size_t roundTrips = 0;
    int waitSeconds = 0;
    double idleSeconds = 0;
    std::size_t sendBytes = 0;
    // A send run may be short enough that the scheduling of the writer and
    // the reader moves its rate by a factor of two either way: this many
    // times the pairs keep the median ratio steady.
    std::size_t sendRunsPerRun = 1;
    // Over the network to ser2net on loopback.
    std::size_t remoteBytes = 0;
    std::size_t remoteTrips = 0;
    // The counts of ports open at once, and how long they idle before the
    // burst. None where the pairs are not the process's own (under Wine
    // each takes a socat process).
    std::vector<std::size_t> manyPorts;
    double manyPortsIdleSeconds = 0;
    // Whether figures carry their goals. The goals are set for Linux; under
    // Wine only the ratios to the baseline mean anything.
    bool goals = true;

    static Settings Full();
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
void AddFrameScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddRoundTripScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddIdleScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddSendScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddRemoteScenarios(const Settings& settings, std::vector<Scenario>& out);
void AddManyPortsScenarios(const Settings& settings, std::vector<Scenario>& out);

// Runs `scenario` `scenario.runs` times, component and baseline in turn
// (the first of each pair alternating, so that a drift of the machine
// falls on both alike), and stops at the first failure.
ScenarioResult RunScenario(const Scenario& scenario,
                           const std::function<void(const std::string&)>& progress);

}  // namespace tarn::bench
