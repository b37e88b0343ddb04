// The conversions between the driver's codes and the protocol's values.
#include "com_port_values.h"

namespace tarn::driver::remote {

WireParity ParityOnWire(std::uint8_t parity) {
    switch (parity) {
        case ODDPARITY:
            return WireParity::Odd;
        case EVENPARITY:
            return WireParity::Even;
        case MARKPARITY:
            return WireParity::Mark;
        case SPACEPARITY:
            return WireParity::Space;
        default:
            return WireParity::None;
    }
}

std::optional<std::uint8_t> ParityFromWire(std::uint32_t value) {
    // The wire counts from None = 1 in the order of the codes.
    if (value < static_cast<std::uint32_t>(WireParity::None) ||
        value > static_cast<std::uint32_t>(WireParity::Space)) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value - 1);
}

WireStopSize StopSizeOnWire(std::uint8_t stopBits) {
    switch (stopBits) {
        case ONE5STOPBITS:
            return WireStopSize::OneAndHalf;
        case TWOSTOPBITS:
            return WireStopSize::Two;
        default:
            return WireStopSize::One;
    }
}

std::optional<std::uint8_t> StopBitsFromWire(std::uint32_t value) {
    switch (value) {
        case static_cast<std::uint32_t>(WireStopSize::One):
            return ONESTOPBIT;
        case static_cast<std::uint32_t>(WireStopSize::Two):
            return TWOSTOPBITS;
        case static_cast<std::uint32_t>(WireStopSize::OneAndHalf):
            return ONE5STOPBITS;
        default:
            return std::nullopt;
    }
}

std::uint8_t ModemLinesOnWire(std::uint32_t status) {
    std::uint8_t lines = 0;
    if (status & MS_CTS_ON) lines |= kModemCts;
    if (status & MS_DSR_ON) lines |= kModemDsr;
    if (status & MS_RING_ON) lines |= kModemRing;
    if (status & MS_RLSD_ON) lines |= kModemDcd;
    return lines;
}

std::uint32_t ModemStatusFromWire(std::uint8_t lines) {
    std::uint32_t status = 0;
    if (lines & kModemCts) status |= MS_CTS_ON;
    if (lines & kModemDsr) status |= MS_DSR_ON;
    if (lines & kModemRing) status |= MS_RING_ON;
    if (lines & kModemDcd) status |= MS_RLSD_ON;
    return status;
}

}  // namespace tarn::driver::remote
