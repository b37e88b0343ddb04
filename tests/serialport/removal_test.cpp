// A device that goes away while open, and a component that goes away in
// every state: the fault path, its events and their order, reopening a
// re-plugged device, and destruction with events pending or from inside a
// handler.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "serial_port_test_access.h"
#include "test_line.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using Access = TTarnSerialPortTestAccess;
using tarn::test::ApplyReceiveMode;
using tarn::test::WaitUntil;
using namespace std::chrono_literals;

struct Events {
    std::vector<std::string> list;
    void Attach(TTarnSerialPort& port) {
        port.SetOnFault([this](TTarnSerialPort*, TCommPort p) { Add("fault", p); });
        port.SetOnDisconnect([this](TTarnSerialPort*, TCommPort p) { Add("disconnect", p); });
    }
    void Add(const char* what, TCommPort p) {
        list.push_back(std::string(what) + " " + std::to_string(static_cast<int>(p)));
    }
};

// Each case runs in both receive modes.
class Removal : public ::testing::TestWithParam<tarn::test::ReceiveMode> {};
class Destruction : public ::testing::TestWithParam<tarn::test::ReceiveMode> {};
class Stress : public ::testing::TestWithParam<tarn::test::ReceiveMode> {};

TEST_P(Removal, DetectedFaultedAndClosedInOrder) {
    drv::VirtualPort device("COM210");
    TTarnSerialPort port;
    ApplyReceiveMode(port, GetParam());
    Events events;
    events.Attach(port);
    port.SetPort(spCOM210);
    port.Open();
    device.Remove();
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_EQ(events.list, (std::vector<std::string>{"fault 210", "disconnect 210"}));
    EXPECT_FALSE(Access::HasThread(port));
    EXPECT_FALSE(port.SetDTR(true));
}

TEST_P(Removal, NotDetectedBelowTheCheckThreshold) {
    drv::VirtualPort device("COM211");
    TTarnSerialPort port;
    ApplyReceiveMode(port, GetParam());
    Events events;
    events.Attach(port);
    port.SetPort(spCOM211);
    port.SetDelay(20);
    port.Open();
    device.Remove();
    const std::uint64_t target = device.QueueQueries() + 5;
    ASSERT_TRUE(WaitUntil([&] { return device.QueueQueries() >= target; }));
    EXPECT_FALSE(port.GetIsFaulted());
    EXPECT_EQ(port.IsConnected(), spCOM211);
    EXPECT_TRUE(events.list.empty());
}

TEST_P(Removal, ReplugAndReopenAtOnce) {
    drv::VirtualPort device("COM212");
    TTarnSerialPort port;
    ApplyReceiveMode(port, GetParam());
    std::atomic<bool> faulted{false};
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) { faulted = true; });
    port.SetPort(spCOM212);
    port.Open();
    device.Remove();
    ASSERT_TRUE(WaitUntil([&] { return faulted.load(); }));
    device.Plug();
    // The old connection may still be winding down; Open waits for it and
    // then opens the device again.
    port.Open();
    EXPECT_EQ(port.IsConnected(), spCOM212);
    EXPECT_FALSE(port.GetIsFaulted());
    EXPECT_EQ(device.OpenCount(), 2);
}

TEST_P(Removal, FaultHandlerThatThrowsOnceIsCalledTwice) {
    drv::VirtualPort device("COM213");
    TTarnSerialPort port;
    ApplyReceiveMode(port, GetParam());
    int faults = 0;
    int disconnects = 0;
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) {
        if (++faults == 1) throw std::runtime_error("first fault handler fails");
    });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { ++disconnects; });
    port.SetPort(spCOM213);
    port.Open();
    device.Remove();
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_EQ(faults, 2);
    EXPECT_EQ(disconnects, 1);
}

TEST_P(Removal, FaultHandlerThatAlwaysThrowsStillEndsTheConnection) {
    drv::VirtualPort device("COM214");
    TTarnSerialPort port;
    ApplyReceiveMode(port, GetParam());
    port.SetOnFault([](TTarnSerialPort*, TCommPort) { throw std::runtime_error("always"); });
    port.SetOnDisconnect([](TTarnSerialPort*, TCommPort) { throw std::runtime_error("also"); });
    port.SetPort(spCOM214);
    port.Open();
    device.Remove();
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    // The thread is gone and left nothing behind that a call could reach.
    ASSERT_TRUE(WaitUntil([&] { return !Access::HasThread(port); }));
    EXPECT_FALSE(port.GetCTS());
    port.Close();
    device.Plug();
    port.Open();
    EXPECT_EQ(port.IsConnected(), spCOM214);
}

