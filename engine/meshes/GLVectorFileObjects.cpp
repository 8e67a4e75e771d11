#include "engine/meshes/GLVectorFileObjects.h"

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLMaterialLibrary.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {

constexpr float cBigExtent = 1e30f;

// The tag of the next grouped render pass, shared by every mesh object.
int32_t RenderPassCounter = 1;

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

// --- TFaceGroups -----------------------------------------------------------------------------

TFaceGroups::~TFaceGroups() {
    Clean();
}

TFaceGroup* TFaceGroups::Items(int32_t index) const {
    return static_cast<TFaceGroup*>(TPersistentObjectList::Items(index));
}

void TFaceGroups::Clean() {
    for (int32_t i = 0; i < Count(); ++i)
        if (TFaceGroup* group = Items(i))
            group->FOwner = nullptr;
    TPersistentObjectList::Clean();
}

bool TFaceGroups::AcceptsItem(const TPersistentObject& item) const {
    return dynamic_cast<const TFaceGroup*>(&item) != nullptr;
}

void TFaceGroups::ReadFromFiler(TBinaryReader& reader) {
    TFinally adopt([this] { AdoptItems(); });
    TPersistentObjectList::ReadFromFiler(reader);
}

void TFaceGroups::AdoptItems() {
    std::vector<TFaceGroup*> groups;
    groups.reserve(static_cast<size_t>(Count()));
    for (int32_t i = 0; i < Count(); ++i)
        if (TFaceGroup* group = Items(i))
            groups.push_back(group);
    TPersistentObjectList::Clear();
    for (TFaceGroup* group : groups) {
        group->FOwner = this;
        Add(group);
    }
}

// --- TMeshObject -----------------------------------------------------------------------------

TMeshObject::TMeshObject(TMeshObjectList* owner) : FOwner(owner) {
    if (owner)
        owner->Add(this);
}

TMeshObject::~TMeshObject() {
    if (FOwner)
        FOwner->Remove(this);
}

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
    try {
        ReadArchive(reader);
    } catch (...) {
        Clear();
        throw;
    }
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

TMeshObjectList::TMeshObjectList(TGLBaseMesh* owner) : FOwner(owner) {}

TMeshObjectList::~TMeshObjectList() {
    Clean();
}

void TMeshObjectList::Clean() {
    for (int32_t i = 0; i < Count(); ++i)
        if (TMeshObject* meshObject = Items(i))
            meshObject->FOwner = nullptr;
    TPersistentObjectList::Clean();
}

void TMeshObjectList::Clear() {
    DropMaterialCaches();
    Clean();
}

void TMeshObjectList::TakeAll(TMeshObjectList& source) {
    for (int32_t i = 0; i < source.Count(); ++i) {
        if (TMeshObject* meshObject = source.Items(i)) {
            meshObject->FOwner = this;
            Add(meshObject);
        }
    }
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

bool TMeshObjectList::AcceptsItem(const TPersistentObject& item) const {
    return dynamic_cast<const TMeshObject*>(&item) != nullptr;
}

void TMeshObjectList::ReadFromFiler(TBinaryReader& reader) {
    TFinally adopt([this] { AdoptItems(); });
    TPersistentObjectList::ReadFromFiler(reader);
}

void TMeshObjectList::AdoptItems() {
    std::vector<TMeshObject*> meshObjects;
    meshObjects.reserve(static_cast<size_t>(Count()));
    for (int32_t i = 0; i < Count(); ++i)
        if (TMeshObject* meshObject = Items(i))
            meshObjects.push_back(meshObject);
    TPersistentObjectList::Clear();
    for (TMeshObject* meshObject : meshObjects) {
        meshObject->FOwner = this;
        Add(meshObject);
    }
}

// --- TFaceGroup ------------------------------------------------------------------------------

TFaceGroup::TFaceGroup(TFaceGroups* owner) : FOwner(owner) {
    if (owner)
        owner->Add(this);
}

TFaceGroup::~TFaceGroup() {
    if (FOwner)
        FOwner->Remove(this);
}

TMeshObject* TFaceGroup::MeshObject() const {
    return FOwner ? FOwner->Owner() : nullptr;
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

// --- File formats ----------------------------------------------------------------------------

namespace {

std::string AsciiLowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string AsciiUpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The characters after the last dot of the last path element; empty when it has no dot.
std::string ExtensionOf(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = fileName.find_last_of('.');
    return dot == std::string::npos || dot < start ? std::string() : fileName.substr(dot + 1);
}

// A format object is only ever made for a mesh, so a bare mesh stands in to ask the class its
// name. A name already taken stays with its class: a class that does not name itself reports its
// base's name, which must not keep its format from registering.
void RegisterClassName(const TVectorFileClassRef& formatClass) {
    TGLBaseMesh mesh(nullptr);
    const std::string name = formatClass(&mesh)->ClassName();
    if (!GetClass(name))
        RegisterClass(name, formatClass.PersistentClass);
}

} // namespace

TVectorFile::TVectorFile(TPersistent* owner)
    : TDataFile(owner), FMesh(dynamic_cast<TGLBaseMesh*>(owner)) {
    Assert(FMesh != nullptr, "A vector file belongs to a mesh");
}

void TVectorFile::SetNormalsOrientation(TMeshNormalsOrientation value) {
    FNormalsOrientation = value;
}

TVectorFileFormatsList::~TVectorFileFormatsList() {
    Clean();
}

void TVectorFileFormatsList::RegisterFormat(const std::string& extension,
                                            const std::string& description,
                                            TVectorFileClass formatClass) {
    RegisterClassName(*formatClass);
    auto format = std::make_unique<TVectorFileFormat>();
    format->FormatClass = formatClass;
    format->Extension = AsciiLowerCase(extension);
    format->Description = description;
    Add(format.release());
}

TVectorFileClass TVectorFileFormatsList::FindFormatByExtension(const std::string& extension) const {
    const std::string wanted = AsciiLowerCase(extension);
    for (int32_t i = Count() - 1; i >= 0; --i)
        if (Items(i)->Extension == wanted)
            return Items(i)->FormatClass;
    return nullptr;
}

TVectorFileClass TVectorFileFormatsList::FindFormatForFileName(const std::string& fileName) const {
    const std::string extension = ExtensionOf(fileName);
    const TVectorFileClass formatClass = FindFormatByExtension(extension);
    if (!formatClass)
        throw EInvalidVectorFile(Format("Unknown file extension (%s), maybe you forgot to add the "
                                        "support unit to your uses? (%s?)",
                                        extension.c_str(),
                                        ("GLFile" + AsciiUpperCase(extension)).c_str()));
    return formatClass;
}

TVectorFileFormatsList& GetVectorFileFormats() {
    static TVectorFileFormatsList formats;
    return formats;
}

std::unique_ptr<TDataFile> TGLGLSMVectorFile::CreateCopy(TPersistent* owner) const {
    return std::make_unique<TGLGLSMVectorFile>(owner);
}

void TGLGLSMVectorFile::ReadStream(TStream& stream) {
    // Read into a list of its own, so that an addition keeps the mesh objects already there; the
    // ones read before a failure stay, as with any reader.
    TMeshObjectList read(nullptr);
    TFinally append([this, &read] { Owner()->MeshObjects().TakeAll(read); });
    read.LoadFromStream(stream);
}

void TGLGLSMVectorFile::WriteStream(TStream& stream) {
    Owner()->MeshObjects().SaveToStream(stream);
}

// --- TGLBaseMesh -----------------------------------------------------------------------------

TGLBaseMesh::TGLBaseMesh(TComponent* owner)
    : TGLSceneObject(owner), FMeshObjects(std::make_unique<TMeshObjectList>(this)),
      FAutoScaling(std::make_unique<TGLCoordinates>(this, TVector{1, 1, 1, 1}, ckFree)) {
    SetObjectStyle(ObjectStyle() + TObjectStyle{sfChangesColorsOrWinding});
}

TGLBaseMesh::~TGLBaseMesh() {
    DropMaterialCaches();
}

void TGLBaseMesh::Notification(TComponent* component, TOperation operation) {
    // A library going away is past use: its items are freed and its handles are its own.
    if (operation == opRemove && component &&
        (component == FMaterialLibrary || component == FLightmapLibrary)) {
        DropMaterialCaches();
        if (component == FMaterialLibrary)
            FMaterialLibrary = nullptr;
        if (component == FLightmapLibrary)
            FLightmapLibrary = nullptr;
        TGLSceneObject::DestroyListHandle();
        StructureChanged();
    }
    TGLSceneObject::Notification(component, operation);
}

TGLBaseSceneObject* TGLBaseMesh::CreateOfSameClass(TComponent* owner) const {
    return new TGLBaseMesh(owner);
}

void TGLBaseMesh::Assign(const TPersistent* source) {
    if (const auto* mesh = dynamic_cast<const TGLBaseMesh*>(source); mesh && mesh != this) {
        DropMaterialCaches();
        FNormalsOrientation = mesh->FNormalsOrientation;
        FHalfExtentsCache = mesh->FHalfExtentsCache;
        FUseMeshMaterials = mesh->FUseMeshMaterials;
        FOverlaySkeleton = mesh->FOverlaySkeleton;
        FTolerateMissingTextures = mesh->FTolerateMissingTextures;
        FAutoCentering = mesh->FAutoCentering;
        SetMaterialLibrary(mesh->FMaterialLibrary);
        SetLightmapLibrary(mesh->FLightmapLibrary);
        FAutoScaling->Assign(mesh->FAutoScaling.get());
        FMeshObjects->Assign(mesh->FMeshObjects.get());
    }
    TGLSceneObject::Assign(source);
}

void TGLBaseMesh::SetUseMeshMaterials(bool value) {
    if (!StoreIfChanged(FUseMeshMaterials, value))
        return;
    if (!value)
        DropMaterialCaches();
    StructureChanged();
}

void TGLBaseMesh::SetNormalsOrientation(TMeshNormalsOrientation value) {
    if (StoreIfChanged(FNormalsOrientation, value))
        StructureChanged();
}

void TGLBaseMesh::SetMaterialLibrary(TGLMaterialLibrary* value) {
    if (value == FMaterialLibrary)
        return;
    DropMaterialCaches();
    if (FMaterialLibrary) {
        DestroyListHandle();
        if (FMaterialLibrary != FLightmapLibrary)
            RemoveFreeNotification(FMaterialLibrary);
    }
    FMaterialLibrary = value;
    if (value)
        FreeNotification(value);
    StructureChanged();
}

void TGLBaseMesh::SetLightmapLibrary(TGLMaterialLibrary* value) {
    if (value == FLightmapLibrary)
        return;
    if (FLightmapLibrary) {
        DestroyListHandle();
        if (FLightmapLibrary != FMaterialLibrary)
            RemoveFreeNotification(FLightmapLibrary);
    }
    FLightmapLibrary = value;
    if (value)
        FreeNotification(value);
    StructureChanged();
}

void TGLBaseMesh::BindMaterialCaches() {
    DropMaterialCaches();
    FMeshObjects->BindMaterialCaches(FMaterialLibrary);
    FMaterialCachesBound = true;
}

void TGLBaseMesh::DropMaterialCaches() {
    if (!FMaterialCachesBound)
        return;
    FMeshObjects->DropMaterialCaches();
    FMaterialCachesBound = false;
}

// --- geometry ---

void TGLBaseMesh::GetExtents(TAffineVector& min, TAffineVector& max) const {
    constexpr float infinity = std::numeric_limits<float>::infinity();
    min = {infinity, infinity, infinity};
    max = {-infinity, -infinity, -infinity};
    for (int32_t i = 0; i < FMeshObjects->Count(); ++i) {
        TAffineVector low, high;
        FMeshObjects->Items(i)->ComputeExtents(low, high);
        Widen(min, max, low, high);
    }
}

TAffineVector TGLBaseMesh::GetBarycenter() const {
    TAffineVector sum = NullVector;
    int32_t count = 0;
    for (int32_t i = 0; i < FMeshObjects->Count(); ++i)
        FMeshObjects->Items(i)->SumVertices(sum, count);
    if (count < 1)
        return NullVector;
    return VectorScale(sum, 1.0f / static_cast<float>(count));
}

TVector TGLBaseMesh::UnscaledHalfExtents() const {
    if (FHalfExtentsCache[0] < 0) {
        TAffineVector min, max;
        FMeshObjects->ComputeExtents(min, max);
        for (size_t k = 0; k < 3; ++k)
            FHalfExtentsCache[k] = std::max(std::abs(min[k]), std::abs(max[k]));
        FHalfExtentsCache[3] = 0;
    }
    return FHalfExtentsCache;
}

void TGLBaseMesh::PerformAutoScaling() {
    const TVector& factors = FAutoScaling->AsVector();
    if (factors[0] == 1 && factors[1] == 1 && factors[2] == 1)
        return;
    for (int32_t i = 0; i < FMeshObjects->Count(); ++i)
        FMeshObjects->Items(i)->Vertices().Scale(AffineVectorMake(factors));
}

void TGLBaseMesh::PerformAutoCentering() {
    // Negative zero on the axes left alone: adding it keeps every vertex bit for bit, so without
    // an axis to centre nothing moves, and a large model is spared two passes over its vertices.
    if (FAutoCentering.Empty())
        return;
    TAffineVector delta{-0.0f, -0.0f, -0.0f};
    if (FAutoCentering.Contains(macUseBarycenter)) {
        delta = VectorNegate(GetBarycenter());
    } else {
        TAffineVector min, max;
        GetExtents(min, max);
        const TMeshAutoCentering axes[3] = {macCenterX, macCenterY, macCenterZ};
        for (size_t k = 0; k < 3; ++k)
            if (FAutoCentering.Contains(axes[k]))
                delta[k] = -(min[k] + max[k]) * 0.5f;
    }
    FMeshObjects->Translate(delta);
}

namespace {

// The point where the ray from `origin` along `direction` meets the triangle, at or beyond the
// origin (either face).
bool RayCastTriangle(const TAffineVector& origin, const TAffineVector& direction,
                     const TAffineVector& p1, const TAffineVector& p2, const TAffineVector& p3,
                     TAffineVector& hit) {
    const TAffineVector edge1 = VectorSubtract(p2, p1);
    const TAffineVector edge2 = VectorSubtract(p3, p1);
    const TAffineVector p = CrossProduct(direction, edge2);
    const float determinant = DotProduct(edge1, p);
    if (std::abs(determinant) < 1e-12f)
        return false;
    const float inverse = 1.0f / determinant;
    const TAffineVector t = VectorSubtract(origin, p1);
    const float u = DotProduct(t, p) * inverse;
    if (u < 0 || u > 1)
        return false;
    const TAffineVector q = CrossProduct(t, edge1);
    const float v = DotProduct(direction, q) * inverse;
    if (v < 0 || u + v > 1)
        return false;
    const float distance = DotProduct(edge2, q) * inverse;
    if (distance < 0)
        return false;
    hit = VectorCombine(origin, direction, distance);
    return true;
}

} // namespace

bool TGLBaseMesh::RayIntersect(const TVector& rayStart, const TVector& rayVector,
                               TVector* intersectPoint, TVector* intersectNormal) const {
    const TAffineVector start =
        AffineVectorMake(AbsoluteToLocal(PointMake(AffineVectorMake(rayStart))));
    const TAffineVector direction =
        Normalized(AffineVectorMake(AbsoluteToLocal(VectorMake(AffineVectorMake(rayVector), 0))));
    const std::unique_ptr<TAffineVectorList> corners = FMeshObjects->GetTriangles();
    bool found = false;
    float nearest = 0;
    TAffineVector point{}, normal{};
    for (int32_t i = 0; i + 2 < corners->Count(); i += 3) {
        const TAffineVector &a = (*corners)[i], &b = (*corners)[i + 1], &c = (*corners)[i + 2];
        TAffineVector hit;
        if (!RayCastTriangle(start, direction, a, b, c, hit))
            continue;
        const float distance = DistanceSquared(start, hit);
        if (!found || distance < nearest) {
            found = true;
            nearest = distance;
            point = hit;
            normal = CrossProduct(VectorSubtract(b, a), VectorSubtract(c, a));
        }
    }
    if (!found)
        return false;
    if (intersectPoint)
        *intersectPoint = LocalToAbsolute(PointMake(point));
    if (intersectNormal) {
        TVector absolute = Normalized(LocalToAbsolute(VectorMake(normal, 0)));
        if (FNormalsOrientation == mnoInvert)
            NegateVector(absolute);
        absolute[3] = 0;
        *intersectNormal = absolute;
    }
    return true;
}

// --- loading ---

namespace {

// Frees the mesh objects after the first `count`; each leaves the list as it goes. Without any
// to keep, the list's own storage goes too.
void DropMeshObjectsAfter(TMeshObjectList& list, int32_t count) {
    if (count == 0)
        list.Clear();
    while (list.Count() > count) {
        if (TMeshObject* last = list[list.Count() - 1])
            delete last;
        else
            list.Remove(nullptr);
    }
}

} // namespace

std::unique_ptr<TVectorFile> TGLBaseMesh::CreateVectorFileFor(const std::string& fileName) {
    const TVectorFileClass formatClass = GetVectorFileFormats().FindFormatForFileName(fileName);
    std::unique_ptr<TVectorFile> file = (*formatClass)(this);
    file->SetResourceName(fileName);
    PrepareVectorFile(*file);
    return file;
}

void TGLBaseMesh::ReadMeshStream(const std::string& fileName, TStream& stream) {
    const int32_t kept = FMeshObjects->Count();
    try {
        const std::unique_ptr<TVectorFile> file = CreateVectorFileFor(fileName);
        TGLScene* scene = Scene();
        if (scene)
            scene->BeginUpdate();
        TFinally endUpdate([scene] {
            if (scene)
                scene->EndUpdate();
        });
        file->ReadStream(stream);
    } catch (const std::bad_alloc&) {
        // What was read before memory ran out holds the memory the rest of the program needs:
        // it goes, and the mesh is left as it was before the read.
        DropMeshObjectsAfter(*FMeshObjects, kept);
        StructureChanged();
        throw;
    } catch (...) {
        // The mesh objects changed all the same: what is drawn follows what is kept.
        StructureChanged();
        throw;
    }
}

void TGLBaseMesh::LoadMeshFile(const std::string& fileName) {
    FLastLoadedFileName.clear();
    if (fileName.empty())
        return;
    const std::unique_ptr<TStream> stream = OpenFileStream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadMeshFromStream(fileName, *stream);
}

void TGLBaseMesh::LoadMeshFromStream(const std::string& fileName, TStream& stream) {
    FLastLoadedFileName.clear();
    if (fileName.empty())
        return;
    FMeshObjects->Clear();
    ReadMeshStream(fileName, stream);
    FLastLoadedFileName = fileName;
    PerformAutoScaling();
    PerformAutoCentering();
    PrepareMesh();
}

void TGLBaseMesh::AddMeshFile(const std::string& fileName) {
    if (fileName.empty())
        return;
    const std::unique_ptr<TStream> stream = OpenFileStream(fileName, fmOpenRead | fmShareDenyWrite);
    AddMeshFromStream(fileName, *stream);
}

void TGLBaseMesh::AddMeshFromStream(const std::string& fileName, TStream& stream) {
    if (fileName.empty())
        return;
    ReadMeshStream(fileName, stream);
    PrepareMesh();
}

void TGLBaseMesh::SaveMeshFile(const std::string& fileName) {
    if (!fileName.empty())
        CreateVectorFileFor(fileName)->WriteFile(fileName);
}

void TGLBaseMesh::SaveMeshToStream(const std::string& fileName, TStream& stream) {
    CreateVectorFileFor(fileName)->WriteStream(stream);
}

void TGLBaseMesh::PrepareVectorFile(TVectorFile& file) const {
    file.SetNormalsOrientation(FNormalsOrientation);
}

void TGLBaseMesh::PrepareMesh() {
    StructureChanged();
}

// --- drawing ---

void TGLBaseMesh::StructureChanged() {
    FHalfExtentsCache[0] = -1;
    FListCompiled = false;
    DropMaterialCaches();
    FMeshObjects->PrepareGeometry();
    TGLSceneObject::StructureChanged();
}

void TGLBaseMesh::DestroyListHandle() {
    FListCompiled = false;
    // The next compilation resolves the names again: an item may have gone since.
    DropMaterialCaches();
    if (FMaterialLibrary)
        FMaterialLibrary->ReleaseHandles();
    if (FLightmapLibrary)
        FLightmapLibrary->ReleaseHandles();
    TGLSceneObject::DestroyListHandle();
}

void TGLBaseMesh::PrepareMaterials(TRenderContextInfo& rci) {
    FMeshObjects->PrepareMaterials(rci);
    if (FLightmapLibrary)
        FLightmapLibrary->PrepareTextures();
}

void TGLBaseMesh::BuildList(TRenderContextInfo& rci) {
    FMeshObjects->BuildList(rci);
}

void TGLBaseMesh::DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) {
    const bool lightmaps = FLightmapLibrary != nullptr;
    if (lightmaps)
        ForbidSecondUnit();
    {
        TFinally allowSecondUnit([lightmaps] {
            if (lightmaps)
                AllowSecondUnit();
        });
        if (renderSelf)
            RenderMesh(rci);
    }
    if (renderChildren && Count() > 0)
        RenderChildren(0, Count() - 1, rci);
}

void TGLBaseMesh::RenderMesh(TRenderContextInfo& rci) {
    if (Scene())
        Scene()->SetCurrentRenderedObject(this);
    const bool invert = FNormalsOrientation == mnoInvert;
    if (invert)
        rci.StateCache->InvertFrontFace();
    TFinally restoreWinding([&rci, invert] {
        if (invert)
            rci.StateCache->InvertFrontFace();
    });
    if (rci.SkipMaterials) {
        DrawGeometry(rci);
        return;
    }
    if (FUseMeshMaterials && FMaterialLibrary) {
        if (!FMaterialCachesBound)
            BindMaterialCaches();
        rci.MeshMaterialLibrary = FMaterialLibrary;
    } else {
        rci.MeshMaterialLibrary = nullptr;
    }
    rci.LightmapLibrary = FLightmapLibrary;
    TFinally forgetLibraries([&rci] {
        rci.MeshMaterialLibrary = nullptr;
        rci.LightmapLibrary = nullptr;
    });
    // Textures are uploaded before the display list that applies them is compiled.
    const bool listValid = FListCompiled && !Changes().Contains(chStructure);
    if (rci.SkipDisplayLists || (!listValid && !ObjectStyle().Contains(sfDrawDirect)))
        PrepareMaterials(rci);
    Material().Apply(rci);
    do
        DrawGeometry(rci);
    while (Material().UnApply(rci));
}

void TGLBaseMesh::DrawGeometry(TRenderContextInfo& rci) {
    DrawSelf(rci);
    if (!rci.SkipDisplayLists && !ObjectStyle().Contains(sfDrawDirect))
        FListCompiled = true;
}

// --- TGLFreeForm -----------------------------------------------------------------------------

TGLBaseSceneObject* TGLFreeForm::CreateOfSameClass(TComponent* owner) const {
    return new TGLFreeForm(owner);
}

void RegisterVectorFileObjects() {
    static const bool registered = [] {
        RegisterClass<TMeshObject>();
        RegisterClass<TFGVertexIndexList>();
        RegisterClass<TFGVertexNormalTexIndexList>();
        RegisterClass<TFGIndexTexCoordList>();
        RegisterClass<TGLFreeForm>();
        GetVectorFileFormats().RegisterFormat("glsm", "skyview mesh archive",
                                              &CreateVectorFile<TGLGLSMVectorFile>);
        return true;
    }();
    static_cast<void>(registered);
}
