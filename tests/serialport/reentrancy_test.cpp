// Handlers that re-enter the component, and a port renamed or closed while
// something waits on it: whatever the order of calls, IsConnected, the
// receive thread, the handle and the events must tell the same story.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "serial_port_test_access.h"
#include "test_line.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using Access = TTarnSerialPortTestAccess;
using tarn::test::LineKind;
using tarn::test::WaitUntil;
using namespace std::chrono_literals;

// The connection events in order; handlers may run on the receive thread.
class EventRecord {
public:
    void Attach(TTarnSerialPort& port) {
        port.SetOnConnect([this](TTarnSerialPort*, TCommPort p) { Add("connect", p); });
        port.SetOnDisconnect([this](TTarnSerialPort*, TCommPort p) { Add("disconnect", p); });
        port.SetOnFault([this](TTarnSerialPort*, TCommPort p) { Add("fault", p); });
    }
    void Add(const char* what, TCommPort p) {
        std::lock_guard<std::mutex> lock(mutex_);
        list_.push_back(std::string(what) + ":" + std::to_string(static_cast<int>(p)));
    }
    std::vector<std::string> List() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return list_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> list_;
};

class RenameWhileOpen : public ::testing::TestWithParam<LineKind> {};

// The presence checks of the receive thread and of the sends look up the
// name that was opened, so selecting another port while one is open changes
// only what the next Open opens.
TEST_P(RenameWhileOpen, KeepsTheOpenPortUntilTheNextOpen) {
    std::string why;
    auto line = tarn::test::TestLine::Create(GetParam(), "VRENAME1", &why);
    ASSERT_NE(line, nullptr) << why;
    TTarnSerialPort port;
    EventRecord events;
    events.Attach(port);
    std::string received;
    port.SetOnReceive([&](TTarnSerialPort*, std::string bytes) { received += bytes; });
    tarn::test::SelectPort(port, line->Name());
    port.Open();
    const TCommPort opened = port.IsConnected();
    ASSERT_NE(opened, spNone);
    ASSERT_GE(port.GetDelay(), port.GetMinCheckDisconnectedInterval()) << "the check must run";

    // Renamed to a name that no device answers: the custom name of a
    // custom port, then the port itself.
    port.SetCustomPortName("VNOWHERE1");
    ASSERT_TRUE(line->WaitPollCycles(5, port.GetDelay()));
    port.SetPort(spCOM254);
    ASSERT_TRUE(line->WaitPollCycles(5, port.GetDelay()));
    EXPECT_EQ(port.IsConnected(), opened);
    EXPECT_FALSE(port.GetIsFaulted());
    ASSERT_TRUE(line->Inject("still here"));
    ASSERT_TRUE(WaitUntil([&] { return received.size() >= 10; }));
    EXPECT_EQ(received, "still here");
    EXPECT_EQ(port.SendString("out"), 3u);

    port.Close();
    EXPECT_EQ(events.List(),
              (std::vector<std::string>{"connect:" + std::to_string(static_cast<int>(opened)),
                                        "disconnect:" + std::to_string(static_cast<int>(opened))}));
    // The next Open takes the new name.
    try {
        port.Open();
        FAIL() << "opened a port that does not exist";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot connect to COM254. ", 0), 0u) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, RenameWhileOpen, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

TEST(RenameWhileOpen, ASendThatTakesNothingChecksTheOpenedName) {
    drv::VirtualPort device("VRENAME2");
    TTarnSerialPort port;
    tarn::test::SelectPort(port, "VRENAME2");
    port.Open();
    port.SetCustomPortName("VNOWHERE2");
    device.LimitNextWrite(0);
    EXPECT_EQ(port.SendString("x"), 0u);
    EXPECT_FALSE(port.GetIsFaulted());
    EXPECT_EQ(port.IsConnected(), spCustom);
    EXPECT_TRUE(device.IsOpen());
}

// Over both ways of delivering events and both receive modes.
class ReentrantHandlers
    : public ::testing::TestWithParam<std::tuple<bool, tarn::test::ReceiveMode>> {
protected:
    void SetUp() override {
        port.SetNeedSynchronization(std::get<0>(GetParam()));
        tarn::test::ApplyReceiveMode(port, std::get<1>(GetParam()));
    }
    TTarnSerialPort port;
    EventRecord events;
};

// Closing inside OnConnect (say, the device answered the wrong way) leaves
// the component Closed for real, and Open returns normally.
TEST_P(ReentrantHandlers, CloseInsideOnConnect) {
    drv::VirtualPort device("COM205");
    events.Attach(port);
    port.SetOnConnect([this](TTarnSerialPort* sender, TCommPort p) {
        events.Add("connect", p);
        sender->Close();
    });
    port.SetPort(spCOM205);
    EXPECT_NO_THROW(port.Open());
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(Access::HasThread(port));
    EXPECT_EQ(events.List(), (std::vector<std::string>{"connect:205", "disconnect:205"}));
    EXPECT_FALSE(port.SetDTR(true));

    port.SetOnConnect(nullptr);
    port.Open();
    EXPECT_EQ(port.IsConnected(), spCOM205);
    port.Close();
    EXPECT_EQ(events.List().size(), 3u) << "one OnDisconnect per connection";
}

// An OnReceive handler that opens another port: the first connection ends
// (with its own OnDisconnect) before the second begins, and the first
// thread's teardown never touches the second connection.
TEST_P(ReentrantHandlers, OpenAnotherPortInsideOnReceive) {
    drv::VirtualPort first("COM203");
    drv::VirtualPort second("COM204");
    events.Attach(port);
    std::atomic<bool> switched{false};
    std::mutex receivedLock;
    std::string received;
    port.SetOnReceive([&](TTarnSerialPort* sender, std::string bytes) {
        if (!switched.exchange(true)) {
            sender->SetPort(spCOM204);
            sender->Open();
            return;
        }
        std::lock_guard<std::mutex> lock(receivedLock);
        received += bytes;
    });
    port.SetPort(spCOM203);
    port.Open();
    first.Inject("switch");
    // The handler's Open closes the first port before it opens the second,
    // so only the second OnConnect marks the end of the switch.
    ASSERT_TRUE(WaitUntil([&] { return events.List().size() >= 3; }));
    EXPECT_FALSE(first.IsOpen());
    EXPECT_EQ(port.IsConnected(), spCOM204);
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(events.List(),
              (std::vector<std::string>{"connect:203", "disconnect:203", "connect:204"}));

    // The old thread has gone without disturbing the new connection.
    ASSERT_TRUE(second.WaitQueueQueries(second.QueueQueries() + 3, tarn::test::kEventLimit));
    EXPECT_EQ(port.IsConnected(), spCOM204);
    second.Inject("on 204");
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(receivedLock);
        return received == "on 204";
    }));
    port.Close();
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(events.List().back(), "disconnect:204");
    EXPECT_EQ(events.List().size(), 4u);
}

