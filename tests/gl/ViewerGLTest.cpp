// The viewer and its context on a real window, rendering with the machine's OpenGL.
#include "engine/context/GLWin32Context.h"
#include "engine/context/GLWin32Viewer.h"
#include "engine/context/OpenGL1x.h"
#include "platform/framework/Forms.h"
#include "platform/win32/WinUser.h"
#include "tests/support/OffscreenGL.h"
#include "tests/support/TestWindows.h"
#include "tests/support/WindowState.h"
#include "tests/support/XClient.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>

namespace {

std::array<uint8_t, 4> ReadPixel(int x, int y, GLenum buffer) {
    std::array<uint8_t, 4> rgba{};
    glReadBuffer(buffer);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

struct ViewerGL : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(UseMachineOpenGL()); }
};

TEST_F(ViewerGL, PresentsTheClearedFrameOnTheWindow) {
    const int errorsBefore = Win32XErrorCount();
    TForm form(nullptr);
    form.SetCaption("viewer gl test");
    form.SetBounds(0, 0, 300, 200);
    auto* viewer = new TGLSceneViewer(&form);
    viewer->SetParent(&form);
    viewer->SetBounds(0, 0, 320, 220);
    viewer->Buffer()->SetBackgroundColor(clRed);
    viewer->Loaded();
    ASSERT_TRUE(viewer->Buffer()->HasRenderingContext());
    EXPECT_EQ(viewer->Buffer()->RenderingContext()->Acceleration(), AccelerationSoftware)
        << "llvmpipe is a software renderer";
    form.Show();
    TXClient screen;
    std::optional<TWindowInfo> shown;
    ASSERT_TRUE(
        PumpUntil([&] { return (shown = screen.FindWindow("viewer gl test")).has_value(); }));
    const auto children = screen.Children(shown->Id);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].Width, 320);
    EXPECT_EQ(children[0].Height, 220);
    EXPECT_TRUE(PumpUntil([&] {
        return screen.Pixel(children[0].Id, 150, 100) == TRgb{255, 0, 0};
    })) << "the frame never reached the screen";

    // What the frame cleared to, read back before the swap presents it.
    std::array<uint8_t, 4> cleared{};
    viewer->Buffer()->PostRender = [&](TObject*) { cleared = ReadPixel(10, 10, GL_BACK); };
    const uint32_t frames = viewer->Buffer()->FrameCount();
    viewer->Invalidate();
    ASSERT_TRUE(PumpUntil([&] { return viewer->Buffer()->FrameCount() > frames; }));
    EXPECT_EQ(cleared, (std::array<uint8_t, 4>{255, 0, 0, 255}));

    form.DestroyHandle();
    EXPECT_FALSE(viewer->Buffer()->HasRenderingContext());
    EXPECT_EQ(Win32XErrorCount(), errorsBefore);
}

TEST_F(ViewerGL, OffscreenContextRendersIntoItsPbuffer) {
    TOffscreenGL gl(64, 32);
    ASSERT_TRUE(gl.Valid());
    glViewport(0, 0, 64, 32);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
    EXPECT_EQ(ReadPixel(63, 31, GL_FRONT), (std::array<uint8_t, 4>{0, 0, 255, 255}));
}

TEST_F(ViewerGL, SharedDisplayListOutlivesTheContextThatCompiledIt) {
    HWND first = CreateTestPopup(8, 8);
    HWND second = CreateTestPopup(8, 8);
    TGLWin32Context a, b;
    a.SetCreationOptions({DoubleBuffered});
    b.SetCreationOptions({DoubleBuffered});
    a.CreateForDevice(GetDC(first));
    b.CreateForDevice(GetDC(second));
    a.ShareListsWith(&b);
    TGLListHandle list;
    a.MakeCurrent();
    list.AllocateHandle();
    glNewList(list.Handle(), GL_COMPILE);
    glClearColor(0, 1, 0, 1);
    glEndList();
    a.ReleaseCurrent();
    a.DestroyContextResources();
    EXPECT_EQ(list.RenderingContext(), &b);
    b.MakeCurrent();
    glClearColor(0, 0, 0, 1);
    glCallList(list.Handle());
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
    EXPECT_EQ(ReadPixel(2, 2, GL_BACK), (std::array<uint8_t, 4>{0, 255, 0, 255}));
    EXPECT_TRUE(glIsList(list.Handle()));
    b.ReleaseCurrent();
    list.DestroyHandle();
    b.DestroyContextResources();
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST_F(ViewerGL, CheckGLErrorReportsTheUtilityLibrarysText) {
    HWND window = CreateTestPopup(8, 8);
    TGLWin32Context context;
    context.CreateForDevice(GetDC(window));
    context.MakeCurrent();
    glEnable(0xFFFF); // not a capability: GL_INVALID_ENUM
    try {
        CheckGLError();
        FAIL() << "the pending error was not reported";
    } catch (const EOpenGLError& error) {
        EXPECT_EQ(error.Message(), "invalid enumerant");
    }
    EXPECT_NO_THROW(CheckGLError());
    context.ReleaseCurrent();
    context.DestroyContextResources();
    DestroyWindow(window);
}

// Runs in a fresh process (the libraries of this one may be loaded already).
void OpenWithoutLibraries() {
    OpenGL32SetLibraryNames("libskyview-missing-gl.so.1", "libskyview-missing-glu.so.1");
    TForm form(nullptr);
    form.SetCaption("no gl test");
    form.SetBounds(0, 0, 120, 80);
    auto* viewer = new TGLSceneViewer(&form);
    viewer->SetParent(&form);
    viewer->SetBounds(0, 0, 120, 80);
    viewer->Loaded();
    form.Show();
    const bool painted = PumpUntil([&] {
        RECT update{};
        return !GetUpdateRect(viewer->Handle(), &update, FALSE) && IsWindowVisible(form.Handle());
    });
    const bool ok = painted && !viewer->IsOpenGLAvailable() && viewer->HandleAllocated() &&
                    !viewer->Buffer()->HasRenderingContext() &&
                    viewer->Buffer()->FrameCount() == 0 && MessageBoxRecord().Count == 0;
    std::exit(ok ? 0 : 1);
}

TEST(ViewerWithoutLibraries, OpensItsWindowRendersNothingAndReportsNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OpenWithoutLibraries(), ::testing::ExitedWithCode(0), "");
}

} // namespace
