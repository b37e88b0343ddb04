// The ports present, as the component lists them: virtual ports stand in
// for devices in every build.
#include <gtest/gtest.h>

#include "Tarnserialport.h"
#include "host_stringlist.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;

bool Listed(TTarnSerialPort& port, const char16_t* name) {
    tarn::host::TStringList names;
    port.GetExistingCommPortNames(names);
    for (int i = 0; i < names.Count(); ++i) {
        if (names[i] == name) return true;
    }
    return false;
}

TEST(Discovery, VirtualPortsAreListedNormalised) {
    TTarnSerialPort port;
    {
        drv::VirtualPort custom("vdisc1");
        drv::VirtualPort numbered(" com204 ");
        const TCommPortSet set = port.GetExistingCommPorts();
        EXPECT_TRUE(set.Contains(spCOM204));
        EXPECT_TRUE(set.Contains(spCustom));
        EXPECT_FALSE(set.Contains(spNone));
        EXPECT_TRUE(Listed(port, u"VDISC1"));
        EXPECT_TRUE(Listed(port, u"COM204"));
        EXPECT_TRUE(port.IsExistingCommPort(u"vdisc1"));
        EXPECT_TRUE(port.IsExistingCommPort(u"Com204"));
        EXPECT_FALSE(port.IsExistingCommPort(u" COM204")) << "the name asked for is not trimmed";
    }
    EXPECT_FALSE(port.IsExistingCommPort(u"VDISC1"));
    EXPECT_FALSE(port.GetExistingCommPorts().Contains(spCOM204));
}

TEST(Discovery, DuplicatesAreListedTwiceButCountOnce) {
    TTarnSerialPort port;
    drv::VirtualPort a("COM205");
    drv::VirtualPort b(" COM205");
    tarn::host::TStringList names;
    names.Add(u"stale entry");
    port.GetExistingCommPortNames(names);
    EXPECT_EQ(names.IndexOf(u"stale entry"), -1) << "the list is emptied first";
    int count = 0;
    for (int i = 0; i < names.Count(); ++i) count += names[i] == u"COM205" ? 1 : 0;
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(port.GetExistingCommPorts().Contains(spCOM205));
}

}  // namespace
