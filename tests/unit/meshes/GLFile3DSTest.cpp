// The 3DS conversion: 3DS files written by the test writer, loaded into free forms, with and
// without libraries for their materials and lightmaps.
#include "engine/3ds/GLFile3DS.h"
#include "engine/materials/GLMaterialLibrary.h"
#include "platform/framework/Graphics.h"
#include "tests/support/Writer3DS.h"
#include "tests/unit/meshes/MeshTestSupport.h"

#include <cmath>
#include <filesystem>
#include <unistd.h>

namespace {

TPoint3DS P(float x, float y, float z) {
    return {x, y, z};
}

TMesh3DS MeshOf(const std::string& name, std::vector<TPoint3DS> vertices,
                std::vector<TFace3DS> faces, std::vector<uint32_t> smoothing = {}) {
    TMesh3DS mesh;
    mesh.NameStr = name;
    mesh.VertexArray = std::move(vertices);
    mesh.FaceArray = std::move(faces);
    mesh.SmoothArray = std::move(smoothing);
    return mesh;
}

// Two triangles on the edge 0-1: one in z = 0 (normal +z, area 1/2), one in y = 0 (normal -y,
// area 1), so that a shared normal shows the larger face weighing twice as much.
TMesh3DS Hinge(std::vector<uint32_t> masks) {
    return MeshOf("Hinge", {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0), P(0, 0, -2)},
                  {{0, 1, 2, 0}, {1, 0, 3, 0}}, std::move(masks));
}

TMaterial3DS MaterialNamed(const std::string& name) {
    TMaterial3DS material;
    material.NameStr = name;
    return material;
}

// The box with its faces in the groups named, each of the given faces.
TMesh3DS GroupedBox(std::vector<TObjMat3DS> groups) {
    TMesh3DS box = BoxMesh3DS("Box");
    box.MatArray = std::move(groups);
    return box;
}

std::vector<TObjMat3DS> TwoGroups(const std::string& first, const std::string& second) {
    return {{first, {0, 1, 2}}, {second, {3, 0}}};
}

TAffineVector Unit(float x, float y, float z) {
    return Normalized(TAffineVector{x, y, z});
}

void ExpectNear(const TAffineVector& actual, const TAffineVector& expected, const std::string& at) {
    for (size_t k = 0; k < 3; ++k)
        EXPECT_FLOAT_EQ(actual[k], expected[k]) << at << " component " << k;
}

std::string TempName(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("skyview-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

class GLFile3DS : public testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterVectorFileObjects();
        RegisterGLFile3DS();
    }

    TGLFreeForm form{nullptr};
    TGLMaterialLibrary library{nullptr};
    TGLMaterialLibrary lightmaps{nullptr};

    // "ok", or the class and message of what loading the scene as "model.3ds" raised.
    std::string Load(const TScene3DS& scene) { return LoadBytes(WriteScene3DS(scene)); }
    std::string LoadBytes(const std::vector<uint8_t>& bytes) {
        TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
        try {
            form.LoadMeshFromStream("model.3ds", stream);
        } catch (const Exception& e) {
            return std::string(e.ClassName()) + ": " + e.Message();
        }
        return "ok";
    }
    TMeshObject& Object(int32_t index = 0) { return *form.MeshObjects()[index]; }
    TFGVertexIndexList& Group(int32_t index, TMeshObject* meshObject = nullptr) {
        TMeshObject& owner = meshObject ? *meshObject : Object();
        return dynamic_cast<TFGVertexIndexList&>(*owner.FaceGroups()[index]);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (int32_t i = 0; i < form.MeshObjects().Count(); ++i)
            names.push_back(form.MeshObjects()[i]->Name());
        return names;
    }
};

} // namespace

