// A writer of 3DS files for generated test data, benchmarks and fuzzing seeds.
//
// Chunks nest with Begin/End and get their true length when they end, unless a test declares a
// length of its own (EndWithLength, Header), so broken files are as easy to make as valid ones.
// Records are the reader's own types: Mesh(TMesh3DS), Material(TMaterial3DS); what a record
// leaves at its default (an empty array, a false flag, a map without a name) is not written.
//
//     TWriter3DS w;
//     w.Begin(M3DMAGIC).Begin(MDATA).Mesh(BoxMesh3DS("Box01")).End().End();
//     TPointerStream stream(w.Data().data(), w.Size());
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/3ds/File3DS.h"
#include "engine/3ds/Types3DS.h"
#include "platform/framework/Streams.h"

// A key-frame node: the node chunk with NODE_ID (when Id is set), NODE_HDR and, when not empty,
// INSTANCE_NAME.
struct TNodeSpec3DS {
    uint16_t Tag = OBJECT_NODE_TAG;
    std::string Name;
    int16_t ParentIndex = -1;
    std::optional<int16_t> Id;
    std::string Instance;
};

// A scene file: M3DMAGIC { M3D_VERSION, MDATA { MESH_VERSION, MASTER_SCALE, materials, meshes },
// KFDATA { nodes } (only when there are nodes) }.
struct TScene3DS {
    std::vector<TMaterial3DS> Materials;
    std::vector<TMesh3DS> Meshes;
    std::vector<TNodeSpec3DS> Nodes;
};

class TWriter3DS {
public:
    // Opens a chunk; its length is patched when it ends.
    TWriter3DS& Begin(uint16_t tag);
    TWriter3DS& End();
    // Ends the chunk but declares the given length instead of the true one.
    TWriter3DS& EndWithLength(uint32_t length);
    // A chunk with no data (flags such as OBJ_HIDDEN).
    TWriter3DS& Chunk(uint16_t tag);
    // A bare header with any length, and nothing after it.
    TWriter3DS& Header(uint16_t tag, uint32_t length);

    // Fields, little-endian.
    TWriter3DS& Byte(uint8_t value);
    TWriter3DS& Word(uint16_t value);
    TWriter3DS& Short(int16_t value);
    TWriter3DS& Dword(uint32_t value);
    TWriter3DS& Int(int32_t value);
    TWriter3DS& Float(float value);
    TWriter3DS& Point(const TPoint3DS& point);
    // The characters and their terminating zero; Chars writes no zero. Characters are bytes, as
    // the format stores them (8-bit code page, not UTF-8).
    TWriter3DS& String(std::string_view text);
    TWriter3DS& Chars(std::string_view text);
    TWriter3DS& Bytes(const void* data, size_t size);
    TWriter3DS& Bytes(const std::vector<uint8_t>& data) { return Bytes(data.data(), data.size()); }

    // Whole chunks of one value.
    TWriter3DS& IntChunk(uint16_t tag, int32_t value);
    TWriter3DS& ShortChunk(uint16_t tag, int16_t value);
    TWriter3DS& WordChunk(uint16_t tag, uint16_t value);
    TWriter3DS& FloatChunk(uint16_t tag, float value);
    TWriter3DS& StringChunk(uint16_t tag, std::string_view text);
    TWriter3DS& Color24Chunk(uint16_t tag, uint8_t r, uint8_t g, uint8_t b);
    TWriter3DS& ColorFChunk(uint16_t tag, float r, float g, float b);
    TWriter3DS& IntPercentage(int16_t percent);
    TWriter3DS& FloatPercentage(float fraction);

    // Records: a NAMED_OBJECT holding an N_TRI_OBJECT, a MAT_ENTRY, a key-frame node.
    TWriter3DS& Mesh(const TMesh3DS& mesh);
    TWriter3DS& Material(const TMaterial3DS& material);
    TWriter3DS& Node(const TNodeSpec3DS& node);

    // The bytes so far; every chunk must have ended.
    const std::vector<uint8_t>& Data() const;
    size_t Size() const { return FData.size(); }

private:
    TWriter3DS& FaceArray(const TMesh3DS& mesh);
    TWriter3DS& Bitmap(uint16_t tag, const TBitmap3DS& bitmap);
    TWriter3DS& ProceduralData(uint16_t tag, const TBitmap3DS& bitmap);
    TWriter3DS& Colour(uint16_t tag, const TFColor3DS& colour);
    TWriter3DS& Percentage(uint16_t tag, float fraction);

    std::vector<uint8_t> FData;
    std::vector<size_t> FOpen;
};

std::vector<uint8_t> WriteScene3DS(const TScene3DS& scene);
// A material library file: MLIBMAGIC { materials }.
std::vector<uint8_t> WriteMaterialLibrary3DS(const std::vector<TMaterial3DS>& materials);

// A unit cube of 8 vertices and 12 counter-clockwise faces, 8 texture vertices, no groups.
TMesh3DS BoxMesh3DS(const std::string& name);
// A flat grid of columns x rows quads: (columns + 1) x (rows + 1) vertices and texture
// vertices, 2 x columns x rows faces, all in smoothing group 1, all faces in one material group.
TMesh3DS GridMesh3DS(const std::string& name, int columns, int rows, const std::string& material);
// A material with a diffuse colour and, when textureName is not empty, a texture map.
TMaterial3DS Material3DS(const std::string& name, TFColor3DS diffuse,
                         const std::string& textureName = "");

// Bytes and the reader that read them, through a stream that lives as long as the reader.
struct TRead3DS {
    explicit TRead3DS(std::vector<uint8_t> bytes)
        : Bytes(std::move(bytes)), Stream(Bytes.data(), static_cast<int64_t>(Bytes.size())) {
        File.ReadFromStream(Stream);
    }

    std::vector<uint8_t> Bytes;
    TPointerStream Stream;
    TFile3DS File;
};
