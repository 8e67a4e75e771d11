#include "engine/3ds/Utils3DS.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void InvalidChunk() {
    throw E3DSError(S3DSInvalidChunk);
}

// Loads the chunk's data, takes it out of the chunk and releases the chunk's data.
template <typename T> T TakeValue(TFile3DS& source, TChunkNode& node) {
    source.LoadChunkData(node);
    T value = std::move(source.ChunkValue<T>(node));
    source.ReleaseChunkData(node);
    return value;
}

// Raw-data chunks of length 6 hold no data at all.
TRawData3DS TakeRaw(TFile3DS& source, TChunkNode& node) {
    source.LoadChunkData(node);
    TRawData3DS raw = source.ChunkData(node) != nullptr
                          ? std::move(source.ChunkValue<TRawData3DS>(node))
                          : TRawData3DS();
    source.ReleaseChunkData(node);
    return raw;
}

TChunkNode* Find(TChunkNode& node, uint16_t tag) {
    return TFile3DS::FindChunk(&node, tag);
}

TChunkNode* NextSibling(TChunkNode* node, uint16_t tag) {
    return node != nullptr ? TFile3DS::FindNextSibling(node->Next(), tag) : nullptr;
}

TFColor3DS FromBytes(const TC24Color3DS& color) {
    return {color.R / 255.0f, color.G / 255.0f, color.B / 255.0f};
}

// LIN_COLOR_24 wins over COLOR_F, which wins over COLOR_24; LIN_COLOR_F is not consulted.
TFColor3DS ReadColor(TFile3DS& source, TChunkNode& container) {
    TFColor3DS color{0, 0, 0};
    if (TChunkNode* chunk = Find(container, COLOR_24))
        color = FromBytes(TakeValue<TC24Color3DS>(source, *chunk));
    if (TChunkNode* chunk = Find(container, COLOR_F))
        color = TakeValue<TFColor3DS>(source, *chunk);
    if (TChunkNode* chunk = Find(container, LIN_COLOR_24))
        color = FromBytes(TakeValue<TC24Color3DS>(source, *chunk));
    return color;
}

void ReadFloatField(TFile3DS& source, TChunkNode& map, uint16_t tag, float& field) {
    if (TChunkNode* chunk = Find(map, tag))
        field = TakeValue<float>(source, *chunk);
}

void ReadTintField(TFile3DS& source, TChunkNode& map, uint16_t tag, TFColor3DS& field) {
    if (TChunkNode* chunk = Find(map, tag))
        field = FromBytes(TakeValue<TC24Color3DS>(source, *chunk));
}

void ReadTiling(uint16_t flags, TBitmap3DS& bitmap) {
    const auto bit = [flags](int n) { return (flags & (1u << n)) != 0; };
    bitmap.Tiling = !bit(0) ? ttTile : bit(4) ? ttDecal : ttBoth;
    bitmap.IgnoreAlpha = bit(8);
    bitmap.Filter = bit(5);
    bitmap.Mirror = bit(1);
    bitmap.Negative = bit(3);
    if (bit(7))
        bitmap.Source = bit(6) ? ttAlphaTint : ttRGBLumaTint;
    else
        bitmap.Source = bit(9) ? ttRGBTint : bit(6) ? ttAlpha : ttNone;
}

// A map or mask container: its fields come from chunks anywhere in its subtree.
void ReadBitmap(TFile3DS& source, TChunkNode& map, TBitmap3DS& bitmap) {
    if (TChunkNode* chunk = Find(map, MAT_MAPNAME))
        bitmap.NameStr = TakeValue<std::string>(source, *chunk);
    bitmap.Percent = source.ReadPercentage(map);
    if (TChunkNode* chunk = Find(map, MAT_MAP_TILING))
        ReadTiling(TakeValue<uint16_t>(source, *chunk), bitmap);
    ReadFloatField(source, map, MAT_MAP_TEXBLUR, bitmap.Blur);
    ReadFloatField(source, map, MAT_MAP_USCALE, bitmap.UScale);
    ReadFloatField(source, map, MAT_MAP_VSCALE, bitmap.VScale);
    ReadFloatField(source, map, MAT_MAP_UOFFSET, bitmap.UOffset);
    ReadFloatField(source, map, MAT_MAP_VOFFSET, bitmap.VOffset);
    ReadFloatField(source, map, MAT_MAP_ANG, bitmap.Rotation);
    ReadTintField(source, map, MAT_MAP_COL1, bitmap.Tint1);
    ReadTintField(source, map, MAT_MAP_COL2, bitmap.Tint2);
    ReadTintField(source, map, MAT_MAP_RCOL, bitmap.RedTint);
    ReadTintField(source, map, MAT_MAP_GCOL, bitmap.GreenTint);
    ReadTintField(source, map, MAT_MAP_BCOL, bitmap.BlueTint);
}

