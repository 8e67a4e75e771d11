// Types of the 3DS reader (Parts 6.1, 6.2): the chunk tree with its parsed data blocks, the
// scene database, and the mesh and material records extracted from it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "engine/3ds/Const3DS.h"
#include "platform/framework/SysUtils.h"

SKYVIEW_EXCEPTION(E3DSError, Exception)

// Primitive records, laid out as in the file (little-endian, no padding).
struct TPoint3DS {
    float X, Y, Z;
};
struct TFColor3DS {
    float R, G, B;
};
struct TC24Color3DS {
    uint8_t R, G, B;
};
struct TFace3DS {
    uint16_t V1, V2, V3, Flag;
};
struct TTexVert3DS {
    float U, V;
};
// Rotation rows then translation.
using TMeshMatrix3DS = std::array<float, 12>;
using TRawData3DS = std::vector<uint8_t>;
using TBoxMap3DS = std::array<std::string, 6>;

// One material group of a mesh; also the data block of MSH_MAT_GROUP.
struct TObjMat3DS {
    std::string NameStr;
    // Indices into the mesh's faces, as stored: nothing checks them against the face count.
    std::vector<uint16_t> FaceIndex;
};

// MESH_TEXTURE_INFO, with the records' defaults (the data block overwrites them all).
struct TMapInfo3DS {
    uint16_t MapType = 0;
    float TileX = 1, TileY = 1;
    TPoint3DS IconPos{0, 0, 0};
    float IconScaling = 1;
    TMeshMatrix3DS Matrix{1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    float PlanarIconWidth = 1, PlanarIconHeight = 1, CylIconHeight = 1;
};

struct TMatAcubic3DS {
    uint8_t ShadeLevel, AntiAlias;
    int16_t Flags;
    int32_t MapSize, FrameInterval;
};

struct TNodeHdr3DS {
    std::string ObjNameStr;
    uint16_t Flags1, Flags2;
    int16_t ParentIndex;
};

// The parsed data block of a chunk; the tag fixes the alternative (see the tag table in Const3DS):
// integers for versions, floats, shorts for percentages, shading and ids, the word of
// MAT_MAP_TILING, the byte of MESH_COLOR, strings for names, arrays for the mesh chunks, and raw
// bytes for procedural, extension and unparsed data.
using TChunkData =
    std::variant<int32_t, float, int16_t, uint16_t, uint8_t, TFColor3DS, TC24Color3DS, std::string,
                 std::vector<TPoint3DS>, std::vector<uint16_t>, std::vector<TFace3DS>, TObjMat3DS,
                 std::vector<TTexVert3DS>, std::vector<uint32_t>, TMeshMatrix3DS, TMapInfo3DS,
                 TRawData3DS, TBoxMap3DS, TMatAcubic3DS, TNodeHdr3DS>;

// One chunk of the file. Children and siblings are owned; destruction is iterative, since a
// hostile file can chain or nest millions of chunks.
struct TChunkNode {
    TChunkNode() = default;
    TChunkNode(const TChunkNode&) = delete;
    TChunkNode& operator=(const TChunkNode&) = delete;
    ~TChunkNode();

    uint64_t End() const { return uint64_t{Position} + Length; }

