// The frame decoder's byte-stuffed framings, SLIP and COBS: the bytes held
// are one form of the frame, and the other is made from them when needed.
#include <algorithm>
#include <cstring>
#include <utility>

#include "frame_bytes_p.h"
#include "frame_codec_p.h"

namespace tarn::serialport {

namespace {

using frame_bytes::kCobsFullGroup;
using frame_bytes::kSlipEnd;
using frame_bytes::kSlipEsc;
using frame_bytes::kSlipEscEnd;
using frame_bytes::kSlipEscEsc;

// How far `from` is from the first `byte` in the next `count` bytes, or
// `count` when there is none.
std::size_t DistanceTo(const char* from, std::size_t count, unsigned char byte) {
    const void* hit = std::memchr(from, byte, count);
    return hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - from) : count;
}

bool SlipPlain(char byte) {
    const auto code = static_cast<unsigned char>(byte);
    return code != kSlipEnd && code != kSlipEsc;
}

}  // namespace

// SLIP holds the frame unescaped. The raw bytes, which a bad escape must
// report, are the unescaped ones escaped again: an escape stands for END or
// ESC and nothing else, so escaping gives back exactly what came.
std::size_t FrameDecoder::FeedSlip(std::string_view bytes, FrameSink& sink, bool stopAfterFrame) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const char* from = bytes.data() + at;
        const std::size_t left = bytes.size() - at;
        if (dropping_) {
            const std::size_t skip = DistanceTo(from, left, kSlipEnd);
            if (skip == left) break;
            at += skip + 1;
            dropping_ = false;
            continue;
        }
        const auto byte = static_cast<unsigned char>(*from);
        if (escaped_) {
            ++at;
            SlipEscaped(byte, sink);
        } else if (byte == kSlipEnd) {
            ++at;
            if (held_.empty()) continue;  // END END, or the END that opens a frame
            std::string frame(held_);
            held_.clear();
            Deliver(sink, std::move(frame));
        } else if (byte == kSlipEsc) {
            ++at;
            escaped_ = true;
        } else {
            std::size_t run = 1;
            while (run < left && SlipPlain(from[run])) ++run;
            at += TakeContent(from, run, sink);
        }
        if (stopAfterFrame && delivered_) return at;
    }
    return bytes.size();
}

// The byte after an ESC. END after an ESC is a bad escape that also ends the
// frame, as END always does, so nothing after it is dropped.
void FrameDecoder::SlipEscaped(unsigned char byte, FrameSink& sink) {
    escaped_ = false;
    if (byte == kSlipEscEnd || byte == kSlipEscEsc) {
        const char plain = static_cast<char>(byte == kSlipEscEnd ? kSlipEnd : kSlipEsc);
        TakeContent(&plain, 1, sink);
        return;
    }
    std::string raw;
    raw.reserve(held_.size() + 2);
    frame_bytes::AppendSlipEscaped(held_, raw);
    raw.push_back(static_cast<char>(kSlipEsc));
    raw.push_back(static_cast<char>(byte));
    held_.clear();
    dropping_ = byte != kSlipEnd;
    DeliverError(sink, feBadEscape, std::move(raw));
}

