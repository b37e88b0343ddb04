#include "host_class_registry.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "host_exception.h"

namespace tarn::host {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<const TComponentClass*> classes;
    std::vector<std::pair<UnicodeString, std::vector<const TComponentClass*>>> pages;
};

// Never destroyed, so that a class unregistered during process exit finds
// the registry still there.
Registry& TheRegistry() {
    static Registry* const registry = new Registry;
    return *registry;
}

const TComponentClass* FindLocked(Registry& r, const UnicodeString& name) {
    for (const TComponentClass* cls : r.classes) {
        if (SameTextAscii(cls->Name(), name)) return cls;
    }
    return nullptr;
}

void RegisterLocked(Registry& r, const TComponentClass& cls) {
    const TComponentClass* existing = FindLocked(r, cls.Name());
    if (existing == &cls) return;
    if (existing != nullptr) {
        throw EComponentError(u"A class named " + cls.Name() + u" is already registered");
    }
    r.classes.push_back(&cls);
}

}  // namespace

void RegisterClass(const TComponentClass& cls) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    RegisterLocked(r, cls);
}

void UnregisterClass(const TComponentClass& cls) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.classes.erase(std::remove(r.classes.begin(), r.classes.end(), &cls), r.classes.end());
    for (auto& page : r.pages) {
        auto& list = page.second;
        list.erase(std::remove(list.begin(), list.end(), &cls), list.end());
    }
}

const TComponentClass* FindClass(const UnicodeString& name) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return FindLocked(r, name);
}

void RegisterComponents(const UnicodeString& page,
                        std::initializer_list<const TComponentClass*> classes) {
    if (Trim(page).empty()) throw EComponentError(u"A palette page needs a name");
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    // Every class is checked before any is registered, so that a refused
    // call changes nothing.
    for (const TComponentClass* cls : classes) {
        if (cls == nullptr) throw EComponentError(u"RegisterComponents was given no class");
        const TComponentClass* existing = FindLocked(r, cls->Name());
        if (existing != nullptr && existing != cls) {
            throw EComponentError(u"A class named " + cls->Name() + u" is already registered");
        }
    }
    auto it = std::find_if(r.pages.begin(), r.pages.end(),
                           [&](const auto& entry) { return entry.first == page; });
    if (it == r.pages.end()) {
        r.pages.emplace_back(page, std::vector<const TComponentClass*>());
        it = r.pages.end() - 1;
    }
    for (const TComponentClass* cls : classes) {
        RegisterLocked(r, *cls);
        auto& list = it->second;
        if (std::find(list.begin(), list.end(), cls) == list.end()) list.push_back(cls);
    }
}

std::vector<const TComponentClass*> PaletteClasses(const UnicodeString& page) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& entry : r.pages) {
        if (entry.first == page) return entry.second;
    }
    return {};
}

std::vector<UnicodeString> PalettePages() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<UnicodeString> names;
    for (const auto& entry : r.pages) names.push_back(entry.first);
    return names;
}

}  // namespace tarn::host
