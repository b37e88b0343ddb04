#include <gtest/gtest.h>

#include <set>

#include "scenarios.h"

namespace tarn::bench {
namespace {

TEST(AllScenarios, EveryScenarioOnceWithBothSidesAndItsGoals) {
    const Settings full = Settings::Full();
    const Settings smoke = Settings::Smoke();
    EXPECT_TRUE(smoke.smoke);
    EXPECT_LT(smoke.bulkBytes, full.bulkBytes);
    EXPECT_LT(smoke.lines, full.lines);
    EXPECT_LT(smoke.frames, full.frames);
    EXPECT_LT(smoke.sendBytes, full.sendBytes);

    std::set<std::string> names;
    std::size_t goals = 0;
    for (const Scenario& s : AllScenarios(smoke)) {
        EXPECT_TRUE(names.insert(s.name).second) << s.name;
        EXPECT_TRUE(s.component && s.baseline) << s.name;
        EXPECT_FALSE(s.figures.empty()) << s.name;
        EXPECT_EQ(s.runs, 1u) << s.name;
        for (const FigureKind& f : s.figures) goals += f.goal ? 1 : 0;
    }
    EXPECT_EQ(names, (std::set<std::string>{"bulk_receive_delay1",
                                            "bulk_receive_default",
                                            "bulk_receive_wake",
                                            "line_reads",
                                            "line_reads_wake",
                                            "frames_delimiter_event",
                                            "frames_delimiter_readframe",
                                            "frames_cobs_event",
                                            "frames_cobs_readframe",
                                            "round_trip",
                                            "round_trip_wake",
                                            "round_trip_readchars",
                                            "round_trip_readchars_polling",
                                            "waiting",
                                            "waiting_wake",
                                            "idle_default",
                                            "idle_delay1",
                                            "idle_wake",
                                            "send",
                                            "send_wake",
                                            "remote_bulk_receive",
                                            "remote_round_trip",
                                            "many_ports_4_wake",
                                            "many_ports_4_default"}));
    // Bulk receive at Delay 1 and woken by data, both line reads, the three
    // round trips but the polling ReadChars(1) one (the woken ones for time
    // and processor), both waits, idle at the default Delay and woken by
    // data, both sends.
    EXPECT_EQ(goals, 15u);
}

}  // namespace
}  // namespace tarn::bench