TEST_F(GLFile3DS, TheFormatsAreRegisteredAfterTheArchiveAndReadOnly) {
    RegisterGLFile3DS();
    const TVectorFileFormatsList& formats = GetVectorFileFormats();
    std::vector<std::string> registered;
    // Other tests of the program may register formats of their own.
    for (int32_t i = 0; i < formats.Count(); ++i)
        if (const std::string& extension = formats.Items(i)->Extension;
            extension == "glsm" || extension == "3ds" || extension == "prj")
            registered.push_back(extension + " " + formats.Items(i)->Description);
    EXPECT_EQ(registered,
              (std::vector<std::string>{"glsm skyview mesh archive", "3ds 3D Studio files",
                                        "prj 3D Studio project files"}));
    for (const char* name : {"Anime-Pause.3ds", "ANIME-PAUSE.3DS", "scene.prj"})
        EXPECT_EQ(formats.FindFormatForFileName(name), &CreateVectorFile<TGL3DSVectorFile>);
    EXPECT_EQ(GetClass("TGL3DSVectorFile"), &CreateInstance<TGL3DSVectorFile>);
    EXPECT_EQ(TGL3DSVectorFile(&form).Capabilities(), dfcRead);
}

TEST_F(GLFile3DS, ACubeWithoutSmoothingGroupsGetsAVertexPerCornerWithItsFacesNormal) {
    const TMesh3DS box = BoxMesh3DS("Box01");
    ASSERT_EQ(Load({{}, {box}, {}}), "ok");
    ASSERT_EQ(Names(), std::vector<std::string>{"Box01"});
    TMeshObject& cube = Object();
    EXPECT_EQ(cube.Mode(), omFaceGroups);
    EXPECT_EQ(cube.Vertices().Count(), 36);
    EXPECT_EQ(cube.Normals().Count(), 36);
    EXPECT_EQ(cube.TexCoords().Count(), 36);
    EXPECT_EQ(cube.LightmapTexCoords().Count(), 0);
    EXPECT_EQ(cube.CountTriangles(), 12);
    ASSERT_EQ(cube.FaceGroups().Count(), 1);
    EXPECT_EQ(Group(0).MaterialName(), "");
    EXPECT_EQ(Group(0).LightmapIndex(), -1);
    const std::vector<int32_t> indices = Items(Group(0).VertexIndices());
    ASSERT_EQ(indices.size(), 36u);
    // Corners keep the first use of each file vertex, in order; every later use is a new vertex.
    EXPECT_EQ(std::vector<int32_t>(indices.begin(), indices.begin() + 6),
              (std::vector<int32_t>{0, 2, 1, 8, 3, 9}));
    std::vector<bool> seen(36);
    const TAffineVector outward[6] = {V(0, 0, -1), V(0, 0, 1),  V(0, -1, 0),
                                      V(0, 1, 0),  V(-1, 0, 0), V(1, 0, 0)};
    for (size_t k = 0; k < 36; ++k) {
        const int32_t index = indices[k];
        ASSERT_FALSE(seen.at(index)) << "vertex " << index << " used twice";
        seen[index] = true;
        const TFace3DS& face = box.FaceArray[k / 3];
        const TPoint3DS& p = box.VertexArray[k % 3 == 0 ? face.V1 : k % 3 == 1 ? face.V2 : face.V3];
        EXPECT_EQ(cube.Vertices()[index], V(p.X, p.Y, p.Z)) << k;
        EXPECT_EQ(cube.TexCoords()[index], V(p.X, p.Y, 0)) << k;
        EXPECT_EQ(cube.Normals()[index], outward[k / 6]) << k;
    }
}

TEST_F(GLFile3DS, ACubeInOneSmoothingGroupKeepsItsVerticesWithAreaWeightedNormals) {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.SmoothArray.assign(12, 1);
    ASSERT_EQ(Load({{}, {box}, {}}), "ok");
    TMeshObject& cube = Object();
    ASSERT_EQ(cube.Vertices().Count(), 8);
    std::vector<int32_t> fileCorners;
    for (const TFace3DS& face : box.FaceArray)
        fileCorners.insert(fileCorners.end(), {face.V1, face.V2, face.V3});
    EXPECT_EQ(Items(Group(0).VertexIndices()), fileCorners);
    // Each is the sum of the normals of the triangles around it: a corner of the cube lies on one
    // or two triangles of each of its three faces.
    const TAffineVector sums[8] = {V(-2, -2, -2), V(2, -1, -1), V(1, 2, -2), V(-1, 1, -1),
                                   V(-1, -1, 2),  V(1, -2, 1),  V(2, 1, 2),  V(-2, 2, 1)};
    for (int32_t k = 0; k < 8; ++k)
        ExpectNear(cube.Normals()[k], Normalized(sums[k]), "vertex " + std::to_string(k));
}

