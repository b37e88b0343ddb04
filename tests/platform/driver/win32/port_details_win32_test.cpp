// The port details on Windows where no device of the Ports class claims a
// listed port, as under Wine: the record keeps what the port list tells.
#include "port_details.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "pty_pair.h"
#include "registry_edit_win32.h"

namespace tarn {
namespace {

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

TEST(PortDetailsWin32, ListedPortsWithoutADeviceKeepTheListsNames) {
    test::ScopedSerialCommValue value(test::UniqueSerialCommValueName());
    std::string whyNot;
    ASSERT_TRUE(test::SetSerialCommString(value.Name(), u" COM233 ", &whyNot)) << whyNot;
    auto pty = test::PtyPair::Create(&whyNot);
    ASSERT_TRUE(pty) << whyNot;

    const std::vector<PortDetails> ports = ListPortDetails();
    for (const auto& [name, device] :
         {std::pair{std::string("COM233"), Narrow(value.Name())},
          std::pair{pty->PortName(), "\\Device\\TarnPty\\" + pty->PortName()}}) {
        auto it = std::find_if(ports.begin(), ports.end(),
                               [&](const PortDetails& p) { return p.name == name; });
        ASSERT_NE(it, ports.end()) << name;
        EXPECT_EQ(it->path, "\\\\.\\" + name);
        EXPECT_EQ(it->kind, PortKind::Unknown);
        EXPECT_EQ(it->description, "Serial port " + name + " (" + device + ")");
        EXPECT_EQ(it->stablePath + it->vendorId + it->productId + it->serialNumber, "");
    }

    // Paths are compared as Windows compares them.
    const auto found = FindPort(*ParsePortMatch("\\\\.\\com233"));
    EXPECT_EQ(found ? found->name : "", "COM233");
}

}  // namespace
}  // namespace tarn
