// The receive thread: opening steps, poll loop, presence check, event
// delivery and teardown.
#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "com_thread_p.h"
#include "host_synchronize.h"
#include "port_list_watch_p.h"

namespace drv = tarn::driver;

namespace {

using Clock = std::chrono::steady_clock;

// A thread that wakes on data, on a driver whose wait also ends at once when
// a modem line changes or the device goes away, has nothing to look for
// between two wakes. It looks all the same this often, for what no driver
// reports: the port's name taken off the list while its device stays.
constexpr std::uint32_t kLongestQuietWaitMs = 1000;
// Where the watch of the port list wakes it for that too, or the presence
// check is off, it waits this long, a bound that nothing needs.
constexpr std::uint32_t kWatchedQuietWaitMs = 24 * 60 * 60 * 1000;
constexpr std::uint32_t kWakesForEverything =
    drv::COMMWAIT_INPUT | drv::COMMWAIT_LINES | drv::COMMWAIT_REMOVAL;

using TConnectionEvent = TTarnSerialPortPrivate::TConnectionEvent;

}  // namespace

TComThread::TComThread(TTarnSerialPortPrivate* AOwner, const std::string& name,
                       tarn::host::TThreadPriority priority)
    : TThread(true),
      owner_(AOwner),
      openedName_(name),
      openingThreadId_(tarn::host::detail::CurrentOsThreadId()) {
    SetFreeOnTerminate(true);
    SetPriority(priority);

    const std::string path = drv::DevicePath(openedName_);
    try {
        ComDevice = drv::CreateFileA(path);
    } catch (...) {
        openError_ = drv::ERROR_GEN_FAILURE;
        return;
    }
    if (ComDevice == drv::INVALID_HANDLE_VALUE) {
        openError_ = drv::GetLastError();
        return;
    }
    // The recording starts before the settings are handed over, so that
    // they are its first event.
    if (!AOwner->StartRecordingOnOpen(ComDevice, openedName_)) {
        openError_ = drv::GetLastError();
        recordingFailed_ = true;
        return;
    }
    // A block that the driver refuses makes the opening fail: a port left
    // open with settings nobody asked for would look like a working link.
    openError_ = AOwner->ApplySettingsOnOpen(ComDevice);
    if (openError_ != drv::ERROR_SUCCESS) return;
    // The component takes this identifier as its ConnectedTo when it
    // registers the connection.
    port_ = CommPortOfName(openedName_);
    waitWakes_ = drv::GetCommWaitWakes(ComDevice);
    opened_ = true;
}

// Here, where the member of the port list watch is a complete type.
TComThread::~TComThread() = default;

void TComThread::Connect() { RaiseConnectionEvent(TConnectionEvent::Connect); }

void TComThread::StartPolling() {
    started_ = true;
    Start();
}

bool TComThread::WaitingWouldDeadlock() const {
    const std::uint32_t self = tarn::host::detail::CurrentOsThreadId();
    if (self == receiveThreadId_.load()) return true;
    // Before the loop starts only the opening thread can end the thread.
    if (!started_.load() && self == openingThreadId_) return true;
    return inSynchronizedEvent_.load() && synchronizedEventThread_.load() == self;
}

void TComThread::RequestStop() {
    Terminate();
    // A thread that waits in the driver for input wakes there. The handle
    // may be closing meanwhile; handles are never reused, so the call then
    // fails without touching another port.
    const drv::HANDLE handle = ComDevice;
    if (handle != drv::INVALID_HANDLE_VALUE) drv::CancelCommWaits(handle);
    std::lock_guard<std::mutex> lock(sleepMutex_);
    sleepWake_.notify_all();
}

void TComThread::SleepDelay() {
    TTarnSerialPortPrivate* c = owner();
    if (c == nullptr) return;
    const auto delay = std::chrono::milliseconds(c->ReceiveSettings().delay);
    std::unique_lock<std::mutex> lock(sleepMutex_);
    sleepWake_.wait_for(lock, delay, [this] { return Terminated(); });
}

