// The frame decoder and encoder: each framing cuts the same frames and
// errors whatever the pieces its bytes come in, what the encoder makes
// decodes back to the payload, and the decoder's memory stays bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "frame_codec_p.h"

namespace {

using namespace std::string_literals;
using namespace tarn::serialport;

constexpr int kFrame = -1;
using Event = std::pair<int, std::string>;  // kFrame or the error's reason, and the bytes
Event F(std::string bytes) { return {kFrame, std::move(bytes)}; }
Event E(TFrameErrorReason reason, std::string bytes) { return {reason, std::move(bytes)}; }

struct Recorder final : FrameSink {
    std::vector<Event> events;
    void Frame(std::string frame) override { events.emplace_back(kFrame, std::move(frame)); }
    void FrameError(TFrameErrorReason reason, std::string bytes) override {
        events.emplace_back(reason, std::move(bytes));
    }
};

TFrameFormat Fmt(TFraming framing, std::uint32_t max, std::string delimiter = "\r\n",
                 std::uint32_t fixed = 1, TFrameLengthField field = lf8Bit) {
    return {framing, std::move(delimiter), fixed, field, max};
}
TFrameFormat Prefixed(TFrameLengthField field, std::uint32_t max) {
    return Fmt(frLengthPrefixed, max, "\r\n", 1, field);
}
std::string Named(const TFrameFormat& f) { return "framing " + std::to_string(f.framing); }
std::size_t HeldBound(const TFrameFormat& f) {
    return f.maxFrameLength + f.maxFrameLength / 254 + f.delimiter.size() + 4;
}
std::vector<std::size_t> EveryByte(std::size_t total) {
    std::vector<std::size_t> cuts;
    for (std::size_t k = 1; k < total; ++k) cuts.push_back(k);
    return cuts;
}

struct Decoded {
    std::vector<Event> events;
    std::vector<std::size_t> ends;  // for each event, the bytes taken when it was told
    bool inFrame = false;
};

// Feeds the bursts, each followed by a quiet line, cut also at `cuts`
// (offsets into all the bytes); with `stop`, feeds again what a Feed left.
Decoded Decode(const TFrameFormat& format, const std::vector<std::string>& bursts,
               const std::vector<std::size_t>& cuts, bool stop = false) {
    FrameDecoder decoder(format);
    Recorder sink;
    Decoded run;
    std::size_t offset = 0;
    auto cut = cuts.begin();
    for (const std::string& burst : bursts) {
        for (std::size_t at = 0; at < burst.size();) {
            cut = std::upper_bound(cut, cuts.end(), offset + at);
            const std::size_t end =
                cut == cuts.end() ? burst.size() : std::min(*cut - offset, burst.size());
            const std::size_t before = sink.events.size();
            const std::size_t taken =
                decoder.Feed(std::string_view(burst).substr(at, end - at), sink, stop);
            // A stopped Feed tells one thing at most, and leaves bytes only after it.
            const bool told = sink.events.size() == before + 1;
            EXPECT_TRUE(!stop || sink.events.size() <= before + 1) << "at " << offset + at;
            EXPECT_TRUE(taken == end - at || (stop && told && taken > 0)) << "at " << offset + at;
            EXPECT_LE(decoder.HeldBytes(), HeldBound(format));
            at += std::max<std::size_t>(taken, 1);
            run.ends.resize(sink.events.size(), offset + at);
        }
        offset += burst.size();
        decoder.LineQuiet(sink);
        run.ends.resize(sink.events.size(), offset);
    }
    run.events = std::move(sink.events);
    run.inFrame = decoder.InFrame();
    decoder.Reset();
    EXPECT_FALSE(decoder.InFrame());
    EXPECT_EQ(decoder.HeldBytes(), 0u);
    return run;
}

struct DecodeCase {
    TFrameFormat format;
    std::vector<std::string> bursts;
    std::vector<Event> expected;
    bool unfinished;  // a frame is still held, skipped or dropped at the end
};

const std::string kSkipped(301, 'z');

// clang-format off
const DecodeCase kDecodeCases[] = {
    {Fmt(frDelimiter, 4), {"ab\r\n\r\nabcdefg\r\na\rb\r\nabc\r\r\nabcd\r\r\nabcd\r\ntail"},
     {F("ab"), F(""), E(feTooLong, "abcde"), F("a\rb"), F("abc\r"), E(feTooLong, "abcd\r"),
      F("abcd")}, true},
    {Fmt(frDelimiter, 8, "\r\r\n"), {"a\r\r\r\nb\r\r\n\r\r\r\r\n"}, {F("a\r"), F("b"), F("\r\r")},
     false},
    {Fmt(frDelimiter, 6, "aab"), {"aaabaaaababaabaabaab"}, {F("a"), F("aa"), F("ab"), F(""), F("")},
     false},
    {Fmt(frDelimiter, 3, "\n"), {"abc\nabcd\nxyzw123\n\n"},
     {F("abc"), E(feTooLong, "abcd"), E(feTooLong, "xyzw"), F("")}, false},
    {Fmt(frFixedLength, 4, "", 3), {"abcdefgh"}, {F("abc"), F("def")}, true},
    {Prefixed(lf8Bit, 4), {"\x02" "ab\0\x05" "vwxyz\x04" "abcd\x03" "xy"s},
     {F("ab"), F(""), E(feLengthTooLarge, "\x05"), F("abcd")}, true},
    {Prefixed(lf16BitBE, 300), {"\0\x02" "ab\x01\x2D"s + kSkipped + "\0\0"s},
     {F("ab"), E(feLengthTooLarge, "\x01\x2D"), F("")}, false},
    {Prefixed(lf16BitLE, 300), {"\x02\0" "ab\x2D\x01"s + kSkipped + "\x01\0q"s},
     {F("ab"), E(feLengthTooLarge, "\x2D\x01"), F("q")}, false},
    {Prefixed(lf32BitBE, 10), {"\0\0\0\x03" "abc\xff\xff\xff\xff" "more"s},
     {F("abc"), E(feLengthTooLarge, "\xff\xff\xff\xff")}, true},
    {Prefixed(lf32BitLE, 10), {"\x03\0\0\0" "abc\0\0\0\0\x0b\0\0\0" "kkkkkkkkkkk\x01\0\0\0x"s},
     {F("abc"), F(""), E(feLengthTooLarge, "\x0b\0\0\0"s), F("x")}, false},
    {Fmt(frSlip, 4), {"ab\xC0\xC0\xC0\xDB\xDC\xDB\xDD\xC0" "a\xDBxy\xC0" "abcdef\xC0\xDB\xC0"
                      "\xDB\xDCq\xDB\x01\xC0" "zz\xC0\xDB"},
     {F("ab"), F("\xC0\xDB"), E(feBadEscape, "a\xDBx"), E(feTooLong, "abcde"),
      E(feBadEscape, "\xDB\xC0"), E(feBadEscape, "\xDB\xDCq\xDB\x01"), F("zz")}, true},
    {Fmt(frCobs, 6), {"\x03" "ab\0\0\x01\x01\0\x01\0\x02x\x03yz\0\x05" "ab\0\x08" "abcdefgh\0"
                      "\x02q\0\x02"s},
     {F("ab"), F("\0"s), F(""), F("x\0yz"s), E(feBadCode, "\x05" "ab"), E(feTooLong, "abcdefg"),
      F("q")}, true},
    {Fmt(frCobs, 3), {"\x03" "ab\x01\x01\x01\0\x01\x01\0"s}, {E(feTooLong, "ab\0\0"s), F("\0"s)},
     false},
    {Fmt(frSilence, 3), {"abc", "", "abcdef", "x"}, {F("abc"), E(feTooLong, "abcd"), F("x")},
     false},
    {Fmt(frNone, 3), {"ab\r\n\0\xC0"s}, {}, false},
};
// clang-format on

TEST(FrameDecoder, EveryPiecingGivesTheSameFramesAndErrors) {
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(Named(c.format));
        std::size_t total = 0;
        for (const std::string& burst : c.bursts) total += burst.size();
        const Decoded whole = Decode(c.format, c.bursts, {});
        EXPECT_EQ(whole.events, c.expected);
        EXPECT_EQ(whole.inFrame, c.unfinished);
        const Decoded bytewise = Decode(c.format, c.bursts, EveryByte(total));
        EXPECT_EQ(bytewise.events, c.expected);
        for (std::size_t k = 1; k < total; ++k) {
            EXPECT_EQ(Decode(c.format, c.bursts, {k}).events, c.expected) << "cut at " << k;
        }
        // Stopping after each frame leaves the bytes after the one that
        // completed it untaken, which is where a byte-wise feed told it.
        const Decoded stopped = Decode(c.format, c.bursts, {}, true);
        EXPECT_EQ(stopped.events, c.expected);
        EXPECT_EQ(stopped.ends, bytewise.ends);
    }
}

