// libFuzzer target: the 3DS reader on arbitrary bytes. It reads the structure, extracts every
// mesh and material as a load does, looks up each material group's material by name, and loads
// the data of every chunk of the tree, so that every layout is parsed. The reader may only fail
// with E3DSError or the stream's read error; anything else escapes and is a finding. Each input
// is read twice, in place from memory and in segments through a stream that is not in memory, as
// files are read; the two must agree, or it is a finding too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/3ds/File3DS.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPointerStream memory(data, static_cast<int64_t>(size));
    TOpaqueStream opaque(data, size);
    if (ReadEverything(memory) != ReadEverything(opaque))
        __builtin_trap();
    return 0;
}
