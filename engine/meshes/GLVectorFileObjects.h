// The mesh model: mesh objects holding vertex, normal, texture-coordinate and colour lists, face
// groups of indices saying which vertices form which primitives and which library material draws
// them, the registry of mesh file formats by extension, the engine's own mesh archive format, and
// the mesh scene objects that load a model file, post-process it and draw it from their display
// list.
//
// Mesh data is drawn from client arrays declared once per mesh object, one glDrawElements per
// face group, with 32-bit indices; all of it is compiled into the owner's display list.
//
// Archives ("glsm" files) may come from users. Reading one checks every face-group index against
// the lists it reads from, and every list that is declared as a client array against the vertex
// count, and refuses the archive with EFilerException otherwise, so that drawing and
// GetTriangles never read beyond a list.
#pragma once

#include "engine/meshes/ApplicationFileIO.h"
#include "engine/meshes/PersistentClasses.h"
#include "engine/meshes/VectorLists.h"
#include "engine/scene/SceneGraph.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TGLBaseMesh;
class TGLLibMaterial;
class TGLMaterialLibrary;
class TFaceGroup;
class TMeshObject;
class TMeshObjectList;

SKYVIEW_EXCEPTION(EInvalidVectorFile, Exception)

enum TMeshObjectMode : uint8_t { omTriangles, omTriangleStrip, omFaceGroups };
enum TFaceGroupMode : uint8_t {
    fgTriangles,
    fgTriangleStrip,
    fgFlatTriangles,
    fgTriangleFan,
    fgQuads
};
enum TMeshObjectRenderingOption : uint8_t { moroGroupByMaterial };
using TMeshObjectRenderingOptions = TSet<TMeshObjectRenderingOption>;
enum TMeshNormalsOrientation : uint8_t { mnoDefault, mnoInvert };
enum TMeshAutoCentering : uint8_t { macCenterX, macCenterY, macCenterZ, macUseBarycenter };
using TMeshAutoCenterings = TSet<TMeshAutoCentering>;

// A named set of vertices with their normals.
class TBaseMeshObject : public TPersistentObject {
public:
    const char* ClassName() const override { return "TBaseMeshObject"; }

    const std::string& Name() const { return FName; }
    void SetName(const std::string& value) { FName = value; }
    TAffineVectorList& Vertices() { return FVertices; }
    const TAffineVectorList& Vertices() const { return FVertices; }
    // Used per vertex only when there are as many as vertices.
    TAffineVectorList& Normals() { return FNormals; }
    const TAffineVectorList& Normals() const { return FNormals; }
    // The owning list draws only visible mesh objects.
    bool Visible() const { return FVisible; }
    void SetVisible(bool value) { FVisible = value; }

    // Adds the sum of the vertices to `sum` and their count to `count`.
    virtual void SumVertices(TAffineVector& sum, int32_t& count) const;
    // Empties every list, releasing its storage.
    virtual void Clear();
    virtual void Translate(const TAffineVector& delta);
    // The corners of the triangles, three per triangle, read as a triangle list; the optional
    // lists receive the matching texture coordinates and normals (zeros where there are none).
    virtual std::unique_ptr<TAffineVectorList>
    GetTriangles(TAffineVectorList* texCoords = nullptr,
                 TAffineVectorList* normals = nullptr) const;

    // Version 1: Name, Vertices, Normals, Visible.
    void WriteToFiler(TBinaryWriter& writer) const override;
    void ReadFromFiler(TBinaryReader& reader) override;

private:
    std::string FName;
    TAffineVectorList FVertices;
    TAffineVectorList FNormals;
    bool FVisible = true;
};

// The face groups of a mesh object; owns them.
class TFaceGroups : public TPersistentObjectList {
public:
    explicit TFaceGroups(TMeshObject* owner) : FOwner(owner) {}
    ~TFaceGroups() override;
    const char* ClassName() const override { return "TFaceGroups"; }

    TMeshObject* Owner() const { return FOwner; }
    TFaceGroup* Items(int32_t index) const;
    TFaceGroup* operator[](int32_t index) const { return Items(index); }

    // Frees every face group, detached from the list first.
    void Clean() override;
    void Clear() { Clean(); }

    // As the mesh object list: absent items dropped, every group read owned.
    void ReadFromFiler(TBinaryReader& reader) override;

protected:
    bool AcceptsItem(const TPersistentObject& item) const override;

private:
    void AdoptItems();
    TMeshObject* FOwner;
};

