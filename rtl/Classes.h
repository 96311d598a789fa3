// Root object class, the owning object list and the string list.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SysUtils.h"

// Root of every class whose objects live in the system's object lists.
class TObject {
public:
    virtual ~TObject() = default;
};

// An event that only names its sender; unassigned when empty.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Type-checked conversion: null stays null; an object of another class raises
// EInvalidCast ("Invalid class typecast").
template <class T>
T* CheckedCast(TObject* object) {
    if (object == nullptr)
        return nullptr;
    T* result = dynamic_cast<T*>(object);
    if (result == nullptr)
        throw EInvalidCast();
    return result;
}

// Ordered list of object references that frees removed items when it owns
// them. A position outside 0..Count-1 raises EListError
// "List index out of bounds (%d)"; the list is unchanged after that error.
class TObjectList {
public:
    explicit TObjectList(bool ownsObjects) : FOwnsObjects(ownsObjects) {}
    ~TObjectList();
    TObjectList(const TObjectList&) = delete;
    TObjectList& operator=(const TObjectList&) = delete;

    int Add(TObject* item);
    TObject* Get(int index) const;
    // Replaces the item; an owning list frees the replaced one unless it is
    // the same object.
    void Put(int index, TObject* item);
    void Delete(int index);
    // Removes the items from the last position to the first.
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    bool OwnsObjects() const { return FOwnsObjects; }

private:
    void Check(int index) const;
    std::vector<TObject*> FItems;
    bool FOwnsObjects;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

// Ordered list of single-byte strings, each with an associated object or
// number (one slot, either use). It can be kept sorted by the locale's
// comparison (CompareStringA in LOCALE_USER_DEFAULT, case ignored unless
// CaseSensitive); in sorted mode Duplicates decides what an equal string does:
// dupIgnore keeps the earlier entry and adds nothing.
class TStringList {
public:
    TStringList() = default;

    int Count() const { return static_cast<int>(FItems.size()); }
    const std::string& Strings(int index) const;
    void PutString(int index, const std::string& s);
    TObject* Objects(int index) const;
    void PutObject(int index, TObject* object);
    std::intptr_t Data(int index) const;
    void PutData(int index, std::intptr_t data);

    // Appends (or, when sorted, inserts at the sorted place). Returns the
    // position; for an ignored duplicate the position of the entry present.
    int Add(const std::string& s);
    int AddObject(const std::string& s, TObject* object);
    int AddData(const std::string& s, std::intptr_t data);
    void Insert(int index, const std::string& s);  // not allowed when sorted
    void Delete(int index);
    void Clear();
    void Exchange(int a, int b);

    // Exact position of s under the list's comparison, or -1.
    int IndexOf(const std::string& s) const;
    int IndexOfObject(TObject* object) const;
    // Binary search of a sorted list: true when found; index is the position
    // found or the place to insert.
    bool Find(const std::string& s, int& index) const;
    void Sort();

    bool Sorted() const { return FSorted; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates value) { FDuplicates = value; }
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool value);

    // name=value access: the name is the text before the first '='.
    std::string Names(int index) const;
    std::string ValueFromIndex(int index) const;
    int IndexOfName(const std::string& name) const;
    std::string Values(const std::string& name) const;
    // Sets, or with an empty value removes, the entry of that name.
    void SetValue(const std::string& name, const std::string& value);

    // Entries joined, each followed by CR LF.
    std::string Text() const;

    // The list's comparison: <0, 0, >0.
    int CompareStrings(const std::string& a, const std::string& b) const;

private:
    struct Item {
        std::string S;
        std::intptr_t Data = 0;
    };
    void Check(int index) const;
    int InsertItem(int index, const std::string& s, std::intptr_t data);
    std::vector<Item> FItems;
    bool FSorted = false;
    bool FCaseSensitive = false;
    TDuplicates FDuplicates = TDuplicates::dupIgnore;
};
