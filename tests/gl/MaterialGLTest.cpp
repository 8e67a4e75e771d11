// Materials on the machine's OpenGL: what a blending mode leaves in the colour buffer.
#include "engine/context/GLWin32Context.h"
#include "engine/context/OpenGL1x.h"
#include "engine/materials/GLTexture.h"
#include "engine/scene/RenderContextInfo.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestWindows.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

namespace {

using TRgba = std::array<uint8_t, 4>;

struct MaterialGL : testing::Test {
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X display";
        ASSERT_TRUE(LoadOpenGLLibraries());
        if (GLContextManager()->ContextClassCount() == 0)
            RegisterWin32ContextClass();
    }
};

TRgba ReadPixel(int x, int y) {
    TRgba rgba{};
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

void DrawViewportQuad() {
    glViewport(0, 0, 16, 16);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBegin(GL_QUADS);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    glVertex2f(1, 1);
    glVertex2f(-1, 1);
    glEnd();
    glFinish();
}

// A quarter-opaque red over blue: 0.25 * red + 0.75 * blue, within one step of rounding.
TEST_F(MaterialGL, ATransparentMaterialBlendsItsColourOverWhatIsBehindIt) {
    HWND window = CreateTestPopup(16, 16);
    ASSERT_NE(window, nullptr);
    {
        TGLWin32Context context;
        context.CreateOffscreen(GetDC(window), 16, 16);
        ASSERT_TRUE(context.NativeIsValid());
        TGLCurrentContextScope current(context);
        glDisable(GL_LIGHTING);
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);

        TGLStateCache cache;
        TRenderContextInfo rci;
        rci.StateCache = &cache;
        TGLMaterial material(nullptr);
        material.FrontProperties().Diffuse().SetColor({1, 0, 0, 0.25f});
        material.SetBlendingMode(bmTransparency);
        material.Apply(rci);
        DrawViewportQuad();
        material.UnApply(rci);

        const TRgba pixel = ReadPixel(8, 8);
        EXPECT_NEAR(pixel[0], 64, 1);
        EXPECT_EQ(pixel[1], 0);
        EXPECT_NEAR(pixel[2], 191, 1);

        // Opaque again: the same colour replaces what is there.
        material.SetBlendingMode(bmOpaque);
        material.FrontProperties().Diffuse().SetColor({0, 1, 0, 0.25f});
        material.Apply(rci);
        DrawViewportQuad();
        EXPECT_EQ(ReadPixel(8, 8), (TRgba{0, 255, 0, 0}));
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    DestroyWindow(window);
}

} // namespace
