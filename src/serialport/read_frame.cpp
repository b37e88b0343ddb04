// ReadFrame: one frame taken by the application's own thread. Each driver
// read takes the waiting bytes up to the end of the first frame, found by
// the driver where it holds them, so that what follows stays in the driver;
// the decoder lives in the component between reads, so that a frame that
// was unfinished at a time-out is finished by the next read.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "input_wait_p.h"

namespace drv = tarn::driver;
using tarn::serialport::TFoundFrame;
using tarn::serialport::TFoundFrames;
using tarn::serialport::TFrameCutter;

namespace {

using Clock = std::chrono::steady_clock;
using TReader = TTarnSerialPortPrivate::TReader;

// How many waiting bytes one driver read of a frame looks at.
constexpr std::uint32_t kFrameLook = 4096;

// Where a read of a frame stops: the decoder takes the bytes it is shown
// until a frame or an error is complete.
class UntilFrameFound final : public drv::InputEnd {
public:
    UntilFrameFound(TFrameCutter& cutter, TFoundFrames& found) : cutter_(cutter), found_(found) {}
    std::size_t Find(const char* bytes, std::size_t size) override {
        taken_ = cutter_.TakeUntilFound(std::string_view(bytes, size), found_);
        return taken_;
    }
    std::size_t Taken() const { return taken_; }

private:
    TFrameCutter& cutter_;
    TFoundFrames& found_;
    std::size_t taken_ = 0;
};

// One look for a frame: one driver read up to the end of the first frame,
// or, when nothing waits, the end of a frame that the quiet line ends. `read` tells how many bytes
// the read took. False while the framing is frNone or no port can be read.
bool LookForFrame(TTarnSerialPortPrivate& d, TFoundFrames& found, std::uint32_t& read,
                  std::optional<Clock::duration>& quietIn) {
    read = 0;
    char bytes[kFrameLook];
    {
        const std::unique_lock<std::mutex> input = d.TakeInput();
        TFrameCutter& cutter = d.ReadFrameCutter();
        if (!cutter.Follow(d.FramingGeneration(), [&d] { return d.FramingNow(); })) return false;
        const drv::HANDLE handle = tarn::serialport::ApplicationPort(d);
        if (handle == drv::INVALID_HANDLE_VALUE) return false;
        UntilFrameFound end(cutter, found);
        const tarn::serialport::Receiving receiving(d);
        drv::ReadInputUntil(handle, bytes, kFrameLook, end, &read);
        // A driver that failed half-way took fewer bytes than the decoder
        // saw: the frame under way is lost either way.
        if (read != end.Taken()) {
            cutter.Reset();
            found.found.clear();
        }
        // Bytes that waited continue the frame, whenever they came: the
        // line counts as quiet only from the last look that found some.
        // The wait for the quiet line matters only when nothing came.
        if (read == 0) {
            const Clock::time_point now = Clock::now();
            cutter.Quiet(now, found);
            quietIn = cutter.QuietIn(now);
            return true;
        }
        // The books and the log as for bytes read one at a time.
        d.KeepReadBooks(std::string_view(bytes, read), TReader::ApplicationByBytes);
    }
    d.LogRead(std::string_view(bytes, read), TReader::ApplicationByBytes);
    return true;
}

}  // namespace

TTarnSerialPort::AnsiString TTarnSerialPort::ReadFrame(std::int32_t timeOutMs) {
    AnsiString frame;
    ReadFrame(timeOutMs, frame);
    return frame;
}

bool TTarnSerialPort::ReadFrame(std::int32_t timeOutMs, AnsiString& frame) {
    frame.clear();
    if (d->AutoReceive()) return false;
    const bool limited = timeOutMs > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeOutMs);
    tarn::serialport::FinerTimerWhileWaiting timer;
    const tarn::driver::HANDLE readOn = d->PortHandle();
    while (true) {
        TFoundFrames found;
        std::uint32_t read = 0;
        std::optional<Clock::duration> quietIn;
        try {
            if (!LookForFrame(*d, found, read, quietIn)) return false;
        } catch (...) {
            // The log could not be written: the bytes are lost to the
            // frame, which the decoder has seen all the same.
        }
        // The errors first, on this thread; the frame, if one came, is the
        // last of what was found.
        const bool gotFrame = !found.found.empty() && !found.found.back().error;
        if (gotFrame) {
            frame = std::move(found.found.back().bytes);
            found.found.pop_back();
        }
        d->DeliverFrames(found.found);
        if (gotFrame) {
            d->SetLastReadBuffer(frame);
            return true;
        }
        if (read > 0) continue;

        std::int64_t waitMs = -1;
        if (limited) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            waitMs = left.count();
        }
        if (quietIn) {
            const auto quietMs = std::chrono::ceil<std::chrono::milliseconds>(*quietIn).count();
            waitMs = waitMs < 0 ? quietMs : std::min<std::int64_t>(waitMs, quietMs);
        }
        timer.BeginFor(d->PortHandle());
        // A wait that ends for a frame's quiet gap goes on to cut the frame,
        // unless the port is closing or gone.
        if (!tarn::serialport::WaitForInput(*d, waitMs, readOn) &&
            (!quietIn || d->CloseRequested() || d->AutoReceive() ||
             (readOn != tarn::driver::INVALID_HANDLE_VALUE && d->PortHandle() != readOn))) {
            return false;
        }
    }
}
