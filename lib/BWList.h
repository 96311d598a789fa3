// The object list every list of both programs derives from, with an optional
// primary-key index over items that offer IPersistentEntity.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/BWExceptions.h"
#include "rtl/Classes.h"

// GetPK met an object without a primary key (or a null reference).
class EIndexRequiresPersistentEntities : public ETechnical {
public:
    using ETechnical::ETechnical;
};

// IndexOfPK on a list whose index is switched off.
class EBWListNotIndexed : public ETechnical {
public:
    EBWListNotIndexed();
};

// An object that has a primary key. A list finds the interface on an item by
// a cross-cast, so a class offers it by deriving from it next to TObject.
class IPersistentEntity {
public:
    virtual ~IPersistentEntity() = default;
    virtual std::int32_t GetPK() = 0;
};

// One entry of the primary-key index: the item's position and its key.
struct TPKIndexEntry {
    std::int32_t ListIndex;
    std::int32_t PK;
};

// Ordered list of object references, owning them or not as chosen at
// construction. The item store is made on the first Add and kept until the
// list is destroyed; which text a bad position raises depends on it:
// "List index out of bounds [%d]" (EListError) while there is no store, and
// the store's own "List index out of bounds (%d)" from GetItem and Delete once
// there is one. SetItem always checks the position itself (square brackets).
// After any error the list is unchanged. An owning list frees an item when it
// is deleted, replaced by another object, cleared, or when the list is
// destroyed; Clear and the destructor free from the last position to the first.
//
// Subclasses add typed access on top of the eight virtual operations and
// leave those alone; the typed GetItem of a subclass returns a derived
// pointer type and therefore overrides GetItem covariantly, always by calling
// the parent's GetItem and checking the class (CheckedCast).
class TBWList : public TObject {
public:
    explicit TBWList(bool ownsObjects);
    ~TBWList() override;
    TBWList(const TBWList&) = delete;
    TBWList& operator=(const TBWList&) = delete;

    // Appends (a null reference too) and returns the new position.
    virtual int Add(TObject* item);
    virtual void SetItem(int index, TObject* item);
    virtual TObject* GetItem(int index) const;
    // The item's key through IPersistentEntity; raises
    // EIndexRequiresPersistentEntities for other objects and for null.
    virtual std::int32_t GetPK(TObject* item);
    // First position holding this very object (identity), or -1.
    virtual int IndexOf(TObject* item) const;
    virtual void Delete(int index);
    // Switches the index off, then removes every item, last first. The item
    // store stays.
    virtual void Clear();
    // Position recorded for the key in PKIndex, or -1; raises
    // EBWListNotIndexed while the index is off. PKIndex must be sorted
    // ascending by PK: up to 7 entries are scanned, from 8 on halved.
    virtual int IndexOfPK(std::int32_t pk) const;

    int Count() const;
    bool OwnsObjects() const { return FOwnsObjects; }
    bool Indexed() const { return FIndexed; }
    // Switching off empties PKIndex; switching on keeps what it holds.
    void SetIndexed(bool value);
    // The index entries. Nothing in the list fills or updates them: whoever
    // switches the index on supplies them and keeps them in step.
    std::vector<TPKIndexEntry>& PKIndex() { return FPKIndex; }

private:
    bool FOwnsObjects;
    std::unique_ptr<TObjectList> FItems;
    bool FIndexed = false;
    std::vector<TPKIndexEntry> FPKIndex;
};