// The maps of a material while it is read. Only those the file gives a value other than the
// defaults are kept in the record: a map container without content costs nothing there.
struct TMaterialMaps {
    TMapSet3DS Texture, Texture2, Opacity, Bump, SpecMap, ShinMap, IllumMap;
    TRMapSet3DS Reflect;
};

template <typename T> void KeepIfSet(T& value, TLazy3DS<T>& part) {
    if (!(value == T{}))
        part = std::move(value);
}

void KeepMaps(TMaterialMaps& maps, TMaterial3DS& m) {
    KeepIfSet(maps.Texture, m.Texture);
    KeepIfSet(maps.Texture2, m.Texture2);
    KeepIfSet(maps.Opacity, m.Opacity);
    KeepIfSet(maps.Bump, m.Bump);
    KeepIfSet(maps.SpecMap, m.SpecMap);
    KeepIfSet(maps.ShinMap, m.ShinMap);
    KeepIfSet(maps.IllumMap, m.IllumMap);
    KeepIfSet(maps.Reflect, m.Reflect);
}

// The map, mask or procedural data that a direct child of a MAT_ENTRY fills, if any.
struct TMapTarget {
    TBitmap3DS* Bitmap;
    bool ProceduralData;
};

TMapTarget MapTargetOf(uint16_t tag, TMaterialMaps& m) {
    switch (tag) {
    case MAT_TEXMAP:
        return {&m.Texture.Map, false};
    case MAT_TEXMASK:
        return {&m.Texture.Mask, false};
    case MAT_TEX2MAP:
        return {&m.Texture2.Map, false};
    case MAT_TEX2MASK:
        return {&m.Texture2.Mask, false};
    case MAT_OPACMAP:
        return {&m.Opacity.Map, false};
    case MAT_OPACMASK:
        return {&m.Opacity.Mask, false};
    case MAT_BUMPMAP:
        return {&m.Bump.Map, false};
    case MAT_BUMPMASK:
        return {&m.Bump.Mask, false};
    case MAT_SPECMAP:
        return {&m.SpecMap.Map, false};
    case MAT_SPECMASK:
        return {&m.SpecMap.Mask, false};
    case MAT_SHINMAP:
        return {&m.ShinMap.Map, false};
    case MAT_SHINMASK:
        return {&m.ShinMap.Mask, false};
    case MAT_SELFIMAP:
        return {&m.IllumMap.Map, false};
    case MAT_SELFIMASK:
        return {&m.IllumMap.Mask, false};
    case MAT_REFLMAP:
        return {&m.Reflect.Map, false};
    case MAT_REFLMASK:
        return {&m.Reflect.Mask, false};
    case MAT_SXP_TEXT_DATA:
        return {&m.Texture.Map, true};
    case MAT_SXP_TEXT_MASKDATA:
        return {&m.Texture.Mask, true};
    case MAT_SXP_TEXT2_DATA:
        return {&m.Texture2.Map, true};
    case MAT_SXP_TEXT2_MASKDATA:
        return {&m.Texture2.Mask, true};
    case MAT_SXP_OPAC_DATA:
        return {&m.Opacity.Map, true};
    case MAT_SXP_OPAC_MASKDATA:
        return {&m.Opacity.Mask, true};
    case MAT_SXP_BUMP_DATA:
        return {&m.Bump.Map, true};
    case MAT_SXP_BUMP_MASKDATA:
        return {&m.Bump.Mask, true};
    case MAT_SXP_SPEC_DATA:
        return {&m.SpecMap.Map, true};
    case MAT_SXP_SPEC_MASKDATA:
        return {&m.SpecMap.Mask, true};
    case MAT_SXP_SHIN_DATA:
        return {&m.ShinMap.Map, true};
    case MAT_SXP_SHIN_MASKDATA:
        return {&m.ShinMap.Mask, true};
    case MAT_SXP_SELFI_DATA:
        return {&m.IllumMap.Map, true};
    case MAT_SXP_SELFI_MASKDATA:
        return {&m.IllumMap.Mask, true};
    case MAT_SXP_REFL_MASKDATA:
        return {&m.Reflect.Mask, true};
    default:
        return {nullptr, false};
    }
}

