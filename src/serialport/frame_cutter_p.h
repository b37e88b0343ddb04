// The frames of a port's stream as a reader meets them: the decoder of the
// framing in force, started afresh whenever the component's framing
// changes, and the clock of the quiet line that ends a frame of frSilence.
// The receive thread keeps one for OnFrame, the component one for
// ReadFrame.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame_codec_p.h"

namespace tarn::serialport {

// A frame, or bytes thrown away, as the decoder found them.
struct TFoundFrame {
    bool error = false;
    TFrameErrorReason reason = feTooLong;
    std::string bytes;
};

// Collects what a decoder finds, for a delivery afterwards.
class TFoundFrames final : public FrameSink {
public:
    void Frame(std::string frame) override {
        found.push_back({false, feTooLong, std::move(frame)});
    }
    void FrameError(TFrameErrorReason reason, std::string bytes) override {
        found.push_back({true, reason, std::move(bytes)});
    }
    std::vector<TFoundFrame> found;
};

// The framing in force as one value: its format (null for frNone), the
// number of the change that made it, and the gap of frSilence.
struct TFramingNow {
    std::shared_ptr<const TFrameFormat> format;
    std::uint32_t generation = 0;
    std::chrono::microseconds gap{0};
};

// One reader's decoder. One thread at a time.
class TFrameCutter {
public:
    using Clock = std::chrono::steady_clock;

    // Starts afresh when `generation` differs from the one followed so far,
    // with the framing that `now` fetches. False while the framing is frNone.
    template <typename FetchNow>
    bool Follow(std::uint32_t generation, FetchNow now) {
        if (!following_ || generation != generation_) Restart(now());
        return decoder_.has_value();
    }

    // Takes bytes that arrived at `at`. A frame of frSilence that the quiet
    // line before them ended is ended first.
    void Take(std::string_view bytes, Clock::time_point at, TFoundFrames& out);
    // The same for bytes that arrived now, but stops after the first frame
    // or error and tells how many bytes it took (at least one of bytes that
    // are there). The quiet line is not looked at: the reader calls Quiet
    // before it reads. The clock is read only for frSilence, as this runs
    // once for every frame read.
    std::size_t TakeUntilFound(std::string_view bytes, TFoundFrames& out);
    // frSilence: ends the frame once the line has been quiet for the gap.
    void Quiet(Clock::time_point now, TFoundFrames& out);
    // frSilence with a frame under way: how long until the gap has passed
    // (0 when it has); none otherwise.
    std::optional<Clock::duration> QuietIn(Clock::time_point now) const;
    // Drops the unfinished frame.
    void Reset();

private:
    void Restart(const TFramingNow& now);
    void EndIfQuiet(Clock::time_point at, TFoundFrames& out);

    bool following_ = false;
    std::uint32_t generation_ = 0;
    std::optional<FrameDecoder> decoder_;
    Clock::duration gap_{0};
    Clock::time_point lastByte_{};
};

}  // namespace tarn::serialport
