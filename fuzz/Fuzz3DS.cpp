// libFuzzer target: the 3DS reader and the conversion on arbitrary bytes. It reads the
// structure, extracts every mesh and material as a load does, looks up each material group's
// material by name, and loads the data of every chunk of the tree, so that every layout is
// parsed. The reader may only fail with E3DSError or the stream's read error; anything else
// escapes and is a finding. Each input is read twice, in place from memory and in segments
// through a stream that is not in memory, as files are read; the two must agree, or it is a
// finding too. Then the input is loaded into a free form as the viewer loads its model (no
// OpenGL is needed for that): the same errors only may come out, and what it loads must be safe
// to draw: every face-group index within the vertices, a normal and (if any) a texture
// coordinate per vertex, and every finite normal of unit length or zero.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/3ds/File3DS.h"
#include "engine/3ds/GLFile3DS.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "platform/framework/Streams.h"

namespace {

// The bytes as a stream the reader cannot read in place.
class TOpaqueStream : public TStream {
public:
    TOpaqueStream(const uint8_t* data, size_t size) : FInner(data, static_cast<int64_t>(size)) {}
    int64_t Read(void* buffer, int64_t count) override { return FInner.Read(buffer, count); }
    int64_t ReadAt(int64_t position, void* buffer, int64_t count) override {
        return FInner.ReadAt(position, buffer, count);
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        return FInner.Seek(offset, origin);
    }
    int64_t Position() const override { return FInner.Position(); }
    int64_t Size() const override { return FInner.Size(); }
    void SetSize(int64_t) override { throw EStreamError("read only"); }
    const char* ClassName() const override { return "TOpaqueStream"; }

private:
    TPointerStream FInner;
};

// What the extraction gives, in short: counts and names, or the error that stopped it.
std::string ExtractEverything(TFile3DS& file) {
    std::string outcome;
    try {
        const int meshCount = file.Objects().MeshCount();
        for (int i = 0; i < meshCount; ++i) {
            const TMesh3DS& mesh = *file.Objects().MeshByIndex(i);
            outcome += mesh.NameStr + std::to_string(mesh.VertexArray.size()) + "/" +
                       std::to_string(mesh.FaceArray.size()) + ";";
            for (const TObjMat3DS& group : mesh.MatArray)
                file.Materials().MaterialByName(group.NameStr);
        }
        const int materialCount = file.Materials().MaterialCount();
        for (int i = 0; i < materialCount; ++i)
            outcome += file.Materials().MaterialByIndex(i)->NameStr + ";";
    } catch (const E3DSError& e) {
        outcome += e.Message();
    }
    return outcome;
}

void LoadEveryChunk(TFile3DS& file) {
    for (TChunkNode& node : file.Database().Chunks.Nodes()) {
        try {
            file.LoadChunkData(node);
            file.ReleaseChunkData(node);
        } catch (const E3DSError&) {
        }
    }
}

std::string ReadEverything(TStream& stream) {
    TFile3DS file;
    try {
        file.ReadFromStream(stream);
    } catch (const E3DSError& e) {
        return e.Message();
    } catch (const EReadError& e) {
        return e.Message();
    }
    const std::string outcome = ExtractEverything(file);
    LoadEveryChunk(file);
    return outcome;
}

bool SafeNormal(const TAffineVector& n) {
    if (!std::isfinite(n[0]) || !std::isfinite(n[1]) || !std::isfinite(n[2]))
        return true;
    const double length =
        std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
    return length == 0 || std::abs(length - 1) < 1e-3;
}

void CheckDrawable(const TMeshObject& meshObject) {
    const int32_t count = meshObject.Vertices().Count();
    if (meshObject.Normals().Count() != count ||
        (meshObject.TexCoords().Count() != 0 && meshObject.TexCoords().Count() != count) ||
        (meshObject.LightmapTexCoords().Count() != 0 &&
         meshObject.LightmapTexCoords().Count() != count))
        std::abort();
    for (const TAffineVector& normal : meshObject.Normals())
        if (!SafeNormal(normal))
            std::abort();
    for (int32_t j = 0; j < meshObject.FaceGroups().Count(); ++j) {
        const auto* group = dynamic_cast<const TFGVertexIndexList*>(meshObject.FaceGroups()[j]);
        if (group == nullptr || group->VertexIndices().Count() % 3 != 0)
            std::abort();
        for (const int32_t index : group->VertexIndices())
            if (index < 0 || index >= count)
                std::abort();
    }
}

void Convert(const uint8_t* data, size_t size) {
    static const bool registered = [] {
        RegisterVectorFileObjects();
        RegisterGLFile3DS();
        return true;
    }();
    static_cast<void>(registered);
    TPointerStream stream(data, static_cast<int64_t>(size));
    TGLFreeForm freeForm(nullptr);
    try {
        freeForm.LoadMeshFromStream("fuzz.3ds", stream);
    } catch (const E3DSError&) {
    } catch (const EReadError&) {
    }
    for (int32_t i = 0; i < freeForm.MeshObjects().Count(); ++i)
        CheckDrawable(*freeForm.MeshObjects()[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPointerStream memory(data, static_cast<int64_t>(size));
    TOpaqueStream opaque(data, size);
    if (ReadEverything(memory) != ReadEverything(opaque))
        __builtin_trap();
    Convert(data, size);
    return 0;
}
