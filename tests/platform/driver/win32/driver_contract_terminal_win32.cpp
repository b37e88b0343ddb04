// The driver contract over the Windows backend under Wine: a COM port that
// Wine links to a pseudo-terminal, reached through kernel32. Where the
// system's driver answers for itself, the contract asks only what any
// driver of Windows promises.
#include "platform/driver/driver_contract.h"

namespace tarn::driver::contract {
namespace {

const DriverBackend kTerminal = [] {
    DriverBackend backend{"Terminal", &MakeTerminalPort};
    // Wine shares the terminal between handles, and takes any queue sizes,
    // time-outs and purge flags.
    backend.openTwiceError = 0;
    backend.refusesEmptyQueues = false;
    backend.refusesForbiddenTimeouts = false;
    backend.refusesUnknownPurgeFlags = false;
    // A read that returns with the first byte waits out its constant, and
    // a write that runs out of time leaves the last error as it was.
    backend.firstByteReturns = false;
    backend.writeTimeoutSetsSemTimeout = false;
    // A purge aborts no read or write that waits, and a removal ends no
    // waiting read. A pulled terminal still reads nothing and purges, and
    // fails the other calls with whatever error Wine makes of the
    // terminal's.
    backend.purgeAbortsWaitingReads = false;
    backend.purgeAbortsWaitingWrites = false;
    backend.removalEndsAWaitingRead = false;
    backend.removalFailsEveryCall = false;
    backend.removedError = 0;
    return backend;
}();

TARN_DRIVER_CONTRACT_BACKEND(kTerminal);

}  // namespace
}  // namespace tarn::driver::contract