float* PercentageFieldOf(uint16_t tag, TMaterial3DS& m) {
    switch (tag) {
    case MAT_SHININESS:
        return &m.Shininess;
    case MAT_SHIN2PCT:
        return &m.ShinStrength;
    case MAT_REFBLUR:
        return &m.Blur;
    case MAT_TRANSPARENCY:
        return &m.Transparency;
    case MAT_XPFALL:
        return &m.TransFalloff;
    case MAT_SELF_ILPCT:
        return &m.SelfIllumPct;
    default:
        return nullptr;
    }
}

bool* FlagFieldOf(uint16_t tag, TMaterial3DS& m) {
    switch (tag) {
    case MAT_USE_REFBLUR:
        return &m.UseBlur;
    case MAT_USE_XPFALL:
        return &m.UseFall;
    case MAT_TWO_SIDE:
        return &m.TwoSided;
    case MAT_SELF_ILLUM:
        return &m.SelfIllum;
    case MAT_ADDITIVE:
        return &m.Additive;
    case MAT_WIREABS:
        return &m.UseWireAbs;
    case MAT_FACEMAP:
        return &m.FaceMap;
    case MAT_PHONGSOFT:
        return &m.Soften;
    default:
        return nullptr;
    }
}

void ReadAutoMap(TFile3DS& source, TChunkNode& chunk, TAutoMap3DS& autoMap) {
    const TMatAcubic3DS acubic = TakeValue<TMatAcubic3DS>(source, chunk);
    autoMap.Use = true;
    autoMap.FirstFrame = (acubic.Flags & ACubicFirst3DS) == ACubicFirst3DS;
    autoMap.Flat = (acubic.Flags & ACubicFlat3DS) == ACubicFlat3DS;
    autoMap.Size = acubic.MapSize;
    autoMap.NthFrame = acubic.FrameInterval;
}

// One direct child of a MAT_ENTRY; a tag this does not know makes the material invalid.
void ReadMaterialChunk(TFile3DS& source, TChunkNode& chunk, TMaterial3DS& m, TMaterialMaps& maps) {
    const uint16_t tag = chunk.Tag;
    if ((tag >= XDATA_SECTION && tag <= 0x80FF) || tag == MAT_SHIN3PCT || tag == MAT_DECAL)
        return;
    if (float* percentage = PercentageFieldOf(tag, m)) {
        *percentage = source.ReadPercentage(chunk);
        return;
    }
    if (bool* flag = FlagFieldOf(tag, m)) {
        *flag = true;
        return;
    }
    if (const TMapTarget target = MapTargetOf(tag, maps); target.Bitmap != nullptr) {
        if (target.ProceduralData)
            target.Bitmap->Data = TakeRaw(source, chunk);
        else
            ReadBitmap(source, chunk, *target.Bitmap);
        if (tag == MAT_BUMPMAP)
            if (TChunkNode* percent = Find(chunk, MAT_BUMP_PERCENT))
                maps.Bump.Map.Percent = TakeValue<int16_t>(source, *percent) / 100.0f;
        return;
    }
    switch (tag) {
    case MAT_NAME:
        m.NameStr = TakeValue<std::string>(source, chunk);
        break;
    case MAT_AMBIENT:
        m.Ambient = ReadColor(source, chunk);
        break;
    case MAT_DIFFUSE:
        m.Diffuse = ReadColor(source, chunk);
        break;
    case MAT_SPECULAR:
        m.Specular = ReadColor(source, chunk);
        break;
    case MAT_XPFALLIN:
        m.Transparency = -m.Transparency;
        break;
    case MAT_WIRE:
        m.Shading = 0;
        break;
    case MAT_SHADING:
        m.Shading = TakeValue<int16_t>(source, chunk);
        break;
    case MAT_WIRESIZE:
        m.WireSize = TakeValue<float>(source, chunk);
        break;
    case MAT_ACUBIC:
        ReadAutoMap(source, chunk, maps.Reflect.AutoMap);
        break;
    default:
        InvalidChunk();
    }
}

