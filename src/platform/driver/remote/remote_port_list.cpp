#include "remote_port_list.h"

#include <algorithm>
#include <mutex>

#include "port_change_signal.h"

namespace tarn::driver::remote {
namespace {

struct Entry {
    ListedRemotePort port;
    bool listed = false;
};

struct PortList {
    std::mutex mutex;
    unsigned lastNumber = 0;
    std::vector<Entry> entries;
};

PortList& List() {
    // Never destroyed: a detached thread may still close a port while the
    // process exits.
    static PortList* list = new PortList;
    return *list;
}

bool SameNameAscii(const std::string& a, const std::string& b) {
    const auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return upper(x) == upper(y); });
}

}  // namespace

unsigned ClaimRemotePort(const std::string& name) {
    PortList& list = List();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (const Entry& entry : list.entries) {
        if (SameNameAscii(entry.port.name, name)) return 0;
    }
    list.entries.push_back(Entry{{++list.lastNumber, name}, false});
    return list.lastNumber;
}

void ListRemotePort(unsigned number) {
    PortList& list = List();
    {
        std::lock_guard<std::mutex> lock(list.mutex);
        auto it = std::find_if(list.entries.begin(), list.entries.end(),
                               [&](const Entry& e) { return e.port.number == number; });
        if (it == list.entries.end() || it->listed) return;
        it->listed = true;
    }
    NotifyPortListChanged();
}

void UnlistRemotePort(unsigned number) {
    PortList& list = List();
    bool wasListed = false;
    {
        std::lock_guard<std::mutex> lock(list.mutex);
        auto it = std::find_if(list.entries.begin(), list.entries.end(),
                               [&](const Entry& e) { return e.port.number == number; });
        if (it == list.entries.end()) return;
        wasListed = it->listed;
        list.entries.erase(it);
    }
    if (wasListed) NotifyPortListChanged();
}

std::vector<ListedRemotePort> ListedRemotePorts() {
    PortList& list = List();
    std::lock_guard<std::mutex> lock(list.mutex);
    std::vector<ListedRemotePort> ports;
    for (const Entry& entry : list.entries) {
        if (entry.listed) ports.push_back(entry.port);
    }
    return ports;
}

}  // namespace tarn::driver::remote