void TComThread::WaitForNextCycle(TCycleEnd end, bool& lastWaitFailed) {
    TTarnSerialPortPrivate* c = owner();
    if (c == nullptr) return;
    const TTarnSerialPortPrivate::TReceiveSettings settings = c->ReceiveSettings();
    if (!settings.wakeOnData || end == TCycleEnd::Pending) return SleepDelay();
    // After a chunk more may wait. A driver that sleeps until input comes
    // is asked at once: a wait on bytes that are there returns at once, and
    // costs less than a cycle that finds the queue empty. After a chunk
    // that took half the room or more, though, a flood is on and the next
    // read nearly always finds more, so it follows at once, as it does on a
    // driver that looks at its queue between sleeps and might sleep through
    // the next bytes.
    if (end == TCycleEnd::Delivered &&
        (chunkWasLarge_ || (waitWakes_ & drv::COMMWAIT_INPUT) == 0)) {
        return;
    }
    if (drv::WaitCommInput(ComDevice, InputWaitMs(settings), wakesSeen_)) {
        lastWaitFailed = false;
        return;
    }
    // A failed wait (the device failed or went away) goes on at once to the
    // cycle whose presence check finds that out. A device that keeps
    // failing while it stays listed then falls back to the sleep, so that
    // the thread does not spin on it.
    if (!std::exchange(lastWaitFailed, true)) return;
    SleepDelay();
}

bool TComThread::LookDue(const TTarnSerialPortPrivate::TReceiveSettings& settings,
                         Clock::time_point last, Clock::time_point now) const {
    if (!settings.wakeOnData || previousEnd_ != TCycleEnd::Delivered) return true;
    return now - last >= std::chrono::milliseconds(settings.delay);
}

std::uint32_t TComThread::InputWaitMs(
    const TTarnSerialPortPrivate::TReceiveSettings& settings) const {
    const std::uint32_t delay = settings.delay;
    const Clock::time_point now = Clock::now();
    std::uint32_t waitMs = 0;
    const bool wakesForAll = (waitWakes_ & kWakesForEverything) == kWakesForEverything;
    // A watched port's presence is looked at when the watch says, not on a
    // period; an unchecked one never.
    const bool watched = wakesForAll && (listWatch_ != nullptr || !settings.presenceChecked);
    const Clock::time_point oldest =
        watched ? lastLineCheck_ : std::min(lastLineCheck_, lastPresenceCheck_);
    if (oldest >= cycleStart_ && wakesForAll) {
        waitMs = watched ? kWatchedQuietWaitMs : std::max(delay, kLongestQuietWaitMs);
    } else {
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - oldest);
        if (since.count() < static_cast<std::int64_t>(delay)) {
            waitMs = delay - static_cast<std::uint32_t>(since.count());
        }
    }
    // A frame that the quiet line ends is delivered when the gap is over.
    if (const std::optional<Clock::duration> quiet = frames_.QuietIn(now)) {
        const auto quietMs = std::chrono::ceil<std::chrono::milliseconds>(*quiet).count();
        waitMs = std::min(waitMs, static_cast<std::uint32_t>(quietMs));
    }
    return waitMs;
}

template <typename Deliver>
bool TComThread::Raise(Deliver deliver) {
    TTarnSerialPortPrivate* c = owner();
    if (c == nullptr) return false;
    // The component is looked up again when the delivery runs: on the main
    // thread it may have gone meanwhile.
    const auto deliverToOwner = [this, &deliver] {
        if (TTarnSerialPortPrivate* owner = this->owner()) deliver(*owner);
    };
    if (c->ReceiveSettings().needSynchronization && !tarn::host::IsMainThread()) {
        Synchronize([this, &deliverToOwner] {
            synchronizedEventThread_ = tarn::host::detail::CurrentOsThreadId();
            inSynchronizedEvent_ = true;
            struct Reset {
                std::atomic<bool>& flag;
                ~Reset() { flag = false; }
            } reset{inSynchronizedEvent_};
            deliverToOwner();
        });
    } else {
        deliverToOwner();
    }
    return owner() != nullptr;
}

