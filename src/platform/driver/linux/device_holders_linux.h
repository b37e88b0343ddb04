// Who else has a device open: the processes whose descriptors, as /proc
// shows them, refer to the same character device. The open uses it to tell
// a terminal's exclusive flag that a live process holds from one that a
// process left behind when it ended.
#pragma once

#include <sys/types.h>

namespace tarn::driver {

enum class DeviceHolders {
    kNone,     // no process but the caller's `ownFd` has the device open
    kSome,     // another descriptor, in this process or another, has it
    kUnknown,  // some process's descriptors could not be looked at
};

// Looks through the descriptors of every process in /proc for one on the
// character device `device`; the descriptor `ownFd` of this process is not
// counted. Only what the caller may see counts as known: a process whose
// descriptors it may not read makes the answer kUnknown. Processes of
// other process-id namespaces (other containers) are not in /proc and are
// not seen. Any thread.
DeviceHolders FindDeviceHolders(dev_t device, int ownFd);

}  // namespace tarn::driver
