// What only virtual ports do: the owner's side of the line, their names,
// and every fault they can make happen. What they do as every backend's
// ports do is in the driver contract (driver_contract_test.cpp).
#include "virtual_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "port_registry.h"
#include "serial_driver.h"

namespace tarn::driver {
namespace {

using namespace std::chrono_literals;

HANDLE Open(const std::string& name) { return CreateFileA("\\\\.\\" + name); }

std::vector<std::u16string> ListedPorts() {
    std::vector<RegistryValue> values;
    std::vector<std::u16string> names;
    if (ReadRegistryKey(HKEY_LOCAL_MACHINE, kSerialCommKey, values)) {
        for (const auto& v : values) names.push_back(v.data);
    }
    return names;
}

bool Listed(const std::u16string& name) {
    auto names = ListedPorts();
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(VirtualPortOpening, TheOwnerSeesWhileItIsOpenAndHowOftenItOpened) {
    VirtualPort port("VCOM41");
    HANDLE h = Open("vcom41");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(Open("VCOM41"), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.OpenCount(), 1);
}

TEST(VirtualPortOpening, RejectsBadAndDuplicateNames) {
    VirtualPort port("VCOM42");
    EXPECT_THROW(VirtualPort("vcom42"), std::invalid_argument);
    EXPECT_THROW(VirtualPort("  "), std::invalid_argument);
    EXPECT_THROW(VirtualPort("a/b"), std::invalid_argument);
}

TEST(VirtualPortOpening, TakesPrecedenceOverSystemDeviceOfSameName) {
    // COM1 may or may not exist on this machine; the virtual one is opened
    // either way and the system's is left alone.
    VirtualPort port("COM1");
    HANDLE h = Open("COM1");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.IsOpen());
    port.RefuseOpens(ERROR_SHARING_VIOLATION);
    CloseHandle(h);
    EXPECT_EQ(Open("COM1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST(VirtualPortData, InjectionStopsAtTheInputQueueAndEachOpeningIsKeptApart) {
    VirtualPort port("VQUEUE1");
    HANDLE h = Open("VQUEUE1");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::uint32_t n = 0;
    ASSERT_TRUE(WriteFile(h, "unfinished", 10, &n));
    EXPECT_EQ(port.Inject(std::string(kDefaultInputQueue + 1, 'a')), kDefaultInputQueue);
    std::uint32_t errors = 0;
    ASSERT_TRUE(ClearCommError(h, &errors, nullptr));
    EXPECT_EQ(errors, CE_RXOVER);
    ASSERT_TRUE(ClearCommError(h, &errors, nullptr));
    EXPECT_EQ(errors, 0u) << "told once";
    // What a device keeps for later is not lost.
    ASSERT_TRUE(SetupComm(h, 100, 100));
    ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
    EXPECT_EQ(port.InjectInto(1, std::string(150, 'y')), 100u);
    ASSERT_TRUE(ClearCommError(h, &errors, nullptr));
    EXPECT_EQ(errors, 0u);
    CloseHandle(h);

    EXPECT_EQ(port.InjectInto(1, "late"), 0u);
    CloseHandle(Open("VQUEUE1"));  // writes nothing
    h = Open("VQUEUE1");
    ASSERT_TRUE(WriteFile(h, "*IDN?\r", 6, &n));
    const VirtualWrites before = port.WaitWrittenByOneOpening(1s);
    const VirtualWrites now = port.WaitWrittenByOneOpening(1s);
    EXPECT_EQ(before.bytes + "@" + std::to_string(before.opening), "unfinished@1");
    EXPECT_EQ(now.bytes + "@" + std::to_string(now.opening), "*IDN?\r@3");
    CloseHandle(h);
}

TEST(VirtualPortFaults, PartialWriteRefusedStateAndFailedQueueQuery) {
    VirtualPort port("VCOM45");
    HANDLE h = Open("VCOM45");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    port.LimitNextWrite(2);
    std::uint32_t written = 0;
    ASSERT_TRUE(WriteFile(h, "abcdef", 6, &written));
    EXPECT_EQ(written, 2u);
    ASSERT_TRUE(WriteFile(h, "gh", 2, &written));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(port.TakeWritten(), "abgh");
    EXPECT_EQ(port.TakeWritten(), "");

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    port.RefuseNextCommState();
    EXPECT_FALSE(SetCommState(h, dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(SetCommState(h, dcb));
    dcb.ByteSize = 9;
    EXPECT_FALSE(SetCommState(h, dcb));
    ASSERT_EQ(port.AppliedStates().size(), 1u);
    EXPECT_EQ(port.AppliedStates()[0].BaudRate, 19200u);

    port.FailNextQueueQuery();
    COMSTAT stat{};
    EXPECT_FALSE(ClearCommError(h, nullptr, &stat));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_TRUE(ClearCommError(h, nullptr, &stat));
    CloseHandle(h);
}

TEST(VirtualPortFaults, HeldWriteEndsAtItsTimeoutOrOnRelease) {
    VirtualPort port("VCOM46");
    HANDLE h = Open("VCOM46");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommTimeouts(h, COMMTIMEOUTS{0xFFFFFFFFu, 0, 0, 10, 100}));
    port.HoldWrites(true);
    std::uint32_t written = 9;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WriteFile(h, "abc", 3, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 120ms);

    ASSERT_TRUE(SetCommTimeouts(h, COMMTIMEOUTS{0xFFFFFFFFu, 0, 0, 0, 0}));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::uint32_t n = 0;
        EXPECT_TRUE(WriteFile(h, "xyz", 3, &n));
        EXPECT_EQ(n, 3u);
        done = true;
    });
    port.HoldWrites(false);
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(port.TakeWritten(), "xyz");
    CloseHandle(h);
}

TEST(VirtualPortFaults, CloseWhileAnotherThreadIsInsideAWrite) {
    VirtualPort port("VCOM47");
    HANDLE h = Open("VCOM47");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommTimeouts(h, COMMTIMEOUTS{0xFFFFFFFFu, 0, 0, 0, 0}));
    port.HoldWrites(true);
    std::atomic<bool> writeFailed{false};
    std::thread writer([&] {
        std::uint32_t n = 7;
        writeFailed = !WriteFile(h, "late", 4, &n) && n == 0;
    });
    ASSERT_TRUE(port.WaitHeldWrites(1, 10s));
    // The handle goes at once: the port can be opened again although the
    // write is still running, and the write ends as one on a closed handle.
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(EscapeCommFunction(h, SETDTR));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE again = Open("VCOM47");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    port.HoldWrites(false);
    writer.join();
    EXPECT_TRUE(writeFailed);
    EXPECT_EQ(port.TakeWritten(), "");
    CloseHandle(again);
}

TEST(VirtualPortLines, EscapesAndModemStatus) {
    VirtualPort port("VCOM48");
    HANDLE h = Open("VCOM48");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.ByteSize = 8;
    dcb.Flags = DCB_fBinary | (DTR_CONTROL_ENABLE << DCB_fDtrControlShift);
    ASSERT_TRUE(SetCommState(h, dcb));
    EXPECT_TRUE(port.Dtr());
    EXPECT_FALSE(port.Rts());

    EXPECT_TRUE(EscapeCommFunction(h, SETRTS));
    EXPECT_TRUE(EscapeCommFunction(h, CLRDTR));
    EXPECT_TRUE(EscapeCommFunction(h, SETBREAK));
    EXPECT_FALSE(EscapeCommFunction(h, 77));
    EXPECT_TRUE(port.Rts());
    EXPECT_FALSE(port.Dtr());
    EXPECT_TRUE(port.BreakOn());
    EXPECT_EQ(port.Escapes(), (std::vector<std::uint32_t>{SETRTS, CLRDTR, SETBREAK}));

    port.SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
    std::uint32_t status = 0;
    ASSERT_TRUE(GetCommModemStatus(h, &status));
    EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON);

    port.Inject("junk");
    ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
    EXPECT_EQ(port.InputQueued(), 0u);
    EXPECT_EQ(port.Purges(), (std::vector<std::uint32_t>{PURGE_RXCLEAR}));
    CloseHandle(h);
}

// A closed port stays listed, and a port plugged back in is a new device.
TEST(VirtualPortPresence, APluggedBackPortOpensAfreshWhileOldHandlesStayDead) {
    auto port = std::make_unique<VirtualPort>("VCOM49");
    EXPECT_TRUE(Listed(u"VCOM49"));
    HANDLE h = Open("VCOM49");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    port->Remove();
    port->Plug();
    EXPECT_TRUE(Listed(u"VCOM49"));
    COMSTAT stat{};
    EXPECT_FALSE(ClearCommError(h, nullptr, &stat)) << "an old handle stays dead";
    HANDLE again = Open("VCOM49");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
    CloseHandle(h);
    port.reset();
    EXPECT_FALSE(Listed(u"VCOM49"));
}

}  // namespace
}  // namespace tarn::driver
