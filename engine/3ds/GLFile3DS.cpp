#include "engine/3ds/GLFile3DS.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/3ds/File3DS.h"
#include "engine/materials/GLMaterialLibrary.h"

bool UseMaterialGroups = true;

namespace {

static_assert(sizeof(TPoint3DS) == sizeof(TAffineVector), "vertices are copied as they are");

// Not empty once trimmed of surrounding blanks and control characters.
bool HasName(const std::string& name) {
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) > ' '; });
}

TAffineVector AsVector(const TPoint3DS& point) {
    return {point.X, point.Y, point.Z};
}

TVector Opaque(const TFColor3DS& colour) {
    return {colour.R, colour.G, colour.B, 1};
}

// (1 - strength) x 128 rounded to the nearest, ties to even, within 0 .. 128 (a NaN gives 0).
TShininess ShininessOf(float strength) {
    const double value = std::nearbyint((1 - double(strength)) * 128);
    return value > 0 ? static_cast<TShininess>(std::min(value, double(cMaxShininess))) : 0;
}

// Count := count without clearing the new items: the caller writes every one.
void SetCountUncleared(TBaseList& list, int32_t count) {
    list.SetSetCountResetsMemory(false);
    list.SetCount(count);
    list.SetSetCountResetsMemory(true);
}

void CheckCorners(const TMesh3DS& mesh) {
    const size_t vertexCount = mesh.VertexArray.size();
    for (size_t i = 0; i < mesh.FaceArray.size(); ++i) {
        const TFace3DS& face = mesh.FaceArray[i];
        const uint16_t corner = std::max({face.V1, face.V2, face.V3});
        if (corner >= vertexCount)
            throw E3DSError(
                Format("Face %zu of mesh \"%s\" names vertex %u beyond its %zu vertices.", i,
                       mesh.NameStr.c_str(), unsigned(corner), vertexCount));
    }
}

void CheckGroupFaces(const TMesh3DS& mesh) {
    const size_t faceCount = mesh.FaceArray.size();
    for (const TObjMat3DS& group : mesh.MatArray)
        for (const uint16_t face : group.FaceIndex)
            if (face >= faceCount)
                throw E3DSError(Format("Material group \"%s\" of mesh \"%s\" names face %u beyond "
                                       "its %zu faces.",
                                       group.NameStr.c_str(), mesh.NameStr.c_str(), unsigned(face),
                                       faceCount));
}

// The vertex, normal and texture-coordinate lists of a mesh object while its vertices are split,
// written through their storage: the lists count every item they can hold, and get their true
// count in Finish. A split appends a copy of a vertex to all of them.
class TVertexLists {
public:
    TVertexLists(TMeshObject& meshObject, int32_t count, int32_t capacity)
        : FLists{&meshObject.Vertices(), &meshObject.Normals(),
                 meshObject.TexCoords().Count() > 0 ? &meshObject.TexCoords() : nullptr},
          FCount(count) {
        Resize(std::max(count, capacity));
    }

    TAffineVector& Normal(int32_t index) { return FNormals[index]; }

    int32_t Split(int32_t vertex, const TAffineVector& normal) {
        if (FCount == FCapacity)
            Resize(FCapacity + FCapacity / 2 + 16);
        FVertices[FCount] = FVertices[vertex];
        FNormals[FCount] = normal;
        if (FTexCoords != nullptr)
            FTexCoords[FCount] = FTexCoords[vertex];
        return FCount++;
    }

    // The lists hold what was written, in storage of that size.
    void Finish() {
        for (TAffineVectorList* list : FLists)
            if (list != nullptr) {
                list->SetCount(FCount);
                list->SetCapacity(FCount);
            }
    }

private:
    // The items beyond the count are written before they are read.
    void Resize(int32_t capacity) {
        for (TAffineVectorList* list : FLists)
            if (list != nullptr)
                SetCountUncleared(*list, capacity);
        FVertices = FLists[0]->List();
        FNormals = FLists[1]->List();
        FTexCoords = FLists[2] != nullptr ? FLists[2]->List() : nullptr;
        FCapacity = capacity;
    }

    TAffineVectorList* FLists[3];
    TAffineVector* FVertices = nullptr;
    TAffineVector* FNormals = nullptr;
    TAffineVector* FTexCoords = nullptr;
    int32_t FCount;
    int32_t FCapacity = 0;
};

