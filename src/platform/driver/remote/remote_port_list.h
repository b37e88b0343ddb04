// The remote ports of this process whose connection is alive, for the port
// list (port_registry.cpp): each is listed under the name it was opened
// with while its connection lasts, so that the component's presence check
// takes a dropped connection for a vanished device. Names are compared
// without regard to ASCII letter case. Any thread; each call takes the
// list's own lock.
#pragma once

#include <string>
#include <vector>

namespace tarn::driver::remote {

struct ListedRemotePort {
    unsigned number;  // unique in the process, never reused
    std::string name;
};

// Claims `name` for an opening, not yet listed: 0 when a port of that name
// is open or being opened already, as a port is opened without sharing.
unsigned ClaimRemotePort(const std::string& name);
// Lists a claimed port, once its connection is up.
void ListRemotePort(unsigned number);
// Takes a claimed or listed port off, if it is still on.
void UnlistRemotePort(unsigned number);

// The listed ports, in the order they were claimed.
std::vector<ListedRemotePort> ListedRemotePorts();

}  // namespace tarn::driver::remote
