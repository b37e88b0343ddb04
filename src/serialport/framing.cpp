// The component's framing: its settings, the format they make for the
// readers, the deliveries of OnFrame and OnFrameError, and SendFrame.
#include <cmath>
#include <exception>
#include <limits>
#include <string>
#include <utility>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "end_sequences_p.h"

using tarn::serialport::TFoundFrame;
using tarn::serialport::TFrameFormat;
using tarn::serialport::TFramingNow;

namespace {

// Above this rate the quiet time of a frame is fixed: 3.5 character times
// would be too short for the timers of the machines at either end.
constexpr std::int32_t kFixedGapAboveRate = 19200;
constexpr std::uint32_t kFixedGapMicros = 1750;

}  // namespace

void TTarnSerialPortPrivate::UpdateLineGap() {
    // A character: the start bit, the data bits, the parity bit, and one,
    // one and a half or two stop bits (the driver's codes 0, 1 and 2).
    const double bits = 1.0 + FDataWidth + (FParity != 0 ? 1.0 : 0.0) + 1.0 + FStopBits * 0.5;
    std::uint32_t micros = kFixedGapMicros;
    if (FBaudRate > 0 && FBaudRate <= kFixedGapAboveRate) {
        micros = static_cast<std::uint32_t>(std::ceil(3.5 * bits * 1e6 / FBaudRate));
    }
    if (FLineGapMicros.exchange(micros) != micros) ++FFramingGeneration;
}

void TTarnSerialPortPrivate::RemakeFramingLocked() {
    if (FFrameSettings.framing == frNone) {
        FFrameFormat = nullptr;
    } else {
        auto format = std::make_shared<TFrameFormat>(FFrameSettings);
        if (format->delimiter.empty()) {
            format->delimiter =
                tarn::serialport::EndSequenceBytes(tarn::host::AnsiToUnicode(FNewLine));
        }
        // An empty NewLine leaves the default delimiter empty: no frames
        // until there is one again.
        if (tarn::serialport::FrameFormatProblem(*format).empty()) {
            FFrameFormat = std::move(format);
        } else {
            FFrameFormat = nullptr;
        }
    }
    ++FFramingGeneration;
}

template <typename Change>
void TTarnSerialPortPrivate::ChangeFraming(Change change) {
    std::lock_guard<std::mutex> lock(FLock);
    TFrameFormat settings = FFrameSettings;
    change(settings);
    if (settings.framing != frNone) {
        // The delimiter that an empty one stands for is checked as it is.
        TFrameFormat checked = settings;
        if (checked.delimiter.empty()) {
            checked.delimiter =
                tarn::serialport::EndSequenceBytes(tarn::host::AnsiToUnicode(FNewLine));
        }
        const std::string problem = tarn::serialport::FrameFormatProblem(checked);
        if (!problem.empty()) throw ETarnSerialPortException(problem.c_str());
    }
    FFrameSettings = std::move(settings);
    RemakeFramingLocked();
}

TFramingNow TTarnSerialPortPrivate::FramingNow() const {
    TFramingNow now;
    std::lock_guard<std::mutex> lock(FLock);
    now.format = FFrameFormat;
    now.generation = FFramingGeneration;
    now.gap = FFrameGapMs != 0 ? std::chrono::microseconds(std::chrono::milliseconds(FFrameGapMs))
                               : std::chrono::microseconds(FLineGapMicros.load());
    return now;
}

void TTarnSerialPortPrivate::DeliverFrames(std::vector<TFoundFrame>& found) const {
    if (FDestroying || found.empty()) return;
    // Each frame gets the handler in force as it is delivered, as every
    // event does; the handlers are copied again only after a change (by a
    // handler, say), not once for each of the many frames of one chunk.
    TFrameEvent onFrame;
    TFrameErrorEvent onError;
    std::uint32_t fetched = 0;
    const auto fetch = [&] {
        std::lock_guard<std::mutex> lock(FLock);
        onFrame = FOnFrame;
        onError = FOnFrameError;
        fetched = FFrameHandlerChanges.load();
    };
    fetch();
    // A Close, an Open or a change of the framing from inside a handler
    // ends the delivery: the frames left belong to what came before it.
    const std::uint32_t generation = FFramingGeneration.load();
    std::exception_ptr first;
    for (TFoundFrame& item : found) {
        if (FFrameHandlerChanges.load() != fetched) fetch();
        try {
            if (item.error) {
                if (onError.Assigned()) onError(q, item.reason, std::move(item.bytes));
            } else if (onFrame.Assigned()) {
                onFrame(q, std::move(item.bytes));
            }
        } catch (...) {
            if (!first) first = std::current_exception();
        }
        if (FDestroying || FFramingGeneration.load() != generation) break;
    }
    if (first) std::rethrow_exception(first);
}

