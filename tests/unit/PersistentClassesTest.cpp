#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/meshes/PersistentClasses.h"
#include "engine/meshes/VectorLists.h"

namespace {

using TBytes = std::vector<uint8_t>;

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

// Owns its items, as the engine's object lists do; may hold itself, for nesting.
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

class TSignedObject : public TPersistentObject {
public:
    const char* ClassName() const override { return "TSignedObject"; }
    std::string FileSignature() const override { return "SIG!"; }
};

void RegisterTestClasses() {
    RegisterVectorListClasses();
    RegisterClass<TTestItem>();
    RegisterClass<TTestObjectList>();
    RegisterClass<TComponent>();
}

TBytes Written(const std::function<void(TBinaryWriter&)>& write) {
    TMemoryStream stream;
    TBinaryWriter writer(stream);
    write(writer);
    return {stream.Memory(), stream.Memory() + stream.Size()};
}

TBytes Archive(const TPersistentObject& object) {
    return Written([&](TBinaryWriter& writer) { object.WriteToFiler(writer); });
}

void Load(TPersistentObject& object, const TBytes& bytes) {
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    object.LoadFromStream(stream);
}

// "ok", or the class and message of the archive error that loading raised. Any other
// exception escapes and fails the test.
std::string LoadError(TPersistentObject& object, const TBytes& bytes) {
    try {
        Load(object, bytes);
        return "ok";
    } catch (const EReadError& e) {
        return std::string("EReadError: ") + e.Message();
    } catch (const EFilerException& e) {
        return std::string("EFilerException: ") + e.Message();
    } catch (const EInvalidFileSignature& e) {
        return std::string("EInvalidFileSignature: ") + e.Message();
    } catch (const Exception& e) {
        if (std::string(e.ClassName()) != "Exception")
            throw;
        return "Exception: " + e.Message();
    }
}

TBytes operator+(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TBytes Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TTestItem* NewItem(const std::string& name, int32_t value) {
    auto* item = new TTestItem;
    item->Name = name;
    item->Value = value;
    return item;
}

// A list of two items, an absent one and a third item of the first one's class.
void FillObjectList(TPersistentObjectList& list) {
    auto* vectors = new TAffineVectorList;
    vectors->Add(XVector);
    list.Add(NewItem("first", 1));
    list.Add(vectors);
    list.Add(nullptr);
    list.Add(NewItem("third", 300));
}

} // namespace

TEST(PersistentClasses, WriterTagsEveryValueByItsTable) {
    struct Case {
        std::function<void(TBinaryWriter&)> write;
        TBytes bytes;
    };
    const std::vector<Case> cases = {
        {[](TBinaryWriter& w) { w.WriteInteger(0); }, {2, 0}},
        {[](TBinaryWriter& w) { w.WriteInteger(-128); }, {2, 0x80}},
        {[](TBinaryWriter& w) { w.WriteInteger(127); }, {2, 0x7F}},
        {[](TBinaryWriter& w) { w.WriteInteger(128); }, {3, 0x80, 0}},
        {[](TBinaryWriter& w) { w.WriteInteger(-32768); }, {3, 0, 0x80}},
        {[](TBinaryWriter& w) { w.WriteInteger(32768); }, {4, 0, 0x80, 0, 0}},
        {[](TBinaryWriter& w) { w.WriteInteger(-32769); }, {4, 0xFF, 0x7F, 0xFF, 0xFF}},
        {[](TBinaryWriter& w) { w.WriteBoolean(false); }, {8}},
        {[](TBinaryWriter& w) { w.WriteBoolean(true); }, {9}},
        {[](TBinaryWriter& w) { w.WriteString(""); }, {6, 0}},
        {[](TBinaryWriter& w) { w.WriteString("ab"); }, {6, 2, 'a', 'b'}},
        {[](TBinaryWriter& w) { w.WriteFloat(1.5); }, {5, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F}},
        {[](TBinaryWriter& w) { w.WriteFloat(-2.0); }, {5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0xC0}},
        {[](TBinaryWriter& w) {
             w.WriteListBegin();
             w.WriteListEnd();
         },
         {1, 0}},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(Written(cases[i].write), cases[i].bytes) << "case " << i;
}

TEST(PersistentClasses, StringsOf256CharactersAndMoreTakeTheLongForm) {
    const TBytes short255 = Written([](TBinaryWriter& w) { w.WriteString(std::string(255, 'x')); });
    EXPECT_EQ(short255.size(), 2u + 255);
    EXPECT_EQ(short255[0], 6);
    EXPECT_EQ(short255[1], 255);

    const std::string text(300, 'y');
    const TBytes long300 = Written([&](TBinaryWriter& w) { w.WriteString(text); });
    EXPECT_EQ(TBytes(long300.begin(), long300.begin() + 5), (TBytes{12, 0x2C, 0x01, 0, 0}));
    EXPECT_EQ(long300.size(), 5u + 300);

    TPointerStream stream(long300.data(), static_cast<int64_t>(long300.size()));
    TBinaryReader reader(stream);
    EXPECT_EQ(reader.ReadString(), text);
}

TEST(PersistentClasses, ReaderReadsEveryValueBack) {
    const double values[] = {
        0.0, -0.0, 1e-310, 3.141592653589793, -1e300, std::numeric_limits<double>::infinity()};
    const TBytes bytes = Written([&](TBinaryWriter& w) {
        for (int32_t i : {0, -128, 127, 128, -32768, 32767, 32768, -2147483647 - 1, 2147483647})
            w.WriteInteger(i);
        w.WriteBoolean(true);
        w.WriteBoolean(false);
        w.WriteString("é");
        for (double value : values)
            w.WriteFloat(value);
        w.WriteFloat(std::nan(""));
        w.WriteListBegin();
        w.WriteListEnd();
    });
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TBinaryReader reader(stream);
    for (int32_t i : {0, -128, 127, 128, -32768, 32767, 32768, -2147483647 - 1, 2147483647})
        EXPECT_EQ(reader.ReadInteger(), i);
    EXPECT_TRUE(reader.ReadBoolean());
    EXPECT_FALSE(reader.ReadBoolean());
    EXPECT_EQ(reader.ReadString(), "é");
    for (double value : values) {
        const double read = reader.ReadFloat();
        EXPECT_EQ(read, value);
        EXPECT_EQ(std::signbit(read), std::signbit(value));
    }
    EXPECT_TRUE(std::isnan(reader.ReadFloat()));
    EXPECT_EQ(reader.NextValue(), vaList);
    reader.ReadListBegin();
    EXPECT_TRUE(reader.EndOfList());
    reader.ReadListEnd();
    EXPECT_EQ(reader.BytesLeft(), 0);
}

TEST(PersistentClasses, ReaderAcceptsUTF16AndUTF8Strings) {
    // "a", U+00E9, U+1F600 as a surrogate pair, then a lone high surrogate.
    const TBytes utf16 = {18, 5, 0, 0, 0, 'a', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8};
    const TBytes utf8 = {20, 2, 0, 0, 0, 0xC3, 0xA9};
    const TBytes bytes = utf16 + utf8;
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TBinaryReader reader(stream);
    EXPECT_EQ(reader.ReadString(), "a\u00E9\U0001F600\uFFFD");
    EXPECT_EQ(reader.ReadString(), "\u00E9");
}

TEST(PersistentClasses, ReaderRefusesValuesOfAnotherTypeAndLengthsBeyondTheStream) {
    struct Case {
        TBytes bytes;
        std::function<void(TBinaryReader&)> read;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{6, 1, 'a'},
         [](TBinaryReader& r) { r.ReadInteger(); },
         "Invalid archive value: tag 6 where an integer was expected"},
        {{2, 1},
         [](TBinaryReader& r) { r.ReadString(); },
         "Invalid archive value: tag 2 where a string was expected"},
        {{7},
         [](TBinaryReader& r) { r.ReadBoolean(); },
         "Invalid archive value: tag 7 where a Boolean was expected"},
        {{4, 0, 0, 0, 0},
         [](TBinaryReader& r) { r.ReadFloat(); },
         "Invalid archive value: tag 4 where a float was expected"},
        {{0},
         [](TBinaryReader& r) { r.ReadListBegin(); },
         "Invalid archive value: tag 0 where a list was expected"},
        {{1},
         [](TBinaryReader& r) { r.ReadListEnd(); },
         "Invalid archive value: tag 1 where the end of a list was expected"},
        {{12, 0xFF, 0xFF, 0xFF, 0x7F, 'a'},
         [](TBinaryReader& r) { r.ReadString(); },
         "Invalid archive value: a string of 2147483647 bytes where 1 are left"},
        {{20, 0xFE, 0xFF, 0xFF, 0xFF},
         [](TBinaryReader& r) { r.ReadString(); },
         "Invalid archive value: a string of -2 bytes where 0 are left"},
        {{18, 2, 0, 0, 0, 'a', 0, 'b'},
         [](TBinaryReader& r) { r.ReadString(); },
         "Invalid archive value: a string of 4 bytes where 3 are left"},
        {{6, 3, 'a'},
         [](TBinaryReader& r) { r.ReadString(); },
         "Invalid archive value: a string of 3 bytes where 1 are left"},
        {{3, 1}, [](TBinaryReader& r) { r.ReadInteger(); }, "Stream read error"},
        {{}, [](TBinaryReader& r) { r.EndOfList(); }, "Stream read error"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        TPointerStream stream(cases[i].bytes.data(), static_cast<int64_t>(cases[i].bytes.size()));
        TBinaryReader reader(stream);
        try {
            cases[i].read(reader);
            ADD_FAILURE() << "case " << i << " read without error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), cases[i].message) << "case " << i;
        }
    }
}

TEST(PersistentClasses, EveryListClassRoundTripsToTheSameBytes) {
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
    for (int i = 0; i < 300; ++i)
        bytes.Add(static_cast<uint8_t>(i));
    TAffineVectorList empty;

    const std::vector<std::pair<TBaseList*, std::function<std::unique_ptr<TBaseList>()>>> lists = {
        {&affine, [] { return std::make_unique<TAffineVectorList>(); }},
        {&vectors, [] { return std::make_unique<TVectorList>(); }},
        {&quaternions, [] { return std::make_unique<TQuaternionList>(); }},
        {&points, [] { return std::make_unique<TTexPointList>(); }},
        {&integers, [] { return std::make_unique<TIntegerList>(); }},
        {&singles, [] { return std::make_unique<TSingleList>(); }},
        {&bytes, [] { return std::make_unique<TByteList>(); }},
        {&empty, [] { return std::make_unique<TAffineVectorList>(); }},
    };
    for (const auto& [list, create] : lists) {
        const TBytes archive = Archive(*list);
        std::unique_ptr<TBaseList> copy = create();
        copy->AddNulls(1);
        Load(*copy, archive);
        EXPECT_EQ(copy->Count(), list->Count()) << list->ClassName();
        EXPECT_EQ(copy->Capacity(), list->Count()) << list->ClassName();
        EXPECT_EQ(Archive(*copy), archive) << list->ClassName();
    }

    // Version 0, Count, ItemSize, then the raw items.
    EXPECT_EQ(Archive(integers), (TBytes{2, 0, 2, 2, 2, 4, 0xF9, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x40}));
}

TEST(PersistentClasses, ListArchivesOfANewerVersionOrAnotherShapeAreRefused) {
    struct Case {
        TBytes bytes;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{2, 1, 2, 0, 2, 12}, "EFilerException: TAffineVectorList : unknown archive version 1"},
        {{2, 0xFF, 2, 0, 2, 12}, "EFilerException: TAffineVectorList : unknown archive version -1"},
        {{2, 0, 2, 1, 2, 4, 0, 0, 0, 0},
         "EFilerException: TAffineVectorList : invalid archive "
         "item size 4"},
        {{2, 0, 4, 0xFF, 0xFF, 0xFF, 0x7F, 2, 12, 0},
         "EFilerException: TAffineVectorList : invalid archive count 2147483647"},
        {{2, 0, 2, 0xFF, 2, 12}, "EFilerException: TAffineVectorList : invalid archive count -1"},
        {TBytes{2, 0, 2, 2, 2, 12} + TBytes(23, 0),
         "EFilerException: TAffineVectorList : invalid archive count 2"},
        {{6, 1, '0'}, "EReadError: Invalid archive value: tag 6 where an integer was expected"},
    };
    for (const Case& c : cases) {
        TAffineVectorList list;
        list.Add(XVector);
        EXPECT_EQ(LoadError(list, c.bytes), c.error);
    }
}

TEST(PersistentClasses, ObjectListsArchiveClassNamesOnceAndAbsentItems) {
    RegisterTestClasses();
    TTestObjectList list;
    FillObjectList(list);
    const TBytes archive = Archive(list);
    // Version 0, list begin, then the first item under its class name.
    EXPECT_EQ(TBytes(archive.begin(), archive.begin() + 14),
              TBytes({2, 0, 1, 6, 9}) + Bytes("TTestItem"));
    // The last item names its class by its index in the table: 0.
    const TBytes last = TBytes{2, 0, 2, 1, 6, 5} + Bytes("third") + TBytes{3, 44, 1, 0};
    EXPECT_EQ(TBytes(archive.end() - static_cast<long>(last.size()), archive.end()), last);

    TTestObjectList copy;
    copy.Add(NewItem("dropped", 0));
    Load(copy, archive);
    ASSERT_EQ(copy.Count(), 4);
    EXPECT_EQ(static_cast<TTestItem*>(copy[0])->Name, "first");
    EXPECT_EQ(static_cast<TAffineVectorList*>(copy[1])->Get(0), XVector);
    EXPECT_EQ(copy[2], nullptr);
    EXPECT_EQ(static_cast<TTestItem*>(copy[3])->Value, 300);
    EXPECT_EQ(Archive(copy), archive);

    TTestObjectList assigned;
    assigned.Assign(&list);
    EXPECT_EQ(Archive(assigned), archive);
    EXPECT_THROW(assigned.Assign(static_cast<TAffineVectorList*>(copy[1])), EConvertError);
}

TEST(PersistentClasses, ObjectListsKeepCountCapacityAndRemovals) {
    TTestObjectList list;
    TTestItem* items[17];
    for (TTestItem*& item : items)
        list.Add(item = NewItem("", 0));
    EXPECT_EQ(list.Capacity(), 32);
    EXPECT_EQ(list.IndexOf(items[5]), 5);
    EXPECT_EQ(list.Remove(items[5]), 5);
    EXPECT_EQ(list.Remove(items[5]), -1);
    EXPECT_EQ(list.Count(), 16);
    EXPECT_EQ(list.IndexOf(items[6]), 5);
    delete items[5];
}

TEST(PersistentClasses, ObjectListItemsThatCannotBeArchivedAreAnError) {
    TTestObjectList list;
    list.Add(new TComponent(nullptr));
    try {
        Archive(list);
        ADD_FAILURE() << "archived a component";
    } catch (const EFilerException& e) {
        EXPECT_EQ(e.Message(), "TTestObjectList : an item of class TComponent cannot be archived");
    }
}

TEST(PersistentClasses, HostileObjectListArchivesRaiseTheArchiveErrors) {
    RegisterTestClasses();
    const TBytes begin = {2, 0, 1};
    const TBytes item = TBytes{6, 9} + Bytes("TTestItem") + TBytes{2, 1, 6, 1, 'a', 2, 7};
    struct Case {
        TBytes bytes;
        std::string error;
    };
    const std::vector<Case> cases = {
        {begin + item + TBytes{0}, "ok"},
        {{2, 1, 1, 0}, "EFilerException: TTestItemList : unknown archive version 1"},
        {begin + TBytes{6, 4} + Bytes("TFoo") + TBytes{0},
         "EFilerException: TTestItemList : unknown archive class TFoo"},
        {begin + TBytes{6, 10} + Bytes("TComponent") + TBytes{0},
         "EFilerException: TTestItemList : invalid archive class TComponent"},
        {begin + TBytes{6, 17} + Bytes("TAffineVectorList") + TBytes{2, 0, 2, 0, 2, 12, 0},
         "EFilerException: TTestItemList : invalid archive class TAffineVectorList"},
        {begin + item + TBytes{2, 1, 2, 0, 6, 0, 2, 0, 0},
         "EFilerException: TTestItemList : invalid archive class index 1"},
        {begin + TBytes{2, 0, 0}, "EFilerException: TTestItemList : invalid archive class index 0"},
        {begin + TBytes{8, 2, 0x40, 0}, "Exception: Broken ObjectList archive"},
        {begin + TBytes{9, 2, 0, 0}, "ok"},
        {begin + TBytes{5} + TBytes(10, 0) + TBytes{0}, "Exception: Broken ObjectList archive"},
        {begin + TBytes{1, 0, 0}, "Exception: Broken ObjectList archive"},
        {begin + item + TBytes{2, 0, 2, 5, 6, 0, 2, 0, 0},
         "EFilerException: TTestItem : unknown archive version 5"},
        {begin + item, "EReadError: Stream read error"},
    };
    for (const Case& c : cases) {
        TTestItemList list;
        EXPECT_EQ(LoadError(list, c.bytes), c.error);
    }
}

TEST(PersistentClasses, NestingThatNeverEndsIsRefused) {
    RegisterTestClasses();
    // Each level is a TTestObjectList item holding the next; each list names its item's class.
    const TBytes oneLevel = TBytes{6, 15} + Bytes("TTestObjectList") + TBytes{2, 0, 1};
    TBytes archive = {2, 0, 1};
    for (int i = 0; i < 100000; ++i)
        archive.insert(archive.end(), oneLevel.begin(), oneLevel.end());
    TTestObjectList list;
    EXPECT_EQ(LoadError(list, archive),
              "EReadError: Invalid archive value: lists nested deeper than 256");

    TTestObjectList inner;
    TTestObjectList* level = &inner;
    for (int i = 0; i < TBinaryReader::MaxListNesting - 1; ++i) {
        auto* next = new TTestObjectList;
        level->Add(next);
        level = next;
    }
    EXPECT_EQ(LoadError(list, Archive(inner)), "ok");
}

TEST(PersistentClasses, TruncationAtEveryOffsetIsAReadError) {
    RegisterTestClasses();
    TTestObjectList source;
    FillObjectList(source);
    TIntegerList indices;
    indices.Add(1, 2);
    const std::vector<std::pair<TBytes, std::function<std::unique_ptr<TPersistentObject>()>>>
        archives = {
            {Archive(source), [] { return std::make_unique<TTestObjectList>(); }},
            {Archive(indices), [] { return std::make_unique<TIntegerList>(); }},
        };
    for (const auto& [archive, create] : archives) {
        for (size_t size = 0; size < archive.size(); ++size) {
            std::unique_ptr<TPersistentObject> object = create();
            const std::string error =
                LoadError(*object, TBytes(archive.begin(), archive.begin() + long(size)));
            EXPECT_TRUE(error.starts_with("EReadError: ") ||
                        error.starts_with("EFilerException: ") ||
                        error == "Exception: Broken ObjectList archive")
                << object->ClassName() << " cut at " << size << ": " << error;
        }
    }
    // A list whose archive is refused before its items keeps the items it had.
    const TBytes cut = TBytes(archives[1].first.begin(), archives[1].first.end() - 1);
    TIntegerList list;
    list.Add(5);
    EXPECT_EQ(LoadError(list, cut), "EFilerException: TIntegerList : invalid archive count 2");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], 5);
}

TEST(PersistentClasses, FileSignaturesAreWrittenAndChecked) {
    TSignedObject object;
    TMemoryStream stream;
    object.SaveToStream(stream);
    EXPECT_EQ(TBytes(stream.Memory(), stream.Memory() + stream.Size()), Bytes("SIG!"));
    EXPECT_EQ(LoadError(object, Bytes("SIG!")), "ok");
    EXPECT_EQ(LoadError(object, Bytes("SIG?")), "EInvalidFileSignature: Invalid file signature");
    EXPECT_EQ(LoadError(object, Bytes("SI")), "EInvalidFileSignature: Invalid file signature");

    TIntegerList unsigned_;
    EXPECT_EQ(unsigned_.FileSignature(), "");
}