// The connection events carry this thread's own port: the component may
// already have opened another one from inside a handler.
bool TComThread::RaiseConnectionEvent(TConnectionEvent event) {
    return Raise(
        [this, event](TTarnSerialPortPrivate& c) { c.DeliverConnectionEvent(event, port_); });
}

bool TComThread::CheckPresence() {
    TTarnSerialPortPrivate* c = owner();
    if (c == nullptr) return false;
    // The name that was opened, not the one selected now: renaming the port
    // while it is open does not make the open device vanish.
    if (!c->PortHasVanished(openedName_)) return true;
    // A send found it first: it raises the fault and closes this connection.
    if (!c->ClaimFault()) return true;
    tarn::driver::NoteDeviceGone(ComDevice);
    try {
        if (!RaiseConnectionEvent(TConnectionEvent::Fault)) return false;
    } catch (...) {
        // A handler threw; the component may have gone inside it.
        if (TTarnSerialPortPrivate* still = owner()) still->ReleaseFault();
        throw;
    }
    // Closes this connection only; a handler may have replaced it.
    c->CloseConnection(serial_);
    return true;
}

bool TComThread::PresenceWatched(const TTarnSerialPortPrivate::TReceiveSettings& settings) {
    if (!settings.wakeOnData || (waitWakes_ & kWakesForEverything) != kWakesForEverything) {
        return false;
    }
    // With the presence check switched off the watch would have nothing
    // to wake the thread for; it is joined once the check is on.
    if (!listWatchJoined_ && settings.presenceChecked) {
        listWatchJoined_ = true;
        try {
            listWatch_ = std::make_unique<TPortListMember>(ComDevice, openedName_);
        } catch (...) {
            // Without the watch the thread looks on its own period.
        }
        // A member that the watch does not cover would only cost its wakes.
        if (listWatch_ && !listWatch_->Covered()) listWatch_.reset();
    }
    return listWatch_ != nullptr;
}

bool TComThread::CheckPresenceWhenDue(bool queryFailed) {
    TTarnSerialPortPrivate* c = owner();
    if (c == nullptr) return false;
    const TTarnSerialPortPrivate::TReceiveSettings settings = c->ReceiveSettings();
    const Clock::time_point now = Clock::now();
    const bool watched = PresenceWatched(settings);
    // Taken in every mode, so that the watch stops waking for it.
    const bool listChanged = listWatch_ != nullptr && listWatch_->TakeChange();
    // A change taken while the check was off may have been this port's
    // own: the check looks once when it is switched on again.
    const bool switchedOn = settings.presenceChecked && !presenceCheckedBefore_;
    presenceCheckedBefore_ = settings.presenceChecked;
    const bool due =
        switchedOn || (watched ? listChanged : LookDue(settings, lastPresenceCheck_, now));
    if (!queryFailed && !due) return true;
    lastPresenceCheck_ = now;
    return CheckPresence();
}

bool TComThread::LookAtLines() {
    TTarnSerialPortPrivate* c = owner();
    if (c == nullptr) return false;
    if (!LookDue(c->ReceiveSettings(), lastLineCheck_, cycleStart_)) return true;
    lastLineCheck_ = cycleStart_;
    const TLineStatusSet lines = LineStatusOf(ComDevice);
    if (!c->UpdateLineStatus(lines)) return true;
    return Raise([lines](TTarnSerialPortPrivate& owner) { owner.DeliverLineStatus(lines); });
}

