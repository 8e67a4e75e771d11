// The reader against broken and hostile files: every case ends in the invalid-chunk error or a
// clean stream read error, never a crash, a hang or an unbounded allocation.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/3ds/File3DS.h"
#include "tests/support/Writer3DS.h"

namespace {

const std::string InvalidChunkMessage =
    "An invalid Chunk structure was encountered while reading\rthe database. Usually caused by a "
    "corrupt database or file.";

// Reads the bytes and extracts every mesh and material, as a load does; returns "ok", the
// message of an E3DSError, or "read error" for the stream's read error.
std::string ReadEverything(const std::vector<uint8_t>& bytes) {
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TFile3DS file;
    try {
        file.ReadFromStream(stream);
        const int meshes = file.Objects().MeshCount();
        for (int i = 0; i < meshes; ++i)
            file.Objects().MeshByIndex(i);
        const int materials = file.Materials().MaterialCount();
        for (int i = 0; i < materials; ++i)
            file.Materials().MaterialByIndex(i);
        return "ok";
    } catch (const E3DSError& e) {
        return e.Message();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
        return "read error";
    }
}

std::vector<uint8_t> SmallScene() {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.MatArray = {{"Red", {0, 1}}};
    box.SmoothArray.assign(12, 1);
    TScene3DS scene{{Material3DS("Red", {1, 0, 0}, "brick.jpg")}, {box}, {}};
    scene.Nodes = {{OBJECT_NODE_TAG, "Box01", -1, int16_t(0), ""}};
    return WriteScene3DS(scene);
}

// A scene whose N_TRI_OBJECT holds what the callback writes.
template <typename F> std::vector<uint8_t> MeshWith(F content) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("M").Begin(N_TRI_OBJECT);
    content(w);
    w.End().End().End().End();
    return w.Data();
}

template <typename F> std::vector<uint8_t> MaterialWith(F content) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(MAT_ENTRY).StringChunk(MAT_NAME, "M");
    content(w);
    w.End().End().End();
    return w.Data();
}

void SetLength(std::vector<uint8_t>& bytes, size_t position, uint32_t length) {
    std::memcpy(bytes.data() + position + 2, &length, sizeof length);
}

} // namespace

TEST(Hostile3DS, TheSmallSceneIsValid) {
    EXPECT_EQ(ReadEverything(SmallScene()), "ok");
}

TEST(Hostile3DS, RootLengthsBelowAHeaderOrBeyondTheFile) {
    for (const uint32_t length : {0u, 5u, 0x80000000u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bytes = SmallScene();
        SetLength(bytes, 0, length);
        EXPECT_EQ(ReadEverything(bytes), InvalidChunkMessage) << length;
    }
}

TEST(Hostile3DS, ChildLengthsZeroFiveAndTwoToThe31) {
    for (const uint32_t length : {0u, 5u, 0x80000000u}) {
        TWriter3DS w;
        w.Begin(M3DMAGIC).Header(MDATA, length).Bytes(std::vector<uint8_t>(32)).End();
        EXPECT_EQ(ReadEverything(w.Data()), InvalidChunkMessage) << length;
    }
}

TEST(Hostile3DS, AChunkRunningPastItsParent) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(0x0001).Bytes(std::vector<uint8_t>(10)).EndWithLength(40);
    w.End().Bytes(std::vector<uint8_t>(64)).End();
    EXPECT_EQ(ReadEverything(w.Data()), InvalidChunkMessage);
}

TEST(Hostile3DS, AChunkRunningPastTheFile) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Bytes(std::vector<uint8_t>(10)).EndWithLength(1000);
    w.EndWithLength(1006);
    EXPECT_EQ(ReadEverything(w.Data()), InvalidChunkMessage);
}

TEST(Hostile3DS, BytesTooFewForAHeaderAtTheEndOfAParent) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Chunk(0x0001).Bytes("abc", 3).End().End();
    EXPECT_EQ(ReadEverything(w.Data()), InvalidChunkMessage);
}

TEST(Hostile3DS, OwnDataRunningPastItsChunk) {
    const auto check = [](const std::function<void(TWriter3DS&)>& chunk) {
        TWriter3DS w;
        w.Begin(M3DMAGIC).Begin(MDATA);
        chunk(w);
        w.End().End();
        EXPECT_EQ(ReadEverything(w.Data()), InvalidChunkMessage);
    };
    check([](TWriter3DS& w) { w.Begin(COLOR_F).Float(1).End(); });
    check([](TWriter3DS& w) { w.Begin(MESH_MATRIX).Bytes(std::vector<uint8_t>(47)).End(); });
    check([](TWriter3DS& w) { w.Begin(FACE_ARRAY).Word(3).Bytes(std::vector<uint8_t>(23)).End(); });
    check([](TWriter3DS& w) { w.Begin(FACE_ARRAY).Byte(1).End(); });
    check([](TWriter3DS& w) { w.Begin(NODE_HDR).String("n").Word(0).Word(0).End(); });
    check([](TWriter3DS& w) { w.Begin(0xB00A).Word(0).String("x").Word(0).End(); });
}

