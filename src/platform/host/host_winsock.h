// Winsock as the Windows sources of this project include it. Include it
// after host_system_error.h, whose codes the system headers define again as
// macros.
#pragma once

#include "host_windows.h"
// After <windows.h> as host_windows.h sets it up (lean, which leaves out the
// old <winsock.h>, and without the min and max macros).
#include <winsock2.h>
#include <ws2tcpip.h>
