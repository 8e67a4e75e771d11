#include "tests/support/Writer3DS.h"

#include <cmath>
#include <cstring>

#include "platform/framework/SysUtils.h"

namespace {

uint16_t Count(size_t size) {
    Assert(size <= 0xFFFF, "TWriter3DS: a 3DS array holds at most 65535 entries");
    return static_cast<uint16_t>(size);
}

uint8_t ColourByte(float value) {
    return static_cast<uint8_t>(std::lround(std::fmin(std::fmax(value, 0.0f), 1.0f) * 255.0f));
}

// The MAT_MAP_TILING bits that the reader turns back into these fields.
uint16_t TilingFlags(const TBitmap3DS& bitmap) {
    uint16_t flags = 0;
    if (bitmap.Tiling == ttDecal)
        flags |= 0x0001 | 0x0010;
    else if (bitmap.Tiling == ttBoth)
        flags |= 0x0001;
    if (bitmap.Mirror)
        flags |= 0x0002;
    if (bitmap.Negative)
        flags |= 0x0008;
    if (bitmap.Filter)
        flags |= 0x0020;
    if (bitmap.IgnoreAlpha)
        flags |= 0x0100;
    switch (bitmap.Source) {
    case ttNone:
        break;
    case ttAlpha:
        flags |= 0x0040;
        break;
    case ttRGBLumaTint:
        flags |= 0x0080;
        break;
    case ttAlphaTint:
        flags |= 0x0080 | 0x0040;
        break;
    case ttRGBTint:
        flags |= 0x0200;
        break;
    }
    return flags;
}

} // namespace

TWriter3DS& TWriter3DS::Begin(uint16_t tag) {
    FOpen.push_back(FData.size());
    Word(tag);
    return Dword(0);
}

TWriter3DS& TWriter3DS::End() {
    Assert(!FOpen.empty(), "TWriter3DS: End without Begin");
    return EndWithLength(static_cast<uint32_t>(FData.size() - FOpen.back()));
}

TWriter3DS& TWriter3DS::EndWithLength(uint32_t length) {
    Assert(!FOpen.empty(), "TWriter3DS: End without Begin");
    std::memcpy(FData.data() + FOpen.back() + 2, &length, sizeof length);
    FOpen.pop_back();
    return *this;
}

TWriter3DS& TWriter3DS::Chunk(uint16_t tag) {
    return Begin(tag).End();
}

TWriter3DS& TWriter3DS::Header(uint16_t tag, uint32_t length) {
    return Word(tag).Dword(length);
}

TWriter3DS& TWriter3DS::Byte(uint8_t value) {
    return Bytes(&value, sizeof value);
}
TWriter3DS& TWriter3DS::Word(uint16_t value) {
    return Bytes(&value, sizeof value);
}
TWriter3DS& TWriter3DS::Short(int16_t value) {
    return Bytes(&value, sizeof value);
}
TWriter3DS& TWriter3DS::Dword(uint32_t value) {
    return Bytes(&value, sizeof value);
}
TWriter3DS& TWriter3DS::Int(int32_t value) {
    return Bytes(&value, sizeof value);
}
TWriter3DS& TWriter3DS::Float(float value) {
    return Bytes(&value, sizeof value);
}
TWriter3DS& TWriter3DS::Point(const TPoint3DS& point) {
    return Float(point.X).Float(point.Y).Float(point.Z);
}

TWriter3DS& TWriter3DS::String(std::string_view text) {
    return Chars(text).Byte(0);
}

TWriter3DS& TWriter3DS::Chars(std::string_view text) {
    return Bytes(text.data(), text.size());
}

TWriter3DS& TWriter3DS::Bytes(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    FData.insert(FData.end(), bytes, bytes + size);
    return *this;
}

TWriter3DS& TWriter3DS::IntChunk(uint16_t tag, int32_t value) {
    return Begin(tag).Int(value).End();
}

TWriter3DS& TWriter3DS::ShortChunk(uint16_t tag, int16_t value) {
    return Begin(tag).Short(value).End();
}