TEST(Hostile3DS, StringsWithoutTheirZeroInsideTheChunk) {
    TWriter3DS named;
    named.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).Chars("Box01").End().Chunk(0x0001);
    named.End().End();
    EXPECT_EQ(ReadEverything(named.Data()), InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(MaterialWith([](TWriter3DS& w) {
                  w.Begin(MAT_TEXMAP).Begin(MAT_MAPNAME).Chars("brick.jpg").End().End();
              })),
              InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(MeshWith([](TWriter3DS& w) {
                  w.Begin(FACE_ARRAY).Word(0).Begin(MSH_MAT_GROUP).Chars("Red").End().End();
              })),
              InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(MeshWith([](TWriter3DS& w) {
                  w.Begin(FACE_ARRAY).Word(0).Begin(MSH_BOXMAP).String("a").Chars("b").End();
                  w.End();
              })),
              InvalidChunkMessage);
}

TEST(Hostile3DS, CountsLargerThanTheirChunk) {
    const auto counted = [](uint16_t tag, size_t entrySize) {
        return MeshWith([&](TWriter3DS& w) {
            w.Begin(tag).Word(0xFFFF).Bytes(std::vector<uint8_t>(entrySize)).End();
        });
    };
    EXPECT_EQ(ReadEverything(counted(POINT_ARRAY, 12)), InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(counted(POINT_FLAG_ARRAY, 2)), InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(counted(TEX_VERTS, 8)), InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(counted(FACE_ARRAY, 8)), InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(MeshWith([](TWriter3DS& w) {
                  w.Begin(FACE_ARRAY).Word(0);
                  w.Begin(MSH_MAT_GROUP).String("Red").Word(40000).Word(0).End().End();
              })),
              InvalidChunkMessage);
}

TEST(Hostile3DS, FixedFieldsMissingFromTheirChunk) {
    EXPECT_EQ(ReadEverything(MeshWith([](TWriter3DS& w) { w.Chunk(MESH_COLOR); })),
              InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(MeshWith([](TWriter3DS& w) {
                  w.Begin(MESH_TEXTURE_INFO).Bytes(std::vector<uint8_t>(85)).End();
              })),
              InvalidChunkMessage);
    EXPECT_EQ(
        ReadEverything(MaterialWith([](TWriter3DS& w) { w.Begin(MAT_SHADING).Byte(1).End(); })),
        InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(MaterialWith([](TWriter3DS& w) {
                  w.Begin(MAT_DIFFUSE).Begin(COLOR_24).Byte(1).Byte(2).End().End();
              })),
              InvalidChunkMessage);
    EXPECT_EQ(ReadEverything(MaterialWith([](TWriter3DS& w) {
                  w.Begin(MAT_TEXMAP).Begin(MAT_MAP_USCALE).Byte(1).End().End();
              })),
              InvalidChunkMessage);
}

TEST(Hostile3DS, AnXDataChildShorterThanAHeader) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(XDATA_ENTRY).Header(0x8002, 3).Bytes(std::vector<uint8_t>(8));
    w.End().End();
    EXPECT_EQ(ReadEverything(w.Data()), InvalidChunkMessage);
}

TEST(Hostile3DS, TruncationAtEveryByteOffset) {
    const std::vector<uint8_t> whole = SmallScene();
    for (size_t size = 0; size < whole.size(); ++size) {
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size));
        const std::string result = ReadEverything(bytes);
        EXPECT_EQ(result, size < 6 ? "read error" : InvalidChunkMessage) << size;
        // The same bytes with a root that claims exactly them reach deeper into the file.
        if (size >= 6) {
            SetLength(bytes, 0, static_cast<uint32_t>(size));
            const std::string consistent = ReadEverything(bytes);
            EXPECT_TRUE(consistent == InvalidChunkMessage || consistent == "ok")
                << size << ": " << consistent;
        }
    }
}

TEST(Hostile3DS, AFailedReadDiscardsTheTree) {
    std::vector<uint8_t> bytes = SmallScene();
    bytes.resize(bytes.size() - 1);
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TFile3DS file;
    EXPECT_THROW(file.ReadFromStream(stream), E3DSError);
    EXPECT_EQ(file.Database().TopChunk(), nullptr);
    EXPECT_THROW(file.Objects().MeshCount(), E3DSError);
}