// Bytes 1 to 255 over and over: no zero, but every SLIP special byte.
std::string NonZeroRun(std::size_t length) {
    std::string run(length, '\0');
    for (std::size_t k = 0; k < length; ++k) run[k] = static_cast<char>(1 + k % 255);
    return run;
}

TEST(FrameCodec, EncodedFramesDecodeBackToThePayload) {
    // clang-format off
    const std::string payloads[] = {"", "\0"s, "\xC0", "\xDB", "\xC0\xDB\xDC\xDD\0\r\n"s, "\0\0\0"s,
        NonZeroRun(253), NonZeroRun(254), NonZeroRun(255), NonZeroRun(256),
        NonZeroRun(254) + "\0y"s, NonZeroRun(508), NonZeroRun(509) + "\0"s};
    // clang-format on
    for (const std::string& payload : payloads) {
        const auto length = static_cast<std::uint32_t>(payload.size());
        // clang-format off
        const TFrameFormat formats[] = {Fmt(frDelimiter, 1024, "\r\r\n"),
            Fmt(frDelimiter, 1024, "aab"), Prefixed(lf16BitBE, 1024), Prefixed(lf32BitLE, 1024),
            Fmt(frCobs, 1024), Fmt(frSlip, 1024), Fmt(frFixedLength, 1024, "", length)};
        // clang-format on
        for (const TFrameFormat& format : formats) {
            // SLIP has no empty frame, and fixed frames no length 0.
            if (payload.empty() && (format.framing == frSlip || format.fixedLength == 0)) continue;
            SCOPED_TRACE(Named(format) + ", payload of " + std::to_string(length));
            std::string problem;
            const std::string encoded = EncodeFrame(format, payload, problem);
            EXPECT_EQ(problem, "");
            for (const auto& cuts : {std::vector<std::size_t>{}, EveryByte(encoded.size())}) {
                const Decoded run = Decode(format, {encoded}, cuts);
                EXPECT_EQ(run.events, std::vector<Event>{F(payload)});
                EXPECT_FALSE(run.inFrame);
            }
        }
    }
}

