#include "engine/scene/GLMisc.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace {

// Records which coordinates object reported a change.
class TCoordinatesOwner : public TGLCoordinatesUpdateAbleComponent {
public:
    TCoordinatesOwner() : TGLCoordinatesUpdateAbleComponent(nullptr) {}
    void CoordinateChanged(TGLCoordinates* sender) override { Changed.push_back(sender); }
    std::vector<TGLCoordinates*> Changed;
};

class TCountingComponent : public TGLUpdateAbleComponent {
public:
    using TGLUpdateAbleComponent::TGLUpdateAbleComponent;
    void NotifyChange(TObject* sender) override {
        Senders.push_back(sender);
        TGLUpdateAbleComponent::NotifyChange(sender);
    }
    std::vector<TObject*> Senders;
};

class TCountingObject : public TGLUpdateAbleObject {
public:
    using TGLUpdateAbleObject::TGLUpdateAbleObject;
    void NotifyChange(TObject* sender) override {
        Senders.push_back(sender);
        TGLUpdateAbleObject::NotifyChange(sender);
    }
    std::vector<TObject*> Senders;
};

// A filer that keeps what the object declares.
class TCapturingFiler : public TFiler {
public:
    struct TProperty {
        TBinaryReader Read;
        TBinaryWriter Write;
        bool HasData;
    };
    void DefineBinaryProperty(const std::string& name, const TBinaryReader& readData,
                              const TBinaryWriter& writeData, bool hasData) override {
        Properties[name] = {readData, writeData, hasData};
    }
    std::map<std::string, TProperty> Properties;
};

uint32_t Bits(float value) {
    return std::bit_cast<uint32_t>(value);
}

} // namespace

TEST(GLMiscKinds, SetVectorAndSetPointAssertTheKind) {
    TCoordinatesOwner owner;
    TGLCoordinates point(&owner, {1, 2, 3, 1}, ckPoint);
    TGLCoordinates direction(&owner, {0, 0, 1, 0}, ckDirection);
    EXPECT_THROW(point.SetVector(4, 5, 6), EAssertionFailed);
    EXPECT_THROW(point.SetVector(4, 5, 6, 1), EAssertionFailed);
    EXPECT_THROW(direction.SetPoint(4, 5, 6), EAssertionFailed);
    EXPECT_EQ(point.AsVector(), (TVector{1, 2, 3, 1}));
    EXPECT_EQ(direction.AsVector(), (TVector{0, 0, 1, 0}));
    EXPECT_TRUE(owner.Changed.empty());

    direction.SetVector(4, 5, 6);
    EXPECT_EQ(direction.AsVector(), (TVector{4, 5, 6, 0}));
    direction.SetVector(4, 5, 6, 9); // a direction accepts any w given explicitly
    EXPECT_EQ(direction.AsVector(), (TVector{4, 5, 6, 9}));
    point.SetPoint(7, 8, 9);
    EXPECT_EQ(point.AsVector(), (TVector{7, 8, 9, 1}));
    EXPECT_EQ(owner.Changed.size(), 3u);

    TGLCoordinates free(&owner, {0, 0, 0, 0}, ckFree);
    free.SetPoint(1, 1, 1);
    EXPECT_EQ(free.AsVector(), (TVector{1, 1, 1, 1}));
    free.SetVector(2, 2, 2);
    EXPECT_EQ(free.AsVector(), (TVector{2, 2, 2, 0}));
}

TEST(GLMiscKinds, WholeVectorWriteCorrectsWButComponentWritesDoNot) {
    TCoordinatesOwner owner;
    TGLCoordinates point(&owner, NullHmgPoint, ckPoint);
    TGLCoordinates direction(&owner, NullHmgVector, ckDirection);
    TGLCoordinates free(&owner, NullHmgVector, ckFree);
    for (TGLCoordinates* c : {&point, &direction, &free})
        c->SetAsVector({1, 2, 3, 7});
    EXPECT_EQ(point.AsVector(), (TVector{1, 2, 3, 1}));
    EXPECT_EQ(direction.AsVector(), (TVector{1, 2, 3, 0}));
    EXPECT_EQ(free.AsVector(), (TVector{1, 2, 3, 7}));
    EXPECT_EQ(point.AsAffineVector(), (TAffineVector{1, 2, 3}));

    point.SetW(5);
    direction.SetX(-1);
    direction.SetY(-2);
    direction.SetZ(-3);
    direction.SetW(2);
    EXPECT_EQ(point.AsVector(), (TVector{1, 2, 3, 5}));
    EXPECT_EQ(direction.AsVector(), (TVector{-1, -2, -3, 2}));
    EXPECT_EQ(owner.Changed.size(), 8u);
}

