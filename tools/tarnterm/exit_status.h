// Exit statuses of tarnterm. Scripts tell the outcomes apart by them, so the
// numbers are fixed; the README lists them.
#pragma once

namespace tarnterm {

enum ExitStatus : int {
    kExitOk = 0,
    // The connection failed while the program ran: the port went away, or a
    // write did not go through.
    kExitFailure = 1,
    // The command line or a setting is invalid.
    kExitUsage = 2,
    // --expect or --read-line saw nothing matching within --timeout.
    kExitTimeout = 3,
    kExitNoSuchPort = 4,
    // Another program holds the port, or the user may not open it.
    kExitPortBusy = 5,
    kExitNotSerial = 6,
    // The port exists but could not be opened for another reason, such as
    // line settings that the device refuses.
    kExitOpenFailed = 7,
    // Everything was written, but the last bytes did not leave the port in
    // the time their line time allows: flow control or the device holds
    // them.
    kExitNotDrained = 8,
    // --replay-check: the recording cannot be read, or does not replay as
    // it was recorded.
    kExitReplayInconsistent = 9,
};

// A stop signal N (hang-up, termination) ended the program, after it had
// put the console back: the process ends by the signal itself, or where it
// cannot, with this plus N, as a shell reports such an end.
constexpr int kExitSignalBase = 128;

}  // namespace tarnterm
