// The line settings and modem lines as COM-PORT-OPTION carries them, both
// ways: the one place where the driver's codes (comm_types.h) meet the
// protocol's values (com_port_protocol.h), for the client (the remote
// device) and for a server alike. Pure; any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "com_port_protocol.h"
#include "comm_types.h"

namespace tarn::driver::remote {

// A parity code (NOPARITY ... SPACEPARITY) as SET-PARITY sends it; an
// unknown code as none.
WireParity ParityOnWire(std::uint8_t parity);
// SET-PARITY's value as a parity code; empty for Request and unknown values.
std::optional<std::uint8_t> ParityFromWire(std::uint32_t value);

// A stop-bits code (ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS) as SET-STOPSIZE
// sends it; an unknown code as one stop bit.
WireStopSize StopSizeOnWire(std::uint8_t stopBits);
// SET-STOPSIZE's value as a stop-bits code; empty for Request and unknown
// values.
std::optional<std::uint8_t> StopBitsFromWire(std::uint32_t value);

// The MS_ bits of GetCommModemStatus as NOTIFY-MODEMSTATE's line bits, and
// back; the change bits of a notification are not lines and are left out.
std::uint8_t ModemLinesOnWire(std::uint32_t status);
std::uint32_t ModemStatusFromWire(std::uint8_t lines);

}  // namespace tarn::driver::remote