TEST_F(GLFile3DS, OnlyTheLowestBitOfTheirMasksDecidesWhetherFacesShareNormals) {
    const TAffineVector up = V(0, 0, 1), shared = Unit(0, -2, 1);
    const struct {
        std::vector<uint32_t> Masks;
        int32_t Vertices;
        TAffineVector Normal0;
    } cases[] = {
        {{0, 0}, 6, up},     {{1, 0}, 6, up},
        {{3, 2}, 6, up},     {{0x80000000u, 0x80000001u}, 6, up},
        {{1}, 6, up}, // the second face has no mask in the file: none
        {{1, 1}, 4, shared}, {{3, 1}, 4, shared},
        {{2, 6}, 4, shared}, {{0x80000000u, 0x80000000u}, 4, shared},
    };
    for (const auto& c : cases) {
        const std::string at = "masks " + std::to_string(c.Masks[0]) + " ...";
        ASSERT_EQ(Load({{}, {Hinge(c.Masks)}, {}}), "ok") << at;
        EXPECT_EQ(Object().Vertices().Count(), c.Vertices) << at;
        ExpectNear(Object().Normals()[0], c.Normal0, at);
        const std::vector<int32_t> corners = Items(Group(0).VertexIndices());
        const int32_t second = c.Vertices == 4 ? 0 : 5;
        EXPECT_EQ(corners[4], second) << at;
        ExpectNear(Object().Normals()[corners[5]], V(0, -1, 0), at);
    }
}

TEST_F(GLFile3DS, ANormalOfNothingButZeroAreaFacesStaysZero) {
    for (const std::vector<uint32_t>& masks : {std::vector<uint32_t>{}, {1, 1}}) {
        ASSERT_EQ(Load({{},
                        {MeshOf("Flat", {P(0, 0, 0), P(1, 1, 1), P(2, 2, 2), P(0, 1, 0)},
                                {{0, 1, 2, 0}, {1, 3, 2, 0}}, masks)},
                        {}}),
                  "ok");
        EXPECT_EQ(Object().Normals()[0], V(0, 0, 0));
        for (const TAffineVector& normal : Object().Normals())
            EXPECT_FALSE(std::isnan(normal[0]) || std::isnan(normal[1]) || std::isnan(normal[2]));
    }
}

TEST_F(GLFile3DS, HiddenMeshesAndMeshesOfFewerThanThreeVerticesYieldNothing) {
    TMesh3DS hidden = BoxMesh3DS("Hidden");
    hidden.IsHidden = true;
    TMesh3DS twoPoints = MeshOf("Two", {P(0, 0, 0), P(1, 0, 0)}, {{0, 1, 1, 0}});
    ASSERT_EQ(Load({{}, {hidden, twoPoints, MeshOf("Empty", {}, {}), BoxMesh3DS("Kept")}, {}}),
              "ok");
    EXPECT_EQ(Names(), std::vector<std::string>{"Kept"});

    for (const std::vector<uint8_t>& nothing :
         {std::vector<uint8_t>{'i', 'n', 'v', 'a', 'l', 'i', 'd', ' ', '3', 'd', 's'},
          WriteMaterialLibrary3DS({MaterialNamed("Red")})}) {
        EXPECT_EQ(LoadBytes(nothing), "ok");
        EXPECT_EQ(form.MeshObjects().Count(), 0);
    }
}

