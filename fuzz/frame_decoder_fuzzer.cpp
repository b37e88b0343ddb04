// The frame decoder: the frames and errors of a stream must not depend on
// the pieces it comes in, nor on stopping after each frame; a stopped Feed
// must stop at the byte that completed the frame; the decoder must hold no
// more than about one frame; and every frame decoded must encode to bytes
// that decode back to it.
//
// Input: the framing (modulo 7), the maximum frame length (bit 7: steps of
// 8 instead of 1), a parameter (frDelimiter: the delimiter's length, 1 to
// 4, whose bytes follow; frFixedLength: the fixed length; frLengthPrefixed:
// the field), the piecing seed (low three bits: the largest piece as a
// power of two). The rest is the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "frame_codec_p.h"
#include "fuzz_check.h"

namespace {

using namespace tarn::serialport;
using tarn::fuzz::Quoted;
using tarn::fuzz::Require;

struct Event {
    int reason;  // -1: a frame
    std::string bytes;
    std::size_t end = 0;   // the stream offset after the Feed that told it
    bool stopped = false;  // told by a Feed with stopAfterFrame
    bool operator==(const Event& other) const {
        return reason == other.reason && bytes == other.bytes;
    }
};

struct Recorder final : FrameSink {
    std::vector<Event> events;
    void Frame(std::string frame) override { events.push_back({-1, std::move(frame)}); }
    void FrameError(TFrameErrorReason reason, std::string bytes) override {
        events.push_back({reason, std::move(bytes)});
    }
};

struct Input {
    const std::uint8_t* data;
    std::size_t size;