    uint16_t Tag = 0;
    uint32_t Length = 0;
    uint32_t Position = 0;
    std::unique_ptr<TChunkData> Data; // none until loaded, and for chunks without data
    std::unique_ptr<TChunkNode> Next;
    std::unique_ptr<TChunkNode> Children;
};

// The loaded data of node as a T; raises the invalid-chunk error when the chunk holds no T.
template <typename T> T& ChunkValue(TChunkNode& node) {
    T* value = node.Data ? std::get_if<T>(node.Data.get()) : nullptr;
    if (value == nullptr)
        throw E3DSError(S3DSInvalidChunk);
    return *value;
}

struct TChunkListEntry3DS {
    std::string NameStr;
    TChunkNode* Chunk;
};
using TChunkTable = std::vector<TChunkListEntry3DS>;

struct TDatabase3DS {
    std::unique_ptr<TChunkNode> TopChunk;
    bool ObjListDirty = true;
    bool MatListDirty = true;
    bool NodeListDirty = true;
    TChunkTable ObjList; // named objects
    TChunkTable MatList; // material entries
};

// One triangle mesh. Counts are the sizes of the arrays. Indices are as stored in the file:
// face corners are not checked against the vertex count, nor the smoothing and texture-vertex
// counts against the face and vertex counts; a consumer checks what it relies on.
struct TMesh3DS {
    std::string NameStr;
    bool IsHidden = false;
    bool IsVisLofter = false;
    bool IsNoCast = false;
    bool IsMatte = false;
    bool IsFast = false;
    bool IsNoRcvShad = false;
    bool IsFrozen = false;
    bool IsProcedural = false;
    std::vector<TPoint3DS> VertexArray;
    std::vector<uint16_t> VFlagArray;
    std::vector<TTexVert3DS> TextArray;
    bool UseMapInfo = false;
    TMapInfo3DS MapInfo;
    TMeshMatrix3DS LocMatrix{};
    std::vector<TFace3DS> FaceArray;
    std::vector<uint32_t> SmoothArray;
    bool UseBoxMap = false;
    TBoxMap3DS BoxMapStr;
    uint8_t MeshColor = 0;
    std::vector<TObjMat3DS> MatArray;
    std::string ProcName;
    TRawData3DS ProcData;
};

// MAT_MAP_TILING: how the map repeats.
enum TTileType3DS : uint8_t { ttTile, ttDecal, ttBoth };
// MAT_MAP_TILING: where the map's tint and alpha come from.
enum TTintType3DS : uint8_t { ttNone, ttAlpha, ttRGBLumaTint, ttAlphaTint, ttRGBTint };

struct TBitmap3DS {
    std::string NameStr;
    float Percent = 0;
    TTileType3DS Tiling = ttTile;
    bool IgnoreAlpha = false;
    bool Filter = false; // summed-area rather than pyramidal filtering
    bool Mirror = false;
    bool Negative = false;
    TTintType3DS Source = ttNone;
    float Blur = 0;
    float UScale = 1, VScale = 1;
    float UOffset = 0, VOffset = 0;
    float Rotation = 0;
    TFColor3DS Tint1{0, 0, 0};
    TFColor3DS Tint2{1, 1, 1};
    TFColor3DS RedTint{1, 0, 0};
    TFColor3DS GreenTint{0, 1, 0};
    TFColor3DS BlueTint{0, 0, 1};
    TRawData3DS Data; // procedural data
};

struct TMapSet3DS {
    TBitmap3DS Map;
    TBitmap3DS Mask;
};

struct TAutoMap3DS {
    bool Use = false;
    bool FirstFrame = false;
    bool Flat = false;
    int32_t Size = 100;
    int32_t NthFrame = 1;
};

struct TRMapSet3DS {
    TBitmap3DS Map;
    TBitmap3DS Mask;
    TAutoMap3DS AutoMap;
};

struct TMaterial3DS {
    std::string NameStr;
    TFColor3DS Ambient{0, 0, 0};
    TFColor3DS Diffuse{0, 0, 0};
    TFColor3DS Specular{0, 0, 0};
    float Shininess = 0;
    float ShinStrength = 0;
    float Blur = 0;
    float Transparency = 0;
    float TransFalloff = 0;
    float SelfIllumPct = 0;
    float WireSize = 1;
    int16_t Shading = 3;
    bool UseBlur = false;
    bool UseFall = false;
    bool TwoSided = false;
    bool SelfIllum = false;
    bool Additive = false;
    bool UseWireAbs = false;
    bool FaceMap = false;
    bool Soften = false;
    TMapSet3DS Texture, Texture2, Opacity, Bump, SpecMap, ShinMap, IllumMap;
    TRMapSet3DS Reflect;
};
