// A reader's frames: the decoder of the framing in force and the quiet line
// of frSilence.
#include "frame_cutter_p.h"

namespace tarn::serialport {

void TFrameCutter::Restart(const TFramingNow& now) {
    following_ = true;
    generation_ = now.generation;
    gap_ = now.gap;
    decoder_.reset();
    if (now.format != nullptr && now.format->framing != frNone) decoder_.emplace(*now.format);
}

void TFrameCutter::EndIfQuiet(Clock::time_point at, TFoundFrames& out) {
    if (decoder_->Format().framing != frSilence || !decoder_->InFrame()) return;
    if (at - lastByte_ >= gap_) decoder_->LineQuiet(out);
}

void TFrameCutter::Take(std::string_view bytes, Clock::time_point at, TFoundFrames& out) {
    if (!decoder_ || bytes.empty()) return;
    EndIfQuiet(at, out);
    decoder_->Feed(bytes, out);
    lastByte_ = at;
}

std::size_t TFrameCutter::TakeUntilFound(std::string_view bytes, TFoundFrames& out) {
    if (!decoder_ || bytes.empty()) return bytes.size();
    if (decoder_->Format().framing == frSilence) lastByte_ = Clock::now();
    return decoder_->Feed(bytes, out, true);
}

void TFrameCutter::Quiet(Clock::time_point now, TFoundFrames& out) {
    if (decoder_) EndIfQuiet(now, out);
}

std::optional<TFrameCutter::Clock::duration> TFrameCutter::QuietIn(Clock::time_point now) const {
    if (!decoder_ || decoder_->Format().framing != frSilence || !decoder_->InFrame()) {
        return std::nullopt;
    }
    const Clock::duration passed = now - lastByte_;
    return passed >= gap_ ? Clock::duration(0) : gap_ - passed;
}

void TFrameCutter::Reset() {
    if (decoder_) decoder_->Reset();
}

}  // namespace tarn::serialport
