// Sending: the bytes of each operation, partial and empty writes, the
// presence check after a write, the not-connected failure, background sends
// and their end, and the same bytes through a real terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "pty_pair.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using tarn::test::kEventLimit;
using tarn::test::SelectPort;
using namespace std::string_literals;

const char kNotConnected[] = " is not open. Serial port is not connected.";

// Events of one kind, with the thread each ran on. Handlers may run on any
// thread, so everything is guarded.
template <typename T>
class EventRecord {
public:
    void Add(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        values_.push_back(std::move(value));
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    bool WaitCount(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kEventLimit, [&] { return values_.size() >= count; });
    }
    std::vector<T> Values() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> values_;
    std::vector<std::thread::id> threads_;
};

struct SendRecord : EventRecord<std::string> {
    void Attach(TTarnSerialPort& port) {
        port.SetOnSend([this](TTarnSerialPort*, std::string buffer) { Add(buffer); });
    }
};

struct FaultRecord : EventRecord<TCommPort> {
    void Attach(TTarnSerialPort& port) {
        port.SetOnFault([this](TTarnSerialPort*, TCommPort p) { Add(p); });
    }
};

// The message of the not-connected failure that `send` raises, or a note
// that it raised nothing.
template <typename Send>
std::string FailureOf(Send send) {
    try {
        send();
    } catch (const ETarnSerialPortException& e) {
        return e.what();
    }
    return "(no exception)";
}

// Writes that wait until the test lets them go, however long that is.
void WithoutWriteTimeouts(TTarnSerialPort& port) {
    port.SetWriteTotalTimeoutMultiplier(0);
    port.SetWriteTotalTimeoutConstant(0);
}

