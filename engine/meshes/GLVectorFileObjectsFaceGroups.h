// Face groups: the primitives of a mesh object, as indices into its lists, each drawn with one
// material of the mesh's library and, where it has one, a lightmap.
//
// A group of vertex indices draws with one glDrawElements from the arrays its mesh object
// declares; the groups with indices of their own send their vertices one at a time. Reading an
// archive checks every index against the lists it reads from (CheckIndices).
#pragma once

#include "engine/meshes/PersistentClasses.h"
#include "engine/meshes/VectorLists.h"

#include <cstdint>
#include <string>

struct TRenderContextInfo;
class TFaceGroup;
class TGLLibMaterial;
class TMeshObject;

enum TFaceGroupMode : uint8_t {
    fgTriangles,
    fgTriangleStrip,
    fgFlatTriangles,
    fgTriangleFan,
    fgQuads
};

// The face groups of a mesh object; owns them.
class TFaceGroups : public TOwningObjectList<TFaceGroups, TFaceGroup> {
public:
    explicit TFaceGroups(TMeshObject* owner) : FOwner(owner) {}
    const char* ClassName() const override { return "TFaceGroups"; }

    TMeshObject* Owner() const { return FOwner; }
    void Clear() { Clean(); }

private:
    TMeshObject* FOwner;
};

// A set of primitives of a mesh object, drawn with one library material.
class TFaceGroup : public TListedObject<TPersistentObject, TFaceGroups> {
public:
    // Appends itself to `owner` when one is given.
    explicit TFaceGroup(TFaceGroups* owner) : TListedObject(owner) {}
    const char* ClassName() const override { return "TFaceGroup"; }

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
    // Binds the group's lightmap on unit 1 when it differs from the last one bound.
    void ApplyLightmap(TRenderContextInfo& rci) const;
    // Reads a face-group mode, refusing values outside the enumeration.
    TFaceGroupMode ReadMode(TBinaryReader& reader) const;

private:
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
