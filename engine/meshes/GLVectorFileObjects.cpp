#include "engine/meshes/GLVectorFileObjects.h"

#include "engine/context/XOpenGL.h"
#include "engine/materials/GLMaterialLibrary.h"
#include "engine/scene/SceneGraphBuffer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

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
    FMeshObjects->WidenExtents(min, max);
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

namespace {

// Mesa records every corner of a list as a whole vertex (position, normal, texture
// coordinates, colour) with its index, and builds the compiled list beside the recorded one.
constexpr uint64_t ListBytesPerCorner = 2 * (12 + 12 + 8 + 16 + 4);
// What the driver needs besides, for instance to compile the shaders of the first frame.
constexpr uint64_t DriverWorkingBytes = 32u << 20;

} // namespace

bool TGLBaseMesh::ListFits() const {
    uint64_t corners = 0;
    for (int32_t i = 0; i < FMeshObjects->Count(); ++i)
        if ((*FMeshObjects)[i]->Visible())
            corners += 3 * static_cast<uint64_t>((*FMeshObjects)[i]->CountTriangles());
    return corners == 0 || AddressSpaceAvailable(corners * ListBytesPerCorner + DriverWorkingBytes);
}

void TGLBaseMesh::ReadMeshStream(const std::string& fileName, TStream& stream) {
    const int32_t kept = FMeshObjects->Count();
    // On a failure the mesh objects changed all the same: what is drawn follows what is kept.
    TOnFailure keepDrawingWhatIsKept([this] { StructureChanged(); });
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
        // A model whose display list the address space cannot hold goes now, before it takes
        // the frames down with it.
        if (!ListFits())
            throw std::bad_alloc();
    } catch (const std::bad_alloc&) {
        // What was read before memory ran out holds the memory the rest of the program needs:
        // it goes, and the mesh is left as it was before the read.
        DropMeshObjectsAfter(*FMeshObjects, kept);
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
    FListRefused = false;
    DropMaterialCaches();
    FMeshObjects->PrepareGeometry();
    TGLSceneObject::StructureChanged();
}

void TGLBaseMesh::DestroyListHandle() {
    FListCompiled = false;
    FListRefused = false;
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
    const bool compiles = !listValid && !ObjectStyle().Contains(sfDrawDirect);
    if (compiles && !rci.SkipDisplayLists && ListRefused(rci))
        return;
    if (rci.SkipDisplayLists || compiles)
        PrepareMaterials(rci);
    Material().Apply(rci);
    do
        DrawGeometry(rci);
    while (Material().UnApply(rci));
}

// A driver that runs out of memory while compiling a list may end the process, which is why the
// room is looked for first. A list refused is reported once, after the frame it was left out of,
// and the mesh is then left out of the frames that follow, which show the rest of the scene.
bool TGLBaseMesh::ListRefused(TRenderContextInfo& rci) {
    if (FListRefused)
        return true;
    if (ListFits())
        return false;
    FListRefused = true;
    if (rci.Buffer)
        rci.Buffer->NoteFrameOutOfMemory();
    return true;
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
