// libFuzzer target: the 3DS reader on arbitrary bytes. It reads the structure, extracts every
// mesh and material as a load does, looks up each material group's material by name, and loads
// the data of every chunk of the tree, so that every layout is parsed. The reader may only fail
// with E3DSError or the stream's read error; anything else escapes and is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/3ds/File3DS.h"
#include "platform/framework/Streams.h"

namespace {

void ExtractEverything(TFile3DS& file) {
    const int meshCount = file.Objects().MeshCount();
    for (int i = 0; i < meshCount; ++i)
        for (const TObjMat3DS& group : file.Objects().MeshByIndex(i)->MatArray)
            file.Materials().MaterialByName(group.NameStr);
    const int materialCount = file.Materials().MaterialCount();
    for (int i = 0; i < materialCount; ++i)
        file.Materials().MaterialByIndex(i);
}

void LoadEveryChunk(TFile3DS& file) {
    std::vector<TChunkNode*> pending = {file.Database().TopChunk.get()};
    while (!pending.empty()) {
        TChunkNode* node = pending.back();
        pending.pop_back();
        try {
            file.LoadChunkData(*node);
            TFile3DS::ReleaseChunkData(*node);
        } catch (const E3DSError&) {
        }
        for (TChunkNode* child = node->Children.get(); child; child = child->Next.get())
            pending.push_back(child);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPointerStream stream(data, static_cast<int64_t>(size));
    TFile3DS file;
    try {
        file.ReadFromStream(stream);
    } catch (const E3DSError&) {
        return 0;
    } catch (const EReadError&) {
        return 0;
    }
    try {
        ExtractEverything(file);
    } catch (const E3DSError&) {
    }
    LoadEveryChunk(file);
    return 0;
}
