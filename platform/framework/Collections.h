// Owned collections: items kept in order by the one collection they belong to, which frees
// them. An item freed on its own leaves its collection first.
#pragma once

#include "platform/framework/Classes.h"

#include <vector>

class TCollection;

class TCollectionItem : public TPersistent {
public:
    ~TCollectionItem() override;
    TCollectionItem(const TCollectionItem&) = delete;
    TCollectionItem& operator=(const TCollectionItem&) = delete;
    const char* ClassName() const override { return "TCollectionItem"; }

    TCollection* Collection() const { return FCollection; }
    // The position in the collection, -1 outside one.
    int Index() const;

protected:
    // Joins `collection` (if any) as its last item.
    explicit TCollectionItem(TCollection* collection);

private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
};

class TCollection : public TPersistent {
public:
    explicit TCollection(TPersistent* owner) : FOwner(owner) {}
    ~TCollection() override;
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;
    const char* ClassName() const override { return "TCollection"; }

    TPersistent* Owner() const { return FOwner; }
    int Count() const { return static_cast<int>(FItems.size()); }
    TCollectionItem* Items(int index) const { return FItems.at(index); }
    int IndexOf(const TCollectionItem* item) const;
    // Frees the item at `index`.
    void Delete(int index);
    // Frees every item, the last one first.
    void Clear();

private:
    friend class TCollectionItem;

    TPersistent* FOwner;
    std::vector<TCollectionItem*> FItems; // owned, in order
};