TEST(Hostile3DS, AnUnknownRootClaimingGigabytesLoadsNoData) {
    const std::string text = "invalid 3ds file";
    TRead3DS read(std::vector<uint8_t>(text.begin(), text.end()));
    TChunkNode& root = *read.File.Database().TopChunk();
    EXPECT_EQ(root.Length, 1768710518u);
    EXPECT_THROW(read.File.LoadChunkData(root), E3DSError);
}

TEST(Hostile3DS, DeepNestingNeedsNoDeepStack) {
    constexpr int depth = 200000;
    TWriter3DS w;
    w.Begin(M3DMAGIC);
    for (int i = 0; i < depth; ++i)
        w.Begin(MDATA);
    w.Chunk(0x0777);
    for (int i = 0; i < depth; ++i)
        w.End();
    w.End();
    TRead3DS read(w.Data());
    EXPECT_NE(TFile3DS::FindChunk(read.File.Database().TopChunk(), 0x0777), nullptr);
    EXPECT_EQ(read.File.Objects().MeshCount(), 0);
}

TEST(Hostile3DS, LongSiblingChainsAndManyObjectsStayLinear) {
    constexpr int count = 60000;
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA);
    for (int i = 0; i < count; ++i)
        w.Begin(NAMED_OBJECT).String("o").Chunk(N_TRI_OBJECT).End();
    for (int i = 0; i < count; ++i)
        w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, "m").End();
    w.End();
    w.Begin(KFDATA);
    for (int i = 0; i < count; ++i)
        w.Node({OBJECT_NODE_TAG, "o", int16_t(i - 1), int16_t(i), ""});
    w.End().End();
    TRead3DS read(w.Data());
    ASSERT_EQ(read.File.Objects().MeshCount(), count);
    EXPECT_EQ(read.File.Objects().MeshByIndex(count - 1)->NameStr, "o");
    EXPECT_EQ(read.File.Materials().MaterialCount(), count);
    EXPECT_EQ(read.File.Materials().MaterialByName("absent"), nullptr);
}

TEST(Hostile3DS, TheTreeHoldsSixteenBytesAChunkWhateverTheShape) {
    constexpr int count = 100000;
    TWriter3DS siblings;
    siblings.Begin(M3DMAGIC);
    for (int i = 0; i < count; ++i)
        siblings.Chunk(0x0777);
    siblings.End();
    TWriter3DS nested;
    nested.Begin(M3DMAGIC);
    for (int i = 0; i < count; ++i)
        nested.Begin(MDATA);
    for (int i = 0; i <= count; ++i)
        nested.End();
    for (const TWriter3DS* w : {&siblings, &nested}) {
        TRead3DS read(w->Data());
        const TChunkTree& tree = read.File.Database().Chunks;
        EXPECT_EQ(tree.Size(), count + 1u);
        EXPECT_EQ(tree.StorageBytes(), tree.Size() * 16);
    }
}

TEST(Hostile3DS, NodesNamingOneLongParentShareOneCopyOfItsName) {
    constexpr int children = 2000;
    const std::string parent(30000, 'P');
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(KFDATA);
    w.Node({OBJECT_NODE_TAG, parent, -1, int16_t(0), ""});
    for (int i = 1; i <= children; ++i)
        w.Node({OBJECT_NODE_TAG, "c", 0, int16_t(i), ""});
    w.End().End();
    TRead3DS read(w.Data());
    TDatabase3DS& db = read.File.Database();
    ASSERT_EQ(db.ParentNames.Names.size(), 1u);
    EXPECT_EQ(db.ParentNames.Chunks.size(), size_t{children});
    // Room for a PARENT_NAME below every NODE_HDR, and no more.
    EXPECT_LE(db.Chunks.StorageBytes(), (db.Chunks.Size() + children + 1) * 16);
    int named = 0;
    for (TChunkNode& node : db.Chunks.Nodes()) {
        if (node.Tag != PARENT_NAME)
            continue;
        EXPECT_EQ(read.File.ChunkValue<std::string>(node), parent);
        read.File.ReleaseChunkData(node);
        EXPECT_EQ(read.File.ChunkData(node), nullptr);
        ++named;
    }
    EXPECT_EQ(named, children);
}

TEST(Hostile3DS, TablesAndMaterialGroupsHoldNoSlack) {
    constexpr int count = 1000;
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA);
    for (int i = 0; i < count; ++i)
        w.Begin(NAMED_OBJECT).String("o").Chunk(N_TRI_OBJECT).End();
    w.Begin(NAMED_OBJECT).String("groups").Begin(N_TRI_OBJECT).Begin(FACE_ARRAY).Word(0);
    for (int i = 0; i < count; ++i)
        w.Begin(MSH_MAT_GROUP).String("m").Word(0).End();
    w.End().End().End().End().End();
    TRead3DS read(w.Data());
    ASSERT_EQ(read.File.Objects().MeshCount(), count + 1);
    const TChunkTable& objects = read.File.Database().ObjList;
    EXPECT_EQ(objects.capacity(), objects.size());
    const TMesh3DS& mesh = *read.File.Objects().MeshByIndex(count);
    EXPECT_EQ(mesh.MatArray.size(), size_t{count});
    EXPECT_EQ(mesh.MatArray.capacity(), mesh.MatArray.size());
}

