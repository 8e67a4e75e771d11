// The chunk tree, the structure pass and chunk data.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "engine/3ds/File3DS.h"
#include "tests/support/Writer3DS.h"

namespace {

std::vector<uint16_t> ChildTags(const TChunkNode& node) {
    std::vector<uint16_t> tags;
    for (const TChunkNode* child = node.Children(); child; child = child->Next())
        tags.push_back(child->Tag);
    return tags;
}

TChunkNode& Root(TRead3DS& read) {
    return *read.File.Database().TopChunk();
}

TChunkNode& Find(TRead3DS& read, uint16_t tag) {
    TChunkNode* node = TFile3DS::FindChunk(&Root(read), tag);
    if (node == nullptr)
        throw std::runtime_error("chunk not found");
    return *node;
}

} // namespace

TEST(File3DS, UnknownRootTagGivesATreeOfTheRootAlone) {
    const std::string text = "invalid 3ds file";
    TRead3DS read(std::vector<uint8_t>(text.begin(), text.end()));
    TChunkNode& root = Root(read);
    EXPECT_EQ(root.Tag, 0x6E69);
    EXPECT_EQ(root.Position, 0u);
    EXPECT_EQ(root.Children(), nullptr);
    EXPECT_EQ(read.File.Objects().MeshCount(), 0);
    EXPECT_EQ(read.File.Materials().MaterialCount(), 0);
}

TEST(File3DS, UnknownRootIgnoresWellFormedContent) {
    TWriter3DS w;
    w.Begin(0x1234).Begin(MDATA).Mesh(BoxMesh3DS("Box01")).End().End();
    TRead3DS read(w.Data());
    EXPECT_EQ(Root(read).Children(), nullptr);
    EXPECT_EQ(read.File.Objects().MeshCount(), 0);
}

TEST(File3DS, EachRootTagIsRead) {
    for (const uint16_t root : {M3DMAGIC, MLIBMAGIC, CMAGIC}) {
        TWriter3DS w;
        w.Begin(root).Begin(MDATA).End().End();
        TRead3DS read(w.Data());
        EXPECT_EQ(ChildTags(Root(read)), std::vector<uint16_t>{MDATA}) << root;
    }
}

TEST(File3DS, NodesRecordTagLengthAndPosition) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).IntChunk(M3D_VERSION, 3).Begin(MDATA).FloatChunk(MASTER_SCALE, 2).End().End();
    TRead3DS read(w.Data());
    TChunkNode& root = Root(read);
    EXPECT_EQ(root.Length, w.Size());
    EXPECT_EQ(ChildTags(root), (std::vector<uint16_t>{M3D_VERSION, MDATA}));
    TChunkNode& version = *root.Children();
    EXPECT_EQ(version.Position, 6u);
    EXPECT_EQ(version.Length, 10u);
    TChunkNode& mdata = *version.Next();
    EXPECT_EQ(mdata.Position, 16u);
    EXPECT_EQ(mdata.Children()->Position, 22u);
    EXPECT_EQ(mdata.Children()->Tag, MASTER_SCALE);
    EXPECT_EQ(read.File.ChunkData(*mdata.Children()), nullptr);
}

TEST(File3DS, NamedObjectSubChunksFollowTheName) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("Box01");
    w.Chunk(OBJ_HIDDEN).Begin(N_TRI_OBJECT).End().End().End().End();
    TRead3DS read(w.Data());
    TChunkNode& object = Find(read, NAMED_OBJECT);
    EXPECT_EQ(ChildTags(object), (std::vector<uint16_t>{OBJ_HIDDEN, N_TRI_OBJECT}));
    EXPECT_EQ(object.Children()->Position, object.Position + 6 + 6);
}

