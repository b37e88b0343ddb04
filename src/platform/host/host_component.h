// The component base class and the metadata of component classes.
//
// A component may have an owner, which frees it: the owner's destructor
// destroys every component it owns, and a component destroyed first takes
// itself off its owner's list. Names are unique among the components of one
// owner. An owner also keeps named handlers (RegisterMethod), through which
// a stream refers to event handlers by name.
//
// Components belong to the thread that created them (the main thread for
// designer and form code); nothing here is guarded for other threads.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "host_event.h"
#include "host_property.h"
#include "host_strings.h"

namespace tarn::host {

class TComponent;

// What the framework knows of one component class: its name, its base, how
// to create an instance, and its published properties.
class TComponentClass {
public:
    using Factory = std::function<TComponent*(TComponent* owner)>;

    // `properties` are this class's own, in declaration order. Raises
    // EComponentError for an invalid class name or a property name that the
    // class or its bases already use. A class without factory is abstract.
    TComponentClass(UnicodeString name, const TComponentClass* parent, Factory factory,
                    std::vector<TPropPtr> properties);

    const UnicodeString& Name() const { return name_; }
    const TComponentClass* Parent() const { return parent_; }
    bool IsAbstract() const { return !factory_; }
    // Raises EComponentError for an abstract class.
    TComponent* Create(TComponent* owner) const;

    // Every published property: the bases' first, then this class's, each
    // in declaration order. This is the order of writing and reading.
    const std::vector<const TPropInfo*>& Properties() const { return all_; }
    // Without regard to the case of a to z; null when there is none.
    const TPropInfo* FindProperty(const UnicodeString& name) const;
    // True for this class and every class derived from it.
    bool InheritsFrom(const TComponentClass& other) const;

private:
    UnicodeString name_;
    const TComponentClass* parent_;
    Factory factory_;
    std::vector<TPropPtr> own_;
    std::vector<const TPropInfo*> all_;
};

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // TComponent publishes Tag. Each derived class that publishes properties
    // has a StaticClass of its own and overrides ClassType to return it.
    static const TComponentClass& StaticClass();
    virtual const TComponentClass& ClassType() const;
    // The class name; by default ClassType().Name().
    virtual UnicodeString ClassName() const;

    TComponent* Owner() const { return owner_; }

    const UnicodeString& Name() const { return name_; }
    // Accepts "" or an identifier not used by another component of the same
    // owner (compared without regard to case); raises EComponentError.
    void SetName(const UnicodeString& name);

    std::intptr_t Tag() const { return tag_; }
    void SetTag(std::intptr_t tag) { tag_ = tag; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    // Raises EComponentError for an index out of range.
    TComponent* Components(int index) const;
    // An owned component by name, without regard to case; null if none.
    TComponent* FindComponent(const UnicodeString& name) const;
    // Ownership transfer: takes `component` from its previous owner.
    void InsertComponent(TComponent* component);
    // Gives up ownership; the component then has no owner.
    void RemoveComponent(TComponent* component);

    // Named handlers for the events of owned components. `handler` holds a
    // std::function of the event's signature; RegisterMethod<Sig> makes sure
    // of that. A second registration under a name replaces the first.
    void RegisterMethodAny(const UnicodeString& name, std::any handler);
    template <class Sig>
    void RegisterMethod(const UnicodeString& name, std::function<Sig> handler) {
        RegisterMethodAny(name, std::any(std::move(handler)));
    }
    void UnregisterMethod(const UnicodeString& name);
    // Without regard to case; null when no handler has that name.
    const std::any* FindMethodAny(const UnicodeString& name) const;
    // Null also when the handler has another signature.
    template <class Sig>
    const std::function<Sig>* FindMethod(const UnicodeString& name) const {
        return std::any_cast<std::function<Sig>>(FindMethodAny(name));
    }
    // An event bound to a registered handler and carrying its name, ready to
    // assign to an event property; unassigned when there is no such handler.
    template <class Sig>
    TEvent<Sig> MethodEvent(const UnicodeString& name) const {
        const std::function<Sig>* code = FindMethod<Sig>(name);
        return code != nullptr ? TEvent<Sig>(*code, name) : TEvent<Sig>();
    }

private:
    TComponent* owner_ = nullptr;
    UnicodeString name_;
    std::intptr_t tag_ = 0;
    std::vector<TComponent*> components_;
    std::vector<std::pair<UnicodeString, std::any>> methods_;
};

// The metadata of class T, derived from Base, created by `new T(owner)`.
template <class T, class Base = TComponent>
TComponentClass DeclareClass(UnicodeString name, std::vector<TPropPtr> properties) {
    static_assert(std::is_base_of_v<Base, T> && std::is_base_of_v<TComponent, Base>,
                  "T derives from Base, a component class");
    return TComponentClass(
        std::move(name), &Base::StaticClass(),
        [](TComponent* owner) -> TComponent* { return new T(owner); }, std::move(properties));
}

// The same for an abstract class, which streams cannot create.
template <class T, class Base = TComponent>
TComponentClass DeclareAbstractClass(UnicodeString name, std::vector<TPropPtr> properties) {
    static_assert(std::is_base_of_v<Base, T> && std::is_base_of_v<TComponent, Base>,
                  "T derives from Base, a component class");
    return TComponentClass(std::move(name), &Base::StaticClass(), nullptr, std::move(properties));
}

}  // namespace tarn::host
