// Whether a recording of a port session replays as it was recorded: its
// sent stretches are written, in order, to the port "replay://PATH" in a
// conversation, and what it received must come back, byte for byte; its
// settings must be ones a port takes, and a "gone" must end it. For tools
// (tarnterm --replay-check) and tests. Any thread.
#pragma once

#include <string>

namespace tarn::driver::recording {

// True when the recording at `path` replays as recorded, with `report`
// saying how much was checked; false with `report` saying what is wrong
// and at which line of the file.
bool CheckReplay(const std::string& path, std::string& report);

}  // namespace tarn::driver::recording