TWriter3DS& TWriter3DS::WordChunk(uint16_t tag, uint16_t value) {
    return Begin(tag).Word(value).End();
}

TWriter3DS& TWriter3DS::FloatChunk(uint16_t tag, float value) {
    return Begin(tag).Float(value).End();
}

TWriter3DS& TWriter3DS::StringChunk(uint16_t tag, std::string_view text) {
    return Begin(tag).String(text).End();
}

TWriter3DS& TWriter3DS::Color24Chunk(uint16_t tag, uint8_t r, uint8_t g, uint8_t b) {
    return Begin(tag).Byte(r).Byte(g).Byte(b).End();
}

TWriter3DS& TWriter3DS::ColorFChunk(uint16_t tag, float r, float g, float b) {
    return Begin(tag).Float(r).Float(g).Float(b).End();
}

TWriter3DS& TWriter3DS::IntPercentage(int16_t percent) {
    return ShortChunk(INT_PERCENTAGE, percent);
}

TWriter3DS& TWriter3DS::FloatPercentage(float fraction) {
    return FloatChunk(FLOAT_PERCENTAGE, fraction);
}

TWriter3DS& TWriter3DS::Mesh(const TMesh3DS& mesh) {
    Begin(NAMED_OBJECT).String(mesh.NameStr);
    const std::pair<bool, uint16_t> flags[] = {
        {mesh.IsHidden, OBJ_HIDDEN},      {mesh.IsVisLofter, OBJ_VIS_LOFTER},
        {mesh.IsNoCast, OBJ_DOESNT_CAST}, {mesh.IsMatte, OBJ_MATTE},
        {mesh.IsFast, OBJ_FAST},          {mesh.IsProcedural, OBJ_PROCEDURAL},
        {mesh.IsFrozen, OBJ_FROZEN},      {mesh.IsNoRcvShad, OBJ_DONT_RCVSHADOW}};
    for (const auto& [set, tag] : flags)
        if (set)
            Chunk(tag);
    Begin(N_TRI_OBJECT);
    if (!mesh.VertexArray.empty()) {
        Begin(POINT_ARRAY).Word(Count(mesh.VertexArray.size()));
        Bytes(mesh.VertexArray.data(), mesh.VertexArray.size() * sizeof(TPoint3DS)).End();
    }
    if (const std::vector<uint16_t>& flags = mesh.Extras->VFlagArray; !flags.empty()) {
        Begin(POINT_FLAG_ARRAY).Word(Count(flags.size()));
        Bytes(flags.data(), flags.size() * sizeof(uint16_t)).End();
    }
    if (!mesh.TextArray.empty()) {
        Begin(TEX_VERTS).Word(Count(mesh.TextArray.size()));
        Bytes(mesh.TextArray.data(), mesh.TextArray.size() * sizeof(TTexVert3DS)).End();
    }
    if (mesh.UseMapInfo) {
        const TMapInfo3DS& info = *mesh.MapInfo;
        Begin(MESH_TEXTURE_INFO).Word(info.MapType).Float(info.TileX).Float(info.TileY);
        Point(info.IconPos).Float(info.IconScaling);
        Bytes(info.Matrix.data(), sizeof info.Matrix);
        Float(info.PlanarIconWidth).Float(info.PlanarIconHeight).Float(info.CylIconHeight).End();
    }
    Begin(MESH_MATRIX).Bytes(mesh.LocMatrix.data(), sizeof mesh.LocMatrix).End();
    Begin(MESH_COLOR).Byte(mesh.MeshColor).End();
    if (!mesh.FaceArray.empty() || !mesh.MatArray.empty() || !mesh.SmoothArray.empty())
        FaceArray(mesh);
    if (!mesh.Extras->ProcName.empty())
        StringChunk(PROC_NAME, mesh.Extras->ProcName);
    if (!mesh.Extras->ProcData.empty())
        Begin(PROC_DATA).Bytes(mesh.Extras->ProcData).End();
    return End().End();
}

