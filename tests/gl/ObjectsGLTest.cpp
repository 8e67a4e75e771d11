// The light, the plane and the dummy cube with a real context: a lit plane takes the light's
// colour only from the side it faces, and a shown dummy cube draws its dashed edges where the
// projection puts them.
#include "engine/context/GLWin32Context.h"
#include "engine/context/GLWin32Viewer.h"
#include "engine/context/OpenGL1x.h"
#include "engine/objects/GLObjects.h"
#include "platform/framework/Forms.h"
#include "tests/support/TestWindows.h"
#include "tests/support/XClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr TRgb Background{240, 240, 240};
constexpr int CentreX = 352, CentreY = 220;

bool Near(TRgb pixel, TRgb expected, int tolerance) {
    return std::abs(pixel.R - expected.R) <= tolerance &&
           std::abs(pixel.G - expected.G) <= tolerance &&
           std::abs(pixel.B - expected.B) <= tolerance;
}

std::string Text(TRgb pixel) {
    return std::to_string(pixel.R) + ", " + std::to_string(pixel.G) + ", " +
           std::to_string(pixel.B);
}

// A 705 x 441 view of a scene whose camera stands at (0, 0, 3) looking at a dummy cube at the
// origin, as the viewer's own camera does.
struct ObjectsGL : ::testing::Test {
    std::unique_ptr<TForm> form;
    TGLSceneViewer* viewer = nullptr;
    TGLScene* scene = nullptr;
    TGLDummyCube* cube = nullptr;
    std::unique_ptr<TXClient> screen;
    unsigned long view = 0;

    void SetUp() override {
        ASSERT_TRUE(LoadOpenGLLibraries());
        if (GLContextManager()->ContextClassCount() == 0)
            RegisterWin32ContextClass();
        form = std::make_unique<TForm>(nullptr);
        form->SetCaption("objects test");
        form->SetBounds(0, 0, 705, 441);
        viewer = new TGLSceneViewer(form.get());
        viewer->SetParent(form.get());
        viewer->SetBounds(0, 0, 705, 441);
        scene = new TGLScene(form.get());
        cube = new TGLDummyCube(form.get());
        scene->Objects()->AddChild(cube);
        auto* camera = new TGLCamera(form.get());
        scene->Cameras()->AddChild(camera);
        camera->SetFocalLength(40);
        camera->SetDepthOfView(200);
        camera->SetCameraStyle(csInfinitePerspective);
        camera->Position().SetPoint(0, 0, 3);
        camera->SetTargetObject(cube);
        viewer->SetCamera(camera);
    }
    void TearDown() override {
        if (form)
            form->DestroyHandle();
    }
    void Show() {
        viewer->Loaded();
        form->Show();
        screen = std::make_unique<TXClient>();
        std::optional<TWindowInfo> shown;
        ASSERT_TRUE(
            PumpUntil([&] { return (shown = screen->FindWindow("objects test")).has_value(); }));
        view = screen->Children(shown->Id).at(0).Id;
        ASSERT_TRUE(PumpUntil([&] { return viewer->Buffer()->FrameCount() > 0; }));
        PumpUntilIdle();
    }
    TRgb Pixel(int x, int y) { return screen->Pixel(view, x, y); }
};

// A white light two units in front of a 2 x 2 plane through the target, facing the camera.
// OpenGL lights the corners and shades between them: at each corner the light comes in at
// cos = 2 / sqrt(6), so the default material's diffuse grey 0.8 gives 0.653, plus the scene's
// ambient light (0.2 times the material's ambient 0.2) 0.04: 0.693 in all. The ambient part
// alone is 0.04.
TEST_F(ObjectsGL, APlaneIsLitOnlyFromTheSideItFaces) {
    auto* light = new TGLLightSource(form.get());
    scene->Objects()->AddChild(light);
    light->Position().SetPoint(0, 0, 2);
    auto* plane = new TGLPlane(form.get());
    scene->Objects()->AddChild(plane);
    plane->SetWidth(2);
    plane->SetHeight(2);
    Show();
    const TRgb lit{177, 177, 177}, dark{10, 10, 10};
    EXPECT_TRUE(PumpUntil([&] { return Near(Pixel(CentreX, CentreY), lit, 3); }))
        << Text(Pixel(CentreX, CentreY));
    screen->SavePng(view, "objects-plane-lit.png");

    light->Position().SetPoint(0, 0, -2);
    EXPECT_TRUE(PumpUntil([&] { return Near(Pixel(CentreX, CentreY), dark, 3); }))
        << "a light behind the plane leaves only the ambient light: "
        << Text(Pixel(CentreX, CentreY));
    screen->SavePng(view, "objects-plane-dark.png");
}

// The cube of edge 1 has its front face 2.5 units from the camera, its back face 3.5: their
// right edges land 60 and 43 pixels right of the centre. The edges are dashed: two pixels on,
// two off.
TEST_F(ObjectsGL, AShownDummyCubeDrawsDashedEdgesWhereTheProjectionPutsThem) {
    cube->SetVisibleAtRunTime(true);
    TGLColor blue(nullptr, {0, 0, 1, 1});
    cube->SetEdgeColor(blue);
    Show();
    auto bluish = [this](int x, int y) {
        const TRgb pixel = Pixel(x, y);
        return pixel.B > pixel.R + 60;
    };
    auto edgeRows = [&](int x) {
        int rows = 0;
        for (int y = CentreY - 30; y < CentreY + 30; ++y)
            rows += bluish(x - 1, y) || bluish(x, y) || bluish(x + 1, y);
        return rows;
    };
    screen->SavePng(view, "objects-dummy-cube.png");
    for (int x : {CentreX + 60, CentreX - 60, CentreX + 43, CentreX - 43}) {
        const int rows = edgeRows(x);
        EXPECT_GE(rows, 20) << "an edge at column " << x;
        EXPECT_LE(rows, 45) << "dashed, not solid, at column " << x;
    }
    for (int x : {CentreX, CentreX + 52, CentreX + 70, CentreX - 52})
        EXPECT_EQ(Pixel(x, CentreY), Background) << "no edge at column " << x;
    // The top edge of the front face, 60 pixels above the centre.
    int columns = 0;
    for (int x = CentreX - 30; x < CentreX + 30; ++x)
        columns += bluish(x, CentreY - 61) || bluish(x, CentreY - 60) || bluish(x, CentreY - 59);
    EXPECT_GE(columns, 20);
}

TEST_F(ObjectsGL, AHiddenDummyCubeDrawsNothing) {
    TGLColor blue(nullptr, {0, 0, 1, 1});
    cube->SetEdgeColor(blue);
    Show();
    for (int x : {CentreX + 60, CentreX - 60, CentreX + 43})
        EXPECT_EQ(Pixel(x, CentreY), Background) << x;
}

} // namespace