TEST(File3DS, FaceArraySubChunksFollowTheFaces) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("Tri").Begin(N_TRI_OBJECT);
    w.Begin(FACE_ARRAY).Word(2).Word(0).Word(1).Word(2).Word(0).Word(2).Word(1).Word(0).Word(0);
    w.Begin(MSH_MAT_GROUP).String("Red").Word(1).Word(0).End();
    w.Begin(SMOOTH_GROUP).Dword(1).Dword(2).End();
    w.End().End().End().End().End();
    TRead3DS read(w.Data());
    TChunkNode& faces = Find(read, FACE_ARRAY);
    EXPECT_EQ(ChildTags(faces), (std::vector<uint16_t>{MSH_MAT_GROUP, SMOOTH_GROUP}));
    EXPECT_EQ(faces.Children()->Position, faces.Position + 6 + 2 + 16);
}

TEST(File3DS, AZeroLengthStringOccupiesOneByte) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("").Begin(N_TRI_OBJECT).End();
    w.End().End().End();
    TRead3DS read(w.Data());
    TChunkNode& object = Find(read, NAMED_OBJECT);
    EXPECT_EQ(object.Children()->Position, object.Position + 7);
    read.File.LoadChunkData(object);
    EXPECT_EQ(read.File.ChunkValue<std::string>(object), "");
}

TEST(File3DS, SkipRuleFindsChildrenOfViewportLightAndKeyFrameChunks) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("Light");
    w.Begin(0x4600).Float(1).Float(2).Float(3).Begin(0x4610).Bytes(std::vector<uint8_t>(20));
    w.Chunk(0x4620).End().End().End().End();
    w.Begin(KFDATA).Begin(0xB00A).Word(5).String("MAXSCENE").Dword(100).Chunk(0x1234).End();
    w.Begin(OBJECT_NODE_TAG).Begin(NODE_HDR).String("n").Word(0).Word(0).Short(-1);
    w.StringChunk(PARENT_NAME, "p").End().End().End().End();
    TRead3DS read(w.Data());
    EXPECT_EQ(ChildTags(Find(read, 0x4600)), std::vector<uint16_t>{0x4610});
    EXPECT_EQ(ChildTags(Find(read, 0x4610)), std::vector<uint16_t>{0x4620});
    EXPECT_EQ(ChildTags(Find(read, 0xB00A)), std::vector<uint16_t>{0x1234});
    EXPECT_EQ(ChildTags(Find(read, NODE_HDR)), std::vector<uint16_t>{PARENT_NAME});
}

TEST(File3DS, ChunksWithoutSubChunksAreSkippedWhole) {
    TWriter3DS w;
    // The bytes of a POINT_ARRAY look like a chunk header but are data.
    w.Begin(M3DMAGIC).Begin(POINT_ARRAY).Word(MDATA).Dword(6).End().Begin(0x7777).Chunk(MDATA);
    w.End().End();
    TRead3DS read(w.Data());
    EXPECT_EQ(ChildTags(Root(read)), (std::vector<uint16_t>{POINT_ARRAY, 0x7777}));
    EXPECT_EQ(Root(read).Children()->Children(), nullptr);
    EXPECT_EQ(Root(read).Children()->Next()->Children(), nullptr);
}

TEST(File3DS, FindChunkSearchesDepthFirstFromTheNodeItself) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(N_TRI_OBJECT).Chunk(0x0777).End().End();
    w.Chunk(0x0777).End();
    TRead3DS read(w.Data());
    TChunkNode& root = Root(read);
    EXPECT_EQ(TFile3DS::FindChunk(&root, M3DMAGIC), &root);
    TChunkNode* found = TFile3DS::FindChunk(&root, 0x0777);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, root.Children()->Children()->Children());
    EXPECT_EQ(TFile3DS::FindChunk(&root, 0x0006), nullptr);
    EXPECT_EQ(TFile3DS::FindChunk(nullptr, 0x0777), nullptr);
}

