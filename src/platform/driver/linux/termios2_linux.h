// Terminal settings with the line rate as a plain number of bits per second.
//
// The C library's termios can only express the rates that have a Bnnn
// constant; the kernel's termios2 (ioctl TCGETS2/TCSETS2) takes any rate.
// The kernel header that declares termios2 clashes with <termios.h>, so it is
// confined to termios2_linux.cpp and this header carries plain copies of the
// fields. The flag words and the control-character indices are those of
// <termios.h>: on Linux the C library passes them to the kernel unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn::driver {

// The kernel's count of control characters (smaller than the C library's).
inline constexpr std::size_t kKernelControlChars = 19;

struct LineTermios {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;  // without the rate bits (CBAUD, CIBAUD)
    std::uint32_t lflag = 0;
    std::uint8_t cc[kKernelControlChars] = {};
    std::uint32_t rate = 0;  // bits per second, for input and output alike
};

// Both go through SystemCalls() and make a request again that a signal
// interrupted.

// Reads the settings of the terminal `fd`. Returns 0, or -1 with errno set.
int ReadLineTermios(int fd, LineTermios& settings);

// Applies `settings` at once (like TCSANOW), the rate as an arbitrary number.
// Returns 0, or -1 with errno set. The driver may round the rate; read the
// settings back to learn what it chose.
int WriteLineTermios(int fd, const LineTermios& settings);

}  // namespace tarn::driver
