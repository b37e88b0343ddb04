#include "test_line.h"

#include "serialport/component_test_support.h"

namespace tarn::test {

namespace {

class VirtualLine final : public TestLine {
public:
    VirtualLine(const std::string& name, bool wakeOnLines) : port_(name) {
        port_.WakeWaitsOnLineChanges(wakeOnLines);
    }
    std::string Name() const override { return port_.Name(); }
    bool Inject(const std::string& bytes) override { return port_.Inject(bytes) == bytes.size(); }
    bool WaitPollCycles(int cycles, std::uint32_t) override {
        const std::uint64_t target = port_.QueueQueries() + static_cast<std::uint64_t>(cycles);
        return WaitUntil([&] { return port_.QueueQueries() >= target; });
    }
    std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) override {
        // The port hands over everything written at once; what goes beyond
        // `count` waits for the next read.
        if (unread_.size() < count) unread_ += port_.WaitWritten(count - unread_.size(), timeout);
        const std::string got = unread_.substr(0, count);
        unread_.erase(0, got.size());
        return got;
    }
    void Remove() override { port_.Remove(); }
    bool Unlist() override {
        port_.Unlist();
        return true;
    }

private:
    tarn::driver::VirtualPort port_;
    std::string unread_;  // taken from the port, not yet read
};

class TerminalLine final : public TestLine {
public:
    explicit TerminalLine(std::unique_ptr<PtyPair> pty) : pty_(std::move(pty)) {}
    std::string Name() const override { return pty_->PortName(); }
    bool Inject(const std::string& bytes) override { return pty_->WritePeer(bytes); }
    bool WaitPollCycles(int cycles, std::uint32_t delayMs) override {
        // Serves the main thread's queue all the while, so that the poll
        // loop is never held in an event.
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(static_cast<std::int64_t>(cycles) * delayMs);
        WaitUntil([&] { return std::chrono::steady_clock::now() >= end; });
        return true;
    }
    std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) override {
        return pty_->ReadPeer(count, timeout);
    }
    void Remove() override { pty_->Remove(); }
    bool Unlist() override { return pty_->Unlist(); }

private:
    std::unique_ptr<PtyPair> pty_;
};

}  // namespace

namespace {

std::unique_ptr<TestLine> MakeLine(LineKind kind, const std::string& virtualName,
                                   std::string* whyNot, bool unlistable) {
    if (kind == LineKind::Virtual) return std::make_unique<VirtualLine>(virtualName, unlistable);
    std::unique_ptr<PtyPair> pty = PtyPair::Create(whyNot, unlistable);
    if (!pty) return nullptr;
    return std::make_unique<TerminalLine>(std::move(pty));
}

}  // namespace

std::unique_ptr<TestLine> TestLine::Create(LineKind kind, const std::string& virtualName,
                                           std::string* whyNot) {
    return MakeLine(kind, virtualName, whyNot, false);
}

std::unique_ptr<TestLine> TestLine::CreateUnlistable(LineKind kind, const std::string& virtualName,
                                                     std::string* whyNot) {
    return MakeLine(kind, virtualName, whyNot, true);
}

}  // namespace tarn::test