TEST(FrameCodec, EncodingsAreTheWireFormats) {
    const std::tuple<TFrameFormat, std::string, std::string> cases[] = {
        // clang-format off
        {Fmt(frDelimiter, 10), "ab", "ab\r\n"}, {Fmt(frSilence, 9), "\0"s, "\0"s},
        {Prefixed(lf16BitBE, 300), "ab", "\0\x02" "ab"s},
        {Prefixed(lf16BitLE, 300), "ab", "\x02\0" "ab"s},
        {Prefixed(lf32BitBE, 300), "a", "\0\0\0\x01" "a"s},
        {Prefixed(lf32BitLE, 300), "a", "\x01\0\0\0" "a"s},
        {Fmt(frSlip, 10), "a\xC0\xDB", "\xC0" "a\xDB\xDC\xDB\xDD\xC0"},
        {Fmt(frCobs, 10), "", "\x01\0"s}, {Fmt(frCobs, 10), "\0a\0"s, "\x01\x02" "a\x01\0"s},
        {Fmt(frCobs, 300), NonZeroRun(254), "\xFF" + NonZeroRun(254) + "\0"s},
        {Fmt(frCobs, 300), NonZeroRun(255), "\xFF" + NonZeroRun(254) + "\x02\xFF\0"s},
        // clang-format on
    };
    for (const auto& [format, payload, encoded] : cases) {
        std::string problem = "stale";
        EXPECT_EQ(EncodeFrame(format, payload, problem), encoded) << Named(format);
        EXPECT_EQ(problem, "");
    }
}