// Splits the vertices of one mesh at a time so that each smoothing group gets normals of its
// own, in one pass over the faces with constant work per corner. The working data is kept from
// one mesh to the next. Corners name only the vertices the file lists, so only their rows of the
// table are ever read: the table has a row for each of them and none for the vertices split off.
class TVertexSplitter {
public:
    // Writes the split corners of `mesh`'s faces, three per face, to `corners`, and the
    // un-normalised normals to the lists.
    void Split(const TMesh3DS& mesh, bool invert, TVertexLists& lists, int32_t* corners) {
        const size_t count = mesh.VertexArray.size();
        FUsed.assign((count + 63) / 64, 0);
        if (mesh.SmoothArray.empty()) {
            SplitFaces<false>(mesh, invert, lists, corners);
            return;
        }
        // Rows are set when their vertex is first used, so the table needs no clearing.
        if (FTableRows < count) {
            FTable.reset(new int32_t[count * Groups]);
            FTableRows = count;
        }
        SplitFaces<true>(mesh, invert, lists, corners);
    }

private:
    static constexpr int32_t Groups = 32;

    template <bool Smoothing>
    void SplitFaces(const TMesh3DS& mesh, bool invert, TVertexLists& lists, int32_t* corners) {
        const TPoint3DS* vertices = mesh.VertexArray.data();
        const size_t smoothCount = mesh.SmoothArray.size();
        for (size_t i = 0; i < mesh.FaceArray.size(); ++i) {
            const TFace3DS& face = mesh.FaceArray[i];
            const TAffineVector p =
                VectorSubtract(AsVector(vertices[face.V1]), AsVector(vertices[face.V2]));
            const TAffineVector q =
                VectorSubtract(AsVector(vertices[face.V3]), AsVector(vertices[face.V2]));
            const TAffineVector normal = invert ? CrossProduct(p, q) : CrossProduct(q, p);
            // A face beyond the file's masks has none.
            const uint32_t mask = Smoothing && i < smoothCount ? mesh.SmoothArray[i] : 0;
            for (const uint16_t vertex : {face.V1, face.V2, face.V3})
                *corners++ = Corner<Smoothing>(vertex, mask, normal, lists);
        }
    }

    // The index the corner naming `vertex` ends with, for a face of smoothing `mask`.
    template <bool Smoothing>
    int32_t Corner(uint16_t vertex, uint32_t mask, const TAffineVector& normal,
                   TVertexLists& lists) {
        uint64_t& word = FUsed[vertex / 64];
        const uint64_t bit = uint64_t{1} << (vertex % 64);
        if ((word & bit) == 0) {
            word |= bit;
            lists.Normal(vertex) = normal;
            if (Smoothing) {
                int32_t* row = &FTable[size_t{vertex} * Groups];
                std::fill_n(row, Groups, -1);
                if (mask != 0)
                    row[std::countr_zero(mask)] = vertex;
            }
            return vertex;
        }
        if (!Smoothing || mask == 0)
            return lists.Split(vertex, normal);
        int32_t& carrier = FTable[size_t{vertex} * Groups + std::countr_zero(mask)];
        if (carrier < 0) {
            carrier = lists.Split(vertex, normal);
            return carrier;
        }
        AddVector(lists.Normal(carrier), normal);
        return carrier;
    }

    std::vector<uint64_t> FUsed;
    std::unique_ptr<int32_t[]> FTable;
    size_t FTableRows = 0;
};

// Converts the meshes of one file into mesh objects of the owner.
class TMeshConverter {
public:
    TMeshConverter(TGLBaseMesh& owner, TFile3DS& file, bool invert)
        : FOwner(owner), FFile(file), FInvert(invert) {}