// A mesh object with texture coordinates and colours, drawn as a triangle list, one strip, or by
// its face groups.
class TMeshObject : public TBaseMeshObject {
public:
    // Appends itself to `owner` when one is given.
    explicit TMeshObject(TMeshObjectList* owner);
    // Leaves its owner.
    ~TMeshObject() override;
    const char* ClassName() const override { return "TMeshObject"; }

    TMeshObjectList* Owner() const { return FOwner; }
    // One per vertex; only x (s) and y (t) are sent to OpenGL.
    TAffineVectorList& TexCoords() { return FTexCoords; }
    const TAffineVectorList& TexCoords() const { return FTexCoords; }
    // Coordinates of the second (lightmap) unit.
    TTexPointList& LightmapTexCoords() { return FLightmapTexCoords; }
    const TTexPointList& LightmapTexCoords() const { return FLightmapTexCoords; }
    // RGBA per vertex; used only when there are as many as vertices.
    TVectorList& Colors() { return FColors; }
    const TVectorList& Colors() const { return FColors; }
    TFaceGroups& FaceGroups() { return FFaceGroups; }
    const TFaceGroups& FaceGroups() const { return FFaceGroups; }
    TMeshObjectMode Mode() const { return FMode; }
    // A value outside the enumeration is an assertion failure.
    void SetMode(TMeshObjectMode value);
    TMeshObjectRenderingOptions RenderingOptions() const { return FRenderingOptions; }
    void SetRenderingOptions(TMeshObjectRenderingOptions value) { FRenderingOptions = value; }
    // Draw all face groups of one library material together, whatever their order.
    bool GroupByMaterial() const { return FRenderingOptions.Contains(moroGroupByMaterial); }
    // Further 4-component coordinate sets, set k for texture unit k.
    int32_t ExtraTexCoordCount() const { return static_cast<int32_t>(FExtraTexCoords.size()); }
    // Set `index`, appending empty sets until it exists.
    TVectorList& ExtraTexCoordSet(int32_t index);
    // Set indexes kept for shaders; a negative value is an assertion failure.
    int32_t AuxSetIndex1() const { return FAuxSetIndex1; }
    void SetAuxSetIndex1(int32_t value);
    int32_t AuxSetIndex2() const { return FAuxSetIndex2; }
    void SetAuxSetIndex2(int32_t value);

    // Uploads the textures of the face groups' library materials before a display list is
    // compiled (face-group mode with a mesh material library in the render state).
    virtual void PrepareMaterials(TRenderContextInfo& rci);
    // Draws the mesh object; runs while the owner compiles its display list.
    virtual void BuildList(TRenderContextInfo& rci);
    // Inside the extents, bounds included.
    virtual bool ContainsPoint(const TAffineVector& point) const;

    void Clear() override;
    std::unique_ptr<TAffineVectorList>
    GetTriangles(TAffineVectorList* texCoords = nullptr,
                 TAffineVectorList* normals = nullptr) const override;
    virtual int32_t CountTriangles() const;
    // The extents of the vertices.
    virtual void ComputeExtents(TAffineVector& min, TAffineVector& max) const;
    virtual void PrepareGeometry();

    // Declares the lists as client arrays; once declared, only a change of the texture units
    // fed since is declared again, unless forced.
    void BindArrays(TRenderContextInfo& rci, bool force);
    void UnbindArrays(TRenderContextInfo& rci);
    // Texturing on the lightmap unit (unit 1), switched only when it changes.
    void EnableLightmap();
    void DisableLightmap();
    // Raises EFilerException when a list that is declared as a client array holds fewer items
    // than there are vertices: the check of an archive that was read.
    void CheckClientArrays() const;

    // Run-time state of a build.
    bool ArraysBound() const { return FArraysBound; }
    bool LightmapUnitEnabled() const { return FLightmapUnitEnabled; }
    int32_t LastLightmapIndex() const { return FLastLightmapIndex; }
    void SetLastLightmapIndex(int32_t value) { FLastLightmapIndex = value; }
    uint32_t LastTexCoordMapping() const { return FLastTexCoordMapping; }

    // Version 2: TexCoords, LightmapTexCoords, Colors, FaceGroups, Mode, the option set, the
    // extra sets and the two set indexes. Reading leaves the object empty when it fails.
    void WriteToFiler(TBinaryWriter& writer) const override;
    void ReadFromFiler(TBinaryReader& reader) override;

private:
    friend class TMeshObjectList;
    void ReadArchive(TBinaryReader& reader);
    void ReadExtraTexCoords(TBinaryReader& reader);
    void CheckArchivedIndices() const;
    void BuildFaceGroups(TRenderContextInfo& rci);
    void BuildGroupedByMaterial(TRenderContextInfo& rci);
    void BuildMaterialRuns(TRenderContextInfo& rci);
    void BuildVertexList(TRenderContextInfo& rci, bool colorMode);
    // The extra sets that are sent: non-empty ones, with multitexturing.
    std::vector<bool> UsedExtraTexCoords() const;

