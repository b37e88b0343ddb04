// Where a replay stands in its recording: which events have been played,
// what the application may read now, the modem lines and settings in force,
// and whether the device has gone. Pure and single-threaded: the device
// (replay_device.h) calls it under its own lock.
//
// The cursor plays the events in order and stops
//   - at a "tx" in a conversation, until the application has written its
//     bytes (compared as they come, by Write);
//   - at an "rx" in a timed replay until its time has come, and at speed=max
//     until what was received before it has been read;
//   - at a "modem", a "gone" or the end while received bytes wait unread,
//     since the application had read them when those happened;
//   - at any event of a timed replay whose time has not come.
// "settings" are taken as the cursor passes them; "escape" and "purge" are
// what the application did and are passed over.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording_event.h"
#include "replay_options.h"

namespace tarn::driver::recording {

class ReplayTimeline {
public:
    using Clock = std::chrono::steady_clock;

    ReplayTimeline(std::vector<Event> events, const ReplayOptions& options,
                   Clock::time_point start);

    // Plays every event that may be played at `now`.
    void Advance(Clock::time_point now);
    // When the next event falls due by the clock alone; none when the
    // replay waits for the application, or has ended.
    std::optional<Clock::time_point> NextDue() const;

    // The bytes that may be read now; reads take them from the front.
    std::string& Input() { return input_; }
    ModemLines Modem() const { return modem_; }
    // The recorded settings in force; none before the first "settings".
    const std::optional<LineSettings>& Settings() const { return settings_; }
    // Whether a block of `asked` settings may be set now: it equals one of
    // the "settings" recorded between the last "tx" played and the next
    // one (an application sets its line in several steps, which the cursor
    // may pass at once), or, when none is recorded there, the settings in
    // force. Before the first "settings" anything goes. False with
    // `expected` set to the recorded settings it differs from.
    bool SettingsAllowed(const LineSettings& asked, LineSettings& expected) const;
    // The device went away: the recorded error, or the removal at the end.
    std::optional<std::uint32_t> GoneError() const { return goneError_; }
    // Bumped whenever the modem lines change.
    unsigned ModemChanges() const { return modemChanges_; }

    // In a conversation: compares `bytes` with what the recording sent next
    // and passes them. False with `mismatch` saying where and what differs
    // (the line of the file, both byte strings escaped). A timed replay
    // takes every write. `taken` counts the bytes passed, also of a write
    // whose tail differs.
    bool Write(std::string_view bytes, Clock::time_point now, std::string& mismatch,
               std::size_t& taken);

private:
    // Plays the event at the cursor; false when it must wait.
    bool PlayNext(Clock::time_point now);
    std::optional<Clock::time_point> DueTime(const Event& event) const;

    const std::vector<Event> events_;
    const ReplayOptions options_;
    const Clock::time_point start_;
    std::size_t next_ = 0;         // the cursor: the first event not played
    std::size_t sentMatched_ = 0;  // bytes of the "tx" at the cursor written so far
    std::string input_;
    ModemLines modem_;
    unsigned modemChanges_ = 0;
    std::optional<LineSettings> settings_;
    std::optional<std::uint32_t> goneError_;
};

// `bytes` in C escapes and quotes, for messages.
std::string EscapedBytes(std::string_view bytes);

}  // namespace tarn::driver::recording