TWriter3DS& TWriter3DS::FaceArray(const TMesh3DS& mesh) {
    Begin(FACE_ARRAY).Word(Count(mesh.FaceArray.size()));
    Bytes(mesh.FaceArray.data(), mesh.FaceArray.size() * sizeof(TFace3DS));
    for (const TObjMat3DS& group : mesh.MatArray) {
        Begin(MSH_MAT_GROUP).String(group.NameStr).Word(Count(group.FaceIndex.size()));
        Bytes(group.FaceIndex.data(), group.FaceIndex.size() * sizeof(uint16_t)).End();
    }
    if (!mesh.SmoothArray.empty()) {
        Begin(SMOOTH_GROUP);
        Bytes(mesh.SmoothArray.data(), mesh.SmoothArray.size() * sizeof(uint32_t)).End();
    }
    if (mesh.UseBoxMap) {
        Begin(MSH_BOXMAP);
        for (const std::string& name : *mesh.BoxMapStr)
            String(name);
        End();
    }
    return End();
}

TWriter3DS& TWriter3DS::Colour(uint16_t tag, const TFColor3DS& colour) {
    return Begin(tag).ColorFChunk(COLOR_F, colour.R, colour.G, colour.B).End();
}

TWriter3DS& TWriter3DS::Percentage(uint16_t tag, float fraction) {
    return Begin(tag).FloatPercentage(fraction).End();
}

TWriter3DS& TWriter3DS::Bitmap(uint16_t tag, const TBitmap3DS& bitmap) {
    if (bitmap.NameStr.empty())
        return *this;
    Begin(tag).FloatPercentage(bitmap.Percent).StringChunk(MAT_MAPNAME, bitmap.NameStr);
    WordChunk(MAT_MAP_TILING, TilingFlags(bitmap)).FloatChunk(MAT_MAP_TEXBLUR, bitmap.Blur);
    FloatChunk(MAT_MAP_USCALE, bitmap.UScale).FloatChunk(MAT_MAP_VSCALE, bitmap.VScale);
    FloatChunk(MAT_MAP_UOFFSET, bitmap.UOffset).FloatChunk(MAT_MAP_VOFFSET, bitmap.VOffset);
    FloatChunk(MAT_MAP_ANG, bitmap.Rotation);
    const std::pair<uint16_t, const TFColor3DS*> tints[] = {{MAT_MAP_COL1, &bitmap.Tint1},
                                                            {MAT_MAP_COL2, &bitmap.Tint2},
                                                            {MAT_MAP_RCOL, &bitmap.RedTint},
                                                            {MAT_MAP_GCOL, &bitmap.GreenTint},
                                                            {MAT_MAP_BCOL, &bitmap.BlueTint}};
    for (const auto& [tintTag, tint] : tints)
        Color24Chunk(tintTag, ColourByte(tint->R), ColourByte(tint->G), ColourByte(tint->B));
    return End();
}

TWriter3DS& TWriter3DS::ProceduralData(uint16_t tag, const TBitmap3DS& bitmap) {
    if (!bitmap.Data.empty())
        Begin(tag).Bytes(bitmap.Data).End();
    return *this;
}

