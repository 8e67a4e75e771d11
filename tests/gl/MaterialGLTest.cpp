// Materials on the machine's OpenGL: what a blending mode leaves in the colour buffer, and what
// a texture shows.
#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLTextureMaterial.h"
#include "engine/scene/RenderContextInfo.h"
#include "tests/support/OffscreenGL.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using TRgba = std::array<uint8_t, 4>;

struct MaterialGL : testing::Test {
    void SetUp() override { ASSERT_TRUE(UseMachineOpenGL()); }
};

TRgba ReadPixel(int x, int y) {
    TRgba rgba{};
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

// A quarter-opaque red over blue: 0.25 * red + 0.75 * blue, within one step of rounding.
TEST_F(MaterialGL, ATransparentMaterialBlendsItsColourOverWhatIsBehindIt) {
    TOffscreenGL gl(16, 16);
    ASSERT_TRUE(gl.Valid());
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
    DrawViewportQuad(16, 16);
    material.UnApply(rci);

    const TRgba pixel = ReadPixel(8, 8);
    EXPECT_NEAR(pixel[0], 64, 1);
    EXPECT_EQ(pixel[1], 0);
    EXPECT_NEAR(pixel[2], 191, 1);

    // Opaque again: the same colour replaces what is there.
    material.SetBlendingMode(bmOpaque);
    material.FrontProperties().Diffuse().SetColor({0, 1, 0, 0.25f});
    material.Apply(rci);
    DrawViewportQuad(16, 16);
    EXPECT_EQ(ReadPixel(8, 8), (TRgba{0, 255, 0, 0}));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// 4 x 4 texels: the top row red, the rest of the top half yellow, the bottom half blue, and the
// left column of the bottom row green, so that both the row order and the sides show.
TBitmap Picture() {
    TBitmap bitmap;
    bitmap.SetSize(4, 4);
    const auto set = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
        bgr[0] = b, bgr[1] = g, bgr[2] = r;
    };
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            if (y == 0)
                set(x, y, 255, 0, 0);
            else if (y == 1)
                set(x, y, 255, 255, 0);
            else
                set(x, y, 0, 0, 255);
    set(0, 3, 0, 255, 0);
    return bitmap;
}

TEST_F(MaterialGL, ADecalTextureShowsThePictureUprightWhateverTheColour) {
    TOffscreenGL gl(16, 16);
    ASSERT_TRUE(gl.Valid());
    InitializeTexCoordDispatch();
    SelectTexCoordUnit0();
    glDisable(GL_LIGHTING);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    TGLStateCache cache;
    cache.ResetAll();
    TRenderContextInfo rci;
    rci.StateCache = &cache;
    TGLMaterial material(nullptr);
    material.FrontProperties().Diffuse().SetColor({0.5f, 0.5f, 0.5f, 1});
    TGLTexture& texture = material.Texture();
    const TBitmap picture = Picture();
    texture.Image().Assign(&picture);
    texture.SetMinFilter(miNearest);
    texture.SetMagFilter(maNearest);
    texture.SetDisabled(false);
    material.Apply(rci);
    DrawViewportQuad(16, 16);
    material.UnApply(rci);

    EXPECT_EQ(ReadPixel(8, 15), (TRgba{255, 0, 0, 0})) << "the picture's top row at t = 1";
    EXPECT_EQ(ReadPixel(8, 9), (TRgba{255, 255, 0, 0}));
    EXPECT_EQ(ReadPixel(8, 2), (TRgba{0, 0, 255, 0}));
    EXPECT_EQ(ReadPixel(1, 1), (TRgba{0, 255, 0, 0})) << "the picture's bottom-left texel";
    EXPECT_EQ(texture.TexWidth(), 4);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

} // namespace
