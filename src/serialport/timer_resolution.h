// The finer system timer that a short poll period asks for. The two
// functions of the multimedia timer library are bound on first use, so a
// program that never uses a short period never loads that library; where
// the library or a function is missing, the calls do nothing.
#pragma once

#include <cstdint>

namespace tarn::timer {

// Pass `period` (milliseconds) to timeBeginPeriod / timeEndPeriod. The
// result is always 0. Any thread.
std::uint32_t TimeBeginPeriod(std::uint32_t period);
std::uint32_t TimeEndPeriod(std::uint32_t period);

// How often each was called in this process, for tests.
std::uint32_t BeginCount();
std::uint32_t EndCount();

}  // namespace tarn::timer
