#include "engine/meshes/GLVectorFileObjectsFaceGroups.h"

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLMaterialLibrary.h"
#include "engine/meshes/GLVectorFileObjectsMeshObjects.h"
#include "engine/scene/RenderContextInfo.h"

#include <algorithm>

namespace {

GLenum PrimitiveOf(TFaceGroupMode mode) {
    switch (mode) {
    case fgTriangleStrip:
        return GL_TRIANGLE_STRIP;
    case fgTriangleFan:
        return GL_TRIANGLE_FAN;
    case fgQuads:
        return GL_QUADS;
    default:
        return GL_TRIANGLES;
    }
}

int32_t TrianglesOf(TFaceGroupMode mode, int32_t count) {
    switch (mode) {
    case fgTriangleStrip:
    case fgTriangleFan:
        return std::max(0, count - 2);
    case fgQuads:
        return count / 2;
    default:
        return count / 3;
    }
}

// Calls corner(k) with the position k, in the index list of `count` entries, of every corner of
// the triangles those entries make in `mode`, three by three.
template <typename F> void ForEachCorner(TFaceGroupMode mode, int32_t count, F corner) {
    if (count <= 2)
        return;
    switch (mode) {
    case fgTriangleStrip:
        for (int32_t k = 0; k + 2 < count; ++k) {
            const bool even = k % 2 == 0;
            corner(even ? k : k + 2);
            corner(k + 1);
            corner(even ? k + 2 : k);
        }
        break;
    case fgTriangleFan:
        for (int32_t k = 2; k < count; ++k) {
            corner(0);
            corner(k - 1);
            corner(k);
        }
        break;
    case fgQuads:
        for (int32_t q = 0; q + 3 < count; q += 4) {
            for (const int32_t k : {q, q + 1, q + 2, q, q + 2, q + 3})
                corner(k);
        }
        break;
    default:
        for (int32_t k = 0; k < count / 3 * 3; ++k)
            corner(k);
        break;
    }
}

int32_t CornerCount(TFaceGroupMode mode, int32_t count) {
    switch (mode) {
    case fgTriangleStrip:
    case fgTriangleFan:
        return 3 * std::max(0, count - 2);
    case fgQuads:
        return count / 4 * 6;
    default:
        return count / 3 * 3;
    }
}

// Appends source[index(k)] for every corner k, or as many zeros when there is no source.
template <typename Index>
void AppendCorners(TFaceGroupMode mode, int32_t count, Index index, const TAffineVectorList* source,
                   TAffineVectorList& destination) {
    const int32_t corners = CornerCount(mode, count);
    if (!source || source->Count() == 0) {
        destination.AddNulls(corners);
        return;
    }
    const int32_t first = destination.Count();
    destination.SetCount(first + corners);
    TAffineVector* corner = destination.List() + first;
    const TAffineVector* items = source->List();
    ForEachCorner(mode, count, [&](int32_t k) { *corner++ = items[index(k)]; });
}

} // namespace

// --- TFaceGroup ------------------------------------------------------------------------------

TMeshObject* TFaceGroup::MeshObject() const {
    return Owner() ? Owner()->Owner() : nullptr;
}

void TFaceGroup::ApplyLightmap(TRenderContextInfo& rci) const {
    TMeshObject* meshObject = MeshObject();
    if (!GL_ARB_multitexture || rci.SkipMaterials || !rci.LightmapLibrary || !meshObject ||
        meshObject->LastLightmapIndex() == FLightmapIndex)
        return;
    meshObject->SetLastLightmapIndex(FLightmapIndex);
    if (FLightmapIndex == -1) {
        meshObject->DisableLightmap();
        return;
    }
    TGLLibMaterials& lightmaps = rci.LightmapLibrary->Materials();
    Assert(FLightmapIndex >= 0 && FLightmapIndex < lightmaps.Count(),
           "Lightmap index beyond the lightmap library");
    glActiveTextureARB(GL_TEXTURE1_ARB);
    rci.StateCache->BindTexture(
        1, GL_TEXTURE_2D, lightmaps.Items(FLightmapIndex)->Material().Texture().EnsureUploaded());
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glActiveTextureARB(GL_TEXTURE0_ARB);
    meshObject->EnableLightmap();
}

