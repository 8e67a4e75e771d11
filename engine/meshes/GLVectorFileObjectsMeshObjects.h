// Mesh objects: named vertex lists with their normals, texture coordinates and colours, drawn
// as a triangle list, one strip, or by their face groups; and the list of a mesh scene object's
// mesh objects.
//
// Mesh data is drawn from client arrays declared once per mesh object, one glDrawElements per
// face group, with 32-bit indices; all of it is compiled into the owner's display list.
//
// Archives may come from users. Reading one checks every face-group index against the lists it
// reads from, and every list that is declared as a client array against the vertex count, and
// refuses the archive with EFilerException otherwise, so that drawing and GetTriangles never
// read beyond a list.
#pragma once

#include "engine/meshes/GLVectorFileObjectsFaceGroups.h"
#include "engine/meshes/PersistentClasses.h"
#include "engine/meshes/VectorLists.h"
#include "platform/framework/Sets.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TRenderContextInfo;
class TGLBaseMesh;
class TGLMaterialLibrary;
class TMeshObjectList;

enum TMeshObjectMode : uint8_t { omTriangles, omTriangleStrip, omFaceGroups };
enum TMeshObjectRenderingOption : uint8_t { moroGroupByMaterial };
using TMeshObjectRenderingOptions = TSet<TMeshObjectRenderingOption>;

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

// A mesh object with texture coordinates and colours, drawn as a triangle list, one strip, or by
// its face groups.
class TMeshObject : public TListedObject<TBaseMeshObject, TMeshObjectList> {
public:
    // Appends itself to `owner` when one is given.
    explicit TMeshObject(TMeshObjectList* owner) : TListedObject(owner) {}
    const char* ClassName() const override { return "TMeshObject"; }

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
    void ReadArchive(TBinaryReader& reader);
    void ReadExtraTexCoords(TBinaryReader& reader);
    void CheckArchivedIndices() const;
    void BuildFaceGroups(TRenderContextInfo& rci);
    void BuildGroupedByMaterial(TRenderContextInfo& rci);
    void BuildMaterialRuns(TRenderContextInfo& rci);
    void BuildVertexList(TRenderContextInfo& rci, bool colorMode);
    // The extra sets that are sent: non-empty ones, with multitexturing.
    std::vector<bool> UsedExtraTexCoords() const;

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
class TMeshObjectList : public TOwningObjectList<TMeshObjectList, TMeshObject> {
public:
    explicit TMeshObjectList(TGLBaseMesh* owner) : FOwner(owner) {}
    const char* ClassName() const override { return "TMeshObjectList"; }

    TGLBaseMesh* Owner() const { return FOwner; }

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
    // Widens `min` and `max` by the extents of every mesh object.
    void WidenExtents(TAffineVector& min, TAffineVector& max) const;
    void Translate(const TAffineVector& delta);
    std::unique_ptr<TAffineVectorList> GetTriangles(TAffineVectorList* texCoords = nullptr,
                                                    TAffineVectorList* normals = nullptr) const;
    void PrepareGeometry();

private:
    TGLBaseMesh* FOwner;
};