// COBS holds the frame raw, as bad codes must be reported, and decodes it at
// its end; decoded_ follows the decoded length as the groups come, so that
// a frame too long is caught at the byte that makes it so.
std::size_t FrameDecoder::FeedCobs(std::string_view bytes, FrameSink& sink, bool stopAfterFrame) {
    const std::uint64_t limit = std::uint64_t{format_.maxFrameLength} + 1;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const char* from = bytes.data() + at;
        const std::size_t left = bytes.size() - at;
        if (dropping_) {
            const std::size_t skip = DistanceTo(from, left, 0);
            if (skip == left) break;
            at += skip + 1;
            dropping_ = false;
            continue;
        }
        const auto byte = static_cast<unsigned char>(*from);
        std::size_t took = 0;
        if (held_.empty() && byte != 0 && WholeCobsFrame(from, left, sink, took)) {
            at += took;
        } else if (byte == 0) {
            ++at;
            EndCobsFrame(sink);
        } else if (wanted_ == 0) {
            ++at;
            CobsCode(byte, sink);
        } else {
            // The group's bytes, up to a zero that would cut the group short.
            std::size_t run = DistanceTo(from, std::min<std::size_t>(wanted_, left), 0);
            run = static_cast<std::size_t>(std::min<std::uint64_t>(run, limit - decoded_));
            held_.append(from, run);
            decoded_ += run;
            wanted_ -= static_cast<std::uint32_t>(run);
            at += run;
            if (decoded_ == limit) CobsTooLong(sink);
        }
        if (stopAfterFrame && delivered_) return at;
    }
    return bytes.size();
}

// A frame that lies whole in the bytes at hand, from its first code byte
// to its 0x00, is decoded straight from them instead of being held raw
// and decoded again. False, with nothing taken, for a frame that goes on
// past them, has a group cut short or decodes too long: the byte-wise path
// handles those. REQUIRES: at the start of a frame, not dropping.
bool FrameDecoder::WholeCobsFrame(const char* from, std::size_t left, FrameSink& sink,
                                  std::size_t& took) {
    const std::size_t end = DistanceTo(from, left, 0);
    if (end == left) return false;
    // The groups must fill the frame exactly; a short group is followed by
    // a zero when another group comes.
    std::size_t decoded = 0;
    bool zeroDue = false;
    for (std::size_t at = 0; at < end;) {
        const auto code = static_cast<unsigned char>(from[at]);
        const std::size_t run = code - 1u;
        if (run > end - at - 1) return false;
        decoded += run + (zeroDue ? 1 : 0);
        zeroDue = code != kCobsFullGroup;
        at += run + 1;
    }
    if (decoded > format_.maxFrameLength) return false;
    // The zeros between groups are already there.
    std::string frame(decoded, '\0');
    char* out = &frame[0];
    zeroDue = false;
    for (std::size_t at = 0; at < end;) {
        const auto code = static_cast<unsigned char>(from[at]);
        const std::size_t run = code - 1u;
        if (zeroDue) ++out;
        std::memcpy(out, from + at + 1, run);
        out += run;
        zeroDue = code != kCobsFullGroup;
        at += run + 1;
    }
    took = end + 1;
    Deliver(sink, std::move(frame));
    return true;
}

// A code byte begins a group; the zero after the group before it, if that
// one was short, is decoded now that another group follows.
void FrameDecoder::CobsCode(unsigned char code, FrameSink& sink) {
    if (shortGroup_) ++decoded_;
    shortGroup_ = code != kCobsFullGroup;
    wanted_ = code - 1u;
    held_.push_back(static_cast<char>(code));
    if (decoded_ > format_.maxFrameLength) CobsTooLong(sink);
}

void FrameDecoder::CobsTooLong(FrameSink& sink) {
    std::string first = frame_bytes::CobsDecoded(held_, static_cast<std::size_t>(decoded_));
    wanted_ = 0;
    decoded_ = 0;
    shortGroup_ = false;
    TooLong(sink, std::move(first));
}

void FrameDecoder::EndCobsFrame(FrameSink& sink) {
    if (held_.empty()) return;  // 0x00 0x00: no frame between them
    const bool cutShort = wanted_ > 0;
    std::string bytes = cutShort
                            ? std::string()
                            : frame_bytes::CobsDecoded(held_, static_cast<std::size_t>(decoded_));
    if (cutShort) bytes.swap(held_);
    held_.clear();
    wanted_ = 0;
    decoded_ = 0;
    shortGroup_ = false;
    if (cutShort) {
        DeliverError(sink, feBadCode, std::move(bytes));
    } else {
        Deliver(sink, std::move(bytes));
    }
}

}  // namespace tarn::serialport
