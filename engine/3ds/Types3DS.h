// Types of the 3DS reader: the chunk tree with its parsed data blocks, the scene database, and
// the mesh and material records extracted from it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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
    friend bool operator==(const TFColor3DS&, const TFColor3DS&) = default;
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

// One chunk of the file, 16 bytes whatever the file holds. The nodes of a read lie in one array
// in file order, every parent before its sub-chunks, so a node's subtree is the run of Count
// nodes that starts with it: its first child is the node after it, its next sibling the node
// after its subtree. Nodes live only in their tree and are handled through pointers into it.
struct TChunkNode {
    TChunkNode() = default;
    TChunkNode(uint16_t tag, uint32_t length, uint32_t position)
        : Tag(tag), Length(length), Position(position) {}
    TChunkNode(const TChunkNode&) = delete;
    TChunkNode& operator=(const TChunkNode&) = delete;
    TChunkNode(TChunkNode&&) noexcept = default;
    TChunkNode& operator=(TChunkNode&&) noexcept = default;

    uint64_t End() const { return uint64_t{Position} + Length; }
    TChunkNode* Children() { return Count > 1 ? this + 1 : nullptr; }
    const TChunkNode* Children() const { return Count > 1 ? this + 1 : nullptr; }
    TChunkNode* Next() { return HasNext ? this + Count : nullptr; }
    const TChunkNode* Next() const { return HasNext ? this + Count : nullptr; }
    // This node and every node below it, in file order.
    std::span<TChunkNode> Subtree() { return {this, Count}; }

    uint16_t Tag = 0;
    bool HasNext = false;
    bool XData = false; // its sub-chunks follow the rule of extension data
    uint32_t Length = 0;
    uint32_t Position = 0;
    uint32_t Count = 1; // nodes in the subtree, this one included
};

// The nodes of one read. The array is allocated to its final size once, so it holds no slack
// beyond what AppendLastChildren may still use.
class TChunkTree {
public:
    TChunkTree() = default;
    explicit TChunkTree(std::vector<TChunkNode> nodes) : FNodes(std::move(nodes)) {}

    TChunkNode* Root() { return FNodes.empty() ? nullptr : FNodes.data(); }
    const TChunkNode* Root() const { return FNodes.empty() ? nullptr : FNodes.data(); }
    size_t Size() const { return FNodes.size(); }
    std::span<TChunkNode> Nodes() { return FNodes; }
    uint32_t IndexOf(const TChunkNode& node) const {
        return static_cast<uint32_t>(&node - FNodes.data());
    }
    TChunkNode& operator[](uint32_t index) { return FNodes[index]; }
    // The bytes the tree holds, for checks of what a file can make the reader allocate.
    size_t StorageBytes() const { return FNodes.capacity() * sizeof(TChunkNode); }

    // Gives each node at the indices of parents (ascending, none inside another's subtree) one
    // new last child with the tag and the length of the same rank, and returns the new
    // children's indices. Nodes move, so pointers into the tree taken before are stale after.
    std::vector<uint32_t> AppendLastChildren(const std::vector<uint32_t>& parents, uint16_t tag,
                                             const std::vector<uint32_t>& lengths);

private:
    std::vector<TChunkNode> FNodes;
};

struct TChunkListEntry3DS {
    std::string_view NameStr; // in the database's pool of table names
    TChunkNode* Chunk;
};
using TChunkTable = std::vector<TChunkListEntry3DS>;

// PARENT_NAME data the reader gives key-frame nodes: names are kept once each, and a chunk's
// string is made only when its data is asked for, since many nodes can share one long name.
struct TParentNames3DS {
    std::vector<std::string> Names;
    // (node index, index into Names), ascending by node; a chunk's entry goes once its data is
    // made.
    std::vector<std::pair<uint32_t, uint32_t>> Chunks;
};

struct TDatabase3DS {
    TChunkNode* TopChunk() { return Chunks.Root(); }
    const TChunkNode* TopChunk() const { return Chunks.Root(); }

