// The files that this process's recordings write. Two sessions written
// into one file would interleave into a recording that replays neither, so
// a file belongs to one port's session at a time, until the recording
// ends: with its handle, by a failed write, or by a new recording of the
// same port, which takes the file over.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tarn::driver::recording {

class RecordingDevice;

// Runs `open`, which creates or empties the file at `path` for
// `recording`, the session of the port named `port`, and returns what it
// returned; but when the session of another port writes that file,
// returns false without running it, with the last error saying so in
// words. An earlier recording of the same port into the file is stopped
// first, so that none of its writes lands in the emptied file. Claims
// are made one at a time, so two sessions that start at once cannot both
// take a file. Any thread.
bool ClaimRecordFile(const std::string& path, const std::string& port,
                     const std::shared_ptr<RecordingDevice>& recording,
                     const std::function<bool()>& open);

}  // namespace tarn::driver::recording
