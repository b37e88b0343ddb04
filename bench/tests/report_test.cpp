#include "report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace tarn::bench {
namespace {

FigureResult Figure(FigureKind kind, std::vector<double> component, std::vector<double> baseline) {
    return {std::move(kind), std::move(component), std::move(baseline)};
}

// Braces and brackets balance outside strings, and strings close.
bool Balanced(const std::string& json) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') inString = true;
        if (c == '{' || c == '[') ++depth;
        if (c == '}' || c == ']') --depth;
        if (depth < 0) return false;
    }
    return depth == 0 && !inString;
}

TEST(FigureResult, RatiosPairRunsAndSkipAZeroBaseline) {
    const FigureResult f = Figure({"MB/s"}, {2, 3, 4}, {1, 0, 8});
    EXPECT_EQ(f.Ratios(), (std::vector<double>{2, 0.5}));
}

TEST(FigureResult, GoalsOnEitherSideAndOnTheRatio) {
    EXPECT_EQ(Figure({"MB/s", true, 3.5}, {3, 4, 5}, {}).GoalMet(), true);
    EXPECT_EQ(Figure({"MB/s", true, 3.5}, {3, 3, 5}, {}).GoalMet(), false);
    EXPECT_EQ(Figure({"CPU ms", false, 30}, {30, 10, 31}, {}).GoalMet(), true);
    EXPECT_EQ(Figure({"CPU ms", false, 30}, {31, 10, 32}, {}).GoalMet(), false);
    // 0.8 of the baseline: the median ratio counts, not the figure itself.
    EXPECT_EQ(Figure({"MB/s", true, 0.8, true}, {900, 700}, {1000, 1000}).GoalMet(), true);
    EXPECT_EQ(Figure({"MB/s", true, 0.8, true}, {700, 700}, {1000, 1000}).GoalMet(), false);
    EXPECT_EQ(Figure({"MB/s"}, {1}, {1}).GoalMet(), std::nullopt);
    EXPECT_EQ(Figure({"MB/s", true, 1}, {}, {}).GoalMet(), std::nullopt);
}

TEST(FormatFigure, FourSignificantDigits) {
    EXPECT_EQ(FormatFigure(1234.5678), "1235");
    EXPECT_EQ(FormatFigure(3.98765), "3.988");
    EXPECT_EQ(FormatFigure(0.000123456), "0.0001235");
    EXPECT_EQ(FormatFigure(std::nan("")), "n/a");
}

TEST(WriteJson, EveryFigureWithItsSeriesGoalAndFailure) {
    ScenarioResult ok{"send", "a \"quoted\" title", {}, ""};
    ok.figures.push_back(Figure({"MB/s", true, 0.8, true}, {50, 70, 60}, {100, 100, 100}));
    ok.figures.push_back(Figure({"CPU s"}, {std::numeric_limits<double>::infinity()}, {1}));
    ScenarioResult failed{"lines", "t", {}, "line 3 differs"};
    std::ostringstream out;
    WriteJson(out, {ok, failed}, 3, false);
    const std::string json = out.str();

    EXPECT_TRUE(Balanced(json)) << json;
    EXPECT_NE(json.find("\"runs\": 3"), std::string::npos);
    EXPECT_NE(json.find("\"smoke\": false"), std::string::npos);
    EXPECT_NE(json.find("\"title\": \"a \\\"quoted\\\" title\""), std::string::npos);
    EXPECT_NE(json.find("\"component\": {\"median\": 60, \"min\": 50, \"max\": 70, "
                        "\"runs\": [50, 70, 60]}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"ratio\": {\"median\": 0.6"), std::string::npos);
    EXPECT_NE(json.find("\"goal\": {\"value\": 0.8, \"of\": \"ratio\", \"met\": false}"),
              std::string::npos);
    EXPECT_NE(json.find("\"median\": null"), std::string::npos);
    EXPECT_NE(json.find("\"verified\": false,\n      \"failure\": \"line 3 differs\""),
              std::string::npos);
}

TEST(PrintTable, ShowsSpreadGoalsAndFailures) {
    ScenarioResult r{"bulk", "bulk receive", {}, "received 5 of 6 bytes"};
    r.figures.push_back(Figure({"MB/s", true, 3.5}, {3, 2, 4}, {100, 100, 100}));
    std::ostringstream withGoals;
    PrintTable(withGoals, {r}, true);
    const std::string text = withGoals.str();
    EXPECT_NE(text.find("FAILED: received 5 of 6 bytes"), std::string::npos);
    EXPECT_NE(text.find("3 [2, 4]"), std::string::npos);
    EXPECT_NE(text.find("0.03 [0.02, 0.04]"), std::string::npos);
    EXPECT_NE(text.find("goal >= 3.5: MISSED"), std::string::npos);

    std::ostringstream without;
    PrintTable(without, {r}, false);
    EXPECT_EQ(without.str().find("goal"), std::string::npos);
}

}  // namespace
}  // namespace tarn::bench
