// tarnterm's frames: the reading of --frame, the component set up for it,
// and the forms in which frames and frame errors are shown, the same in the
// terminal and in scripts.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Tarnserialport.h"
#include "option_table.h"
#include "options.h"

namespace tarnterm {

// --frame KIND[:ARG]: delimiter[:TEXT] (escapes decoded as for --send),
// fixed:N, length:1|2be|2le|4be|4le, slip, cobs or silence[:MS]. Whether
// the settings go together (a fixed length within --max-frame) is the
// component's to say, when they are applied.
bool ReadFraming(Options& o, const Argument& arg);

// Sets the framing of `frame` on the component. Raises
// ETarnSerialPortException, with the component's words, for settings that
// do not go together. Main thread, before the port opens.
void ApplyFraming(TTarnSerialPort& port, const FrameSettings& frame);

// One frame as `mode` shows it, without a line end: as it is, with its
// control characters named by `nameControls` (the component's
// ReplaceControlChars), or as hexadecimal bytes separated by spaces. A
// frame is one line whatever it holds, so that a script can read it as one.
std::string FrameText(DisplayMode mode, const std::string& frame,
                      const std::function<std::string(const std::string&)>& nameControls);

// How many of the bytes that a frame error threw away its message shows.
constexpr std::size_t kFrameErrorBytesShown = 32;

// "frame error, bad COBS code: 05 41 00", with at most
// kFrameErrorBytesShown bytes, then "... (N bytes)".
std::string DescribeFrameError(TFrameErrorReason reason, const std::string& bytes);

}  // namespace tarnterm
