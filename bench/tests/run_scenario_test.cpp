#include <gtest/gtest.h>

#include <set>

#include "scenarios.h"

namespace tarn::bench {
namespace {

struct Call {
    char side;
    std::uint64_t seed;
};

Scenario Recording(std::vector<Call>& calls, std::size_t runs) {
    Scenario s;
    s.name = "fake";
    s.title = "records its calls";
    s.figures = {{"a"}, {"b"}};
    s.runs = runs;
    s.component = [&calls](std::uint64_t seed) {
        calls.push_back({'c', seed});
        return RunOutcome{{10.0 + static_cast<double>(calls.size()), 1}, ""};
    };
    s.baseline = [&calls](std::uint64_t seed) {
        calls.push_back({'b', seed});
        return RunOutcome{{5, 2}, ""};
    };
    return s;
}

TEST(RunScenario, InterleavesPairsAndAlternatesWhoGoesFirst) {
    std::vector<Call> calls;
    std::vector<std::string> progress;
    const ScenarioResult r =
        RunScenario(Recording(calls, 3), [&](const std::string& p) { progress.push_back(p); });
    EXPECT_TRUE(r.failure.empty());

    std::string order;
    for (const Call& c : calls) order += c.side;
    EXPECT_EQ(order, "cbbccb");
    // Both sides of a pair get the same data, each pair new data.
    EXPECT_EQ(calls[0].seed, calls[1].seed);
    EXPECT_EQ(calls[2].seed, calls[3].seed);
    EXPECT_NE(calls[0].seed, calls[2].seed);
    EXPECT_NE(calls[2].seed, calls[4].seed);

    ASSERT_EQ(r.figures.size(), 2u);
    EXPECT_EQ(r.figures[0].component, (std::vector<double>{11, 14, 15}));
    EXPECT_EQ(r.figures[0].baseline, (std::vector<double>{5, 5, 5}));
    EXPECT_EQ(r.figures[1].component, (std::vector<double>{1, 1, 1}));
    EXPECT_EQ(r.figures[1].kind.name, "b");
    EXPECT_EQ(progress.size(), 3u);
}

TEST(RunScenario, StopsAtTheFirstFailureAndNamesTheSide) {
    std::vector<Call> calls;
    Scenario s = Recording(calls, 5);
    s.baseline = [&calls](std::uint64_t seed) {
        calls.push_back({'b', seed});
        return calls.size() < 3 ? RunOutcome{{5, 2}, ""} : RunOutcome{{}, "lost a byte"};
    };
    const ScenarioResult r = RunScenario(s, nullptr);
    EXPECT_EQ(r.failure, "baseline: lost a byte");
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(r.figures[0].component.size(), 1u);
}

TEST(RunScenario, ARunWithTheWrongNumberOfFiguresFails) {
    std::vector<Call> calls;
    Scenario s = Recording(calls, 2);
    s.component = [](std::uint64_t) { return RunOutcome{{1}, ""}; };
    const ScenarioResult r = RunScenario(s, nullptr);
    EXPECT_FALSE(r.failure.empty());
    EXPECT_TRUE(r.figures[0].component.empty());
}

}  // namespace
}  // namespace tarn::bench
