// The light, the plane, the dummy cube and the sky box with a real context: a lit plane takes
// the light's colour only from the side it faces, a shown dummy cube draws its dashed edges where
// the projection puts them, and the sky box shows its pictures around the camera wherever it
// stands, leaving the state as it found it.
#include "engine/context/OpenGL1x.h"
#include "engine/objects/GLObjects.h"
#include "engine/objects/GLSkyBox.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "tests/support/OffscreenGL.h"
#include "tests/support/TestScene.h"
#include "tests/support/TestWindows.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
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
    std::unique_ptr<TTestScene> testScene;
    TForm* form = nullptr;
    TGLSceneViewer* viewer = nullptr;
    TGLScene* scene = nullptr;
    TGLDummyCube* cube = nullptr;
    TGLCamera* camera = nullptr;
    std::unique_ptr<TXClient> screen;
    unsigned long view = 0;

    void SetUp() override {
        ASSERT_TRUE(UseMachineOpenGL());
        testScene = std::make_unique<TTestScene>("objects test");
        form = &testScene->Form;
        viewer = testScene->Viewer;
        scene = testScene->Scene;
        cube = testScene->AddTarget<TGLDummyCube>();
        camera = testScene->Camera;
    }
    void TearDown() override {
        if (form)
            form->DestroyHandle();
    }
    void Show() {
        screen = std::make_unique<TXClient>();
        const std::optional<unsigned long> shown = testScene->Show(*screen);
        ASSERT_TRUE(shown) << "the form does not show";
        view = *shown;
        ASSERT_TRUE(PumpUntil([&] { return viewer->Buffer()->FrameCount() > 0; }));
        PumpUntilIdle();
    }
    TRgb Pixel(int x, int y) { return screen->Pixel(view, x, y); }
};

// A white light two units in front of a 2 x 2 plane through the target, facing the camera.
// OpenGL lights the corners and shades between them: at each corner the light comes in at
// cos = 2 / sqrt(6) = 0.816, times the material's diffuse colour, plus the scene's ambient light
// (0.2 times the material's ambient 0.2) 0.04. The default grey 0.8 gives 0.693 in all, a red
// diffuse colour 0.856 in red and the ambient part alone, 0.04, in green and blue. From behind
// only the ambient part is left.
TEST_F(ObjectsGL, APlaneIsLitOnlyFromTheSideItFaces) {
    struct TCase {
        const char* Name;
        std::optional<TVector> Diffuse;
        TRgb Lit;
    };
    const TCase cases[] = {{"grey", std::nullopt, {177, 177, 177}},
                           {"red", TVector{1, 0, 0, 1}, {218, 10, 10}}};
    auto* light = new TGLLightSource(form);
    scene->Objects()->AddChild(light);
    auto* plane = new TGLPlane(form);
    scene->Objects()->AddChild(plane);
    plane->SetWidth(2);
    plane->SetHeight(2);
    Show();
    const TRgb dark{10, 10, 10};
    for (const TCase& c : cases) {
        if (c.Diffuse)
            plane->Material().FrontProperties().Diffuse().SetColor(*c.Diffuse);
        light->Position().SetPoint(0, 0, 2);
        EXPECT_TRUE(PumpUntil([&] { return Near(Pixel(CentreX, CentreY), c.Lit, 3); }))
            << c.Name << ": " << Text(Pixel(CentreX, CentreY));
        screen->SavePng(view, std::string("objects-plane-lit-") + c.Name + ".png");

        light->Position().SetPoint(0, 0, -2);
        EXPECT_TRUE(PumpUntil([&] { return Near(Pixel(CentreX, CentreY), dark, 3); }))
            << c.Name << ": a light behind the plane leaves only the ambient light: "
            << Text(Pixel(CentreX, CentreY));
        screen->SavePng(view, std::string("objects-plane-dark-") + c.Name + ".png");
    }
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

constexpr TRgb Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255}, White{255, 255, 255};
constexpr TRgb Cyan{0, 255, 255}, Magenta{255, 0, 255};

// y = 0 is the picture's top row.
TBitmap Picture(int width, int height, const std::function<TRgb(int x, int y)>& colour) {
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TRgb c = colour(x, y);
            uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
            bgr[0] = c.B, bgr[1] = c.G, bgr[2] = c.R;
        }
    return bitmap;
}

