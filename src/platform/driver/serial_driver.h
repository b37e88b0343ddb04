// The serial driver seam: the only way the component reaches a port.
//
// The shapes are those of the Win32 communications API (a pointer-sized
// handle whose invalid value has all bits set, the 28-byte device control
// block, COMMTIMEOUTS, COMSTAT, the escape and purge codes, a per-thread
// last-error code). Behind the seam stand the backends: virtual ports and
// ports on other machines (remote/, names "rfc2217://HOST:PORT" and
// "socket://HOST:PORT") and recorded sessions replayed (recording/,
// "replay://FILE") in every build, and the operating system's ports,
// reached through kernel32 on Windows and through termios elsewhere. Which
// OS backend is present is decided by the build; whether a name is virtual
// or remote is decided at open time.
//
// Every function here may be called from any thread. A handle stays usable by
// a call that is already running on it even while another thread closes it:
// the device is released when the last call using it has returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "comm_types.h"
#include "device_path.h"
#include "host_system_error.h"

namespace tarn::driver {

// The last error is the host's; every call here reports its failures
// through it.
using tarn::host::GetLastError;
using tarn::host::SetLastError;
using tarn::host::SystemErrorText;

// CreateFileA as the component calls it: GENERIC_READ | GENERIC_WRITE, no
// sharing, OPEN_EXISTING, no overlapped I/O. `path` is the port's device
// path (DevicePath). Returns INVALID_HANDLE_VALUE and sets the last error on
// failure.
HANDLE CreateFileA(const std::string& path);
bool CloseHandle(HANDLE handle);

bool SetupComm(HANDLE handle, std::uint32_t inQueue, std::uint32_t outQueue);
bool SetCommState(HANDLE handle, const DCB& dcb);
bool GetCommState(HANDLE handle, DCB& dcb);
bool SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS& timeouts);
bool GetCommTimeouts(HANDLE handle, COMMTIMEOUTS& timeouts);
bool ClearCommError(HANDLE handle, std::uint32_t* errors, COMSTAT* stat);
bool ReadFile(HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* read);
bool WriteFile(HANDLE handle, const void* buffer, std::uint32_t count, std::uint32_t* written);
bool PurgeComm(HANDLE handle, std::uint32_t flags);
bool EscapeCommFunction(HANDLE handle, std::uint32_t function);
bool GetCommModemStatus(HANDLE handle, std::uint32_t* status);

// Not a Win32 function: how many bytes wait in the input queue, as
// ClearCommError counts them; like it, the query clears the port's error
// state, whose errors are dropped here. None when the query failed, with the
// last error set.
std::optional<std::uint32_t> InputWaiting(HANDLE handle);

// Not a Win32 function: waits at most `milliseconds` for the input queue to
// hold a byte, without taking it, so that a caller waiting for data sleeps
// until it comes instead of looking at the queue again and again. It may
// return early (a closed handle, a purge, a signal); the caller looks at the
// queue itself. Returns false and sets the last error when the device has
// failed or gone.
bool WaitCommInput(HANDLE handle, std::uint32_t milliseconds);
// The same wait, which ends at once, too, on a wake asked for since
// CommWakesAsked gave `wakesSeen`.
bool WaitCommInput(HANDLE handle, std::uint32_t milliseconds, std::uint64_t wakesSeen);

// Not a Win32 function: copies up to `count` bytes from the front of the
// input queue into `buffer` without taking them, so that a reader can find
// where what it wants ends before it reads; the next ReadFile takes these
// bytes first. It does not wait for input, and may copy fewer bytes than the
// queue holds. Returns false and sets the last error on failure.
bool PeekInput(HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* peeked);
// Not a Win32 function: where a read up to an end stops. Find is given
// bytes from the front of the input queue (not always all it holds) and
// answers how many of them the read takes: up to and including the end it
// finds, or all of them when none ends there. It runs inside the driver,
// with the port's input held: it must not call the driver.
class InputEnd {
public:
    virtual std::size_t Find(const char* bytes, std::size_t size) = 0;

protected:
    ~InputEnd() = default;
};

