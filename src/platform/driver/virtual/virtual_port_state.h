// What a virtual port is between its two ends: the VirtualPort that a test
// holds and the device that the driver opened on it. Both reach it through
// a shared pointer, so a device that outlives its VirtualPort still finds
// it; every field is guarded by `mutex`, and `changed` is notified whenever
// a field that someone may wait for changes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "serial_driver.h"
#include "virtual_port.h"

namespace tarn::driver {

struct VirtualPortState {
    VirtualPortState(std::string n, VirtualPortDetails d)
        : name(std::move(n)), details(std::move(d)) {}

    const std::string name;
    const VirtualPortDetails details;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    bool present = true;
    // Bumped by Remove: devices opened under an older generation are dead.
    unsigned generation = 0;
    bool open = false;
    int openCount = 0;
    std::uint32_t refuseOpenError = ERROR_SUCCESS;

    std::string input;  // bytes for the driver side to read
    // Set by the opening's SetupComm; bytes beyond it are lost, and the
    // overrun is told by the next ClearCommError.
    std::size_t inputLimit = kDefaultInputQueue;
    bool inputOverrun = false;
    std::string written;  // bytes the driver side wrote
    // The opening that wrote the first bytes of `written`, and where each
    // later opening's bytes begin, one place for each opening after it.
    int writtenOpening = 0;
    std::vector<std::size_t> writtenOpeningStarts;
    // KeepSending: what follows whenever a read leaves less than it.
    std::string endlessInput;
    std::uint32_t modemStatus = 0;
    bool wakeWaitsOnLines = false;
    bool dtr = false;
    bool rts = false;
    bool breakOn = false;
    bool xoffHeld = false;

    bool refuseNextCommState = false;
    bool limitNextWrite = false;
    std::uint32_t nextWriteLimit = 0;
    bool failNextQueueQuery = false;
    bool holdWrites = false;
    int heldWrites = 0;
    std::uint64_t heldWriteBytes = 0;
    // Bytes written while output is held: in the output queue, not yet on
    // the line, so neither taken by the far end nor drained.
    bool holdOutput = false;
    std::string lingering;
    // Bumped by PurgeComm with PURGE_TXABORT: held writes end as aborted.
    unsigned writeAborts = 0;
    std::uint64_t queueQueries = 0;

    DCB dcb{};
    COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, 0};
    std::vector<DCB> appliedStates;
    std::vector<COMMTIMEOUTS> appliedTimeouts;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> appliedQueueSizes;
    std::vector<std::uint32_t> escapes;
    std::vector<std::uint32_t> purges;
};

}  // namespace tarn::driver
