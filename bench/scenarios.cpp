#include "scenarios.h"

namespace tarn::bench {

std::vector<Scenario> AllScenarios(const Settings& settings) {
    std::vector<Scenario> all;
    AddReceiveScenarios(settings, all);
    AddLineScenarios(settings, all);
    AddFrameScenarios(settings, all);
    AddRoundTripScenarios(settings, all);
    AddIdleScenarios(settings, all);
    AddSendScenarios(settings, all);
    AddRemoteScenarios(settings, all);
    AddManyPortsScenarios(settings, all);
    if (!settings.goals) {
        for (Scenario& s : all) {
            for (FigureKind& f : s.figures) f.goal.reset();
        }
    }
    return all;
}

ScenarioResult RunScenario(const Scenario& scenario,
                           const std::function<void(const std::string&)>& progress) {
    ScenarioResult result{scenario.name, scenario.title, {}, ""};
    for (const FigureKind& kind : scenario.figures) result.figures.push_back({kind, {}, {}});

    auto record = [&](const RunFunction& run, std::uint64_t seed, bool component) {
        const RunOutcome outcome = run(seed);
        if (outcome.failure.empty() && outcome.figures.size() != result.figures.size()) {
            result.failure = "a run gave " + std::to_string(outcome.figures.size()) + " figures";
            return;
        }
        if (!outcome.failure.empty()) {
            result.failure = (component ? "component: " : "baseline: ") + outcome.failure;
            return;
        }
        for (std::size_t i = 0; i < outcome.figures.size(); ++i) {
            (component ? result.figures[i].component : result.figures[i].baseline)
                .push_back(outcome.figures[i]);
        }
    };
    for (std::size_t run = 0; run < scenario.runs && result.failure.empty(); ++run) {
        if (progress)
            progress(scenario.name + " run " + std::to_string(run + 1) + "/" +
                     std::to_string(scenario.runs));
        // Both sides of a pair get the same data; each pair gets new data.
        const std::uint64_t seed = 0x5eed0000u + run;
        const bool componentFirst = run % 2 == 0;
        record(componentFirst ? scenario.component : scenario.baseline, seed, componentFirst);
        if (!result.failure.empty()) break;
        record(componentFirst ? scenario.baseline : scenario.component, seed, !componentFirst);
    }
    return result;
}

}  // namespace tarn::bench
