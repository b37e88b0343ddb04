// The frame decoder (frame_codec_p.h): what every framing shares, and the
// framings that need no unescaping. SLIP and COBS are in
// frame_decoder_stuffed.cpp.
#include <algorithm>
#include <cstring>
#include <utility>

#include "frame_bytes_p.h"
#include "frame_codec_p.h"

namespace tarn::serialport {

namespace {

// For each count of delimiter bytes matched, the longest shorter match that
// is still standing, so that a byte that breaks the match falls back to it
// instead of to nothing: with "\r\r\n", "\r\r\r" still has "\r\r" matched.
std::vector<std::uint32_t> DelimiterFallback(const std::string& delimiter) {
    std::vector<std::uint32_t> fallback(delimiter.size() + 1, 0);
    std::uint32_t standing = 0;
    for (std::size_t k = 1; k < delimiter.size(); ++k) {
        while (standing > 0 && delimiter[k] != delimiter[standing]) standing = fallback[standing];
        if (delimiter[k] == delimiter[standing]) ++standing;
        fallback[k + 1] = standing;
    }
    return fallback;
}

}  // namespace

FrameDecoder::FrameDecoder(TFrameFormat format) : format_(std::move(format)) {
    if (format_.framing == frDelimiter) fallback_ = DelimiterFallback(format_.delimiter);
}

std::size_t FrameDecoder::Feed(std::string_view bytes, FrameSink& sink, bool stopAfterFrame) {
    delivered_ = false;
    switch (format_.framing) {
        case frDelimiter:
            return FeedDelimited(bytes, sink, stopAfterFrame);
        case frFixedLength:
            return FeedFixed(bytes, sink, stopAfterFrame);
        case frLengthPrefixed:
            return FeedLengthPrefixed(bytes, sink, stopAfterFrame);
        case frSlip:
            return FeedSlip(bytes, sink, stopAfterFrame);
        case frCobs:
            return FeedCobs(bytes, sink, stopAfterFrame);
        case frSilence:
            return FeedSilence(bytes, sink, stopAfterFrame);
        case frNone:
            break;
    }
    return bytes.size();
}

void FrameDecoder::LineQuiet(FrameSink& sink) {
    if (format_.framing != frSilence) return;
    if (dropping_) {
        // The end of a frame already told as too long.
        dropping_ = false;
    } else if (!held_.empty()) {
        std::string frame(held_);
        held_.clear();
        Deliver(sink, std::move(frame));
    }
}

bool FrameDecoder::InFrame() const {
    return !held_.empty() || dropping_ || escaped_ || toSkip_ > 0;
}

void FrameDecoder::Reset() {
    held_.clear();
    matched_ = 0;
    toSkip_ = 0;
    wanted_ = 0;
    decoded_ = 0;
    shortGroup_ = false;
    dropping_ = false;
    escaped_ = false;
}

// The state is brought up to date before the sink hears of anything, so
// that a sink that looks at the decoder, or resets it, sees where it is.
void FrameDecoder::Deliver(FrameSink& sink, std::string frame) {
    delivered_ = true;
    sink.Frame(std::move(frame));
}

void FrameDecoder::DeliverError(FrameSink& sink, TFrameErrorReason reason, std::string bytes) {
    delivered_ = true;
    sink.FrameError(reason, std::move(bytes));
}

void FrameDecoder::TooLong(FrameSink& sink, std::string bytes) {
    held_.clear();
    dropping_ = true;
    DeliverError(sink, feTooLong, std::move(bytes));
}

// Adds bytes of content to the frame held, which is at most maxFrameLength
// long. Returns how many it took: all of them, or, when the frame grows too
// long, up to the one that makes it so; while dropping it takes all unseen.
std::size_t FrameDecoder::TakeContent(const char* bytes, std::size_t count, FrameSink& sink) {
    if (dropping_) return count;
    const std::size_t room = format_.maxFrameLength - held_.size();
    if (count <= room) {
        held_.append(bytes, count);
        return count;
    }
    held_.append(bytes, room + 1);
    std::string first;
    first.swap(held_);
    TooLong(sink, std::move(first));
    return room + 1;
}

std::size_t FrameDecoder::FeedDelimited(std::string_view bytes, FrameSink& sink,
                                        bool stopAfterFrame) {
    const char first = format_.delimiter[0];
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (matched_ == 0) {
            // Up to the next byte that can begin the delimiter, bytes are
            // content; memchr finds it faster than the matcher would.
            const char* from = bytes.data() + at;
            const std::size_t left = bytes.size() - at;
            const void* hit = std::memchr(from, first, left);
            const std::size_t run =
                hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - from)
                               : left;
            if (WholeLine(from, run, left, sink)) {
                at += run + format_.delimiter.size();
                if (stopAfterFrame) return at;
                continue;
            }
            const std::size_t taken = TakeContent(from, run, sink);
            at += taken;
            if (stopAfterFrame && delivered_) return at;
            if (taken < run) continue;  // too long: the rest is dropped on the next pass
            if (at == bytes.size()) break;
        }
        const bool told = StepDelimiter(bytes[at++], sink);
        if (stopAfterFrame && told) return at;
    }
    return bytes.size();
}

