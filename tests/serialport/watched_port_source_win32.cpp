// Under Wine and on Windows the port list is the registry key, edited
// directly.
#include <string>

#include "registry_edit_win32.h"
#include "watched_port_source.h"

namespace tarn::test {
namespace {

class RegistryPortSource final : public WatchedPortSource {
public:
    RegistryPortSource() : value_(UniqueSerialCommValueName()) {
        // The value's name holds the process and a counter; its data is
        // made unique from it, as the list shows the data.
        const std::u16string& name = value_.Name();
        listed_ = u"TARNWATCH" + name.substr(name.find(u'_') + 1);
    }

    tarn::host::UnicodeString ListedName() const override { return listed_; }

    bool Appear(std::string& whyNot) override {
        return SetSerialCommString(value_.Name(), listed_, &whyNot);
    }

    bool Vanish(bool, std::string& whyNot) override {
        if (DeleteSerialCommValue(value_.Name())) return true;
        whyNot = "the value cannot be deleted";
        return false;
    }

private:
    ScopedSerialCommValue value_;
    tarn::host::UnicodeString listed_;
};

}  // namespace

std::unique_ptr<WatchedPortSource> MakeSystemPortSource() {
    return std::make_unique<RegistryPortSource>();
}

}  // namespace tarn::test
