// The driver contract's fixture, its cases on opening, data, settings and
// the port list, and the backends of every build: virtual ports, and the
// adapter that the terminal backends of the platforms share. The cases on
// time-outs, purges, waits and removal are in driver_contract_waits_test.cpp.
#include "driver_contract.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "virtual_port.h"
#include "wait_until.h"

namespace tarn::driver::contract {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void DriverContract::SetUp() {
    std::string whyNot;
    port_ = Backend().makePort(&whyNot);
    ASSERT_TRUE(port_) << whyNot;
    handle_ = Open();
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE)
        << port_->Name() << ": " << SystemErrorText(GetLastError());
    ApplyComponentSettings();
}

void DriverContract::TearDown() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

HANDLE DriverContract::Open() const { return CreateFileA("\\\\.\\" + port_->Name()); }

HANDLE DriverContract::Reopen(const std::string& name) const {
    const auto deadline = std::chrono::steady_clock::now() + tarn::test::kEventLimit;
    while (true) {
        const HANDLE handle = CreateFileA("\\\\.\\" + name);
        if (handle != INVALID_HANDLE_VALUE || Backend().reopensAtOnce ||
            std::chrono::steady_clock::now() > deadline) {
            return handle;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void DriverContract::ApplyComponentSettings() {
    ASSERT_TRUE(SetCommState(handle_, ComponentDcb())) << SystemErrorText(GetLastError());
    ASSERT_TRUE(SetCommTimeouts(handle_, kComponentTimeouts)) << SystemErrorText(GetLastError());
    ASSERT_TRUE(SetupComm(handle_, 4096, 4096)) << SystemErrorText(GetLastError());
}

namespace {

// A port opens once at a time, under its name in any letter case.
TEST_P(DriverContract, OpensOnlyOnceAtATimeWhateverTheLetterCase) {
    const HANDLE second = Open();
    const std::uint32_t error = GetLastError();
    EXPECT_EQ(second == INVALID_HANDLE_VALUE, Backend().openTwiceError != 0);
    if (second == INVALID_HANDLE_VALUE) {
        EXPECT_EQ(error, Backend().openTwiceError);
    } else {
        CloseHandle(second);
    }
    ASSERT_TRUE(CloseHandle(handle_));
    EXPECT_FALSE(CloseHandle(handle_));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    std::string flipped = port_->Name();
    for (char& c : flipped) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(std::islower(u) ? std::toupper(u) : std::tolower(u));
    }
    handle_ = Reopen(flipped);
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << flipped << ": " << GetLastError();
    ASSERT_TRUE(port_->WritePeer("x"));
    EXPECT_EQ(WaitForQueued(1), 1u);
}

TEST_P(DriverContract, CarriesBytesBothWaysUnchanged) {
    COMSTAT stat{};
    std::uint32_t errors = 1;
    ASSERT_TRUE(ClearCommError(handle_, &errors, &stat)) << "a fresh port must not look gone";
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 0u);

    // Line ends, NUL, the flow-control characters, 0xFF and other control
    // characters would each be changed or eaten by a line not in binary mode.
    const std::string inbound("line\r\n\0\xff\x03\x11\x13z", 12);
    ASSERT_TRUE(port_->WritePeer(inbound));
    ASSERT_EQ(WaitForQueued(12), 12u);
    // Asked for more than is queued, the read returns at once with it all,
    // and with nothing left, at once with nothing.
    EXPECT_EQ(Read(100), inbound);
    const auto start = Clock::now();
    EXPECT_EQ(Read(100), "");
    EXPECT_LT(Clock::now() - start, kPrompt);
    EXPECT_EQ(WaitForQueued(0), 0u);

    const std::string outbound("reply\r\n\0\x11\x13\xff", 11);
    ASSERT_TRUE(Write(outbound));
    EXPECT_EQ(port_->ReadPeer(outbound.size(), kPrompt), outbound);
}

// A peek copies the queue's front without taking it; a read takes only what
// it asks for.
TEST_P(DriverContract, APeekCopiesAndAReadTakesOnlyWhatItAsksFor) {
    ASSERT_TRUE(port_->WritePeer(std::string("ab\0cdef", 7)));
    ASSERT_EQ(WaitForQueued(7), 7u);
    char buffer[8] = {};
    std::uint32_t got = 0;
    ASSERT_TRUE(PeekInput(handle_, buffer, 2, &got));
    EXPECT_EQ(std::string(buffer, got), "ab");
    ASSERT_TRUE(PeekInput(handle_, buffer, 8, &got));
    EXPECT_EQ(std::string(buffer, got), std::string("ab\0cdef", 7));
    EXPECT_EQ(WaitForQueued(7), 7u);
    EXPECT_EQ(Read(3), std::string("ab\0", 3));
    EXPECT_EQ(WaitForQueued(4), 4u);
    EXPECT_EQ(Read(8), "cdef");
}

TEST_P(DriverContract, WritesALargeBlockWhileThePeerDrains) {
    // Larger than the terminals' buffers and socat's between them, so that
    // the write waits for the reader.
    std::string block(256 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);
    auto drained =
        std::async(std::launch::async, [&] { return port_->ReadPeer(block.size(), 60s); });
    std::uint32_t written = 0;
    EXPECT_TRUE(
        WriteFile(handle_, block.data(), static_cast<std::uint32_t>(block.size()), &written));
    EXPECT_EQ(written, block.size());
    // Under Wine the drain counts the terminal's own output queue, which a
    // pseudo-terminal keeps empty, and flushes with tcdrain.
    EXPECT_TRUE(DrainCommOutput(handle_, 60000)) << SystemErrorText(GetLastError());
    EXPECT_TRUE(drained.get() == block);
}

TEST_P(DriverContract, ReadsWritesAndControlRunOnSeveralThreadsAtOnce) {
    constexpr std::size_t kBytes = 32 * 1024;
    std::string inbound(kBytes, '\0');
    std::string outbound(kBytes, '\0');
    for (std::size_t i = 0; i < kBytes; ++i) {
        inbound[i] = static_cast<char>('a' + i % 26);
        outbound[i] = static_cast<char>('A' + i % 26);
    }
    std::atomic<bool> done{false};
    auto reader = std::async(std::launch::async, [&] {
        std::string got;
        const auto deadline = Clock::now() + 30s;
        while (got.size() < kBytes && Clock::now() < deadline) {
            COMSTAT stat{};
            if (!ClearCommError(handle_, nullptr, &stat)) break;
            if (stat.cbInQue == 0) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            std::string bytes(stat.cbInQue, '\0');
            std::uint32_t n = 0;
            if (!ReadFile(handle_, &bytes[0], stat.cbInQue, &n)) break;
            got.append(bytes, 0, n);
        }
        return got;
    });
    auto writer = std::async(std::launch::async, [&] {
        bool ok = true;
        for (std::size_t at = 0; at < kBytes && ok; at += 1024)
            ok = Write(outbound.substr(at, 1024));
        return ok;
    });
    auto control = std::async(std::launch::async, [&] {
        int calls = 0;
        while (!done.load()) {
            DCB dcb{};
            std::uint32_t status = 0;
            EscapeCommFunction(handle_, SETBREAK);
            EscapeCommFunction(handle_, CLRBREAK);
            GetCommModemStatus(handle_, &status);
            GetCommState(handle_, dcb);
            SetupComm(handle_, 4096, 4096);
            ++calls;
        }
        return calls;
    });
    auto peerReader = std::async(std::launch::async, [&] { return port_->ReadPeer(kBytes, 30s); });
    EXPECT_TRUE(port_->WritePeer(inbound));  // no ASSERT: `done` must be set below
    EXPECT_TRUE(reader.get() == inbound);
    EXPECT_TRUE(writer.get());
    EXPECT_TRUE(peerReader.get() == outbound);
    done = true;
    EXPECT_GT(control.get(), 0);
}

TEST_P(DriverContract, SetupCommTakesAnyPositiveSize) {
    EXPECT_TRUE(SetupComm(handle_, 1, 1));
    EXPECT_TRUE(SetupComm(handle_, 300000, 65536));
    if (!Backend().refusesEmptyQueues) return;
    EXPECT_FALSE(SetupComm(handle_, 0, 4096));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_P(DriverContract, SettingsAreAcceptedAndReadBack) {
    struct Case {
        std::uint32_t baud;
        std::uint8_t byteSize, parity, stopBits;
        std::uint32_t rtsControl;
        std::uint32_t flowFlags;
    };
    const Case cases[] = {
        {1200, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE, 0},
        {19200, 8, NOPARITY, TWOSTOPBITS, RTS_CONTROL_HANDSHAKE, DCB_fOutxCtsFlow},
        {115200, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE, DCB_fOutX | DCB_fInX},
        {57600, 7, EVENPARITY, ONESTOPBIT, RTS_CONTROL_DISABLE, DCB_fParity},
        {4800, 8, ODDPARITY, TWOSTOPBITS, RTS_CONTROL_ENABLE, DCB_fParity},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.baud << " baud, " << int(c.byteSize) << " bits, parity " << int(c.parity)
                     << ", stop " << int(c.stopBits));
        DCB set = ComponentDcb();
        set.BaudRate = c.baud;
        set.ByteSize = c.byteSize;
        set.Parity = c.parity;
        set.StopBits = c.stopBits;
        set.Flags = DCB_fBinary | (DTR_CONTROL_ENABLE << DCB_fDtrControlShift) |
                    (c.rtsControl << DCB_fRtsControlShift) | c.flowFlags;
        set.XonChar = 0x12;
        set.XoffChar = 0x14;
        ASSERT_TRUE(SetCommState(handle_, set)) << SystemErrorText(GetLastError());

        DCB got{};
        got.DCBlength = sizeof got;
        ASSERT_TRUE(GetCommState(handle_, got)) << SystemErrorText(GetLastError());
        EXPECT_EQ(got.DCBlength, sizeof got);
        EXPECT_EQ(got.BaudRate, c.baud);
        EXPECT_EQ(got.StopBits, c.stopBits);
        EXPECT_EQ(got.Flags & DCB_fBinary, DCB_fBinary);
        EXPECT_EQ(got.Flags & DCB_fOutxCtsFlow, c.flowFlags & DCB_fOutxCtsFlow);
        EXPECT_EQ(got.Flags & (DCB_fOutX | DCB_fInX), c.flowFlags & (DCB_fOutX | DCB_fInX));
        EXPECT_EQ(got.XonChar, 0x12);
        EXPECT_EQ(got.XoffChar, 0x14);
        // Linux keeps every pseudo-terminal eight bits wide without parity,
        // whatever was asked, and Wine then reads back an odd parity as a
        // value of its own.
        if (Backend().anyDataFormat || (c.byteSize == 8 && c.parity == NOPARITY)) {
            EXPECT_EQ(got.ByteSize, c.byteSize);
            EXPECT_EQ(got.Parity, c.parity);
        }
    }
}

TEST_P(DriverContract, ControlFunctionsReachTheDriver) {
    EXPECT_TRUE(EscapeCommFunction(handle_, SETBREAK)) << SystemErrorText(GetLastError());
    EXPECT_TRUE(EscapeCommFunction(handle_, CLRBREAK)) << SystemErrorText(GetLastError());
    EXPECT_TRUE(EscapeCommFunction(handle_, SETXOFF)) << SystemErrorText(GetLastError());
    EXPECT_TRUE(EscapeCommFunction(handle_, SETXON)) << SystemErrorText(GetLastError());

    // A pseudo-terminal has no modem lines, and its driver says so.
    SetLastError(ERROR_SUCCESS);
    std::uint32_t status = 0xFFFF;
    // A remote port has its lines once its server has told them.
    if (Backend().modemLines) {
        tarn::test::WaitUntil([&] { return GetCommModemStatus(handle_, &status); }, kPrompt);
    }
    EXPECT_EQ(GetCommModemStatus(handle_, &status), Backend().modemLines);
    if (!Backend().modemLines) {
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    }
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(EscapeCommFunction(handle_, SETDTR), Backend().modemLines);
    if (!Backend().modemLines) {
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    }
}

// --- Backends of every build ---------------------------------------------------

class TerminalPort final : public ContractPort {
public:
    explicit TerminalPort(std::unique_ptr<tarn::test::PtyPair> pair) : pair_(std::move(pair)) {}
    std::string Name() const override { return pair_->PortName(); }
    bool WritePeer(const std::string& bytes) override { return pair_->WritePeer(bytes); }
    std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) override {
        return pair_->ReadPeer(count, timeout);
    }
    void Remove() override { pair_->Remove(); }

private:
    std::unique_ptr<tarn::test::PtyPair> pair_;
};

// The far end of a virtual port is the port object itself. Its input takes
// what the queue has room for and the rest as reads make room, as a device
// under flow control sends.
class VirtualContractPort final : public ContractPort {
public:
    VirtualContractPort() : port_("VCONTRACT" + std::to_string(++count_)) {}
    std::string Name() const override { return port_.Name(); }
    bool WritePeer(const std::string& bytes) override {
        const auto deadline = Clock::now() + 30s;
        for (std::size_t done = 0; done < bytes.size();) {
            const std::size_t n = port_.InjectInto(port_.OpenCount(), bytes.substr(done));
            done += n;
            if (n == 0 && (Clock::now() > deadline || !port_.WaitInputRoom(1s))) return false;
        }
        return true;
    }
    std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) override {
        const auto deadline = Clock::now() + timeout;
        std::string got;
        while (got.size() < count && Clock::now() < deadline) {
            got += port_.WaitWritten(
                count - got.size(),
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
        }
        return got;
    }
    void StopTakingOutput() override { port_.HoldWrites(true); }
    void Remove() override { port_.Remove(); }

private:
    static inline std::atomic<int> count_{0};
    VirtualPort port_;
};

const DriverBackend kVirtual = [] {
    DriverBackend backend{"Virtual", &MakeVirtualPort};
    backend.intervalTimeouts = false;
    backend.firstByteReturns = false;
    backend.refusesForbiddenTimeouts = false;
    backend.writeTimeoutSetsSemTimeout = false;
    backend.purgeAbortsWaitingReads = false;
    backend.refusesUnknownPurgeFlags = false;
    backend.modemLines = true;
    backend.anyDataFormat = true;
    backend.closeFailsAWaitingInputWait = true;
    return backend;
}();

TARN_DRIVER_CONTRACT_BACKEND(kVirtual);

}  // namespace

std::unique_ptr<ContractPort> MakeVirtualPort(std::string*) {
    return std::make_unique<VirtualContractPort>();
}

std::unique_ptr<ContractPort> MakeTerminalPort(std::string* whyNot) {
    auto pair = tarn::test::PtyPair::Create(whyNot);
    if (!pair) return nullptr;
    return std::make_unique<TerminalPort>(std::move(pair));
}

}  // namespace tarn::driver::contract