    TMeshObjectList* FOwner = nullptr;
    TAffineVectorList FTexCoords;
    TTexPointList FLightmapTexCoords;
    TVectorList FColors;
    TFaceGroups FFaceGroups{this};
    TMeshObjectMode FMode = omTriangles;
    TMeshObjectRenderingOptions FRenderingOptions;
    std::vector<std::unique_ptr<TVectorList>> FExtraTexCoords;
    int32_t FAuxSetIndex1 = 2;
    int32_t FAuxSetIndex2 = 1;
    bool FArraysBound = false;
    bool FLightmapUnitEnabled = false;
    int32_t FLastLightmapIndex = -1;
    uint32_t FLastTexCoordMapping = 0;
};

// The mesh objects of a mesh scene object; owns them.
class TMeshObjectList : public TPersistentObjectList {
public:
    explicit TMeshObjectList(TGLBaseMesh* owner);
    ~TMeshObjectList() override;
    const char* ClassName() const override { return "TMeshObjectList"; }

    TGLBaseMesh* Owner() const { return FOwner; }
    TMeshObject* Items(int32_t index) const {
        return static_cast<TMeshObject*>(TPersistentObjectList::Items(index));
    }
    TMeshObject* operator[](int32_t index) const { return Items(index); }

    // Frees every mesh object, detached from the list first.
    void Clean() override;
    // Drops the material caches and frees every mesh object.
    void Clear();
    // Moves every mesh object of `source` to the end of this list.
    void TakeAll(TMeshObjectList& source);

    // Resolves each face group's material name in `library` (none without a library).
    void BindMaterialCaches(TGLMaterialLibrary* library);
    void DropMaterialCaches();
    // Both on the visible mesh objects, in order.
    virtual void PrepareMaterials(TRenderContextInfo& rci);
    virtual void BuildList(TRenderContextInfo& rci);
    // From (1e30, 1e30, 1e30) / (-1e30, -1e30, -1e30), widened by every mesh object.
    void ComputeExtents(TAffineVector& min, TAffineVector& max) const;
    void Translate(const TAffineVector& delta);
    std::unique_ptr<TAffineVectorList> GetTriangles(TAffineVectorList* texCoords = nullptr,
                                                    TAffineVectorList* normals = nullptr) const;
    void PrepareGeometry();

    // Absent items are dropped; every mesh object read belongs to this list, also when the
    // read fails part of the way.
    void ReadFromFiler(TBinaryReader& reader) override;

protected:
    bool AcceptsItem(const TPersistentObject& item) const override;

private:
    void AdoptItems();
    TGLBaseMesh* FOwner;
};

// A set of primitives of a mesh object, drawn with one library material.
class TFaceGroup : public TPersistentObject {
public:
    // Appends itself to `owner` when one is given.
    explicit TFaceGroup(TFaceGroups* owner);
    // Leaves its owner.
    ~TFaceGroup() override;
    const char* ClassName() const override { return "TFaceGroup"; }

    TFaceGroups* Owner() const { return FOwner; }
    // The mesh object the group belongs to, or none.
    TMeshObject* MeshObject() const;
    // The name of a material of the mesh's library; empty for none.
    const std::string& MaterialName() const { return FMaterialName; }
    void SetMaterialName(const std::string& value) { FMaterialName = value; }
    // The library material of that name, while the owner keeps the caches bound; not owned.
    TGLLibMaterial* MaterialCache() const { return FMaterialCache; }
    void SetMaterialCache(TGLLibMaterial* value) { FMaterialCache = value; }
    // A material of the lightmap library, -1 for none.
    int32_t LightmapIndex() const { return FLightmapIndex; }
    void SetLightmapIndex(int32_t value) { FLightmapIndex = value; }
    // The grouped render pass that drew it last.
    int32_t RenderPass() const { return FRenderPass; }
    void SetRenderPass(int32_t value) { FRenderPass = value; }

