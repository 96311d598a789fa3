#include "Classes.h"

#include <windows.h>

#include <algorithm>

// ---- TObjectList

TObjectList::~TObjectList() {
    Clear();
}

void TObjectList::Check(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
}

int TObjectList::Add(TObject* item) {
    FItems.push_back(item);
    return Count() - 1;
}

TObject* TObjectList::Get(int index) const {
    Check(index);
    return FItems[static_cast<size_t>(index)];
}

void TObjectList::Put(int index, TObject* item) {
    Check(index);
    TObject*& slot = FItems[static_cast<size_t>(index)];
    if (slot == item)
        return;
    TObject* old = slot;
    slot = item;
    if (FOwnsObjects)
        delete old;
}

void TObjectList::Delete(int index) {
    Check(index);
    TObject* old = FItems[static_cast<size_t>(index)];
    FItems.erase(FItems.begin() + index);
    if (FOwnsObjects)
        delete old;
}

void TObjectList::Clear() {
    for (int i = Count() - 1; i >= 0; --i)
        Delete(i);
}

// ---- TStringList

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
    int r = CompareStringA(LOCALE_USER_DEFAULT, FCaseSensitive ? 0 : NORM_IGNORECASE, a.data(),
                           static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
    return r - CSTR_EQUAL;
}

void TStringList::Check(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
}

const std::string& TStringList::Strings(int index) const {
    Check(index);
    return FItems[static_cast<size_t>(index)].S;
}

void TStringList::PutString(int index, const std::string& s) {
    if (FSorted)
        throw EListError("Operation not allowed on sorted list");
    Check(index);
    FItems[static_cast<size_t>(index)].S = s;
}

TObject* TStringList::Objects(int index) const {
    return reinterpret_cast<TObject*>(Data(index));
}

void TStringList::PutObject(int index, TObject* object) {
    PutData(index, reinterpret_cast<std::intptr_t>(object));
}

std::intptr_t TStringList::Data(int index) const {
    Check(index);
    return FItems[static_cast<size_t>(index)].Data;
}

void TStringList::PutData(int index, std::intptr_t data) {
    Check(index);
    FItems[static_cast<size_t>(index)].Data = data;
}

int TStringList::InsertItem(int index, const std::string& s, std::intptr_t data) {
    FItems.insert(FItems.begin() + index, Item{s, data});
    return index;
}

int TStringList::AddData(const std::string& s, std::intptr_t data) {
    if (!FSorted)
        return InsertItem(Count(), s, data);
    int index;
    if (Find(s, index)) {
        switch (FDuplicates) {
        case TDuplicates::dupIgnore:
            return index;
        case TDuplicates::dupError:
            throw EListError("String list does not allow duplicates");
        case TDuplicates::dupAccept:
            break;
        }
    }
    return InsertItem(index, s, data);
}

int TStringList::Add(const std::string& s) {
    return AddData(s, 0);
}

int TStringList::AddObject(const std::string& s, TObject* object) {
    return AddData(s, reinterpret_cast<std::intptr_t>(object));
}

void TStringList::Insert(int index, const std::string& s) {
    if (FSorted)
        throw EListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    InsertItem(index, s, 0);
}

void TStringList::Delete(int index) {
    Check(index);
    FItems.erase(FItems.begin() + index);
}

void TStringList::Clear() {
    FItems.clear();
}

void TStringList::Exchange(int a, int b) {
    Check(a);
    Check(b);
    std::swap(FItems[static_cast<size_t>(a)], FItems[static_cast<size_t>(b)]);
}

bool TStringList::Find(const std::string& s, int& index) const {
    // Lower bound; with duplicates accepted the first equal entry is found.
    int lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = CompareStrings(FItems[static_cast<size_t>(mid)].S, s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0)
                found = true;
        }
    }
    index = lo;
    return found;
}

int TStringList::IndexOf(const std::string& s) const {
    if (FSorted) {
        int index;
        return Find(s, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (CompareStrings(FItems[static_cast<size_t>(i)].S, s) == 0)
            return i;
    return -1;
}

int TStringList::IndexOfObject(TObject* object) const {
    for (int i = 0; i < Count(); ++i)
        if (Objects(i) == object)
            return i;
    return -1;
}

void TStringList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(), [this](const Item& a, const Item& b) {
        return CompareStrings(a.S, b.S) < 0;
    });
}

void TStringList::SetSorted(bool value) {
    if (value == FSorted)
        return;
    if (value)
        Sort();
    FSorted = value;
}

void TStringList::SetCaseSensitive(bool value) {
    if (value == FCaseSensitive)
        return;
    FCaseSensitive = value;
    if (FSorted)
        Sort();
}

std::string TStringList::Names(int index) const {
    const std::string& s = Strings(index);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& s = Strings(index);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

int TStringList::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& s = FItems[static_cast<size_t>(i)].S;
        size_t eq = s.find('=');
        if (eq != std::string::npos && CompareStrings(s.substr(0, eq), name) == 0)
            return i;
    }
    return -1;
}

std::string TStringList::Values(const std::string& name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    if (i < 0) {
        Add(name + "=" + value);
    } else if (FSorted) {
        std::intptr_t data = FItems[static_cast<size_t>(i)].Data;
        Delete(i);
        AddData(name + "=" + value, data);
    } else {
        FItems[static_cast<size_t>(i)].S = name + "=" + value;
    }
}

std::string TStringList::Text() const {
    std::string text;
    for (const Item& item : FItems) {
        text += item.S;
        text += "\r\n";
    }
    return text;
}
