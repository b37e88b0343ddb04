// What only the Windows backend does, under Wine: absent ports as the system
// names them, the real registry, the system's error texts and run-time
// binding. What its ports do as every backend's do is in the driver contract
// (driver_contract_terminal_win32.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host_library.h"
#include "port_registry.h"
#include "registry_edit_win32.h"
#include "serial_driver.h"

namespace tarn::driver {
namespace {

using namespace tarn::host;

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(Win32Open, AbsentPortFailsWithTheSystemsReason) {
    for (const char* path : {"\\\\.\\TarnNoSuchPort", "\\\\.\\COM99"}) {
        SCOPED_TRACE(path);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateFileA(path), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        EXPECT_FALSE(SystemErrorText(GetLastError()).empty());
    }
}

TEST(Win32ErrorText, SystemTextsWithoutLineBreak) {
    // Wine's message tables word some texts more tersely than Windows does.
    const std::string expected =
        RunningUnderWine() ? "File not found." : "The system cannot find the file specified.";
    EXPECT_EQ(SystemErrorText(ERROR_FILE_NOT_FOUND), expected);
    for (std::uint32_t code : {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_NOT_SUPPORTED}) {
        const std::string text = SystemErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
        EXPECT_NE(text.back(), ' ') << code;
    }
    EXPECT_EQ(SystemErrorText(0x3FFFFFF), "Unknown error (0x3ffffff)");
}

TEST(Win32DynamicLibrary, BindsTheMultimediaTimer) {
    HMODULE winmm = LoadLibraryA("winmm.dll");
    ASSERT_NE(winmm, nullptr) << SystemErrorText(GetLastError());
    EXPECT_NE(GetProcAddress(winmm, "timeBeginPeriod"), nullptr);
    EXPECT_NE(GetProcAddress(winmm, "timeEndPeriod"), nullptr);
    EXPECT_EQ(GetModuleHandleA("winmm.dll"), winmm);

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetProcAddress(winmm, "tarnNoSuchFunction"), nullptr);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadLibraryA("tarn-no-such-library.dll"), nullptr);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(GetModuleHandleA("tarn-no-such-library.dll"), nullptr);
    EXPECT_NE(GetModuleHandleA(""), nullptr);  // the program itself
}

// The port list key as the backend reads it, with values this test writes.
class Win32RegistryTest : public ::testing::Test {
protected:
    // Adds a string value under a name of its own and returns that name.
    std::u16string AddString(const std::u16string& data) {
        added_.push_back(std::make_unique<tarn::test::ScopedSerialCommValue>(
            tarn::test::UniqueSerialCommValueName()));
        std::string whyNot;
        EXPECT_TRUE(tarn::test::SetSerialCommString(added_.back()->Name(), data, &whyNot))
            << whyNot;
        return added_.back()->Name();
    }

    std::u16string AddDword(std::uint32_t data) {
        added_.push_back(std::make_unique<tarn::test::ScopedSerialCommValue>(
            tarn::test::UniqueSerialCommValueName()));
        std::string whyNot;
        EXPECT_TRUE(tarn::test::SetSerialCommDword(added_.back()->Name(), data, &whyNot)) << whyNot;
        return added_.back()->Name();
    }

    // The values with the given name; the key also holds the ports that
    // Wine found and those of other tests.
    static std::vector<RegistryValue> Named(const std::vector<RegistryValue>& values,
                                            const std::u16string& name) {
        std::vector<RegistryValue> found;
        std::copy_if(values.begin(), values.end(), std::back_inserter(found),
                     [&](const RegistryValue& v) { return v.name == name; });
        return found;
    }

    std::vector<std::unique_ptr<tarn::test::ScopedSerialCommValue>> added_;
};

TEST_F(Win32RegistryTest, ReadsEveryValueAsStored) {
    const std::u16string plain = AddString(u"COM3");
    const std::u16string lower = AddString(u" com4 ");
    const std::u16string blank = AddString(u"   ");
    const std::u16string empty = AddString(u"");
    const std::u16string twin1 = AddString(u"COM7");
    const std::u16string twin2 = AddString(u"COM7");
    const std::u16string number = AddDword(5);

    std::vector<RegistryValue> values;
    ASSERT_TRUE(ReadOsRegistryKey(HKEY_LOCAL_MACHINE, kSerialCommKey, values));
    const std::pair<std::u16string, std::u16string> strings[] = {
        {plain, u"COM3"}, {lower, u" com4 "}, {blank, u"   "},
        {empty, u""},     {twin1, u"COM7"},   {twin2, u"COM7"},
    };
    for (const auto& [name, data] : strings) {
        const auto found = Named(values, name);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_TRUE(found[0].isString);
        EXPECT_EQ(found[0].data, data);
    }
    const auto found = Named(values, number);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0].isString);
    EXPECT_TRUE(found[0].data.empty());
}

TEST_F(Win32RegistryTest, DeletedValueIsGoneAtTheNextRead) {
    std::u16string name;
    {
        tarn::test::ScopedSerialCommValue value(tarn::test::UniqueSerialCommValueName());
        name = value.Name();
        ASSERT_TRUE(tarn::test::SetSerialCommString(name, u"COM12"));
        std::vector<RegistryValue> values;
        ASSERT_TRUE(ReadOsRegistryKey(HKEY_LOCAL_MACHINE, kSerialCommKey, values));
        EXPECT_EQ(Named(values, name).size(), 1u);
    }
    std::vector<RegistryValue> values;
    ASSERT_TRUE(ReadOsRegistryKey(HKEY_LOCAL_MACHINE, kSerialCommKey, values));
    EXPECT_TRUE(Named(values, name).empty());
}

TEST_F(Win32RegistryTest, KeyPathIsMatchedAsTheRegistryDoes) {
    const std::u16string name = AddString(u"COM21");
    std::vector<RegistryValue> values;
    ASSERT_TRUE(ReadOsRegistryKey(HKEY_LOCAL_MACHINE, u"hardware\\devicemap\\serialcomm", values));
    EXPECT_EQ(Named(values, name).size(), 1u);
}

TEST_F(Win32RegistryTest, MissingKeyCannotBeOpened) {
    std::vector<RegistryValue> values;
    EXPECT_FALSE(
        ReadOsRegistryKey(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\TarnNoSuchKey", values));
    EXPECT_TRUE(values.empty());
    // The same path under another root is another key.
    EXPECT_FALSE(ReadOsRegistryKey(HKEY_CURRENT_USER, kSerialCommKey, values));
}

}  // namespace
}  // namespace tarn::driver