// Keeps the receive thread inside an OnReceive handler, where it runs no
// presence check of its own, so that only the sends under test can find a
// vanished port. Attach before Open; Park after it.
class ReceiveThreadParking {
public:
    void Attach(TTarnSerialPort& port) {
        port.SetNeedSynchronization(false);
        std::shared_ptr<State> state = state_;
        port.SetOnReceive([state](TTarnSerialPort*, std::string) {
            std::unique_lock<std::mutex> lock(state->mutex);
            state->parked = true;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->released; });
        });
    }
    bool Park(drv::VirtualPort& device) {
        device.Inject("p");
        std::unique_lock<std::mutex> lock(state_->mutex);
        return state_->changed.wait_for(lock, kEventLimit, [&] { return state_->parked; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->released = true;
        state_->changed.notify_all();
    }
    ~ReceiveThreadParking() { Release(); }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool parked = false;
        bool released = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// --- The bytes of each operation --------------------------------------------

TEST(SendBytes, EachOperationWritesItsBytesAndReportsThem) {
    drv::VirtualPort device("VSEND1");
    SendRecord sends;
    TTarnSerialPort port;
    sends.Attach(port);
    SelectPort(port, "VSEND1");
    port.Open();

    const std::uint8_t block[] = {0x00, 0x7F, 0x80, 0xFF};
    struct Case {
        const char* what;
        std::function<std::uint32_t()> send;
        std::string bytes;
    } cases[] = {
        {"SendString stops at a zero", [&] { return port.SendString("ab\0cd"s); }, "ab"},
        {"SendChars sends zeros", [&] { return port.SendChars("ab\0cd"s); }, "ab\0cd"s},
        {"SendStringLine", [&] { return port.SendStringLine("hi"); }, "hi\r\n"},
        {"SendStringLine drops the line end after a zero",
         [&] { return port.SendStringLine("x\0y"s); }, "x"},
        {"SendCharsLine", [&] { return port.SendCharsLine("a\0b"s); }, "a\0b\r\n"s},
        {"SendData", [&] { return port.SendData(block, sizeof block); }, "\0\x7F\x80\xFF"s},
        {"SendWord, low byte first", [&] { return port.SendWord(0x0102); }, "\x02\x01"},
        {"SendByte", [&] { return port.SendByte(0xFE); }, "\xFE"},
        {"SendChar", [&] { return port.SendChar('\0'); }, "\0"s},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.send(), c.bytes.size()) << c.what;
        EXPECT_EQ(device.TakeWritten(), c.bytes) << c.what;
        ASSERT_FALSE(sends.Values().empty()) << c.what;
        EXPECT_EQ(sends.Values().back(), c.bytes) << c.what;
    }
    // OnSend ran on the sending thread each time.
    for (std::thread::id id : sends.Threads()) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_FALSE(port.GetIsSending());

    port.SetNewLine("|");
    EXPECT_EQ(port.SendCharsLine("z"), 2u);
    EXPECT_EQ(device.TakeWritten(), "z|");
}

TEST(SendBytes, PartialWriteReportsExactlyTheAcceptedPrefix) {
    drv::VirtualPort device("VSEND2");
    SendRecord sends;
    TTarnSerialPort port;
    sends.Attach(port);
    SelectPort(port, "VSEND2");
    port.Open();

    device.LimitNextWrite(2);
    EXPECT_EQ(port.SendString("abcdef"), 2u);
    device.LimitNextWrite(3);
    EXPECT_EQ(port.SendChars("\0\1\2\3\4"s), 3u);
    device.LimitNextWrite(1);
    EXPECT_EQ(port.SendWord(0x0102), 1u);
    EXPECT_EQ(device.TakeWritten(), "ab\0\1\2\x02"s);
    EXPECT_EQ(sends.Values(), (std::vector<std::string>{"ab", "\0\1\2"s, "\x02"}));
    EXPECT_FALSE(port.GetIsFaulted());
}

TEST(SendBytes, LargeBlocksGoOutWholeInOneWrite) {
    drv::VirtualPort device("VSEND3");
    SendRecord sends;
    TTarnSerialPort port;
    sends.Attach(port);
    SelectPort(port, "VSEND3");
    port.Open();

    // Larger than a 16-bit count, with zeros among the bytes.
    std::string block(100000, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 % 251);
    EXPECT_EQ(port.SendChars(block), block.size());
    EXPECT_EQ(device.TakeWritten(), block);
    std::string text(70000, 'x');
    text.back() = 'y';
    EXPECT_EQ(port.SendString(text), text.size());
    EXPECT_EQ(device.TakeWritten(), text);
    EXPECT_EQ(sends.Values(), (std::vector<std::string>{block, text}));
}

// --- Empty writes and the presence check --------------------------------------

TEST(SendPresence, EmptyWriteOnAPresentPortChangesNothing) {
    drv::VirtualPort device("VSEND4");
    SendRecord sends;
    FaultRecord faults;
    TTarnSerialPort port;
    sends.Attach(port);
    faults.Attach(port);
    SelectPort(port, "VSEND4");
    port.Open();

    device.LimitNextWrite(0);
    EXPECT_EQ(port.SendChars("abc"), 0u);
    EXPECT_EQ(port.SendString(""), 0u);
    EXPECT_EQ(device.TakeWritten(), "");
    EXPECT_TRUE(sends.Values().empty());
    EXPECT_TRUE(faults.Values().empty());
    EXPECT_FALSE(port.GetIsFaulted());
    EXPECT_EQ(port.IsConnected(), spCustom);
}

TEST(SendPresence, BelowTheCheckIntervalAVanishedPortIsNotNoticed) {
    drv::VirtualPort device("COM240");
    FaultRecord faults;
    TTarnSerialPort port;
    faults.Attach(port);
    port.SetPort(spCOM240);
    port.SetDelay(20);  // below the default MinCheckDisconnectedInterval of 50
    port.Open();

    device.Remove();
    EXPECT_EQ(port.SendString("abc"), 0u);
    EXPECT_EQ(port.SendByte(1), 0u);
    EXPECT_FALSE(port.GetIsFaulted());
    EXPECT_TRUE(faults.Values().empty());
    EXPECT_EQ(port.IsConnected(), spCOM240);
}

TEST(SendPresence, EmptyWriteOnAVanishedPortFaultsAndCloses) {
    drv::VirtualPort device("COM241");
    SendRecord sends;
    FaultRecord faults;
    TTarnSerialPort port;
    ReceiveThreadParking parking;
    parking.Attach(port);
    sends.Attach(port);
    port.SetOnFault([&](TTarnSerialPort*, TCommPort p) {
        faults.Add(p);
        // Close, which follows, waits for the receive thread.
        parking.Release();
    });
    port.SetPort(spCOM241);
    port.SetMinCheckDisconnectedInterval(60000);
    port.SetDelay(10);
    port.Open();
    ASSERT_TRUE(parking.Park(device));

    // The check runs from a Delay equal to the interval on.
    port.SetDelay(60000);
    device.Remove();
    EXPECT_EQ(port.SendChars("abc"), 0u);
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_EQ(faults.Values(), std::vector<TCommPort>{spCOM241});
    EXPECT_EQ(faults.Threads(), std::vector<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_TRUE(sends.Values().empty());
    EXPECT_EQ(FailureOf([&] { port.SendChar('x'); }), "COM241"s + kNotConnected);
}

TEST(SendPresence, SendStringWithoutOnSendChecksButSendDataDoesNot) {
    drv::VirtualPort device("VSEND5");
    SendRecord sends;
    FaultRecord faults;
    TTarnSerialPort port;
    ReceiveThreadParking parking;
    parking.Attach(port);
    port.SetOnFault([&](TTarnSerialPort*, TCommPort p) {
        faults.Add(p);
        parking.Release();
    });
    SelectPort(port, "VSEND5");
    port.SetDelay(10);
    port.SetMinCheckDisconnectedInterval(1000);
    port.Open();
    ASSERT_TRUE(parking.Park(device));
    port.SetDelay(60000);
    // The port leaves the list of present ports while the open handle
    // still writes: only a check can tell.
    device.Unlist();

    sends.Attach(port);
    EXPECT_EQ(port.SendString("ab"), 2u);  // with OnSend: no check
    port.SetOnSend(nullptr);
    EXPECT_EQ(port.SendChars("cd"), 2u);  // SendData never checks after a write
    EXPECT_TRUE(faults.Values().empty());
    EXPECT_EQ(port.IsConnected(), spCustom);

    EXPECT_EQ(port.SendString("ef"), 2u);
    EXPECT_EQ(faults.Values(), std::vector<TCommPort>{spCustom});
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_EQ(device.TakeWritten(), "abcdef");
}

// --- Failures -------------------------------------------------------------------

TEST(SendFailures, NotConnectedNamesThePort) {
    SendRecord sends;
    TTarnSerialPort port;
    sends.Attach(port);
    const std::uint8_t byte = 1;
    // No name was ever set: the message starts with a blank.
    EXPECT_EQ(FailureOf([&] { port.SendString("a"); }), kNotConnected);
    EXPECT_EQ(FailureOf([&] { port.SendStringLine(""); }), kNotConnected);
    EXPECT_EQ(FailureOf([&] { port.SendChars("a"); }), kNotConnected);
    EXPECT_EQ(FailureOf([&] { port.SendCharsLine(""); }), kNotConnected);
    EXPECT_EQ(FailureOf([&] { port.SendData(&byte, 1); }), kNotConnected);
    EXPECT_EQ(FailureOf([&] { port.SendWord(1); }), kNotConnected);
    EXPECT_EQ(FailureOf([&] { port.SendByte(1); }), kNotConnected);
    EXPECT_EQ(FailureOf([&] { port.SendChar('a'); }), kNotConnected);
    // An empty SendChars is no send at all.
    EXPECT_EQ(port.SendChars(""), 0u);

    port.SetPort(spCOM7);
    EXPECT_EQ(FailureOf([&] { port.SendString("a"); }), "COM7"s + kNotConnected);

    drv::VirtualPort device("VSEND6");
    SelectPort(port, "VSEND6");
    port.Open();
    // A block of no bytes counts as a port that is not connected.
    EXPECT_EQ(FailureOf([&] { port.SendData(&byte, 0); }), "VSEND6"s + kNotConnected);
    EXPECT_EQ(port.IsConnected(), spCustom);
    port.Close();
    EXPECT_EQ(FailureOf([&] { port.SendByte(1); }), "VSEND6"s + kNotConnected);
    EXPECT_EQ(device.TakeWritten(), "");
    EXPECT_TRUE(sends.Values().empty());
    EXPECT_FALSE(port.GetIsSending());
}

TEST(SendFailures, HandlerExceptionsBecomeTheNotConnectedFailure) {
    drv::VirtualPort device("VSEND7");
    TTarnSerialPort port;
    port.SetOnSend([](TTarnSerialPort*, std::string) { throw std::runtime_error("handler"); });
    SelectPort(port, "VSEND7");
    port.Open();

    const std::string expected = "VSEND7"s + kNotConnected;
    EXPECT_EQ(FailureOf([&] { port.SendString("ab"); }), expected);
    EXPECT_FALSE(port.GetIsSending());
    EXPECT_EQ(FailureOf([&] { port.SendWord(0x0102); }), expected);
    EXPECT_FALSE(port.GetIsSending());
    // The bytes went out before the handler failed; the port stays open.
    EXPECT_EQ(device.TakeWritten(), "ab\x02\x01");
    EXPECT_EQ(port.IsConnected(), spCustom);
}

TEST(SendFailures, FaultHandlerExceptionBecomesTheNotConnectedFailure) {
    drv::VirtualPort device("COM242");
    std::atomic<int> faults{0};
    TTarnSerialPort port;
    ReceiveThreadParking parking;
    parking.Attach(port);
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) {
        ++faults;
        throw std::runtime_error("fault handler");
    });
    port.SetPort(spCOM242);
    port.SetDelay(10);
    port.SetMinCheckDisconnectedInterval(1000);
    port.Open();
    ASSERT_TRUE(parking.Park(device));
    port.SetDelay(60000);
    device.Remove();

    EXPECT_EQ(FailureOf([&] { port.SendString("ab"); }), "COM242"s + kNotConnected);
    EXPECT_GE(faults.load(), 1);
    // The handler's failure kept the port from closing; the next send
    // fails the same way.
    EXPECT_EQ(FailureOf([&] { port.SendChars("cd"); }), "COM242"s + kNotConnected);
    EXPECT_GE(faults.load(), 2);
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_FALSE(port.GetIsSending());
    parking.Release();
}

