#include "engine/context/GLWin32Viewer.h"
#include "engine/context/GLWin32Context.h"
#include "engine/context/OpenGL1x.h"
#include "engine/scene/SceneGraph.h"
#include "platform/framework/Forms.h"
#include "platform/win32/WinUser.h"
#include "tests/support/FakeDriverTest.h"
#include "tests/support/FakeGdi.h"
#include "tests/support/RecordingGL.h"
#include "tests/support/WindowState.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A viewer that writes its own WM_DESTROY handling into the driver's log.
class TLoggingViewer : public TGLSceneViewer {
public:
    using TGLSceneViewer::TGLSceneViewer;

protected:
    void WMDestroy(TMessage& message) override {
        TFakeGdi::Current().Log.push_back("viewer WM_DESTROY");
        TGLSceneViewer::WMDestroy(message);
    }
};

struct ViewerFixture : TFakeDriverTest {
    std::unique_ptr<TForm> form;
    TLoggingViewer* viewer = nullptr;

    void SetUp() override {
        TFakeDriverTest::SetUp();
        form = std::make_unique<TForm>(nullptr);
        form->SetPosition(poDesigned); // at (0, 0), not where the system would place it
        form->SetBounds(0, 0, 702, 435);
        viewer = new TLoggingViewer(form.get());
        viewer->SetParent(form.get());
        viewer->SetBounds(0, 0, 705, 441);
        viewer->Loaded();
    }

    void Paint() { SendMessage(viewer->Handle(), WM_PAINT, 0, 0); }

    int PendingResizes(LPARAM* lastSize = nullptr) {
        int count = 0;
        MSG message;
        while (PeekMessage(&message, viewer->Handle(), WM_SIZE, WM_SIZE, PM_REMOVE)) {
            ++count;
            if (lastSize)
                *lastSize = message.lParam;
        }
        return count;
    }
};

