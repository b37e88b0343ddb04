// Writes a recording (recording_event.h): the header line, then one line
// per event, each handed to the system as soon as it is written, so that a
// program that dies leaves a file that reads up to its last event.
#pragma once

#include <cstdint>
#include <string>

#include "host_textfile.h"
#include "recording_event.h"

namespace tarn::driver::recording {

// `bytes` as the JSON string of "data", quotes included: printable ASCII
// as itself, \r \n \t \" \\ by name, every other byte as \u00XX. Pure.
std::string EncodedBytes(const std::string& bytes);
// The header line and an event's line, without the line end. Pure.
std::string HeaderLine(const std::string& port);
std::string EventLine(const Event& event);

// One recording file. Not thread-safe: its owner makes one call at a time.
class RecordingWriter {
public:
    // Creates `path`, or empties it when it exists, and writes the header
    // naming `port`. False with the last error set when the file cannot be
    // created or written: ERROR_INVALID_NAME for an empty name or one with
    // a NUL, ERROR_ACCESS_DENIED for any other (a missing folder, no right
    // to write there, a name that is not a regular file).
    bool Open(const std::string& path, const std::string& port);
    // One event, as one line in one write, flushed. False when the file is
    // not open or the write failed; a failed write closes the file, cut
    // back to the events before it, so that a full disk costs one failure,
    // not one per event, and leaves a file that reads to its last event.
    bool Write(const Event& event);
    // Closes the file; later writes fail. Does nothing when none is open.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

private:
    bool WriteLine(std::string line);

    tarn::host::TextFile file_;
    // The bytes of the whole lines in the file.
    std::uint64_t written_ = 0;
};

}  // namespace tarn::driver::recording