TEST(SendFailures, IsSendingOnlyWhileTheWriteRuns) {
    drv::VirtualPort device("VSEND8");
    TTarnSerialPort port;
    WithoutWriteTimeouts(port);
    SelectPort(port, "VSEND8");
    port.Open();

    device.HoldWrites(true);
    std::uint32_t sent = 0;
    std::thread sender([&] { sent = port.SendChars("xyz"); });
    ASSERT_TRUE(device.WaitHeldWrites(1, kEventLimit));
    EXPECT_TRUE(port.GetIsSending());
    device.HoldWrites(false);
    sender.join();
    EXPECT_FALSE(port.GetIsSending());
    EXPECT_EQ(sent, 3u);
}

// --- Background sends -------------------------------------------------------------

TEST(SendOnNewThread, ReturnsBeforeTheWriteAndSendsItsOwnCopy) {
    drv::VirtualPort device("VSEND9");
    SendRecord sends;
    TTarnSerialPort port;
    sends.Attach(port);
    WithoutWriteTimeouts(port);
    SelectPort(port, "VSEND9");
    port.Open();

    const std::string original = "a\0b\0c"s;
    device.HoldWrites(true);
    std::string data = original;
    port.SendCharsOnNewThread(data);
    data.assign("changed");
    port.SendStringOnNewThread(data);
    data.assign("changed again");
    // Both calls returned while their writes are held in the driver.
    ASSERT_TRUE(device.WaitHeldWrites(2, kEventLimit));
    EXPECT_TRUE(sends.Values().empty());
    device.HoldWrites(false);

    ASSERT_TRUE(sends.WaitCount(2));
    std::vector<std::string> buffers = sends.Values();
    std::sort(buffers.begin(), buffers.end());
    EXPECT_EQ(buffers, (std::vector<std::string>{original, "changed"}));
    for (std::thread::id id : sends.Threads()) EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(device.TakeWritten().size(), original.size() + 7);
}