    virtual void BuildList(TRenderContextInfo& rci) = 0;
    // Appends the group's triangle corners and, to the optional lists, their texture
    // coordinates and normals.
    virtual void AppendTriangles(TAffineVectorList& vertices, TAffineVectorList* texCoords,
                                 TAffineVectorList* normals) const;
    virtual int32_t CountTriangles() const = 0;
    // Turns the winding round; nothing here.
    virtual void Reverse();
    virtual void PrepareGeometry();
    // Raises EFilerException when drawing the group or GetTriangles would read beyond a list of
    // `meshObject`: the check of an archive that was read.
    virtual void CheckIndices(const TMeshObject& meshObject) const;

    // Version 1 when there is a lightmap, else 0: MaterialName, then LightmapIndex.
    void WriteToFiler(TBinaryWriter& writer) const override;
    void ReadFromFiler(TBinaryReader& reader) override;

protected:
    friend class TFaceGroups;
    // Binds the group's lightmap on unit 1 when it differs from the last one bound.
    void ApplyLightmap(TRenderContextInfo& rci) const;
    // Reads a face-group mode, refusing values outside the enumeration.
    TFaceGroupMode ReadMode(TBinaryReader& reader) const;

private:
    TFaceGroups* FOwner = nullptr;
    std::string FMaterialName;
    TGLLibMaterial* FMaterialCache = nullptr;
    int32_t FLightmapIndex = -1;
    int32_t FRenderPass = 0;
};

// Primitives of the mesh object's own vertices, drawn from its client arrays.
class TFGVertexIndexList : public TFaceGroup {
public:
    explicit TFGVertexIndexList(TFaceGroups* owner) : TFaceGroup(owner) {}
    const char* ClassName() const override { return "TFGVertexIndexList"; }

    // Indexes into the mesh object's lists.
    TIntegerList& VertexIndices() { return FVertexIndices; }
    const TIntegerList& VertexIndices() const { return FVertexIndices; }
    TFaceGroupMode Mode() const { return FMode; }
    void SetMode(TFaceGroupMode value);
    void AddIndex(int32_t index) { FVertexIndices.Add(index); }

    // Nothing without indices; else binds the owner's arrays and draws one glDrawElements.
    void BuildList(TRenderContextInfo& rci) override;
    void AppendTriangles(TAffineVectorList& vertices, TAffineVectorList* texCoords,
                         TAffineVectorList* normals) const override;
    int32_t CountTriangles() const override;
    void Reverse() override;
    void CheckIndices(const TMeshObject& meshObject) const override;

    // Version 0: VertexIndices, Mode.
    void WriteToFiler(TBinaryWriter& writer) const override;
    void ReadFromFiler(TBinaryReader& reader) override;

protected:
    // Raises EFilerException unless every entry of `indices` lies in 0 .. count - 1.
    void CheckRange(const TIntegerList& indices, int32_t count, const char* what) const;

private:
    TIntegerList FVertexIndices;
    TFaceGroupMode FMode = fgTriangles;
};

// Primitives with normals and texture coordinates of their own indices, drawn one vertex at a
// time; an empty index list means that the vertex indices serve in its place.
class TFGVertexNormalTexIndexList : public TFGVertexIndexList {
public:
    using TFGVertexIndexList::TFGVertexIndexList;
    const char* ClassName() const override { return "TFGVertexNormalTexIndexList"; }

    TIntegerList& NormalIndices() { return FNormalIndices; }
    const TIntegerList& NormalIndices() const { return FNormalIndices; }
    TIntegerList& TexCoordIndices() { return FTexCoordIndices; }
    const TIntegerList& TexCoordIndices() const { return FTexCoordIndices; }

    // Index lists shorter than the vertex indices, and quads, are assertion failures.
    void BuildList(TRenderContextInfo& rci) override;
    void AppendTriangles(TAffineVectorList& vertices, TAffineVectorList* texCoords,
                         TAffineVectorList* normals) const override;
    void Reverse() override;
    void CheckIndices(const TMeshObject& meshObject) const override;

    // Version 0: NormalIndices, TexCoordIndices.
    void WriteToFiler(TBinaryWriter& writer) const override;
    void ReadFromFiler(TBinaryReader& reader) override;

private:
    const TIntegerList& NormalIndexSource() const;
    const TIntegerList& TexCoordIndexSource() const;
    TIntegerList FNormalIndices;
    TIntegerList FTexCoordIndices;
};

// Primitives with one texture coordinate per index instead of per vertex.
class TFGIndexTexCoordList : public TFGVertexIndexList {
public:
    using TFGVertexIndexList::TFGVertexIndexList;
    const char* ClassName() const override { return "TFGIndexTexCoordList"; }

