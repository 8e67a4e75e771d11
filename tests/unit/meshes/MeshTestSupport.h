// Mesh data for the tests of the mesh model: lists filled from initializers, a mesh object with a
// face group of every class, archives in memory and the errors that reading them raises.
#pragma once

#include "engine/meshes/GLVectorFileObjects.h"
#include "tests/support/ArchiveLoad.h"

#include <gtest/gtest.h>

#include <initializer_list>
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