// FACE_ARRAY and what lies below it; a second FACE_ARRAY replaces all of it. The groups are
// counted first, so that the array holds no slack.
void ReadFaceArray(TFile3DS& source, TChunkNode& faceArray, TMesh3DS& mesh) {
    mesh.FaceArray = TakeValue<std::vector<TFace3DS>>(source, faceArray);
    TChunkNode* first = Find(faceArray, MSH_MAT_GROUP);
    size_t groups = 0;
    for (TChunkNode* group = first; group != nullptr; group = NextSibling(group, MSH_MAT_GROUP))
        ++groups;
    mesh.MatArray.clear();
    mesh.MatArray.reserve(groups);
    for (TChunkNode* group = first; group != nullptr; group = NextSibling(group, MSH_MAT_GROUP))
        mesh.MatArray.push_back(TakeValue<TObjMat3DS>(source, *group));
    TChunkNode* smoothing = TFile3DS::FindNextSibling(faceArray.Children(), SMOOTH_GROUP);
    mesh.SmoothArray =
        smoothing ? TakeValue<std::vector<uint32_t>>(source, *smoothing) : std::vector<uint32_t>();
    TChunkNode* boxMap = TFile3DS::FindNextSibling(faceArray.Children(), MSH_BOXMAP);
    mesh.UseBoxMap = boxMap != nullptr;
    mesh.BoxMapStr = TLazy3DS<TBoxMap3DS>();
    if (boxMap != nullptr)
        mesh.BoxMapStr = TakeValue<TBoxMap3DS>(source, *boxMap);
}

// Extras are held only for content: an empty part reads as the defaults anyway. A later chunk
// replaces what an earlier one gave, empty or not.
template <typename T>
void SetExtra(TLazy3DS<TMeshExtras3DS>& extras, T TMeshExtras3DS::*part, T value) {
    if (!value.empty() || !((*extras).*part).empty())
        extras.Edit().*part = std::move(value);
}

void ReadTriObjectChunk(TFile3DS& source, TChunkNode& chunk, TMesh3DS& mesh) {
    switch (chunk.Tag) {
    case POINT_ARRAY:
        mesh.VertexArray = TakeValue<std::vector<TPoint3DS>>(source, chunk);
        break;
    case POINT_FLAG_ARRAY:
        SetExtra(mesh.Extras, &TMeshExtras3DS::VFlagArray,
                 TakeValue<std::vector<uint16_t>>(source, chunk));
        break;
    case TEX_VERTS:
        mesh.TextArray = TakeValue<std::vector<TTexVert3DS>>(source, chunk);
        break;
    case MESH_MATRIX:
        mesh.LocMatrix = TakeValue<TMeshMatrix3DS>(source, chunk);
        break;
    case MESH_COLOR:
        mesh.MeshColor = TakeValue<uint8_t>(source, chunk);
        break;
    case MESH_TEXTURE_INFO:
        mesh.UseMapInfo = true;
        mesh.MapInfo = TakeValue<TMapInfo3DS>(source, chunk);
        break;
    case PROC_NAME:
        SetExtra(mesh.Extras, &TMeshExtras3DS::ProcName, TakeValue<std::string>(source, chunk));
        break;
    case PROC_DATA:
        SetExtra(mesh.Extras, &TMeshExtras3DS::ProcData, TakeRaw(source, chunk));
        break;
    case FACE_ARRAY:
        ReadFaceArray(source, chunk, mesh);
        break;
    default:
        break;
    }
}

void ReadObjectFlag(uint16_t tag, TMesh3DS& mesh) {
    switch (tag) {
    case OBJ_HIDDEN:
        mesh.IsHidden = true;
        break;
    case OBJ_VIS_LOFTER:
        mesh.IsVisLofter = true;
        break;
    case OBJ_DOESNT_CAST:
        mesh.IsNoCast = true;
        break;
    case OBJ_MATTE:
        mesh.IsMatte = true;
        break;
    case OBJ_FAST:
        mesh.IsFast = true;
        break;
    case OBJ_DONT_RCVSHADOW:
        mesh.IsNoRcvShad = true;
        break;
    case OBJ_FROZEN:
        mesh.IsFrozen = true;
        break;
    case OBJ_PROCEDURAL:
        mesh.IsProcedural = true;
        break;
    default:
        break;
    }
}

