// Helpers for tests of the component: waiting for something while the
// main thread serves the queue of synchronized events, and a component
// opened on a virtual port.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Tarnserialport.h"
#include "host_synchronize.h"

namespace tarn::test {

// Generous: the machine is shared and a sanitizer may slow everything down.
inline constexpr std::chrono::seconds kEventLimit{30};

// Serves the main thread's queue until `done()` holds or the limit passes.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = kEventLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        tarn::host::CheckSynchronize(5);
    }
    return true;
}

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
