#include "BWList.h"

namespace {

[[noreturn]] void RaiseBadPosition(int index) {
    throw EListError(Format("List index out of bounds [%d]", index));
}

}  // namespace

EBWListNotIndexed::EBWListNotIndexed() : ETechnical("List not indexed") {}

TBWList::TBWList(bool ownsObjects) : FOwnsObjects(ownsObjects) {}

TBWList::~TBWList() {
    SetIndexed(false);
    // The store's own destructor frees owned items from the last to the first.
    FItems.reset();
}

int TBWList::Add(TObject* item) {
    if (!FItems)
        FItems = std::make_unique<TObjectList>(FOwnsObjects);
    return FItems->Add(item);
}

void TBWList::SetItem(int index, TObject* item) {
    if (!FItems || index < 0 || index >= FItems->Count())
        RaiseBadPosition(index);
    FItems->Put(index, item);
}

TObject* TBWList::GetItem(int index) const {
    if (!FItems)
        RaiseBadPosition(index);
    return FItems->Get(index);
}

std::int32_t TBWList::GetPK(TObject* item) {
    auto* entity = dynamic_cast<IPersistentEntity*>(item);
    if (entity == nullptr)
        throw EIndexRequiresPersistentEntities(
            "List indexing requires a Persistent entity - override GetPK for other classes");
    return entity->GetPK();
}

int TBWList::IndexOf(TObject* item) const {
    for (int i = 0; i < Count(); ++i)
        if (GetItem(i) == item)
            return i;
    return -1;
}

void TBWList::Delete(int index) {
    if (!FItems)
        RaiseBadPosition(index);
    FItems->Delete(index);
}

void TBWList::Clear() {
    SetIndexed(false);
    if (FItems)
        FItems->Clear();
}

int TBWList::IndexOfPK(std::int32_t pk) const {
    if (!FIndexed)
        throw EBWListNotIndexed();
    const int n = static_cast<int>(FPKIndex.size());
    if (n <= 7) {
        for (const TPKIndexEntry& entry : FPKIndex)
            if (entry.PK == pk)
                return entry.ListIndex;
        return -1;
    }
    int lo = 0, hi = n;
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        const TPKIndexEntry& entry = FPKIndex[static_cast<size_t>(mid)];
        if (pk == entry.PK)
            return entry.ListIndex;
        if (pk < entry.PK)
            hi = mid;
        else
            lo = mid + 1;
    }
    // hi never drops below 1. When the loop ended with lo == hi, entry hi-1
    // was the last mid and is compared once more, harmlessly.
    const TPKIndexEntry& last = FPKIndex[static_cast<size_t>(hi - 1)];
    return pk == last.PK ? last.ListIndex : -1;
}

int TBWList::Count() const {
    return FItems ? FItems->Count() : 0;
}

void TBWList::SetIndexed(bool value) {
    if (value == FIndexed)
        return;
    if (FIndexed)
        FPKIndex.clear();
    FIndexed = value;
}
