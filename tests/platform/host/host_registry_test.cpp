#include "host_registry.h"

#include <gtest/gtest.h>

#include <vector>

#include "host_exception.h"
#include "host_stringlist.h"

using namespace tarn::host;

namespace {

// A registry of one key under HKEY_LOCAL_MACHINE, counting its reads.
struct FakeRegistry {
    int reads = 0;
    HKEY lastRoot = 0;
    std::u16string lastPath;

    TRegistry::KeyReader Reader() {
        return [this](HKEY root, const std::u16string& path, std::vector<RegistryValue>& values) {
            ++reads;
            lastRoot = root;
            lastPath = path;
            if (root != HKEY_LOCAL_MACHINE) return false;
            if (path == u"HARDWARE\\DEVICEMAP\\SERIALCOMM") {
                values = {{u"\\Device\\Serial0", true, u"COM1"},
                          {u"\\Device\\VCP0", true, u"COM7"},
                          {u"Binary", false, u""}};
                return true;
            }
            if (path == u"HARDWARE\\DEVICEMAP") {
                values.clear();
                return true;
            }
            return false;
        };
    }
};

TEST(HostRegistry, DefaultRootIsCurrentUser) {
    TRegistry reg;
    EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
    EXPECT_FALSE(reg.HasOpenKey());
}

TEST(HostRegistry, ReadsTheOpenedKeysValuesInRegistryOrder) {
    FakeRegistry fake;
    TRegistry reg(fake.Reader());
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKeyReadOnly(u"HARDWARE\\DEVICEMAP\\SERIALCOMM"));
    TStringList names;
    names.Add(u"stale");
    reg.GetValueNames(names);
    ASSERT_EQ(names.Count(), 3);
    EXPECT_EQ(names[0], u"\\Device\\Serial0");
    EXPECT_EQ(names[1], u"\\Device\\VCP0");
    EXPECT_EQ(reg.ReadString(u"\\Device\\VCP0"), u"COM7");
    EXPECT_EQ(reg.ReadString(u"\\DEVICE\\serial0"), u"COM1") << "names ignore case";
    EXPECT_EQ(reg.ReadString(u"absent"), u"");
    // The values were taken once, at open.
    EXPECT_EQ(fake.reads, 1);
    reg.CloseKey();
    EXPECT_EQ(reg.ReadString(u"\\Device\\VCP0"), u"");
    reg.GetValueNames(names);
    EXPECT_EQ(names.Count(), 0);
}

TEST(HostRegistry, NonStringValuesRaiseARegistryException) {
    FakeRegistry fake;
    TRegistry reg(fake.Reader());
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKeyReadOnly(u"\\HARDWARE\\DEVICEMAP\\SERIALCOMM"));
    EXPECT_EQ(fake.lastPath, u"HARDWARE\\DEVICEMAP\\SERIALCOMM") << "leading backslash dropped";
    try {
        reg.ReadString(u"Binary");
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_NE(e.Message().find(u"'Binary'"), UnicodeString::npos) << e.what();
    }
}

TEST(HostRegistry, OpeningResolvesRelativeKeysAndKeepsTheOldKeyOnFailure) {
    FakeRegistry fake;
    TRegistry reg(fake.Reader());
    EXPECT_FALSE(reg.OpenKeyReadOnly(u"HARDWARE\\DEVICEMAP")) << "wrong root";
    EXPECT_EQ(fake.lastRoot, HKEY_CURRENT_USER);

    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKeyReadOnly(u"HARDWARE\\DEVICEMAP"));
    ASSERT_TRUE(reg.OpenKeyReadOnly(u"SERIALCOMM"));
    EXPECT_EQ(reg.CurrentPath(), u"HARDWARE\\DEVICEMAP\\SERIALCOMM");
    EXPECT_FALSE(reg.OpenKeyReadOnly(u"\\NoSuchKey"));
    EXPECT_EQ(reg.ReadString(u"\\Device\\Serial0"), u"COM1") << "previous key still open";

    reg.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_FALSE(reg.HasOpenKey()) << "changing the root closes the key";
}

}  // namespace
