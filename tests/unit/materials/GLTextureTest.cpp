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

// A filer that keeps the one binary property an object declares.
class TCapturingFiler : public TFiler {
public:
    void DefineBinaryProperty(const std::string& name, const TBinaryReader& readData,
                              const TBinaryWriter& writeData, bool hasData) override {
        Name = name;
        Read = readData;
        Write = writeData;
        HasData = hasData;
    }
    std::string Name;
    TBinaryReader Read;
    TBinaryWriter Write;
    bool HasData = false;
};

TEST(GLColor, StoresItsFourSinglesAsColorAndReadsThemBackQuietly) {
    TCountingObject owner(nullptr);
    TGLColor colour(&owner, {0.5f, -1, 2, 0.25f});
    TCapturingFiler filer;
    colour.DefineProperties(filer);
    EXPECT_EQ(filer.Name, "Color");
    EXPECT_TRUE(filer.HasData) << "always written";
    const std::vector<uint8_t> bytes = filer.Write();
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 0, 0, 0x3F, 0, 0, 0x80, 0xBF, 0, 0, 0, 0x40, 0, 0,
                                           0x80, 0x3E}));

    TGLColor read(&owner);
    read.DefineProperties(filer);
    filer.Read(bytes);
    EXPECT_EQ(read.Color(), colour.Color());
    filer.Read(std::vector<uint8_t>{0, 0, 0x80, 0x3F}); // a short record: red only
    EXPECT_EQ(read.Color(), (TVector{1, -1, 2, 0.25f}));
    EXPECT_EQ(owner.Changes, 0) << "reading the stored form notifies nobody";
}

TEST(GLColor, AWindowsColourBecomesSinglesWithTheGivenAlpha) {
    EXPECT_EQ(ConvertWinColor(0x0080FF, 0.5f), (TVector{1, 128 / 255.0f, 0, 0.5f}));
    EXPECT_EQ(ConvertWinColor(clWhite), (TVector{1, 1, 1, 1}));
}

} // namespace