void TFaceGroup::AppendTriangles(TAffineVectorList&, TAffineVectorList*, TAffineVectorList*) const {
}

void TFaceGroup::Reverse() {}

void TFaceGroup::PrepareGeometry() {}

void TFaceGroup::CheckIndices(const TMeshObject&) const {}

void TFaceGroup::WriteToFiler(TBinaryWriter& writer) const {
    TPersistentObject::WriteToFiler(writer);
    writer.WriteInteger(FLightmapIndex >= 0 ? 1 : 0);
    writer.WriteString(FMaterialName);
    if (FLightmapIndex >= 0)
        writer.WriteInteger(FLightmapIndex);
}

void TFaceGroup::ReadFromFiler(TBinaryReader& reader) {
    TPersistentObject::ReadFromFiler(reader);
    const int32_t version = ReadArchiveVersion(reader, 1);
    FMaterialName = reader.ReadString();
    FLightmapIndex = version >= 1 ? reader.ReadInteger() : -1;
    if (FLightmapIndex < -1)
        RaiseFilerException(Format("invalid archive lightmap index %d", FLightmapIndex));
}

TFaceGroupMode TFaceGroup::ReadMode(TBinaryReader& reader) const {
    const int32_t mode = reader.ReadInteger();
    if (mode < fgTriangles || mode > fgQuads)
        RaiseFilerException(Format("invalid archive mode %d", mode));
    return static_cast<TFaceGroupMode>(mode);
}

// --- TFGVertexIndexList ----------------------------------------------------------------------

void TFGVertexIndexList::SetMode(TFaceGroupMode value) {
    Assert(value <= fgQuads, "Invalid face group mode");
    FMode = value;
}

void TFGVertexIndexList::BuildList(TRenderContextInfo& rci) {
    if (FVertexIndices.Count() == 0)
        return;
    TMeshObject* meshObject = MeshObject();
    Assert(meshObject != nullptr, "A face group draws from its mesh object");
    meshObject->BindArrays(rci, false);
    ApplyLightmap(rci);
    glDrawElements(PrimitiveOf(FMode), FVertexIndices.Count(), GL_UNSIGNED_INT,
                   FVertexIndices.List());
}

void TFGVertexIndexList::AppendTriangles(TAffineVectorList& vertices, TAffineVectorList* texCoords,
                                         TAffineVectorList* normals) const {
    const TMeshObject* meshObject = MeshObject();
    if (!meshObject)
        return;
    const int32_t count = FVertexIndices.Count();
    const auto byVertex = [this](int32_t k) { return FVertexIndices[k]; };
    AppendCorners(FMode, count, byVertex, &meshObject->Vertices(), vertices);
    if (texCoords)
        AppendCorners(FMode, count, byVertex, &meshObject->TexCoords(), *texCoords);
    if (normals)
        AppendCorners(FMode, count, byVertex, &meshObject->Normals(), *normals);
}

int32_t TFGVertexIndexList::CountTriangles() const {
    return TrianglesOf(FMode, FVertexIndices.Count());
}

void TFGVertexIndexList::Reverse() {
    FVertexIndices.Reverse();
}

void TFGVertexIndexList::CheckRange(const TIntegerList& indices, int32_t count,
                                    const char* what) const {
    for (const int32_t index : indices)
        if (index < 0 || index >= count)
            RaiseFilerException(Format("%s index %d out of range for %d items", what,
                                       static_cast<int>(index), static_cast<int>(count)));
}

void TFGVertexIndexList::CheckIndices(const TMeshObject& meshObject) const {
    CheckRange(FVertexIndices, meshObject.Vertices().Count(), "vertex");
    if (FVertexIndices.Count() > 0)
        meshObject.CheckClientArrays();
}

