// Mesh data for the tests of the mesh model: lists filled from initializers, a mesh object with a
// face group of every class, archives in memory and the errors that reading them raises, and a
// test format of the mesh registry.
#pragma once

#include "engine/meshes/GLVectorFileObjects.h"
#include "tests/support/ArchiveLoad.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

inline TAffineVector V(float x, float y, float z) {
    return AffineVectorMake(x, y, z);
}

template <typename TList, typename T> void Fill(TList& list, std::initializer_list<T> items) {
    for (const T& item : items)
        list.Add(item);
}

template <typename L> auto Items(const L& list) {
    return std::vector(list.begin(), list.end());
}

// "none", or the class and message of the exception that `action` raised.
inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "none";
}

// The x of each corner, for points whose x tells which vertex they are.
inline std::vector<int> CornerVertices(const TAffineVectorList& corners) {
    std::vector<int> vertices;
    for (const TAffineVector& corner : corners)
        vertices.push_back(int(corner[0]));
    return vertices;
}

inline TBytes Archive(const TPersistentObject& object) {
    TMemoryStream stream;
    object.SaveToStream(stream);
    return {stream.Memory(), stream.Memory() + stream.Size()};
}

// A quad of four vertices (0, 0, 0) .. (1, 1, 0) with normals, texture coordinates and nothing
// else, drawn in face-group mode by the groups the test adds.
inline TMeshObject* NewQuad(TMeshObjectList* owner, const std::string& name = "quad") {
    auto* quad = new TMeshObject(owner);
    quad->SetName(name);
    Fill(quad->Vertices(), {V(0, 0, 0), V(1, 0, 0), V(1, 1, 0), V(0, 1, 0)});
    Fill(quad->Normals(), {V(0, 0, 1), V(0, 0, 1), V(0, 0, 1), V(0, 0, 1)});
    Fill(quad->TexCoords(), {V(0, 0, 0), V(1, 0, 0), V(1, 1, 0), V(0, 1, 0)});
    quad->SetMode(omFaceGroups);
    return quad;
}

inline TFGVertexIndexList* NewTriangles(TMeshObject* meshObject,
                                        std::initializer_list<int32_t> indices,
                                        const std::string& material = "") {
    auto* group = new TFGVertexIndexList(&meshObject->FaceGroups());
    Fill(group->VertexIndices(), indices);
    group->SetMaterialName(material);
    return group;
}

// A list whose first mesh object uses every list and a face group of every class with
// non-default values, and whose second is an invisible triangle list.
inline void FillEveryKind(TMeshObjectList& list) {
    TMeshObject* quad = NewQuad(&list);
    Fill(quad->LightmapTexCoords(),
         {TexPointMake(0, 0), TexPointMake(1, 0), TexPointMake(1, 1), TexPointMake(0, 1)});
    Fill(quad->Colors(),
         {TVector{1, 0, 0, 1}, TVector{0, 1, 0, 1}, TVector{0, 0, 1, 1}, TVector{1, 1, 1, 0.5f}});
    Fill(quad->ExtraTexCoordSet(1), {TVector{1, 2, 3, 4}, TVector{5, 6, 7, 8},
                                     TVector{9, 10, 11, 12}, TVector{13, 14, 15, 16}});
    quad->SetRenderingOptions({moroGroupByMaterial});
    quad->SetAuxSetIndex1(3);
    quad->SetAuxSetIndex2(0);
    TFGVertexIndexList* triangles = NewTriangles(quad, {0, 1, 2, 0, 2, 3}, "Floor");
    triangles->SetLightmapIndex(2);
    auto* strip = new TFGVertexNormalTexIndexList(&quad->FaceGroups());
    Fill(strip->VertexIndices(), {0, 1, 3, 2});
    Fill(strip->NormalIndices(), {3, 2, 1, 0});
    Fill(strip->TexCoordIndices(), {1, 1, 2, 2});
    strip->SetMode(fgTriangleStrip);
    strip->SetMaterialName("Wall");
    auto* fan = new TFGIndexTexCoordList(&quad->FaceGroups());
    Fill(fan->VertexIndices(), {0, 1, 2, 3});
    Fill(fan->TexCoords(), {V(0.5f, 0.5f, 0), V(1, 0, 0), V(1, 1, 0), V(0, 1, 0)});
    fan->SetMode(fgTriangleFan);

    auto* triangleList = new TMeshObject(&list);
    triangleList->SetName("triangles");
    Fill(triangleList->Vertices(), {V(-1, -1, -1), V(2, 0, 0), V(0, 3, 0)});
    triangleList->SetVisible(false);
}

// A read-only format whose reading runs `Read` (or appends nothing).
class TTestVectorFile : public TVectorFile {
public:
    using TVectorFile::TVectorFile;
    const char* ClassName() const override { return "TTestVectorFile"; }
    std::unique_ptr<TDataFile> CreateCopy(TPersistent* owner) const override {
        return std::make_unique<TTestVectorFile>(owner);
    }
    void ReadStream(TStream&) override {
        LastOrientation = NormalsOrientation();
        if (Read)
            Read(*Owner());
    }
    static inline std::function<void(TGLBaseMesh&)> Read;
    static inline TMeshNormalsOrientation LastOrientation = mnoDefault;
};

// A format that does not name itself: it reports its base's name.
class TOtherVectorFile : public TTestVectorFile {
public:
    using TTestVectorFile::TTestVectorFile;
};

// The engine's classes and formats, and the test format for files named "*.skyviewtest";
// registering again does nothing.
inline void RegisterTestVectorFile() {
    static const bool registered = [] {
        RegisterVectorFileObjects();
        GetVectorFileFormats().RegisterFormat("skyviewtest", "test files",
                                              &CreateVectorFile<TTestVectorFile>);
        return true;
    }();
    static_cast<void>(registered);
}
