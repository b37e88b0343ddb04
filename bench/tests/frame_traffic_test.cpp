#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "frame_traffic.h"

namespace tarn::bench {
namespace {

// The baseline's decoder gives back exactly the frames sent, however the
// reads cut the bytes: the check that a baseline run passes must not rest
// on the pieces the terminal happened to hand over.
TEST(PlainFrameSplitter, GivesBackTheFramesSentWhateverThePieces) {
    for (const FrameKind kind : {FrameKind::Delimited, FrameKind::Cobs}) {
        const FrameTraffic traffic = MakeFrameTraffic(kind, 300, 7);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{4095}}) {
            FrameCheck check(traffic);
            PlainFrameSplitter splitter(kind);
            for (std::size_t at = 0; at < traffic.wire.size(); at += piece) {
                const std::size_t n = std::min(piece, traffic.wire.size() - at);
                splitter.Feed(traffic.wire.data() + at, n, check);
            }
            EXPECT_EQ(check.Verdict(), "") << "pieces of " << piece;
            EXPECT_EQ(splitter.Malformed(), 0u);
            EXPECT_FALSE(splitter.InFrame());
        }
    }
}

// COBS edge cases that 64-byte payloads never meet: a full group of 254
// bytes without a zero, zeros at both ends, and a group cut short by 0x00.
TEST(PlainFrameSplitter, DecodesFullGroupsAndCountsAGroupCutShort) {
    FrameTraffic traffic;
    traffic.kind = FrameKind::Cobs;
    traffic.frames = 2;
    traffic.payloadSize = 300;
    std::string payloads(300, 'x');
    payloads[0] = '\0';
    payloads += std::string(299, 'y') + '\0';
    StreamHash hash;
    hash.Add(payloads);
    traffic.expected = hash.Value();
    AppendCobsFrame(std::string_view(payloads).substr(0, 300), traffic.wire);
    AppendCobsFrame(std::string_view(payloads).substr(300), traffic.wire);
    // 300 bytes, one a zero, in three groups: 302 bytes, then the 0x00.
    EXPECT_EQ(traffic.wire.find('\0'), 302u);

    FrameCheck check(traffic);
    PlainFrameSplitter splitter(FrameKind::Cobs);
    splitter.Feed(traffic.wire.data(), traffic.wire.size(), check);
    EXPECT_EQ(check.Verdict(), "");
    const std::string cutShort(
        "\x05"
        "ab\0",
        4);
    splitter.Feed(cutShort.data(), cutShort.size(), check);
    EXPECT_EQ(splitter.Malformed(), 1u);
    EXPECT_EQ(check.Count(), 2u);
}

}  // namespace
}  // namespace tarn::bench
