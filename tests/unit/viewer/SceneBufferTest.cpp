#include "engine/context/GLWin32Context.h"
#include "engine/context/GLWin32Viewer.h"
#include "engine/scene/SceneGraph.h"
#include "platform/framework/Forms.h"
#include "platform/win32/WinUser.h"
#include "tests/support/FakeDriverTest.h"
#include "tests/support/FakeGdi.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

namespace {

// A viewer on a form, with a scene and a camera looking at a target from (0, 0, 3).
struct BufferFixture : TFakeDriverTest {
    std::unique_ptr<TForm> form;
    TGLSceneViewer* viewer = nullptr;
    TGLScene* scene = nullptr;
    TGLCamera* camera = nullptr;
    TGLSceneObject* target = nullptr;
    int changes = 0;

    void SetUp() override {
        TFakeDriverTest::SetUp();
        gl.Values[GL_MAX_LIGHTS] = {8};
        gl.Values[GL_BLUE_BITS] = {8};
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 705, 441);
        viewer = new TGLSceneViewer(form.get());
        viewer->SetParent(form.get());
        viewer->SetBounds(0, 0, 705, 441);
        viewer->Loaded();
        scene = new TGLScene(form.get());
        target = new TGLSceneObject(form.get());
        scene->Objects()->AddChild(target);
        camera = new TGLCamera(form.get());
        scene->Cameras()->AddChild(camera);
        camera->Position().SetPoint(0, 0, 3);
        camera->SetTargetObject(target);
        viewer->SetCamera(camera);
        TGLSceneBuffer* buffer = viewer->Buffer();
        buffer->OnChange = [this](TObject*) { ++changes; };
    }

    TGLSceneBuffer& Buffer() { return *viewer->Buffer(); }

    // Records one frame.
    void Frame() {
        gl.Clear();
        Buffer().RenderFrame();
    }
};

TEST_F(BufferFixture, TheAlphaTestIsSwitchedOnAtTheEndOfEveryFrame) {
    Frame();
    const long tree = gl.Find("glMultMatrixf", {0});
    const long alpha = gl.Find("glEnable", {GL_ALPHA_TEST});
    ASSERT_GE(alpha, 0);
    EXPECT_GT(alpha, tree) << "the first frame draws its objects with the alpha test off";
    const long func = gl.Find("glAlphaFunc", {GL_GREATER, 0});
    EXPECT_GT(func, alpha);
    EXPECT_EQ(gl.Find("glDisable", {GL_ALPHA_TEST}), -1)
        << "nothing switches it off again, so later frames start with it on";
    EXPECT_EQ(Buffer().FrameCount(), 1u);
}

TEST_F(BufferFixture, FrameRunsItsStepsInOrder) {
    Frame();
    const long clear = gl.Find("glClear", {GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT});
    const long projection = gl.Find("glMatrixMode", {GL_PROJECTION});
    const long lights = gl.Find("glGetIntegerv", {GL_MAX_LIGHTS, 0});
    const long fog = gl.Find("glDisable", {GL_FOG}, lights);
    ASSERT_GE(clear, 0);
    EXPECT_LT(clear, projection);
    EXPECT_LT(projection, lights);
    EXPECT_LT(lights, fog);
    EXPECT_EQ(gl.Count("glClear"), 1u) << "one clear per frame";
    EXPECT_EQ(gdi.Count("SwapBuffers"), 1u);
    // Eight slots, all empty: every light is switched off.
    for (GLenum i = 0; i < 8; ++i)
        EXPECT_EQ(gl.Enabled(GL_LIGHT0 + i), false) << i;
    EXPECT_FALSE(Buffer().RenderingContext()->IsCurrent());
    EXPECT_EQ(scene->Buffers(), std::vector<TGLSceneBuffer*>{&Buffer()});
}

TEST_F(BufferFixture, TheRenderRecordDescribesTheFrame) {
    camera->SetFocalLength(40);
    camera->SetDepthOfView(200);
    TRenderContextInfo seen;
    Buffer().InitiateRendering = [&](TObject*, TRenderContextInfo& rci) { seen = rci; };
    Frame();
    TMatrix modelView, projection;
    for (int i = 0; i < 16; ++i) {
        modelView[i / 4][i % 4] = static_cast<float>(gl.Top(GL_MODELVIEW)[i]);
        projection[i / 4][i % 4] = static_cast<float>(gl.Top(GL_PROJECTION)[i]);
    }
    const TFrustum expected = FrustumFromMatrix(MultiplyMatrices(modelView, projection));
    for (int plane = 0; plane < 6; ++plane)
        EXPECT_TRUE(SameBits(seen.ClipFrustum[plane], expected[plane])) << plane;
    EXPECT_EQ(seen.Scene, scene);
    EXPECT_EQ(seen.Buffer, &Buffer());
    EXPECT_TRUE(SameBits(seen.CameraPosition, TVector{0, 0, 3, 1}));
    EXPECT_TRUE(SameBits(seen.CameraDirection, TVector{0, 0, -1, 0}));
    EXPECT_TRUE(SameBits(seen.CameraUp, TVector{0, 1, 0, 0}));
    EXPECT_EQ(seen.ClipFarDistance, camera->NearPlane() + 200);
    EXPECT_EQ(seen.ViewportWidth, 705);
    EXPECT_EQ(seen.RenderDpi, 96);
    EXPECT_EQ(seen.Sorting, osRenderBlendedLast);
    EXPECT_FALSE(seen.SkipMaterials);
    EXPECT_TRUE(seen.BufferCullsFaces);
}

