#include "scenario_support.h"

#include <exception>

#include "host_synchronize.h"

namespace tarn::bench {

RunOutcome Failed(std::string why) {
    RunOutcome outcome;
    outcome.failure = std::move(why);
    return outcome;
}

bool Line::ReadPeerExactly(char* out, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
        const long n = ReadPeer(out + got, size - got, kStallMs);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

RunOutcome TripFigures(const std::vector<double>& micros, std::size_t trips, double cpuSeconds) {
    return {{Percentile(micros, 50), Percentile(micros, 99),
             cpuSeconds * 1e6 / static_cast<double>(trips)},
            ""};
}

std::string OpenOnLine(TTarnSerialPort& port, const Line& line) {
    try {
        port.SetCustomPortName(line.PortName());
        port.SetPort(spCustom);
        port.Open();
    } catch (const std::exception& e) {
        return e.what();
    }
    return port.IsConnected() != spNone ? "" : "the port did not connect";
}

Peer::Peer(std::function<std::string()> body)
    : body_(std::move(body)), thread_([this] {
          const double cpuAtStart = ThreadCpuSeconds();
          try {
              failure_ = body_();
          } catch (const std::exception& e) {
              failure_ = std::string("peer: ") + e.what();
          }
          cpuSeconds_ = ThreadCpuSeconds() - cpuAtStart;
          finishedAt_ = Clock::now();
          done_ = true;
      }) {}

Peer::~Peer() {
    if (thread_.joinable()) thread_.join();
}

std::string Peer::Join() {
    thread_.join();
    return failure_;
}

bool ServiceUntil(const std::function<bool()>& done,
                  const std::function<std::uint64_t()>& progress) {
    std::uint64_t seen = progress();
    Clock::time_point moved = Clock::now();
    while (!done()) {
        tarn::host::CheckSynchronize(10);
        const std::uint64_t now = progress();
        if (now != seen) {
            seen = now;
            moved = Clock::now();
        } else if (Clock::now() - moved > kStallLimit) {
            return false;
        }
    }
    return true;
}

}  // namespace tarn::bench
