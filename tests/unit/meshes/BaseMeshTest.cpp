// The mesh scene objects (GLVectorFileObjects): loading, post-processing, drawing.
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLMaterialLibrary.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "tests/support/FakeContext.h"
#include "tests/support/RecordingGL.h"
#include "tests/unit/meshes/MeshTestSupport.h"

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

namespace {

using Trace = std::vector<std::string>;

std::string TempName(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("skyview-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

TBytes FileBytes(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class BaseMesh : public testing::Test {
protected:
    static void SetUpTestSuite() { RegisterTestVectorFile(); }
    void TearDown() override { TTestVectorFile::Read = nullptr; }

    TGLFreeForm form{nullptr};

    // Loads the archive of `list` as a "glsm" stream named `name`.
    void LoadArchive(TGLBaseMesh& mesh, const TMeshObjectList& list,
                     const std::string& name = "model.glsm") {
        TMemoryStream stream;
        list.SaveToStream(stream);
        stream.SetPosition(0);
        mesh.LoadMeshFromStream(name, stream);
    }
    // A mesh of one mesh object holding `vertices` (normals (0, 0, 1) each).
    void LoadVertices(TGLBaseMesh& mesh, std::initializer_list<TAffineVector> vertices) {
        TMeshObjectList list(nullptr);
        auto* meshObject = new TMeshObject(&list);
        for (const TAffineVector& v : vertices) {
            meshObject->Vertices().Add(v);
            meshObject->Normals().Add(V(0, 0, 1));
        }
        LoadArchive(mesh, list);
    }
};

} // namespace

// --- loading ---

TEST_F(BaseMesh, LoadingReplacesTheMeshObjectsAndRemembersTheName) {
    LoadVertices(form, {V(0, 0, 0), V(1, 1, 1)});
    LoadVertices(form, {V(2, 2, 2)});
    ASSERT_EQ(form.MeshObjects().Count(), 1);
    EXPECT_EQ(form.MeshObjects()[0]->Owner(), &form.MeshObjects());
    EXPECT_EQ(form.LastLoadedFileName(), "model.glsm");
    EXPECT_TRUE(form.Changes().Contains(chStructure));

    // An empty name forgets the last name and nothing else.
    form.LoadMeshFile("");
    EXPECT_EQ(form.LastLoadedFileName(), "");
    EXPECT_EQ(form.MeshObjects().Count(), 1);

    // The orientation goes to the format object.
    form.SetNormalsOrientation(mnoInvert);
    TMemoryStream empty;
    form.LoadMeshFromStream("x.skyviewtest", empty);
    EXPECT_EQ(TTestVectorFile::LastOrientation, mnoInvert);
}

TEST_F(BaseMesh, AMissingFileIsReportedWithItsNameAndClearsNothing) {
    LoadVertices(form, {V(0, 0, 0)});
    const std::string name = TempName("Anime-Pause.3ds");
    EXPECT_EQ(ErrorOf([&] { form.LoadMeshFile(name); }),
              "Exception: File not found: \"" + name + "\"");
    EXPECT_EQ(form.MeshObjects().Count(), 1);
    EXPECT_EQ(form.LastLoadedFileName(), "");
}

TEST_F(BaseMesh, AnUnknownExtensionLeavesTheMeshEmpty) {
    LoadVertices(form, {V(0, 0, 0)});
    TMemoryStream stream;
    EXPECT_EQ(ErrorOf([&] { form.LoadMeshFromStream("model.xyz", stream); }),
              "EInvalidVectorFile: Unknown file extension (xyz), maybe you forgot to add the "
              "support unit to your uses? (GLFileXYZ?)");
    EXPECT_EQ(form.MeshObjects().Count(), 0);
    EXPECT_EQ(form.LastLoadedFileName(), "");
}

TEST_F(BaseMesh, AutoScalingMultipliesTheVerticesOnly) {
    const float negativeZero = -0.0f, denormal = std::numeric_limits<float>::denorm_min();
    const float nan = std::bit_cast<float>(0x7FC01234u);
    const std::initializer_list<TAffineVector> vertices = {V(negativeZero, denormal, nan),
                                                           V(1.5f, -2, 3)};
    LoadVertices(form, vertices);
    const std::vector<TAffineVector> loaded = Items(form.MeshObjects()[0]->Vertices());
    for (size_t i = 0; i < loaded.size(); ++i)
        EXPECT_TRUE(SameBits(loaded[i], std::data(vertices)[i])) << "vertex " << i;

    form.AutoScaling().SetVector(2, 1, 1);
    LoadVertices(form, {V(1.5f, -2, 3)});
    EXPECT_EQ(form.MeshObjects()[0]->Vertices()[0], V(3, -2, 3));
    EXPECT_EQ(form.MeshObjects()[0]->Normals()[0], V(0, 0, 1));
}

TEST_F(BaseMesh, AutoCenteringMovesTheBoxOrTheBarycenterToTheOrigin) {
    form.SetAutoCentering({macCenterX});
    LoadVertices(form, {V(2, 5, 0), V(4, 7, 1)});
    TAffineVector min, max;
    form.GetExtents(min, max);
    EXPECT_EQ(min, V(-1, 5, 0));
    EXPECT_EQ(max, V(1, 7, 1));

    form.SetAutoCentering({macUseBarycenter, macCenterX});
    LoadVertices(form, {V(1, 2, 3), V(3, 2, 1), V(2, 5, 2)});
    const TAffineVector mean = form.GetBarycenter();
    for (size_t k = 0; k < 3; ++k)
        EXPECT_NEAR(mean[k], 0, 1e-6) << k;
}

TEST_F(BaseMesh, ExtentsAndHalfExtentsAreMeasuredFromTheOrigin) {
    TAffineVector min, max;
    form.GetExtents(min, max);
    const float infinity = std::numeric_limits<float>::infinity();
    EXPECT_EQ(min, V(infinity, infinity, infinity));
    EXPECT_EQ(max, V(-infinity, -infinity, -infinity));
    EXPECT_EQ(form.GetBarycenter(), NullVector);

    LoadVertices(form, {V(-1, 0.5f, -4), V(3, 2, -2)});
    EXPECT_EQ(form.UnscaledHalfExtents(), (TVector{3, 2, 4, 0}));
    form.Scale().SetVector(2, 1, 1);
    EXPECT_EQ(form.AxisAlignedDimensions(), (TVector{6, 2, 4, 0}));
    // A new load is measured again.
    LoadVertices(form, {V(0, 0, 1)});
    EXPECT_EQ(form.UnscaledHalfExtents(), (TVector{0, 0, 1, 0}));
}

TEST_F(BaseMesh, FreeFormsLoadingTheSameFileHoldListsOfTheirOwn) {
    const std::string name = TempName("shared.glsm");
    LoadVertices(form, {V(1, 2, 3), V(4, 5, 6), V(7, 8, 9)});
    form.SaveMeshFile(name);
    TGLFreeForm first(nullptr), second(nullptr);
    first.LoadMeshFile(name);
    second.LoadMeshFile(name);
    std::filesystem::remove(name);
    ASSERT_EQ(first.MeshObjects().Count(), 1);
    ASSERT_EQ(second.MeshObjects().Count(), 1);
    EXPECT_NE(first.MeshObjects()[0], second.MeshObjects()[0]);
    EXPECT_EQ(first.LastLoadedFileName(), name);
    first.MeshObjects()[0]->Vertices()[0] = V(0, 0, 0);
    EXPECT_EQ(second.MeshObjects()[0]->Vertices()[0], V(1, 2, 3));
    EXPECT_EQ(Archive(second.MeshObjects()), Archive(form.MeshObjects()));
}

TEST_F(BaseMesh, AddingKeepsTheMeshObjectsAndAppliesNoPostProcessing) {
    LoadVertices(form, {V(1, 1, 1)});
    form.AutoScaling().SetVector(10, 10, 10);
    form.SetAutoCentering({macCenterX});
    TMeshObjectList more(nullptr);
    NewQuad(&more, "added");
    TMemoryStream stream;
    more.SaveToStream(stream);
    stream.SetPosition(0);
    form.ClearStructureChanged();
    form.AddMeshFromStream("more.glsm", stream);
    ASSERT_EQ(form.MeshObjects().Count(), 2);
    EXPECT_EQ(form.MeshObjects()[1]->Name(), "added");
    EXPECT_EQ(form.MeshObjects()[1]->Owner(), &form.MeshObjects());
    EXPECT_EQ(form.MeshObjects()[1]->Vertices()[1], V(1, 0, 0));
    EXPECT_EQ(form.LastLoadedFileName(), "model.glsm");
    EXPECT_TRUE(form.Changes().Contains(chStructure));
}

TEST_F(BaseMesh, HostileArchivesRaiseTheArchiveErrorsAndKeepOnlyWholeMeshObjects) {
    TMeshObjectList list(nullptr);
    NewTriangles(NewQuad(&list, "good"), {0, 1, 2});
    NewTriangles(NewQuad(&list, "bad"), {0, 1, 4});
    EXPECT_EQ(ErrorOf([&] { LoadArchive(form, list); }),
              "EFilerException: TFGVertexIndexList : vertex index 4 out of range for 4 items");
    ASSERT_EQ(form.MeshObjects().Count(), 1);
    EXPECT_EQ(form.MeshObjects()[0]->Name(), "good");
    EXPECT_EQ(form.LastLoadedFileName(), "");
    // What is drawn follows what is kept.
    EXPECT_TRUE(form.Changes().Contains(chStructure));

    delete list.Items(1);
    TMemoryStream stream;
    list.SaveToStream(stream);
    TPointerStream truncated(stream.Memory(), stream.Size() - 1);
    EXPECT_EQ(ErrorOf([&] { form.LoadMeshFromStream("cut.glsm", truncated); }),
              "EReadError: Stream read error");
    EXPECT_EQ(form.MeshObjects().Count(), 1);
    EXPECT_EQ(form.MeshObjects()[0]->FaceGroups().Count(), 1);
}

TEST_F(BaseMesh, AFailingReaderClosesTheScenesUpdateBracket) {
    TGLScene scene(nullptr);
    TGLSceneBuffer buffer(nullptr);
    int changes = 0;
    buffer.OnChange = [&changes](TObject*) { ++changes; };
    scene.AddBuffer(&buffer);
    auto* mesh = new TGLFreeForm(nullptr);
    scene.Objects()->AddChild(mesh);
    changes = 0;
    int changesWhileReading = -1;
    TTestVectorFile::Read = [&](TGLBaseMesh& owner) {
        owner.NotifyChange(&owner);
        changesWhileReading = changes;
        new TMeshObject(&owner.MeshObjects());
        throw EReadError("broken");
    };
    TMemoryStream stream;
    EXPECT_EQ(ErrorOf([&] { mesh->LoadMeshFromStream("x.skyviewtest", stream); }),
              "EReadError: broken");
    EXPECT_EQ(changesWhileReading, 0);
    EXPECT_GT(changes, 0);
    EXPECT_EQ(mesh->MeshObjects().Count(), 1);
    changes = 0;
    mesh->NotifyChange(mesh);
    EXPECT_GT(changes, 0) << "the scene is left in its update bracket";
    scene.RemoveBuffer(&buffer);
}

// Memory running out while reading: what was read holds the memory the program needs, and
// goes; the mesh objects from before the read stay, and the error goes on to the caller.
TEST_F(BaseMesh, RunningOutOfMemoryDropsWhatTheReadAppended) {
    LoadVertices(form, {V(1, 2, 3)});
    TTestVectorFile::Read = [](TGLBaseMesh& owner) {
        new TMeshObject(&owner.MeshObjects());
        new TMeshObject(&owner.MeshObjects());
        throw std::bad_alloc();
    };
    TMemoryStream stream;
    form.ClearStructureChanged();
    EXPECT_THROW(form.AddMeshFromStream("more.skyviewtest", stream), std::bad_alloc);
    ASSERT_EQ(form.MeshObjects().Count(), 1);
    EXPECT_EQ(form.MeshObjects()[0]->Vertices()[0], V(1, 2, 3));
    EXPECT_TRUE(form.Changes().Contains(chStructure));
    EXPECT_THROW(form.LoadMeshFromStream("again.skyviewtest", stream), std::bad_alloc);
    EXPECT_EQ(form.MeshObjects().Count(), 0);
}

// --- saving ---

TEST_F(BaseMesh, SavingChecksTheFormatBeforeTheFileIsCreated) {
    LoadVertices(form, {V(1, 2, 3)});
    const std::string saved = TempName("saved.glsm");
    form.SaveMeshFile(saved);
    EXPECT_EQ(FileBytes(saved), Archive(form.MeshObjects()));
    std::filesystem::remove(saved);

    const std::string unknown = TempName("saved.xyz");
    EXPECT_THROW(form.SaveMeshFile(unknown), EInvalidVectorFile);
    EXPECT_FALSE(std::filesystem::exists(unknown));

    const std::string readOnly = TempName("kept.skyviewtest");
    std::ofstream(readOnly) << "keep";
    EXPECT_EQ(ErrorOf([&] { form.SaveMeshFile(readOnly); }),
              "EAssertionFailed: Export for TTestVectorFile to TFileStream not available.");
    EXPECT_EQ(FileBytes(readOnly), (TBytes{'k', 'e', 'e', 'p'}));
    std::filesystem::remove(readOnly);
    TMemoryStream stream;
    EXPECT_EQ(ErrorOf([&] { form.SaveMeshToStream("x.skyviewtest", stream); }),
              "EAssertionFailed: Export for TTestVectorFile to TMemoryStream not available.");
}

// --- copying and picking ---

TEST_F(BaseMesh, LibrariesThatGoAreForgottenByTheMeshesUsingThem) {
    for (bool lightmaps : {false, true}) {
        auto library = std::make_unique<TGLMaterialLibrary>(nullptr);
        TGLFreeForm copy(nullptr);
        for (TGLFreeForm* mesh : {&form, &copy})
            lightmaps ? mesh->SetLightmapLibrary(library.get())
                      : mesh->SetMaterialLibrary(library.get());
        copy.SetMaterialLibrary(library.get());
        library.reset();
        for (TGLFreeForm* mesh : {&form, &copy}) {
            EXPECT_EQ(mesh->MaterialLibrary(), nullptr) << lightmaps;
            EXPECT_EQ(mesh->LightmapLibrary(), nullptr) << lightmaps;
        }
    }
}

TEST_F(BaseMesh, AssignCopiesTheSettingsAndTheMeshObjects) {
    LoadVertices(form, {V(1, 2, 3)});
    form.SetNormalsOrientation(mnoInvert);
    form.SetUseMeshMaterials(false);
    form.SetAutoCentering({macCenterY});
    form.AutoScaling().SetVector(3, 3, 3);
    TGLFreeForm copy(nullptr);
    copy.Assign(&form);
    EXPECT_EQ(copy.NormalsOrientation(), mnoInvert);
    EXPECT_FALSE(copy.UseMeshMaterials());
    EXPECT_EQ(copy.AutoCentering(), TMeshAutoCenterings{macCenterY});
    EXPECT_EQ(copy.AutoScaling().AsVector(), form.AutoScaling().AsVector());
    ASSERT_EQ(copy.MeshObjects().Count(), 1);
    EXPECT_NE(copy.MeshObjects()[0], form.MeshObjects()[0]);
    EXPECT_EQ(copy.MeshObjects()[0]->Owner(), &copy.MeshObjects());
    EXPECT_EQ(Archive(copy.MeshObjects()), Archive(form.MeshObjects()));
    EXPECT_TRUE(copy.ObjectStyle().Contains(sfChangesColorsOrWinding));
}

TEST_F(BaseMesh, RaysHitTheNearestTriangleInAbsoluteSpace) {
    TMeshObjectList list(nullptr);
    auto* planes = new TMeshObject(&list);
    // Two squares facing +z, at z = 0 and z = 1, as triangle lists.
    for (const float z : {0.0f, 1.0f})
        Fill(planes->Vertices(),
             {V(-1, -1, z), V(1, -1, z), V(1, 1, z), V(-1, -1, z), V(1, 1, z), V(-1, 1, z)});
    LoadArchive(form, list);
    form.Position().SetPoint(10, 0, 0);
    TVector point{}, normal{};
    ASSERT_TRUE(form.RayIntersect({10.5f, 0.25f, 5, 1}, {0, 0, -1, 0}, &point, &normal));
    EXPECT_NEAR(point[0], 10.5f, 1e-5);
    EXPECT_NEAR(point[1], 0.25f, 1e-5);
    EXPECT_NEAR(point[2], 1, 1e-5);
    EXPECT_NEAR(normal[2], 1, 1e-5);
    // From between the squares, the lower one is the nearest ahead.
    ASSERT_TRUE(form.RayIntersect({10, 0, 0.5f, 1}, {0, 0, -2, 0}, &point, nullptr));
    EXPECT_NEAR(point[2], 0, 1e-5);
    EXPECT_FALSE(form.RayIntersect({10, 0, 5, 1}, {0, 0, 1, 0}, nullptr, nullptr));
    EXPECT_FALSE(form.RayIntersect({13, 0, 5, 1}, {0, 0, -1, 0}, nullptr, nullptr));
    form.SetNormalsOrientation(mnoInvert);
    ASSERT_TRUE(form.RayIntersect({10, 0, 5, 1}, {0, 0, -1, 0}, nullptr, &normal));
    EXPECT_NEAR(normal[2], -1, 1e-5);
}

// --- drawing ---

namespace {

class MeshRendering : public BaseMesh {
protected:
    TRecordingGL gl;
    TFakeContext context;
    TGLStateCache cache;
    TGLScene scene{nullptr};
    TRenderContextInfo rci;
    TGLFreeForm* mesh = new TGLFreeForm(nullptr);

    void SetUp() override {
        context.CreateForDevice(nullptr);
        context.MakeCurrent();
        // As the buffer does at the start of every frame.
        SelectTexCoordUnit0();
        rci.Scene = &scene;
        rci.StateCache = &cache;
        scene.Objects()->AddChild(mesh);
        TMeshObjectList list(nullptr);
        NewTriangles(NewQuad(&list), {0, 1, 2, 0, 2, 3});
        LoadArchive(*mesh, list);
    }
    void TearDown() override {
        scene.Objects()->DestroyListHandles();
        context.ReleaseCurrent();
        InitializeTexCoordDispatch();
        BaseMesh::TearDown();
    }
    void Frame() {
        gl.Clear();
        scene.Objects()->RenderObject(rci);
    }
};

} // namespace

TEST_F(MeshRendering, TheGeometryIsCompiledOnceIntoTheDisplayList) {
    Frame();
    ASSERT_EQ(gl.Count("glNewList"), 1u);
    const long compiled = gl.Find("glDrawElements", {GL_TRIANGLES, 6, GL_UNSIGNED_INT, 0});
    EXPECT_LT(gl.Find("glNewList", {1, GL_COMPILE}), compiled);
    EXPECT_LT(compiled, gl.Find("glEndList", {}));
    EXPECT_LT(gl.Find("glEndList", {}), gl.Find("glCallList", {1}));
    Frame();
    EXPECT_EQ(gl.Count("glNewList"), 0u);
    EXPECT_EQ(gl.Count("glDrawElements"), 0u);
    EXPECT_EQ(gl.Count("glCallList"), 1u);
    // The winding the mesh may change is reset after it.
    EXPECT_EQ(gl.Trace("glFrontFace"), Trace{"glFrontFace(2305)"});

    mesh->MeshObjects()[0]->SetVisible(false);
    mesh->StructureChanged();
    Frame();
    EXPECT_EQ(gl.Count("glNewList"), 1u);
    EXPECT_EQ(gl.Count("glDrawElements"), 0u);
}

TEST_F(MeshRendering, InvertedNormalsFlipTheWindingAroundTheDrawing) {
    mesh->SetNormalsOrientation(mnoInvert);
    Frame();
    const long clockwise = gl.Find("glFrontFace", {GL_CW});
    const long call = gl.Find("glCallList", {1});
    const long back = gl.Find("glFrontFace", {GL_CCW});
    ASSERT_GE(clockwise, 0);
    EXPECT_LT(clockwise, call);
    EXPECT_LT(call, back);

    // Without materials (picking) the geometry is drawn the same way, and directly when lists are
    // skipped.
    rci.SkipMaterials = true;
    rci.SkipDisplayLists = true;
    Frame();
    EXPECT_EQ(gl.Count("glCallList"), 0u);
    EXPECT_EQ(gl.Count("glDrawElements"), 1u);
    EXPECT_EQ(gl.Count("glNormalPointer"), 0u);
}
