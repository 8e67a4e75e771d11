#include "engine/meshes/GLVectorFileObjectsMeshObjects.h"

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLMaterialLibrary.h"
#include "engine/scene/RenderContextInfo.h"

#include <algorithm>

namespace {

constexpr float cBigExtent = 1e30f;

// The tag of the next grouped render pass, shared by every mesh object.
int32_t RenderPassCounter = 1;

// The list itself when it has one item per vertex, else zeros.
void AppendPerVertex(const TAffineVectorList& source, int32_t count,
                     TAffineVectorList& destination) {
    if (source.Count() == count)
        destination.AddList(&source);
    else
        destination.AddNulls(count);
}

void AppendStripPerVertex(const TAffineVectorList& source, int32_t count,
                          TAffineVectorList& destination) {
    if (source.Count() == count)
        ConvertStripToList(source, destination);
    else
        destination.AddNulls(3 * std::max(0, count - 2));
}

void Widen(TAffineVector& min, TAffineVector& max, const TAffineVector& low,
           const TAffineVector& high) {
    for (size_t k = 0; k < 3; ++k) {
        if (low[k] < min[k])
            min[k] = low[k];
        if (high[k] > max[k])
            max[k] = high[k];
    }
}

} // namespace

// --- TBaseMeshObject -------------------------------------------------------------------------

void TBaseMeshObject::SumVertices(TAffineVector& sum, int32_t& count) const {
    AddVector(sum, FVertices.Sum());
    count += FVertices.Count();
}

void TBaseMeshObject::Clear() {
    FVertices.Clear();
    FNormals.Clear();
}

void TBaseMeshObject::Translate(const TAffineVector& delta) {
    FVertices.Translate(delta);
}

std::unique_ptr<TAffineVectorList> TBaseMeshObject::GetTriangles(TAffineVectorList* texCoords,
                                                                 TAffineVectorList* normals) const {
    auto triangles = std::make_unique<TAffineVectorList>();
    const int32_t count = FVertices.Count();
    if (count % 3 != 0)
        return triangles;
    triangles->AddList(&FVertices);
    if (texCoords)
        texCoords->AddNulls(count);
    if (normals)
        AppendPerVertex(FNormals, count, *normals);
    return triangles;
}

void TBaseMeshObject::WriteToFiler(TBinaryWriter& writer) const {
    TPersistentObject::WriteToFiler(writer);
    writer.WriteInteger(1);
    writer.WriteString(FName);
    FVertices.WriteToFiler(writer);
    FNormals.WriteToFiler(writer);
    writer.WriteBoolean(FVisible);
}

void TBaseMeshObject::ReadFromFiler(TBinaryReader& reader) {
    TPersistentObject::ReadFromFiler(reader);
    const int32_t version = ReadArchiveVersion(reader, 1);
    FName = reader.ReadString();
    FVertices.ReadFromFiler(reader);
    FNormals.ReadFromFiler(reader);
    FVisible = version < 1 || reader.ReadBoolean();
}

// --- TMeshObject -----------------------------------------------------------------------------

void TMeshObject::SetMode(TMeshObjectMode value) {
    Assert(value <= omFaceGroups, "Invalid mesh object mode");
    FMode = value;
}

TVectorList& TMeshObject::ExtraTexCoordSet(int32_t index) {
    Assert(index >= 0, "Invalid texture coordinate set");
    while (ExtraTexCoordCount() <= index)
        FExtraTexCoords.push_back(std::make_unique<TVectorList>());
    return *FExtraTexCoords[static_cast<size_t>(index)];
}

void TMeshObject::SetAuxSetIndex1(int32_t value) {
    Assert(value >= 0, "A set index cannot be negative");
    FAuxSetIndex1 = value;
}

void TMeshObject::SetAuxSetIndex2(int32_t value) {
    Assert(value >= 0, "A set index cannot be negative");
    FAuxSetIndex2 = value;
}

