// The reader on streams that are not in memory: files and other streams give exactly what the
// same bytes give from memory, errors included, and each byte comes from the stream once.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "engine/3ds/File3DS.h"
#include "engine/meshes/ApplicationFileIO.h"
#include "tests/support/Writer3DS.h"

namespace {

// A stream over bytes that is not a memory stream, so that the reader reads it as it reads a
// file, and that counts what is asked of it.
class TCountingStream : public TStream {
public:
    explicit TCountingStream(const std::vector<uint8_t>& bytes)
        : FInner(bytes.data(), static_cast<int64_t>(bytes.size())) {}

    int64_t Read(void* buffer, int64_t count) override { return Count(FInner.Read(buffer, count)); }
    int64_t ReadAt(int64_t position, void* buffer, int64_t count) override {
        return Count(FInner.ReadAt(position, buffer, count));
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        return FInner.Seek(offset, origin);
    }
    int64_t Position() const override { return FInner.Position(); }
    int64_t Size() const override { return FInner.Size(); }
    void SetSize(int64_t) override { throw EStreamError("read only"); }
    const char* ClassName() const override { return "TCountingStream"; }

    int Reads = 0;
    int64_t BytesRead = 0;

private:
    int64_t Count(int64_t bytes) {
        ++Reads;
        BytesRead += bytes;
        return bytes;
    }