TEST(SendOnNewThread, StringStopsAtAZeroAndCharsSendAll) {
    drv::VirtualPort device("VSEND10");
    SendRecord sends;
    TTarnSerialPort port;
    sends.Attach(port);
    SelectPort(port, "VSEND10");
    port.Open();

    port.SendStringOnNewThread("ab\0cd"s);
    ASSERT_TRUE(sends.WaitCount(1));
    port.SendCharsOnNewThread("ab\0cd"s);
    ASSERT_TRUE(sends.WaitCount(2));
    EXPECT_EQ(sends.Values(), (std::vector<std::string>{"ab", "ab\0cd"s}));
    EXPECT_EQ(device.TakeWritten(), "abab\0cd"s);
}

TEST(SendOnNewThread, NotConnectedEndsQuietly) {
    SendRecord sends;
    FaultRecord faults;
    {
        TTarnSerialPort port;
        sends.Attach(port);
        faults.Attach(port);
        port.SendStringOnNewThread("a");
        port.SendCharsOnNewThread("b");
        // The destructor waits for both sends.
    }
    EXPECT_TRUE(sends.Values().empty());
    EXPECT_TRUE(faults.Values().empty());
}

TEST(SendOnNewThread, DestructionWaitsForASendBlockedInTheDriver) {
    drv::VirtualPort device("VSEND11");
    SendRecord sends;
    auto port = std::make_unique<TTarnSerialPort>();
    sends.Attach(*port);
    WithoutWriteTimeouts(*port);
    SelectPort(*port, "VSEND11");
    port->Open();

    device.HoldWrites(true);
    port->SendCharsOnNewThread("abc");
    ASSERT_TRUE(device.WaitHeldWrites(1, kEventLimit));
    // Closing the port aborts the held write; the sender then ends and
    // only after that does the component go.
    port.reset();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.TakeWritten(), "");
    EXPECT_TRUE(sends.Values().empty());
}

