// The frames of the frame scenarios: the bytes the peer sends, the check of
// the frames as a reader hands them over, and the baseline's own decoders.
// These are written plainly here, not taken from the component, so that the
// baseline owes nothing to the code it is measured against.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "measure.h"

namespace tarn::bench {

enum class FrameKind {
    Delimited,  // printable lines ended by CR LF
    Cobs        // binary payloads with zeros in them, COBS-encoded, each ended by 0x00
};

// The payload of every frame of each kind.
constexpr std::size_t kDelimitedPayload = 80;
constexpr std::size_t kCobsPayload = 64;

struct FrameTraffic {
    FrameKind kind = FrameKind::Delimited;
    std::string wire;  // what the peer writes
    std::size_t frames = 0;
    std::size_t payloadSize = 0;
    std::uint64_t expected = 0;  // StreamHash of the payloads in order
};

// `frames` frames of `kind`, drawn from `seed`: the same seed gives the same
// bytes. About one payload byte in eight of a COBS frame is a zero, so that
// most frames have several groups.
FrameTraffic MakeFrameTraffic(FrameKind kind, std::size_t frames, std::uint64_t seed);

// Appends `payload` COBS-encoded, with the 0x00 that ends the frame.
void AppendCobsFrame(std::string_view payload, std::string& out);

// The frames as a reader hands them over, in order. Take runs on one thread
// at a time; Count on any thread; Verdict once the taker has stopped.
class FrameCheck {
public:
    explicit FrameCheck(const FrameTraffic& traffic) : traffic_(traffic) {}

    void Take(const char* data, std::size_t size);
    void Take(const std::string& frame) { Take(frame.data(), frame.size()); }
    std::size_t Count() const { return count_.load(); }
    // Empty when exactly the frames sent came, whole and in order; otherwise
    // what went wrong.
    std::string Verdict() const;

private:
    const FrameTraffic& traffic_;
    StreamHash hash_;
    std::size_t misfits_ = 0;  // frames of another size than the payload's
    std::atomic<std::size_t> count_{0};
};

// The baseline's decoder: fed the bytes as they come, in pieces of any size,
// it hands each frame to the check. Only the framings of FrameKind, in the
// plainest way: memchr for the CR of CR LF; a COBS decoder that copies each
// group as a run.
class PlainFrameSplitter {
public:
    explicit PlainFrameSplitter(FrameKind kind) : kind_(kind) {}

    void Feed(const char* data, std::size_t size, FrameCheck& check);
    // The frames that could not be decoded (a COBS group cut short by the
    // 0x00), and whether bytes of an unfinished frame are held.
    std::size_t Malformed() const { return malformed_; }
    bool InFrame() const { return !pending_.empty() || inFrame_; }

private:
    void FeedDelimited(const char* data, std::size_t size, FrameCheck& check);
    void FeedCobs(const char* data, std::size_t size, FrameCheck& check);

    FrameKind kind_;
    std::string pending_;  // CR LF: the unfinished line; COBS: the decoded frame so far
    std::size_t malformed_ = 0;
    // COBS: the bytes still due in the group, whether a zero is due before
    // the next group (the group before was short), whether a frame is under
    // way.
    std::size_t groupLeft_ = 0;
    bool zeroDue_ = false;
    bool inFrame_ = false;
};

}  // namespace tarn::bench