TEST_F(ViewerFixture, LoadingCreatesTheWindowAndItsContext) {
    EXPECT_TRUE(viewer->IsOpenGLAvailable());
    EXPECT_TRUE(viewer->HandleAllocated());
    EXPECT_TRUE(form->HandleAllocated()) << "the parent's window comes first";
    EXPECT_TRUE(viewer->Buffer()->HasRenderingContext());
    EXPECT_EQ(viewer->Buffer()->Viewport().Width, 705);
    EXPECT_EQ(viewer->Buffer()->Viewport().Height, 441);
    EXPECT_NE(WindowRecord(viewer->Handle()).ClassStyle & CS_OWNDC, 0u);
    EXPECT_EQ(GetWindowLongPtr(viewer->Handle(), GWL_STYLE) & (WS_CLIPCHILDREN | WS_CLIPSIBLINGS),
              WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
    EXPECT_EQ(viewer->FieldOfView(), 0.0f) << "no camera, no field of view";
}

TEST_F(ViewerFixture, PaintClearsToTheButtonFaceAndSwaps) {
    gl.Clear();
    Paint();
    const std::vector<TGLCall> clears = gl.Named("glClearColor");
    ASSERT_EQ(clears.size(), 1u);
    const uint32_t face = GetSysColor(COLOR_BTNFACE);
    EXPECT_FLOAT_EQ(clears[0].Args[0], static_cast<float>(face & 0xFF) / 255.0f);
    EXPECT_FLOAT_EQ(clears[0].Args[2], static_cast<float>((face >> 16) & 0xFF) / 255.0f);
    EXPECT_EQ(clears[0].Args[3], 1.0);
    EXPECT_EQ(gl.Count("glClear"), 1u);
    EXPECT_EQ(gdi.Count("SwapBuffers"), 1u);
    EXPECT_EQ(viewer->Buffer()->FrameCount(), 1u);
    EXPECT_FALSE(viewer->Buffer()->RenderingContext()->IsCurrent());
}

TEST_F(ViewerFixture, MainWindowDestructionTearsTheContextDownBeforeTheViewerHears) {
    gdi.Log.clear();
    form->DestroyHandle();
    const auto deleted = std::find(gdi.Log.begin(), gdi.Log.end(), "wglDeleteContext");
    const auto heard = std::find(gdi.Log.begin(), gdi.Log.end(), "viewer WM_DESTROY");
    ASSERT_NE(deleted, gdi.Log.end());
    ASSERT_NE(heard, gdi.Log.end());
    EXPECT_LT(deleted, heard);
    EXPECT_EQ(gdi.Count("wglDeleteContext"), 1u) << "the viewer's own teardown finds nothing";
    EXPECT_FALSE(viewer->Buffer()->HasRenderingContext());
    EXPECT_FALSE(viewer->HandleAllocated());
}

TEST_F(ViewerFixture, MovingTheWindowPostsOneResize) {
    Paint();
    EXPECT_EQ(PendingResizes(), 0) << "the window has not moved";
    SetWindowPos(form->Handle(), 40, 30, 702, 435);
    Paint();
    LPARAM size = 0;
    EXPECT_EQ(PendingResizes(&size), 1);
    EXPECT_EQ(size, 705 + (441 << 16));
    Paint();
    EXPECT_EQ(PendingResizes(), 0);
}

TEST_F(ViewerFixture, SwapIntervalIsSetOnlyWhenItDiffers) {
    gdi.Extensions = "WGL_ARB_extensions_string WGL_EXT_swap_control ";
    FinalizeWin32Context(); // the next activation reads the new extension string
    gdi.SwapInterval = 0;
    Paint();
    Paint();
    EXPECT_EQ(gdi.Count("wglSwapIntervalEXT"), 0u);
    gdi.SwapInterval = 1;
    Paint();
    Paint();
    EXPECT_EQ(gdi.Count("wglSwapIntervalEXT"), 1u);
    EXPECT_EQ(gdi.SwapInterval, 0);
    viewer->SetVSync(vsmSync);
    Paint();
    EXPECT_EQ(gdi.Count("wglSwapIntervalEXT(1)"), 1u);
    EXPECT_EQ(gdi.SwapInterval, 1);
}

TEST_F(ViewerFixture, ChangesInvalidateOnlyOutsideAFrame) {
    MSG message;
    while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    viewer->Buffer()->NotifyChange(nullptr);
    RECT update{};
    EXPECT_TRUE(GetUpdateRect(viewer->Handle(), &update, FALSE));
    viewer->Buffer()->AfterRender = [&](TObject*) { viewer->Buffer()->NotifyChange(nullptr); };
    Paint();
    EXPECT_FALSE(GetUpdateRect(viewer->Handle(), &update, FALSE))
        << "a change during a frame starts no other frame";
}

TEST_F(ViewerFixture, RenderingErrorsLeaveThePaintEnded) {
    gl.Errors = {0, GL_INVALID_OPERATION};
    EXPECT_THROW(Paint(), EOpenGLError);
    EXPECT_FALSE(viewer->Buffer()->RenderingContext()->IsCurrent());
    EXPECT_FALSE(viewer->Buffer()->Rendering());
    Paint();
    EXPECT_EQ(viewer->Buffer()->FrameCount(), 1u);
}

// The field of view lives in the camera: the focal length across the control's shorter side.
TEST_F(ViewerFixture, FieldOfViewIsTheCamerasFocalLength) {
    TGLScene scene(nullptr);
    auto* camera = new TGLCamera(form.get());
    scene.Cameras()->AddChild(camera);
    viewer->SetCamera(camera);
    camera->SetFocalLength(40);
    EXPECT_EQ(viewer->FieldOfView(), 159.43605f);
    viewer->SetFieldOfView(90);
    EXPECT_FLOAT_EQ(camera->FocalLength(), 220.5f);
    viewer->SetBounds(0, 0, 300, 600);
    EXPECT_FLOAT_EQ(viewer->FieldOfView(), 2 * std::atan(150 / 220.5) * 180 / M_PI);
}

// Owned by the form, the camera's removal reaches the viewer through the form; owned by nobody,
// through the viewer's own registration.
TEST_F(ViewerFixture, ACameraGoingAwayLeavesTheViewerWithoutOne) {
    TGLScene scene(nullptr);
    auto* owned = new TGLCamera(form.get());
    scene.Cameras()->AddChild(owned);
    viewer->Buffer()->SetCamera(owned);
    ASSERT_EQ(viewer->Camera(), owned);
    delete owned;
    EXPECT_EQ(viewer->Camera(), nullptr);

    auto* first = new TGLCamera(nullptr);
    auto* second = new TGLCamera(nullptr);
    scene.Cameras()->AddChild(first);
    scene.Cameras()->AddChild(second);
    viewer->SetCamera(first);
    viewer->SetCamera(second);
    delete first;
    EXPECT_EQ(viewer->Camera(), second);
    delete second;
    EXPECT_EQ(viewer->Camera(), nullptr);
    EXPECT_EQ(viewer->FieldOfView(), 0.0f);
    viewer->SetFieldOfView(60);
    EXPECT_EQ(viewer->Camera(), nullptr);
}

TEST(ViewerWithoutOpenGL, OpensItsWindowAndNeverRenders) {
    TFakeGdi gdi;
    OpenGL32Unload();
    OpenGL32SetLibraryNames("libskyview-missing-gl.so", "libskyview-missing-glu.so");
    MessageBoxRecord() = {};
    {
        TForm form(nullptr);
        form.SetBounds(0, 0, 200, 100);
        auto* viewer = new TGLSceneViewer(&form);
        viewer->SetParent(&form);
        viewer->SetBounds(0, 0, 200, 100);
        viewer->Loaded();
        EXPECT_FALSE(viewer->IsOpenGLAvailable());
        EXPECT_TRUE(viewer->HandleAllocated());
        EXPECT_FALSE(viewer->Buffer()->HasRenderingContext());
        EXPECT_EQ(viewer->OwnDC(), nullptr);
        InvalidateRect(viewer->Handle(), nullptr, TRUE);
        SendMessage(viewer->Handle(), WM_PAINT, 0, 0);
        EXPECT_EQ(viewer->Buffer()->FrameCount(), 0u);
        EXPECT_EQ(SendMessage(viewer->Handle(), WM_ERASEBKGND, 0, 0), 1)
            << "the framework paints the background";
    }
    EXPECT_EQ(gdi.Count("wglCreateContext"), 0u);
    EXPECT_EQ(MessageBoxRecord().Count, 0);
    OpenGL32SetLibraryNames("", "");
}

} // namespace
