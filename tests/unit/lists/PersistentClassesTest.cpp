#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/meshes/PersistentClasses.h"
#include "engine/meshes/VectorLists.h"
#include "tests/support/ArchiveLoad.h"

namespace {

// An archivable item of two versions: version 1 added Value.
class TTestItem : public TPersistentObject {
public:
    const char* ClassName() const override { return "TTestItem"; }
    void WriteToFiler(TBinaryWriter& writer) const override {
        writer.WriteInteger(1);
        writer.WriteString(Name);
        writer.WriteInteger(Value);
    }
    void ReadFromFiler(TBinaryReader& reader) override {
        const int32_t version = ReadArchiveVersion(reader, 1);
        Name = reader.ReadString();
        Value = version >= 1 ? reader.ReadInteger() : -1;
    }
    std::string Name;
    int32_t Value = 0;
};

// Owns its items, as the engine's object lists do; may hold lists of its own class.
class TTestObjectList : public TPersistentObjectList {
public:
    ~TTestObjectList() override { Clean(); }
    const char* ClassName() const override { return "TTestObjectList"; }
};

// Holds TTestItem objects only.
class TTestItemList : public TTestObjectList {
public:
    const char* ClassName() const override { return "TTestItemList"; }

protected:
    bool AcceptsItem(const TPersistentObject& item) const override {
        return dynamic_cast<const TTestItem*>(&item) != nullptr;
    }
};

// Can only be made for an owner, as a mesh file format can.
class TOwnedObject : public TPersistentObject {
public:
    explicit TOwnedObject(TPersistent* owner) { Assert(owner != nullptr, "An owner is needed"); }
    const char* ClassName() const override { return "TOwnedObject"; }
};

class TSignedObject : public TPersistentObject {
public:
    const char* ClassName() const override { return "TSignedObject"; }
    std::string FileSignature() const override { return "SIG!"; }
};

class PersistentClasses : public testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterVectorListClasses();
        RegisterClass<TTestItem>();
        RegisterClass<TTestObjectList>();
        RegisterClass<TComponent>();
        RegisterClass("TOwnedObject", &CreateInstance<TOwnedObject>);
    }
};

TBytes Written(const std::function<void(TBinaryWriter&)>& write) {
    TMemoryStream stream;
    TBinaryWriter writer(stream);
    write(writer);
    return {stream.Memory(), stream.Memory() + stream.Size()};
}

TBytes Archive(const TPersistentObject& object) {
    return Written([&](TBinaryWriter& writer) { object.WriteToFiler(writer); });
}

