// Port identifiers and names: the normalising rule, both conversions, and
// the way Port and CustomPortName select the stored name.
#include <gtest/gtest.h>

#include "Tarnserialport.h"
#include "serial_port_test_access.h"

namespace {

using Access = TTarnSerialPortTestAccess;

struct NameCase {
    const char* name;
    TCommPort expected;
};

TEST(PortNames, StringToCommPortNormalisesThenMatchesCom1To254) {
    const NameCase cases[] = {
        {" com7 ", spCOM7},  {"Com254", spCOM254},  {"COM1", spCOM1},      {"\tCOM10\r\n", spCOM10},
        {"COM99", spCOM99},  {"COM07", spCustom},   {"COM0", spCustom},    {"COM255", spCustom},
        {"COM 7", spCustom}, {"COM", spCustom},     {"COM1000", spCustom}, {"COM-1", spCustom},
        {"LPT1", spCustom},  {"vcom1", spCustom},   {"COM1x", spCustom},   {"", spNone},
        {"   ", spNone},     {"\x01\x1f ", spNone}, {"c\xf6m1", spCustom},
    };
    TTarnSerialPort port;
    for (const NameCase& c : cases) {
        EXPECT_EQ(port.StringToCommPort(c.name), c.expected) << "name: '" << c.name << "'";
    }
}

TEST(PortNames, EveryIdentifierRoundTripsThroughItsName) {
    TTarnSerialPort port;
    for (int n = 1; n <= 254; ++n) {
        const auto id = static_cast<TCommPort>(n);
        const std::string name = port.CommPortToString(id);
        EXPECT_EQ(name, "COM" + std::to_string(n));
        EXPECT_EQ(port.StringToCommPort(name), id);
    }
    EXPECT_EQ(port.CommPortToString(spNone), "");
    EXPECT_EQ(port.CommPortToString(spCOM10), "COM10");
    EXPECT_EQ(port.CommPortToString(spCustom), "vcom1");
    EXPECT_EQ(static_cast<int>(spCustom), 255);
    EXPECT_EQ(static_cast<int>(spCOM254), 254);
}

TEST(PortNames, CustomNameFallsBackWhenBlank) {
    TTarnSerialPort port;
    port.SetCustomPortName("   ");
    EXPECT_EQ(Access::RawCustomPortName(port), "");
    EXPECT_EQ(port.CommPortToString(spCustom), "vcom1");
    port.SetCustomPortName("  MyDev\t");
    EXPECT_EQ(port.CommPortToString(spCustom), "MyDev");
}

TEST(PortNames, SelectingByIdentifierStoresTheName) {
    TTarnSerialPort port;
    EXPECT_EQ(port.GetPort(), spNone);
    port.SetPort(spCOM3);
    EXPECT_EQ(Access::RawPort(port), "COM3");
    port.SetPort(spCustom);
    EXPECT_EQ(Access::RawPort(port), "vcom1");
    EXPECT_EQ(port.GetPort(), spCustom);
    port.SetPort(spNone);
    EXPECT_EQ(Access::RawPort(port), "");
}

TEST(PortNames, CustomNameThatIsAComPortReadsBackAsThatPort) {
    TTarnSerialPort port;
    port.SetCustomPortName("COM7");
    port.SetPort(spCustom);
    EXPECT_EQ(Access::RawPort(port), "COM7");
    EXPECT_EQ(port.GetPort(), spCOM7);
}

TEST(PortNames, CustomNameFollowsWhileACustomPortIsSelected) {
    TTarnSerialPort port;
    port.SetPort(spCustom);
    port.SetCustomPortName(" MyDev ");
    EXPECT_EQ(Access::RawCustomPortName(port), "MyDev");
    EXPECT_EQ(Access::RawPort(port), "MyDev");
    port.SetCustomPortName("  ");
    EXPECT_EQ(Access::RawPort(port), "");
    EXPECT_EQ(port.GetPort(), spNone);

    port.SetPort(spCOM3);
    port.SetCustomPortName("Other");
    EXPECT_EQ(Access::RawPort(port), "COM3");
    EXPECT_EQ(Access::RawCustomPortName(port), "Other");
}

TEST(PortNames, LowerCaseNameIsKeptWhenItAlreadyStandsForThePort) {
    TTarnSerialPort port;
    port.SetPort(spCustom);
    port.SetCustomPortName("com3");
    EXPECT_EQ(port.GetPort(), spCOM3);
    port.SetPort(spCOM3);
    EXPECT_EQ(Access::RawPort(port), "com3");
}

TEST(PortNames, PortSetIsTwoHundredFiftySixBits) {
    TCommPortSet set;
    EXPECT_TRUE(set.Empty());
    set.Include(spCOM3);
    set.Include(spCustom);
    set.Include(spCOM3);
    EXPECT_TRUE(set.Contains(spCOM3));
    EXPECT_TRUE(set.Contains(spCustom));
    EXPECT_FALSE(set.Contains(spNone));
    EXPECT_EQ(set.Count(), 2);
    EXPECT_EQ(set.Bits()[0], 0x08);
    EXPECT_EQ(set.Bits()[31], 0x80);
    set.Exclude(spCOM3);
    EXPECT_EQ(set.Count(), 1);
}

}  // namespace