TEST_F(GLFile3DS, InvertedNormalsOrientationNegatesEveryNormal) {
    TMesh3DS smooth = BoxMesh3DS("Smooth");
    smooth.SmoothArray.assign(12, 1);
    const TScene3DS scene{{}, {BoxMesh3DS("Flat"), smooth}, {}};
    ASSERT_EQ(Load(scene), "ok");
    TGLFreeForm inverted(nullptr);
    inverted.SetNormalsOrientation(mnoInvert);
    const std::vector<uint8_t> bytes = WriteScene3DS(scene);
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    inverted.LoadMeshFromStream("model.3ds", stream);
    ASSERT_EQ(inverted.MeshObjects().Count(), 2);
    for (int32_t i = 0; i < 2; ++i) {
        const TMeshObject& plain = Object(i);
        const TMeshObject& other = *inverted.MeshObjects()[i];
        EXPECT_EQ(Items(other.Vertices()), Items(plain.Vertices()));
        ASSERT_EQ(other.Normals().Count(), plain.Normals().Count());
        for (int32_t k = 0; k < plain.Normals().Count(); ++k)
            EXPECT_EQ(other.Normals()[k], VectorNegate(plain.Normals()[k])) << i << " " << k;
    }
}

TEST_F(GLFile3DS, FewerTextureVerticesThanVerticesLeaveTheOthersAtZero) {
    TMesh3DS mesh = MeshOf("Quad", {P(0, 0, 0), P(1, 0, 0), P(1, 1, 0), P(0, 1, 0)},
                           {{0, 1, 2, 0}, {0, 2, 3, 0}}, {1, 1});
    mesh.TextArray = {{0.25f, 0.5f}, {0.75f, 1}};
    ASSERT_EQ(Load({{}, {mesh}, {}}), "ok");
    EXPECT_EQ(
        Items(Object().TexCoords()),
        (std::vector<TAffineVector>{V(0.25f, 0.5f, 0), V(0.75f, 1, 0), V(0, 0, 0), V(0, 0, 0)}));
}

TEST_F(GLFile3DS, AMeshSplitPast65536VerticesKeepsItsCornersAtFullWidth) {
    const std::vector<TFace3DS> faces(65535, TFace3DS{0, 1, 2, 0});
    ASSERT_EQ(Load({{}, {MeshOf("Stack", {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0)}, faces)}, {}}), "ok");
    const TMeshObject& stack = Object();
    ASSERT_EQ(stack.Vertices().Count(), 3 * 65535);
    const TIntegerList& indices = Group(0).VertexIndices();
    ASSERT_EQ(indices.Count(), 3 * 65535);
    const TAffineVector corners[3] = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0)};
    for (int32_t k = 0; k < indices.Count(); ++k) {
        ASSERT_EQ(indices[k], k);
        ASSERT_EQ(stack.Vertices()[k], corners[k % 3]) << k;
    }
}

TEST_F(GLFile3DS, MaterialGroupsWithoutALibraryBecomeFaceGroupsWithoutMaterials) {
    const TMesh3DS box = GroupedBox(TwoGroups("Red", "Blue"));
    const TScene3DS scene{{MaterialNamed("Red"), MaterialNamed("Blue")}, {box}, {}};
    ASSERT_EQ(Load(scene), "ok");
    ASSERT_EQ(Object().FaceGroups().Count(), 2);
    for (int32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(Group(i).MaterialName(), "");
        EXPECT_EQ(Group(i).LightmapIndex(), -1);
    }
    // Faces in file order: the second group draws face 3 and again face 0; faces of no group
    // are not drawn.
    EXPECT_EQ(Items(Group(0).VertexIndices()), (std::vector<int32_t>{0, 2, 1, 8, 3, 9, 4, 5, 6}));
    EXPECT_EQ(Items(Group(1).VertexIndices()), (std::vector<int32_t>{10, 11, 7, 0, 2, 1}));
    EXPECT_EQ(Object().CountTriangles(), 5);

    UseMaterialGroups = false;
    const std::string loaded = Load(scene);
    UseMaterialGroups = true;
    ASSERT_EQ(loaded, "ok");
    ASSERT_EQ(Object().FaceGroups().Count(), 1);
    EXPECT_EQ(Object().CountTriangles(), 12);
}