TEST(File3DS, FindNextSiblingLooksAtTheNodeAndItsFollowingSiblingsOnly) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Chunk(0x0005).End().Chunk(0x0001).Chunk(0x0005).End();
    TRead3DS read(w.Data());
    TChunkNode* first = Root(read).Children();
    EXPECT_EQ(TFile3DS::FindNextSibling(first, MDATA), first);
    TChunkNode* sibling = TFile3DS::FindNextSibling(first, 0x0005);
    ASSERT_NE(sibling, nullptr);
    EXPECT_EQ(sibling, first->Next()->Next());
    EXPECT_EQ(TFile3DS::FindNextSibling(first->Next(), MDATA), nullptr);
}

TEST(File3DS, PercentagesReadAsFractions) {
    TWriter3DS w;
    w.Begin(M3DMAGIC);
    w.Begin(MAT_SHININESS).IntPercentage(50).End();
    w.Begin(MAT_SHIN2PCT).FloatPercentage(0.5f).End();
    w.Begin(MAT_REFBLUR).FloatPercentage(0.25f).IntPercentage(30).End();
    w.Begin(MAT_TRANSPARENCY).End();
    w.End();
    TRead3DS read(w.Data());
    EXPECT_FLOAT_EQ(read.File.ReadPercentage(Find(read, MAT_SHININESS)), 0.5f);
    EXPECT_FLOAT_EQ(read.File.ReadPercentage(Find(read, MAT_SHIN2PCT)), 0.5f);
    EXPECT_FLOAT_EQ(read.File.ReadPercentage(Find(read, MAT_REFBLUR)), 0.3f);
    EXPECT_FLOAT_EQ(read.File.ReadPercentage(Find(read, MAT_TRANSPARENCY)), 0.0f);
    EXPECT_EQ(read.File.ChunkData(Find(read, INT_PERCENTAGE)), nullptr);
}

TEST(File3DS, ChunkDataFollowsTheLayoutsOfTheTagTable) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).IntChunk(M3D_VERSION, 3).FloatChunk(MASTER_SCALE, 2.5f);
    w.ColorFChunk(COLOR_F, 0.1f, 0.2f, 0.3f).Color24Chunk(COLOR_24, 1, 2, 255);
    w.Begin(POINT_ARRAY).Word(2).Float(1).Float(2).Float(3).Float(4).Float(5).Float(6).End();
    w.Begin(MSH_MAT_GROUP).String("Red").Word(2).Word(7).Word(9).End();
    w.Begin(SMOOTH_GROUP).Dword(1).Dword(0x80000000).Byte(0).End();
    w.Begin(MESH_COLOR).Byte(7).End().WordChunk(MAT_MAP_TILING, 0x31);
    w.Begin(NODE_HDR).String("Box").Word(1).Word(2).Short(-1).End();
    w.Begin(MAT_ACUBIC).Byte(1).Byte(2).Short(9).Int(256).Int(3).End();
    w.Begin(PROC_DATA).Byte(4).Byte(5).End().Begin(0x0777).Byte(6).End().Chunk(0x0778);
    w.End();
    TRead3DS read(w.Data());
    TFile3DS& file = read.File;
    const auto load = [&](uint16_t tag) -> TChunkNode& {
        TChunkNode& node = Find(read, tag);
        file.LoadChunkData(node);
        return node;
    };
    EXPECT_EQ(file.ChunkValue<int32_t>(load(M3D_VERSION)), 3);
    EXPECT_EQ(file.ChunkValue<float>(load(MASTER_SCALE)), 2.5f);
    EXPECT_EQ(file.ChunkValue<TFColor3DS>(load(COLOR_F)).G, 0.2f);
    EXPECT_EQ(file.ChunkValue<TC24Color3DS>(load(COLOR_24)).B, 255);
    const auto& points = file.ChunkValue<std::vector<TPoint3DS>>(load(POINT_ARRAY));
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].Z, 6.0f);
    const auto& group = file.ChunkValue<TObjMat3DS>(load(MSH_MAT_GROUP));
    EXPECT_EQ(group.NameStr, "Red");
    EXPECT_EQ(group.FaceIndex, (std::vector<uint16_t>{7, 9}));
    EXPECT_EQ(file.ChunkValue<std::vector<uint32_t>>(load(SMOOTH_GROUP)),
              (std::vector<uint32_t>{1, 0x80000000}));
    EXPECT_EQ(file.ChunkValue<uint8_t>(load(MESH_COLOR)), 7);
    EXPECT_EQ(file.ChunkValue<uint16_t>(load(MAT_MAP_TILING)), 0x31);
    const auto& header = file.ChunkValue<TNodeHdr3DS>(load(NODE_HDR));
    EXPECT_EQ(header.ObjNameStr, "Box");
    EXPECT_EQ(header.Flags2, 2);
    EXPECT_EQ(header.ParentIndex, -1);
    EXPECT_EQ(file.ChunkValue<TMatAcubic3DS>(load(MAT_ACUBIC)).MapSize, 256);
    EXPECT_EQ(file.ChunkValue<TRawData3DS>(load(PROC_DATA)), (TRawData3DS{4, 5}));
    EXPECT_EQ(file.ChunkValue<TRawData3DS>(load(0x0777)), TRawData3DS{6});
    EXPECT_EQ(file.ChunkData(load(0x0778)), nullptr);
    EXPECT_EQ(file.ChunkData(load(M3DMAGIC)), nullptr);
}

