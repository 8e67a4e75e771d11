// A texture bitmap uploaded to the machine's OpenGL: resampled to powers of two by the GL utility
// library, with its smaller levels, and drawn the right way up on a quad.
#include "engine/context/OpenGL1x.h"
#include "engine/materials/GLGraphics.h"
#include "tests/support/OffscreenGL.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using TRgba = std::array<uint8_t, 4>;
constexpr TRgba Red{255, 0, 0, 255}, Blue{0, 0, 255, 255};

struct GLGraphicsGL : testing::Test {
    void SetUp() override { ASSERT_TRUE(UseMachineOpenGL()); }
};

// 6 x 6 pixels, red above blue: stretched to 8 x 6 by the conversion, then to 8 x 8 on upload.
TBitmap RedOverBlue() {
    TBitmap bitmap;
    bitmap.SetSize(6, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            bitmap.ScanLine(y)[3 * x + (y < 3 ? 2 : 0)] = 255;
    return bitmap;
}

// The GL utility library's resampling wraps round at the edges, so an edge row takes an eighth
// of the opposite one.
void ExpectMostly(const TRgba& got, const TRgba& want, const char* what) {
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(got[c], want[c], 40) << what << ", channel " << c;
}

TRgba ReadPixel(int x, int y) {
    TRgba rgba{};
    glReadBuffer(GL_FRONT);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

void DrawTexturedViewport() {
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    DrawViewportQuad(32, 32);
}

TEST_F(GLGraphicsGL, APictureUploadsWithItsLevelsAndDrawsTheRightWayUp) {
    TOffscreenGL gl(32, 32);
    ASSERT_TRUE(gl.Valid());
    TGLBitmap32 texture;
    const TBitmap picture = RedOverBlue();
    texture.Assign(&picture);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    int32_t width = 0, height = 0;
    texture.UploadToTexture(GL_TEXTURE_2D, miNearestMipmapNearest, GL_RGBA8, width, height);
    EXPECT_EQ(width, 8);
    EXPECT_EQ(height, 8);

    std::array<TRgba, 64> texels{};
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    ExpectMostly(texels[0], Blue, "texture row 0 is the picture's bottom row");
    ExpectMostly(texels[63], Red, "the last texture row is the picture's top row");
    GLint levelWidth = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 3, GL_TEXTURE_WIDTH, &levelWidth);
    EXPECT_EQ(levelWidth, 1) << "the smallest level exists";

    DrawTexturedViewport();
    ExpectMostly(ReadPixel(16, 1), Blue, "the bottom of the quad");
    ExpectMostly(ReadPixel(16, 30), Red, "the top of the quad");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glDeleteTextures(1, &name);
}

} // namespace
