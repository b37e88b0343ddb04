#include "host_component.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "host_class_registry.h"
#include "host_exception.h"
#include "host_test_component.h"

using namespace tarn::host;
using namespace tarn::host::testing;

namespace {

// Records its destruction in a shared log.
class Tracked : public TComponent {
public:
    Tracked(TComponent* owner, std::vector<int>& log, int id)
        : TComponent(owner), log_(log), id_(id) {}
    ~Tracked() override { log_.push_back(id_); }

private:
    std::vector<int>& log_;
    int id_;
};

TEST(HostComponentOwnership, OwnerFreesWhatItOwnsLastCreatedFirst) {
    std::vector<int> log;
    auto* owner = new Tracked(nullptr, log, 0);
    auto* a = new Tracked(owner, log, 1);
    new Tracked(owner, log, 2);
    new Tracked(a, log, 11);  // owned by a, freed with it
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(0), a);
    delete owner;
    // A component's own destructor body runs before the base destructor
    // frees what it owns, hence 1 before 11.
    EXPECT_EQ(log, (std::vector<int>{0, 2, 1, 11}));
}

TEST(HostComponentOwnership, ComponentFreedFirstLeavesItsOwner) {
    std::vector<int> log;
    Tracked owner(nullptr, log, 0);
    auto* child = new Tracked(&owner, log, 1);
    child->SetName(u"Child");
    EXPECT_EQ(owner.FindComponent(u"child"), child);
    delete child;
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(owner.FindComponent(u"Child"), nullptr);
    EXPECT_THROW(owner.Components(0), EComponentError);
}

TEST(HostComponentOwnership, InsertComponentMovesOwnershipAndRefusesCycles) {
    TComponent first(nullptr), second(nullptr);
    auto* child = new TComponent(&first);
    second.InsertComponent(child);
    EXPECT_EQ(child->Owner(), &second);
    EXPECT_EQ(first.ComponentCount(), 0);
    EXPECT_EQ(second.ComponentCount(), 1);
    EXPECT_THROW(child->InsertComponent(&second), EComponentError);
    EXPECT_THROW(child->InsertComponent(child), EComponentError);
    second.RemoveComponent(child);
    EXPECT_EQ(child->Owner(), nullptr);
    delete child;
}

TEST(HostComponentNames, NamesAreIdentifiersUniqueWithinOneOwner) {
    TComponent owner(nullptr), other(nullptr);
    auto* a = new TComponent(&owner);
    auto* b = new TComponent(&owner);
    auto* c = new TComponent(&other);
    a->SetName(u"SerialPort1");
    EXPECT_THROW(b->SetName(u"serialport1"), EComponentError);
    c->SetName(u"SerialPort1");  // another owner: no clash
    EXPECT_THROW(b->SetName(u"1Port"), EComponentError);
    EXPECT_THROW(b->SetName(u"Serial Port"), EComponentError);
    a->SetName(u"SerialPort1");  // its own name again
    b->SetName(u"_Port_2");
    b->SetName(u"");
    EXPECT_EQ(owner.FindComponent(u""), nullptr) << "unnamed components are not found by name";

    // A named component cannot join an owner that has the name already.
    auto* clash = new TComponent(nullptr);
    clash->SetName(u"SERIALPORT1");
    EXPECT_THROW(owner.InsertComponent(clash), EComponentError);
    delete clash;
}

TEST(HostComponentMethods, HandlersAreFoundByNameAndSignature) {
    using Sig = void(TTestDevice*, const AnsiString&);
    TComponent form(nullptr);
    int calls = 0;
    form.RegisterMethod<Sig>(u"Form1Receive", [&](TTestDevice*, const AnsiString&) { ++calls; });
    ASSERT_NE(form.FindMethod<Sig>(u"FORM1RECEIVE"), nullptr);
    EXPECT_EQ(form.FindMethod<void()>(u"Form1Receive"), nullptr) << "other signature";
    EXPECT_EQ(form.FindMethod<Sig>(u"Missing"), nullptr);

    TTestDevice::TReceiveEvent event = form.MethodEvent<Sig>(u"Form1Receive");
    ASSERT_TRUE(event.Assigned());
    EXPECT_EQ(event.MethodName(), u"Form1Receive");
    event(nullptr, "x");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(form.MethodEvent<Sig>(u"Missing").Assigned());

    form.UnregisterMethod(u"form1receive");
    EXPECT_EQ(form.FindMethodAny(u"Form1Receive"), nullptr);
    EXPECT_THROW(form.RegisterMethodAny(u"not valid", {}), EComponentError);
}

TEST(HostComponentMethods, EventsAreAssignedByTheirCodeOnly) {
    TTestDevice::TReceiveEvent event;
    EXPECT_FALSE(event.Assigned());
    event = TTestDevice::TReceiveEvent(nullptr, u"NameOnly");
    EXPECT_FALSE(event.Assigned());
    AnsiString got;
    event = [&](TTestDevice*, const AnsiString& data) { got = data; };
    ASSERT_TRUE(event);
    event(nullptr, "OK");
    EXPECT_EQ(got, "OK");
    event = nullptr;
    EXPECT_FALSE(event.Assigned());
}