void TMeshObject::Clear() {
    TBaseMeshObject::Clear();
    FTexCoords.Clear();
    FLightmapTexCoords.Clear();
    FColors.Clear();
    FFaceGroups.Clear();
    for (const auto& set : FExtraTexCoords)
        set->Clear();
}

void TMeshObject::ComputeExtents(TAffineVector& min, TAffineVector& max) const {
    Vertices().ComputeExtents(min, max);
}

bool TMeshObject::ContainsPoint(const TAffineVector& point) const {
    TAffineVector min, max;
    ComputeExtents(min, max);
    for (size_t k = 0; k < 3; ++k)
        if (!(point[k] >= min[k] && point[k] <= max[k]))
            return false;
    return true;
}

int32_t TMeshObject::CountTriangles() const {
    switch (FMode) {
    case omTriangles:
        return Vertices().Count() / 3;
    case omTriangleStrip:
        return std::max(0, Vertices().Count() - 2);
    default: {
        int32_t triangles = 0;
        for (int32_t i = 0; i < FFaceGroups.Count(); ++i)
            triangles += FFaceGroups[i]->CountTriangles();
        return triangles;
    }
    }
}

std::unique_ptr<TAffineVectorList> TMeshObject::GetTriangles(TAffineVectorList* texCoords,
                                                             TAffineVectorList* normals) const {
    const int32_t count = Vertices().Count();
    auto triangles = std::make_unique<TAffineVectorList>();
    switch (FMode) {
    case omTriangles:
        if (count % 3 != 0)
            break;
        triangles->AddList(&Vertices());
        if (texCoords)
            AppendPerVertex(FTexCoords, count, *texCoords);
        if (normals)
            AppendPerVertex(Normals(), count, *normals);
        break;
    case omTriangleStrip:
        ConvertStripToList(Vertices(), *triangles);
        if (texCoords)
            AppendStripPerVertex(FTexCoords, count, *texCoords);
        if (normals)
            AppendStripPerVertex(Normals(), count, *normals);
        break;
    default: {
        // At least as many corners as the groups make, reserved once for all of them.
        const int32_t corners = 3 * CountTriangles();
        for (TAffineVectorList* list : {triangles.get(), texCoords, normals})
            if (list)
                list->EnsureCapacity(list->Count() + corners);
        for (int32_t i = 0; i < FFaceGroups.Count(); ++i)
            FFaceGroups[i]->AppendTriangles(*triangles, texCoords, normals);
        break;
    }
    }
    return triangles;
}

void TMeshObject::PrepareGeometry() {
    for (int32_t i = 0; i < FFaceGroups.Count(); ++i)
        FFaceGroups[i]->PrepareGeometry();
}

void TMeshObject::PrepareMaterials(TRenderContextInfo& rci) {
    if (FMode != omFaceGroups || !rci.MeshMaterialLibrary)
        return;
    for (int32_t i = 0; i < FFaceGroups.Count(); ++i)
        if (TGLLibMaterial* material = FFaceGroups[i]->MaterialCache())
            material->PrepareTextures();
}

// --- drawing ---

void TMeshObject::BuildList(TRenderContextInfo& rci) {
    FArraysBound = false;
    FLastTexCoordMapping = 0;
    // Colours drive ambient and diffuse, in an attribute group of their own.
    const bool colorMode = FColors.Count() == Vertices().Count();
    if (colorMode) {
        glPushAttrib(GL_LIGHTING_BIT);
        glEnable(GL_COLOR_MATERIAL);
        glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
        rci.StateCache->ResetMaterialColors();
    }
    TFinally restore([this, &rci, colorMode] {
        if (colorMode)
            glPopAttrib();
        UnbindArrays(rci);
    });
    switch (FMode) {
    case omFaceGroups:
        BuildFaceGroups(rci);
        break;
    case omTriangles:
    case omTriangleStrip:
        if (Vertices().Count() > 0)
            BuildVertexList(rci, colorMode);
        break;
    default:
        Assert(false, "Invalid mesh object mode");
    }
}

