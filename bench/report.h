// Results of the benchmark: for each scenario and figure the values of the
// component and of the baseline, run by run, summarised as median, minimum
// and maximum, with the ratio of each interleaved pair; printed as a table
// and written as JSON for tools.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "measure.h"

namespace tarn::bench {

// What a figure measures and, when it has one, the goal the component must
// reach: at least `goal` when higher is better, at most `goal` otherwise.
// A goal relative to the baseline is compared with the ratio instead.
struct FigureKind {
    FigureKind(std::string name, bool higherIsBetter = true,
               std::optional<double> goal = std::nullopt, bool goalIsRatio = false)
        : name(std::move(name)),
          higherIsBetter(higherIsBetter),
          goal(goal),
          goalIsRatio(goalIsRatio) {}

    std::string name;  // for example "MB/s"
    bool higherIsBetter;
    std::optional<double> goal;
    bool goalIsRatio;
};

struct FigureResult {
    FigureKind kind;
    std::vector<double> component;  // one value per run
    std::vector<double> baseline;   // one value per run, interleaved with those above

    // component[i] / baseline[i] for each pair whose baseline is not 0.
    std::vector<double> Ratios() const;
    // Whether the median meets the goal; empty without a goal or without
    // runs.
    std::optional<bool> GoalMet() const;
};

struct ScenarioResult {
    std::string name;
    std::string title;
    std::vector<FigureResult> figures;
    // The first failure of a run (a byte lost, a port that would not open);
    // empty when every run verified its data.
    std::string failure;
};

// Formats a figure with four significant digits.
std::string FormatFigure(double value);

void PrintTable(std::ostream& out, const std::vector<ScenarioResult>& results, bool withGoals);

// The whole result as one JSON document. Figures that are not finite are
// written as null.
void WriteJson(std::ostream& out, const std::vector<ScenarioResult>& results, std::size_t runs,
               bool smoke);

}  // namespace tarn::bench