    TChunkTree Chunks;
    bool ObjListDirty = true;
    bool MatListDirty = true;
    bool NodeListDirty = true;
    TChunkTable ObjList; // named objects
    TChunkTable MatList; // material entries
    std::string ObjListNames;
    std::string MatListNames;
    TParentNames3DS ParentNames;
};

// A part of a record that most records never hold: allocated when first written through Edit(),
// read as its defaults until then, so that a record costs little for the parts it lacks.
template <typename T> class TLazy3DS {
public:
    TLazy3DS() = default;
    TLazy3DS(const TLazy3DS& other) : FValue(Copy(other)) {}
    TLazy3DS(TLazy3DS&&) noexcept = default;
    TLazy3DS& operator=(const TLazy3DS& other) {
        if (this != &other)
            FValue = Copy(other);
        return *this;
    }
    TLazy3DS& operator=(TLazy3DS&&) noexcept = default;
    TLazy3DS& operator=(T value) {
        Edit() = std::move(value);
        return *this;
    }

    const T& operator*() const { return FValue ? *FValue : Defaults(); }
    // Whether the part takes memory of its own, for checks of what a file costs.
    bool Held() const { return FValue != nullptr; }
    const T* operator->() const { return &**this; }
    T& Edit() {
        if (!FValue)
            FValue = std::make_unique<T>();
        return *FValue;
    }
    friend bool operator==(const TLazy3DS& a, const TLazy3DS& b) { return *a == *b; }

private:
    static std::unique_ptr<T> Copy(const TLazy3DS& other) {
        return other.FValue ? std::make_unique<T>(*other.FValue) : nullptr;
    }
    static const T& Defaults() {
        static const T defaults{};
        return defaults;
    }

    std::unique_ptr<T> FValue;
};

// The parts of a mesh that few files have: vertex flags and procedural data.
struct TMeshExtras3DS {
    std::vector<uint16_t> VFlagArray;
    std::string ProcName;
    TRawData3DS ProcData;
    friend bool operator==(const TMeshExtras3DS&, const TMeshExtras3DS&) = default;
};

// One triangle mesh. Counts are the sizes of the arrays. Indices are as stored in the file:
// face corners are not checked against the vertex count, nor the smoothing and texture-vertex
// counts against the face and vertex counts; a consumer checks what it relies on.
//
// The arrays are those the chunks were parsed into, moved here rather than copied; a consumer
// views them in place, or moves them out of a record it took over with ReleaseMesh. The small
// fields come first, so that a record of no arrays stays small: a file can hold a mesh in 13
// bytes.
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
    bool UseMapInfo = false;
    bool UseBoxMap = false;
    uint8_t MeshColor = 0;
    TMeshMatrix3DS LocMatrix{};
    std::vector<TPoint3DS> VertexArray;
    std::vector<TTexVert3DS> TextArray;
    std::vector<TFace3DS> FaceArray;
    std::vector<uint32_t> SmoothArray;
    std::vector<TObjMat3DS> MatArray;
    TLazy3DS<TMapInfo3DS> MapInfo;
    TLazy3DS<TBoxMap3DS> BoxMapStr;
    TLazy3DS<TMeshExtras3DS> Extras;
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
    friend bool operator==(const TBitmap3DS&, const TBitmap3DS&) = default;
};

struct TMapSet3DS {
    TBitmap3DS Map;
    TBitmap3DS Mask;
    friend bool operator==(const TMapSet3DS&, const TMapSet3DS&) = default;
};

struct TAutoMap3DS {
    bool Use = false;
    bool FirstFrame = false;
    bool Flat = false;
    int32_t Size = 100;
    int32_t NthFrame = 1;
    friend bool operator==(const TAutoMap3DS&, const TAutoMap3DS&) = default;
};

struct TRMapSet3DS {
    TBitmap3DS Map;
    TBitmap3DS Mask;
    TAutoMap3DS AutoMap;
    friend bool operator==(const TRMapSet3DS&, const TRMapSet3DS&) = default;
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
    // Most materials have one map or none: the sets are held only when the file has them.
    TLazy3DS<TMapSet3DS> Texture, Texture2, Opacity, Bump, SpecMap, ShinMap, IllumMap;
    TLazy3DS<TRMapSet3DS> Reflect;
};