TEST_F(GLFile3DS, LibraryMaterialsAreReusedByTheirExactNameAndMadeForTheOthers) {
    TGLLibMaterial* existing = library.Materials().Add();
    existing->SetName("Red");
    existing->Material().FrontProperties().Diffuse().SetColor({0.1f, 0.2f, 0.3f, 1});
    form.SetMaterialLibrary(&library);
    TMaterial3DS red = Material3DS("Red", {1, 0, 0});
    // The file's names match regardless of case, the library's exactly.
    const TScene3DS scene{{red}, {GroupedBox(TwoGroups("Red", "red"))}, {}};
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(Load(scene), "ok");
        ASSERT_EQ(library.Materials().Count(), 2);
        EXPECT_EQ(library.Materials().Items(0), existing);
        EXPECT_EQ(existing->Material().FrontProperties().Diffuse().Color(),
                  (TVector{0.1f, 0.2f, 0.3f, 1}));
        EXPECT_EQ(library.Materials().Items(1)->Name(), "red");
        EXPECT_EQ(library.Materials().Items(1)->Material().FrontProperties().Diffuse().Color(),
                  (TVector{1, 0, 0, 1}));
        EXPECT_EQ(Group(0).MaterialName(), "Red");
        EXPECT_EQ(Group(1).MaterialName(), "red");
    }
}