TWriter3DS& TWriter3DS::Material(const TMaterial3DS& m) {
    Begin(MAT_ENTRY).StringChunk(MAT_NAME, m.NameStr);
    Colour(MAT_AMBIENT, m.Ambient).Colour(MAT_DIFFUSE, m.Diffuse).Colour(MAT_SPECULAR, m.Specular);
    Percentage(MAT_SHININESS, m.Shininess).Percentage(MAT_SHIN2PCT, m.ShinStrength);
    Percentage(MAT_TRANSPARENCY, std::fabs(m.Transparency));
    if (std::signbit(m.Transparency))
        Chunk(MAT_XPFALLIN);
    Percentage(MAT_XPFALL, m.TransFalloff).Percentage(MAT_REFBLUR, m.Blur);
    Percentage(MAT_SELF_ILPCT, m.SelfIllumPct);
    ShortChunk(MAT_SHADING, m.Shading).FloatChunk(MAT_WIRESIZE, m.WireSize);
    const std::pair<bool, uint16_t> flags[] = {
        {m.UseBlur, MAT_USE_REFBLUR},  {m.UseFall, MAT_USE_XPFALL}, {m.TwoSided, MAT_TWO_SIDE},
        {m.SelfIllum, MAT_SELF_ILLUM}, {m.Additive, MAT_ADDITIVE},  {m.UseWireAbs, MAT_WIREABS},
        {m.FaceMap, MAT_FACEMAP},      {m.Soften, MAT_PHONGSOFT}};
    for (const auto& [set, tag] : flags)
        if (set)
            Chunk(tag);
    Bitmap(MAT_TEXMAP, m.Texture->Map).ProceduralData(MAT_SXP_TEXT_DATA, m.Texture->Map);
    Bitmap(MAT_TEXMASK, m.Texture->Mask).ProceduralData(MAT_SXP_TEXT_MASKDATA, m.Texture->Mask);
    Bitmap(MAT_TEX2MAP, m.Texture2->Map).ProceduralData(MAT_SXP_TEXT2_DATA, m.Texture2->Map);
    Bitmap(MAT_TEX2MASK, m.Texture2->Mask).ProceduralData(MAT_SXP_TEXT2_MASKDATA, m.Texture2->Mask);
    Bitmap(MAT_OPACMAP, m.Opacity->Map).ProceduralData(MAT_SXP_OPAC_DATA, m.Opacity->Map);
    Bitmap(MAT_OPACMASK, m.Opacity->Mask).ProceduralData(MAT_SXP_OPAC_MASKDATA, m.Opacity->Mask);
    Bitmap(MAT_BUMPMAP, m.Bump->Map).ProceduralData(MAT_SXP_BUMP_DATA, m.Bump->Map);
    Bitmap(MAT_BUMPMASK, m.Bump->Mask).ProceduralData(MAT_SXP_BUMP_MASKDATA, m.Bump->Mask);
    Bitmap(MAT_SPECMAP, m.SpecMap->Map).ProceduralData(MAT_SXP_SPEC_DATA, m.SpecMap->Map);
    Bitmap(MAT_SPECMASK, m.SpecMap->Mask).ProceduralData(MAT_SXP_SPEC_MASKDATA, m.SpecMap->Mask);
    Bitmap(MAT_SHINMAP, m.ShinMap->Map).ProceduralData(MAT_SXP_SHIN_DATA, m.ShinMap->Map);
    Bitmap(MAT_SHINMASK, m.ShinMap->Mask).ProceduralData(MAT_SXP_SHIN_MASKDATA, m.ShinMap->Mask);
    Bitmap(MAT_SELFIMAP, m.IllumMap->Map).ProceduralData(MAT_SXP_SELFI_DATA, m.IllumMap->Map);
    Bitmap(MAT_SELFIMASK, m.IllumMap->Mask)
        .ProceduralData(MAT_SXP_SELFI_MASKDATA, m.IllumMap->Mask);
    Bitmap(MAT_REFLMAP, m.Reflect->Map);
    Bitmap(MAT_REFLMASK, m.Reflect->Mask).ProceduralData(MAT_SXP_REFL_MASKDATA, m.Reflect->Mask);
    if (m.Reflect->AutoMap.Use) {
        const TAutoMap3DS& autoMap = m.Reflect->AutoMap;
        const int16_t acubicFlags = static_cast<int16_t>((autoMap.FirstFrame ? ACubicFirst3DS : 0) |
                                                         (autoMap.Flat ? ACubicFlat3DS : 0));
        Begin(MAT_ACUBIC).Byte(0).Byte(0).Short(acubicFlags);
        Int(autoMap.Size).Int(autoMap.NthFrame).End();
    }
    return End();
}

