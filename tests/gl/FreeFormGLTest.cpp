// A free form drawn by a real context: a generated cube of one mesh object and one face group,
// compiled into the free form's display list, lands on the pixels the projection predicts, in the
// colour of the free form's material; so does the same cube loaded from a generated 3DS file.
// A free form whose list the address space cannot hold is left out, reported once.
#include "engine/3ds/GLFile3DS.h"
#include "engine/context/OpenGL1x.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "tests/support/AddressSpace.h"
#include "tests/support/OffscreenGL.h"
#include "tests/support/TestScene.h"
#include "tests/support/TestWindows.h"
#include "tests/support/Writer3DS.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

constexpr TRgb Background{240, 240, 240};
constexpr TRgb Red{255, 0, 0};

// The unit cube centred on the origin: eight corners, twelve outward-facing triangles, drawn
// `copies` times over.
void FillCube(TMeshObjectList& list, int copies = 1) {
    auto* cube = new TMeshObject(&list);
    for (int corner = 0; corner < 8; ++corner) {
        const TAffineVector p = {corner & 1 ? 0.5f : -0.5f, corner & 2 ? 0.5f : -0.5f,
                                 corner & 4 ? 0.5f : -0.5f};
        cube->Vertices().Add(p);
        cube->Normals().Add(Normalized(p));
    }
    cube->SetMode(omFaceGroups);
    auto* faces = new TFGVertexIndexList(&cube->FaceGroups());
    // Each face as two counter-clockwise triangles seen from outside.
    const int32_t quads[6][4] = {{4, 5, 7, 6}, {1, 0, 2, 3}, {5, 1, 3, 7},
                                 {0, 4, 6, 2}, {2, 6, 7, 3}, {0, 1, 5, 4}};
    for (int copy = 0; copy < copies; ++copy)
        for (const auto& q : quads) {
            faces->VertexIndices().Add(q[0], q[1], q[2]);
            faces->VertexIndices().Add(q[0], q[2], q[3]);
        }
}

// Red without lighting, so that every covered pixel is exactly red.
class TRedMaterial : public TGLMaterial {
public:
    using TGLMaterial::TGLMaterial;
    void Apply(TRenderContextInfo&) override {
        glDisable(GL_LIGHTING);
        glColor3f(1, 0, 0);
    }
    bool UnApply(TRenderContextInfo&) override {
        glEnable(GL_LIGHTING);
        return false;
    }
};

class TRedFreeForm : public TGLFreeForm {
public:
    explicit TRedFreeForm(TComponent* owner) : TGLFreeForm(owner) {
        ReplaceMaterial(std::make_unique<TRedMaterial>(this));
    }
};

void LoadArchivedCube(TGLFreeForm& cube) {
    TMeshObjectList list(nullptr);
    FillCube(list);
    TMemoryStream archive;
    list.SaveToStream(archive);
    archive.SetPosition(0);
    cube.LoadMeshFromStream("cube.glsm", archive);
}

// The test writer's unit box, moved to centre on the origin, in a 3DS file.
void Load3DSCube(TGLFreeForm& cube) {
    TMesh3DS box = BoxMesh3DS("Box01");
    for (TPoint3DS& p : box.VertexArray)
        p = {p.X - 0.5f, p.Y - 0.5f, p.Z - 0.5f};
    const std::vector<uint8_t> bytes = WriteScene3DS({{}, {box}, {}});
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    cube.LoadMeshFromStream("cube.3ds", stream);
}