// The scene's sky box with pictures of known colours: "Wall" in quarters (red top left, green
// top right, blue bottom left, white bottom right), "Sky" cyan, "Floor" magenta. At focal length
// 10 a unit at unit distance spans 75.6 pixels, so the front face covers the middle 151 pixels
// square, and the top and bottom faces show above and below it. Every sample lies where the
// filter mixes texels of one colour only. The faces' inset of 0.002 keeps a linear filter off the
// opposite edge of a picture of 250 texels and more, as the scene's are, but not off a coarser
// mipmap level: the wall is 512 texels square and drawn without mipmaps.
struct SkyBoxGL : ObjectsGL {
    TGLMaterialLibrary* library = nullptr;
    TGLSkyBox* box = nullptr;

    void SetUp() override {
        ObjectsGL::SetUp();
        if (HasFatalFailure())
            return;
        library = new TGLMaterialLibrary(form);
        AddItem("Wall", Picture(512, 512, [](int x, int y) {
                    return y < 256 ? (x < 256 ? Red : Green) : (x < 256 ? Blue : White);
                }));
        AddItem("Sky", Picture(8, 8, [](int, int) { return Cyan; }));
        AddItem("Floor", Picture(8, 8, [](int, int) { return Magenta; }));
        library->LibMaterialByName("Wall")->Material().Texture().SetMinFilter(miLinear);
        box = new TGLSkyBox(form);
        scene->Objects()->InsertChild(0, box);
        box->SetMatNameTop("Sky");
        box->SetMatNameBottom("Floor");
        for (auto set : {&TGLSkyBox::SetMatNameLeft, &TGLSkyBox::SetMatNameRight,
                         &TGLSkyBox::SetMatNameFront, &TGLSkyBox::SetMatNameBack})
            (box->*set)("Wall");
        box->SetMaterialLibrary(library);
        camera->SetFocalLength(10);
    }
    void AddItem(const char* name, const TBitmap& picture) {
        TGLLibMaterial* item = library->Materials().Add();
        item->SetName(name);
        item->Material().Texture().Image().Assign(&picture);
        item->Material().Texture().SetDisabled(false);
    }
    bool Shows(int x, int y, TRgb colour) {
        return PumpUntil([&] { return Pixel(x, y) == colour; }, 5);
    }
};

// With a light shining, the faces still show their pictures' own colours: upright and unmirrored
// ahead, continued round the corners on the sides. A camera moved without turning sees the same.
TEST_F(SkyBoxGL, ShowsTheWallAheadTheSkyAboveAndTheFloorBelowWhereverTheCameraStands) {
    auto* light = new TGLLightSource(form);
    scene->Objects()->AddChild(light);
    light->Position().SetPoint(0, 0, 2);
    Show();
    struct TSample {
        const char* Where;
        int X, Y;
        TRgb Colour;
    };
    const TSample samples[] = {
        {"ahead, top left", CentreX - 38, CentreY - 38, Red},
        {"ahead, top right", CentreX + 38, CentreY - 38, Green},
        {"ahead, bottom left", CentreX - 38, CentreY + 38, Blue},
        {"ahead, bottom right", CentreX + 38, CentreY + 38, White},
        {"above", CentreX, 20, Cyan},
        {"below", CentreX, 420, Magenta},
        // The right half of the left face and the left half of the right face, next to the
        // front face.
        {"left", 20, 100, Green},
        {"right", 684, 100, Red},
    };
    const auto expectSamples = [&](const char* stance) {
        for (const TSample& sample : samples)
            EXPECT_TRUE(Shows(sample.X, sample.Y, sample.Colour))
                << stance << ", " << sample.Where << ": " << Text(Pixel(sample.X, sample.Y));
    };
    expectSamples("from (0, 0, 3)");
    screen->SavePng(view, "skybox.png");

    const uint32_t frames = viewer->Buffer()->FrameCount();
    // Far off the box's own centre, which would put the front face 73 units from the camera
    // and its middle 62 pixels left of the view's.
    camera->Position().SetPoint(60, 40, -27);
    cube->Position().SetPoint(60, 40, -30);
    ASSERT_TRUE(PumpUntil([&] { return viewer->Buffer()->FrameCount() > frames; }));
    PumpUntilIdle();
    expectSamples("from (60, 40, -27)");
}