void TFGVertexIndexList::WriteToFiler(TBinaryWriter& writer) const {
    TFaceGroup::WriteToFiler(writer);
    writer.WriteInteger(0);
    FVertexIndices.WriteToFiler(writer);
    writer.WriteInteger(FMode);
}

void TFGVertexIndexList::ReadFromFiler(TBinaryReader& reader) {
    TFaceGroup::ReadFromFiler(reader);
    ReadArchiveVersion(reader, 0);
    FVertexIndices.ReadFromFiler(reader);
    FMode = ReadMode(reader);
}

// --- TFGVertexNormalTexIndexList -------------------------------------------------------------

const TIntegerList& TFGVertexNormalTexIndexList::NormalIndexSource() const {
    return FNormalIndices.Count() > 0 ? FNormalIndices : VertexIndices();
}

const TIntegerList& TFGVertexNormalTexIndexList::TexCoordIndexSource() const {
    return FTexCoordIndices.Count() > 0 ? FTexCoordIndices : VertexIndices();
}

void TFGVertexNormalTexIndexList::BuildList(TRenderContextInfo&) {
    const int32_t count = VertexIndices().Count();
    Assert(FNormalIndices.Count() == 0 || FNormalIndices.Count() >= count,
           "Fewer normal indices than vertex indices");
    Assert(FTexCoordIndices.Count() == 0 || FTexCoordIndices.Count() >= count,
           "Fewer texture coordinate indices than vertex indices");
    Assert(Mode() != fgQuads, "Quads are not drawn from normal and texture indices");
    const TMeshObject* meshObject = MeshObject();
    Assert(meshObject != nullptr, "A face group draws from its mesh object");
    const TIntegerList& normalIndices = NormalIndexSource();
    const TIntegerList& texCoordIndices = TexCoordIndexSource();
    // A mesh object without normals or texture coordinates has none to send.
    const bool normals = meshObject->Normals().Count() > 0;
    const bool texCoords = meshObject->TexCoords().Count() > 0;
    glBegin(PrimitiveOf(Mode()));
    for (int32_t i = 0; i < count; ++i) {
        if (normals)
            glNormal3fv(meshObject->Normals()[normalIndices[i]].data());
        if (texCoords)
            xgl.TexCoord2fv(meshObject->TexCoords()[texCoordIndices[i]].data());
        glVertex3fv(meshObject->Vertices()[VertexIndices()[i]].data());
    }
    glEnd();
}

void TFGVertexNormalTexIndexList::AppendTriangles(TAffineVectorList& vertices,
                                                  TAffineVectorList* texCoords,
                                                  TAffineVectorList* normals) const {
    const TMeshObject* meshObject = MeshObject();
    if (!meshObject)
        return;
    const int32_t count = VertexIndices().Count();
    AppendCorners(
        Mode(), count, [this](int32_t k) { return VertexIndices()[k]; }, &meshObject->Vertices(),
        vertices);
    if (texCoords)
        AppendCorners(
            Mode(), count, [this](int32_t k) { return TexCoordIndexSource()[k]; },
            &meshObject->TexCoords(), *texCoords);
    if (normals)
        AppendCorners(
            Mode(), count, [this](int32_t k) { return NormalIndexSource()[k]; },
            &meshObject->Normals(), *normals);
}

void TFGVertexNormalTexIndexList::Reverse() {
    TFGVertexIndexList::Reverse();
    FNormalIndices.Reverse();
    FTexCoordIndices.Reverse();
}

void TFGVertexNormalTexIndexList::CheckIndices(const TMeshObject& meshObject) const {
    const int32_t count = VertexIndices().Count();
    CheckRange(VertexIndices(), meshObject.Vertices().Count(), "vertex");
    if (Mode() == fgQuads)
        RaiseFilerException("quads cannot be drawn from normal and texture indices");
    for (const TIntegerList* indices : {&FNormalIndices, &FTexCoordIndices})
        if (indices->Count() > 0 && indices->Count() < count)
            RaiseFilerException(Format("%d indices for %d vertex indices",
                                       static_cast<int>(indices->Count()), count));
    if (meshObject.Normals().Count() > 0)
        CheckRange(NormalIndexSource(), meshObject.Normals().Count(), "normal");
    if (meshObject.TexCoords().Count() > 0)
        CheckRange(TexCoordIndexSource(), meshObject.TexCoords().Count(), "texture coordinate");
}

