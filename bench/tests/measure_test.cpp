#include "measure.h"

#include <gtest/gtest.h>

#include <set>

namespace tarn::bench {
namespace {

TEST(Summarize, OddAndEvenCountsAndNone) {
    const Summary odd = Summarize({3, 1, 2});
    EXPECT_EQ(odd.count, 3u);
    EXPECT_DOUBLE_EQ(odd.median, 2);
    EXPECT_DOUBLE_EQ(odd.min, 1);
    EXPECT_DOUBLE_EQ(odd.max, 3);

    EXPECT_DOUBLE_EQ(Summarize({4, 1, 3, 2}).median, 2.5);
    EXPECT_DOUBLE_EQ(Summarize({7}).median, 7);
    EXPECT_EQ(Summarize({}).count, 0u);
}

TEST(Percentile, NearestRank) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    EXPECT_DOUBLE_EQ(Percentile(hundred, 50), 50);
    EXPECT_DOUBLE_EQ(Percentile(hundred, 99), 99);
    EXPECT_DOUBLE_EQ(Percentile(hundred, 100), 100);
    EXPECT_DOUBLE_EQ(Percentile(hundred, 0.5), 1);

    // With few values the 99th percentile is the largest one.
    EXPECT_DOUBLE_EQ(Percentile({4, 1, 3, 2}, 99), 4);
    EXPECT_DOUBLE_EQ(Percentile({4, 1, 3, 2}, 50), 2);
    EXPECT_DOUBLE_EQ(Percentile({}, 50), 0);
}

TEST(StreamHash, KnownValuesPiecesAndOrder) {
    StreamHash empty;
    EXPECT_EQ(empty.Value(), 0xcbf29ce484222325ull);
    EXPECT_EQ(empty.Count(), 0u);
    StreamHash a;
    a.Add("a");
    EXPECT_EQ(a.Value(), 0xaf63dc4c8601ec8cull);

    StreamHash whole;
    whole.Add(std::string("hello, world\0\xff", 14));
    StreamHash pieces;
    pieces.Add("hello");
    pieces.Add(", ");
    pieces.Add(std::string("world\0\xff", 7));
    EXPECT_EQ(pieces.Value(), whole.Value());
    EXPECT_EQ(pieces.Count(), 14u);

    StreamHash ab;
    ab.Add("ab");
    StreamHash ba;
    ba.Add("ba");
    EXPECT_NE(ab.Value(), ba.Value());
}

TEST(RandomBytes, FixedBySeedAndCoveringEveryValue) {
    EXPECT_EQ(RandomBytes(13, 7), RandomBytes(13, 7));
    EXPECT_NE(RandomBytes(13, 7), RandomBytes(13, 8));
    EXPECT_EQ(RandomBytes(13, 7).size(), 13u);
    // A shorter draw is the start of a longer one with the same seed.
    EXPECT_EQ(RandomBytes(64, 3).substr(0, 13), RandomBytes(13, 3));

    const std::string block = RandomBytes(1 << 16, 1);
    const std::set<unsigned char> seen(block.begin(), block.end());
    EXPECT_EQ(seen.size(), 256u);
}

TEST(PrintableLines, WidthEndingsAndAlphabet) {
    const std::string text = PrintableLines(50, 78, 9);
    ASSERT_EQ(text.size(), 50u * 80u);
    EXPECT_EQ(text, PrintableLines(50, 78, 9));
    std::set<std::string> distinct;
    for (std::size_t line = 0; line < 50; ++line) {
        const std::string body = text.substr(line * 80, 78);
        EXPECT_EQ(text.substr(line * 80 + 78, 2), "\r\n");
        for (const char c : body) {
            EXPECT_GE(c, 0x20);
            EXPECT_LE(c, 0x7E);
        }
        distinct.insert(body);
    }
    // A lost or repeated line shows.
    EXPECT_EQ(distinct.size(), 50u);
}

TEST(SizeText, LargestUnitThatDivides) {
    EXPECT_EQ(SizeText(16u << 20), "16 MiB");
    EXPECT_EQ(SizeText(12u << 10), "12 KiB");
    EXPECT_EQ(SizeText((1u << 20) + 1024), "1025 KiB");
    EXPECT_EQ(SizeText(1000), "1000 bytes");
    EXPECT_EQ(SizeText(0), "0 bytes");
}

TEST(CpuClocks, TheProcessIncludesThisThread) {
    const double threadAtStart = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    // Spin until the thread's clock has moved; the wall-clock bound only
    // keeps a broken clock from hanging the test.
    volatile std::uint64_t sink = 0;
    while (ThreadCpuSeconds() == threadAtStart && SecondsSince(start) < 10) sink = sink + 1;
    // The thread's clock is read first, so that the process's, read later,
    // has counted at least as much of this thread.
    const double thread = ThreadCpuSeconds();
    EXPECT_GT(thread, threadAtStart);
    EXPECT_GE(ProcessCpuSeconds() + CpuClockTolerance(), thread);
}

}  // namespace
}  // namespace tarn::bench