TEST(File3DS, LoadingTwiceKeepsTheDataAndReleasingFreesIt) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).StringChunk(MAT_NAME, "Red").End();
    TRead3DS read(w.Data());
    TChunkNode& name = Find(read, MAT_NAME);
    read.File.LoadChunkData(name);
    const TChunkData* data = read.File.ChunkData(name);
    read.File.LoadChunkData(name);
    EXPECT_EQ(read.File.ChunkData(name), data);
    read.File.ReleaseChunkData(name);
    EXPECT_EQ(read.File.ChunkData(name), nullptr);
    read.File.LoadChunkData(name);
    EXPECT_EQ(read.File.ChunkValue<std::string>(name), "Red");
}

TEST(File3DS, DataOfAnotherKindIsAnInvalidChunk) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).StringChunk(MAT_NAME, "Red").End();
    TRead3DS read(w.Data());
    TChunkNode& name = Find(read, MAT_NAME);
    read.File.LoadChunkData(name);
    EXPECT_THROW(read.File.ChunkValue<float>(name), E3DSError);
    EXPECT_THROW(read.File.ChunkValue<float>(Root(read)), E3DSError);
}

TEST(File3DS, EightBitNamesBecomeUtf8FromTheWindowsCodePage) {
    TWriter3DS w;
    w.Begin(M3DMAGIC)
        .StringChunk(MAT_NAME, "D\xE9"
                               "co \x80")
        .End();
    TRead3DS read(w.Data());
    TChunkNode& name = Find(read, MAT_NAME);
    read.File.LoadChunkData(name);
    EXPECT_EQ(read.File.ChunkValue<std::string>(name), "D\xC3\xA9"
                                                       "co \xE2\x82\xAC");
}

TEST(File3DS, XDataEntryKeepsOnlyItsOwnChunkKinds) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(XDATA_SECTION).Begin(XDATA_ENTRY);
    w.Begin(0x8002).String("kept").End().Begin(0x8003).Float(1).End();
    w.Begin(0x8010).End().Begin(0x8004).End();
    w.End().End().Chunk(MDATA).End();
    TRead3DS read(w.Data());
    EXPECT_EQ(ChildTags(Find(read, XDATA_ENTRY)), (std::vector<uint16_t>{0x8002, 0x8003}));
    EXPECT_EQ(ChildTags(Root(read)), (std::vector<uint16_t>{XDATA_SECTION, MDATA}));
}