    TPointerStream FInner;
};

// A file of the bytes in the temporary directory, removed with the object.
class TTempFile {
public:
    explicit TTempFile(const std::vector<uint8_t>& bytes)
        : FName((std::filesystem::temp_directory_path() /
                 ("skyview-" + std::to_string(::getpid()) + "-reads.3ds"))
                    .string()) {
        TFileStream out(FName, fmCreate);
        out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    ~TTempFile() { std::filesystem::remove(FName); }
    const std::string& Name() const { return FName; }

private:
    std::string FName;
};

template <typename T> std::string Bytes(const std::vector<T>& array) {
    return std::string(reinterpret_cast<const char*>(array.data()), array.size() * sizeof(T));
}

std::string Describe(const TMesh3DS& m) {
    std::string text = m.NameStr + Bytes(m.VertexArray) + Bytes(m.Extras->VFlagArray) +
                       Bytes(m.TextArray) + Bytes(m.FaceArray) + Bytes(m.SmoothArray) +
                       m.Extras->ProcName + Bytes(m.Extras->ProcData);
    for (const TObjMat3DS& group : m.MatArray)
        text += group.NameStr + Bytes(group.FaceIndex);
    for (const std::string& name : *m.BoxMapStr)
        text += name;
    return text + Format("%d%d%d", m.IsHidden, m.UseMapInfo, m.MeshColor);
}

std::string Describe(const TMaterial3DS& m) {
    return m.NameStr + m.Texture->Map.NameStr + m.Bump->Map.NameStr + m.Reflect->Mask.NameStr +
           Format("%g %g %g %g %d", double(m.Diffuse.R), double(m.Ambient.G), double(m.Shininess),
                  double(m.Texture->Map.UScale), m.Shading);
}

// Everything a read gives: the tree, every mesh and material, the data of every chunk; or the
// error that stopped it.
std::string ReadAll(TStream& stream) {
    TFile3DS file;
    std::string text;
    try {
        file.ReadFromStream(stream);
        for (TChunkNode& node : file.Database().Chunks.Nodes())
            text += Format("[%04X %u %u %u %d]", node.Tag, node.Position, node.Length, node.Count,
                           node.HasNext);
        for (int i = 0; i < file.Objects().MeshCount(); ++i)
            text += Describe(*file.Objects().MeshByIndex(i));
        for (int i = 0; i < file.Materials().MaterialCount(); ++i)
            text += Describe(*file.Materials().MaterialByIndex(i));
        for (TChunkNode& node : file.Database().Chunks.Nodes()) {
            try {
                file.LoadChunkData(node);
                if (const auto* name = file.ChunkData(node)
                                           ? std::get_if<std::string>(file.ChunkData(node))
                                           : nullptr)
                    text += *name;
                file.ReleaseChunkData(node);
            } catch (const E3DSError&) {
                text += "!";
            }
        }
        return text;
    } catch (const Exception& e) {
        return text + e.ClassName() + ": " + e.Message();
    }
}

std::string ReadAllFromMemory(const std::vector<uint8_t>& bytes) {
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    return ReadAll(stream);
}

std::string ReadAllFromFile(const std::vector<uint8_t>& bytes) {
    TTempFile file(bytes);
    std::unique_ptr<TStream> stream = OpenFileStream(file.Name(), fmOpenRead | fmShareDenyWrite);
    return ReadAll(*stream);
}

std::vector<uint8_t> KeyFrameScene() {
    TScene3DS scene;
    scene.Meshes = {BoxMesh3DS("Box01")};
    scene.Nodes = {{OBJECT_NODE_TAG, "$$$DUMMY", -1, int16_t(0), "Group"},
                   {OBJECT_NODE_TAG, "Box01", 0, int16_t(1), "First"},
                   {CAMERA_NODE_TAG, "Camera01", 1, int16_t(2), ""}};
    return WriteScene3DS(scene);
}

std::vector<uint8_t> FullScene() {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.MatArray = {{"Red", {0, 1}}, {"Brick", {2, 3, 4}}};
    box.SmoothArray.assign(12, 1);
    box.UseBoxMap = true;
    box.BoxMapStr = {"a", "b", "c", "d", "e", "f"};
    box.Extras.Edit().ProcName = "proc";
    box.Extras.Edit().ProcData = {1, 2, 3};
    TMaterial3DS brick = Material3DS("Brick", {0.5f, 0.25f, 1}, "brick.jpg");
    brick.Bump.Edit().Map.NameStr = "bump.png";
    brick.Reflect.Edit().Mask.NameStr = "mask.png";
    return WriteScene3DS({{Material3DS("Red", {1, 0, 0}), brick}, {box}, {}});
}

// Big arrays between small chunks, and many small chunks: the two ways of reading a file.
std::vector<uint8_t> LargeMeshes() {
    return WriteScene3DS({{Material3DS("M", {1, 1, 1}, "m.jpg")},
                          {GridMesh3DS("A", 120, 100, "M"), GridMesh3DS("B", 30, 200, "M")},
                          {}});
}

std::vector<uint8_t> ManySmallMeshes(int count) {
    TScene3DS scene;
    for (int i = 0; i < 20; ++i)
        scene.Materials.push_back(Material3DS("M" + std::to_string(i), {0.5f, 0.5f, 0.5f}));
    for (int i = 0; i < count; ++i)
        scene.Meshes.push_back(
            GridMesh3DS("G" + std::to_string(i), 3, 3, "M" + std::to_string(i % 20)));
    return WriteScene3DS(scene);
}

std::vector<uint8_t> XDataScene() {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(XDATA_SECTION).Begin(XDATA_ENTRY);
    w.Begin(0x8002).String("kept").End().Header(0x8003, 1000).Chunk(0x8004).End().End();
    w.Mesh(BoxMesh3DS("Box01")).End();
    return w.Data();
}

// Counted arrays of no entries, in memory and from other streams alike.
std::vector<uint8_t> EmptyArrays() {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("Empty").Begin(N_TRI_OBJECT);
    w.Begin(POINT_ARRAY).Word(0).End().Begin(TEX_VERTS).Word(0).End();
    w.Begin(FACE_ARRAY).Word(0).Begin(MSH_MAT_GROUP).String("Red").Word(0).End();
    w.Chunk(SMOOTH_GROUP).End().Chunk(PROC_DATA).End().End().End().End();
    return w.Data();
}

const std::vector<std::pair<const char*, std::vector<uint8_t>>>& Scenes() {
    static const std::vector<std::pair<const char*, std::vector<uint8_t>>> scenes = {
        {"key frames", KeyFrameScene()},
        {"full records", FullScene()},
        {"large meshes", LargeMeshes()},
        {"many small meshes", ManySmallMeshes(300)},
        {"extension data", XDataScene()},
        {"empty arrays", EmptyArrays()},
        {"material library", WriteMaterialLibrary3DS({Material3DS("Red", {1, 0, 0}, "r.png")})},
        {"unknown root", {'i', 'n', 'v', 'a', 'l', 'i', 'd', ' ', '3', 'd', 's'}},
    };
    return scenes;
}

void SetLength(std::vector<uint8_t>& bytes, size_t position, uint32_t length) {
    std::memcpy(bytes.data() + position + 2, &length, sizeof length);
}

} // namespace

TEST(StreamReads3DS, AFileAndAnyOtherStreamGiveWhatMemoryGives) {
    for (const auto& [name, bytes] : Scenes()) {
        const std::string expected = ReadAllFromMemory(bytes);
        EXPECT_EQ(ReadAllFromFile(bytes), expected) << name;
        TCountingStream counting(bytes);
        EXPECT_EQ(ReadAll(counting), expected) << name;
    }
}

TEST(StreamReads3DS, TruncatedFilesFailAsTheyDoInMemory) {
    const std::vector<uint8_t> whole = FullScene();
    for (size_t size = 0; size < whole.size(); size += 7) {
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size));
        if (size >= 6 && size % 2 == 0)
            SetLength(bytes, 0, static_cast<uint32_t>(size));
        TCountingStream counting(bytes);
        EXPECT_EQ(ReadAll(counting), ReadAllFromMemory(bytes)) << size;
    }
    EXPECT_EQ(ReadAllFromFile({}), "EReadError: Stream read error");
}

