// The line of the Linux scenarios: a pair of the process's own, the peer
// its non-blocking master, the baseline's port its slave opened raw.
#include <unistd.h>

#include "pseudo_terminal_posix.h"
#include "scenario_support.h"

namespace tarn::bench {
namespace {

class PosixLine final : public Line {
public:
    explicit PosixLine(std::unique_ptr<PseudoTerminal> pty) : pty_(std::move(pty)) {}

    std::string PortName() const override { return pty_->SlavePath(); }
    bool WritePeer(const char* data, std::size_t size) override {
        return WriteAll(pty_->Master(), data, size);
    }
    long ReadPeer(char* out, std::size_t room, int timeoutMs) override {
        return ReadSome(pty_->Master(), out, room, timeoutMs);
    }

    const PseudoTerminal& Terminal() const { return *pty_; }

private:
    std::unique_ptr<PseudoTerminal> pty_;
};

class PosixRawPort final : public RawPort {
public:
    explicit PosixRawPort(int fd) : fd_(fd) {}
    ~PosixRawPort() override { close(fd_); }

    bool WriteAll(const char* data, std::size_t size) override {
        return tarn::bench::WriteAll(fd_, data, size);
    }
    long ReadSome(char* out, std::size_t room, int timeoutMs) override {
        return tarn::bench::ReadSome(fd_, out, room, timeoutMs);
    }

private:
    const int fd_;
};

}  // namespace

std::unique_ptr<Line> Line::Create(std::string* whyNot) {
    auto pty = PseudoTerminal::Create(whyNot);
    if (!pty) return nullptr;
    return std::make_unique<PosixLine>(std::move(pty));
}

std::unique_ptr<RawPort> RawPort::Open(const Line& line, std::string* whyNot) {
    const int fd = static_cast<const PosixLine&>(line).Terminal().OpenSlaveRaw(whyNot);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixRawPort>(fd);
}

}  // namespace tarn::bench