void TMeshObject::BuildFaceGroups(TRenderContextInfo& rci) {
    if (!rci.MeshMaterialLibrary) {
        for (int32_t i = 0; i < FFaceGroups.Count(); ++i)
            FFaceGroups[i]->BuildList(rci);
        return;
    }
    if (GroupByMaterial())
        BuildGroupedByMaterial(rci);
    else
        BuildMaterialRuns(rci);
    // Materials may have changed the culling of faces: back to the buffer's.
    const bool culling = rci.StateCache->States().Contains(capCullFace);
    if (rci.BufferCullsFaces && !culling)
        rci.StateCache->Enable(capCullFace);
    else if (!rci.BufferCullsFaces && culling)
        rci.StateCache->Disable(capCullFace);
}

// Every group of a material is drawn in each of the material's passes, also the groups after
// other materials' ones; the pass tag marks the groups already drawn.
void TMeshObject::BuildGroupedByMaterial(TRenderContextInfo& rci) {
    const int32_t tag = RenderPassCounter++;
    std::vector<TFaceGroup*> groups;
    for (int32_t i = 0; i < FFaceGroups.Count(); ++i) {
        if (FFaceGroups[i]->RenderPass() == tag)
            continue;
        TGLLibMaterial* material = FFaceGroups[i]->MaterialCache();
        groups.clear();
        for (int32_t j = i; j < FFaceGroups.Count(); ++j) {
            TFaceGroup* group = FFaceGroups[j];
            if (group->RenderPass() != tag && group->MaterialCache() == material) {
                group->SetRenderPass(tag);
                groups.push_back(group);
            }
        }
        if (material)
            material->Apply(rci);
        do
            for (TFaceGroup* group : groups)
                group->BuildList(rci);
        while (material && material->UnApply(rci));
    }
}

// Consecutive groups of one material share its application.
void TMeshObject::BuildMaterialRuns(TRenderContextInfo& rci) {
    const int32_t count = FFaceGroups.Count();
    for (int32_t i = 0; i < count;) {
        TGLLibMaterial* material = FFaceGroups[i]->MaterialCache();
        if (!material) {
            FFaceGroups[i++]->BuildList(rci);
            continue;
        }
        int32_t end = i;
        while (end < count && FFaceGroups[end]->MaterialCache() == material)
            ++end;
        material->Apply(rci);
        do
            for (int32_t j = i; j < end; ++j)
                FFaceGroups[j]->BuildList(rci);
        while (material->UnApply(rci));
        i = end;
    }
}

std::vector<bool> TMeshObject::UsedExtraTexCoords() const {
    std::vector<bool> used(FExtraTexCoords.size());
    for (size_t k = 0; k < used.size(); ++k)
        used[k] = GL_ARB_multitexture && FExtraTexCoords[k]->Count() > 0;
    return used;
}

void TMeshObject::BuildVertexList(TRenderContextInfo& rci, bool colorMode) {
    BindArrays(rci, false);
    const int32_t count = Vertices().Count();
    const bool normals = Normals().Count() == count;
    const bool texCoords = FTexCoords.Count() == count;
    const std::vector<bool> extra = UsedExtraTexCoords();
    glBegin(FMode == omTriangles ? GL_TRIANGLES : GL_TRIANGLE_STRIP);
    for (int32_t i = 0; i < count; ++i) {
        if (normals)
            glNormal3fv(Normals()[i].data());
        if (colorMode)
            glColor4fv(FColors[i].data());
        if (!extra.empty() && extra[0])
            glMultiTexCoord4fvARB(GL_TEXTURE0_ARB, (*FExtraTexCoords[0])[i].data());
        else if (texCoords)
            xgl.TexCoord2fv(FTexCoords[i].data());
        for (size_t k = 1; k < extra.size(); ++k)
            if (extra[k])
                glMultiTexCoord4fvARB(GL_TEXTURE0_ARB + static_cast<GLenum>(k),
                                      (*FExtraTexCoords[k])[i].data());
        glVertex3fv(Vertices()[i].data());
    }
    glEnd();
}