TEST(StreamReads3DS, EachByteComesFromTheStreamOnceAndInFewReads) {
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;
        int MaxReads;
    };
    // Small chunks come in segments that double up to a megabyte; each big array is read
    // where it belongs, after one small read for the header that follows it.
    const TCase cases[] = {{"many small meshes", ManySmallMeshes(3000), 16},
                           {"large meshes", LargeMeshes(), 40}};
    for (const TCase& c : cases) {
        TCountingStream stream(c.Bytes);
        TFile3DS file;
        file.ReadFromStream(stream);
        for (int i = 0; i < file.Objects().MeshCount(); ++i)
            file.Objects().MeshByIndex(i);
        for (int i = 0; i < file.Materials().MaterialCount(); ++i)
            file.Materials().MaterialByIndex(i);
        // A field that straddles the end of what was read is read again whole: at most a
        // matrix of 48 bytes a read.
        EXPECT_LE(stream.BytesRead, static_cast<int64_t>(c.Bytes.size()) + 48 * stream.Reads)
            << c.Name;
        EXPECT_LE(stream.Reads, c.MaxReads) << c.Name;
    }
}

TEST(StreamReads3DS, LoadsNeitherDependOnNorMoveTheStreamPosition) {
    const std::vector<uint8_t> bytes = LargeMeshes();
    TCountingStream stream(bytes);
    TFile3DS file;
    file.ReadFromStream(stream);
    stream.SetPosition(3);
    ASSERT_EQ(file.Objects().MeshCount(), 2);
    EXPECT_EQ(file.Objects().MeshByIndex(1)->FaceArray.size(), 2u * 30 * 200);
    EXPECT_EQ(file.Materials().MaterialByName("m")->Texture->Map.NameStr, "m.jpg");
    EXPECT_EQ(stream.Position(), 3);
}

TEST(StreamReads3DS, AMemoryStreamIsReadInPlaceAndCutShortGivesItsReadError) {
    TMemoryStream stream;
    const std::vector<uint8_t> bytes = FullScene();
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    TFile3DS file;
    file.ReadFromStream(stream);
    stream.SetSize(static_cast<int64_t>(bytes.size() / 2));
    try {
        file.Objects().MeshByIndex(0);
        FAIL() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
}