TEST_F(GLFile3DS, NewLibraryMaterialsTakeTheFilesColoursSpecularShininessAndTexture) {
    const std::string picture = TempName("texture.bmp");
    TBitmap bitmap;
    bitmap.SetSize(4, 2);
    bitmap.SaveToFile(picture);
    TMaterial3DS shiny = Material3DS("Shiny", {0.4f, 0.5f, 0.6f}, picture);
    shiny.Ambient = {0.1f, 0.2f, 0.3f};
    shiny.Specular = {0.8f, 0.6f, 0.4f};
    shiny.Shininess = 0.25f;
    shiny.ShinStrength = 0.3f;
    // A name of blanks loads nothing, though no such file exists.
    const TMaterial3DS blank = Material3DS("Blank", {1, 1, 1}, "   ");
    form.SetMaterialLibrary(&library);
    const std::string loaded =
        Load({{shiny, blank}, {GroupedBox(TwoGroups("Shiny", "Blank"))}, {}});
    std::filesystem::remove(picture);
    ASSERT_EQ(loaded, "ok");
    ASSERT_EQ(library.Materials().Count(), 2);
    const TGLMaterial& made = library.Materials().Items(0)->Material();
    const TGLFaceProperties& front = made.FrontProperties();
    EXPECT_EQ(front.Ambient().Color(), (TVector{0.1f, 0.2f, 0.3f, 1}));
    EXPECT_EQ(front.Diffuse().Color(), (TVector{0.4f, 0.5f, 0.6f, 1}));
    const TVector specular = front.Specular().Color();
    const float specularExpected[4] = {0.6f, 0.45f, 0.3f, 0.75f};
    for (size_t k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(specular[k], specularExpected[k]) << k;
    EXPECT_EQ(front.Shininess(), 90); // (1 - 0.3) x 128 = 89.6
    ASSERT_TRUE(made.HasTexture());
    EXPECT_FALSE(made.ExistingTexture()->Disabled());
    EXPECT_EQ(made.ExistingTexture()->TextureMode(), tmModulate);
    EXPECT_EQ(made.ExistingTexture()->Image().Width(), 4);
    const TGLMaterial& plain = library.Materials().Items(1)->Material();
    EXPECT_TRUE(!plain.HasTexture() || plain.ExistingTexture()->Disabled());
}

TEST_F(GLFile3DS, ShininessIsTheComplementOfItsStrengthRoundedToEvenWithinItsRange) {
    form.SetMaterialLibrary(&library);
    const std::pair<float, int> cases[] = {
        {0, 128}, {0.3f, 90}, {0.49609375f, 64}, {0.50390625f, 64}, {1, 0}, {2, 0}, {-1, 128}};
    for (const auto& [strength, shininess] : cases) {
        library.Materials().Clear();
        TMaterial3DS material = MaterialNamed("M");
        material.ShinStrength = strength;
        ASSERT_EQ(Load({{material}, {GroupedBox({{"M", {0}}})}, {}}), "ok");
        EXPECT_EQ(library.Materials().Items(0)->Material().FrontProperties().Shininess(), shininess)
            << strength;
    }
}

TEST_F(GLFile3DS, AMissingTextureStopsTheLoadUnlessMissingTexturesAreTolerated) {
    form.SetMaterialLibrary(&library);
    const TScene3DS scene{
        {Material3DS("Red", {1, 0, 0}, "missing-texture.jpg")}, {GroupedBox({{"Red", {0}}})}, {}};
    EXPECT_EQ(Load(scene), "ETexture: Could not open file: missing-texture.jpg");
    EXPECT_EQ(form.LastLoadedFileName(), "");

    library.Materials().Clear();
    form.SetTolerateMissingTextures(true);
    ASSERT_EQ(Load(scene), "ok");
    ASSERT_EQ(library.Materials().Count(), 1);
    EXPECT_EQ(Group(0).MaterialName(), "Red");
    EXPECT_TRUE(library.Materials().Items(0)->Material().ExistingTexture()->Disabled());
}

TEST_F(GLFile3DS, SelfIlluminationMapsBecomeLightmapsOfTheLightmapLibrary) {
    lightmaps.Materials().Add()->SetName("other.bmp");
    form.SetLightmapLibrary(&lightmaps);
    form.SetTolerateMissingTextures(true);
    TMaterial3DS glowing = MaterialNamed("Glowing");
    glowing.IllumMap.Edit().Map.NameStr = "glow.bmp";
    TMaterial3DS alike = MaterialNamed("Alike");
    alike.IllumMap.Edit().Map.NameStr = "glow.bmp";
    TMaterial3DS other = MaterialNamed("Other");
    other.IllumMap.Edit().Map.NameStr = "other.bmp";
    const TMesh3DS box =
        GroupedBox({{"Glowing", {0}}, {"Alike", {1}}, {"Other", {2}}, {"Plain", {3}}});
    ASSERT_EQ(Load({{glowing, alike, other, MaterialNamed("Plain")}, {box}, {}}), "ok");
    ASSERT_EQ(lightmaps.Materials().Count(), 2);
    EXPECT_EQ(lightmaps.Materials().Items(1)->Name(), "glow.bmp");
    const int32_t expected[4] = {1, 1, 0, -1};
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_EQ(Group(i).LightmapIndex(), expected[i]) << i;
    const TMeshObject& cube = Object();
    ASSERT_EQ(cube.LightmapTexCoords().Count(), cube.TexCoords().Count());
    for (int32_t k = 0; k < cube.TexCoords().Count(); ++k) {
        EXPECT_EQ(cube.LightmapTexCoords()[k].S, cube.TexCoords()[k][0]) << k;
        EXPECT_EQ(cube.LightmapTexCoords()[k].T, cube.TexCoords()[k][1]) << k;
    }

    ASSERT_EQ(Load({{MaterialNamed("Plain")}, {GroupedBox({{"Plain", {0}}})}, {}}), "ok");
    EXPECT_EQ(Object().LightmapTexCoords().Count(), 0);
}

TEST_F(GLFile3DS, AMeshTheFileGetsWrongStopsTheLoadAndYieldsNothing) {
    TMesh3DS badCorner = BoxMesh3DS("Bad");
    badCorner.FaceArray[3].V2 = 8;
    const struct {
        TMesh3DS Mesh;
        const char* Error;
    } cases[] = {
        {badCorner, "E3DSError: Face 3 of mesh \"Bad\" names vertex 8 beyond its 8 vertices."},
        {GroupedBox({{"Red", {0, 12}}}),
         "E3DSError: Material group \"Red\" of mesh \"Box\" names face 12 beyond its 12 faces."},
        {GroupedBox({{"Red", {0}}, {"Green", {1}}}),
         "E3DSError: Mesh \"Box\" uses the material \"Green\", which the file does not define."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            Load({{MaterialNamed("Red")}, {BoxMesh3DS("Good"), c.Mesh, BoxMesh3DS("Later")}, {}}),
            c.Error);
        EXPECT_EQ(Names(), std::vector<std::string>{"Good"});
        EXPECT_EQ(form.LastLoadedFileName(), "");
    }
}
