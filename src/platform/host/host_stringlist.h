// String lists: TStrings is the interface that operations taking "a list to
// fill" accept, TStringList the list that holds its strings in memory.
//
// Comparisons ignore the case of the ASCII letters a to z only; other
// letters compare by their code. A list belongs to one thread at a time.
#pragma once

#include <vector>

#include "host_strings.h"

namespace tarn::host {

class TStrings {
public:
    virtual ~TStrings() = default;

    virtual int Count() const = 0;
    // Raise EStringListError for an index outside 0 .. Count() - 1.
    virtual const UnicodeString& Get(int index) const = 0;
    virtual void Put(int index, const UnicodeString& value) = 0;
    virtual void Insert(int index, const UnicodeString& value) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;

    // Appends and returns the new string's index.
    virtual int Add(const UnicodeString& value);
    // The first index of a string equal to `value` without regard to the
    // case of a to z, or -1.
    virtual int IndexOf(const UnicodeString& value) const;

    const UnicodeString& Strings(int index) const { return Get(index); }
    const UnicodeString& operator[](int index) const { return Get(index); }

    // Replaces the content with a copy of `source`.
    void Assign(const TStrings& source);
    void AddStrings(const TStrings& source);
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
public:
    TStringList() = default;

    int Count() const override { return static_cast<int>(items_.size()); }
    const UnicodeString& Get(int index) const override;
    // Put and Insert raise EStringListError on a sorted list, where the
    // position is not the caller's to choose.
    void Put(int index, const UnicodeString& value) override;
    void Insert(int index, const UnicodeString& value) override;
    void Delete(int index) override;
    void Clear() override { items_.clear(); }

    // On a sorted list the string goes to its sorted place; an equal string
    // already there is then ignored (dupIgnore, returning its index),
    // added (dupAccept) or refused with EStringListError (dupError).
    // An unsorted list accepts every string, as Duplicates applies only to
    // sorted lists.
    int Add(const UnicodeString& value) override;
    int IndexOf(const UnicodeString& value) const override;

    // A fresh list is unsorted and accepts duplicates.
    bool Sorted() const { return sorted_; }
    // Sorting an unsorted list puts its strings in order at once.
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }

    // Binary search of a sorted list: true when found; `index` is the first
    // equal string or the place where `value` would go.
    bool Find(const UnicodeString& value, int& index) const;
    void Sort();

private:
    void CheckIndex(int index, bool allowEnd) const;

    std::vector<UnicodeString> items_;
    bool sorted_ = false;
    TDuplicates duplicates_ = dupAccept;
};

}  // namespace tarn::host
