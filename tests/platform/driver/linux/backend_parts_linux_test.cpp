// The parts of the termios backend that need no terminal: name resolution,
// the receive filter, the hardware listing, the port-list key, system texts
// and the dynamic loader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "device_name_linux.h"
#include "host_library.h"
#include "line_settings_linux.h"
#include "port_registry.h"
#include "receive_filter_linux.h"
#include "serial_driver.h"
#include "serial_hardware_linux.h"

namespace tarn::driver {
namespace {

namespace fs = std::filesystem;

class ScratchTree : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/tarn-parts-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    fs::path root_;
};

TEST(DeviceNames, MapWindowsNamesToDeviceFiles) {
    EXPECT_EQ(StripDevicePrefix("\\\\.\\COM3"), "COM3");
    EXPECT_EQ(StripDevicePrefix("\\\\.\\/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(StripDevicePrefix("COM3"), "COM3");

    EXPECT_EQ(DeviceFileForName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(DeviceFileForName("com10"), "/dev/ttyS9");
    EXPECT_EQ(DeviceFileForName("Com254"), "/dev/ttyS253");
    EXPECT_EQ(DeviceFileForName("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(DeviceFileForName("ttyUSB0"), "/dev/ttyUSB0");
    // Not "COM" and a number from 1: an ordinary device name.
    EXPECT_EQ(DeviceFileForName("COM0"), "/dev/COM0");
    EXPECT_EQ(DeviceFileForName("COM01"), "/dev/COM01");
    EXPECT_EQ(DeviceFileForName("COM"), "/dev/COM");
    EXPECT_EQ(DeviceFileForName("COM1X"), "/dev/COM1X");
}

TEST_F(ScratchTree, PathsResolveWithoutRegardToCase) {
    fs::create_directories(root_ / "Sub");
    std::ofstream(root_ / "Sub" / "ttyUSB0").put('x');
    const std::string base = root_.string();
    EXPECT_EQ(FindPathIgnoringCase(base + "/SUB/TTYUSB0"), base + "/Sub/ttyUSB0");
    EXPECT_EQ(FindPathIgnoringCase(base + "/sub/ttyusb0"), base + "/Sub/ttyUSB0");
    EXPECT_EQ(FindPathIgnoringCase(base + "/Sub/ttyUSB0"), base + "/Sub/ttyUSB0");
    EXPECT_EQ(FindPathIgnoringCase(base + "/SUB/ttyUSB1"), base + "/SUB/ttyUSB1");
    // An exact match wins over one that differs in case.
    std::ofstream(root_ / "Sub" / "TTYUSB0").put('y');
    EXPECT_EQ(FindPathIgnoringCase(base + "/Sub/TTYUSB0"), base + "/Sub/TTYUSB0");
    EXPECT_EQ(FindPathIgnoringCase(base + "/Sub/ttyusb0"), base + "/Sub/TTYUSB0");
}

// A name with a slash in it is first a path from the working directory,
// then, as before, one under /dev.
TEST_F(ScratchTree, NamesWithASlashAreLookedForInTheWorkingDirectoryFirst) {
    fs::create_directories(root_ / "Sub");
    std::ofstream(root_ / "Sub" / "ttyUSB0").put('x');
    const fs::path home = fs::current_path();
    fs::current_path(root_);
    const std::string here = fs::current_path().string();
    EXPECT_EQ(FindDeviceFile("Sub/ttyUSB0"), here + "/Sub/ttyUSB0");
    EXPECT_EQ(FindDeviceFile("./sub/TTYUSB0"), here + "/Sub/ttyUSB0");
    EXPECT_EQ(FindDeviceFile("pts/ptmx"), "/dev/pts/ptmx");
    fs::current_path(home);
}

TEST(LineSettingsTranslation, FramingMapsToTermiosAndBack) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        for (std::uint8_t parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
            for (std::uint8_t stop = ONESTOPBIT; stop <= TWOSTOPBITS; ++stop) {
                SCOPED_TRACE(testing::Message() << int(bits) << " bits, parity " << int(parity)
                                                << ", stop code " << int(stop));
                DCB dcb{};
                dcb.BaudRate = 9600;
                dcb.ByteSize = bits;
                dcb.Parity = parity;
                dcb.StopBits = stop;
                dcb.XonChar = 0x11;
                dcb.XoffChar = 0x13;
                ASSERT_TRUE(IsApplicableDcb(dcb));
                const LineTermios t = TermiosForDcb(dcb, LineTermios{});
                EXPECT_EQ(t.cflag & CSIZE, sizes[bits - 5]);
                EXPECT_EQ((t.cflag & PARENB) != 0, parity != NOPARITY);
                EXPECT_EQ((t.cflag & PARODD) != 0, parity == ODDPARITY || parity == MARKPARITY);
                EXPECT_EQ((t.cflag & CMSPAR) != 0, parity == MARKPARITY || parity == SPACEPARITY);
                EXPECT_EQ((t.cflag & CSTOPB) != 0, stop != ONESTOPBIT);
                // Back again, exactly for the pairs Windows allows; CSTOPB
                // reads as 1.5 stop bits with 5 data bits and as 2 otherwise.
                const DCB back = DcbForTermios(t);
                EXPECT_EQ(back.ByteSize, bits);
                EXPECT_EQ(back.Parity, parity);
                const std::uint8_t expectedStop = stop == ONESTOPBIT ? ONESTOPBIT
                                                  : bits == 5        ? ONE5STOPBITS
                                                                     : TWOSTOPBITS;
                EXPECT_EQ(back.StopBits, expectedStop);
            }
        }
    }
}

TEST(LineSettingsTranslation, LinesUnderFlowControlAreLeftToTheDriver) {
    DCB dcb{};
    dcb.Flags = DCB_fOutxCtsFlow | (RTS_CONTROL_TOGGLE << DCB_fRtsControlShift) |
                (DTR_CONTROL_HANDSHAKE << DCB_fDtrControlShift);
    ModemLineRequest lines = ModemLinesForDcb(dcb);
    EXPECT_FALSE(lines.driveRts);
    EXPECT_TRUE(lines.driveDtr);
    EXPECT_TRUE(lines.dtrOn);
    dcb.Flags = (RTS_CONTROL_DISABLE << DCB_fRtsControlShift) |
                (DTR_CONTROL_DISABLE << DCB_fDtrControlShift);
    lines = ModemLinesForDcb(dcb);
    EXPECT_TRUE(lines.driveRts && !lines.rtsOn);
    EXPECT_TRUE(lines.driveDtr && !lines.dtrOn);
}

// Decodes into a buffer of its own and, with a copy of the filter, in
// place, as the driver decodes a large read: both must agree.
std::string Filter(ReceiveFilter& filter, const std::string& in) {
    ReceiveFilter inPlace = filter;
    std::string out(in.size(), '\0');
    const std::size_t n = filter.Process(reinterpret_cast<const std::uint8_t*>(in.data()),
                                         in.size(), reinterpret_cast<std::uint8_t*>(out.data()));
    EXPECT_LE(n, in.size());
    out.resize(n);
    std::string same = in;
    auto* bytes = reinterpret_cast<std::uint8_t*>(same.data());
    same.resize(inPlace.Process(bytes, same.size(), bytes));
    EXPECT_EQ(same, out);
    return out;
}

TEST(ReceiveFilter, DecodesErrorMarksEvenWhenReadsCutThem) {
    ReceiveFilter filter;
    filter.Configure(true, false, '?', false);
    const std::string stream(
        "a\xff\xff"
        "b\xff\x00"
        "c\xff\x00\x00"
        "d",
        11);
    EXPECT_EQ(Filter(filter, stream), std::string("a\xff"
                                                  "bc\0d",
                                                  6));
    // The same stream one byte at a time.
    std::string got;
    for (char c : stream) got += Filter(filter, std::string(1, c));
    EXPECT_EQ(got, std::string("a\xff"
                               "bc\0d",
                               6));
    EXPECT_EQ(filter.Held(), 0u);
    EXPECT_EQ(Filter(filter, std::string("\xff\x00", 2)), "");
    EXPECT_EQ(filter.Held(), 2u);
    filter.Reset();
    EXPECT_EQ(Filter(filter, "z"), "z");
}

TEST(ReceiveFilter, ReplacesDamagedBytesAndDropsNulsWhenAsked) {
    ReceiveFilter filter;
    filter.Configure(true, true, '?', false);
    EXPECT_EQ(Filter(filter, std::string("a\xff\x00"
                                         "b\xff\x00\x00",
                                         7)),
              std::string("a?\0", 3));
    filter.Configure(true, true, '?', true);
    EXPECT_EQ(Filter(filter, std::string("a\0\xff\x00\x00"
                                         "b",
                                         6)),
              "ab");
    // Without marking, 0xFF is an ordinary byte.
    filter.Configure(false, true, '?', true);
    EXPECT_EQ(Filter(filter, std::string("\xff\x00"
                                         "c",
                                         3)),
              "\xff"
              "c");
}

TEST_F(ScratchTree, HardwareListingKeepsDevicesWithADriverAndAChip) {
    const fs::path driver = root_ / "driver";
    fs::create_directories(driver);
    auto tty = [&](const std::string& name, const char* type, bool withDriver) {
        fs::create_directories(root_ / "class" / name / "device");
        if (withDriver)
            fs::create_directory_symlink(driver, root_ / "class" / name / "device" / "driver");
        if (type != nullptr) std::ofstream(root_ / "class" / name / "type") << type << "\n";
    };
    tty("ttyS0", "0", true);  // legacy node, no chip fitted
    tty("ttyS1", "4", true);
    tty("ttyS10", "4", true);
    tty("ttyS2", "4", true);
    tty("ttyUSB0", nullptr, true);
    tty("ttyACM0", nullptr, false);  // no driver bound
    tty("tty1", nullptr, false);
    fs::create_directories(root_ / "class" / "ttyUSB1" / "device");
    fs::create_directory_symlink(root_ / "gone", root_ / "class" / "ttyUSB1" / "device" / "driver");

    const auto found = ListSerialHardware((root_ / "class").string());
    std::vector<std::string> listed;
    for (const auto& hw : found) listed.push_back(hw.kernelName + "=" + hw.portName);
    EXPECT_EQ(listed, (std::vector<std::string>{"ttyS1=COM2", "ttyS2=COM3", "ttyS10=COM11",
                                                "ttyUSB0=ttyUSB0"}));
    EXPECT_TRUE(ListSerialHardware((root_ / "nothing").string()).empty());

    // One entry looked up alone is what the listing says of it.
    for (const std::string name : {"ttyS0", "ttyS1", "ttyS10", "ttyUSB0", "ttyACM0", "tty1",
                                   "ttyUSB1", "ttyS3", "", ".", "..", "ttyS1/device"}) {
        SCOPED_TRACE(name);
        const auto one = FindSerialHardware(name, (root_ / "class").string());
        const auto listed = std::find_if(found.begin(), found.end(),
                                         [&](const auto& hw) { return hw.kernelName == name; });
        ASSERT_EQ(one.has_value(), listed != found.end());
        if (one) {
            EXPECT_EQ(one->portName, listed->portName);
        }
    }
}

TEST(PortListKey, OnlyThePortListKeyExists) {
    std::vector<RegistryValue> values;
    EXPECT_TRUE(ReadOsRegistryKey(HKEY_LOCAL_MACHINE, kSerialCommKey, values));
    for (const RegistryValue& value : values) {
        EXPECT_TRUE(value.isString);
        EXPECT_EQ(value.name.rfind(u"\\Device\\", 0), 0u);
        EXPECT_FALSE(value.data.empty());
    }
    values.clear();
    EXPECT_FALSE(ReadOsRegistryKey(HKEY_CURRENT_USER, kSerialCommKey, values));
    EXPECT_FALSE(ReadOsRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE", values));
    EXPECT_TRUE(values.empty());
}

TEST(SystemTexts, AreTheWindowsWordingsWithoutALineBreak) {
    EXPECT_EQ(SystemErrorText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
    EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED), "Access is denied.");
    EXPECT_EQ(SystemErrorText(ERROR_BAD_COMMAND), "The device does not recognize the command.");
    EXPECT_EQ(SystemErrorText(ERROR_GEN_FAILURE),
              "A device attached to the system is not functioning.");
    EXPECT_EQ(SystemErrorText(ERROR_INVALID_PARAMETER), "The parameter is incorrect.");
    EXPECT_EQ(SystemErrorText(ERROR_SEM_TIMEOUT), "The semaphore timeout period has expired.");
    EXPECT_EQ(SystemErrorText(0x12345), "Unknown error (0x12345)");
    for (std::uint32_t code :
         {0u, 2u, 3u, 5u, 6u, 8u, 22u, 31u, 32u, 50u, 87u, 121u, 995u, 1117u, 1617u}) {
        const std::string text = SystemErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
        EXPECT_EQ(text.find("Unknown"), std::string::npos) << code;
    }
}

TEST(DynamicBinding, WindowsLibrariesAreAbsentAndOthersBind) {
    EXPECT_EQ(host::GetModuleHandleA("winmm.dll"), nullptr);
    EXPECT_EQ(host::LoadLibraryA("winmm.dll"), nullptr);
    EXPECT_EQ(host::GetProcAddress(nullptr, "timeBeginPeriod"), nullptr);

    host::HMODULE libc = host::LoadLibraryA("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_EQ(host::GetModuleHandleA("libc.so.6"), libc);
    EXPECT_NE(host::GetProcAddress(libc, "strlen"), nullptr);
    EXPECT_EQ(host::GetProcAddress(libc, "timeBeginPeriod"), nullptr);
}

}  // namespace
}  // namespace tarn::driver