TEST(SendOnNewThread, DestructionRightAfterManySendsWaitsForAll) {
    drv::VirtualPort device("VSEND12");
    SendRecord sends;
    auto port = std::make_unique<TTarnSerialPort>();
    sends.Attach(*port);
    SelectPort(*port, "VSEND12");
    port->Open();
    for (int i = 0; i < 16; ++i) port->SendCharsOnNewThread("0123456789");
    port.reset();
    // Each send either went out whole or found the port closed.
    const std::string written = device.TakeWritten();
    std::string whole;
    while (whole.size() < written.size()) whole += "0123456789";
    EXPECT_EQ(written, whole);
    EXPECT_LE(written.size(), 160u);
    // A component that is going calls no handler any more.
    EXPECT_LE(sends.Values().size(), written.size() / 10);
}

TEST(SendConcurrent, TwoThreadsSendingAtOnceLoseNothing) {
    drv::VirtualPort device("VSEND13");
    TTarnSerialPort port;
    std::atomic<std::size_t> reported{0};
    port.SetOnSend([&](TTarnSerialPort*, std::string b) { reported += b.size(); });
    SelectPort(port, "VSEND13");
    port.Open();

    constexpr int kRounds = 200;
    const std::string a(50, 'A');
    const std::string b(50, 'B');
    std::thread first([&] {
        for (int i = 0; i < kRounds; ++i) port.SendChars(a);
    });
    std::thread second([&] {
        for (int i = 0; i < kRounds; ++i) port.SendString(b);
    });
    first.join();
    second.join();

    const std::string written = device.TakeWritten();
    ASSERT_EQ(written.size(), 2u * kRounds * 50);
    EXPECT_EQ(std::count(written.begin(), written.end(), 'A'), kRounds * 50);
    EXPECT_EQ(reported.load(), written.size());
    EXPECT_FALSE(port.GetIsSending());
}

// --- A real terminal ----------------------------------------------------------------

class SendPty : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        pty_ = tarn::test::PtyPair::Create(&whyNot);
        ASSERT_TRUE(pty_) << whyNot;
        port_ = std::make_unique<TTarnSerialPort>();
        SelectPort(*port_, pty_->PortName());
        port_->Open();
        ASSERT_NE(port_->IsConnected(), spNone);
    }
    void TearDown() override { port_.reset(); }

    std::string Peer(std::size_t count) { return pty_->ReadPeer(count, kEventLimit); }

    std::unique_ptr<tarn::test::PtyPair> pty_;
    std::unique_ptr<TTarnSerialPort> port_;
};

TEST_F(SendPty, BytesArriveAtThePeer) {
    EXPECT_EQ(port_->SendStringLine("hello"), 7u);
    EXPECT_EQ(Peer(7), "hello\r\n");
    EXPECT_EQ(port_->SendWord(0x0102), 2u);
    EXPECT_EQ(Peer(2), "\x02\x01");

    // Every byte value, zeros included, passes unchanged.
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    all += "\0\0"s;
    EXPECT_EQ(port_->SendChars(all), all.size());
    EXPECT_EQ(Peer(all.size()), all);

    port_->SendCharsOnNewThread("x\0y"s);
    EXPECT_EQ(Peer(3), "x\0y"s);
}

}  // namespace
