#include "platform/framework/Collections.h"

#include <algorithm>

TCollectionItem::TCollectionItem(TCollection* collection) : FCollection(collection) {
    if (collection)
        collection->FItems.push_back(this);
}

TCollectionItem::~TCollectionItem() {
    if (!FCollection)
        return;
    auto& items = FCollection->FItems;
    items.erase(std::remove(items.begin(), items.end(), this), items.end());
}

int TCollectionItem::Index() const {
    return FCollection ? FCollection->IndexOf(this) : -1;
}

TCollection::~TCollection() {
    Clear();
}

int TCollection::IndexOf(const TCollectionItem* item) const {
    const auto found = std::find(FItems.begin(), FItems.end(), item);
    return found == FItems.end() ? -1 : static_cast<int>(found - FItems.begin());
}

void TCollection::Delete(int index) {
    delete FItems.at(index); // removes itself
}

void TCollection::Clear() {
    while (!FItems.empty())
        delete FItems.back();
}
