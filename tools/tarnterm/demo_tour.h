// The short scripted session that --demo runs when no one can type: the
// same terminal, driven by keys of its own, through every part of the
// component the interactive demo shows.
#pragma once

#include <chrono>

#include "Tarnserialport.h"
#include "demo_instrument.h"
#include "terminal.h"

namespace tarnterm {

// How long one step of the tour may take before it counts as failed.
inline constexpr std::chrono::seconds kTourStepLimit{30};

// What the tour is, and the ports present; shown before it connects.
void ShowTourIntro(Terminal& terminal, TTarnSerialPort& port);

// Runs the tour on a terminal that is connected to `demo` and closes the
// port at its end; returns the exit status. Main thread only.
int RunDemoTour(Terminal& terminal, DemoInstrument& demo);

}  // namespace tarnterm
