#include "host_component.h"

#include <algorithm>

#include "host_exception.h"
#include "host_published.h"

namespace tarn::host {

TComponentClass::TComponentClass(UnicodeString name, const TComponentClass* parent, Factory factory,
                                 std::vector<TPropPtr> properties)
    : name_(std::move(name)),
      parent_(parent),
      factory_(std::move(factory)),
      own_(std::move(properties)) {
    if (!IsValidIdent(name_)) {
        throw EComponentError(u"\"" + name_ + u"\" is not a valid class name");
    }
    if (parent_ != nullptr) all_ = parent_->all_;
    for (const TPropPtr& property : own_) {
        if (!property) throw EComponentError(u"Class " + name_ + u" lists an empty property");
        if (FindProperty(property->Name()) != nullptr) {
            throw EComponentError(u"Class " + name_ + u" publishes " + property->Name() +
                                  u" twice");
        }
        all_.push_back(property.get());
    }
}

TComponent* TComponentClass::Create(TComponent* owner) const {
    if (!factory_) throw EComponentError(u"Cannot create an instance of abstract class " + name_);
    return factory_(owner);
}

const TPropInfo* TComponentClass::FindProperty(const UnicodeString& name) const {
    for (const TPropInfo* property : all_) {
        if (SameTextAscii(property->Name(), name)) return property;
    }
    return nullptr;
}

bool TComponentClass::InheritsFrom(const TComponentClass& other) const {
    for (const TComponentClass* c = this; c != nullptr; c = c->parent_) {
        if (c == &other) return true;
    }
    return false;
}

TComponent::TComponent(TComponent* owner) {
    if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    // The last created goes first, so that a component may rely on the ones
    // created before it while it is destroyed.
    while (!components_.empty()) {
        TComponent* child = components_.back();
        components_.pop_back();
        child->owner_ = nullptr;
        delete child;
    }
    if (owner_ != nullptr) owner_->RemoveComponent(this);
}

const TComponentClass& TComponent::StaticClass() {
    using P = Prop<TComponent>;
    static const TComponentClass cls(u"TComponent", nullptr, nullptr,
                                     {P::Int(u"Tag", &TComponent::Tag, &TComponent::SetTag, 0)});
    return cls;
}

const TComponentClass& TComponent::ClassType() const { return StaticClass(); }

UnicodeString TComponent::ClassName() const { return ClassType().Name(); }

void TComponent::SetName(const UnicodeString& name) {
    if (name == name_) return;
    if (!name.empty() && !IsValidIdent(name)) {
        throw EComponentError(u"\"" + name + u"\" is not a valid component name");
    }
    if (!name.empty() && owner_ != nullptr) {
        const TComponent* other = owner_->FindComponent(name);
        if (other != nullptr && other != this) {
            throw EComponentError(u"A component named " + name + u" already exists");
        }
    }
    name_ = name;
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount()) {
        throw EComponentError(u"List index out of bounds (" + IntToStr(index) + u")");
    }
    return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const UnicodeString& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* component : components_) {
        if (SameTextAscii(component->name_, name)) return component;
    }
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
    if (component == nullptr || component->owner_ == this) return;
    for (const TComponent* c = this; c != nullptr; c = c->owner_) {
        if (c == component) throw EComponentError(u"A component cannot own itself");
    }
    if (!component->name_.empty()) {
        const TComponent* other = FindComponent(component->name_);
        if (other != nullptr) {
            throw EComponentError(u"A component named " + component->name_ + u" already exists");
        }
    }
    if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
    components_.push_back(component);
    component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
    const auto it = std::find(components_.begin(), components_.end(), component);
    if (it == components_.end()) return;
    components_.erase(it);
    component->owner_ = nullptr;
}

void TComponent::RegisterMethodAny(const UnicodeString& name, std::any handler) {
    if (!IsValidIdent(name)) {
        throw EComponentError(u"\"" + name + u"\" is not a valid method name");
    }
    for (auto& entry : methods_) {
        if (SameTextAscii(entry.first, name)) {
            entry.second = std::move(handler);
            return;
        }
    }
    methods_.emplace_back(name, std::move(handler));
}

void TComponent::UnregisterMethod(const UnicodeString& name) {
    methods_.erase(
        std::remove_if(methods_.begin(), methods_.end(),
                       [&](const auto& entry) { return SameTextAscii(entry.first, name); }),
        methods_.end());
}

const std::any* TComponent::FindMethodAny(const UnicodeString& name) const {
    for (const auto& entry : methods_) {
        if (SameTextAscii(entry.first, name)) return &entry.second;
    }
    return nullptr;
}

}  // namespace tarn::host
