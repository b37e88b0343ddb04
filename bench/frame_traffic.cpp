#include "frame_traffic.h"

#include <algorithm>
#include <cstring>

namespace tarn::bench {

namespace {

constexpr unsigned char kFullGroup = 0xFF;  // 254 bytes and no zero after them

}  // namespace

FrameTraffic MakeFrameTraffic(FrameKind kind, std::size_t frames, std::uint64_t seed) {
    FrameTraffic t;
    t.kind = kind;
    t.frames = frames;
    StreamHash hash;
    if (kind == FrameKind::Delimited) {
        t.payloadSize = kDelimitedPayload;
        t.wire = PrintableLines(frames, kDelimitedPayload, seed);
        const std::size_t stride = kDelimitedPayload + 2;
        for (std::size_t i = 0; i < frames; ++i)
            hash.Add(t.wire.data() + i * stride, t.payloadSize);
    } else {
        t.payloadSize = kCobsPayload;
        std::string payloads = RandomBytes(frames * kCobsPayload, seed);
        for (char& byte : payloads) {
            if ((static_cast<unsigned char>(byte) & 7) == 0) byte = '\0';
        }
        hash.Add(payloads);
        t.wire.reserve(payloads.size() + payloads.size() / 8);
        for (std::size_t i = 0; i < frames; ++i) {
            AppendCobsFrame(std::string_view(payloads).substr(i * kCobsPayload, kCobsPayload),
                            t.wire);
        }
    }
    t.expected = hash.Value();
    return t;
}

void AppendCobsFrame(std::string_view payload, std::string& out) {
    // Each group's code is written once its length is known.
    std::size_t codeAt = out.size();
    out.push_back('\0');
    unsigned char code = 1;
    for (const char byte : payload) {
        if (byte != '\0') {
            out.push_back(byte);
            if (++code < kFullGroup) continue;
        }
        out[codeAt] = static_cast<char>(code);
        codeAt = out.size();
        out.push_back('\0');
        code = 1;
    }
    out[codeAt] = static_cast<char>(code);
    out.push_back('\0');
}

void FrameCheck::Take(const char* data, std::size_t size) {
    if (size != traffic_.payloadSize) ++misfits_;
    hash_.Add(data, size);
    ++count_;
}

std::string FrameCheck::Verdict() const {
    const std::size_t count = count_.load();
    if (count != traffic_.frames) {
        return "received " + std::to_string(count) + " of " + std::to_string(traffic_.frames) +
               " frames";
    }
    if (misfits_ > 0) {
        return std::to_string(misfits_) + " frames were not " +
               std::to_string(traffic_.payloadSize) + " bytes long";
    }
    return hash_.Value() == traffic_.expected ? "" : "the frames received differ from those sent";
}

void PlainFrameSplitter::Feed(const char* data, std::size_t size, FrameCheck& check) {
    if (kind_ == FrameKind::Delimited) {
        FeedDelimited(data, size, check);
    } else {
        FeedCobs(data, size, check);
    }
}

void PlainFrameSplitter::FeedDelimited(const char* data, std::size_t size, FrameCheck& check) {
    pending_.append(data, size);
    const char* const begin = pending_.data();
    const char* const end = begin + pending_.size();
    const char* line = begin;
    for (const char* at = line; at < end;) {
        at = static_cast<const char*>(std::memchr(at, '\r', static_cast<std::size_t>(end - at)));
        // A CR at the end may have its LF in the next piece.
        if (at == nullptr || at + 1 == end) break;
        if (at[1] != '\n') {
            ++at;
            continue;
        }
        check.Take(line, static_cast<std::size_t>(at - line));
        line = at += 2;
    }
    pending_.erase(0, static_cast<std::size_t>(line - begin));
}

void PlainFrameSplitter::FeedCobs(const char* data, std::size_t size, FrameCheck& check) {
    std::size_t at = 0;
    while (at < size) {
        if (groupLeft_ > 0) {
            // The group's bytes as one run, up to a zero that cuts it short.
            std::size_t run = std::min(groupLeft_, size - at);
            const void* zero = std::memchr(data + at, 0, run);
            if (zero != nullptr)
                run = static_cast<std::size_t>(static_cast<const char*>(zero) - (data + at));
            pending_.append(data + at, run);
            groupLeft_ -= run;
            at += run;
            if (at == size) break;
        }
        const auto byte = static_cast<unsigned char>(data[at++]);
        if (byte == 0) {
            if (groupLeft_ > 0) {
                ++malformed_;
            } else if (!pending_.empty()) {
                check.Take(pending_);
            }
            pending_.clear();
            groupLeft_ = 0;
            zeroDue_ = false;
            inFrame_ = false;
            continue;
        }
        if (zeroDue_) pending_.push_back('\0');
        zeroDue_ = byte != kFullGroup;
        groupLeft_ = byte - 1u;
        inFrame_ = true;
    }
}

}  // namespace tarn::bench
