// The render loop with a real context: a box of known size seen through the camera lands on the
// pixels the projection predicts, and moves where an orbit of the camera puts it.
#include "app/Unit1.h"
#include "engine/context/OpenGL1x.h"
#include "platform/framework/JPEGImage.h"
#include "platform/win32/WinUser.h"
#include "tests/support/OffscreenGL.h"
#include "tests/support/TestScene.h"
#include "tests/support/TestWindows.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr TRgb Background{240, 240, 240};
constexpr TRgb Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255};

// A unit cube centred on its position: +z face red, +x face green, −x face blue, the others
// white. It draws directly, without lighting.
class TTestBox : public TGLSceneObject {
public:
    using TGLSceneObject::TGLSceneObject;

    void BuildList(TRenderContextInfo&) override {
        glDisable(GL_LIGHTING);
        Face({1, 0, 0}, {0.5f, -0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {-0.5f, 0.5f, 0.5f},
             {-0.5f, -0.5f, 0.5f});
        Face({0, 1, 0}, {0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, -0.5f}, {0.5f, 0.5f, 0.5f},
             {0.5f, -0.5f, 0.5f});
        Face({0, 0, 1}, {-0.5f, -0.5f, 0.5f}, {-0.5f, 0.5f, 0.5f}, {-0.5f, 0.5f, -0.5f},
             {-0.5f, -0.5f, -0.5f});
        Face({1, 1, 1}, {-0.5f, -0.5f, -0.5f}, {-0.5f, 0.5f, -0.5f}, {0.5f, 0.5f, -0.5f},
             {0.5f, -0.5f, -0.5f});
        Face({1, 1, 1}, {-0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, -0.5f},
             {-0.5f, 0.5f, -0.5f});
        Face({1, 1, 1}, {-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, 0.5f},
             {-0.5f, -0.5f, 0.5f});
        glEnable(GL_LIGHTING);
    }

private:
    using P = std::array<float, 3>;
    static void Face(P colour, P a, P b, P c, P d) {
        glColor3f(colour[0], colour[1], colour[2]);
        glBegin(GL_QUADS);
        for (const P& p : {a, b, c, d})
            glVertex3f(p[0], p[1], p[2]);
        glEnd();
    }
};

struct RenderLoopGL : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(UseMachineOpenGL()); }
};

TEST_F(RenderLoopGL, ABoxAppearsWhereTheProjectionPutsItAndFollowsTheOrbit) {
    TTestScene scene("render loop test");
    scene.AddTarget<TTestBox>();
    TGLCamera* camera = scene.Camera;

    TXClient screen;
    const std::optional<unsigned long> shown = scene.Show(screen);
    ASSERT_TRUE(shown) << "the form does not show";
    const unsigned long view = *shown;
    ASSERT_TRUE(PumpUntil([&] { return screen.Pixel(view, 352, 220) == Red; }))
        << "the box's front face is not in the middle of the view";

    // The front face is 2.5 units from the camera; its edges land 60.5 pixels from the centre
    // across and along.
    const double across = ProjectedOffset(0.5, 2.5, true), along = ProjectedOffset(0.5, 2.5, false);
    EXPECT_NEAR(across, 60.47, 0.01);
    EXPECT_EQ(screen.Pixel(view, 352 + int(across) - 2, 220), Red);
    EXPECT_EQ(screen.Pixel(view, 352 + int(across) + 3, 220), Background);
    EXPECT_EQ(screen.Pixel(view, 352 - int(across) + 2, 220), Red);
    EXPECT_EQ(screen.Pixel(view, 352 - int(across) - 3, 220), Background);
    EXPECT_EQ(screen.Pixel(view, 352, 220 - int(along) + 2), Red);
    EXPECT_EQ(screen.Pixel(view, 352, 220 - int(along) - 3), Background);
    screen.SavePng(view, "render-loop-front.png");

    // A quarter turn round the target: the camera stands on the x axis and faces a side.
    camera->MoveAroundTarget(0, 90);
    const TVector p = camera->Position().AsVector();
    EXPECT_NEAR(std::abs(p[0]), 3, 1e-4);
    EXPECT_NEAR(p[2], 0, 1e-4);
    const TRgb side = p[0] > 0 ? Green : Blue;
    EXPECT_TRUE(PumpUntil([&] { return screen.Pixel(view, 352, 220) == side; }))
        << "the view did not follow the orbit";
    EXPECT_EQ(screen.Pixel(view, 352 + int(across) + 3, 220), Background);
    EXPECT_EQ(screen.Pixel(view, 352 + int(across) - 2, 220), side);
    screen.SavePng(view, "render-loop-side.png");
    scene.Form.DestroyHandle();
}

// The real main form: every action that changes the scene leads to exactly one new frame.
struct FormFrames : RenderLoopGL {
    std::unique_ptr<TApplication> application;
    TForm1* form = nullptr;
    std::unique_ptr<TXClient> screen;
    unsigned long formWindow = 0;

    void SetUp() override {
        RenderLoopGL::SetUp();
        if (IsSkipped())
            return;
        RegisterJPEGImageFormat();
        application = std::make_unique<TApplication>();
        // Made without its create event: the model's load, and the modal report of its failure,
        // are not what these tests look at.
        form = new TForm1(application.get());
        form->Show();
        screen = std::make_unique<TXClient>();
        std::optional<TWindowInfo> shown;
        ASSERT_TRUE(PumpUntil([&] { return (shown = screen->FindWindow("Form1")).has_value(); }));
        formWindow = shown->Id;
        ASSERT_TRUE(PumpUntil([&] { return Frames() > 0; }));
        PumpUntilIdle();
    }
    void TearDown() override {
        form = nullptr;
        application.reset();
    }

    uint32_t Frames() const { return form->GLSceneViewer1->Buffer()->FrameCount(); }

    uint32_t FramesAfter(const std::function<void()>& action) {
        const uint32_t before = Frames();
        action();
        PumpUntilIdle();
        return Frames() - before;
    }
};

TEST_F(FormFrames, KeysThatMoveSomethingDrawOneFrameEach) {
    for (const char* key : {"plus", "minus", "4", "6", "5", "8", "q", "d", "s", "z"})
        EXPECT_EQ(FramesAfter([&] { screen->SendKey(formWindow, key); }), 1u) << key;
    for (const char* key : {"Q", "D", "S", "Z", "KP_Left", "x"})
        EXPECT_EQ(FramesAfter([&] { screen->SendKey(formWindow, key); }), 0u) << key;
}

TEST_F(FormFrames, OnlyADragWithTheLeftButtonOrbits) {
    const unsigned long view = screen->Children(formWindow).at(0).Id;
    EXPECT_EQ(FramesAfter([&] { screen->SendMotion(view, 200, 200, 0); }), 0u);
    EXPECT_EQ(FramesAfter([&] { screen->SendMotion(view, 210, 205, 1u << 8); }), 1u);
    EXPECT_EQ(form->LastMouseX, 210);
    EXPECT_EQ(form->LastMouseY, 205);
}

TEST_F(FormFrames, SeveralChangesBetweenTwoPaintsDrawOneFrame) {
    EXPECT_EQ(FramesAfter([&] {
                  for (char16_t key : {u'6', u'8', u'+'})
                      form->FormKeyPress(form, key);
              }),
              1u);
}

} // namespace
