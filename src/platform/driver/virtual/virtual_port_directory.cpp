#include "virtual_port_directory.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "port_change_signal.h"

namespace tarn::driver {

namespace {

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Never destroyed, so that a device released during process exit still
// finds it.
struct PortDirectory {
    std::mutex mutex;
    std::vector<std::shared_ptr<VirtualPortState>> ports;  // in listing order
};

PortDirectory& Directory() {
    static PortDirectory* directory = new PortDirectory;
    return *directory;
}

}  // namespace

std::shared_ptr<VirtualPortState> FindListedPort(const std::string& name) {
    const std::string key = UpperAscii(name);
    PortDirectory& dir = Directory();
    std::lock_guard<std::mutex> lock(dir.mutex);
    for (const auto& port : dir.ports) {
        if (UpperAscii(port->name) == key) return port;
    }
    return nullptr;
}

bool ListPort(const std::shared_ptr<VirtualPortState>& port) {
    const std::string key = UpperAscii(port->name);
    PortDirectory& dir = Directory();
    {
        std::lock_guard<std::mutex> lock(dir.mutex);
        if (std::find(dir.ports.begin(), dir.ports.end(), port) != dir.ports.end()) return false;
        for (const auto& other : dir.ports) {
            if (UpperAscii(other->name) == key) {
                throw std::invalid_argument("a virtual port named " + port->name +
                                            " exists already");
            }
        }
        dir.ports.push_back(port);
    }
    // After the list has changed, so that a watcher woken by it reads the
    // new list.
    NotifyPortListChanged();
    return true;
}

void UnlistPort(const std::shared_ptr<VirtualPortState>& port) {
    PortDirectory& dir = Directory();
    bool unlisted = false;
    {
        std::lock_guard<std::mutex> lock(dir.mutex);
        const auto end = std::remove(dir.ports.begin(), dir.ports.end(), port);
        unlisted = end != dir.ports.end();
        dir.ports.erase(end, dir.ports.end());
    }
    if (unlisted) NotifyPortListChanged();
}

std::vector<std::string> ListedPortNames() {
    PortDirectory& dir = Directory();
    std::lock_guard<std::mutex> lock(dir.mutex);
    std::vector<std::string> names;
    for (const auto& port : dir.ports) names.push_back(port->name);
    return names;
}

}  // namespace tarn::driver
