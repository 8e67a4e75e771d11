// Writes the mesh-archive fuzzer's seed corpus into the directory given: small "glsm" files that
// reach every part of the reader (each mesh object mode, a face group of every class and mode,
// every list of a mesh object, extra coordinate sets, lightmaps, absent items).
#include <cstdio>
#include <string>

#include "engine/meshes/GLVectorFileObjects.h"

namespace {

void Save(const std::string& directory, const std::string& name, const TMeshObjectList& list) {
    TFileStream file(directory + "/" + name + ".glsm", fmCreate);
    list.SaveToStream(file);
}

TMeshObject* Quad(TMeshObjectList& list, TMeshObjectMode mode) {
    auto* quad = new TMeshObject(&list);
    quad->SetName("quad");
    for (const TAffineVector& v : {TAffineVector{0, 0, 0}, TAffineVector{1, 0, 0},
                                   TAffineVector{1, 1, 0}, TAffineVector{0, 1, 0}}) {
        quad->Vertices().Add(v);
        quad->Normals().Add(TAffineVector{0, 0, 1});
        quad->TexCoords().Add(v);
    }
    quad->SetMode(mode);
    return quad;
}

void EveryFaceGroup(TMeshObject& quad) {
    for (const TFaceGroupMode mode :
         {fgTriangles, fgTriangleStrip, fgFlatTriangles, fgTriangleFan, fgQuads}) {
        auto* group = new TFGVertexIndexList(&quad.FaceGroups());
        group->VertexIndices().Add(0, 1, 2);
        group->AddIndex(3);
        group->SetMode(mode);
        group->SetMaterialName("Floor");
    }
    auto* separate = new TFGVertexNormalTexIndexList(&quad.FaceGroups());
    separate->VertexIndices().Add(0, 1, 2);
    separate->NormalIndices().Add(3, 2, 1);
    separate->TexCoordIndices().Add(0, 0, 0);
    separate->SetLightmapIndex(1);
    auto* perIndex = new TFGIndexTexCoordList(&quad.FaceGroups());
    perIndex->VertexIndices().Add(3, 2, 1);
    for (int i = 0; i < 3; ++i)
        perIndex->TexCoords().Add(TAffineVector{float(i), 0, 0});
    perIndex->SetMode(fgTriangleFan);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    RegisterVectorFileObjects();
    const std::string directory = argv[1];

    TMeshObjectList groups(nullptr);
    EveryFaceGroup(*Quad(groups, omFaceGroups));
    Save(directory, "face-groups", groups);

    TMeshObjectList lists(nullptr);
    TMeshObject* full = Quad(lists, omTriangles);
    for (int i = 0; i < 4; ++i) {
        full->LightmapTexCoords().Add(float(i), 1);
        full->Colors().Add(TVector{1, 0, 0, 1});
        full->ExtraTexCoordSet(1).Add(TVector{float(i), 0, 0, 1});
    }
    full->SetRenderingOptions({moroGroupByMaterial});
    Quad(lists, omTriangleStrip)->SetVisible(false);
    lists.Add(nullptr);
    Save(directory, "vertex-modes", lists);

    TMeshObjectList empty(nullptr);
    Save(directory, "empty", empty);
    return 0;
}
