#include "platform/framework/Collections.h"

#include <gtest/gtest.h>

namespace {

// Counts the items alive, so that the test sees which ones were freed.
class TCountedItem : public TCollectionItem {
public:
    explicit TCountedItem(TCollection* collection, int& alive)
        : TCollectionItem(collection), FAlive(alive) {
        ++FAlive;
    }
    ~TCountedItem() override { --FAlive; }

private:
    int& FAlive;
};

TEST(Collections, ItemsKeepTheirOrderLeaveWhenFreedAndGoWithTheCollection) {
    int alive = 0;
    auto collection = std::make_unique<TCollection>(nullptr);
    auto* first = new TCountedItem(collection.get(), alive);
    auto* second = new TCountedItem(collection.get(), alive);
    auto* third = new TCountedItem(collection.get(), alive);
    EXPECT_EQ(collection->Count(), 3);
    EXPECT_EQ(third->Index(), 2);
    EXPECT_EQ(second->Collection(), collection.get());

    delete second;
    EXPECT_EQ(collection->Count(), 2);
    EXPECT_EQ(third->Index(), 1);
    collection->Delete(0);
    EXPECT_EQ(collection->Items(0), third);
    EXPECT_EQ(alive, 1);
    EXPECT_THROW(collection->Delete(5), std::out_of_range);

    new TCountedItem(collection.get(), alive);
    collection.reset();
    EXPECT_EQ(alive, 0) << "the collection frees what it holds";
    (void)first;
}

} // namespace