TEST(FrameCodec, UnusableFormatsAndPayloadsAreTold) {
    const std::pair<TFrameFormat, const char*> formats[] = {
        {Fmt(frDelimiter, 10, ""), "The frame delimiter is empty"},
        {Fmt(frNone, 0), "The maximum frame length is 0; it must be at least 1"},
        {Fmt(frFixedLength, 10, "", 0), "The fixed frame length is 0; it must be at least 1"},
        {Fmt(frFixedLength, 10, "", 11),
         "The fixed frame length of 11 bytes is above the maximum frame length of 10 bytes"},
        {Fmt(static_cast<TFraming>(frSilence + 1), 10),
         "The framing is not one of the known kinds"},
        {Prefixed(static_cast<TFrameLengthField>(lf32BitLE + 1), 10),
         "The frame length field is not one of the known kinds"},
        {Fmt(frFixedLength, 10, "", 10), ""},
        {Fmt(frNone, 10, ""), ""},
    };
    for (const auto& [format, problem] : formats) EXPECT_EQ(FrameFormatProblem(format), problem);

    const std::tuple<TFrameFormat, std::string, const char*> payloads[] = {
        {Fmt(frDelimiter, 10), "a\r\nb", "The payload holds the frame delimiter"},
        // "x\r\n" then "\r\n\r\n" would be cut as "x".
        {Fmt(frDelimiter, 10, "\r\n\r\n"), "x\r\n",
         "The payload ends with the start of the frame delimiter, which would end it early"},
        {Fmt(frFixedLength, 10, "", 3), "ab",
         "The payload of 2 bytes is not as long as a frame of fixed length, 3 bytes"},
        {Prefixed(lf8Bit, 1000), std::string(256, 'x'),
         "The payload of 256 bytes does not fit an 8-bit length field"},
        {Fmt(frCobs, 4), "abcde",
         "The payload of 5 bytes is longer than the maximum frame length of 4 bytes"},
        {Fmt(frSilence, 1), "ab",
         "The payload of 2 bytes is longer than the maximum frame length of 1 byte"},
    };
    for (const auto& [format, payload, expected] : payloads) {
        std::string problem;
        EXPECT_EQ(EncodeFrame(format, payload, problem), "");
        EXPECT_EQ(problem, expected);
    }
}

// A stream that never ends its frame costs the decoder no more than about
// one frame, and is told once.
TEST(FrameDecoder, HoldsAboutOneFrameWhateverTheStream) {
    const std::pair<TFrameFormat, std::string> cases[] = {
        {Fmt(frDelimiter, 1000), "\r"},       {Fmt(frDelimiter, 1000, "\n"), "x"},
        {Fmt(frDelimiter, 1000, "aab"), "a"}, {Fmt(frSlip, 1000), "\xDB\xDC"},
        {Fmt(frCobs, 1000), "\xFF"},          {Fmt(frCobs, 1000), "\x01"},
        {Fmt(frSilence, 1000), "x"},          {Prefixed(lf32BitBE, 1000), "\xFF"},
    };
    for (const auto& [format, pattern] : cases) {
        SCOPED_TRACE(Named(format) + ", pattern " + pattern);
        const bool skips = format.framing == frLengthPrefixed;
        std::string chunk;
        while (chunk.size() < 997) chunk += pattern;
        FrameDecoder decoder(format);
        Recorder sink;
        std::size_t mostHeld = 0;
        for (int k = 0; k < 1000; ++k) {
            decoder.Feed(chunk, sink);
            mostHeld = std::max(mostHeld, decoder.HeldBytes());
        }
        EXPECT_LE(mostHeld, HeldBound(format));
        ASSERT_EQ(sink.events.size(), 1u);
        EXPECT_EQ(sink.events[0].first, skips ? feLengthTooLarge : feTooLong);
        EXPECT_EQ(sink.events[0].second.size(), skips ? 4u : 1001u);
        EXPECT_TRUE(decoder.InFrame());
    }
}

}  // namespace