    TAffineVectorList& TexCoords() { return FTexCoords; }
    const TAffineVectorList& TexCoords() const { return FTexCoords; }

    // As many texture coordinates as indices, or an assertion failure.
    void BuildList(TRenderContextInfo& rci) override;
    void AppendTriangles(TAffineVectorList& vertices, TAffineVectorList* texCoords,
                         TAffineVectorList* normals) const override;
    void Reverse() override;
    void CheckIndices(const TMeshObject& meshObject) const override;

    // Version 0: TexCoords.
    void WriteToFiler(TBinaryWriter& writer) const override;
    void ReadFromFiler(TBinaryReader& reader) override;

private:
    TAffineVectorList FTexCoords;
};

// --- File formats ------------------------------------------------------------------------------

// Reads (and possibly writes) one mesh file format into the mesh objects of its owner.
class TVectorFile : public TDataFile {
public:
    // The owner must be a TGLBaseMesh (assertion).
    explicit TVectorFile(TPersistent* owner);
    const char* ClassName() const override { return "TVectorFile"; }

    TGLBaseMesh* Owner() const { return FMesh; }
    TMeshNormalsOrientation NormalsOrientation() const { return FNormalsOrientation; }
    virtual void SetNormalsOrientation(TMeshNormalsOrientation value);

private:
    TGLBaseMesh* FMesh;
    TMeshNormalsOrientation FNormalsOrientation = mnoDefault;
};

// What the format registry knows of a format class: how to make a format object for a mesh,
// and the class as the class registry holds it.
struct TVectorFileClassRef {
    std::unique_ptr<TVectorFile> (*Create)(TPersistent* owner);
    TPersistentClass PersistentClass;

    std::unique_ptr<TVectorFile> operator()(TPersistent* owner) const { return Create(owner); }
};
// A format class: &CreateVectorFile<T>.
using TVectorFileClass = const TVectorFileClassRef*;

template <typename T> std::unique_ptr<TVectorFile> MakeVectorFile(TPersistent* owner) {
    return std::make_unique<T>(owner);
}

// The format class T, as RegisterFormat takes it (&CreateVectorFile<T>); calling it makes a T
// for a mesh.
template <typename T>
inline constexpr TVectorFileClassRef CreateVectorFile{&MakeVectorFile<T>, &CreateInstance<T>};

// One registered format.
class TVectorFileFormat : public TObject {
public:
    const char* ClassName() const override { return "TVectorFileFormat"; }

    TVectorFileClass FormatClass = nullptr;
    std::string Extension; // lower case, without the dot
    std::string Description;
    int32_t DescriptionResourceId = 0;
};

// The registered formats in registration order; owns them.
class TVectorFileFormatsList : public TPersistentObjectList {
public:
    ~TVectorFileFormatsList() override;
    const char* ClassName() const override { return "TVectorFileFormatsList"; }

    TVectorFileFormat* Items(int32_t index) const {
        return static_cast<TVectorFileFormat*>(TPersistentObjectList::Items(index));
    }

    // Registers the class with the class registry under its name, unless the name is taken,
    // then appends a registration; an extension registered before is not replaced, but the
    // later registration wins in the look-ups.
    void RegisterFormat(const std::string& extension, const std::string& description,
                        TVectorFileClass formatClass);
    // The class of the last registration of `extension` (any case), or none.
    TVectorFileClass FindFormatByExtension(const std::string& extension) const;
    // The class for the extension of `fileName` (after the last dot of its last path element);
    // raises EInvalidVectorFile "Unknown file extension (<ext>), maybe you forgot to add the
    // support unit to your uses? (GLFile<EXT>?)" when none is registered.
    TVectorFileClass FindFormatForFileName(const std::string& fileName) const;
};

// The process-wide registry, made on first use.
TVectorFileFormatsList& GetVectorFileFormats();

// The engine's own mesh archive ("glsm"): the owner's mesh objects in their archive form.
class TGLGLSMVectorFile : public TVectorFile {
public:
    using TVectorFile::TVectorFile;
    const char* ClassName() const override { return "TGLGLSMVectorFile"; }

    TDataFileCapabilities Capabilities() const override { return dfcRead | dfcWrite; }
    std::unique_ptr<TDataFile> CreateCopy(TPersistent* owner) const override;
    // Appends the archive's mesh objects to the owner's.
    void ReadStream(TStream& stream) override;
    void WriteStream(TStream& stream) override;
};

// --- Mesh scene objects ------------------------------------------------------------------------

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