namespace {

// Which lazily held parts of the records take memory of their own.
std::string HeldParts(const TMaterial3DS& m) {
    std::string held;
    for (const auto& [part, name] : {std::pair{m.Texture.Held(), "texture"},
                                     {m.Texture2.Held(), "texture2"},
                                     {m.Opacity.Held(), "opacity"},
                                     {m.Bump.Held(), "bump"},
                                     {m.SpecMap.Held(), "specular"},
                                     {m.ShinMap.Held(), "shininess"},
                                     {m.IllumMap.Held(), "illumination"},
                                     {m.Reflect.Held(), "reflection"}})
        if (part)
            held += std::string(held.empty() ? "" : " ") + name;
    return held;
}

std::string HeldParts(const TMesh3DS& m) {
    std::string held;
    for (const auto& [part, name] : {std::pair{m.MapInfo.Held(), "map info"},
                                     {m.BoxMapStr.Held(), "box map"},
                                     {m.Extras.Held(), "extras"}})
        if (part)
            held += std::string(held.empty() ? "" : " ") + name;
    return held;
}

} // namespace

// A file can name a part without giving it anything: such a part costs its record nothing, so
// that memory stays bounded by what the file holds.
TEST(Hostile3DS, PartsAFileGivesNothingAreNotHeld) {
    const uint16_t containers[] = {MAT_TEXMAP,   MAT_TEXMASK,       MAT_TEX2MAP,
                                   MAT_OPACMAP,  MAT_BUMPMAP,       MAT_SPECMAP,
                                   MAT_SHINMAP,  MAT_SELFIMAP,      MAT_REFLMAP,
                                   MAT_REFLMASK, MAT_SXP_TEXT_DATA, MAT_SXP_REFL_MASKDATA};
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA);
    w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, "empty");
    for (const uint16_t tag : containers)
        w.Chunk(tag);
    w.End();
    w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, "bump").Begin(MAT_BUMPMAP);
    w.StringChunk(MAT_MAPNAME, "b.png").End().Chunk(MAT_TEXMAP).End();
    w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, "cubic").Begin(MAT_ACUBIC);
    w.Byte(0).Byte(0).Short(0).Int(100).Int(1).End().End();
    w.Begin(NAMED_OBJECT).String("empty").Begin(N_TRI_OBJECT);
    w.Begin(POINT_FLAG_ARRAY).Word(0).End().StringChunk(PROC_NAME, "").Chunk(PROC_DATA);
    w.Begin(FACE_ARRAY).Word(0).End().End().End();
    w.Begin(NAMED_OBJECT).String("flags").Begin(N_TRI_OBJECT);
    w.Begin(POINT_FLAG_ARRAY).Word(1).Word(7).End().End().End();
    w.End().End();
    TRead3DS read(w.Data());
    TMaterialList& materials = read.File.Materials();
    ASSERT_EQ(materials.MaterialCount(), 3);
    EXPECT_EQ(HeldParts(*materials.MaterialByIndex(0)), "");
    EXPECT_EQ(HeldParts(*materials.MaterialByIndex(1)), "bump");
    EXPECT_EQ(materials.MaterialByIndex(1)->Bump->Map.NameStr, "b.png");
    // MAT_ACUBIC switches the automatic cube map on, whatever its values.
    EXPECT_EQ(HeldParts(*materials.MaterialByIndex(2)), "reflection");
    ASSERT_EQ(read.File.Objects().MeshCount(), 2);
    EXPECT_EQ(HeldParts(*read.File.Objects().MeshByIndex(0)), "");
    EXPECT_EQ(HeldParts(*read.File.Objects().MeshByIndex(1)), "extras");
    EXPECT_EQ(read.File.Objects().MeshByIndex(1)->Extras->VFlagArray, std::vector<uint16_t>{7});
}

// The README's bound on memory rests on what the smallest chunks cost: a mesh record for a
// named object of 13 bytes, a material record for an entry of 13, a tree node for a chunk of 6.
TEST(Hostile3DS, RecordsOfTheSmallestChunksStayAsSmallAsTheBoundAssumes) {
    EXPECT_LE(sizeof(TMesh3DS), 240u);
    EXPECT_LE(sizeof(TMaterial3DS), 176u);
    EXPECT_LE(sizeof(TChunkListEntry3DS), 24u);
    EXPECT_EQ(sizeof(TChunkNode), 16u);
}
