// Synchronous reads. With AutoReceive off the receive thread only announces
// new bytes, and the application pulls them here on its own thread: what
// waits, one byte, a count of bytes, or everything up to an end sequence
// with a time-out in seconds. Every byte taken is added to FReadBytes, which
// the receive thread adds to the queue count, so that bytes already read
// are not announced again.
//
// Each driver read takes as much as waits, up to what the read still needs.
// A read up to an end sequence takes only the waiting bytes up to the end,
// found by the driver where it holds them, so that what follows stays in
// the driver for the next read, as if the bytes had been taken one at a
// time; a line that waits whole costs one driver call.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "end_sequences_p.h"
#include "host_thread.h"
#include "input_wait_p.h"
#include "timer_resolution.h"

namespace drv = tarn::driver;
namespace host = tarn::host;
using tarn::serialport::EndSequenceBytes;
using tarn::serialport::EndSequences;
using tarn::serialport::FinerTimerWhileWaiting;
using tarn::serialport::Receiving;
using tarn::serialport::WaitForInput;

namespace {

using Clock = std::chrono::steady_clock;
using AnsiString = host::AnsiString;
using TReader = TTarnSerialPortPrivate::TReader;

// How many waiting bytes a read up to an end sequence looks at in one go:
// enough for a usual line at first, twice as many after each look that
// found no end, so that the bytes looked at stay within a small multiple
// of the bytes taken.
constexpr std::uint32_t kFirstLook = 256;
constexpr std::uint32_t kLongestLook = 64 * 1024;

// Reads of the component through its private interface; none of them
// touches the component otherwise.

// One driver read of what waits, at most `most` bytes, with the read
// bookkeeping, on the calling thread; `result` stays empty when the port is
// not usable or nothing waits. `reader` says how the books are kept.
// Exceptions pass, with `result` already holding the bytes read.
void ReadWaiting(TTarnSerialPortPrivate& d, std::uint32_t most, TReader reader,
                 AnsiString& result) {
    result.clear();
    if (most == 0) return;
    const drv::HANDLE handle = tarn::serialport::ApplicationPort(d);
    if (handle == drv::INVALID_HANDLE_VALUE) return;

    // The query also clears the port's pending error state. A failed query
    // counts as an empty queue.
    const std::uint32_t waiting = drv::InputWaiting(handle).value_or(0);
    if (waiting == 0) return;

    const std::uint32_t wanted = std::min(waiting, most);
    AnsiString bytes(wanted, '\0');
    std::uint32_t got = 0;
    const Receiving receiving(d);
    {
        const std::unique_lock<std::mutex> input = d.TakeInput();
        // The default read time-outs make this return at once with what the
        // driver holds; a short or failed read keeps whatever came.
        drv::ReadFile(handle, &bytes[0], wanted, &got);
        if (got == 0) return;
        bytes.resize(std::min(got, wanted));
        // The books of every driver read, as for a received chunk.
        d.KeepReadBooks(bytes, reader);
    }
    result = std::move(bytes);
    d.LogRead(result, reader);
}

// Where a read up to an end stops in the bytes that wait, given those
// collected before them.
class UntilFirstEnd final : public drv::InputEnd {
public:
    UntilFirstEnd(const EndSequences& ends, std::string_view collected)
        : ends_(ends), collected_(collected) {}
    std::size_t Find(const char* bytes, std::size_t size) override {
        const std::size_t end = ends_.FirstEnd(collected_, std::string_view(bytes, size));
        return end != 0 ? end : size;
    }

private:
    const EndSequences& ends_;
    std::string_view collected_;
};

// What one driver read up to an end came to.
struct UpToEnd {
    // How many bytes it took: 0 when the port is not usable, nothing
    // waits, or there is nothing to end at.
    std::size_t got = 0;
    // The size of the entry that the collected bytes end with now; 0 when
    // none does.
    std::size_t endSize = 0;
    // False when there are no end sequences: the NewLine is empty.
    bool hasEnds = true;
};

// One driver read that appends to `collected` the waiting bytes up to the
// first of the end sequences, `given` or (when null) the NewLine's, at
// most `most` bytes, so that what follows stays in the driver for the next
// read; the books and the log as for bytes read one at a time, where a
// read that completes a line leaves the line as the last read buffer in
// the same step. The peek, the look for the end and the read are one call
// of the driver, made on the read-ahead where it keeps one; the NewLine's
// ends are looked up in the same hold of the input, so that a NewLine set
// while a line read waits applies from its next look on. Exceptions pass,
// with the bytes taken off `collected` again: a log that could not be
// written loses them.
UpToEnd ReadUpToEnd(TTarnSerialPortPrivate& d, std::uint32_t most, const EndSequences* given,
                    AnsiString& collected) {
    UpToEnd result;
    const drv::HANDLE handle = tarn::serialport::ApplicationPort(d);
    if (handle == drv::INVALID_HANDLE_VALUE || most == 0) {
        // A closed port is waited for, an empty NewLine is not.
        if (given == nullptr) {
            const std::unique_lock<std::mutex> input = d.TakeInput();
            result.hasEnds = d.LineEndsHeld() != nullptr;
        }
        return result;
    }
    const std::size_t before = collected.size();
    // The first look of a read, which usually holds the whole line, goes
    // to a buffer of its own, so that the line's string is made as large
    // as the line, not as the look.
    char firstLook[kFirstLook];
    const bool intoFirstLook = before == 0 && most <= kFirstLook;
    if (!intoFirstLook) collected.resize(before + most);
    char* const into = intoFirstLook ? firstLook : &collected[before];
    std::uint32_t got = 0;
    try {
        // Without a query first, the mark is on while the driver looks,
        // even when it finds nothing.
        const Receiving receiving(d);
        const std::unique_lock<std::mutex> input = d.TakeInput();
        const EndSequences* const ends = given != nullptr ? given : d.LineEndsHeld();
        if (ends == nullptr) {
            result.hasEnds = false;
        } else {
            // After the resize, which may move the bytes collected.
            UntilFirstEnd end(*ends, std::string_view(collected.data(), before));
            drv::ReadInputUntil(handle, into, most, end, &got);
            got = std::min(got, most);
        }
        if (got > 0) {
            const std::string_view all(intoFirstLook ? into : collected.data(),
                                       intoFirstLook ? got : before + got);
            // No entry ends before the last byte taken, so a match ends
            // there, and the first entry in list order that ends there
            // decides.
            const AnsiString* const completes = ends->EndOf(all);
            std::string_view line;
            if (completes != nullptr) {
                result.endSize = completes->size();
                line = all.substr(0, all.size() - result.endSize);
            }
            d.KeepReadBooks(std::string_view(into, got), TReader::ApplicationByBytes,
                            completes != nullptr ? &line : nullptr);
        }
    } catch (...) {
        // Out of memory for the books: the bytes are lost.
        collected.resize(before);
        throw;
    }
    if (!intoFirstLook) collected.resize(before + got);
    if (got == 0) return result;
    const std::string_view bytes(into, got);
    try {
        d.LogRead(bytes, TReader::ApplicationByBytes);
    } catch (...) {
        // The line that was to be read is lost; the last byte stays the
        // last read, as for a read that completes nothing.
        if (result.endSize != 0) d.SetLastReadBuffer(AnsiString(1, bytes.back()));
        collected.resize(before);
        throw;
    }
    // Out of memory here loses the bytes as a failed log does.
    if (intoFirstLook) collected = AnsiString(bytes);
    result.got = got;
    return result;
}

// The time-out of a read up to an end, in whole seconds, none when 0 or
// less. A monotonic clock, so that a change of the system time neither cuts
// a read short nor stretches it. The clock starts at the first look at it,
// which a read makes after its first driver call: a line that waits whole
// costs no clock read, and the microseconds of one call do not count
// against a time-out of seconds.
class ReadTimeOut {
public:
    explicit ReadTimeOut(std::int32_t seconds)
        : limited_(seconds > 0), timeOut_(limited_ ? seconds : 0) {}

