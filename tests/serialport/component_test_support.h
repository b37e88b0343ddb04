// Helpers for tests of the component: waiting for something while the
// main thread serves the queue of synchronized events (wait_until.h), and a
// component opened on a virtual port.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Tarnserialport.h"
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

}  // namespace tarn::test