    std::uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

TFrameFormat ReadFormat(Input& input) {
    TFrameFormat format;
    format.framing = static_cast<TFraming>(input.Byte() % 7);
    const std::uint8_t max = input.Byte();
    format.maxFrameLength = 1 + (max & 0x7Fu) * ((max & 0x80) ? 8u : 1u);
    const std::uint8_t parameter = input.Byte();
    format.fixedLength = 1 + parameter % format.maxFrameLength;
    format.lengthField = static_cast<TFrameLengthField>(parameter % 5);
    if (format.framing == frDelimiter) {
        format.delimiter.clear();
        for (int k = 0; k <= parameter % 4; ++k)
            format.delimiter += static_cast<char>(input.Byte());
    }
    return format;
}

// Where the stream is cut, whether each piece is fed with stopAfterFrame,
// and whether the line is quiet after it.
struct Piece {
    std::size_t end;
    bool stop;
    bool quietAfter;
};

std::vector<Piece> Piecing(std::uint8_t seed, std::size_t total) {
    std::uint32_t state = 0x9E3779B9u ^ (seed * 0x01000193u) ^ static_cast<std::uint32_t>(total);
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const std::size_t largest = std::size_t{1} << (seed % 8);
    std::vector<Piece> pieces;
    for (std::size_t at = 0; at < total;) {
        const std::uint32_t r = next();
        at = std::min(total, at + 1 + r % largest);
        pieces.push_back({at, (r >> 16 & 1) != 0, (r >> 17 & 3) == 0});
    }
    return pieces;
}

std::size_t HeldBound(const TFrameFormat& format) {
    return format.maxFrameLength + format.maxFrameLength / 254 + format.delimiter.size() + 4;
}

void CheckHeld(const FrameDecoder& decoder) {
    Require(decoder.HeldBytes() <= HeldBound(decoder.Format()),
            "the decoder holds " + std::to_string(decoder.HeldBytes()) + " bytes, above " +
                std::to_string(HeldBound(decoder.Format())));
}

// Feeds [from, to) of the stream in one call, or with `stop` in as many as
// it takes, each of which must stop right after a frame or take all.
void FeedRange(FrameDecoder& decoder, Recorder& sink, const std::string& stream, std::size_t from,
               std::size_t to, bool stop) {
    while (from < to) {
        const std::size_t before = sink.events.size();
        const std::size_t taken =
            decoder.Feed(std::string_view(stream).substr(from, to - from), sink, stop);
        Require(taken <= to - from && (taken > 0 || to == from), "Feed takes what it is given");
        Require(taken == to - from || (stop && sink.events.size() == before + 1),
                "a Feed that leaves bytes untaken stopped after one frame");
        Require(!stop || sink.events.size() <= before + 1, "a stopped Feed tells one thing");
        from += taken;
        for (std::size_t k = before; k < sink.events.size(); ++k) {
            sink.events[k].end = from;
            sink.events[k].stopped = stop;
        }
        CheckHeld(decoder);
    }
}

std::vector<Event> Whole(const TFrameFormat& format, const std::string& stream,
                         const std::vector<Piece>& pieces) {
    FrameDecoder decoder(format);
    Recorder sink;
    if (format.framing != frSilence) {
        FeedRange(decoder, sink, stream, 0, stream.size(), false);
        return sink.events;
    }
    std::size_t from = 0;
    for (const Piece& piece : pieces) {
        if (!piece.quietAfter) continue;
        FeedRange(decoder, sink, stream, from, piece.end, false);
        decoder.LineQuiet(sink);
        from = piece.end;
    }
    FeedRange(decoder, sink, stream, from, stream.size(), false);
    return sink.events;
}

// Feeds the stream in its pieces, or byte by byte, with the line quiet where
// the piecing says; framings other than frSilence, which Whole gives no
// quiet line, must ignore it.
std::vector<Event> Pieced(const TFrameFormat& format, const std::string& stream,
                          const std::vector<Piece>& pieces, bool byteWise) {
    FrameDecoder decoder(format);
    Recorder sink;
    std::size_t from = 0;
    for (const Piece& piece : pieces) {
        if (byteWise) {
            for (std::size_t at = from; at < piece.end; ++at) {
                FeedRange(decoder, sink, stream, at, at + 1, false);
            }
        } else {
            FeedRange(decoder, sink, stream, from, piece.end, piece.stop);
        }
        if (piece.quietAfter) decoder.LineQuiet(sink);
        from = piece.end;
    }
    decoder.Reset();
    Require(!decoder.InFrame() && decoder.HeldBytes() == 0, "Reset forgets the frame");
    return sink.events;
}

void CheckEvent(const TFrameFormat& format, const Event& event) {
    const std::size_t max = format.maxFrameLength;
    const std::size_t size = event.bytes.size();
    if (event.reason == -1) {
        Require(size <= max, "a frame of " + std::to_string(size) + " bytes is above the maximum");
    } else if (event.reason == feTooLong) {
        Require(size == max + 1, "a frame too long is told with its first maxFrameLength + 1");
    } else if (event.reason == feLengthTooLarge) {
        Require(format.framing == frLengthPrefixed && size >= 1 && size <= 4,
                "a length too large is told with the field");
    }
}

// A frame decoded encodes to bytes that a fresh decoder cuts as that frame
// and nothing else.
void CheckRoundTrip(const TFrameFormat& format, const std::string& frame) {
    std::string problem;
    const std::string encoded = EncodeFrame(format, frame, problem);
    Require(problem.empty(), "the frame " + Quoted(frame) + " cannot be encoded: " + problem);
    FrameDecoder decoder(format);
    Recorder sink;
    Require(decoder.Feed(encoded, sink) == encoded.size(), "the encoded frame is taken");
    decoder.LineQuiet(sink);
    Require(sink.events.size() == 1 && sink.events[0].reason == -1 &&
                sink.events[0].bytes == frame && !decoder.InFrame(),
            "the frame " + Quoted(frame) + " encoded as " + Quoted(encoded) +
                " does not decode back to it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input{data, size};
    const TFrameFormat format = ReadFormat(input);
    Require(FrameFormatProblem(format).empty(), "the fuzzer makes only usable formats");
    const std::uint8_t seed = input.Byte();
    const std::string stream(reinterpret_cast<const char*>(input.data), input.size);
    const std::vector<Piece> pieces = Piecing(seed, stream.size());

    const std::vector<Event> whole = Whole(format, stream, pieces);
    const std::vector<Event> pieced = Pieced(format, stream, pieces, false);
    const std::vector<Event> byteWise = Pieced(format, stream, pieces, true);
    Require(pieced == whole && byteWise == whole,
            "pieces give " + std::to_string(pieced.size()) +
                " frames and errors, bytes one by one " + std::to_string(byteWise.size()) +
                ", the whole stream " + std::to_string(whole.size()));
    for (std::size_t k = 0; k < pieced.size(); ++k) {
        // Fed one by one, each byte's Feed tells what that byte completed.
        Require(!pieced[k].stopped || pieced[k].end == byteWise[k].end,
                "a stopped Feed took " + std::to_string(pieced[k].end) + " bytes of the stream, " +
                    "but frame " + std::to_string(k) + " ends at " +
                    std::to_string(byteWise[k].end));
    }
    for (const Event& event : whole) {
        CheckEvent(format, event);
        if (event.reason == -1) CheckRoundTrip(format, event.bytes);
    }
    return 0;
}