    // False once the time is up. Otherwise `waitMs` is how long a wait for
    // input may last, the time left rounded up, or -1 without a time-out.
    bool Left(std::int64_t& waitMs) {
        waitMs = -1;
        if (!limited_) return true;
        const Clock::time_point now = Clock::now();
        if (!started_) {
            start_ = now;
            started_ = true;
        }
        const Clock::duration elapsed = now - start_;
        if (elapsed > timeOut_) return false;
        waitMs = std::chrono::ceil<std::chrono::milliseconds>(timeOut_ - elapsed).count();
        return true;
    }

private:
    bool limited_;
    bool started_ = false;
    Clock::time_point start_;
    std::chrono::seconds timeOut_;
};

// How many bytes the next driver read of a read up to an end may take:
// `look`, but no more than MaxLineLength leaves, so that bytes beyond the
// limit stay in the driver. A limit lowered below what was collected ends
// the read after one more byte.
std::uint32_t ReadLimit(std::uint32_t look, std::int32_t maxLength, std::size_t collected) {
    if (maxLength <= 0) return look;
    const auto limit = static_cast<std::size_t>(maxLength);
    const std::size_t left = collected < limit ? limit - collected : 1;
    return static_cast<std::uint32_t>(std::min<std::size_t>(look, left));
}

// A read up to the first of the end sequences, `given` or (when null) the
// NewLine's, with the time-out of ReadStringUpToEndChars.
AnsiString ReadUpToEnds(TTarnSerialPortPrivate& d, const EndSequences* given,
                        std::int32_t timeOutSeconds) {
    ReadTimeOut timeOut(timeOutSeconds);
    AnsiString result;
    if (d.AutoReceive()) return result;

    FinerTimerWhileWaiting timer;
    const drv::HANDLE readOn = d.PortHandle();
    AnsiString collected;
    std::uint32_t look = kFirstLook;
    for (bool first = true;; first = false) {
        // The first call is made at once; from then on every call and
        // every wait keeps to the time-out, so that a flood without an end
        // ends with it too.
        std::int64_t waitMs = -1;
        if (!first && !timeOut.Left(waitMs)) break;

        const std::int32_t maxLength = d.MaxLineLength();
        UpToEnd read;
        try {
            read = ReadUpToEnd(d, ReadLimit(look, maxLength, collected.size()), given, collected);
        } catch (...) {
            // The bytes are lost (the log could not be written); go on.
            continue;
        }
        // Nothing to end at: what was collected is dropped, as at a
        // time-out.
        if (!read.hasEnds) break;
        if (read.got == 0) {
            if (first && !timeOut.Left(waitMs)) break;
            timer.BeginFor(d.PortHandle());
            if (!WaitForInput(d, waitMs, readOn)) break;
            continue;
        }

        if (read.endSize != 0) {
            collected.resize(collected.size() - read.endSize);
            result = std::move(collected);
            break;
        }
        // Those collected are dropped unless the last byte completed a
        // match.
        if (maxLength > 0 && collected.size() >= static_cast<std::size_t>(maxLength)) break;
        look = std::min(look * 2, kLongestLook);
    }
    return result;
}

}  // namespace