// One entry of the key-frame node list, kept only while parent names are assigned. Its name and
// instance name lie one after the other in the list's pool.
struct TNodeList {
    int16_t ID;
    uint16_t Tag;
    int16_t ParentID;
    uint32_t NameStart, NameEnd, InstanceEnd;
};

struct TKeyFrameNodes {
    std::string_view Name(const TNodeList& entry) const {
        return std::string_view(Names).substr(entry.NameStart, entry.NameEnd - entry.NameStart);
    }
    std::string_view Instance(const TNodeList& entry) const {
        return std::string_view(Names).substr(entry.NameEnd, entry.InstanceEnd - entry.NameEnd);
    }

    std::vector<TNodeList> Entries;
    std::string Names;
};

constexpr std::array<uint16_t, 6> NodeTags = {TARGET_NODE_TAG,   OBJECT_NODE_TAG,
                                              CAMERA_NODE_TAG,   LIGHT_NODE_TAG,
                                              L_TARGET_NODE_TAG, SPOTLIGHT_NODE_TAG};

bool IsNodeTag(uint16_t tag) {
    return std::find(NodeTags.begin(), NodeTags.end(), tag) != NodeTags.end();
}

TChunkNode* NodeHeader(TChunkNode& node) {
    return IsNodeTag(node.Tag) ? Find(node, NODE_HDR) : nullptr;
}

uint32_t PoolEnd(const std::string& pool) {
    return static_cast<uint32_t>(pool.size());
}

TKeyFrameNodes ReadNodeList(TFile3DS& source, TChunkNode& kfdata) {
    TKeyFrameNodes nodes;
    size_t count = 0;
    for (TChunkNode* node = kfdata.Children(); node != nullptr; node = node->Next())
        count += NodeHeader(*node) != nullptr ? 1 : 0;
    nodes.Entries.reserve(count);
    for (TChunkNode* node = kfdata.Children(); node != nullptr; node = node->Next()) {
        TChunkNode* header = NodeHeader(*node);
        if (header == nullptr)
            continue;
        const TNodeHdr3DS hdr = TakeValue<TNodeHdr3DS>(source, *header);
        TNodeList entry{-1, node->Tag, hdr.ParentIndex, PoolEnd(nodes.Names), 0, 0};
        nodes.Names += hdr.ObjNameStr;
        entry.NameEnd = PoolEnd(nodes.Names);
        if (TChunkNode* id = Find(*node, NODE_ID))
            entry.ID = TakeValue<int16_t>(source, *id);
        if (node->Tag == OBJECT_NODE_TAG)
            if (TChunkNode* instance = Find(*node, INSTANCE_NAME))
                nodes.Names += TakeValue<std::string>(source, *instance);
        entry.InstanceEnd = PoolEnd(nodes.Names);
        nodes.Entries.push_back(entry);
    }
    const bool unnumbered = std::any_of(nodes.Entries.begin(), nodes.Entries.end(),
                                        [](const TNodeList& n) { return n.ID == -1; });
    if (unnumbered)
        for (size_t i = 0; i < nodes.Entries.size(); ++i)
            nodes.Entries[i].ID = static_cast<int16_t>(i);
    return nodes;
}

// The entries by id, the first of equal ids winning as in a search of the list; -1 for none.
class TNodesById {
public:
    explicit TNodesById(const TKeyFrameNodes& nodes) : FEntries(1 << 16, -1) {
        for (size_t i = 0; i < nodes.Entries.size(); ++i) {
            int32_t& entry = FEntries[Slot(nodes.Entries[i].ID)];
            if (entry < 0)
                entry = static_cast<int32_t>(i);
        }
    }
    int32_t operator[](int16_t id) const { return FEntries[Slot(id)]; }

private:
    static size_t Slot(int16_t id) { return static_cast<uint16_t>(id); }
    std::vector<int32_t> FEntries;
};