// Above and below the middle of the front face, at three quarters of its half height: what each
// style draws there. The top half squeezes the picture into the upper half of the box, with the
// bottom face edge-on at the camera's height; the clamped style stretches the picture's bottom
// row below it; the upper two thirds leave the floor a third below the camera. Without a library
// nothing is drawn.
TEST_F(SkyBoxGL, EachStyleDrawsItsPartOfTheBoxAndWithoutLibraryNothing) {
    struct TCase {
        TGLSkyBoxStyle Style;
        TRgb Above, Below;
    };
    const TCase cases[] = {{sbsTopHalf, Red, Background},
                           {sbsBottomHalf, Background, Blue},
                           {sbTopTwoThirds, Red, Magenta},
                           {sbsTopHalfClamped, Red, Blue},
                           {sbsFull, Red, Blue}};
    Show();
    for (const TCase& c : cases) {
        box->SetStyle(c.Style);
        box->StructureChanged();
        EXPECT_TRUE(Shows(CentreX - 38, CentreY - 57, c.Above))
            << "style " << int(c.Style) << ": " << Text(Pixel(CentreX - 38, CentreY - 57));
        EXPECT_TRUE(Shows(CentreX - 38, CentreY + 57, c.Below))
            << "style " << int(c.Style) << ": " << Text(Pixel(CentreX - 38, CentreY + 57));
    }
    delete library;
    EXPECT_EQ(box->MaterialLibrary(), nullptr);
    EXPECT_TRUE(Shows(CentreX, 20, Background)) << Text(Pixel(CentreX, 20));
}

// Records the state the objects drawn before it leave; the one in front of the box turns depth
// writes off.
class TStateProbe : public TGLBaseSceneObject {
public:
    using TGLBaseSceneObject::TGLBaseSceneObject;
    void DoRender(TRenderContextInfo& rci, bool, bool) override {
        const TGLStates cached = rci.StateCache->States();
        Enabled = {glIsEnabled(GL_DEPTH_TEST) != 0, glIsEnabled(GL_LIGHTING) != 0,
                   glIsEnabled(GL_FOG) != 0};
        Cached = {cached.Contains(capDepthTest), cached.Contains(capLighting),
                  cached.Contains(capFog)};
        GLboolean mask = GL_FALSE;
        glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
        DepthMask = mask != 0;
        if (TurnsDepthWritesOff)
            glDepthMask(GL_FALSE);
        ++Frames;
    }
    std::array<bool, 3> Enabled{}, Cached{}; // depth test, lighting, fog
    bool DepthMask = false;
    bool TurnsDepthWritesOff = false;
    uint32_t Frames = 0;
};

TEST_F(SkyBoxGL, LeavesDepthTestLightingAndFogAsItFoundThemAndDepthWritesOn) {
    auto* before = new TStateProbe(form);
    scene->Objects()->InsertChild(0, before);
    before->TurnsDepthWritesOff = true;
    auto* after = new TStateProbe(form);
    scene->Objects()->InsertChild(2, after);
    Show();
    TGLSceneBuffer& buffer = *viewer->Buffer();
    // Each case differs from the one before it, so that it makes a new frame.
    const std::array<bool, 3> cases[] = {
        {false, false, true}, {true, true, false}, {true, false, true}, {false, true, false}};
    for (const std::array<bool, 3>& c : cases) {
        const uint32_t frames = after->Frames;
        buffer.SetDepthTest(c[0]);
        buffer.SetLighting(c[1]);
        buffer.SetFogEnable(c[2]);
        ASSERT_TRUE(PumpUntil([&] { return after->Frames > frames; }));
        EXPECT_EQ(before->Enabled, c);
        EXPECT_EQ(after->Enabled, c) << "depth test, lighting and fog as before the box";
        EXPECT_EQ(after->Cached, c) << "and the state cache knows it";
        EXPECT_TRUE(after->DepthMask);
    }
}

} // namespace
