// The port details on every target: virtual ports describe themselves, the
// records follow the port list, and ports are matched by USB ids, serial
// number or path.
#include "port_details.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "Tarnserialport.h"
#include "host_stringlist.h"
#include "virtual_port.h"

namespace tarn {
namespace {

using driver::VirtualPort;
using driver::VirtualPortDetails;

const PortDetails* Named(const std::vector<PortDetails>& ports, const std::string& name) {
    auto it = std::find_if(ports.begin(), ports.end(),
                           [&](const PortDetails& port) { return port.name == name; });
    return it == ports.end() ? nullptr : &*it;
}

TEST(PortDetailsVirtual, DescribeThemselvesInTheOrderOfThePortList) {
    VirtualPort plain("VDETAIL1");
    VirtualPort adapter("VDETAIL2", {"Bench adapter", "403", "60A1", "FT1234", "Tarnwerk", "TT-1"});
    EXPECT_THROW(VirtualPort("VDETAIL3", {"", "12345", "1", "", "", ""}), std::invalid_argument);
    EXPECT_THROW(VirtualPort("VDETAIL3", {"", "1", "xy", "", "", ""}), std::invalid_argument);

    const std::vector<PortDetails> ports = ListPortDetails();
    const PortDetails* first = Named(ports, "VDETAIL1");
    const PortDetails* second = Named(ports, "VDETAIL2");
    ASSERT_TRUE(first && second);
    EXPECT_LT(first, second);
    EXPECT_EQ(first->path, "\\\\.\\VDETAIL1");
    EXPECT_EQ(first->kind, PortKind::Virtual);
    EXPECT_EQ(first->description, "Virtual port VDETAIL1");
    EXPECT_EQ(first->vendorId + first->productId + first->serialNumber, "");

    EXPECT_EQ(second->path, "\\\\.\\VDETAIL2");
    EXPECT_EQ(second->kind, PortKind::Virtual);  // USB ids or not
    EXPECT_STREQ(PortKindName(second->kind), "virtual");
    EXPECT_EQ(second->description, "Bench adapter");
    EXPECT_EQ(second->vendorId, "0403");
    EXPECT_EQ(second->productId, "60a1");
    EXPECT_EQ(second->serialNumber, "FT1234");
    EXPECT_EQ(second->manufacturer, "Tarnwerk");
    EXPECT_EQ(second->product, "TT-1");
    EXPECT_EQ(second->stablePath + second->interfaceNumber + second->location, "");

    // One record for each name of the list, in its order.
    host::TStringList names;
    TTarnSerialPort component;
    component.GetExistingCommPortNames(names);
    ASSERT_EQ(static_cast<int>(ports.size()), names.Count());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        std::string upper = ports[i].name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(host::UnicodeToAnsi(names[static_cast<int>(i)]), upper);
        EXPECT_FALSE(ports[i].path.empty()) << ports[i].name;
        EXPECT_FALSE(ports[i].description.empty()) << ports[i].name;
    }

    adapter.Remove();
    EXPECT_EQ(Named(ListPortDetails(), "VDETAIL2"), nullptr);
}

std::string Show(const std::optional<PortMatch>& match) {
    if (!match) return "nothing";
    return "{" + match->vendorId + "," + match->productId + "," + match->serialNumber + "," +
           match->stablePath + "}";
}

TEST(PortMatchParsing, ReadsUsbIdsAndPathsAndRefusesTheRest) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"usb:0403:6001", "{0403,6001,,}"},
        {"USB:403:60a1", "{0403,60a1,,}"},
        {"usb:A:bCdE:FT1:x", "{000a,bcde,FT1:x,}"},
        {"/dev/serial/by-id/usb-FTDI_FT1-if00-port0",
         "{,,,/dev/serial/by-id/usb-FTDI_FT1-if00-port0}"},
        {"\\\\.\\COM3", "{,,,\\\\.\\COM3}"},
        {"usb:12345:1", "nothing"},
        {"usb::1", "nothing"},
        {"usb:1", "nothing"},
        {"usb:1:g", "nothing"},
        {"usb:1:2:", "nothing"},
        {"usb:0x1:2", "nothing"},
        {"ttyUSB0", "nothing"},
        {"", "nothing"},
    };
    for (const auto& c : cases) EXPECT_EQ(Show(ParsePortMatch(c.text)), c.expected) << c.text;
}

TEST(PortMatchFinding, FirstPortByIdsSerialNumberOrPath) {
    VirtualPort first("VMATCH1", {"", "1d50", "6018", "AB12", "", ""});
    VirtualPort second("VMATCH2", {"", "1d50", "6018", "CD34", "", ""});
    const struct {
        const char* text;
        const char* expected;  // the name of the port found, or ""
    } cases[] = {
        {"usb:1D50:6018", "VMATCH1"}, {"usb:1d50:6018:cd34", "VMATCH2"}, {"usb:1d50:6018:EF56", ""},
        {"usb:1d50:6019", ""},        {"\\\\.\\VMATCH2", "VMATCH2"},
    };
    for (const auto& c : cases) {
        const auto match = ParsePortMatch(c.text);
        ASSERT_TRUE(match) << c.text;
        const auto found = FindPort(*match);
        EXPECT_EQ(found ? found->name : "", c.expected) << c.text;
    }
    // Ids given by hand in another form are taken as ParsePortMatch would.
    PortMatch byHand;
    byHand.vendorId = "1D50";
    byHand.productId = "6018";
    byHand.serialNumber = "cd34";
    const auto found = FindPort(byHand);
    EXPECT_EQ(found ? found->name : "", "VMATCH2");
}

}  // namespace
}  // namespace tarn