TFraming TTarnSerialPort::GetFraming() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FFrameSettings.framing;
}

void TTarnSerialPort::SetFraming(TFraming Value) {
    d->ChangeFraming([Value](TFrameFormat& s) { s.framing = Value; });
}

TTarnSerialPort::AnsiString TTarnSerialPort::GetFrameDelimiter() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FFrameSettings.delimiter;
}

void TTarnSerialPort::SetFrameDelimiter(const AnsiString& Value) {
    d->ChangeFraming([&Value](TFrameFormat& s) { s.delimiter = Value; });
}

std::uint32_t TTarnSerialPort::GetFrameLength() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FFrameSettings.fixedLength;
}

void TTarnSerialPort::SetFrameLength(std::uint32_t Value) {
    d->ChangeFraming([Value](TFrameFormat& s) { s.fixedLength = Value; });
}

TFrameLengthField TTarnSerialPort::GetFrameLengthField() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FFrameSettings.lengthField;
}

void TTarnSerialPort::SetFrameLengthField(TFrameLengthField Value) {
    d->ChangeFraming([Value](TFrameFormat& s) { s.lengthField = Value; });
}

std::uint32_t TTarnSerialPort::GetMaxFrameLength() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FFrameSettings.maxFrameLength;
}

void TTarnSerialPort::SetMaxFrameLength(std::uint32_t Value) {
    d->ChangeFraming([Value](TFrameFormat& s) { s.maxFrameLength = Value; });
}

std::uint32_t TTarnSerialPort::GetFrameGapMs() const {
    std::lock_guard<std::mutex> lock(d->FLock);
    return d->FFrameGapMs;
}

void TTarnSerialPort::SetFrameGapMs(std::uint32_t Value) {
    std::lock_guard<std::mutex> lock(d->FLock);
    d->FFrameGapMs = Value;
    ++d->FFramingGeneration;
}

TFrameEvent TTarnSerialPort::GetOnFrame() const { return d->Guarded(d->FOnFrame); }

void TTarnSerialPort::SetOnFrame(TFrameEvent Value) {
    std::lock_guard<std::mutex> lock(d->FLock);
    d->FOnFrame = std::move(Value);
    ++d->FFrameHandlerChanges;
}

TFrameErrorEvent TTarnSerialPort::GetOnFrameError() const { return d->Guarded(d->FOnFrameError); }

void TTarnSerialPort::SetOnFrameError(TFrameErrorEvent Value) {
    std::lock_guard<std::mutex> lock(d->FLock);
    d->FOnFrameError = std::move(Value);
    ++d->FFrameHandlerChanges;
}

TTarnSerialPort::AnsiString TTarnSerialPort::EncodeFrame(const AnsiString& payload) const {
    const TFramingNow now = d->FramingNow();
    const TFrameFormat format = now.format != nullptr ? *now.format : TFrameFormat{frNone};
    std::string problem;
    std::string bytes = tarn::serialport::EncodeFrame(format, payload, problem);
    if (!problem.empty()) throw ETarnSerialPortException(problem.c_str());
    return bytes;
}

std::uint32_t TTarnSerialPort::SendFrame(const AnsiString& payload) {
    const std::string bytes = EncodeFrame(payload);
    // As SendChars: no bytes are no send at all.
    if (bytes.empty()) return 0;
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw ETarnSerialPortException("The frame is too long to send in one write");
    }
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const std::uint32_t written = SendData(bytes.data(), size);
    // The rest of a frame cut short would make the other end's next frame
    // wrong as well: the caller must learn of it.
    if (written != size) {
        throw ETarnSerialPortException(
            ("The frame was sent only in part: " + std::to_string(written) + " of " +
             std::to_string(size) + " bytes")
                .c_str());
    }
    return written;
}
