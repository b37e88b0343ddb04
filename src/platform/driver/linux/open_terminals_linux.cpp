#include "open_terminals_linux.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>

#include "port_change_signal.h"

namespace tarn::driver {
namespace {

struct Entry {
    int fd;
    OpenTerminal terminal;
};

// Both live until the process ends, so that a device released during static
// destruction still finds them.
std::mutex& TableMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

// REQUIRES: TableMutex() held.
std::vector<Entry>& Table() {
    static auto* table = new std::vector<Entry>;
    return *table;
}

// REQUIRES: TableMutex() held, so that `entry.fd` is still the terminal's.
bool IsPresent(const Entry& entry) {
    struct stat byName;
    struct stat byDescriptor;
    if (stat(entry.terminal.file.c_str(), &byName) != 0) return false;
    if (fstat(entry.fd, &byDescriptor) != 0) return false;
    if (!S_ISCHR(byName.st_mode) || byName.st_rdev != byDescriptor.st_rdev) return false;
    pollfd probe{entry.fd, POLLIN, 0};
    if (poll(&probe, 1, 0) < 0) return false;
    return (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

}  // namespace

// Both tell the port watchers, after the table has changed: opening a
// terminal by path puts it on the port list without any device node coming
// or going, so no system watch would see it.
void RegisterOpenTerminal(int fd, const std::string& name, const std::string& file) {
    {
        std::lock_guard<std::mutex> lock(TableMutex());
        Table().push_back(Entry{fd, OpenTerminal{name, file}});
    }
    NotifyPortListChanged();
}

void UnregisterOpenTerminal(int fd) {
    {
        std::lock_guard<std::mutex> lock(TableMutex());
        auto& table = Table();
        table.erase(std::remove_if(table.begin(), table.end(),
                                   [fd](const Entry& entry) { return entry.fd == fd; }),
                    table.end());
    }
    NotifyPortListChanged();
}

std::vector<OpenTerminal> PresentOpenTerminalsNamed(const std::string& name) {
    auto upper = [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    };
    auto sameName = [&](const std::string& other) {
        return other.size() == name.size() &&
               std::equal(other.begin(), other.end(), name.begin(),
                          [&](char a, char b) { return upper(a) == upper(b); });
    };
    std::lock_guard<std::mutex> lock(TableMutex());
    std::vector<OpenTerminal> present;
    for (const Entry& entry : Table()) {
        if (sameName(entry.terminal.name) && IsPresent(entry)) present.push_back(entry.terminal);
    }
    return present;
}

std::vector<OpenTerminal> PresentOpenTerminals() {
    std::lock_guard<std::mutex> lock(TableMutex());
    std::vector<OpenTerminal> present;
    for (const Entry& entry : Table()) {
        if (IsPresent(entry)) present.push_back(entry.terminal);
    }
    return present;
}

}  // namespace tarn::driver