TWriter3DS& TWriter3DS::Node(const TNodeSpec3DS& node) {
    Begin(node.Tag);
    if (node.Id)
        ShortChunk(NODE_ID, *node.Id);
    Begin(NODE_HDR).String(node.Name).Word(0).Word(0).Short(node.ParentIndex).End();
    if (!node.Instance.empty())
        StringChunk(INSTANCE_NAME, node.Instance);
    return End();
}

const std::vector<uint8_t>& TWriter3DS::Data() const {
    Assert(FOpen.empty(), "TWriter3DS: a chunk has not ended");
    return FData;
}

std::vector<uint8_t> WriteScene3DS(const TScene3DS& scene) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).IntChunk(M3D_VERSION, 3);
    w.Begin(MDATA).IntChunk(MESH_VERSION, 3).FloatChunk(MASTER_SCALE, 1);
    for (const TMaterial3DS& material : scene.Materials)
        w.Material(material);
    for (const TMesh3DS& mesh : scene.Meshes)
        w.Mesh(mesh);
    w.End();
    if (!scene.Nodes.empty()) {
        w.Begin(KFDATA);
        for (const TNodeSpec3DS& node : scene.Nodes)
            w.Node(node);
        w.End();
    }
    w.End();
    return w.Data();
}

std::vector<uint8_t> WriteMaterialLibrary3DS(const std::vector<TMaterial3DS>& materials) {
    TWriter3DS w;
    w.Begin(MLIBMAGIC);
    for (const TMaterial3DS& material : materials)
        w.Material(material);
    w.End();
    return w.Data();
}

TMesh3DS BoxMesh3DS(const std::string& name) {
    TMesh3DS mesh;
    mesh.NameStr = name;
    for (int i = 0; i < 8; ++i) {
        const float x = float((i == 1 || i == 2 || i == 5 || i == 6) ? 1 : 0);
        const float y = float((i == 2 || i == 3 || i == 6 || i == 7) ? 1 : 0);
        const float z = float(i >= 4 ? 1 : 0);
        mesh.VertexArray.push_back({x, y, z});
        mesh.TextArray.push_back({x, y});
    }
    mesh.FaceArray = {{0, 2, 1, 0}, {0, 3, 2, 0}, {4, 5, 6, 0}, {4, 6, 7, 0},
                      {0, 1, 5, 0}, {0, 5, 4, 0}, {2, 3, 7, 0}, {2, 7, 6, 0},
                      {0, 4, 7, 0}, {0, 7, 3, 0}, {1, 2, 6, 0}, {1, 6, 5, 0}};
    return mesh;
}

TMesh3DS GridMesh3DS(const std::string& name, int columns, int rows, const std::string& material) {
    TMesh3DS mesh;
    mesh.NameStr = name;
    const int stride = columns + 1;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i) {
            const float u = float(i) / float(columns);
            const float v = float(j) / float(rows);
            mesh.VertexArray.push_back({u, v, 0});
            mesh.TextArray.push_back({u, v});
        }
    TObjMat3DS group{material, {}};
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const auto a = static_cast<uint16_t>(j * stride + i);
            const auto b = static_cast<uint16_t>(a + 1);
            const auto c = static_cast<uint16_t>(b + stride);
            const auto d = static_cast<uint16_t>(a + stride);
            for (const TFace3DS& face : {TFace3DS{a, b, c, 0}, TFace3DS{a, c, d, 0}}) {
                group.FaceIndex.push_back(Count(mesh.FaceArray.size()));
                mesh.FaceArray.push_back(face);
                mesh.SmoothArray.push_back(1);
            }
        }
    mesh.MatArray.push_back(std::move(group));
    return mesh;
}

TMaterial3DS Material3DS(const std::string& name, TFColor3DS diffuse,
                         const std::string& textureName) {
    TMaterial3DS material;
    material.NameStr = name;
    material.Diffuse = diffuse;
    material.Texture.Edit().Map.NameStr = textureName;
    material.Texture.Edit().Map.Percent = 1;
    return material;
}