TEST_P(Removal, CloseInsideTheFaultHandlerDoesNotWait) {
    drv::VirtualPort device("COM215");
    TTarnSerialPort port;
    ApplyReceiveMode(port, GetParam());
    std::atomic<bool> faulted{false};
    port.SetOnFault([&](TTarnSerialPort* sender, TCommPort) {
        sender->Close();
        faulted = true;
    });
    port.SetPort(spCOM215);
    port.Open();
    const auto start = std::chrono::steady_clock::now();
    device.Remove();
    ASSERT_TRUE(WaitUntil([&] { return faulted.load() && port.IsConnected() == spNone; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

TEST_P(Destruction, InEveryState) {
    { TTarnSerialPort closed; }
    {
        drv::VirtualPort device("VDEST1");
        auto port = std::make_unique<TTarnSerialPort>();
        ApplyReceiveMode(*port, GetParam());
        tarn::test::SelectPort(*port, "VDEST1");
        port->Open();
        port.reset();  // open and idle
        EXPECT_FALSE(device.IsOpen());
    }
    {
        // Events waiting for the main thread when the component goes: they
        // run, but call nothing of a component that is being destroyed.
        drv::VirtualPort device("VDEST2");
        auto port = std::make_unique<TTarnSerialPort>();
        ApplyReceiveMode(*port, GetParam());
        std::atomic<int> calls{0};
        port->SetOnReceive([&](TTarnSerialPort*, std::string) { ++calls; });
        tarn::test::SelectPort(*port, "VDEST2");
        port->SetDelay(1);
        port->Open();
        device.Inject("pending");
        // Once the thread has taken the bytes it waits for this thread to
        // run OnReceive, which this loop does not do.
        const auto deadline = std::chrono::steady_clock::now() + tarn::test::kEventLimit;
        while (device.InputQueued() != 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        ASSERT_EQ(device.InputQueued(), 0u);
        port.reset();
        EXPECT_EQ(calls, 0);
        EXPECT_FALSE(device.IsOpen());
    }
    {
        drv::VirtualPort device("VDEST3");
        auto port = std::make_unique<TTarnSerialPort>();
        ApplyReceiveMode(*port, GetParam());
        tarn::test::SelectPort(*port, "VDEST3");
        port->Open();
        device.Remove();
        ASSERT_TRUE(WaitUntil([&] { return port->IsConnected() == spNone; }));
        port.reset();  // after a fault
    }
}

TEST_P(Destruction, FromInsideItsOwnHandler) {
    for (bool synchronized : {true, false}) {
        drv::VirtualPort device("VDEST4");
        auto* port = new TTarnSerialPort();
        ApplyReceiveMode(*port, GetParam());
        std::atomic<bool> destroyed{false};
        port->SetNeedSynchronization(synchronized);
        port->SetOnReceive([&](TTarnSerialPort* sender, std::string) {
            delete sender;
            destroyed = true;
        });
        tarn::test::SelectPort(*port, "VDEST4");
        port->Open();
        device.Inject("end");
        ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); })) << synchronized;
        // The detached thread closes the port by itself.
        EXPECT_TRUE(device.WaitOpen(false, tarn::test::kEventLimit)) << synchronized;
    }
}

TEST_P(Destruction, OwnerFreesAnOpenComponent) {
    drv::VirtualPort device("VDEST5");
    auto form = std::make_unique<tarn::host::TComponent>(nullptr);
    auto* port = new TTarnSerialPort(form.get());
    ApplyReceiveMode(*port, GetParam());
    tarn::test::SelectPort(*port, "VDEST5");
    port->Open();
    form.reset();
    EXPECT_FALSE(device.IsOpen());
}

// Opens, receives, removes and closes over and over while other threads use
// the control operations; the sanitizers watch for races and stale objects.
TEST_P(Stress, OpenReceiveRemoveCloseWhileOthersControlThePort) {
    drv::VirtualPort device("VSTRESS1");
    TTarnSerialPort port;
    ApplyReceiveMode(port, GetParam());
    std::atomic<int> chunks{0};
    port.SetOnReceive([&](TTarnSerialPort*, std::string) { ++chunks; });
    tarn::test::SelectPort(port, "VSTRESS1");
    port.SetDelay(1);
    port.SetMinCheckDisconnectedInterval(1);

    std::atomic<bool> stop{false};
    std::vector<std::thread> controllers;
    // Joins the controllers on every way out, a failed assertion included.
    struct JoinAll {
        std::atomic<bool>& stop;
        std::vector<std::thread>& threads;
        ~JoinAll() {
            stop = true;
            for (auto& t : threads) {
                if (t.joinable()) t.join();
            }
        }
    } joinAll{stop, controllers};
    for (int i = 0; i < 2; ++i) {
        controllers.emplace_back([&, i] {
            while (!stop) {
                port.SetDTR(i == 0);
                port.GetCTS();
                port.ClearOutputBuffer();
                port.IsConnected();
                port.GetIsFaulted();
                port.SetOnLineStatusChange([](TTarnSerialPort*, TLineStatusSet) {});
                std::this_thread::yield();
            }
        });
    }
    for (int round = 0; round < 40; ++round) {
        if (!device.IsPresent()) device.Plug();
        port.Open();
        device.Inject("data");
        if (round % 3 == 0) {
            device.Remove();
            WaitUntil([&] { return port.IsConnected() == spNone; });
        }
        port.Close();
    }
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_FALSE(Access::HasThread(port));
    EXPECT_TRUE(device.WaitOpen(false, tarn::test::kEventLimit));
}

// A name taken off the port list while its device stays is noticed by a
// thread that sleeps in the driver, whose wait ends by itself on all else:
// on a virtual port the watch of the port list wakes it, while a terminal
// opened by a link that the system's watch does not see keeps looking on a
// period of its own. With the presence check off the thread has nothing to
// look at and sleeps without a period; a Delay that switches the check on
// wakes it, also when a read waits on the port beside it and may take the
// wake.
class Unlisting : public ::testing::TestWithParam<tarn::test::LineKind> {
protected:
    void ExpectNoticed(bool checkSwitchedOnLate, bool readWaits = false,
                       bool checkOnAtOpen = false) {
        std::string why;
        auto line = tarn::test::TestLine::CreateUnlistable(GetParam(), "VUNLIST1", &why);
        ASSERT_NE(line, nullptr) << why;
        TTarnSerialPort port;
        Events events;
        events.Attach(port);
        std::atomic<bool> received{false};
        port.SetOnReceive([&](TTarnSerialPort*, std::string) { received = true; });
        port.SetWakeOnData(true);
        port.SetAutoReceive(!readWaits);
        const std::uint32_t delay = port.GetDelay();
        const std::uint32_t unchecked = port.GetMinCheckDisconnectedInterval() - 1;
        if (checkSwitchedOnLate && !checkOnAtOpen) port.SetDelay(unchecked);
        tarn::test::SelectPort(port, line->Name());
        port.Open();
        ASSERT_NE(port.IsConnected(), spNone);
        // A terminal is a numbered COM port under Wine, a custom one elsewhere.
        const std::string opened = std::to_string(static_cast<int>(port.GetPort()));
        std::future<std::string> read;
        if (readWaits)
            read = std::async(std::launch::async, [&] { return port.ReadStringLine(60); });
        // Once it has delivered a chunk, or the read has taken it, the
        // thread sleeps in the driver.
        ASSERT_TRUE(line->Inject("x"));
        ASSERT_TRUE(WaitUntil(
            [&] { return readWaits ? port.GetLastReadBuffer() == u"x" : received.load(); }));

        // The list's change comes while the check is off, and must still
        // count once it is on again.
        if (checkSwitchedOnLate && checkOnAtOpen) port.SetDelay(unchecked);
        ASSERT_TRUE(line->Unlist());
        if (checkSwitchedOnLate) {
            // Past the look that may follow a chunk, into the thread's sleep
            // (the change is seen either way; this lets it be missed).
            const auto asleep =
                std::chrono::steady_clock::now() + 5 * std::chrono::milliseconds(delay);
            WaitUntil([&] { return std::chrono::steady_clock::now() >= asleep; });
            port.SetDelay(delay);
        }
        ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
        EXPECT_TRUE(port.GetIsFaulted());
        EXPECT_EQ(events.list,
                  (std::vector<std::string>{"fault " + opened, "disconnect " + opened}));
        if (readWaits) {
            ASSERT_EQ(read.wait_for(tarn::test::kEventLimit), std::future_status::ready);
            EXPECT_EQ(read.get(), "");
        }
    }
};

TEST_P(Unlisting, NoticedByAThreadWaitingForData) { ExpectNoticed(false); }
TEST_P(Unlisting, NoticedOnceADelaySwitchesTheCheckOn) { ExpectNoticed(true); }
TEST_P(Unlisting, NoticedOnceADelaySwitchesTheCheckOnWhileAReadWaits) { ExpectNoticed(true, true); }
TEST_P(Unlisting, NoticedOnceADelaySwitchesTheCheckBackOn) { ExpectNoticed(true, true, true); }

INSTANTIATE_TEST_SUITE_P(Lines, Unlisting, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

const auto kModeName = [](const auto& info) { return tarn::test::ReceiveModeName(info.param); };
INSTANTIATE_TEST_SUITE_P(Modes, Removal, tarn::test::kReceiveModes, kModeName);
INSTANTIATE_TEST_SUITE_P(Modes, Destruction, tarn::test::kReceiveModes, kModeName);
INSTANTIATE_TEST_SUITE_P(Modes, Stress, tarn::test::kReceiveModes, kModeName);

}  // namespace
