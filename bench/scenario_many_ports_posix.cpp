// Many ports at once: a process with dozens or hundreds of pseudo-terminals
// open, as a test rack or a gateway has. Idle: every port open for a fixed
// period with nothing arriving, charged as a share of one processor core for
// the whole process (every receive thread included). Burst: 1 KiB written to
// every port at once, timed until the last byte has reached its port's
// OnReceive on the main thread. The baseline opens the same ports raw and
// waits on all of them with one poll.
//
// A system that gives fewer pairs or descriptors than asked for runs with
// as many as it gave, and the "ports" figure says how many that was.
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host_synchronize.h"
#include "pseudo_terminal_posix.h"
#include "scenario_support.h"

namespace tarn::bench {
namespace {

constexpr std::size_t kBurstBytes = 1024;

// Each pair takes its master and the port's descriptor, and the component a
// few more for its waits; the usual soft limit of 1024 ends before 256
// pairs do.
void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// Up to `count` pairs; fewer when the system runs out of them.
std::vector<std::unique_ptr<PseudoTerminal>> CreatePairs(std::size_t count) {
    RaiseOpenFileLimit();
    std::vector<std::unique_ptr<PseudoTerminal>> pairs;
    std::string whyNot;
    while (pairs.size() < count) {
        auto pty = PseudoTerminal::Create(&whyNot);
        if (!pty) break;
        pairs.push_back(std::move(pty));
    }
    return pairs;
}

double CorePercent(double cpuAtStart, Clock::time_point start) {
    return (ProcessCpuSeconds() - cpuAtStart) * 100.0 / SecondsSince(start);
}

Clock::time_point After(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The burst to every pair's peer end, on a thread of its own.
std::unique_ptr<Peer> SendBurst(const std::vector<std::unique_ptr<PseudoTerminal>>& pairs,
                                const std::string& burst) {
    return std::make_unique<Peer>([&pairs, &burst]() -> std::string {
        for (const auto& pty : pairs) {
            if (!WriteAll(pty->Master(), burst.data(), burst.size())) return "a burst stalled";
        }
        return "";
    });
}

// The component's side: the ports, each with its OnReceive on the main
// thread, which keeps what came and when the last port was complete.
class ManyPorts {
public:
    explicit ManyPorts(std::size_t burstBytes) : burstBytes_(burstBytes) {}
    ~ManyPorts() {
        for (auto& port : ports_) port->Close();
    }

    // False when the port does not open: out of descriptors or threads.
    bool Open(const PseudoTerminal& pty, bool wakeOnData) {
        auto port = std::make_unique<TTarnSerialPort>();
        port->SetWakeOnData(wakeOnData);
        const std::size_t i = received_.size();
        received_.emplace_back();
        port->SetOnReceive([this, i](TTarnSerialPort*, std::string chunk) {
            received_[i] += chunk;
            total_ += chunk.size();
            if (received_[i].size() == burstBytes_) {
                ++complete_;
                lastDelivery_ = Clock::now();
            }
        });
        try {
            port->SetCustomPortName(pty.SlavePath());
            port->SetPort(spCustom);
            port->Open();
        } catch (const std::exception&) {
            return false;
        }
        if (port->IsConnected() == spNone) return false;
        ports_.push_back(std::move(port));
        return true;
    }

    std::size_t Count() const { return ports_.size(); }
    std::uint64_t Total() const { return total_; }
    bool AllComplete() const { return complete_ == ports_.size(); }
    Clock::time_point LastDelivery() const { return lastDelivery_; }
    // Whether every port received exactly `burst`.
    bool AllReceived(const std::string& burst) const {
        return std::all_of(received_.begin(), received_.begin() + ports_.size(),
                           [&burst](const std::string& r) { return r == burst; });
    }

private:
    const std::size_t burstBytes_;
    std::vector<std::unique_ptr<TTarnSerialPort>> ports_;
    std::vector<std::string> received_;
    std::size_t complete_ = 0;
    std::uint64_t total_ = 0;
    Clock::time_point lastDelivery_{};
};

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

RunOutcome ManyComponent(std::size_t count, double idleSeconds, bool wakeOnData,
                         std::uint64_t seed) {
    auto pairs = CreatePairs(count);
    ManyPorts ports(kBurstBytes);
    for (const auto& pty : pairs) {
        if (!ports.Open(*pty, wakeOnData)) break;
    }
    if (ports.Count() == 0) return Failed("no port opened on a pseudo-terminal");
    // Only the ports that opened get the burst.
    pairs.resize(ports.Count());

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    for (const Clock::time_point end = After(idleSeconds); Clock::now() < end;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        tarn::host::CheckSynchronize(static_cast<int>(std::max<std::int64_t>(left.count(), 1)));
    }
    const double idlePercent = CorePercent(cpuAtStart, start);
    if (ports.Total() != 0) return Failed("OnReceive ran for a silent peer");

    const std::string burst = RandomBytes(kBurstBytes, seed);
    const Clock::time_point burstStart = Clock::now();
    const auto peer = SendBurst(pairs, burst);
    const bool delivered =
        ServiceUntil([&] { return ports.AllComplete(); }, [&] { return ports.Total(); });
    const std::string peerFailure = peer->Join();
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (!delivered) return Failed("a burst did not reach every OnReceive");
    if (!ports.AllReceived(burst)) return Failed("a port received other bytes than were sent");
    return {{idlePercent, MillisecondsBetween(burstStart, ports.LastDelivery()),
             static_cast<double>(ports.Count())},
            ""};
}

// The plain way: every port's descriptor in one poll, read as it is ready.
// False when a descriptor fails or nothing comes for kStallLimit.
bool PollAll(std::vector<pollfd>& fds, Clock::time_point until,
             const std::function<bool(std::size_t, const char*, std::size_t)>& got) {
    char buffer[4096];
    for (int left;
         (left = static_cast<int>(
              std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count())) > 0;) {
        const int ready = poll(fds.data(), fds.size(), std::min(left, kStallMs));
        if (ready < 0) return false;
        for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
            if ((fds[i].revents & POLLIN) == 0) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0) return false;
            if (!got(i, buffer, static_cast<std::size_t>(n))) return true;
        }
    }
    return true;
}

RunOutcome ManyBaseline(std::size_t count, double idleSeconds, std::uint64_t seed) {
    auto pairs = CreatePairs(count);
    std::vector<pollfd> fds;
    std::string whyNot;
    for (const auto& pty : pairs) {
        const int fd = pty->OpenSlaveRaw(&whyNot);
        if (fd < 0) break;
        fds.push_back({fd, POLLIN, 0});
    }
    struct CloseAll {
        std::vector<pollfd>& fds;
        ~CloseAll() {
            for (const pollfd& p : fds) close(p.fd);
        }
    } closeAll{fds};
    if (fds.empty()) return Failed(whyNot);
    pairs.resize(fds.size());

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    bool quiet = true;
    if (!PollAll(fds, After(idleSeconds),
                 [&](std::size_t, const char*, std::size_t) { return quiet = false; }) ||
        !quiet) {
        return Failed("bytes came from a silent peer");
    }
    const double idlePercent = CorePercent(cpuAtStart, start);

    const std::string burst = RandomBytes(kBurstBytes, seed);
    std::vector<std::string> received(fds.size());
    std::size_t complete = 0;
    Clock::time_point lastDelivery{};
    const Clock::time_point burstStart = Clock::now();
    const auto peer = SendBurst(pairs, burst);
    const bool read = PollAll(fds, Clock::now() + kStallLimit,
                              [&](std::size_t i, const char* data, std::size_t size) {
                                  received[i].append(data, size);
                                  if (received[i].size() == burst.size()) {
                                      ++complete;
                                      lastDelivery = Clock::now();
                                  }
                                  return complete < fds.size();
                              });
    const std::string peerFailure = peer->Join();
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (!read || complete < fds.size()) return Failed("a burst did not arrive");
    for (const std::string& r : received) {
        if (r != burst) return Failed("a port received other bytes than were sent");
    }
    return {{idlePercent, MillisecondsBetween(burstStart, lastDelivery),
             static_cast<double>(fds.size())},
            ""};
}

}  // namespace

void AddManyPortsScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const double idle = settings.manyPortsIdleSeconds;
    const std::uint32_t defaultDelay = TTarnSerialPort().GetDelay();
    for (const std::size_t count : settings.manyPorts) {
        const std::string ports = std::to_string(count) + " pseudo-terminals open at once, ";
        const std::string work =
            FormatFigure(idle) + " s idle, then " + SizeText(kBurstBytes) + " to every one";
        for (const bool wake : {true, false}) {
            out.push_back(
                {"many_ports_" + std::to_string(count) + (wake ? "_wake" : "_default"),
                 ports + work +
                     (wake ? ", WakeOnData" : ", default Delay " + std::to_string(defaultDelay)),
                 {{"idle % core", false}, {"burst ms", false}, {"ports", true}},
                 settings.runs,
                 [=](std::uint64_t seed) { return ManyComponent(count, idle, wake, seed); },
                 [=](std::uint64_t seed) { return ManyBaseline(count, idle, seed); }});
        }
    }
}

}  // namespace tarn::bench
