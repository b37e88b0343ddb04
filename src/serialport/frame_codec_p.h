// Frames in a byte stream: the decoder that cuts whole messages out of the
// bytes as they arrive, in pieces of any size, and the encoder that makes
// the bytes of one message. Pure code, no port: the receive thread, the
// synchronous reads and the sends share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serial_types.h"

namespace tarn::serialport {

// Everything that decides how frames look. The component makes one from
// its properties when the framing changes.
struct TFrameFormat {
    TFraming framing = frNone;
    std::string delimiter = "\r\n";          // frDelimiter; not empty
    std::uint32_t fixedLength = 1;           // frFixedLength; 1 to maxFrameLength
    TFrameLengthField lengthField = lf8Bit;  // frLengthPrefixed
    std::uint32_t maxFrameLength = 4096;     // at least 1
};

// Empty when `format` can be used; otherwise the message text that says
// what is wrong with it.
std::string FrameFormatProblem(const TFrameFormat& format);

// What a decoder found, told in the order of the bytes.
class FrameSink {
public:
    virtual void Frame(std::string frame) = 0;
    virtual void FrameError(TFrameErrorReason reason, std::string bytes) = 0;

protected:
    ~FrameSink() = default;
};

// Cuts frames out of a stream. Whatever the pieces the stream comes in, the
// frames and errors are the same, and the decoder never holds more than
// about maxFrameLength bytes: a frame that grows past it is reported as
// feTooLong with its first maxFrameLength + 1 bytes (after unescaping), and
// the rest of it, up to the frame's end, is dropped unseen.
//
// Per framing:
//   frDelimiter: the bytes before each delimiter (which may be split across
//     pieces) are a frame, an empty one between two delimiters too.
//   frFixedLength: every fixedLength bytes are a frame.
//   frLengthPrefixed: a length field, then that many bytes; a length of 0
//     gives an empty frame. A length beyond maxFrameLength is
//     feLengthTooLarge with the field's bytes, and the bytes it announces
//     are skipped, so that the stream stays in step.
//   frSlip: the bytes between two END bytes, unescaped; no frame for two
//     ENDs in a row. A bad escape is feBadEscape with the bytes of the frame
//     so far (raw, as received, the bad pair included); the rest up to the
//     next END is dropped (an END after the ESC ends the frame itself).
//   frCobs: the bytes before each 0x00, decoded; no frame for an empty
//     one. A code byte that points past the frame's end is feBadCode with
//     the frame's raw bytes.
//   frSilence: LineQuiet ends the frame.
//   frNone: takes every byte and reports nothing.
// One thread at a time.
class FrameDecoder {
public:
    // REQUIRES: FrameFormatProblem(format) is empty.
    explicit FrameDecoder(TFrameFormat format);

    // Takes `bytes` and reports every frame and error they complete. With
    // `stopAfterFrame` it stops after the byte that completes the first
    // frame or error, and leaves the rest untaken. Returns how many bytes
    // it took.
    std::size_t Feed(std::string_view bytes, FrameSink& sink, bool stopAfterFrame = false);

    // frSilence: the line has been quiet long enough, so the bytes held are
    // a frame (or the end of one that was too long). Other framings: no
    // effect.
    void LineQuiet(FrameSink& sink);

    // Whether bytes of an unfinished frame are held (or are being dropped).
    bool InFrame() const;

    // Forgets the unfinished frame.
    void Reset();

    const TFrameFormat& Format() const { return format_; }

    // The bytes of the unfinished frame held now; never much above
    // maxFrameLength.
    std::size_t HeldBytes() const { return held_.size(); }

private:
    std::size_t FeedDelimited(std::string_view bytes, FrameSink& sink, bool stopAfterFrame);
    bool WholeLine(const char* from, std::size_t run, std::size_t left, FrameSink& sink);
    bool StepDelimiter(char byte, FrameSink& sink);
    std::size_t FeedFixed(std::string_view bytes, FrameSink& sink, bool stopAfterFrame);
    std::size_t FeedLengthPrefixed(std::string_view bytes, FrameSink& sink, bool stopAfterFrame);
    bool EndOfLengthField(FrameSink& sink);
    std::size_t FeedSlip(std::string_view bytes, FrameSink& sink, bool stopAfterFrame);
    void SlipEscaped(unsigned char byte, FrameSink& sink);
    std::size_t FeedCobs(std::string_view bytes, FrameSink& sink, bool stopAfterFrame);
    bool WholeCobsFrame(const char* from, std::size_t left, FrameSink& sink, std::size_t& took);
    void CobsCode(unsigned char code, FrameSink& sink);
    void CobsTooLong(FrameSink& sink);
    void EndCobsFrame(FrameSink& sink);
    std::size_t FeedSilence(std::string_view bytes, FrameSink& sink, bool stopAfterFrame);
    std::size_t TakeContent(const char* bytes, std::size_t count, FrameSink& sink);
    void TooLong(FrameSink& sink, std::string bytes);
    void Deliver(FrameSink& sink, std::string frame);
    void DeliverError(FrameSink& sink, TFrameErrorReason reason, std::string bytes);

    TFrameFormat format_;
    // frDelimiter: for each count of delimiter bytes matched, how many are
    // still matched when the next byte does not continue the match.
    std::vector<std::uint32_t> fallback_;
    // The unfinished frame: its content, with the delimiter bytes matched
    // so far for frDelimiter, after the field's bytes for frLengthPrefixed;
    // unescaped for frSlip, raw for frCobs. Empty while dropping.
    std::string held_;
    std::size_t matched_ = 0;    // frDelimiter: delimiter bytes matched
    std::uint64_t toSkip_ = 0;   // frLengthPrefixed: announced bytes still to drop
    std::uint32_t wanted_ = 0;   // bytes still wanted of the body or COBS group
    std::uint64_t decoded_ = 0;  // frCobs: the frame's decoded length so far
    bool shortGroup_ = false;    // frCobs: the last group ends with a zero if another follows
    bool dropping_ = false;      // dropping up to the frame's end
    bool escaped_ = false;       // frSlip: ESC seen
    bool delivered_ = false;     // this Feed has told the sink something
};

// The bytes that carry `payload` as one frame: the delimiter appended, the
// length field put before it, SLIP or COBS encoded; frSilence and frNone
// send the payload as it is (frNone whatever its length). Empty `problem`
// on success; otherwise the message text why the payload cannot be one
// frame (it holds the delimiter, it is not fixedLength long, its length
// does not fit the field or exceeds maxFrameLength, it is an empty SLIP
// frame) and an empty result.
std::string EncodeFrame(const TFrameFormat& format, std::string_view payload, std::string& problem);

}  // namespace tarn::serialport