    void Convert(const TMesh3DS& mesh) {
        if (mesh.IsHidden || mesh.VertexArray.size() < 3)
            return;
        const bool grouped = UseMaterialGroups && !mesh.MatArray.empty();
        // A mesh the file gets wrong yields nothing.
        CheckCorners(mesh);
        if (grouped) {
            CheckGroupFaces(mesh);
            for (const TObjMat3DS& group : mesh.MatArray)
                FileMaterial(group.NameStr, mesh);
        }
        auto* meshObject = new TMeshObject(&FOwner.MeshObjects());
        meshObject->SetName(mesh.NameStr);
        meshObject->SetMode(omFaceGroups);
        if (grouped) {
            FCorners.resize(mesh.FaceArray.size() * 3);
            SplitVertices(mesh, *meshObject, FCorners.data());
            AddMaterialGroups(mesh, *meshObject);
        } else {
            auto* group = new TFGVertexIndexList(&meshObject->FaceGroups());
            SetCountUncleared(group->VertexIndices(),
                              static_cast<int32_t>(mesh.FaceArray.size() * 3));
            SplitVertices(mesh, *meshObject, group->VertexIndices().List());
        }
    }

private:
    void SplitVertices(const TMesh3DS& mesh, TMeshObject& meshObject, int32_t* corners) {
        const auto count = static_cast<int32_t>(mesh.VertexArray.size());
        // Without smoothing every corner but a vertex's first use splits it.
        const int32_t expected =
            mesh.SmoothArray.empty()
                ? std::max(count, static_cast<int32_t>(mesh.FaceArray.size() * 3))
                : count;
        CopyVertices(mesh, meshObject, expected);
        TVertexLists lists(meshObject, count, expected);
        FSplitter.Split(mesh, FInvert, lists, corners);
        lists.Finish();
        NormalizeNormals(meshObject.Normals());
    }

    // The file's vertices unchanged, zero normals, and (u, v, 0) for each vertex when the mesh
    // has texture vertices (zeros for vertices beyond them).
    static void CopyVertices(const TMesh3DS& mesh, TMeshObject& meshObject, int32_t capacity) {
        const auto count = static_cast<int32_t>(mesh.VertexArray.size());
        meshObject.Vertices().EnsureCapacity(capacity);
        meshObject.Vertices().SetCount(count);
        std::memcpy(meshObject.Vertices().List(), mesh.VertexArray.data(),
                    mesh.VertexArray.size() * sizeof(TPoint3DS));
        meshObject.Normals().EnsureCapacity(capacity);
        meshObject.Normals().SetCount(count);
        if (mesh.TextArray.empty())
            return;
        TAffineVectorList& texCoords = meshObject.TexCoords();
        texCoords.EnsureCapacity(capacity);
        texCoords.SetCount(count);
        const size_t given = std::min(mesh.VertexArray.size(), mesh.TextArray.size());
        for (size_t k = 0; k < given; ++k)
            texCoords[static_cast<int32_t>(k)] = {mesh.TextArray[k].U, mesh.TextArray[k].V, 0};
    }

    // A sum of nothing but zero-area faces stays zero rather than becoming NaN.
    static void NormalizeNormals(TAffineVectorList& normals) {
        for (TAffineVector& normal : normals)
            normal = normal[0] == 0 && normal[1] == 0 && normal[2] == 0 ? TAffineVector{0, 0, 0}
                                                                        : Normalized(normal);
    }

    void AddMaterialGroups(const TMesh3DS& mesh, TMeshObject& meshObject) {
        bool lightmaps = false;
        for (const TObjMat3DS& group : mesh.MatArray) {
            const TMaterial3DS& material = FileMaterial(group.NameStr, mesh);
            const std::string materialName = LibraryMaterial(group.NameStr, material);
            const int32_t lightmap = Lightmap(material);
            auto* faceGroup = new TFGVertexIndexList(&meshObject.FaceGroups());
            faceGroup->SetMaterialName(materialName);
            faceGroup->SetLightmapIndex(lightmap);
            AddFaces(group, *faceGroup);
            lightmaps = lightmaps || lightmap >= 0;
        }
        if (lightmaps)
            CopyLightmapTexCoords(meshObject);
    }

    void AddFaces(const TObjMat3DS& group, TFGVertexIndexList& faceGroup) const {
        TIntegerList& indices = faceGroup.VertexIndices();
        SetCountUncleared(indices, static_cast<int32_t>(group.FaceIndex.size() * 3));
        int32_t* out = indices.List();
        for (const uint16_t face : group.FaceIndex) {
            std::memcpy(out, &FCorners[size_t{face} * 3], 3 * sizeof(int32_t));
            out += 3;
        }
    }