void TFGVertexNormalTexIndexList::WriteToFiler(TBinaryWriter& writer) const {
    TFGVertexIndexList::WriteToFiler(writer);
    writer.WriteInteger(0);
    FNormalIndices.WriteToFiler(writer);
    FTexCoordIndices.WriteToFiler(writer);
}

void TFGVertexNormalTexIndexList::ReadFromFiler(TBinaryReader& reader) {
    TFGVertexIndexList::ReadFromFiler(reader);
    ReadArchiveVersion(reader, 0);
    FNormalIndices.ReadFromFiler(reader);
    FTexCoordIndices.ReadFromFiler(reader);
}

// --- TFGIndexTexCoordList --------------------------------------------------------------------

void TFGIndexTexCoordList::BuildList(TRenderContextInfo&) {
    const int32_t count = VertexIndices().Count();
    Assert(FTexCoords.Count() == count, "One texture coordinate per index is needed");
    const TMeshObject* meshObject = MeshObject();
    Assert(meshObject != nullptr, "A face group draws from its mesh object");
    const int32_t vertexCount = meshObject->Vertices().Count();
    const bool colors = meshObject->Colors().Count() == vertexCount;
    const bool normals = meshObject->Normals().Count() == vertexCount;
    glBegin(PrimitiveOf(Mode()));
    for (int32_t i = 0; i < count; ++i) {
        const int32_t vertex = VertexIndices()[i];
        xgl.TexCoord2fv(FTexCoords[i].data());
        if (colors)
            glColor4fv(meshObject->Colors()[vertex].data());
        if (normals)
            glNormal3fv(meshObject->Normals()[vertex].data());
        glVertex3fv(meshObject->Vertices()[vertex].data());
    }
    glEnd();
}

void TFGIndexTexCoordList::AppendTriangles(TAffineVectorList& vertices,
                                           TAffineVectorList* texCoords,
                                           TAffineVectorList* normals) const {
    const TMeshObject* meshObject = MeshObject();
    if (!meshObject)
        return;
    const int32_t count = VertexIndices().Count();
    const auto byVertex = [this](int32_t k) { return VertexIndices()[k]; };
    AppendCorners(Mode(), count, byVertex, &meshObject->Vertices(), vertices);
    if (texCoords)
        AppendCorners(
            Mode(), count, [](int32_t k) { return k; },
            FTexCoords.Count() == count ? &FTexCoords : nullptr, *texCoords);
    // Normals count per vertex only when every vertex has one, as when drawn.
    if (normals) {
        const TAffineVectorList& source = meshObject->Normals();
        AppendCorners(Mode(), count, byVertex,
                      source.Count() == meshObject->Vertices().Count() ? &source : nullptr,
                      *normals);
    }
}

void TFGIndexTexCoordList::Reverse() {
    TFGVertexIndexList::Reverse();
    FTexCoords.Reverse();
}

void TFGIndexTexCoordList::CheckIndices(const TMeshObject& meshObject) const {
    CheckRange(VertexIndices(), meshObject.Vertices().Count(), "vertex");
    if (FTexCoords.Count() != VertexIndices().Count())
        RaiseFilerException(Format("%d texture coordinates for %d indices",
                                   static_cast<int>(FTexCoords.Count()),
                                   static_cast<int>(VertexIndices().Count())));
}

void TFGIndexTexCoordList::WriteToFiler(TBinaryWriter& writer) const {
    TFGVertexIndexList::WriteToFiler(writer);
    writer.WriteInteger(0);
    FTexCoords.WriteToFiler(writer);
}

void TFGIndexTexCoordList::ReadFromFiler(TBinaryReader& reader) {
    TFGVertexIndexList::ReadFromFiler(reader);
    ReadArchiveVersion(reader, 0);
    FTexCoords.ReadFromFiler(reader);
}