TEST(File3DS, XDataChildRunningPastItsEntryIsDroppedAndReadingGoesOnAfterItsHeader) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(XDATA_SECTION).Begin(XDATA_ENTRY);
    w.Header(0x8002, 1000).Chunk(0x8005).Bytes("xy", 2);
    w.End().End().Chunk(MDATA).End();
    TRead3DS read(w.Data());
    // The two bytes left are too few for a header: the entry ends there.
    EXPECT_EQ(ChildTags(Find(read, XDATA_ENTRY)), std::vector<uint16_t>{0x8005});
    EXPECT_EQ(ChildTags(Root(read)), (std::vector<uint16_t>{XDATA_SECTION, MDATA}));
}

TEST(File3DS, XDataEntryDataIsItsRawBytes) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(XDATA_ENTRY).Begin(0x8006).End().End().End();
    TRead3DS read(w.Data());
    TChunkNode& entry = Find(read, XDATA_ENTRY);
    read.File.LoadChunkData(entry);
    EXPECT_EQ(read.File.ChunkValue<TRawData3DS>(entry), (TRawData3DS{0x06, 0x80, 6, 0, 0, 0}));
}

TEST(File3DS, ProgressIsReportedForTheFileThenForEachChunk) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Chunk(0x0777).End().Chunk(0x0778).End();
    std::vector<std::pair<int64_t, int64_t>> calls;
    TPointerStream stream(w.Data().data(), static_cast<int64_t>(w.Size()));
    TFile3DS file;
    file.ProgressCallback = [&](int64_t position, int64_t size) {
        calls.emplace_back(position, size);
    };
    file.ReadFromStream(stream);
    const std::vector<std::pair<int64_t, int64_t>> expected = {
        {0, static_cast<int64_t>(w.Size())}, {6, 0}, {12, 0}, {18, 0}};
    EXPECT_EQ(calls, expected);
}

TEST(File3DS, AReadStartsAtOffsetZeroAndDiscardsThePreviousRead) {
    TFile3DS file;
    const std::vector<uint8_t> two = WriteScene3DS({{}, {BoxMesh3DS("A"), BoxMesh3DS("B")}, {}});
    const std::vector<uint8_t> one = WriteScene3DS({{}, {BoxMesh3DS("C")}, {}});
    TPointerStream first(two.data(), static_cast<int64_t>(two.size()));
    first.SetPosition(10);
    file.ReadFromStream(first);
    EXPECT_EQ(file.Objects().MeshCount(), 2);
    EXPECT_EQ(file.Objects().MeshByIndex(1)->NameStr, "B");
    TPointerStream second(one.data(), static_cast<int64_t>(one.size()));
    file.ReadFromStream(second);
    EXPECT_EQ(file.Objects().MeshCount(), 1);
    EXPECT_EQ(file.Objects().MeshByIndex(0)->NameStr, "C");
}

TEST(File3DS, AReadLeavesAllDirtyFlagsSet) {
    TRead3DS read(WriteScene3DS({}));
    const TDatabase3DS& db = read.File.Database();
    EXPECT_TRUE(db.ObjListDirty && db.MatListDirty && db.NodeListDirty);
    EXPECT_TRUE(db.ObjList.empty() && db.MatList.empty());
}

TEST(File3DS, ConstructedFromAFileNameItOwnsItsStream) {
    const std::string name = (std::filesystem::temp_directory_path() /
                              ("skyview-" + std::to_string(::getpid()) + "-box.3ds"))
                                 .string();
    {
        const std::vector<uint8_t> scene = WriteScene3DS({{}, {BoxMesh3DS("Box01")}, {}});
        TFileStream out(name, fmCreate);
        out.WriteBuffer(scene.data(), static_cast<int64_t>(scene.size()));
    }
    TFile3DS file(name);
    EXPECT_EQ(file.FileName(), name);
    std::filesystem::remove(name);
    // Data is read lazily from the stream, which stays open after the file is gone.
    ASSERT_EQ(file.Objects().MeshCount(), 1);
    EXPECT_EQ(file.Objects().MeshByIndex(0)->VertexArray.size(), 8u);
    try {
        TFile3DS missing(name);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "File not found: \"" + name + "\"");
    }
}