bool TComThread::PollOnce(TCycleEnd& end) {
    TTarnSerialPortPrivate& c = *owner();
    const drv::HANDLE handle = ComDevice;
    end = TCycleEnd::Idle;
    if (c.ReceiveSettings().autoReceive) return ReceiveChunk(c, handle, end);

    // Taken before the queue is counted: a read that takes bytes between the
    // two then makes the total smaller, never larger, so that bytes already
    // announced are not announced again.
    const std::uint32_t readBytes = c.ReadCount();
    // A failed query counts as an empty queue, which leads to the presence
    // check: a port that answers nothing is as good as silent.
    const std::optional<std::uint32_t> queue = drv::InputWaiting(handle);
    const std::uint32_t waiting = queue.value_or(0);
    if (waiting == 0) return CheckPresenceWhenDue(!queue.has_value());
    // The bytes stay for the application's reads, which an OnReceive
    // without bytes tells about them.
    end = TCycleEnd::Pending;
    if (!c.AnnounceWaiting(readBytes, waiting)) return true;
    return Raise([](TTarnSerialPortPrivate& owner) { owner.DeliverReceive(std::string()); });
}

namespace {

// A received chunk has no end to stop at: it is all that waits.
class WholeChunk final : public drv::InputEnd {
public:
    std::size_t Find(const char*, std::size_t size) override { return size; }
};

}  // namespace

bool TComThread::TakeWaiting(const TTarnSerialPortPrivate& c, drv::HANDLE handle,
                             std::uint32_t& got) {
    got = 0;
    if (room_.size() < roomWanted_) room_.resize(roomWanted_);
    if (c.ReceiveSettings().wakeOnData) {
        // Taken in one driver call, without asking first how much: the
        // wait that ended before this cycle has answered that. A chunk that
        // filled the room leaves more for a larger room.
        WholeChunk whole;
        return drv::ReadInputUntil(handle, room_.data(), static_cast<std::uint32_t>(room_.size()),
                                   whole, &got);
    }
    // A poll cycle comes a Delay later, and takes the whole queue at once.
    const std::optional<std::uint32_t> waiting = drv::InputWaiting(handle);
    if (!waiting) return false;
    if (*waiting == 0) return true;
    if (room_.size() < *waiting) room_.resize(*waiting);
    return drv::ReadFile(handle, room_.data(), *waiting, &got);
}

bool TComThread::ReceiveChunk(TTarnSerialPortPrivate& c, drv::HANDLE handle, TCycleEnd& end) {
    // A frame that ends with the quiet line ends in a cycle that found
    // nothing, and so does one that was told to stop.
    const auto quiet = [&](bool failed) {
        return EndQuietFrame(c) && CheckPresenceWhenDue(failed);
    };
    if (Terminated()) return quiet(false);

    // On while the driver looks, even when it finds nothing, and while the
    // chunk is delivered.
    c.SetReceiving(true);
    struct ReceivingDone {
        TComThread* self;
        ~ReceivingDone() {
            if (TTarnSerialPortPrivate* owner = self->owner()) owner->SetReceiving(false);
        }
    } done{this};

    using TReader = TTarnSerialPortPrivate::TReader;
    std::uint32_t got = 0;
    bool read = false;
    {
        const std::unique_lock<std::mutex> input = c.TakeInput();
        read = TakeWaiting(c, handle, got);
        // The books first, in the same hold of the input, so that a handler
        // finds the chunk as LastReadBuffer.
        got = std::min<std::uint32_t>(got, static_cast<std::uint32_t>(room_.size()));
        if (read && got > 0) {
            c.KeepReadBooks(std::string_view(room_.data(), got), TReader::ReceiveThread);
        }
    }
    // A failed read counts as a failed query: the presence check follows.
    if (!read || got == 0) return quiet(!read);
    const std::string_view bytes(room_.data(), got);
    std::string chunk(bytes);
    if (bytes.size() >= roomWanted_) roomWanted_ = std::min(roomWanted_ * 2, kLargestRoom);
    chunkWasLarge_ = bytes.size() * 2 >= kFirstRoom;
    end = TCycleEnd::Delivered;

    // Where the chunk goes after the books, in this order: OnReceive,
    // which is handed the chunk itself; the log, from the room that still
    // holds the bytes, so that a log that cannot be written does not cost
    // the handler its bytes; and last OnFrame for the frames that the
    // chunk completed, which a failing OnReceive or log does not cost their
    // events. An exception of the handler or of the log passes to the
    // cycle.
    tarn::serialport::TFoundFrames& frames = chunkFrames_;
    frames.found.clear();
    if (FollowFraming(c)) frames_.Take(bytes, Clock::now(), frames);
    try {
        // After a false Raise the component may be gone: no look at it.
        if (!Raise([&chunk](TTarnSerialPortPrivate& owner) {
                owner.DeliverReceive(std::move(chunk));
            })) {
            return false;
        }
        c.LogRead(bytes, TReader::ReceiveThread);
    } catch (...) {
        RaiseFrames(frames);
        throw;
    }
    return RaiseFrames(frames);
}

