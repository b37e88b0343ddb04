// The ports present as the component reads them from the system's port
// list, with values that the test puts there.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "host_exception.h"
#include "host_stringlist.h"
#include "registry_edit_win32.h"

namespace {

class DiscoveryRegistry : public ::testing::Test {
protected:
    void Add(const std::u16string& data) {
        values_.push_back(std::make_unique<tarn::test::ScopedSerialCommValue>(
            tarn::test::UniqueSerialCommValueName()));
        std::string whyNot;
        ASSERT_TRUE(tarn::test::SetSerialCommString(values_.back()->Name(), data, &whyNot))
            << whyNot;
    }

    int CountListed(const std::u16string& name) {
        tarn::host::TStringList names;
        port.GetExistingCommPortNames(names);
        int count = 0;
        for (int i = 0; i < names.Count(); ++i) count += names[i] == name ? 1 : 0;
        return count;
    }

    TTarnSerialPort port;
    std::vector<std::unique_ptr<tarn::test::ScopedSerialCommValue>> values_;
};

TEST_F(DiscoveryRegistry, LowerCaseBlankAndDuplicateValues) {
    Add(u" com241 ");
    Add(u"COM242");
    Add(u"com242");
    Add(u"   ");
    Add(u"MyAdapter");
    const TCommPortSet set = port.GetExistingCommPorts();
    EXPECT_TRUE(set.Contains(spCOM241));
    EXPECT_TRUE(set.Contains(spCOM242));
    EXPECT_TRUE(set.Contains(spCustom));
    EXPECT_FALSE(set.Contains(spNone));
    EXPECT_EQ(CountListed(u"COM241"), 1);
    EXPECT_EQ(CountListed(u"COM242"), 2);
    EXPECT_EQ(CountListed(u"MYADAPTER"), 1);
    EXPECT_EQ(CountListed(u""), 0);
    EXPECT_TRUE(port.IsExistingCommPort(u"com241"));
    EXPECT_TRUE(port.IsExistingCommPort(u"myadapter"));
    EXPECT_FALSE(port.IsExistingCommPort(u" COM241"));
}

TEST_F(DiscoveryRegistry, ValueThatIsNotAStringReachesTheCaller) {
    auto value = std::make_unique<tarn::test::ScopedSerialCommValue>(
        tarn::test::UniqueSerialCommValueName());
    std::string whyNot;
    ASSERT_TRUE(tarn::test::SetSerialCommDword(value->Name(), 7, &whyNot)) << whyNot;
    EXPECT_THROW(port.GetExistingCommPorts(), tarn::host::ERegistryException);
    EXPECT_THROW(port.IsExistingCommPort(u"COM1"), tarn::host::ERegistryException);
}

}  // namespace