TEST(HostComponentClass, PropertiesListTheBaseFirstInDeclarationOrder) {
    const auto& props = TTestDeviceEx::StaticClass().Properties();
    std::vector<UnicodeString> names;
    for (const TPropInfo* p : props) names.push_back(p->Name());
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names.front(), u"Tag");
    EXPECT_EQ(names[1], u"Port");
    EXPECT_EQ(names[2], u"DataWidth");
    EXPECT_EQ(names.back(), u"Extra");

    const TComponentClass& cls = TTestDeviceEx::StaticClass();
    ASSERT_NE(cls.FindProperty(u"onreceive"), nullptr);
    EXPECT_EQ(cls.FindProperty(u"onreceive")->Kind(), TTypeKind::Method);
    EXPECT_EQ(cls.FindProperty(u"Port")->EnumNames().size(), 4u);
    EXPECT_EQ(cls.FindProperty(u"XonLim")->Kind(), TTypeKind::Unsigned);
    EXPECT_EQ(cls.FindProperty(u"Offset")->Kind(), TTypeKind::Integer);
    EXPECT_FALSE(cls.FindProperty(u"Offset")->HasDefault());
    EXPECT_EQ(cls.FindProperty(u"Nope"), nullptr);
    EXPECT_TRUE(cls.InheritsFrom(TTestDevice::StaticClass()));
    EXPECT_TRUE(cls.InheritsFrom(TComponent::StaticClass()));
    EXPECT_FALSE(TTestDevice::StaticClass().InheritsFrom(cls));

    TTestDeviceEx device(nullptr);
    EXPECT_EQ(device.ClassName(), u"TTestDeviceEx");
    TComponent plain(nullptr);
    EXPECT_EQ(plain.ClassName(), u"TComponent");
}

TEST(HostComponentClass, DeclarationsAreChecked) {
    using P = Prop<TTestDevice>;
    EXPECT_THROW(TComponentClass(u"TBad", &TTestDevice::StaticClass(), nullptr,
                                 {P::Int(u"delay", &TTestDevice::Delay, &TTestDevice::Delay)}),
                 EComponentError)
        << "a name the base publishes";
    EXPECT_THROW(TComponentClass(u"Not a name", nullptr, nullptr, {}), EComponentError);
    EXPECT_THROW(P::Int(u"Bad Name", &TTestDevice::Delay, &TTestDevice::Delay), EComponentError);
    EXPECT_THROW(TTestAbstract::StaticClass().Create(nullptr), EComponentError);
}

TEST(HostComponentProperty, TextAccessorsConvertAndCheckValues) {
    TTestDevice device(nullptr);
    const TComponentClass& cls = device.ClassType();
    cls.FindProperty(u"Port")->SetText(device, "tsCOM2");
    EXPECT_EQ(device.GetPort(), tsCOM2);
    EXPECT_EQ(cls.FindProperty(u"Port")->GetText(device), "tsCOM2");
    cls.FindProperty(u"NewLine")->SetText(device, "'>'#0");
    EXPECT_EQ(device.NewLine, std::string(">\0", 2));
    EXPECT_EQ(cls.FindProperty(u"XonChar")->GetText(device), "#17");
    EXPECT_THROW(cls.FindProperty(u"XonLim")->SetText(device, "65536"), EConvertError);
    EXPECT_THROW(cls.FindProperty(u"Port")->SetText(device, "tsCOM2 tsCOM1"), EReadError);

    // Properties of one class do not apply to another.
    TComponent plain(nullptr);
    EXPECT_THROW(cls.FindProperty(u"Port")->SetText(plain, "tsCOM1"), EInvalidCast);
}

TEST(HostClassRegistry, ClassesAreFoundByNameAndNamesStayUnique) {
    RegisterTestClasses();
    RegisterTestClasses();  // again: harmless
    EXPECT_EQ(FindClass(u"ttestdevice"), &TTestDevice::StaticClass());
    EXPECT_EQ(FindClass(u"TNoSuchClass"), nullptr);

    static const TComponentClass impostor(u"TTestDevice", &TComponent::StaticClass(), nullptr, {});
    EXPECT_THROW(RegisterClass(impostor), EComponentError);
    EXPECT_EQ(FindClass(u"TTestDevice"), &TTestDevice::StaticClass());

    TComponent owner(nullptr);
    TComponent* made = FindClass(u"TTestDeviceEx")->Create(&owner);
    EXPECT_EQ(made->Owner(), &owner);
    EXPECT_EQ(made->ClassName(), u"TTestDeviceEx");
}

TEST(HostClassRegistry, PalettePagesListTheirClassesOnce) {
    static const TComponentClass paletteOnly = DeclareClass<TTestDevice>(u"TPaletteOnly", {});
    RegisterComponents(u"Test Page", {&TTestDevice::StaticClass(), &paletteOnly});
    RegisterComponents(u"Test Page", {&paletteOnly});
    const auto classes = PaletteClasses(u"Test Page");
    ASSERT_EQ(classes.size(), 2u);
    EXPECT_EQ(classes[0], &TTestDevice::StaticClass());
    EXPECT_EQ(classes[1], &paletteOnly);
    EXPECT_EQ(FindClass(u"TPaletteOnly"), &paletteOnly) << "palette classes are registered";
    const auto pages = PalettePages();
    EXPECT_NE(std::find(pages.begin(), pages.end(), u"Test Page"), pages.end());
    EXPECT_TRUE(PaletteClasses(u"No Such Page").empty());
    EXPECT_THROW(RegisterComponents(u" ", {&paletteOnly}), EComponentError);

    UnregisterClass(paletteOnly);
    EXPECT_EQ(FindClass(u"TPaletteOnly"), nullptr);
    EXPECT_EQ(PaletteClasses(u"Test Page").size(), 1u);
}

}  // namespace
