// Micro-benchmarks of the component's pure functions on its hot paths: the
// normalising of a port name into its identifier, the naming of control
// characters for the log, and the building of the device control block
// from the line settings; and of the port-list lookup behind the presence
// check, which reads the system's list and so is not pure.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "measure.h"
#include "pseudo_terminal_posix.h"
#include "serial_driver.h"
#include "serial_port_test_access.h"

namespace {

using Access = TTarnSerialPortTestAccess;

void StringToCommPort(benchmark::State& state) {
    const TTarnSerialPort port;
    const std::vector<std::string> names = {"COM1",   "com17",        " Com254 ",
                                            "COM255", "/dev/ttyUSB0", "VCOM7"};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(port.StringToCommPort(names[i]));
        i = (i + 1) % names.size();
    }
}
BENCHMARK(StringToCommPort);

void ReplaceControlCharsLine(benchmark::State& state) {
    const TTarnSerialPort port;
    const std::string line =
        tarn::bench::PrintableLines(1, 78, 1) + std::string("\x02\x03\x1b\t", 4);
    for (auto _ : state) benchmark::DoNotOptimize(port.ReplaceControlChars(line));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(ReplaceControlCharsLine);

void ReplaceControlCharsBinary(benchmark::State& state) {
    const TTarnSerialPort port;
    const std::string block = tarn::bench::RandomBytes(4096, 2);
    for (auto _ : state) benchmark::DoNotOptimize(port.ReplaceControlChars(block));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}
BENCHMARK(ReplaceControlCharsBinary);

// SetBaudRate on a closed component only stores the rate; the block is
// built when a port opens, which the test access reaches without one.
void SetBaudRateAndBuildDcb(benchmark::State& state) {
    TTarnSerialPort port;
    const TBaudRate rates[] = {br009600, br115200};
    std::size_t i = 0;
    for (auto _ : state) {
        port.SetBaudRate(rates[i ^= 1]);
        benchmark::DoNotOptimize(Access::BuildDCB(port));
    }
}
BENCHMARK(SetBaudRateAndBuildDcb);

// The lookup that the presence check makes on every idle cycle when Delay
// is at least MinCheckDisconnectedInterval: the port list read afresh and
// searched for the port's name.
void IsExistingCommPort(benchmark::State& state) {
    TTarnSerialPort port;
    for (auto _ : state) benchmark::DoNotOptimize(port.IsExistingCommPort(u"COM1"));
}
BENCHMARK(IsExistingCommPort);

// The driver calls of every idle poll cycle, on an open pseudo-terminal:
// the queue query, the modem lines (which a pseudo-terminal lacks) and the
// port-list lookup with the terminal in the list.
class OpenTerminal : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        std::string why;
        pty_ = tarn::bench::PseudoTerminal::Create(&why);
        if (pty_) handle_ = tarn::driver::CreateFileA("\\\\.\\" + pty_->SlavePath());
    }
    void TearDown(const benchmark::State&) override {
        if (handle_ != tarn::driver::INVALID_HANDLE_VALUE) tarn::driver::CloseHandle(handle_);
        handle_ = tarn::driver::INVALID_HANDLE_VALUE;
        pty_.reset();
    }

protected:
    std::unique_ptr<tarn::bench::PseudoTerminal> pty_;
    tarn::driver::HANDLE handle_ = tarn::driver::INVALID_HANDLE_VALUE;
};

BENCHMARK_F(OpenTerminal, QueueQuery)(benchmark::State& state) {
    if (handle_ == tarn::driver::INVALID_HANDLE_VALUE) return state.SkipWithError("no terminal");
    for (auto _ : state) {
        std::uint32_t errors = 0;
        tarn::driver::COMSTAT stat{};
        benchmark::DoNotOptimize(tarn::driver::ClearCommError(handle_, &errors, &stat));
    }
}

BENCHMARK_F(OpenTerminal, ModemStatus)(benchmark::State& state) {
    if (handle_ == tarn::driver::INVALID_HANDLE_VALUE) return state.SkipWithError("no terminal");
    for (auto _ : state) {
        std::uint32_t lines = 0;
        benchmark::DoNotOptimize(tarn::driver::GetCommModemStatus(handle_, &lines));
    }
}

BENCHMARK_F(OpenTerminal, PresenceLookup)(benchmark::State& state) {
    if (handle_ == tarn::driver::INVALID_HANDLE_VALUE) return state.SkipWithError("no terminal");
    const std::u16string name(pty_->SlavePath().begin(), pty_->SlavePath().end());
    TTarnSerialPort port;
    if (!port.IsExistingCommPort(name)) return state.SkipWithError("the terminal is not listed");
    for (auto _ : state) benchmark::DoNotOptimize(port.IsExistingCommPort(name));
}

// Lines that wait whole, read one by one: what ReadStringLine costs beyond
// the terminal's own read, against a plain read of the same bytes split at
// CR LF. Each iteration writes one batch that the terminal holds whole and
// reads it back.
constexpr std::size_t kBatchLines = 40;

class WaitingLines : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        std::string why;
        pty_ = tarn::bench::PseudoTerminal::Create(&why);
        batch_ = tarn::bench::PrintableLines(kBatchLines, 78, 3);
    }
    void TearDown(const benchmark::State&) override { pty_.reset(); }

protected:
    std::unique_ptr<tarn::bench::PseudoTerminal> pty_;
    std::string batch_;
};

BENCHMARK_DEFINE_F(WaitingLines, ReadStringLine)(benchmark::State& state) {
    if (!pty_) return state.SkipWithError("no terminal");
    TTarnSerialPort port;
    port.SetAutoReceive(false);
    port.SetWakeOnData(true);
    port.SetCustomPortName(pty_->SlavePath());
    port.SetPort(spCustom);
    port.Open();
    for (auto _ : state) {
        if (!tarn::bench::WriteAll(pty_->Master(), batch_.data(), batch_.size()))
            return state.SkipWithError("the terminal took no lines");
        for (std::size_t i = 0; i < kBatchLines; ++i) {
            const std::string line = port.ReadStringLine(5);
            if (line.size() != 78) return state.SkipWithError("a line came short");
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatchLines));
}
BENCHMARK_REGISTER_F(WaitingLines, ReadStringLine);

BENCHMARK_DEFINE_F(WaitingLines, PlainReadAndSplit)(benchmark::State& state) {
    if (!pty_) return state.SkipWithError("no terminal");
    std::string why;
    const int fd = pty_->OpenSlaveRaw(&why);
    if (fd < 0) return state.SkipWithError(why.c_str());
    std::string pending;
    char buffer[1 << 16];
    for (auto _ : state) {
        if (!tarn::bench::WriteAll(pty_->Master(), batch_.data(), batch_.size()))
            return state.SkipWithError("the terminal took no lines");
        for (std::size_t lines = 0; lines < kBatchLines;) {
            const long n = tarn::bench::ReadSome(fd, buffer, sizeof buffer, 5000);
            if (n <= 0) return state.SkipWithError("the lines did not come");
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t from = 0;
            for (std::size_t end; (end = pending.find("\r\n", from)) != pending.npos;
                 from = end + 2) {
                benchmark::DoNotOptimize(std::string(pending, from, end - from));
                ++lines;
            }
            pending.erase(0, from);
        }
    }
    close(fd);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatchLines));
}
BENCHMARK_REGISTER_F(WaitingLines, PlainReadAndSplit);

}  // namespace

BENCHMARK_MAIN();