// Not a Win32 function: takes, at once and without waiting, at most
// `count` bytes from the front of the input queue, stopping where `end`
// says, and leaves the rest queued for the next read: a peek, a look for
// the end and a read in one call, so that a line costs one call, not
// three. `read` is 0 when nothing waits. Returns false and sets the last
// error on failure, with `read` holding what was taken.
bool ReadInputUntil(HANDLE handle, void* buffer, std::uint32_t count, InputEnd& end,
                    std::uint32_t* read);
// Not a Win32 function: waits at most `milliseconds` until everything
// written has left the output queue and the line, as FlushFileBuffers does
// without a limit. True once it has. False with ERROR_SEM_TIMEOUT when the
// time ran out first, and with the call's error when the device failed or
// went, or the handle was closed meanwhile.
bool DrainCommOutput(HANDLE handle, std::uint32_t milliseconds);
// Not a Win32 function: what ends a WaitCommInput on the handle as soon as
// it happens, as COMMWAIT_ bits. A driver without COMMWAIT_INPUT looks at
// its queue every few milliseconds while it waits; a change that is not
// among the bits is seen only when the wait ends. 0 for an invalid handle,
// with the last error set.
inline constexpr std::uint32_t COMMWAIT_INPUT = 0x0001;    // a byte arrives
inline constexpr std::uint32_t COMMWAIT_LINES = 0x0002;    // a modem line changes
inline constexpr std::uint32_t COMMWAIT_REMOVAL = 0x0004;  // the device goes away
std::uint32_t GetCommWaitWakes(HANDLE handle);
// Not a Win32 function: ends the waits of WaitCommInput that run on the
// handle now, and makes every later one return at once, for an owner that
// is about to stop using the handle and wants its waiting threads to notice
// now rather than at their time-out. Every other call on the handle works
// as before. Returns false and sets the last error for an invalid handle.
bool CancelCommWaits(HANDLE handle);
// Not a Win32 function: ends early every WaitCommInput on the handle that
// runs now, and every later one given a count of wakes from before this
// call, for a thread that tells a waiting one to look again, at something
// that no wait ends on (the port list). Unlike CancelCommWaits it leaves
// other later waits as they were. Every waiter ends, so that a wake meant
// for one thread is not used up by another that waits on the same handle.
// Returns false and sets the last error for an invalid handle.
bool WakeCommWaits(HANDLE handle);
// Not a Win32 function: the count of the wakes asked of the handle's waits
// so far, 0 for an invalid handle. A thread that takes it before it looks
// at what a wake would tell it to look at again, and gives it to its next
// wait, misses no wake that comes in between.
std::uint64_t CommWakesAsked(HANDLE handle);

// Not a Win32 function: records the session of the port behind `handle`
// into the file `path` (created, or emptied when it exists), in the format
// of recording/recording_event.h, with `port` as the name in its header:
// from now on every call on the handle is handed to the port's device and
// what it did to the line is written down as it happens. A handle that is
// recorded already moves to the new file. Returns false and sets the last
// error for an invalid handle, for a file that cannot be created (see
// recording/recording_writer.h), and for one that another port's session
// records (recording/record_file_claims.h), and the recording, if any,
// goes on as it was. Closing the handle ends the recording. A recording that starts on a
// port in use begins with the settings that the port has (`Now`); one that
// starts with the opening records those that the opener hands over.
enum class RecordingFrom { Opening, Now };
bool StartRecording(HANDLE handle, const std::string& path, const std::string& port,
                    RecordingFrom from);
// Not a Win32 function: ends the recording of `handle`, if any, and closes
// its file; the handle goes on working. Returns false and sets the last
// error for an invalid handle.
bool StopRecording(HANDLE handle);
// Not a Win32 function: whether the session of `handle` is being
// recorded, which ends with StopRecording, with the handle, and with a
// write of the file that failed (a full disk). False for a handle that is
// not recorded or not open.
bool IsRecording(HANDLE handle);
// Not a Win32 function: the caller found by other means that the device
// behind `handle` has gone (its name left the port list, while calls on it
// still succeed, as on a terminal whose link went); a recording of the
// handle notes the removal as if a call had failed with
// kDeviceGoneError. Nothing happens for a handle that is not recorded.
void NoteDeviceGone(HANDLE handle);

}  // namespace tarn::driver