    static void CopyLightmapTexCoords(TMeshObject& meshObject) {
        const TAffineVectorList& texCoords = meshObject.TexCoords();
        TTexPointList& lightmap = meshObject.LightmapTexCoords();
        SetCountUncleared(lightmap, texCoords.Count());
        for (int32_t k = 0; k < texCoords.Count(); ++k)
            lightmap[k] = TexPointMake(texCoords[k][0], texCoords[k][1]);
    }

    const TMaterial3DS& FileMaterial(const std::string& name, const TMesh3DS& mesh) {
        const TMaterial3DS* material = FFile.Materials().MaterialByName(name);
        if (material == nullptr)
            throw E3DSError(Format("Mesh \"%s\" uses the material \"%s\", which the file does "
                                   "not define.",
                                   mesh.NameStr.c_str(), name.c_str()));
        return *material;
    }

    // The group's material name: the file's, with a library material of that exact name made
    // when the library lacks one; empty without a library.
    std::string LibraryMaterial(const std::string& name, const TMaterial3DS& material) {
        TGLMaterialLibrary* library = FOwner.MaterialLibrary();
        if (library == nullptr)
            return {};
        if (library->Materials().GetLibMaterialByName(name) == nullptr)
            AddLibraryMaterial(*library, name, material);
        return name;
    }

    void AddLibraryMaterial(TGLMaterialLibrary& library, const std::string& name,
                            const TMaterial3DS& material) {
        TGLLibMaterial* item = library.Materials().Add();
        item->SetName(name);
        TGLFaceProperties& front = item->Material().FrontProperties();
        front.Ambient().SetColor(Opaque(material.Ambient));
        front.Diffuse().SetColor(Opaque(material.Diffuse));
        front.Specular().SetColor(VectorScale(Opaque(material.Specular), 1 - material.Shininess));
        front.SetShininess(ShininessOf(material.ShinStrength));
        const std::string& textureName = material.Texture->Map.NameStr;
        if (HasName(textureName))
            LoadTexture(item->Material().Texture(), textureName);
    }

    // The index in the lightmap library of the material's self-illumination map, added when
    // missing; -1 without a library or a map.
    int32_t Lightmap(const TMaterial3DS& material) {
        TGLMaterialLibrary* library = FOwner.LightmapLibrary();
        const std::string& mapName = material.IllumMap->Map.NameStr;
        if (library == nullptr || !HasName(mapName))
            return -1;
        TGLLibMaterial* item = library->Materials().GetLibMaterialByName(mapName);
        if (item == nullptr) {
            item = library->Materials().Add();
            item->SetName(mapName);
            LoadTexture(item->Material().Texture(), mapName);
        }
        return item->Index();
    }

    // A texture that cannot be opened stays disabled when the owner tolerates missing ones.
    void LoadTexture(TGLTexture& texture, const std::string& fileName) const {
        try {
            texture.Image().LoadFromFile(fileName);
        } catch (const ETexture&) {
            if (!FOwner.TolerateMissingTextures())
                throw;
            return;
        }
        texture.SetDisabled(false);
        texture.SetTextureMode(tmModulate);
    }

    TGLBaseMesh& FOwner;
    TFile3DS& FFile;
    bool FInvert;
    TVertexSplitter FSplitter;
    std::vector<int32_t> FCorners;
};

} // namespace

std::unique_ptr<TDataFile> TGL3DSVectorFile::CreateCopy(TPersistent* owner) const {
    return std::make_unique<TGL3DSVectorFile>(owner);
}

void TGL3DSVectorFile::ReadStream(TStream& stream) {
    TFile3DS file;
    file.ReadFromStream(stream);
    TMeshConverter converter(*Owner(), file, NormalsOrientation() == mnoInvert);
    const int meshCount = file.Objects().MeshCount();
    // Each record is taken over and freed once converted: the reader keeps no mesh data.
    for (int i = 0; i < meshCount; ++i)
        converter.Convert(*file.Objects().ReleaseMesh(i));
}

void RegisterGLFile3DS() {
    static const bool registered = [] {
        TVectorFileFormatsList& formats = GetVectorFileFormats();
        formats.RegisterFormat("3ds", "3D Studio files", &CreateVectorFile<TGL3DSVectorFile>);
        formats.RegisterFormat("prj", "3D Studio project files",
                               &CreateVectorFile<TGL3DSVectorFile>);
        return true;
    }();
    static_cast<void>(registered);
}
