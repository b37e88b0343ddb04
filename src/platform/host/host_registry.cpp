#include "host_registry.h"

#include <utility>

#include "host_exception.h"

namespace tarn::host {

TRegistry::TRegistry() : TRegistry(&ReadSystemRegistryKey) {}

TRegistry::TRegistry(KeyReader reader) : reader_(std::move(reader)) {}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    root_ = root;
}

bool TRegistry::OpenKeyReadOnly(const UnicodeString& key) {
    UnicodeString path;
    if (!key.empty() && key.front() == u'\\') {
        path = key.substr(1);
    } else if (open_ && !path_.empty()) {
        path = key.empty() ? path_ : path_ + u"\\" + key;
    } else {
        path = key;
    }
    while (!path.empty() && path.back() == u'\\') path.pop_back();

    std::vector<RegistryValue> values;
    if (!reader_ || !reader_(root_, path, values)) return false;
    open_ = true;
    path_ = std::move(path);
    values_ = std::move(values);
    return true;
}

void TRegistry::CloseKey() {
    open_ = false;
    path_.clear();
    values_.clear();
}

void TRegistry::GetValueNames(TStrings& names) const {
    names.Clear();
    for (const auto& value : values_) names.Add(value.name);
}

const RegistryValue* TRegistry::Find(const UnicodeString& name) const {
    for (const auto& value : values_) {
        if (SameTextAscii(value.name, name)) return &value;
    }
    return nullptr;
}

bool TRegistry::ValueExists(const UnicodeString& name) const { return Find(name) != nullptr; }

UnicodeString TRegistry::ReadString(const UnicodeString& name) const {
    const RegistryValue* value = Find(name);
    if (value == nullptr) return {};
    if (!value->isString) {
        throw ERegistryException(u"Invalid data type for '" + name + u"'");
    }
    return value->data;
}

}  // namespace tarn::host
