#include "host_stringlist.h"

#include <algorithm>
#include <cstdint>

#include "host_exception.h"

namespace tarn::host {

int TStrings::Add(const UnicodeString& value) {
    const int index = Count();
    Insert(index, value);
    return index;
}

int TStrings::IndexOf(const UnicodeString& value) const {
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        if (SameTextAscii(Get(i), value)) return i;
    }
    return -1;
}

void TStrings::Assign(const TStrings& source) {
    if (&source == this) return;
    Clear();
    AddStrings(source);
}

void TStrings::AddStrings(const TStrings& source) {
    // Counted first, so that adding a list to itself doubles it once.
    const int count = source.Count();
    for (int i = 0; i < count; ++i) Add(source.Get(i));
}

void TStringList::CheckIndex(int index, bool allowEnd) const {
    const int limit = allowEnd ? Count() : Count() - 1;
    if (index < 0 || index > limit) {
        throw EStringListError(u"List index out of bounds (" + IntToStr(index) + u")");
    }
}

const UnicodeString& TStringList::Get(int index) const {
    CheckIndex(index, false);
    return items_[static_cast<std::size_t>(index)];
}

void TStringList::Put(int index, const UnicodeString& value) {
    if (sorted_) throw EStringListError(u"Operation not allowed on sorted list");
    CheckIndex(index, false);
    items_[static_cast<std::size_t>(index)] = value;
}

void TStringList::Insert(int index, const UnicodeString& value) {
    if (sorted_) throw EStringListError(u"Operation not allowed on sorted list");
    CheckIndex(index, true);
    items_.insert(items_.begin() + index, value);
}

void TStringList::Delete(int index) {
    CheckIndex(index, false);
    items_.erase(items_.begin() + index);
}

int TStringList::Add(const UnicodeString& value) {
    if (!sorted_) {
        items_.push_back(value);
        return Count() - 1;
    }
    int index = 0;
    if (Find(value, index)) {
        if (duplicates_ == dupIgnore) return index;
        if (duplicates_ == dupError) {
            throw EStringListError(u"String list does not allow duplicates");
        }
    }
    items_.insert(items_.begin() + index, value);
    return index;
}

int TStringList::IndexOf(const UnicodeString& value) const {
    if (!sorted_) return TStrings::IndexOf(value);
    int index = 0;
    return Find(value, index) ? index : -1;
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) Sort();
    sorted_ = sorted;
}

bool TStringList::Find(const UnicodeString& value, int& index) const {
    const auto less = [](const UnicodeString& a, const UnicodeString& b) {
        return CompareTextAscii(a, b) < 0;
    };
    const auto it = std::lower_bound(items_.begin(), items_.end(), value, less);
    index = static_cast<int>(it - items_.begin());
    return it != items_.end() && CompareTextAscii(*it, value) == 0;
}

void TStringList::Sort() {
    // Stable, so that strings equal but for case keep their order.
    std::stable_sort(items_.begin(), items_.end(),
                     [](const auto& a, const auto& b) { return CompareTextAscii(a, b) < 0; });
}

}  // namespace tarn::host
