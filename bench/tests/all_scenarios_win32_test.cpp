#include <gtest/gtest.h>

#include <set>

#include "scenario_support.h"
#include "scenarios.h"

namespace tarn::bench {
namespace {

// Under Wine waking on data still polls inside the driver, so each scenario
// that Linux runs in one receive mode runs in both; no figure has a goal.
TEST(AllScenarios, EveryScenarioInBothReceiveModesAndWithoutGoals) {
    const Settings full = Settings::Full();
    const Settings smoke = Settings::Smoke();
    EXPECT_TRUE(smoke.smoke);
    EXPECT_LT(smoke.bulkBytes, full.bulkBytes);
    EXPECT_LT(smoke.lines, full.lines);
    EXPECT_LT(smoke.frames, full.frames);
    EXPECT_LT(smoke.sendBytes, full.sendBytes);

    std::set<std::string> names;
    for (const Scenario& s : AllScenarios(full)) {
        EXPECT_TRUE(names.insert(s.name).second) << s.name;
        EXPECT_TRUE(s.component && s.baseline) << s.name;
        for (const FigureKind& f : s.figures) EXPECT_FALSE(f.goal) << s.name << " " << f.name;
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
                                            "remote_round_trip"}));
}

// The Wine line: bytes pass both ways between the peer thread's handle and
// the plain COM port, and a read of a silent line ends empty rather than
// failing.
TEST(WineLine, CarriesBytesBothWaysAndAQuietReadEndsEmpty) {
    std::string why;
    const auto line = Line::Create(&why);
    ASSERT_TRUE(line) << why;
    const auto raw = RawPort::Open(*line, &why);
    ASSERT_TRUE(raw) << why;

    char got[16] = {};
    EXPECT_EQ(raw->ReadSome(got, sizeof got, 50), 0);
    ASSERT_TRUE(line->WritePeer("abc", 3));
    std::string received;
    while (received.size() < 3) {
        const long n = raw->ReadSome(got, sizeof got, kStallMs);
        ASSERT_GT(n, 0);
        received.append(got, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(received, "abc");
    ASSERT_TRUE(raw->WriteAll("xy", 2));
    ASSERT_TRUE(line->ReadPeerExactly(got, 2));
    EXPECT_EQ(std::string(got, 2), "xy");
    EXPECT_EQ(line->ReadPeer(got, sizeof got, 50), 0);
}

}  // namespace
}  // namespace tarn::bench