// A frame that lies whole in the bytes at hand, at the start of a frame, is
// taken straight from them instead of through the bytes held: `run` bytes
// before the first byte that can begin the delimiter, and the whole
// delimiter there. Nothing ends earlier, as no byte before it can begin the
// delimiter. False, with nothing taken, for anything else, which the
// matcher then handles byte by byte.
bool FrameDecoder::WholeLine(const char* from, std::size_t run, std::size_t left, FrameSink& sink) {
    const std::string& delimiter = format_.delimiter;
    if (!held_.empty() || dropping_ || run > format_.maxFrameLength) return false;
    if (left - run < delimiter.size()) return false;
    if (std::memcmp(from + run, delimiter.data(), delimiter.size()) != 0) return false;
    Deliver(sink, std::string(from, run));
    return true;
}

// One byte while part of the delimiter may be matched. The bytes held are
// the content and the delimiter bytes matched so far; only those before the
// match are sure to be content, so only they count against the maximum.
bool FrameDecoder::StepDelimiter(char byte, FrameSink& sink) {
    const std::string& delimiter = format_.delimiter;
    if (!dropping_) held_.push_back(byte);
    while (matched_ > 0 && byte != delimiter[matched_]) matched_ = fallback_[matched_];
    if (byte == delimiter[matched_]) ++matched_;
    if (matched_ == delimiter.size()) {
        matched_ = 0;
        if (dropping_) {
            dropping_ = false;
            return false;
        }
        std::string frame(held_.data(), held_.size() - delimiter.size());
        held_.clear();
        Deliver(sink, std::move(frame));
        return true;
    }
    if (!dropping_ && held_.size() - matched_ > format_.maxFrameLength) {
        TooLong(sink, std::string(held_.data(), format_.maxFrameLength + std::size_t{1}));
        return true;
    }
    return false;
}

std::size_t FrameDecoder::FeedFixed(std::string_view bytes, FrameSink& sink, bool stopAfterFrame) {
    const std::size_t length = format_.fixedLength;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t take = std::min(length - held_.size(), bytes.size() - at);
        held_.append(bytes.data() + at, take);
        at += take;
        if (held_.size() < length) break;
        std::string frame(held_);
        held_.clear();
        Deliver(sink, std::move(frame));
        if (stopAfterFrame) return at;
    }
    return bytes.size();
}

// The field's bytes are held first, then the body after them.
std::size_t FrameDecoder::FeedLengthPrefixed(std::string_view bytes, FrameSink& sink,
                                             bool stopAfterFrame) {
    const std::size_t width = frame_bytes::LengthFieldWidth(format_.lengthField);
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t left = bytes.size() - at;
        if (toSkip_ > 0) {
            // Counted, not held: a length too large to take is dropped unseen.
            const auto skip = static_cast<std::size_t>(std::min<std::uint64_t>(toSkip_, left));
            toSkip_ -= skip;
            at += skip;
        } else if (held_.size() < width) {
            held_.push_back(bytes[at++]);
            if (held_.size() == width && EndOfLengthField(sink) && stopAfterFrame) return at;
        } else {
            const std::size_t take = std::min<std::size_t>(wanted_, left);
            held_.append(bytes.data() + at, take);
            at += take;
            wanted_ -= static_cast<std::uint32_t>(take);
            if (wanted_ > 0) break;
            std::string frame(held_, width);
            held_.clear();
            Deliver(sink, std::move(frame));
            if (stopAfterFrame) return at;
        }
    }
    return bytes.size();
}

// The length field is complete. Returns whether it made a frame or error
// on its own: an empty frame, or a length beyond the maximum.
bool FrameDecoder::EndOfLengthField(FrameSink& sink) {
    const std::uint32_t length = frame_bytes::ReadLengthField(format_.lengthField, held_.data());
    if (length > format_.maxFrameLength) {
        std::string field;
        field.swap(held_);
        toSkip_ = length;
        DeliverError(sink, feLengthTooLarge, std::move(field));
        return true;
    }
    if (length == 0) {
        held_.clear();
        Deliver(sink, std::string());
        return true;
    }
    wanted_ = length;
    return false;
}

std::size_t FrameDecoder::FeedSilence(std::string_view bytes, FrameSink& sink,
                                      bool stopAfterFrame) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        at += TakeContent(bytes.data() + at, bytes.size() - at, sink);
        if (stopAfterFrame && delivered_) return at;
    }
    return bytes.size();
}

}  // namespace tarn::serialport