// A header and the index of the name its node's parent gives it.
using TParentNaming = std::pair<uint32_t, uint32_t>;

// Headers without a PARENT_NAME get one as their last child; then every header's PARENT_NAME,
// found as a search finds it, is given its name. namings is in ascending header order; a header
// moves by the chunks added before it.
void GiveParentNames(TDatabase3DS& db, const std::vector<TParentNaming>& namings) {
    std::vector<uint32_t> parents;
    std::vector<uint32_t> lengths;
    std::vector<bool> added;
    added.reserve(namings.size());
    for (const auto& [header, name] : namings) {
        added.push_back(Find(db.Chunks[header], PARENT_NAME) == nullptr);
        if (added.back()) {
            parents.push_back(header);
            // The chunk only exists in memory, with the length it would have in a file.
            lengths.push_back(static_cast<uint32_t>(6 + db.ParentNames.Names[name].size() + 1));
        }
    }
    db.Chunks.AppendLastChildren(parents, PARENT_NAME, lengths);
    db.ParentNames.Chunks.reserve(namings.size());
    uint32_t shift = 0;
    for (size_t i = 0; i < namings.size(); ++i) {
        TChunkNode& header = db.Chunks[namings[i].first + shift];
        db.ParentNames.Chunks.emplace_back(db.Chunks.IndexOf(*Find(header, PARENT_NAME)),
                                           namings[i].second);
        shift += added[i] ? 1 : 0;
    }
}

} // namespace

void CheckMeshDatabase(const TDatabase3DS& db) {
    if (db.TopChunk() == nullptr)
        throw E3DSError(S3DSInvalidDatabase);
    const uint16_t tag = db.TopChunk()->Tag;
    if (tag != M3DMAGIC && tag != CMAGIC)
        throw E3DSError(S3DSWrongDatabase);
}

void CheckMaterialDatabase(const TDatabase3DS& db) {
    if (db.TopChunk() == nullptr)
        throw E3DSError(S3DSInvalidDatabase);
    const uint16_t tag = db.TopChunk()->Tag;
    if (tag != M3DMAGIC && tag != CMAGIC && tag != MLIBMAGIC)
        throw E3DSError(S3DSWrongDatabase);
}

namespace {

// A table of the chunk first and its following siblings with the tag, counted first so that the
// table holds no slack. The names go into the pool, each followed by a zero byte (names hold
// none), and the entries' views are made once the pool is complete.
template <typename F>
void FillTable(TChunkNode* first, uint16_t tag, F nameOf, TChunkTable& table, std::string& pool) {
    size_t count = 0;
    for (TChunkNode* node = first; node != nullptr; node = NextSibling(node, tag))
        ++count;
    table.clear();
    pool.clear();
    table.reserve(count);
    for (TChunkNode* node = first; node != nullptr; node = NextSibling(node, tag)) {
        pool += nameOf(*node);
        pool += '\0';
        table.push_back({{}, node});
    }
    const char* name = pool.data();
    for (TChunkListEntry3DS& entry : table) {
        entry.NameStr = name;
        name += entry.NameStr.size() + 1;
    }
}

} // namespace

void UpdateNamedObjectList(TFile3DS& source) {
    TDatabase3DS& db = source.Database();
    if (db.TopChunk() == nullptr)
        throw E3DSError(S3DSInvalidDatabase);
    if (!db.ObjListDirty)
        return;
    TChunkNode* mdata = Find(*db.TopChunk(), MDATA);
    FillTable(
        mdata ? Find(*mdata, NAMED_OBJECT) : nullptr, NAMED_OBJECT,
        [&](TChunkNode& object) { return TakeValue<std::string>(source, object); }, db.ObjList,
        db.ObjListNames);
    db.ObjListDirty = false;
}

void UpdateMatEntryList(TFile3DS& source) {
    TDatabase3DS& db = source.Database();
    if (db.TopChunk() == nullptr)
        throw E3DSError(S3DSInvalidDatabase);
    if (!db.MatListDirty)
        return;
    TChunkNode* section = Find(*db.TopChunk(), MDATA);
    if (section == nullptr)
        section = Find(*db.TopChunk(), MLIBMAGIC);
    // An entry without a name has no defined meaning: it is a corrupt entry.
    const auto nameOf = [&](TChunkNode& entry) {
        TChunkNode* name = Find(entry, MAT_NAME);
        if (name == nullptr)
            InvalidChunk();
        return TakeValue<std::string>(source, *name);
    };
    FillTable(section ? Find(*section, MAT_ENTRY) : nullptr, MAT_ENTRY, nameOf, db.MatList,
              db.MatListNames);
    db.MatListDirty = false;
}

