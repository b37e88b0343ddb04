#include "host_property.h"

#include <utility>

#include "host_exception.h"

namespace tarn::host {

TPropInfo::TPropInfo(UnicodeString name, TTypeKind kind) : name_(std::move(name)), kind_(kind) {
    if (!IsValidIdent(name_)) {
        throw EComponentError(u"\"" + name_ + u"\" is not a valid property name");
    }
}

const std::vector<UnicodeString>& TPropInfo::EnumNames() const {
    static const std::vector<UnicodeString> none;
    return none;
}

std::string TPropInfo::GetText(const TComponent& component) const {
    return FormatStreamValue(GetValue(component));
}

void TPropInfo::SetText(TComponent& component, const std::string& text) const {
    SetValue(component, ParseStreamValue(text));
}

bool IsValidIdent(const UnicodeString& name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
        const bool digit = c >= u'0' && c <= u'9';
        if (!letter && !(digit && i > 0)) return false;
    }
    return true;
}

}  // namespace tarn::host
