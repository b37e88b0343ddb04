// The device control block that a port has before anyone sets one, and the
// blocks that every driver refuses, so that the backends that keep a block
// of their own (virtual and remote ports) start and refuse alike.
#pragma once

#include "comm_types.h"

namespace tarn::driver {

// What a UART's driver starts with: 9600 bit/s, 8 data bits, no parity, one
// stop bit, binary, no flow control, DTR and RTS off.
DCB DefaultDcb();

// False for a block that no driver takes: a wrong DCBlength, fewer than 5
// or more than 8 data bits, or a parity or stop-bit code outside the API's.
// A driver refuses such a block with ERROR_INVALID_PARAMETER.
bool IsWellFormedDcb(const DCB& dcb);

}  // namespace tarn::driver