std::vector<TChunkNode*> GetMeshObjects(TFile3DS& source) {
    UpdateNamedObjectList(source);
    const TChunkTable& table = source.Database().ObjList;
    const auto isMesh = [](const TChunkListEntry3DS& entry) {
        return Find(*entry.Chunk, N_TRI_OBJECT) != nullptr;
    };
    std::vector<TChunkNode*> objects;
    objects.reserve(static_cast<size_t>(std::count_if(table.begin(), table.end(), isMesh)));
    for (const TChunkListEntry3DS& entry : table)
        if (isMesh(entry))
            objects.push_back(entry.Chunk);
    return objects;
}

std::unique_ptr<TMesh3DS> ReadMesh(TFile3DS& source, TChunkNode& namedObject) {
    TChunkNode* triObject = TFile3DS::FindNextSibling(namedObject.Children(), N_TRI_OBJECT);
    if (triObject == nullptr)
        throw E3DSError(S3DSWrongObject);
    auto mesh = std::make_unique<TMesh3DS>();
    mesh->NameStr = TakeValue<std::string>(source, namedObject);
    for (TChunkNode* chunk = triObject->Children(); chunk != nullptr; chunk = chunk->Next())
        ReadTriObjectChunk(source, *chunk, *mesh);
    for (TChunkNode* chunk = namedObject.Children(); chunk != nullptr; chunk = chunk->Next())
        ReadObjectFlag(chunk->Tag, *mesh);
    return mesh;
}

std::unique_ptr<TMaterial3DS> ReadMaterial(TFile3DS& source, TChunkNode& matEntry) {
    auto material = std::make_unique<TMaterial3DS>();
    TMaterialMaps maps;
    for (TChunkNode* chunk = matEntry.Children(); chunk != nullptr; chunk = chunk->Next())
        ReadMaterialChunk(source, *chunk, *material, maps);
    KeepMaps(maps, *material);
    return material;
}

void AssignParentNames(TFile3DS& source) {
    TDatabase3DS& db = source.Database();
    TChunkNode* kfdata = Find(*db.TopChunk(), KFDATA);
    if (kfdata == nullptr)
        return;
    const TKeyFrameNodes nodes = ReadNodeList(source, *kfdata);
    const TNodesById byId(nodes);
    // Each parent's name is made once, however many nodes it names.
    constexpr uint32_t Unnamed = UINT32_MAX;
    std::vector<uint32_t> nameOfEntry(nodes.Entries.size(), Unnamed);
    std::vector<TParentNaming> namings;
    for (const uint16_t tag : NodeTags) {
        for (TChunkNode* node = TFile3DS::FindNextSibling(kfdata->Children(), tag); node != nullptr;
             node = NextSibling(node, tag)) {
            TChunkNode* header = Find(*node, NODE_HDR);
            TChunkNode* id = Find(*node, NODE_ID);
            if (header == nullptr || id == nullptr)
                continue;
            const int32_t entry = byId[TakeValue<int16_t>(source, *id)];
            if (entry < 0 || nodes.Entries[entry].ParentID == -1)
                continue;
            const int32_t parent = byId[nodes.Entries[entry].ParentID];
            if (parent < 0 || nodes.Name(nodes.Entries[parent]).empty())
                continue;
            uint32_t& name = nameOfEntry[parent];
            if (name == Unnamed) {
                std::string text(nodes.Name(nodes.Entries[parent]));
                if (const std::string_view instance = nodes.Instance(nodes.Entries[parent]);
                    !instance.empty())
                    text.append(".").append(instance);
                name = static_cast<uint32_t>(db.ParentNames.Names.size());
                db.ParentNames.Names.push_back(std::move(text));
            }
            namings.emplace_back(db.Chunks.IndexOf(*header), name);
        }
    }
    std::sort(namings.begin(), namings.end());
    GiveParentNames(db, namings);
}
