// The package as a program sees it that only loads it at run time: every
// entry such a program needs is exported under its plain C name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>

#include "Tarnserialport.h"
#include "host_class_registry.h"
#include "host_component.h"
#include "package/dib_header.h"
#include "package/package_library.h"

namespace tarn::package {
namespace {

using tarn::host::TComponent;
using tarn::host::TComponentClass;
using testing::PackageLibrary;

// The palette is global to the process; each case starts and ends without the
// component registered.
class PackageRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        tarn::host::UnregisterClass(TTarnSerialPort::StaticClass());
        ASSERT_TRUE(package_.Loaded()) << package_.Error();
        register_ = package_.FindAs<void (*)()>("Register");
        ASSERT_NE(register_, nullptr);
    }
    void TearDown() override { tarn::host::UnregisterClass(TTarnSerialPort::StaticClass()); }

    PackageLibrary package_;
    void (*register_)() = nullptr;
};

TEST_F(PackageRegistration, PutsTheComponentOnTarnwerkAndNowhereElse) {
    ASSERT_EQ(tarn::host::FindClass(u"TTarnSerialPort"), nullptr);
    register_();
    auto onPage = tarn::host::PaletteClasses(u"Tarnwerk");
    ASSERT_EQ(onPage.size(), 1u);
    EXPECT_TRUE(onPage[0]->Name() == u"TTarnSerialPort");

    int pagesWithIt = 0;
    for (const auto& page : tarn::host::PalettePages()) {
        auto classes = tarn::host::PaletteClasses(page);
        pagesWithIt += std::count(classes.begin(), classes.end(), onPage[0]);
    }
    EXPECT_EQ(pagesWithIt, 1);

    register_();
    EXPECT_EQ(tarn::host::PaletteClasses(u"Tarnwerk").size(), 1u);
}

TEST_F(PackageRegistration, LetsTheDesignerCreateTheComponentByClassName) {
    register_();
    const TComponentClass* cls = tarn::host::FindClass(u"ttarnserialport");
    ASSERT_NE(cls, nullptr);
    EXPECT_TRUE(cls->Name() == u"TTarnSerialPort");

    // A designer creates components with the form as their owner.
    TComponent form(nullptr);
    TComponent* created = cls->Create(&form);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_TRUE(created->ClassName() == u"TTarnSerialPort");
    auto* port = dynamic_cast<TTarnSerialPort*>(created);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->IsConnected(), spNone);

    std::unique_ptr<TComponent> unowned(cls->Create(nullptr));
    ASSERT_NE(dynamic_cast<TTarnSerialPort*>(unowned.get()), nullptr);
    EXPECT_EQ(unowned->Owner(), nullptr);
}

TEST(PackageLoading, ReadsThePaletteImageBackThroughTheExportedLookup) {
    PackageLibrary package;
    ASSERT_TRUE(package.Loaded()) << package.Error();
    using FindBitmap = bool (*)(const char*, const void**, std::size_t*);
    auto find = package.FindAs<FindBitmap>("TarnSerialPortPack_FindBitmapResource");
    ASSERT_NE(find, nullptr);

    const void* data = nullptr;
    std::size_t size = 0;
    ASSERT_TRUE(find("TTARNSERIALPORT", &data, &size));
    ASSERT_GE(size, sizeof(dib::DibHeader));
    dib::DibHeader header = dib::ReadDibHeader(data);
    EXPECT_EQ(header.width, 24);
    EXPECT_EQ(header.height, 24);
    EXPECT_EQ(header.bitCount, 8);
    EXPECT_EQ(dib::PaletteEntries(header), 256u);
    EXPECT_EQ(size, header.size + 256 * 4 + dib::RowStride(header) * 24);
}

}  // namespace
}  // namespace tarn::package
