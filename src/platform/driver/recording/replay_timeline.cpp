#include "replay_timeline.h"

#include <algorithm>
#include <cstdio>

#include "comm_types.h"

namespace tarn::driver::recording {

namespace {

// Recorded times beyond this many microseconds (about 30 years) are never
// reached, which keeps the clock's arithmetic from overflowing.
constexpr double kFarestMicroseconds = 1e15;

}  // namespace

std::string EscapedBytes(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (code >= 32 && code < 127) {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", code);
            out += escape;
        }
    }
    return out + "\"";
}

ReplayTimeline::ReplayTimeline(std::vector<Event> events, const ReplayOptions& options,
                               Clock::time_point start)
    : events_(std::move(events)), options_(options), start_(start) {}

std::optional<ReplayTimeline::Clock::time_point> ReplayTimeline::DueTime(const Event& event) const {
    if (options_.mode != ReplayMode::Timed || options_.speed == 0) return start_;
    const double micro = static_cast<double>(event.t) / options_.speed;
    if (micro > kFarestMicroseconds) return std::nullopt;
    return start_ + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double, std::micro>(micro));
}

bool ReplayTimeline::PlayNext(Clock::time_point now) {
    const Event& event = events_[next_];
    const std::optional<Clock::time_point> due = DueTime(event);
    if (!due || *due > now) return false;
    const bool conversation = options_.mode == ReplayMode::Conversation;
    switch (event.kind) {
        case EventKind::Sent:
            if (conversation && sentMatched_ < event.data.size()) return false;
            sentMatched_ = 0;
            break;
        case EventKind::Received:
            if (!conversation && options_.speed == 0 && !input_.empty()) return false;
            input_ += event.data;
            break;
        case EventKind::Modem:
            if (!input_.empty()) return false;
            if (event.modem != modem_) ++modemChanges_;
            modem_ = event.modem;
            break;
        case EventKind::Gone:
            if (!input_.empty()) return false;
            goneError_ = event.error != 0 ? event.error : kDeviceGoneError;
            break;
        case EventKind::Settings:
            settings_ = event.settings;
            break;
        case EventKind::Escape:
        case EventKind::Purge:
            break;
    }
    ++next_;
    return true;
}

void ReplayTimeline::Advance(Clock::time_point now) {
    while (!goneError_ && next_ < events_.size() && PlayNext(now)) {
    }
    if (!goneError_ && next_ == events_.size() && input_.empty() && options_.removeAtEnd) {
        goneError_ = kDeviceGoneError;
    }
}

std::optional<ReplayTimeline::Clock::time_point> ReplayTimeline::NextDue() const {
    if (goneError_ || next_ == events_.size() || options_.mode != ReplayMode::Timed ||
        options_.speed == 0) {
        return std::nullopt;
    }
    return DueTime(events_[next_]);
}

bool ReplayTimeline::SettingsAllowed(const LineSettings& asked, LineSettings& expected) const {
    std::size_t first = next_;
    while (first > 0 && events_[first - 1].kind != EventKind::Sent) --first;
    bool recordedHere = false;
    for (std::size_t i = first; i < events_.size(); ++i) {
        const Event& e = events_[i];
        if (i >= next_ && e.kind == EventKind::Sent) break;
        if (e.kind != EventKind::Settings) continue;
        if (e.settings == asked) return true;
        recordedHere = true;
        expected = e.settings;
    }
    if (recordedHere) return false;
    if (!settings_ || *settings_ == asked) return true;
    expected = *settings_;
    return false;
}

bool ReplayTimeline::Write(std::string_view bytes, Clock::time_point now, std::string& mismatch,
                           std::size_t& taken) {
    taken = 0;
    if (options_.mode == ReplayMode::Timed) {
        taken = bytes.size();
        return true;
    }
    while (!bytes.empty()) {
        Advance(now);
        const bool atSent =
            !goneError_ && next_ < events_.size() && events_[next_].kind == EventKind::Sent;
        if (!atSent) {
            const std::string where = next_ < events_.size()
                                          ? "line " + std::to_string(events_[next_].line)
                                          : std::string("the end of the recording");
            mismatch = "replay of " + options_.path + ", at " + where + ": sent " +
                       EscapedBytes(bytes) + " where the recording sends nothing before " +
                       (next_ < events_.size() ? "its next event" : "its end") +
                       (input_.empty() ? "" : " (received bytes wait unread)");
            return false;
        }
        const Event& sent = events_[next_];
        const std::string_view expected = std::string_view(sent.data).substr(sentMatched_);
        const std::size_t n = std::min(expected.size(), bytes.size());
        if (bytes.substr(0, n) != expected.substr(0, n)) {
            // The byte named is the first that differs, counted in the
            // recorded stretch.
            std::size_t differs = 0;
            while (bytes[differs] == expected[differs]) ++differs;
            // Both strings from the start of the recorded stretch, so that
            // the byte named counts in both.
            const std::string got = sent.data.substr(0, sentMatched_) + std::string(bytes);
            mismatch = "replay of " + options_.path + ", line " + std::to_string(sent.line) +
                       ", byte " + std::to_string(sentMatched_ + differs + 1) +
                       " of the sent bytes: expected " + EscapedBytes(sent.data) + ", got " +
                       EscapedBytes(got);
            return false;
        }
        sentMatched_ += n;
        taken += n;
        bytes.remove_prefix(n);
    }
    Advance(now);
    return true;
}

}  // namespace tarn::driver::recording
