// The driver contract over the Windows backend under Wine: a COM port that
// Wine links to a pseudo-terminal, reached through kernel32. Where the
// system's driver answers for itself, the contract asks only what any
// driver of Windows promises.
#include "platform/driver/driver_contract.h"

namespace tarn::driver::contract {
namespace {

const DriverBackend kTerminal = [] {
    DriverBackend backend{"Terminal", &MakeTerminalPort};
    // A pulled terminal fails its calls with whatever error Wine makes of
    // the terminal's.
    backend.removedError = 0;
    return backend;
}();

TARN_DRIVER_CONTRACT_BACKEND(kTerminal);

}  // namespace
}  // namespace tarn::driver::contract