namespace {

// What navigation relies on: a node's children tile the run of Count nodes after it, in file
// order, and lie within it in the file.
void ExpectConsistent(TChunkTree& tree) {
    ASSERT_NE(tree.Root(), nullptr);
    EXPECT_EQ(tree.Root()->Count, tree.Size());
    for (TChunkNode& node : tree.Nodes()) {
        uint32_t covered = 1;
        for (const TChunkNode* child = node.Children(); child; child = child->Next()) {
            EXPECT_EQ(child, &node + covered) << std::hex << node.Tag;
            covered += child->Count;
            // PARENT_NAME chunks the reader adds lie nowhere in the file.
            if (child->Position != 0) {
                EXPECT_LE(child->End(), node.End()) << std::hex << child->Tag;
            }
        }
        EXPECT_EQ(covered, node.Count) << std::hex << node.Tag;
    }
}

} // namespace

TEST(File3DS, TheTreeLiesInFileOrderWithEachSubtreeInOneRun) {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.MatArray = {{"Red", {0}}, {"Blue", {1}}};
    box.SmoothArray.assign(12, 1);
    TScene3DS scene{{Material3DS("Red", {1, 0, 0}, "r.png")}, {box, BoxMesh3DS("Box02")}, {}};
    scene.Nodes = {{OBJECT_NODE_TAG, "Box01", -1, int16_t(0), "A"},
                   {OBJECT_NODE_TAG, "Box02", 0, int16_t(1), ""},
                   {CAMERA_NODE_TAG, "Camera01", 1, int16_t(2), ""}};
    TWriter3DS xdata;
    xdata.Begin(M3DMAGIC).Begin(XDATA_SECTION).Begin(XDATA_ENTRY).Begin(0x8002).Chunk(0x8003);
    xdata.End().Header(0x8004, 500).Chunk(0x8005).End().End().Chunk(MDATA).End();
    for (const std::vector<uint8_t>& bytes : {WriteScene3DS(scene), xdata.Data()}) {
        TRead3DS read(bytes);
        ExpectConsistent(read.File.Database().Chunks);
    }
}

TEST(File3DS, AppendLastChildrenGivesEachParentANewLastChild) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Chunk(0x0B01).Chunk(0x0B02).End().Chunk(MAT_AMBIENT);
    w.Begin(N_TRI_OBJECT).Chunk(MAT_DIFFUSE).End().End();
    TRead3DS read(w.Data());
    TChunkTree& tree = read.File.Database().Chunks;
    const auto indexOf = [&](uint16_t tag) { return tree.IndexOf(Find(read, tag)); };
    // A parent with children, one without, and the last node of the array.
    const std::vector<uint32_t> added = tree.AppendLastChildren(
        {indexOf(MDATA), indexOf(MAT_AMBIENT), indexOf(MAT_DIFFUSE)}, 0x0999, {7, 8, 9});
    ExpectConsistent(tree);
    EXPECT_EQ(ChildTags(Find(read, MDATA)), (std::vector<uint16_t>{0x0B01, 0x0B02, 0x0999}));
    EXPECT_EQ(ChildTags(Find(read, MAT_AMBIENT)), std::vector<uint16_t>{0x0999});
    EXPECT_EQ(ChildTags(Find(read, MAT_DIFFUSE)), std::vector<uint16_t>{0x0999});
    EXPECT_EQ(ChildTags(Root(read)), (std::vector<uint16_t>{MDATA, MAT_AMBIENT, N_TRI_OBJECT}));
    ASSERT_EQ(added.size(), 3u);
    for (size_t i = 0; i < added.size(); ++i) {
        EXPECT_EQ(tree[added[i]].Tag, 0x0999);
        EXPECT_EQ(tree[added[i]].Length, 7 + i);
    }
}
