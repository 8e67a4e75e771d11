// The mesh scene objects: a scene object that owns mesh objects, fills them from model files
// through the format registry, post-processes them and draws them from its display list, and the
// free form, the mesh of a model read from a file.
//
// This header brings the whole mesh model along: the mesh objects and their face groups
// (GLVectorFileObjectsMeshObjects.h, GLVectorFileObjectsFaceGroups.h) and the file formats
// (GLVectorFileObjectsFormats.h).
#pragma once

#include "engine/meshes/GLVectorFileObjectsFaceGroups.h"
#include "engine/meshes/GLVectorFileObjectsFormats.h"
#include "engine/meshes/GLVectorFileObjectsMeshObjects.h"
#include "engine/scene/SceneGraph.h"

#include <cstdint>
#include <memory>
#include <string>

class TGLMaterialLibrary;

enum TMeshAutoCentering : uint8_t { macCenterX, macCenterY, macCenterZ, macUseBarycenter };
using TMeshAutoCenterings = TSet<TMeshAutoCentering>;

// A scene object that owns mesh objects, fills them from model files through the format
// registry, post-processes them (auto-scaling, auto-centering) and draws them from its display
// list with its own material and, when enabled, the face groups' library materials.
class TGLBaseMesh : public TGLSceneObject {
public:
    explicit TGLBaseMesh(TComponent* owner);
    ~TGLBaseMesh() override;
    const char* ClassName() const override { return "TGLBaseMesh"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;

    // From another mesh: its settings, libraries and a copy of its mesh objects, then what every
    // scene object copies.
    void Assign(const TPersistent* source) override;
    // Measured from the local origin, not from the centre of the box.
    TVector UnscaledHalfExtents() const override;
    void BuildList(TRenderContextInfo& rci) override;
    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;
    void DestroyListHandle() override;
    // Also drops the material caches and the half-extents cache.
    void StructureChanged() override;

    TMeshObjectList& MeshObjects() { return *FMeshObjects; }
    const TMeshObjectList& MeshObjects() const { return *FMeshObjects; }
    TMeshAutoCenterings AutoCentering() const { return FAutoCentering; }
    void SetAutoCentering(TMeshAutoCenterings value) { FAutoCentering = value; }
    TGLCoordinates& AutoScaling() { return *FAutoScaling; }
    const TGLCoordinates& AutoScaling() const { return *FAutoScaling; }
    void SetAutoScaling(const TGLCoordinates& value) { FAutoScaling->Assign(&value); }
    // The library of the face groups' materials; not owned, forgotten when it goes.
    TGLMaterialLibrary* MaterialLibrary() const { return FMaterialLibrary; }
    void SetMaterialLibrary(TGLMaterialLibrary* value);
    // The library whose materials' textures are the face groups' lightmaps.
    TGLMaterialLibrary* LightmapLibrary() const { return FLightmapLibrary; }
    void SetLightmapLibrary(TGLMaterialLibrary* value);
    bool UseMeshMaterials() const { return FUseMeshMaterials; }
    void SetUseMeshMaterials(bool value);
    TMeshNormalsOrientation NormalsOrientation() const { return FNormalsOrientation; }
    void SetNormalsOrientation(TMeshNormalsOrientation value);
    // Texture file errors of a conversion are swallowed.
    bool TolerateMissingTextures() const { return FTolerateMissingTextures; }
    void SetTolerateMissingTextures(bool value) { FTolerateMissingTextures = value; }
    bool OverlaySkeleton() const { return FOverlaySkeleton; }
    void SetOverlaySkeleton(bool value) { FOverlaySkeleton = value; }
    bool MaterialCachesBound() const { return FMaterialCachesBound; }
    // The file name of the last successful load, else empty.
    const std::string& LastLoadedFileName() const { return FLastLoadedFileName; }

    // From (+inf, +inf, +inf) / (-inf, -inf, -inf), widened by every mesh object.
    void GetExtents(TAffineVector& min, TAffineVector& max) const;
    // The mean of all vertices; (0, 0, 0) without vertices.
    TAffineVector GetBarycenter() const;
    // The nearest hit of the ray on the triangles of the mesh, in absolute coordinates; the
    // normal is negated for mnoInvert. The outputs are optional.
    bool RayIntersect(const TVector& rayStart, const TVector& rayVector, TVector* intersectPoint,
                      TVector* intersectNormal) const override;

    void BindMaterialCaches();
    void DropMaterialCaches();

    // Hands the mesh's settings to a format object.
    virtual void PrepareVectorFile(TVectorFile& file) const;
    // After a load or an addition: the display list is rebuilt.
    virtual void PrepareMesh();
    virtual void PrepareMaterials(TRenderContextInfo& rci);
    virtual void PerformAutoCentering();
    virtual void PerformAutoScaling();
    // Replaces the mesh objects with the file's; an empty name only clears LastLoadedFileName.
    // A missing file raises "File not found: \"<name>\"" with nothing cleared.
    virtual void LoadMeshFile(const std::string& fileName);
    // The format comes from the extension of `fileName`.
    virtual void LoadMeshFromStream(const std::string& fileName, TStream& stream);
    // Saving looks the format up before the file is created.
    virtual void SaveMeshFile(const std::string& fileName);
    virtual void SaveMeshToStream(const std::string& fileName, TStream& stream);
    // Appends the file's mesh objects, without auto-scaling or centering.
    virtual void AddMeshFile(const std::string& fileName);
    virtual void AddMeshFromStream(const std::string& fileName, TStream& stream);

protected:
    // A library that goes is forgotten, with the display list and caches that referred to it.
    void Notification(TComponent* component, TOperation operation) override;

private:
    std::unique_ptr<TVectorFile> CreateVectorFileFor(const std::string& fileName);
    // Reads `stream` with the format of `fileName` inside the scene's update bracket.
    void ReadMeshStream(const std::string& fileName, TStream& stream);
    void RenderMesh(TRenderContextInfo& rci);
    // Draws the geometry, from the display list unless drawn directly.
    void DrawGeometry(TRenderContextInfo& rci);
    // Whether the address space left can hold the compilation of the geometry's display list
    // (an estimate with room to spare).
    bool ListFits() const;
    // Before a display list is compiled: whether the mesh stays out of the frame because the
    // compilation did not fit (noted to the frame's buffer the first time).
    bool ListRefused(TRenderContextInfo& rci);

    std::unique_ptr<TMeshObjectList> FMeshObjects;
    std::unique_ptr<TGLCoordinates> FAutoScaling;
    TMeshAutoCenterings FAutoCentering;
    TGLMaterialLibrary* FMaterialLibrary = nullptr; // not owned
    TGLMaterialLibrary* FLightmapLibrary = nullptr; // not owned
    bool FUseMeshMaterials = true;
    TMeshNormalsOrientation FNormalsOrientation = mnoDefault;
    bool FTolerateMissingTextures = false;
    bool FOverlaySkeleton = false;
    bool FMaterialCachesBound = false;
    // The display list holds the current geometry: its materials were prepared.
    bool FListCompiled = false;
    // The geometry's list did not fit: nothing is drawn until the geometry or the context
    // changes.
    bool FListRefused = false;
    mutable TVector FHalfExtentsCache{-1, 0, 0, 0}; // x below 0: invalid
    std::string FLastLoadedFileName;
};

// The mesh scene object of a model read from a file.
class TGLFreeForm : public TGLBaseMesh {
public:
    using TGLBaseMesh::TGLBaseMesh;
    const char* ClassName() const override { return "TGLFreeForm"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;
};

// Registers the mesh classes by name (so that archives can name them), the free form, and the
// "glsm" format; registering again does nothing.
void RegisterVectorFileObjects();