TEST(GLMiscNotification, CoordinatesOwnerHearsWhichObjectChanged) {
    TCoordinatesOwner owner;
    TGLCoordinates position(&owner, NullHmgPoint, ckPoint);
    TGLCoordinates direction(&owner, ZHmgVector, ckDirection);
    int callbacks = 0;
    position.OnNotifyChange = [&](TObject*) { ++callbacks; };
    position.BeginUpdate(); // neither the counter nor the callback apply to such an owner
    direction.SetZ(2);
    position.SetX(1);
    direction.Normalize();
    EXPECT_EQ(owner.Changed, (std::vector<TGLCoordinates*>{&direction, &position, &direction}));
    EXPECT_EQ(callbacks, 0);
}

TEST(GLMiscNotification, OtherOwnersGetTheCommonNotificationThenTheCallback) {
    TCountingComponent grandOwner(nullptr);
    TCountingObject owner(&grandOwner);
    TGLCoordinates coordinates(&owner, NullHmgVector, ckFree);
    std::vector<std::string> events;
    owner.OnNotifyChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &owner);
        events.push_back("owner callback");
    };
    coordinates.OnNotifyChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &coordinates);
        // The owner has been told by the time the callback runs.
        events.push_back("coordinates callback, owner told " +
                         std::to_string(owner.Senders.size()));
    };
    coordinates.SetX(1);
    EXPECT_EQ(owner.Senders, std::vector<TObject*>{&coordinates});
    EXPECT_EQ(grandOwner.Senders, std::vector<TObject*>{&owner});
    EXPECT_EQ(events,
              (std::vector<std::string>{"owner callback", "coordinates callback, owner told 1"}));

    // While updates are held nothing is sent, not even the callback.
    coordinates.BeginUpdate();
    coordinates.SetY(1);
    EXPECT_EQ(owner.Senders.size(), 1u);
    EXPECT_EQ(events.size(), 2u);
    coordinates.EndUpdate();
    coordinates.SetY(2);
    EXPECT_EQ(owner.Senders.size(), 2u);
}

TEST(GLMiscNotification, ObjectWithoutOwnerChangesSilently) {
    TGLCoordinates coordinates(nullptr, NullHmgPoint, ckPoint);
    bool called = false;
    coordinates.OnNotifyChange = [&](TObject*) { called = true; };
    coordinates.SetPoint(1, 2, 3);
    EXPECT_FALSE(called);
    EXPECT_EQ(coordinates.AsVector(), (TVector{1, 2, 3, 1}));
}

TEST(GLMiscNotification, ComponentsPassNoticesOnlyToUpdatableOwners) {
    TCountingComponent top(nullptr);
    TCountingComponent middle(&top);
    TCountingComponent leaf(&middle);
    leaf.NotifyChange(&leaf);
    EXPECT_EQ(middle.Senders, std::vector<TObject*>{&leaf});
    EXPECT_EQ(top.Senders, std::vector<TObject*>{&middle});

    TComponent plain(nullptr);
    TCountingComponent orphan(&plain);
    EXPECT_NO_THROW(orphan.NotifyChange(&orphan));
    // Detach the children before their owners go out of scope in reverse order.
    middle.RemoveComponent(&leaf);
    top.RemoveComponent(&middle);
    plain.RemoveComponent(&orphan);
}