TBytes operator+(TBytes a, const std::string& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TBytes operator+(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TTestItem* NewItem(const std::string& name, int32_t value) {
    auto* item = new TTestItem;
    item->Name = name;
    item->Value = value;
    return item;
}

} // namespace

TEST_F(PersistentClasses, WriterTagsEveryValueAndTheReaderReadsItBack) {
    struct Case {
        std::function<void(TBinaryWriter&)> write;
        TBytes bytes;
    };
    const std::vector<Case> cases = {
        {[](TBinaryWriter& w) { w.WriteInteger(-128); }, {2, 0x80}},
        {[](TBinaryWriter& w) { w.WriteInteger(128); }, {3, 0x80, 0}},
        {[](TBinaryWriter& w) { w.WriteInteger(-32769); }, {4, 0xFF, 0x7F, 0xFF, 0xFF}},
        {[](TBinaryWriter& w) { w.WriteBoolean(true); }, {9}},
        {[](TBinaryWriter& w) { w.WriteString("ab"); }, {6, 2, 'a', 'b'}},
        {[](TBinaryWriter& w) { w.WriteFloat(-2.0); }, {5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0xC0}},
        {[](TBinaryWriter& w) { w.WriteListBegin(), w.WriteListEnd(); }, {1, 0}},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(Written(cases[i].write), cases[i].bytes) << "case " << i;

    const std::string text(300, 'y');
    const int32_t integers[] = {0, -128, 127, 128, -32768, 32768, -2147483647 - 1, 2147483647};
    const double floats[] = {-0.0, 1e-310, 3.141592653589793, -1e300,
                             std::numeric_limits<double>::infinity()};
    const TBytes bytes = Written([&](TBinaryWriter& w) {
        for (int32_t i : integers)
            w.WriteInteger(i);
        for (double f : floats)
            w.WriteFloat(f);
        w.WriteBoolean(false);
        w.WriteString(text);
    });
    // A string of 256 characters or more takes tag 12 and a 4-byte length.
    EXPECT_EQ(TBytes(bytes.end() - 305, bytes.end() - 300), (TBytes{12, 0x2C, 0x01, 0, 0}));
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TBinaryReader reader(stream);
    for (int32_t i : integers)
        EXPECT_EQ(reader.ReadInteger(), i);
    for (double f : floats) {
        const double read = reader.ReadFloat();
        EXPECT_TRUE(read == f && std::signbit(read) == std::signbit(f)) << f;
    }
    EXPECT_FALSE(reader.ReadBoolean());
    EXPECT_EQ(reader.ReadString(), text);
}

TEST_F(PersistentClasses, ReaderAcceptsUTF16AndUTF8Strings) {
    // "a", U+00E9, U+1F600 as a surrogate pair, then a lone high surrogate; then UTF-8.
    const TBytes bytes = {18,   5,    0,    0,    0,  'a', 0, 0xE9, 0, 0x3D, 0xD8,
                          0x00, 0xDE, 0x00, 0xD8, 20, 2,   0, 0,    0, 0xC3, 0xA9};
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TBinaryReader reader(stream);
    EXPECT_EQ(reader.ReadString(), "a\u00E9\U0001F600\uFFFD");
    EXPECT_EQ(reader.ReadString(), "\u00E9");
}

TEST_F(PersistentClasses, ReaderRefusesValuesOfAnotherTypeAndLengthsBeyondTheStream) {
    const std::vector<std::pair<TBytes, std::string>> cases = {
        {{2, 1}, "Invalid archive value: tag 2 where a string was expected"},
        {{12, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}, "a string of 2147483647 bytes where 1 are left"},
        {{20, 0xFE, 0xFF, 0xFF, 0xFF}, "a string of -2 bytes where 0 are left"},
        {{18, 2, 0, 0, 0, 'a', 0, 'b'}, "a string of 4 bytes where 3 are left"},
        {{6, 3, 'a'}, "a string of 3 bytes where 1 are left"},
        {{6}, "Stream read error"},
    };
    for (const auto& [bytes, message] : cases) {
        TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
        TBinaryReader reader(stream);
        try {
            reader.ReadString();
            ADD_FAILURE() << message;
        } catch (const EReadError& e) {
            EXPECT_TRUE(e.Message().ends_with(message)) << e.Message();
        }
    }
}

TEST_F(PersistentClasses, EveryListClassRoundTripsToTheSameBytes) {
    TAffineVectorList affine;
    affine.Add(AffineVectorMake(1, -2, 3.5f), AffineVectorMake(0, 0, -0.0f));
    TVectorList vectors;
    vectors.Add(VectorMake(1, 2, 3, 4));
    TQuaternionList quaternions;
    quaternions.Add(TQuaternion{ZVector, 0.5f});
    TTexPointList points;
    points.Add(0.25f, 0.75f);
    TIntegerList integers;
    integers.Add(-7, 1 << 30);
    TSingleList singles;
    singles.Add(std::numeric_limits<float>::denorm_min());
    TByteList bytes;
    bytes.SetCount(300);
    const TAffineVectorList empty;
    for (const TBaseList* list : std::initializer_list<const TBaseList*>{
             &affine, &vectors, &quaternions, &points, &integers, &singles, &bytes, &empty}) {
        const TBytes archive = Archive(*list);
        const std::unique_ptr<TPersistent> made = GetClass(list->ClassName())();
        auto& copy = dynamic_cast<TBaseList&>(*made);
        copy.AddNulls(1);
        EXPECT_EQ(LoadError(copy, archive), "ok");
        EXPECT_EQ(copy.Capacity(), list->Count()) << list->ClassName();
        EXPECT_EQ(Archive(copy), archive) << list->ClassName();
    }
    // Version 0, Count, ItemSize, then the raw items.
    EXPECT_EQ(Archive(integers), (TBytes{2, 0, 2, 2, 2, 4, 0xF9, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x40}));
}

TEST_F(PersistentClasses, ListArchivesOfANewerVersionOrAnotherShapeAreRefused) {
    const std::vector<std::pair<TBytes, std::string>> cases = {
        {{2, 1, 2, 0, 2, 12}, "EFilerException: TAffineVectorList : unknown archive version 1"},
        {{2, 0xFF}, "EFilerException: TAffineVectorList : unknown archive version -1"},
        {{2, 0, 2, 1, 2, 4, 0, 0, 0, 0},
         "EFilerException: TAffineVectorList : invalid archive item size 4"},
        {{2, 0, 4, 0xFF, 0xFF, 0xFF, 0x7F, 2, 12, 0},
         "EFilerException: TAffineVectorList : invalid archive count 2147483647"},
        {{2, 0, 2, 0xFF, 2, 12}, "EFilerException: TAffineVectorList : invalid archive count -1"},
        {TBytes{2, 0, 2, 2, 2, 12} + TBytes(23, 0),
         "EFilerException: TAffineVectorList : invalid archive count 2"},
        {{6, 1, '0'}, "EReadError: Invalid archive value: tag 6 where an integer was expected"},
    };
    for (const auto& [bytes, error] : cases) {
        TAffineVectorList list;
        list.Add(XVector);
        EXPECT_EQ(LoadError(list, bytes), error);
        EXPECT_EQ(list.Count(), 1); // refused before anything changed
    }
}

TEST_F(PersistentClasses, ObjectListsArchiveClassNamesOnceAndAbsentItems) {
    TTestObjectList list;
    auto* vectors = new TAffineVectorList;
    vectors->Add(XVector);
    list.Add(NewItem("first", 1));
    list.Add(vectors);
    list.Add(nullptr);
    list.Add(NewItem("third", 300));
    const TBytes archive = Archive(list);
    // The first item under its class name, the last one under the class's index in the table.
    EXPECT_EQ(TBytes(archive.begin(), archive.begin() + 14), (TBytes{2, 0, 1, 6, 9} + "TTestItem"));
    const TBytes last = TBytes{8, 2, 0, 2, 0, 2, 1, 6, 5} + "third" + TBytes{3, 44, 1, 0};
    EXPECT_EQ(TBytes(archive.end() - long(last.size()), archive.end()), last);

    TTestObjectList copy;
    copy.Add(NewItem("dropped", 0));
    EXPECT_EQ(LoadError(copy, archive), "ok");
    ASSERT_EQ(copy.Count(), 4);
    EXPECT_EQ(static_cast<TTestItem*>(copy[3])->Value, 300);
    EXPECT_EQ(Archive(copy), archive);
    TTestObjectList assigned;
    assigned.Assign(&list);
    EXPECT_EQ(Archive(assigned), archive);

    EXPECT_EQ(list.Capacity(), 16);
    EXPECT_EQ(list.Remove(vectors), 1);
    EXPECT_EQ(list.IndexOf(nullptr), 1);
    list.Add(new TComponent(nullptr));
    delete vectors;
    EXPECT_THROW(Archive(list), EFilerException); // a component cannot be archived
}

TEST_F(PersistentClasses, HostileObjectListArchivesRaiseTheArchiveErrors) {
    const TBytes begin = {2, 0, 1};
    const TBytes item = TBytes{6, 9} + "TTestItem" + TBytes{2, 1, 6, 1, 'a', 2, 7};
    const std::vector<std::pair<TBytes, std::string>> cases = {
        {begin + item + TBytes{8, 3, 0, 0, 0}, "ok"},
        {{2, 1, 1, 0}, "EFilerException: TTestItemList : unknown archive version 1"},
        {begin + TBytes{6, 4} + "TFoo",
         "EFilerException: TTestItemList : unknown archive class TFoo"},
        {begin + TBytes{6, 10} + "TComponent",
         "EFilerException: TTestItemList : invalid archive class TComponent"},
        {begin + TBytes{6, 17} + "TAffineVectorList",
         "EFilerException: TTestItemList : invalid archive class TAffineVectorList"},
        {begin + item + TBytes{2, 1},
         "EFilerException: TTestItemList : invalid archive class index 1"},
        {begin + TBytes{8, 2, 0x40, 0}, "Exception: Broken ObjectList archive"},
        {begin + TBytes{9, 2, 0, 0}, "Exception: Broken ObjectList archive"},
        {begin + TBytes{8, 6, 0, 0}, "Exception: Broken ObjectList archive"},
        {begin + TBytes{8, 8, 2, 0, 0}, "Exception: Broken ObjectList archive"},
        {begin + TBytes{6, 12} + "TOwnedObject",
         "EFilerException: TTestItemList : invalid archive class TOwnedObject"},
        {begin + TBytes{5} + TBytes(10, 0), "Exception: Broken ObjectList archive"},
        {begin + TBytes{1, 0, 0}, "Exception: Broken ObjectList archive"},
        {begin + item + TBytes{2, 0, 2, 5},
         "EFilerException: TTestItem : unknown archive version 5"},
        {begin + item, "EReadError: Stream read error"},
    };
    for (const auto& [bytes, error] : cases) {
        TTestItemList list;
        EXPECT_EQ(LoadError(list, bytes), error);
    }
}

TEST_F(PersistentClasses, NestingThatNeverEndsIsRefused) {
    TBytes archive = {2, 0, 1};
    for (int i = 0; i < 100000; ++i) {
        const TBytes level = TBytes{6, 15} + "TTestObjectList" + TBytes{2, 0, 1};
        archive.insert(archive.end(), level.begin(), level.end());
    }
    TTestObjectList list;
    EXPECT_EQ(LoadError(list, archive),
              "EReadError: Invalid archive value: lists nested deeper than 256");

    TTestObjectList deepest;
    TTestObjectList* level = &deepest;
    for (int i = 1; i < TBinaryReader::MaxListNesting; ++i) {
        auto* next = new TTestObjectList;
        level->Add(next);
        level = next;
    }
    EXPECT_EQ(LoadError(list, Archive(deepest)), "ok");
}

TEST_F(PersistentClasses, TruncationAtEveryOffsetIsAnArchiveError) {
    TTestObjectList list;
    auto* indices = new TIntegerList;
    indices->Add(1, 2);
    list.Add(NewItem("item", 1000));
    list.Add(indices);
    list.Add(nullptr);
    for (const TPersistentObject* source :
         {static_cast<TPersistentObject*>(&list), static_cast<TPersistentObject*>(indices)}) {
        const TBytes archive = Archive(*source);
        for (size_t size = 0; size < archive.size(); ++size) {
            const std::unique_ptr<TPersistent> made = GetClass(source->ClassName())();
            const std::string error =
                LoadError(dynamic_cast<TPersistentObject&>(*made),
                          TBytes(archive.begin(), archive.begin() + long(size)));
            EXPECT_TRUE(error.starts_with("EReadError: ") || error.starts_with("EFilerException: "))
                << source->ClassName() << " cut at " << size << ": " << error;
        }
    }
}

TEST_F(PersistentClasses, FileSignaturesAreWrittenAndChecked) {
    TSignedObject object;
    TMemoryStream stream;
    object.SaveToStream(stream);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), stream.Size()), "SIG!");
    EXPECT_EQ(LoadError(object, TBytes{} + "SIG!"), "ok");
    EXPECT_EQ(LoadError(object, TBytes{} + "SIG?"),
              "EInvalidFileSignature: Invalid file signature");
    EXPECT_EQ(LoadError(object, TBytes{} + "SI"), "EInvalidFileSignature: Invalid file signature");
}
