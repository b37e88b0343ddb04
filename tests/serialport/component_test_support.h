// Helpers for tests of the component: waiting for something while the
// main thread serves the queue of synchronized events (wait_until.h), the
// receive modes, and the kinds of line that a port lives on (test_line.h).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "Tarnserialport.h"
#include "test_line.h"
#include "wait_until.h"

namespace tarn::test {

// Selects `name` on the component as a custom port (or its COMn identifier).
inline void SelectPort(TTarnSerialPort& port, const std::string& name) {
    port.SetCustomPortName(name);
    port.SetPort(spCustom);
}

// The two ways the receive thread waits between its cycles. Tests whose
// outcome must not depend on it take it as a parameter and run in both.
enum class ReceiveMode { Polling, WakeOnData };

inline const auto kReceiveModes = ::testing::Values(ReceiveMode::Polling, ReceiveMode::WakeOnData);

inline const char* ReceiveModeName(ReceiveMode mode) {
    return mode == ReceiveMode::Polling ? "Polling" : "WakeOnData";
}

inline void ApplyReceiveMode(TTarnSerialPort& port, ReceiveMode mode) {
    port.SetWakeOnData(mode == ReceiveMode::WakeOnData);
}

// Behaviour that must hold on a real terminal as well runs over both kinds
// of line.
inline const auto kLineKinds = ::testing::Values(LineKind::Virtual, LineKind::PseudoTerminal);

// For tests over both kinds of line and both receive modes.
using LineAndMode = std::tuple<LineKind, ReceiveMode>;

inline const auto kLinesAndModes = ::testing::Combine(kLineKinds, kReceiveModes);

inline std::string LineAndModeName(const ::testing::TestParamInfo<LineAndMode>& info) {
    return std::string(LineKindName(std::get<0>(info.param))) +
           ReceiveModeName(std::get<1>(info.param));
}

}  // namespace tarn::test
