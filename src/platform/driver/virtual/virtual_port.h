// Virtual serial ports: ports that exist only inside this process, for tests
// and demonstrations. Code creates a port under a name (say "VCOM7"); the
// driver layer then opens "\\.\VCOM7" like any other port, the port shows in
// the list of present ports while it exists, and a virtual name takes
// precedence over a device of the system with the same name.
//
// This class is the other end of the line: it reads what the driver side
// wrote, injects bytes for it to read, sets the modem status lines, makes
// faults happen on purpose and records every setting applied. All members may
// be called from any thread.
//
// This header is installed with the package, so that an application's own
// tests and demonstrations can make ports too; it needs only comm_types.h
// and host_system_error.h beside it.
//
// A virtual port also describes itself in the port details (port_details.h):
// kind "virtual", path "\\.\NAME", and what VirtualPortDetails gives.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comm_types.h"

namespace tarn::driver {

struct VirtualPortState;

// What a virtual port tells of itself in the port details, so that a
// program's matching by USB ids or serial number can be tried without
// hardware. A port with USB ids is still of the kind "virtual"; its ids and
// strings are reported as a USB device's would be. Empty fields are not
// known; an empty description becomes "Virtual port NAME".
struct VirtualPortDetails {
    std::string description;
    std::string vendorId;   // one to four hexadecimal digits, any letter case
    std::string productId;  // reported as four lower-case digits
    std::string serialNumber;
    std::string manufacturer;
    std::string product;
};

// What the driver side wrote in one opening of a virtual port.
struct VirtualWrites {
    std::string bytes;
    int opening = 0;  // the OpenCount() that the opening made
};

class VirtualPort {
public:
    // Creates the port. Throws std::invalid_argument when the name is blank,
    // contains a path separator, or a virtual port of that name (in any
    // letter case) exists already, or when an id of `details` is not one to
    // four hexadecimal digits.
    explicit VirtualPort(const std::string& name, const VirtualPortDetails& details = {});
    // Removes the port if it is still present.
    ~VirtualPort();
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    const std::string& Name() const;
    // As given to the constructor, with the ids in four lower-case digits.
    const VirtualPortDetails& Details() const;

    // Names of the virtual ports present, in the order they were created.
    static std::vector<std::string> PresentNames();

    // True while a handle is open on the port.
    bool IsOpen() const;
    // How many times the port has been opened successfully.
    int OpenCount() const;
    // Waits until IsOpen() equals `open`; false on time-out.
    bool WaitOpen(bool open, std::chrono::milliseconds timeout) const;

    // --- Data -------------------------------------------------------------
    // Appends bytes to the input queue that the driver side reads, as far as
    // the queue has room: the bytes waiting unread are at most the input
    // size of the opening's SetupComm (kDefaultInputQueue until it calls
    // SetupComm; bytes already waiting are kept when it shrinks). The rest
    // is lost, and the next ClearCommError reports CE_RXOVER, as a driver
    // does when its input buffer is full. Returns how many bytes it took,
    // which callers that inject less than a queue may ignore.
    std::size_t Inject(const std::string& bytes);
    // As Inject, but for a device that keeps what does not fit until there
    // is room (WaitInputRoom), so nothing is lost and no overrun is told;
    // and only while the port is open in the opening numbered `opening`
    // (the OpenCount() that the opening made). It takes nothing otherwise,
    // as a device's answer to a connection that has gone reaches no one.
    std::size_t InjectInto(int opening, const std::string& bytes);
    // While `bytes` is not empty, the input never runs dry, as from a device
    // that sends without a pause: whenever a read leaves fewer bytes than
    // `bytes` has, `bytes` follows. Empty stops it.
    void KeepSending(const std::string& bytes);
    std::size_t InputQueued() const;
    // Waits until the input queue has room for a byte; false on time-out.
    bool WaitInputRoom(std::chrono::milliseconds timeout) const;
    // Takes everything the driver side has written so far.
    std::string TakeWritten();
    // Waits until at least `count` bytes have been written (or the time-out
    // passes) and takes everything written so far.
    std::string WaitWritten(std::size_t count, std::chrono::milliseconds timeout);
    // Waits until bytes have been written (or the time-out passes) and takes
    // those of the earliest opening that has any left, so that a far end
    // that starts afresh at each opening, as a device that the opening's DTR
    // resets, never mixes the bytes of two. Empty, of opening 0, on time-out.
    VirtualWrites WaitWrittenByOneOpening(std::chrono::milliseconds timeout);