// --- client arrays ---

void TMeshObject::BindArrays(TRenderContextInfo& rci, bool force) {
    if (FArraysBound && !force) {
        // Materials may have switched the texture units fed since the arrays were declared.
        if (!rci.SkipMaterials && rci.DrawPass != 1 && FTexCoords.Count() > 0) {
            const uint32_t mapping = TexCoordUnitMask();
            if (mapping != FLastTexCoordMapping) {
                xgl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
                xgl.TexCoordPointer(2, GL_FLOAT, sizeof(TAffineVector), FTexCoords.List());
                FLastTexCoordMapping = mapping;
            }
        }
        return;
    }
    if (Vertices().Count() > 0) {
        glVertexPointer(3, GL_FLOAT, 0, Vertices().List());
        glEnableClientState(GL_VERTEX_ARRAY);
    } else {
        glDisableClientState(GL_VERTEX_ARRAY);
    }
    if (rci.SkipMaterials) {
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        xgl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
    } else {
        if (Normals().Count() > 0) {
            glNormalPointer(GL_FLOAT, 0, Normals().List());
            glEnableClientState(GL_NORMAL_ARRAY);
        } else {
            glDisableClientState(GL_NORMAL_ARRAY);
        }
        if (FColors.Count() > 0) {
            glColorPointer(4, GL_FLOAT, 0, FColors.List());
            glEnableClientState(GL_COLOR_ARRAY);
        } else {
            glDisableClientState(GL_COLOR_ARRAY);
        }
        if (FTexCoords.Count() > 0) {
            xgl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
            xgl.TexCoordPointer(2, GL_FLOAT, sizeof(TAffineVector), FTexCoords.List());
        } else {
            xgl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        if (GL_ARB_multitexture) {
            if (FLightmapTexCoords.Count() > 0) {
                glClientActiveTextureARB(GL_TEXTURE1_ARB);
                glTexCoordPointer(2, GL_FLOAT, sizeof(TTexPoint), FLightmapTexCoords.List());
                glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            }
            for (size_t k = 0; k < FExtraTexCoords.size(); ++k) {
                if (FExtraTexCoords[k]->Count() == 0)
                    continue;
                glClientActiveTextureARB(GL_TEXTURE0_ARB + static_cast<GLenum>(k));
                glTexCoordPointer(4, GL_FLOAT, sizeof(TVector), FExtraTexCoords[k]->List());
                glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            }
            glClientActiveTextureARB(GL_TEXTURE0_ARB);
        }
    }
    if (GL_EXT_compiled_vertex_array && FLightmapTexCoords.Count() == 0)
        glLockArraysEXT(0, Vertices().Count());
    FLastLightmapIndex = -1;
    FArraysBound = true;
    FLightmapUnitEnabled = false;
    if (rci.DrawPass != 1)
        FLastTexCoordMapping = TexCoordUnitMask();
}

void TMeshObject::UnbindArrays(TRenderContextInfo& rci) {
    if (!FArraysBound)
        return;
    DisableLightmap();
    if (GL_EXT_compiled_vertex_array && FLightmapTexCoords.Count() == 0)
        glUnlockArraysEXT();
    if (Vertices().Count() > 0)
        glDisableClientState(GL_VERTEX_ARRAY);
    if (!rci.SkipMaterials) {
        if (Normals().Count() > 0)
            glDisableClientState(GL_NORMAL_ARRAY);
        if (FColors.Count() > 0)
            glDisableClientState(GL_COLOR_ARRAY);
        if (FTexCoords.Count() > 0)
            xgl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
        if (GL_ARB_multitexture) {
            if (FLightmapTexCoords.Count() > 0) {
                glClientActiveTextureARB(GL_TEXTURE1_ARB);
                glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            }
            for (size_t k = 0; k < FExtraTexCoords.size(); ++k) {
                if (FExtraTexCoords[k]->Count() == 0)
                    continue;
                glClientActiveTextureARB(GL_TEXTURE0_ARB + static_cast<GLenum>(k));
                glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            }
            glClientActiveTextureARB(GL_TEXTURE0_ARB);
        }
    }
    FArraysBound = false;
}

void TMeshObject::EnableLightmap() {
    if (FLightmapUnitEnabled)
        return;
    glActiveTextureARB(GL_TEXTURE1_ARB);
    glEnable(GL_TEXTURE_2D);
    glActiveTextureARB(GL_TEXTURE0_ARB);
    FLightmapUnitEnabled = true;
}

void TMeshObject::DisableLightmap() {
    if (!FLightmapUnitEnabled)
        return;
    glActiveTextureARB(GL_TEXTURE1_ARB);
    glDisable(GL_TEXTURE_2D);
    glActiveTextureARB(GL_TEXTURE0_ARB);
    FLightmapUnitEnabled = false;
}

// --- archive ---

void TMeshObject::WriteToFiler(TBinaryWriter& writer) const {
    TBaseMeshObject::WriteToFiler(writer);
    writer.WriteInteger(2);
    FTexCoords.WriteToFiler(writer);
    FLightmapTexCoords.WriteToFiler(writer);
    FColors.WriteToFiler(writer);
    FFaceGroups.WriteToFiler(writer);
    writer.WriteInteger(FMode);
    writer.WriteInteger(1); // the size of the option set
    const auto options = static_cast<uint8_t>(FRenderingOptions.Bits());
    writer.Write(&options, 1);
    writer.WriteInteger(ExtraTexCoordCount());
    for (const auto& set : FExtraTexCoords)
        set->WriteToFiler(writer);
    writer.WriteInteger(FAuxSetIndex1);
    writer.WriteInteger(FAuxSetIndex2);
}

void TMeshObject::ReadFromFiler(TBinaryReader& reader) {
    // What is half read may not match: nothing of it is kept to be drawn.
    TOnFailure clear([this] { Clear(); });
    ReadArchive(reader);
}

void TMeshObject::ReadArchive(TBinaryReader& reader) {
    TBaseMeshObject::ReadFromFiler(reader);
    const int32_t version = ReadArchiveVersion(reader, 2);
    FTexCoords.ReadFromFiler(reader);
    if (version >= 1)
        FLightmapTexCoords.ReadFromFiler(reader);
    else
        FLightmapTexCoords.Clear();
    FColors.ReadFromFiler(reader);
    FFaceGroups.ReadFromFiler(reader);
    const int32_t mode = reader.ReadInteger();
    if (mode < omTriangles || mode > omFaceGroups)
        RaiseFilerException(Format("invalid archive mode %d", mode));
    FMode = static_cast<TMeshObjectMode>(mode);
    if (const int32_t size = reader.ReadInteger(); size != 1)
        RaiseFilerException(Format("invalid archive option set of %d bytes", size));
    uint8_t options = 0;
    reader.Read(&options, 1);
    FRenderingOptions = TMeshObjectRenderingOptions::FromBits(options & 1u);
    FExtraTexCoords.clear();
    FAuxSetIndex1 = 2;
    FAuxSetIndex2 = 1;
    if (version >= 2)
        ReadExtraTexCoords(reader);
    CheckArchivedIndices();
}

void TMeshObject::ReadExtraTexCoords(TBinaryReader& reader) {
    const int32_t count = reader.ReadInteger();
    if (count < 0 || count > reader.BytesLeft())
        RaiseFilerException(Format("invalid archive count %d", count));
    for (int32_t k = 0; k < count; ++k)
        ExtraTexCoordSet(k).ReadFromFiler(reader);
    const int32_t set1 = reader.ReadInteger();
    const int32_t set2 = reader.ReadInteger();
    if (set1 < 0 || set2 < 0)
        RaiseFilerException(Format("invalid archive set indexes %d, %d", set1, set2));
    FAuxSetIndex1 = set1;
    FAuxSetIndex2 = set2;
}

void TMeshObject::CheckArchivedIndices() const {
    for (int32_t i = 0; i < FFaceGroups.Count(); ++i)
        FFaceGroups[i]->CheckIndices(*this);
    // The vertex modes declare the arrays too, and read the extra sets per vertex.
    if (FMode != omFaceGroups && Vertices().Count() > 0)
        CheckClientArrays();
}

void TMeshObject::CheckClientArrays() const {
    const int32_t count = Vertices().Count();
    const auto check = [this, count](int32_t items, const char* what) {
        if (items > 0 && items < count)
            RaiseFilerException(
                Format("%d %s for %d vertices", static_cast<int>(items), what, count));
    };
    check(Normals().Count(), "normals");
    check(FTexCoords.Count(), "texture coordinates");
    check(FLightmapTexCoords.Count(), "lightmap coordinates");
    check(FColors.Count(), "colours");
    for (const auto& set : FExtraTexCoords)
        check(set->Count(), "coordinates in an extra set");
}

// --- TMeshObjectList -------------------------------------------------------------------------

void TMeshObjectList::Clear() {
    DropMaterialCaches();
    Clean();
}

void TMeshObjectList::TakeAll(TMeshObjectList& source) {
    for (int32_t i = 0; i < source.Count(); ++i)
        if (TMeshObject* meshObject = source.Items(i))
            Adopt(meshObject);
    source.TPersistentObjectList::Clear();
}

void TMeshObjectList::BindMaterialCaches(TGLMaterialLibrary* library) {
    for (int32_t i = 0; i < Count(); ++i) {
        const TFaceGroups& groups = Items(i)->FaceGroups();
        for (int32_t j = 0; j < groups.Count(); ++j) {
            TFaceGroup* group = groups[j];
            group->SetMaterialCache(library && !group->MaterialName().empty()
                                        ? library->LibMaterialByName(group->MaterialName())
                                        : nullptr);
        }
    }
}

void TMeshObjectList::DropMaterialCaches() {
    for (int32_t i = 0; i < Count(); ++i) {
        const TFaceGroups& groups = Items(i)->FaceGroups();
        for (int32_t j = 0; j < groups.Count(); ++j)
            groups[j]->SetMaterialCache(nullptr);
    }
}

void TMeshObjectList::PrepareMaterials(TRenderContextInfo& rci) {
    for (int32_t i = 0; i < Count(); ++i)
        if (Items(i)->Visible())
            Items(i)->PrepareMaterials(rci);
}

void TMeshObjectList::BuildList(TRenderContextInfo& rci) {
    for (int32_t i = 0; i < Count(); ++i)
        if (Items(i)->Visible())
            Items(i)->BuildList(rci);
}

void TMeshObjectList::ComputeExtents(TAffineVector& min, TAffineVector& max) const {
    min = {cBigExtent, cBigExtent, cBigExtent};
    max = {-cBigExtent, -cBigExtent, -cBigExtent};
    WidenExtents(min, max);
}

void TMeshObjectList::WidenExtents(TAffineVector& min, TAffineVector& max) const {
    for (int32_t i = 0; i < Count(); ++i) {
        TAffineVector low, high;
        Items(i)->ComputeExtents(low, high);
        Widen(min, max, low, high);
    }
}

void TMeshObjectList::Translate(const TAffineVector& delta) {
    for (int32_t i = 0; i < Count(); ++i)
        Items(i)->Translate(delta);
}

std::unique_ptr<TAffineVectorList> TMeshObjectList::GetTriangles(TAffineVectorList* texCoords,
                                                                 TAffineVectorList* normals) const {
    if (Count() == 1)
        return Items(0)->GetTriangles(texCoords, normals);
    auto triangles = std::make_unique<TAffineVectorList>();
    for (int32_t i = 0; i < Count(); ++i)
        triangles->AddList(Items(i)->GetTriangles(texCoords, normals).get());
    return triangles;
}

void TMeshObjectList::PrepareGeometry() {
    for (int32_t i = 0; i < Count(); ++i)
        Items(i)->PrepareGeometry();
}