TEST_F(BufferFixture, WithoutACameraAFrameOnlyClearsAndSwaps) {
    viewer->SetCamera(nullptr);
    Frame();
    EXPECT_EQ(gl.Count("glClear"), 1u);
    EXPECT_EQ(gdi.Count("SwapBuffers"), 1u);
    EXPECT_EQ(gl.Count("glMultMatrixf"), 0u);
    EXPECT_EQ(gl.Count("gluLookAt"), 0u);
    EXPECT_EQ(gl.Find("glGetIntegerv", {GL_MAX_LIGHTS, 0}), -1) << "no lights set up";
    EXPECT_TRUE(scene->Buffers().empty());
}

TEST_F(BufferFixture, ReentranceFromBeforeRenderIsIgnored) {
    int nested = 0;
    Buffer().BeforeRender = [&](TObject*) {
        ++nested;
        Buffer().RenderFrame();
    };
    Frame();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(Buffer().FrameCount(), 1u);
    EXPECT_EQ(gl.Count("glClear"), 1u);
}

TEST_F(BufferFixture, ChangesDuringAfterRenderAreSilent) {
    Frame(); // registers the buffer with the scene
    changes = 0;
    Buffer().AfterRender = [&](TObject*) {
        EXPECT_FALSE(Buffer().RenderingContext()->IsCurrent()) << "released before AfterRender";
        Buffer().SetDepthTest(!Buffer().DepthTest());
        target->Position().SetX(5);
    };
    Frame();
    EXPECT_EQ(changes, 0);
    Buffer().AfterRender = nullptr;
    Frame(); // takes the changes in
    target->Position().SetX(6);
    EXPECT_EQ(changes, 1) << "outside a frame a change is reported";
}

TEST_F(BufferFixture, ResizingToNothingKeepsOnePixel) {
    gl.Clear();
    Buffer().ResizeViewport(0, 0);
    EXPECT_EQ(Buffer().Viewport().Width, 1);
    EXPECT_EQ(Buffer().Viewport().Height, 1);
    EXPECT_EQ(gl.Trace("glViewport"), std::vector<std::string>{"glViewport(0, 0, 1, 1)"});
}

TEST_F(BufferFixture, APendingErrorEndsTheFrameWithTheContextReleased) {
    bool afterRender = false;
    Buffer().AfterRender = [&](TObject*) { afterRender = true; };
    gl.Errors = {0, GL_INVALID_VALUE};
    EXPECT_THROW(Buffer().RenderFrame(), EOpenGLError);
    EXPECT_FALSE(Buffer().RenderingContext()->IsCurrent());
    EXPECT_FALSE(Buffer().Rendering());
    EXPECT_FALSE(afterRender);
    EXPECT_NO_THROW(Frame());
}

TEST_F(BufferFixture, SettingsNotifyOnlyOnRealChanges) {
    int structural = 0;
    Buffer().OnStructuralChange = [&](TObject*) { ++structural; };
    changes = 0;
    Buffer().SetAntiAliasing(aaDefault);
    Buffer().SetDepthPrecision(dpDefault);
    Buffer().SetDepthTest(true);
    EXPECT_EQ(structural + changes, 0);
    Buffer().SetDepthPrecision(dp16bits);
    EXPECT_EQ(structural, 1);
    Buffer().SetLighting(false);
    Buffer().AmbientColor().SetRed(0.5f);
    EXPECT_EQ(changes, 2);
}

TEST_F(BufferFixture, UnbalancedModelViewStackIsReported) {
    try {
        Buffer().PopModelViewMatrix();
        FAIL();
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message(), "Unbalanced PopModelViewMatrix");
    }
    Buffer().BeforeRender = [&](TObject*) { Buffer().PushModelViewMatrix(IdentityHmgMatrix); };
    try {
        Buffer().RenderFrame();
        FAIL();
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message(), "Unbalance Push/PopModelViewMatrix.");
    }
    EXPECT_FALSE(Buffer().RenderingContext()->IsCurrent());
}

TEST_F(BufferFixture, FogIsSetUpOnlyWhenEnabled) {
    Buffer().SetFogEnable(true);
    Buffer().FogEnvironment().SetFogMode(fmExp);
    Buffer().FogEnvironment().FogColor().SetColor({0.1f, 0.2f, 0.3f, 0.25f});
    Frame();
    EXPECT_EQ(gl.Trace("glFogi")[0], "glFogi(2917, 2048)"); // GL_FOG_MODE, GL_EXP
    ASSERT_EQ(gl.Named("glFogf").size(), 3u);
    EXPECT_TRUE(gl.Named("glFogf")[0].Is("glFogf", {GL_FOG_DENSITY, 0.25}));
    EXPECT_EQ(gl.Named("glFogfv")[0].Data, (std::vector<double>{0.1f, 0.2f, 0.3f, 0.25f}));
}