// A program that reconnects from OnDisconnect gets the port again: the
// ending connection is closed first, so the device is free.
TEST_P(ReentrantHandlers, ReopenInsideOnDisconnect) {
    drv::VirtualPort device("COM206");
    events.Attach(port);
    std::atomic<int> reopened{0};
    port.SetOnDisconnect([&](TTarnSerialPort* sender, TCommPort p) {
        events.Add("disconnect", p);
        if (reopened++ == 0) sender->Open();
    });
    port.SetPort(spCOM206);
    port.Open();
    port.Close();
    ASSERT_TRUE(WaitUntil([&] { return reopened.load() == 1 && device.OpenCount() == 2; }));
    EXPECT_EQ(port.IsConnected(), spCOM206);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_TRUE(port.SetDTR(false));
    port.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_EQ(events.List(), (std::vector<std::string>{"connect:206", "disconnect:206",
                                                       "connect:206", "disconnect:206"}));
}

INSTANTIATE_TEST_SUITE_P(Synchronization, ReentrantHandlers,
                         ::testing::Combine(::testing::Bool(), tarn::test::kReceiveModes),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "MainThread"
                                                                        : "ReceiveThread") +
                                    tarn::test::ReceiveModeName(std::get<1>(info.param));
                         });

// A Close on a worker while the main thread waits in a read: the read gives
// way, the main thread serves the last event, and Close returns with the
// port closed, long before its bound.
TEST(CloseWhileReading, AWaitingReadGivesWayToClose) {
    drv::VirtualPort device("COM207");
    TTarnSerialPort port;
    EventRecord events;
    events.Attach(port);
    port.SetAutoReceive(false);
    port.SetPort(spCOM207);
    port.Open();

    std::atomic<bool> closed{false};
    std::vector<std::string> seenByClose;
    TCommPort connectedAfterClose = spCOM207;
    std::thread closer([&] {
        // Closes once the read below is waiting in the driver.
        device.WaitQueueQueries(device.QueueQueries() + 3, tarn::test::kEventLimit);
        port.Close();
        connectedAfterClose = port.IsConnected();
        seenByClose = events.List();
        closed = true;
    });
    EXPECT_EQ(port.ReadChars(5), "");
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
    closer.join();
    EXPECT_EQ(connectedAfterClose, spNone);
    EXPECT_EQ(seenByClose, (std::vector<std::string>{"connect:207", "disconnect:207"}));
    EXPECT_FALSE(device.IsOpen());
}

}  // namespace