TEST(GLMiscAssign, CopiesComponentsWithoutNotificationOrKindChange) {
    TCoordinatesOwner owner;
    TGLCoordinates target(&owner, NullHmgPoint, ckPoint);
    TGLCoordinates source(nullptr, {1, 2, 3, 0}, ckDirection);
    target.Assign(&source);
    EXPECT_EQ(target.AsVector(), (TVector{1, 2, 3, 0}));
    EXPECT_EQ(target.Kind(), ckPoint);
    EXPECT_TRUE(owner.Changed.empty());

    TGLCoordinates4 four(nullptr, {5, 6, 7, 8}, ckFree);
    target.Assign(&four);
    EXPECT_EQ(target.AsVector(), (TVector{5, 6, 7, 8}));

    TGLUpdateAbleObject foreign(nullptr);
    EXPECT_THROW(target.Assign(&foreign), EConvertError);
    EXPECT_THROW(target.Assign(nullptr), EConvertError);
}

TEST(GLMiscQueries, EqualsIsBitwiseAndAddressIsTheStorage) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    TGLCoordinates c(nullptr, {0, 1, nan, 1}, ckFree);
    EXPECT_TRUE(c.Equals({0, 1, nan, 1}));
    EXPECT_FALSE(c.Equals({-0.0f, 1, nan, 1}));
    EXPECT_FALSE(c.Equals({0, 1, nan, 0}));
    const float* address = c.AsAddress();
    c.SetX(4);
    EXPECT_EQ(address[0], 4);
    EXPECT_EQ(address[3], 1);

    TGLCoordinates v(nullptr, {3, 4, 12, 5}, ckDirection);
    EXPECT_EQ(v.VectorLength(), 13);
    v.Normalize();
    EXPECT_FLOAT_EQ(v.X(), 3.0f / 13);
    EXPECT_FLOAT_EQ(v.Z(), 12.0f / 13);
    EXPECT_EQ(v.W(), 0);
}

TEST(GLMiscStoredForm, WritesSixteenLittleEndianBytes) {
    TGLCoordinates position(nullptr, {-1, -1, -1, 1}, ckPoint);
    TCapturingFiler filer;
    position.DefineProperties(filer);
    ASSERT_EQ(filer.Properties.size(), 1u);
    ASSERT_TRUE(filer.Properties.contains("Coordinates"));
    const auto& stored = filer.Properties["Coordinates"];
    EXPECT_TRUE(stored.HasData);
    EXPECT_EQ(stored.Write(),
              (std::vector<uint8_t>{0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x80, 0xBF, 0x00, 0x00,
                                    0x80, 0xBF, 0x00, 0x00, 0x80, 0x3F}));
}

TEST(GLMiscStoredForm, ReadingIsRawAndSilent) {
    TCoordinatesOwner owner;
    TGLCoordinates direction(&owner, ZHmgVector, ckDirection);
    TCapturingFiler filer;
    direction.DefineProperties(filer);
    // (1.5785296e-24, 1, -4.37113883e-08, 1): bits kept exactly, w not corrected.
    const std::vector<uint8_t> bytes{0x00, 0x44, 0xF4, 0x17, 0x00, 0x00, 0x80, 0x3F,
                                     0x2E, 0xBD, 0x3B, 0xB3, 0x00, 0x00, 0x80, 0x3F};
    filer.Properties["Coordinates"].Read(bytes);
    EXPECT_EQ(Bits(direction.X()), 0x17F44400u);
    EXPECT_EQ(Bits(direction.Y()), 0x3F800000u);
    EXPECT_EQ(Bits(direction.Z()), 0xB33BBD2Eu);
    EXPECT_EQ(direction.W(), 1);
    EXPECT_TRUE(owner.Changed.empty());
}

TEST(GLMiscStoredForm, ShortOrLongRecordsTouchOnlySixteenBytesAtMost) {
    TGLCoordinates c(nullptr, {5, 6, 7, 8}, ckFree);
    const std::vector<uint8_t> eight{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40};
    c.ReadData(eight);
    EXPECT_EQ(c.AsVector(), (TVector{1, 2, 7, 8}));
    std::vector<uint8_t> twenty(20, 0);
    c.ReadData(twenty);
    EXPECT_EQ(c.AsVector(), (TVector{0, 0, 0, 0}));
    c.ReadData({});
    EXPECT_EQ(c.AsVector(), (TVector{0, 0, 0, 0}));
}
