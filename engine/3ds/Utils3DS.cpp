#include "engine/3ds/Utils3DS.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace {

[[noreturn]] void InvalidChunk() {
    throw E3DSError(S3DSInvalidChunk);
}

// Loads the chunk's data, takes it out of the chunk and releases the chunk's data.
template <typename T> T TakeValue(TFile3DS& source, TChunkNode& node) {
    source.LoadChunkData(node);
    T value = std::move(ChunkValue<T>(node));
    TFile3DS::ReleaseChunkData(node);
    return value;
}

// Raw-data chunks of length 6 hold no data at all.
TRawData3DS TakeRaw(TFile3DS& source, TChunkNode& node) {
    source.LoadChunkData(node);
    TRawData3DS raw = node.Data ? std::move(ChunkValue<TRawData3DS>(node)) : TRawData3DS();
    TFile3DS::ReleaseChunkData(node);
    return raw;
}

TChunkNode* Find(TChunkNode& node, uint16_t tag) {
    return TFile3DS::FindChunk(&node, tag);
}

TChunkNode* NextSibling(TChunkNode* node, uint16_t tag) {
    return node != nullptr ? TFile3DS::FindNextSibling(node->Next.get(), tag) : nullptr;
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

// The map, mask or procedural data that a direct child of a MAT_ENTRY fills, if any.
struct TMapTarget {
    TBitmap3DS* Bitmap;
    bool ProceduralData;
};

TMapTarget MapTargetOf(uint16_t tag, TMaterial3DS& m) {
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
void ReadMaterialChunk(TFile3DS& source, TChunkNode& chunk, TMaterial3DS& m) {
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
    if (const TMapTarget target = MapTargetOf(tag, m); target.Bitmap != nullptr) {
        if (target.ProceduralData)
            target.Bitmap->Data = TakeRaw(source, chunk);
        else
            ReadBitmap(source, chunk, *target.Bitmap);
        if (tag == MAT_BUMPMAP)
            if (TChunkNode* percent = Find(chunk, MAT_BUMP_PERCENT))
                m.Bump.Map.Percent = TakeValue<int16_t>(source, *percent) / 100.0f;
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
        ReadAutoMap(source, chunk, m.Reflect.AutoMap);
        break;
    default:
        InvalidChunk();
    }
}

// FACE_ARRAY and what lies below it; a second FACE_ARRAY replaces all of it.
void ReadFaceArray(TFile3DS& source, TChunkNode& faceArray, TMesh3DS& mesh) {
    mesh.FaceArray = TakeValue<std::vector<TFace3DS>>(source, faceArray);
    mesh.MatArray.clear();
    for (TChunkNode* group = Find(faceArray, MSH_MAT_GROUP); group != nullptr;
         group = NextSibling(group, MSH_MAT_GROUP))
        mesh.MatArray.push_back(TakeValue<TObjMat3DS>(source, *group));
    TChunkNode* smoothing = TFile3DS::FindNextSibling(faceArray.Children.get(), SMOOTH_GROUP);
    mesh.SmoothArray =
        smoothing ? TakeValue<std::vector<uint32_t>>(source, *smoothing) : std::vector<uint32_t>();
    TChunkNode* boxMap = TFile3DS::FindNextSibling(faceArray.Children.get(), MSH_BOXMAP);
    mesh.UseBoxMap = boxMap != nullptr;
    mesh.BoxMapStr = boxMap ? TakeValue<TBoxMap3DS>(source, *boxMap) : TBoxMap3DS();
}

void ReadTriObjectChunk(TFile3DS& source, TChunkNode& chunk, TMesh3DS& mesh) {
    switch (chunk.Tag) {
    case POINT_ARRAY:
        mesh.VertexArray = TakeValue<std::vector<TPoint3DS>>(source, chunk);
        break;
    case POINT_FLAG_ARRAY:
        mesh.VFlagArray = TakeValue<std::vector<uint16_t>>(source, chunk);
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
        mesh.ProcName = TakeValue<std::string>(source, chunk);
        break;
    case PROC_DATA:
        mesh.ProcData = TakeRaw(source, chunk);
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

// One entry of the key-frame node list, kept only while parent names are assigned.
struct TNodeList {
    int16_t ID;
    uint16_t Tag;
    std::string Name;
    std::string InstStr;
    int16_t ParentID;
};

constexpr std::array<uint16_t, 6> NodeTags = {TARGET_NODE_TAG,   OBJECT_NODE_TAG,
                                              CAMERA_NODE_TAG,   LIGHT_NODE_TAG,
                                              L_TARGET_NODE_TAG, SPOTLIGHT_NODE_TAG};

bool IsNodeTag(uint16_t tag) {
    return std::find(NodeTags.begin(), NodeTags.end(), tag) != NodeTags.end();
}

std::vector<TNodeList> ReadNodeList(TFile3DS& source, TChunkNode& kfdata) {
    std::vector<TNodeList> nodes;
    for (TChunkNode* node = kfdata.Children.get(); node != nullptr; node = node->Next.get()) {
        TChunkNode* header = IsNodeTag(node->Tag) ? Find(*node, NODE_HDR) : nullptr;
        if (header == nullptr)
            continue;
        TNodeHdr3DS hdr = TakeValue<TNodeHdr3DS>(source, *header);
        TNodeList entry{-1, node->Tag, std::move(hdr.ObjNameStr), {}, hdr.ParentIndex};
        if (TChunkNode* id = Find(*node, NODE_ID))
            entry.ID = TakeValue<int16_t>(source, *id);
        if (node->Tag == OBJECT_NODE_TAG)
            if (TChunkNode* instance = Find(*node, INSTANCE_NAME))
                entry.InstStr = TakeValue<std::string>(source, *instance);
        nodes.push_back(std::move(entry));
    }
    const bool unnumbered =
        std::any_of(nodes.begin(), nodes.end(), [](const TNodeList& n) { return n.ID == -1; });
    if (unnumbered)
        for (size_t i = 0; i < nodes.size(); ++i)
            nodes[i].ID = static_cast<int16_t>(i);
    return nodes;
}

// The chunk was not in the file: it only exists in memory, with the length it would have there.
void SetParentName(TChunkNode& header, std::string name) {
    TChunkNode* chunk = Find(header, PARENT_NAME);
    if (chunk == nullptr) {
        std::unique_ptr<TChunkNode>* link = &header.Children;
        while (*link)
            link = &(*link)->Next;
        *link = std::make_unique<TChunkNode>();
        chunk = link->get();
        chunk->Tag = PARENT_NAME;
        chunk->Length = static_cast<uint32_t>(6 + name.size() + 1);
    }
    chunk->Data = std::make_unique<TChunkData>(std::move(name));
}

} // namespace

void CheckMeshDatabase(const TDatabase3DS& db) {
    if (!db.TopChunk)
        throw E3DSError(S3DSInvalidDatabase);
    const uint16_t tag = db.TopChunk->Tag;
    if (tag != M3DMAGIC && tag != CMAGIC)
        throw E3DSError(S3DSWrongDatabase);
}

void CheckMaterialDatabase(const TDatabase3DS& db) {
    if (!db.TopChunk)
        throw E3DSError(S3DSInvalidDatabase);
    const uint16_t tag = db.TopChunk->Tag;
    if (tag != M3DMAGIC && tag != CMAGIC && tag != MLIBMAGIC)
        throw E3DSError(S3DSWrongDatabase);
}

void UpdateNamedObjectList(TFile3DS& source) {
    TDatabase3DS& db = source.Database();
    if (!db.TopChunk)
        throw E3DSError(S3DSInvalidDatabase);
    if (!db.ObjListDirty)
        return;
    db.ObjList.clear();
    TChunkNode* mdata = Find(*db.TopChunk, MDATA);
    for (TChunkNode* object = mdata ? Find(*mdata, NAMED_OBJECT) : nullptr; object != nullptr;
         object = NextSibling(object, NAMED_OBJECT))
        db.ObjList.push_back({TakeValue<std::string>(source, *object), object});
    db.ObjListDirty = false;
}

void UpdateMatEntryList(TFile3DS& source) {
    TDatabase3DS& db = source.Database();
    if (!db.TopChunk)
        throw E3DSError(S3DSInvalidDatabase);
    if (!db.MatListDirty)
        return;
    db.MatList.clear();
    TChunkNode* section = Find(*db.TopChunk, MDATA);
    if (section == nullptr)
        section = Find(*db.TopChunk, MLIBMAGIC);
    for (TChunkNode* entry = section ? Find(*section, MAT_ENTRY) : nullptr; entry != nullptr;
         entry = NextSibling(entry, MAT_ENTRY)) {
        // An entry without a name has no defined meaning: it is a corrupt entry.
        TChunkNode* name = Find(*entry, MAT_NAME);
        if (name == nullptr)
            InvalidChunk();
        db.MatList.push_back({TakeValue<std::string>(source, *name), entry});
    }
    db.MatListDirty = false;
}

std::vector<TChunkNode*> GetMeshObjects(TFile3DS& source) {
    UpdateNamedObjectList(source);
    std::vector<TChunkNode*> objects;
    for (const TChunkListEntry3DS& entry : source.Database().ObjList)
        if (Find(*entry.Chunk, N_TRI_OBJECT) != nullptr)
            objects.push_back(entry.Chunk);
    return objects;
}

std::unique_ptr<TMesh3DS> ReadMesh(TFile3DS& source, TChunkNode& namedObject) {
    TChunkNode* triObject = TFile3DS::FindNextSibling(namedObject.Children.get(), N_TRI_OBJECT);
    if (triObject == nullptr)
        throw E3DSError(S3DSWrongObject);
    auto mesh = std::make_unique<TMesh3DS>();
    mesh->NameStr = TakeValue<std::string>(source, namedObject);
    for (TChunkNode* chunk = triObject->Children.get(); chunk != nullptr; chunk = chunk->Next.get())
        ReadTriObjectChunk(source, *chunk, *mesh);
    for (TChunkNode* chunk = namedObject.Children.get(); chunk != nullptr;
         chunk = chunk->Next.get())
        ReadObjectFlag(chunk->Tag, *mesh);
    return mesh;
}

std::unique_ptr<TMaterial3DS> ReadMaterial(TFile3DS& source, TChunkNode& matEntry) {
    auto material = std::make_unique<TMaterial3DS>();
    for (TChunkNode* chunk = matEntry.Children.get(); chunk != nullptr; chunk = chunk->Next.get())
        ReadMaterialChunk(source, *chunk, *material);
    return material;
}

void AssignParentNames(TFile3DS& source) {
    TChunkNode* kfdata = Find(*source.Database().TopChunk, KFDATA);
    if (kfdata == nullptr)
        return;
    const std::vector<TNodeList> nodes = ReadNodeList(source, *kfdata);
    // Entries by id, the first of equal ids winning as in a search of the list; a hash keeps
    // files with many nodes linear.
    std::unordered_map<int16_t, const TNodeList*> byId;
    for (const TNodeList& node : nodes)
        byId.emplace(node.ID, &node);
    for (const uint16_t tag : NodeTags) {
        for (TChunkNode* node = TFile3DS::FindNextSibling(kfdata->Children.get(), tag);
             node != nullptr; node = NextSibling(node, tag)) {
            TChunkNode* header = Find(*node, NODE_HDR);
            TChunkNode* id = Find(*node, NODE_ID);
            if (header == nullptr || id == nullptr)
                continue;
            const auto entry = byId.find(TakeValue<int16_t>(source, *id));
            if (entry == byId.end() || entry->second->ParentID == -1)
                continue;
            const auto parent = byId.find(entry->second->ParentID);
            if (parent == byId.end() || parent->second->Name.empty())
                continue;
            std::string name = parent->second->Name;
            if (!parent->second->InstStr.empty())
                name += "." + parent->second->InstStr;
            SetParentName(*header, std::move(name));
        }
    }
}