    // --- Lines ------------------------------------------------------------
    // The word that GetCommModemStatus reports (MS_CTS_ON, MS_DSR_ON, ...).
    void SetModemStatus(std::uint32_t status);
    // For handles opened from now on: an input wait ends at once when the
    // modem status changes too, and the driver says that nothing but a name
    // taken off the list escapes its waits, as on a Linux pseudo-terminal.
    void WakeWaitsOnLineChanges(bool wake);
    // Output lines as the driver side last set them, through the device
    // control block or EscapeCommFunction.
    bool Dtr() const;
    bool Rts() const;
    bool BreakOn() const;
    // Every EscapeCommFunction code received, in order.
    std::vector<std::uint32_t> Escapes() const;

    // --- Faults -------------------------------------------------------------
    // The next SetCommState fails with ERROR_INVALID_PARAMETER.
    void RefuseNextCommState();
    // The next WriteFile takes at most `accepted` bytes (0 takes none).
    void LimitNextWrite(std::uint32_t accepted);
    // The next ClearCommError fails with ERROR_GEN_FAILURE.
    void FailNextQueueQuery();
    // While held, WriteFile blocks until released, the port is removed, a
    // purge aborts it (PURGE_TXABORT) or the write time-outs run out. Its
    // bytes count as queued output meanwhile, which a drain waits for.
    void HoldWrites(bool hold);
    // While held, writes complete at once but their bytes stay in the
    // output queue, as behind a line that flow control stops: counted in
    // cbOutQue, waited for by a drain, not yet written for the far end,
    // and discarded by a purge of the transmit queue. Releasing puts them
    // on the line.
    void HoldOutput(bool hold);
    // Waits until `count` writes are held; false on time-out.
    bool WaitHeldWrites(int count, std::chrono::milliseconds timeout) const;
    // Opens fail with `error` (ERROR_SUCCESS lets them through again).
    void RefuseOpens(std::uint32_t error);

    // How many queue queries (ClearCommError) the driver side has made, dead
    // handles included; a poll loop makes one per cycle. Tests wait on it
    // to let a number of cycles pass without sleeping blindly.
    std::uint64_t QueueQueries() const;
    // Waits until QueueQueries() reaches `count`; false on time-out.
    bool WaitQueueQueries(std::uint64_t count, std::chrono::milliseconds timeout) const;

    // --- Records of what was applied -----------------------------------------
    std::vector<DCB> AppliedStates() const;
    std::vector<COMMTIMEOUTS> AppliedTimeouts() const;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> AppliedQueueSizes() const;
    // Every PurgeComm flag word received, in order.
    std::vector<std::uint32_t> Purges() const;

    // --- Presence -----------------------------------------------------------
    // Takes the port away as a pulled USB adapter goes: it leaves the list of
    // present ports, and every call on an open handle fails with
    // kDeviceGoneError (ERROR_BAD_COMMAND) from now on.
    void Remove();
    // Puts a removed port back; handles opened before stay dead.
    void Plug();
    // Takes the port off the list of present ports while its open handles
    // keep working, as a system whose list lags behind its devices. Plug
    // lists it again.
    void Unlist();
    bool IsPresent() const;

private:
    std::shared_ptr<VirtualPortState> state_;
};

}  // namespace tarn::driver
