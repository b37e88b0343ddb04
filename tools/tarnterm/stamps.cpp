#include "stamps.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <utility>

namespace tarnterm {

LineStamper::LineStamper(StampKind kind, bool withDate, std::function<Clock::time_point()> now)
    : kind_(kind), withDate_(withDate), now_(std::move(now)) {}

std::string LineStamper::StampFor(Clock::time_point now) {
    char text[48];
    if (kind_ == StampKind::kDelta) {
        const double seconds = last_ ? std::chrono::duration<double>(now - *last_).count() : 0.0;
        std::snprintf(text, sizeof text, "[+%.3f] ", seconds);
    } else {
        std::time_t whole = Clock::to_time_t(now);
        auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - Clock::from_time_t(whole))
                .count();
        // A library may round to the nearer second instead of cutting.
        if (milliseconds < 0) {
            --whole;
            milliseconds += 1000;
        }
        const std::tm* local = std::localtime(&whole);
        char time[32] = "?";
        if (local != nullptr) {
            std::strftime(time, sizeof time, withDate_ ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", local);
        }
        std::snprintf(text, sizeof text, "[%s.%03d] ", time, static_cast<int>(milliseconds));
    }
    last_ = now;
    return text;
}

std::string LineStamper::Stamp(const std::string& text, bool& atLineStart) {
    if (kind_ == StampKind::kNone || text.empty()) return text;
    const Clock::time_point now = now_();
    std::string stamped;
    for (const char c : text) {
        if (atLineStart) stamped += StampFor(now);
        stamped += c;
        atLineStart = c == '\n';
    }
    return stamped;
}

StampedLog::StampedLog(const std::string& path, StampKind kind)
    : file_(std::filesystem::u8path(path), std::ios::app | std::ios::binary),
      stamper_(kind, true) {}

void StampedLog::Write(const std::string& bytes) {
    file_ << stamper_.Stamp(bytes, atLineStart_);
    file_.flush();
}

}  // namespace tarnterm
