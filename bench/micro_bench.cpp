// Micro-benchmarks of the component's pure functions on its hot paths: the
// normalising of a port name into its identifier, the naming of control
// characters for the log, and the building of the device control block
// from the line settings; and of the port-list lookup behind the presence
// check, which reads the system's list and so is not pure.
#include <benchmark/benchmark.h>

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

}  // namespace

BENCHMARK_MAIN();
