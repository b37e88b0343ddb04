// Reads a recording (recording_event.h) back into its events, strictly: a
// file that is not a recording, is cut short or holds one bad line is
// refused as a whole, with one message that names the line, so that a
// replay never runs on half of what was recorded. Pure; safe on any thread
// as long as each reader is used by one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording_event.h"

namespace tarn::driver::recording {

struct Recording {
    std::string port;  // the header's "port"; empty when it has none
    std::vector<Event> events;
};

// Line by line: the header first, then one event a line, each without its
// line break. After the first failure every later line fails with the same
// error.
class RecordingReader {
public:
    // False with Error() set when the line is bad. `event` is set for an
    // event line, left empty for the header.
    bool TakeLine(std::string_view line, std::optional<Event>& event);
    // Whether the header has been read.
    bool HasHeader() const { return lines_ > 0 && error_.empty(); }
    // How many lines it has taken.
    std::uint64_t Lines() const { return lines_; }
    const std::string& Port() const { return port_; }
    // "line N: what is wrong", or empty.
    const std::string& Error() const { return error_; }

private:
    bool Fail(const std::string& what);
    bool TakeHeader(std::string_view line);

    std::uint64_t lines_ = 0;
    std::uint64_t lastTime_ = 0;
    std::string port_;
    std::string error_;
};

// The whole text of a file. A last line without its line break counts when
// it parses, and makes the file truncated when it does not. Empty with
// `error` set on failure.
std::optional<Recording> ParseRecording(std::string_view text, std::string& error);

// ParseRecording of the file at `path`; a file that cannot be read gives
// "cannot read PATH".
std::optional<Recording> ReadRecordingFile(const std::string& path, std::string& error);

}  // namespace tarn::driver::recording