TEST_F(BufferFixture, SceneSettingsFallBackFromInherited) {
    scene->SetObjectsSorting(osInherited);
    EXPECT_EQ(scene->ObjectsSorting(), osRenderBlendedLast);
    scene->SetVisibilityCulling(vcInherited);
    EXPECT_EQ(scene->VisibilityCulling(), vcNone);
}

TEST_F(BufferFixture, ASecondBufferSharesTheFirstOnesObjects) {
    Frame();
    EXPECT_EQ(scene->BaseContext(), Buffer().RenderingContext());
    auto* other = new TGLSceneViewer(form.get());
    other->SetParent(form.get());
    other->SetBounds(0, 0, 100, 100);
    other->Loaded();
    other->SetCamera(camera);
    gdi.Log.clear();
    other->Buffer()->RenderFrame();
    EXPECT_EQ(gdi.Count("wglShareLists"), 1u);
    EXPECT_EQ(scene->Buffers().size(), 2u);
    other->Buffer()->RenderFrame();
    EXPECT_EQ(gdi.Count("wglShareLists"), 1u) << "registration is renewed, sharing is not";
    EXPECT_EQ(Buffer().RenderingContext()->SharedContexts().size(), 2u);
    Buffer().DestroyRenderingContext();
    EXPECT_EQ(scene->BaseContext(), other->Buffer()->RenderingContext());
    delete other;
    EXPECT_EQ(scene->BaseContext(), nullptr);
    EXPECT_TRUE(scene->Buffers().empty());
}

TEST_F(BufferFixture, RemovedCameraLeavesTheBuffer) {
    Frame();
    delete camera;
    EXPECT_EQ(Buffer().Camera(), nullptr);
    EXPECT_TRUE(scene->Buffers().empty());
    EXPECT_NO_THROW(Frame());
}

} // namespace

namespace {

// A scene object standing for a light source. Setting up, it notes the model-view matrix and
// whether its light is on, then changes the matrix as a light placing itself does.
class TTestLight : public TGLSceneObject, public TGLLightInterface {
public:
    using TGLSceneObject::TGLSceneObject;
    GLenum Number = 0;
    bool IsShining = true;
    std::vector<TGLMatrix16> SetUpWith;
    bool EnabledAtSetUp = false;
    GLenum LightNumber() const override { return Number; }
    void SetLightNumber(GLenum number) override { Number = number; }
    bool Shining() const override { return IsShining; }
    void SetupGLLight() override {
        TRecordingGL& gl = TRecordingGL::Current();
        SetUpWith.push_back(gl.Top(GL_MODELVIEW));
        EnabledAtSetUp = gl.Enabled(Number).value_or(false);
        glTranslatef(1, 2, 3);
    }
};

TEST(LightTable, SlotsAreGivenInOrderAndFreedOnRemoval) {
    TRecordingGL gl;
    TComponent owner(nullptr);
    TGLScene scene(&owner);
    std::vector<TTestLight*> lights;
    for (int i = 0; i < 9; ++i) {
        lights.push_back(new TTestLight(&owner));
        scene.Objects()->AddChild(lights.back());
    }
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(lights[i]->Number, GL_LIGHT0 + static_cast<GLenum>(i));
    EXPECT_EQ(lights[8]->Number, 0u) << "a ninth light gets no slot";

    scene.Objects()->RemoveChild(lights[0], false);
    EXPECT_EQ(scene.LightSlot(0), nullptr);
    EXPECT_EQ(lights[1]->Number, GL_LIGHT1) << "the others keep their slots";
    lights[2]->IsShining = false;

    gl.Clear();
    glTranslatef(0, 0, -3); // the camera's view
    const TGLMatrix16 view = gl.Top(GL_MODELVIEW);
    scene.SetupLights(10);
    // Slot 0 is empty and light 2 does not shine; past the eight slots every light is off.
    const std::vector<bool> on{false, true, false, true, true, true, true, true, false, false};
    for (GLenum i = 0; i < on.size(); ++i)
        EXPECT_EQ(gl.Enabled(GL_LIGHT0 + i), on[i]) << "GL_LIGHT" << i;
    // Each shining light is set up once, switched on and with the camera's view, whatever the
    // light before it did to the matrix; the view is current again afterwards.
    for (int i = 1; i < 9; ++i) {
        const bool setUp = i != 2 && i != 8;
        EXPECT_EQ(lights[i]->SetUpWith,
                  setUp ? std::vector<TGLMatrix16>{view} : std::vector<TGLMatrix16>{})
            << "light " << i;
        EXPECT_EQ(lights[i]->EnabledAtSetUp, setUp) << "light " << i;
    }
    EXPECT_EQ(gl.Stacks[GL_MODELVIEW].size(), 1u);
    EXPECT_EQ(gl.Top(GL_MODELVIEW), view);
    delete lights[0];
}

} // namespace