bool TComThread::FollowFraming(const TTarnSerialPortPrivate& c) {
    return frames_.Follow(c.FramingGeneration(), [&c] { return c.FramingNow(); });
}

bool TComThread::RaiseFrames(tarn::serialport::TFoundFrames& frames) {
    if (frames.found.empty()) return true;
    const bool alive =
        Raise([&frames](TTarnSerialPortPrivate& owner) { owner.DeliverFrames(frames.found); });
    // The room stays for the next chunk; frames no handler took go.
    frames.found.clear();
    return alive;
}

bool TComThread::EndQuietFrame(const TTarnSerialPortPrivate& c) {
    tarn::serialport::TFoundFrames frames;
    if (FollowFraming(c)) frames_.Quiet(Clock::now(), frames);
    return RaiseFrames(frames);
}

void TComThread::Execute() {
    receiveThreadId_ = tarn::host::detail::CurrentOsThreadId();
    bool lastWaitFailed = false;
    // Joined before the first cycle where the mode asks for it at the
    // start, so that from the first wait on only a wake of the watch (or
    // of the driver) leads to a presence check.
    if (TTarnSerialPortPrivate* c = owner()) PresenceWatched(c->ReceiveSettings());
    while (!Terminated() && ComDevice != drv::INVALID_HANDLE_VALUE) {
        if (owner() == nullptr) break;

        cycleStart_ = Clock::now();
        // Before anything that a wake tells the thread to look at again: a
        // setting changed or a wake of the watch after this ends the wait
        // at the cycle's end, whichever wait of a read took it meanwhile.
        wakesSeen_ = drv::CommWakesAsked(ComDevice);
        try {
            if (!LookAtLines()) break;
        } catch (...) {
            // A failing line-status handler does not stop reception.
            if (owner() == nullptr) break;
        }
        if (Terminated() || ComDevice == drv::INVALID_HANDLE_VALUE) break;

        TCycleEnd end = TCycleEnd::Idle;
        try {
            if (!PollOnce(end)) break;
        } catch (...) {
            // A handler, the log or the chunk handling failed: the cycle
            // ends with a presence check. An exception from that check (a
            // second failing OnFault, an unreadable port list) ends the
            // loop; the teardown still runs.
            if (owner() == nullptr) break;
            try {
                if (!CheckPresence()) break;
            } catch (...) {
                break;
            }
        }
        previousEnd_ = end;
        WaitForNextCycle(end, lastWaitFailed);
    }
    // Left on this thread, which joined it, while the handle is still held.
    listWatch_.reset();
    TearDown();
}

void TComThread::EndConnection() {
    if (!disconnectReported_.exchange(true)) {
        try {
            RaiseConnectionEvent(TConnectionEvent::Disconnect);
        } catch (...) {
            // The port is closed all the same; nobody is left to tell.
        }
    }
    const drv::HANDLE handle = ComDevice.exchange(drv::INVALID_HANDLE_VALUE);
    if (handle != drv::INVALID_HANDLE_VALUE) {
        if (TTarnSerialPortPrivate* c = owner()) c->ForgetPortHandle(handle);
        drv::PurgeComm(handle, drv::PURGE_TXABORT | drv::PURGE_RXABORT | drv::PURGE_TXCLEAR |
                                   drv::PURGE_RXCLEAR);
        drv::CloseHandle(handle);
    }
}

void TComThread::TearDown() {
    EndConnection();
    TTarnSerialPortPrivate* c = owner();
    if (c == nullptr) return;
    c->ThreadEnded(this);
}