// Loads the cube with `load` into a red free form the camera looks at and checks its pixels from
// four sides; `picture` names the screenshot.
void ExpectCubeDrawn(const std::function<void(TGLFreeForm&)>& load, const char* picture) {
    ASSERT_TRUE(UseMachineOpenGL());
    RegisterVectorFileObjects();
    RegisterGLFile3DS();

    TTestScene scene("free form test");
    auto* cube = scene.AddTarget<TRedFreeForm>();
    load(*cube);
    TGLSceneViewer* viewer = scene.Viewer;
    TGLCamera* camera = scene.Camera;

    TXClient screen;
    const std::optional<unsigned long> shown = scene.Show(screen);
    ASSERT_TRUE(shown) << "the form does not show";
    const unsigned long view = *shown;
    ASSERT_TRUE(PumpUntil([&] { return screen.Pixel(view, 352, 220) == Red; }))
        << "the cube's front face is not in the middle of the view";
    EXPECT_FALSE(cube->Changes().Contains(chStructure)) << "drawn without its display list";

    // The front face is 2.5 units from the camera: its edges land 60.5 pixels from the centre.
    const int across = int(ProjectedOffset(0.5, 2.5, true));
    const int along = int(ProjectedOffset(0.5, 2.5, false));
    EXPECT_EQ(screen.Pixel(view, 352 + across - 2, 220), Red);
    EXPECT_EQ(screen.Pixel(view, 352 + across + 3, 220), Background);
    EXPECT_EQ(screen.Pixel(view, 352 - across + 2, 220), Red);
    EXPECT_EQ(screen.Pixel(view, 352 - across - 3, 220), Background);
    EXPECT_EQ(screen.Pixel(view, 352, 220 + along - 2), Red);
    EXPECT_EQ(screen.Pixel(view, 352, 220 + along + 3), Background);
    screen.SavePng(view, picture);

    // From every side the same square: the faces close the cube all round, facing out.
    for (int side = 1; side < 4; ++side) {
        const uint32_t frames = viewer->Buffer()->FrameCount();
        camera->MoveAroundTarget(0, 90);
        ASSERT_TRUE(PumpUntil([&] { return viewer->Buffer()->FrameCount() > frames; }));
        PumpUntilIdle();
        EXPECT_EQ(screen.Pixel(view, 352, 220), Red) << "side " << side;
        EXPECT_EQ(screen.Pixel(view, 352 - across + 2, 220), Red) << "side " << side;
        EXPECT_EQ(screen.Pixel(view, 352 - across - 3, 220), Background) << "side " << side;
    }
    scene.Form.DestroyHandle();
}

} // namespace

TEST(FreeFormGL, AGeneratedCubeIsDrawnFromTheDisplayListWhereTheProjectionPutsIt) {
    ExpectCubeDrawn(LoadArchivedCube, "free-form-cube.png");
}

TEST(FreeFormGL, ACubeFromA3DSFileIsDrawnAllRoundWhereTheProjectionPutsIt) {
    ExpectCubeDrawn(Load3DSCube, "free-form-3ds-cube.png");
}

// 10,000 cubes in one list: 360,000 corners, which the driver records in some 37 MB. With 24 MiB
// of address space to spare the list is not compiled: the frame is shown without the free form
// and then reported as running out of memory, once; the frames after it leave the free form out
// without a report, until its structure changes.
TEST(FreeFormGL, AFreeFormWhoseListDoesNotFitIsLeftOutOfTheFrameAndReportedOnce) {
    ASSERT_TRUE(UseMachineOpenGL());
    TTestScene scene("free form memory test");
    auto* cube = scene.AddTarget<TRedFreeForm>();
    FillCube(cube->MeshObjects(), 10000);
    cube->StructureChanged();
    TXClient screen;
    const std::optional<unsigned long> shown = scene.Show(screen);
    ASSERT_TRUE(shown) << "the form does not show";
    ASSERT_TRUE(PumpUntil([&] { return screen.Pixel(*shown, 352, 220) == Red; }));
    TGLSceneBuffer& buffer = *scene.Viewer->Buffer();

    cube->StructureChanged();
    {
        TAddressSpaceLimit limit(uint64_t{24} << 20);
        ASSERT_TRUE(limit.Set());
        EXPECT_THROW(buffer.RenderFrame(), EOutOfMemory);
        EXPECT_NO_THROW(buffer.RenderFrame());
    }
    EXPECT_EQ(screen.Pixel(*shown, 352, 220), Background);
    EXPECT_NO_THROW(buffer.RenderFrame());
    EXPECT_EQ(screen.Pixel(*shown, 352, 220), Background);

    cube->StructureChanged();
    buffer.RenderFrame();
    EXPECT_EQ(screen.Pixel(*shown, 352, 220), Red);
    scene.Form.DestroyHandle();
}