TTarnSerialPort::AnsiString TTarnSerialPort::ReadBuffer() {
    AnsiString result;
    try {
        ReadWaiting(*d, std::numeric_limits<std::uint32_t>::max(), TReader::Application, result);
    } catch (...) {
        // The log could not be written, or memory ran out: the bytes read
        // so far are still the caller's.
    }
    return result;
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadChar() {
    AnsiString result;
    ReadWaiting(*d, 1, TReader::ApplicationByBytes, result);
    return result;
}

std::uint8_t TTarnSerialPort::ReadByte() {
    const AnsiString byte = ReadChar();
    return byte.empty() ? 0 : static_cast<std::uint8_t>(byte[0]);
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadChars(std::int32_t noChars) {
    AnsiString result;
    if (d->AutoReceive() || noChars < 1) return result;

    FinerTimerWhileWaiting timer;
    const drv::HANDLE readOn = d->PortHandle();
    while (result.size() < static_cast<std::size_t>(noChars)) {
        AnsiString bytes;
        try {
            const auto missing = static_cast<std::uint32_t>(noChars - result.size());
            ReadWaiting(*d, missing, TReader::ApplicationByBytes, bytes);
        } catch (...) {
            // The bytes have left the driver but are lost to us (the log
            // could not be written); the next ones may already wait.
            continue;
        }
        if (!bytes.empty()) {
            result += bytes;
            continue;
        }
        timer.BeginFor(d->PortHandle());
        // There is no time-out: only a closed port or a vanished device
        // ends the wait, and what came so far is dropped as a time-out
        // would drop it.
        if (!WaitForInput(*d, -1, readOn)) return AnsiString();
    }
    return result;
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadStringUpToEndChars(
    const tarn::host::TStrings& endCharsList, std::int32_t timeOutSeconds) {
    if (d->AutoReceive() || endCharsList.Count() == 0) return AnsiString();
    std::vector<AnsiString> entries;
    entries.reserve(static_cast<std::size_t>(endCharsList.Count()));
    for (int i = 0; i < endCharsList.Count(); ++i)
        entries.push_back(EndSequenceBytes(endCharsList[i]));
    const EndSequences ends(std::move(entries));
    return ReadUpToEnds(*d, &ends, timeOutSeconds);
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadStringUpToEndChars(const UnicodeString& endChars,
                                                                    std::int32_t timeOutSeconds) {
    if (endChars.empty() || d->AutoReceive()) return AnsiString();
    // One sequence as a whole, not a set of alternative characters.
    const EndSequences ends({EndSequenceBytes(endChars)});
    return ReadUpToEnds(*d, &ends, timeOutSeconds);
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadStringLine(std::int32_t timeOutSeconds) {
    return ReadUpToEnds(*d, nullptr, timeOutSeconds);
}

std::uint32_t TTarnSerialPort::GetBufferSize() {
    const drv::HANDLE handle = d->PortHandle();
    if (handle == drv::INVALID_HANDLE_VALUE) return 0;
    return drv::InputWaiting(handle).value_or(0);
}

TTarnSerialPort::UnicodeString TTarnSerialPort::GetLastReadBuffer() const {
    return host::AnsiToUnicode(d->LastReadBuffer());
}

TTarnSerialPort::UnicodeString TTarnSerialPort::GetEntireBuffer() const {
    std::lock_guard<std::mutex> lock(d->FInputLock);
    return host::AnsiToUnicode(d->FEntireBuffer);
}
