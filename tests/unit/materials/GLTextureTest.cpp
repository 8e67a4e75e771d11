#include "engine/materials/GLTexture.h"

#include <gtest/gtest.h>

namespace {

// Counts the notices a colour's owner hears.
class TCountingComponent : public TGLUpdateAbleComponent {
public:
    using TGLUpdateAbleComponent::TGLUpdateAbleComponent;
    void NotifyChange(TObject*) override { ++Changes; }
    void StructureChanged() override { ++StructureChanges; }
    int Changes = 0;
    int StructureChanges = 0;
};

class TCountingObject : public TGLUpdateAbleObject {
public:
    using TGLUpdateAbleObject::TGLUpdateAbleObject;
    void NotifyChange(TObject*) override { ++Changes; }
    int Changes = 0;
};

TEST(GLColor, AComponentOwnerHearsOfAStructureChangeAndAChange) {
    TCountingComponent owner(nullptr);
    TGLColor colour(&owner, {0, 0, 0, 1});
    int events = 0;
    colour.OnNotifyChange = [&](TObject*) { ++events; };
    const std::vector<std::function<void()>> changes{
        [&] { colour.SetRed(0.5f); }, [&] { colour.SetGreen(0.5f); }, [&] { colour.SetBlue(0.5f); },
        [&] { colour.SetAlpha(0.5f); },
        [&] {
            colour.SetColor({1, 1, 1, 1});
        }};
    for (const auto& change : changes)
        change();
    EXPECT_EQ(owner.StructureChanges, 5);
    EXPECT_EQ(owner.Changes, 5);
    EXPECT_EQ(events, 5);
    colour.SetRed(1);
    EXPECT_EQ(owner.Changes, 5) << "a component set to its own value notifies nobody";
}

TEST(GLColor, OtherOwnersHearOfTheChangeOnlyAndNoOwnerOfNothing) {
    TCountingObject owner(nullptr);
    TGLColor owned(&owner, {0, 0, 0, 1});
    owned.SetRed(1);
    EXPECT_EQ(owner.Changes, 1);

    TGLColor free(nullptr);
    int events = 0;
    free.OnNotifyChange = [&](TObject*) { ++events; };
    free.SetRed(1);
    EXPECT_EQ(events, 0);
}

} // namespace
