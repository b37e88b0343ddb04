// Synchronous reads. With AutoReceive off the receive thread only announces
// new bytes, and the application pulls them here on its own thread: what
// waits, one byte, a count of bytes, or everything up to an end sequence
// with a time-out in seconds. Every byte taken is added to FReadBytes, which
// the receive thread adds to the queue count, so that bytes already read
// are not announced again.
//
// Each driver read takes as much as waits, up to what the read still needs.
// A read up to an end sequence looks at the waiting bytes first and takes
// only those up to the end, so that what follows stays in the driver for
// the next read, as if the bytes had been taken one at a time.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "Tarnserialport.h"
#include "host_thread.h"
#include "timer_resolution.h"

namespace drv = tarn::driver;
namespace host = tarn::host;

namespace {

using Clock = std::chrono::steady_clock;

// A waiting read sleeps in the driver until a byte arrives (the driver
// decides how: a wait on the device, or short sleeps between looks at its
// queue), but never longer than this in one go, so that it looks at the port
// and its own settings now and then even if a wake-up were missed. A Close
// ends the wait at once.
constexpr std::uint32_t kLongestDriverWaitMs = 1000;

// The pauses where the driver cannot wait: after a failed queue query, on a
// closed port, or while bytes wait for the receive thread to take them.
// Failed queries keep the short pause, so that a vanished device is noticed
// soon; the others double it up to the longest.
constexpr std::uint32_t kPollPauseMs = 1;
constexpr std::uint32_t kLongestPollPauseMs = 4;

// A queue query that fails this many times in a row means that the device
// has gone: drivers answer a pulled adapter or a hung-up terminal with
// several different codes, but a port that is there answers every query,
// and a single failure may be a passing one.
constexpr int kFailedQueriesMeaningGone = 20;

// How many waiting bytes a read up to an end sequence looks at in one go:
// enough for a usual line at first, twice as many after each look that
// found no end, so that the bytes looked at stay within a small multiple
// of the bytes taken.
constexpr std::uint32_t kFirstLook = 256;
constexpr std::uint32_t kLongestLook = 64 * 1024;

// Holds the finer system timer while a read sleeps between polls: with the
// default tick of Windows (15.6 ms) a pause of one millisecond would last a
// whole tick. Begun at the first pause of a read and ended with the read, so
// that a line that arrives byte by byte does not bind the timer per byte.
// A driver whose wait sleeps until the byte comes needs no finer timer, and
// is spared its cost (where the timer library is missing, every attempt to
// bind it searches the library path again).
class FinerTimerWhileWaiting {
public:
    FinerTimerWhileWaiting() = default;
    FinerTimerWhileWaiting(const FinerTimerWhileWaiting&) = delete;
    FinerTimerWhileWaiting& operator=(const FinerTimerWhileWaiting&) = delete;
    ~FinerTimerWhileWaiting() {
        if (begun_) tarn::timer::TimeEndPeriod(1);
    }
    void BeginFor(drv::HANDLE handle) {
        if (begun_ || handle == drv::INVALID_HANDLE_VALUE) return;
        if ((drv::GetCommWaitWakes(handle) & drv::COMMWAIT_INPUT) != 0) return;
        tarn::timer::TimeBeginPeriod(1);
        begun_ = true;
    }

private:
    bool begun_ = false;
};

// An end sequence as the bytes that stand for it in the ANSI code page, or
// empty when it can never match: an empty entry, or one with a character
// that no byte converts to.
//
// Comparing these bytes with the tail of the bytes collected is the same as
// converting the collected bytes to text and searching the entry in it, for
// a single-byte code page, where each byte converts to one character of its
// own: a found entry ends at the last byte, since the search has run after
// every earlier byte, and equal characters mean equal bytes.
host::AnsiString EndSequenceBytes(const host::UnicodeString& entry) {
    if (entry.empty()) return {};
    host::AnsiString bytes = host::UnicodeToAnsi(entry);
    if (host::AnsiToUnicode(bytes) != entry) return {};
    return bytes;
}

bool EndsWith(const host::AnsiString& text, const host::AnsiString& tail) {
    return !tail.empty() && tail.size() <= text.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The end sequences of one read, in list order.
class EndSequences {
public:
    explicit EndSequences(std::vector<host::AnsiString> entries) : entries_(std::move(entries)) {
        for (const host::AnsiString& entry : entries_) {
            if (entry.empty()) continue;
            longest_ = std::max(longest_, entry.size());
            lastBytes_[static_cast<unsigned char>(entry.back())] = true;
        }
    }

    // How many bytes of `arriving` reach the first byte at which an entry
    // ends, when `collected` came before them; 0 when none ends there. Of
    // `collected` only the bytes that an entry can still reach are looked
    // at, so that a long line is scanned once, not again for every piece.
    std::size_t FirstEnd(const host::AnsiString& collected,
                         const host::AnsiString& arriving) const {
        if (longest_ == 0) return 0;
        const std::size_t overlap = std::min(collected.size(), longest_ - 1);
        // Usually nothing is carried over (a new line), and the bytes that
        // arrive are searched where they are.
        if (overlap == 0) return FirstEndIn(arriving, 0);
        return FirstEndIn(collected.substr(collected.size() - overlap) + arriving, overlap);
    }

    // The first entry in list order that ends `collected`; null when none
    // does.
    const host::AnsiString* EndOf(const host::AnsiString& collected) const {
        for (const host::AnsiString& entry : entries_) {
            if (EndsWith(collected, entry)) return &entry;
        }
        return nullptr;
    }

private:
    // FirstEnd over `text`, whose first `overlap` bytes were collected.
    std::size_t FirstEndIn(const host::AnsiString& text, std::size_t overlap) const {
        for (std::size_t end = overlap + 1; end <= text.size(); ++end) {
            if (!lastBytes_[static_cast<unsigned char>(text[end - 1])]) continue;
            for (const host::AnsiString& entry : entries_) {
                if (!entry.empty() && entry.size() <= end &&
                    text.compare(end - entry.size(), entry.size(), entry) == 0) {
                    return end - overlap;
                }
            }
        }
        return 0;
    }

    std::vector<host::AnsiString> entries_;
    std::size_t longest_ = 0;
    std::array<bool, 256> lastBytes_{};
};

}  // namespace

void TTarnSerialPort::ReadWaiting(std::uint32_t most, const TReadUntil* until, bool asSingleBytes,
                                  AnsiString& result) {
    result.clear();
    if (FAutoReceive || most == 0) return;
    const HANDLE handle = PortHandle();
    if (handle == drv::INVALID_HANDLE_VALUE) return;

    // The query also clears the port's pending error state. A failed query
    // counts as an empty queue.
    std::uint32_t errors = 0;
    drv::COMSTAT stat{};
    const std::uint32_t waiting = drv::ClearCommError(handle, &errors, &stat) ? stat.cbInQue : 0;
    if (waiting == 0 || !PortIsOpen()) return;

    std::uint32_t wanted = std::min(waiting, most);
    AnsiString bytes(wanted, '\0');
    std::uint32_t got = 0;
    FIsReceiving = true;
    struct ReceivingDone {
        std::atomic<bool>& flag;
        ~ReceivingDone() { flag = false; }
    } done{FIsReceiving};
    {
        std::lock_guard<std::mutex> input(FInputLock);
        if (until != nullptr) {
            std::uint32_t peeked = 0;
            if (!drv::PeekInput(handle, &bytes[0], wanted, &peeked) || peeked == 0) return;
            bytes.resize(peeked);
            const std::size_t take = (*until)(bytes);
            wanted = static_cast<std::uint32_t>(std::clamp<std::size_t>(take, 1, peeked));
        }
        // The default read time-outs make this return at once with what the
        // driver holds; a short or failed read keeps whatever came.
        drv::ReadFile(handle, &bytes[0], wanted, &got);
    }
    if (got == 0) return;
    if (got > wanted) got = wanted;

    // The bookkeeping, in this order: the count first, so that the receive
    // thread never announces these bytes again.
    FReadBytes += got;
    bytes.resize(got);
    {
        std::lock_guard<std::mutex> lock(FLock);
        // A read of single bytes leaves the last one here.
        if (asSingleBytes) {
            FReadBuffer.assign(1, bytes.back());
        } else {
            FReadBuffer = bytes;
        }
        if (FKeepEntireBuffer) {
            try {
                FEntireBuffer += bytes;
            } catch (const std::bad_alloc&) {
                // No memory for the whole history: start it afresh, and
                // release what it held, and still complete the read.
                AnsiString().swap(FEntireBuffer);
            }
        }
    }
    result = std::move(bytes);
    if (FLogInput) WriteLog(result, asSingleBytes);
}

bool TTarnSerialPort::WaitForInput(std::int64_t limitMs) {
    const bool limited = limitMs >= 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(limited ? limitMs : 0);
    int failedQueries = 0;
    std::uint32_t pauseMs = kPollPauseMs;
    while (true) {
        // A Close on another thread waits for the receive thread, whose last
        // event may need this (the main) thread: a read that waited on
        // would hold both until the Close gave up.
        if (CloseRequested()) return false;
        const HANDLE handle = PortHandle();
        bool silent = false;
        bool failed = false;
        if (handle != drv::INVALID_HANDLE_VALUE) {
            std::uint32_t errors = 0;
            drv::COMSTAT stat{};
            if (drv::ClearCommError(handle, &errors, &stat)) {
                failedQueries = 0;
                if (stat.cbInQue > 0 && !FAutoReceive) return true;
                silent = stat.cbInQue == 0;
            } else if (++failedQueries >= kFailedQueriesMeaningGone && !limited) {
                return false;
            } else {
                failed = true;
            }
        } else if (!limited) {
            return false;
        }

        // A read with a time-out waits it out even on a closed port; the
        // caller sees the time-out at the top of its loop.
        std::uint32_t waitMs = silent ? kLongestDriverWaitMs : pauseMs;
        if (limited) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline) return true;
            // The last wait ends with the time-out, not after it.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            if (left.count() < waitMs) waitMs = static_cast<std::uint32_t>(left.count());
        }
        // After a wait the caller's read looks at the queue, so that a byte
        // is taken with one query, not two. A wait that the device fails is
        // followed by a query here, which counts the failure.
        if (silent && drv::WaitCommInput(handle, waitMs)) return true;
        host::TThread::Sleep(silent ? kPollPauseMs : waitMs);
        pauseMs = failed ? kPollPauseMs : std::min(pauseMs * 2, kLongestPollPauseMs);
    }
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadBuffer() {
    AnsiString result;
    try {
        ReadWaiting(std::numeric_limits<std::uint32_t>::max(), nullptr, false, result);
    } catch (...) {
        // The log could not be written, or memory ran out: the bytes read
        // so far are still the caller's.
    }
    return result;
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadChar() {
    AnsiString result;
    ReadWaiting(1, nullptr, true, result);
    return result;
}

std::uint8_t TTarnSerialPort::ReadByte() {
    const AnsiString byte = ReadChar();
    return byte.empty() ? 0 : static_cast<std::uint8_t>(byte[0]);
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadChars(std::int32_t noChars) {
    AnsiString result;
    if (FAutoReceive || noChars < 1) return result;

    FinerTimerWhileWaiting timer;
    while (result.size() < static_cast<std::size_t>(noChars)) {
        AnsiString bytes;
        try {
            const auto missing = static_cast<std::uint32_t>(noChars - result.size());
            ReadWaiting(missing, nullptr, true, bytes);
        } catch (...) {
            // The bytes have left the driver but are lost to us (the log
            // could not be written); the next ones may already wait.
            continue;
        }
        if (!bytes.empty()) {
            result += bytes;
            continue;
        }
        timer.BeginFor(PortHandle());
        // There is no time-out: only a closed port or a vanished device
        // ends the wait, and what came so far is dropped as a time-out
        // would drop it.
        if (!WaitForInput(-1)) return AnsiString();
    }
    return result;
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadStringUpToEndChars(
    const tarn::host::TStrings& endCharsList, std::int32_t timeOutSeconds) {
    if (FAutoReceive || endCharsList.Count() == 0) return AnsiString();
    std::vector<AnsiString> entries;
    entries.reserve(static_cast<std::size_t>(endCharsList.Count()));
    for (int i = 0; i < endCharsList.Count(); ++i)
        entries.push_back(EndSequenceBytes(endCharsList[i]));
    return ReadUpToEnds(std::move(entries), timeOutSeconds);
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadUpToEnds(std::vector<AnsiString> entries,
                                                          std::int32_t timeOutSeconds) {
    const Clock::time_point start = Clock::now();
    AnsiString result;
    if (FAutoReceive) return result;
    const EndSequences ends(std::move(entries));

    const bool limited = timeOutSeconds > 0;
    const auto timeOut = std::chrono::seconds(limited ? timeOutSeconds : 0);
    FinerTimerWhileWaiting timer;
    AnsiString collected;
    // A read takes the waiting bytes up to the first end, or all it looked
    // at when none ends there.
    const TReadUntil untilEnd = [&](const AnsiString& waiting) {
        const std::size_t end = ends.FirstEnd(collected, waiting);
        return end != 0 ? end : waiting.size();
    };
    std::uint32_t look = kFirstLook;
    bool found = false;
    while (!found) {
        std::int64_t waitMs = -1;
        if (limited) {
            // A monotonic clock, so that a change of the system time
            // neither cuts a read short nor stretches it.
            const Clock::duration elapsed = Clock::now() - start;
            if (elapsed > timeOut) break;
            waitMs = std::chrono::ceil<std::chrono::milliseconds>(timeOut - elapsed).count();
        }

        // Bytes beyond the limit stay in the driver.
        const std::int32_t maxLength = FMaxLineLength;
        std::uint32_t most = look;
        if (maxLength > 0) {
            const auto limit = static_cast<std::size_t>(maxLength);
            // A limit lowered below what was collected ends the read after
            // one more byte.
            const std::size_t left = collected.size() < limit ? limit - collected.size() : 1;
            most = static_cast<std::uint32_t>(std::min<std::size_t>(most, left));
        }
        AnsiString bytes;
        try {
            ReadWaiting(most, &untilEnd, true, bytes);
        } catch (...) {
            // The bytes are lost (the log could not be written); go on.
            continue;
        }
        if (bytes.empty()) {
            timer.BeginFor(PortHandle());
            if (!WaitForInput(waitMs)) break;
            continue;
        }

        try {
            collected += bytes;
            // No entry ends before the last byte taken, so a match ends
            // there, and the first entry in list order that ends there
            // decides.
            if (const AnsiString* end = ends.EndOf(collected)) {
                found = true;
                result = collected.substr(0, collected.size() - end->size());
                std::lock_guard<std::mutex> lock(FLock);
                FReadBuffer = result;
            }
            // Those collected are dropped unless the last byte completed a
            // match.
            if (maxLength > 0 && collected.size() >= static_cast<std::size_t>(maxLength)) break;
        } catch (...) {
            // Out of memory while collecting: the loop goes on with the
            // next bytes.
        }
        look = std::min(look * 2, kLongestLook);
    }
    return result;
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadStringUpToEndChars(const UnicodeString& endChars,
                                                                    std::int32_t timeOutSeconds) {
    if (endChars.empty() || FAutoReceive) return AnsiString();
    // One sequence as a whole, not a set of alternative characters.
    return ReadUpToEnds({EndSequenceBytes(endChars)}, timeOutSeconds);
}

TTarnSerialPort::AnsiString TTarnSerialPort::ReadStringLine(std::int32_t timeOutSeconds) {
    return ReadStringUpToEndChars(host::AnsiToUnicode(GetNewLine()), timeOutSeconds);
}

std::uint32_t TTarnSerialPort::GetBufferSize() {
    const HANDLE handle = PortHandle();
    if (handle == drv::INVALID_HANDLE_VALUE) return 0;
    std::uint32_t errors = 0;
    drv::COMSTAT stat{};
    return drv::ClearCommError(handle, &errors, &stat) ? stat.cbInQue : 0;
}

TTarnSerialPort::UnicodeString TTarnSerialPort::GetLastReadBuffer() const {
    return host::AnsiToUnicode(GetReadBufferCopy());
}

TTarnSerialPort::UnicodeString TTarnSerialPort::GetEntireBuffer() const {
    std::lock_guard<std::mutex> lock(FLock);
    return host::AnsiToUnicode(FEntireBuffer);
}
