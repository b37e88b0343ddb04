// The name of a replayed port: "replay://PATH[?OPTIONS]", OPTIONS being
// NAME=VALUE pairs joined by '&':
//   mode=conversation  (the default) what was received becomes readable once
//                      the application has sent what was sent before it;
//   mode=timed         it becomes readable at its recorded time after the
//                      opening; writes are taken and not compared;
//   speed=N            timed only: N times as fast (N > 0, e.g. 10 or 0.5);
//   speed=max          timed only: no waiting, each received stretch as soon
//                      as the one before has been read;
//   end=quiet          (the default) the port stays open and silent after the
//                      last event;
//   end=remove         the port goes away once everything was read.
// The scheme is read in any letter case, the rest as it stands.
#pragma once

#include <optional>
#include <string>

namespace tarn::driver::recording {

enum class ReplayMode { Conversation, Timed };

struct ReplayOptions {
    std::string path;  // the recording's file
    ReplayMode mode = ReplayMode::Conversation;
    double speed = 1.0;  // timed: how many times as fast; 0 for speed=max
    bool removeAtEnd = false;
};

// True when `name` begins with the scheme "replay://".
bool IsReplayName(const std::string& name);

// The options that `name` spells; empty for a bad one (no path, an unknown
// option or value, an option given twice, speed without mode=timed), with
// `why` saying which option is wrong and how.
std::optional<ReplayOptions> ParseReplayName(const std::string& name, std::string& why);

}  // namespace tarn::driver::recording
