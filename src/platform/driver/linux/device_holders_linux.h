// Who else has a device open: the processes whose descriptors, as /proc
// shows them, refer to the same character device. The open uses it to tell
// a terminal's exclusive flag that a live process holds from one that a
// process left behind when it ended.
#pragma once

#include <sys/types.h>

namespace tarn::driver {

// Whether a descriptor in /proc other than this process's `ownFd` is open
// on the character device `device`. Only what the caller may see counts:
// processes whose descriptors it may not read (some system services, or
// other users' for anyone but the superuser) and those of other process-id
// namespaces (other containers) are not looked at. Any thread.
bool IsDeviceHeldElsewhere(dev_t device, int ownFd);

}  // namespace tarn::driver
