// The driver contract over the termios backend, on pseudo-terminals. They
// answer as the contract's defaults say: a pulled adapter's calls all fail
// with ERROR_BAD_COMMAND, and a pseudo-terminal has no modem lines and is
// always eight bits wide without parity.
#include "platform/driver/driver_contract.h"

namespace tarn::driver::contract {
namespace {

const DriverBackend kTerminal{"Terminal", &MakeTerminalPort};

TARN_DRIVER_CONTRACT_BACKEND(kTerminal);

}  // namespace
}  // namespace tarn::driver::contract
