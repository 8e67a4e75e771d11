// The texture bitmap: conversion from pictures (row order, stretching), the pixel operations,
// and the upload calls for each size, filter and format, on the recording OpenGL table.
#include "engine/materials/GLGraphics.h"
#include "engine/context/OpenGL1x.h"
#include "platform/framework/JPEGImage.h"
#include "tests/support/JPEGWriter.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

namespace {

constexpr TGLPixel32 Red{255, 0, 0, 255};

// A 24-bit picture whose rows are red above and blue below the middle.
TBitmap RedOverBlue(int width, int height) {
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
            bgr[0] = y < height / 2 ? 0 : 255;
            bgr[2] = y < height / 2 ? 255 : 0;
        }
    return bitmap;
}

TGLBitmap32 Sized(int width, int height) {
    TGLBitmap32 bitmap;
    bitmap.SetWidth(width);
    bitmap.SetHeight(height);
    return bitmap;
}

class GLGraphics : public testing::Test {
protected:
    void SetUp() override { FGL.Values[GL_MAX_TEXTURE_SIZE] = {1024}; }
    void TearDown() override { GL_SGIS_generate_mipmap = FSavedGenerateMipmap; }

    void Upload(const TGLBitmap32& bitmap, TGLMinFilter filter = miLinear,
                GLenum target = GL_TEXTURE_2D, GLint format = GL_RGBA8) {
        FGL.Clear();
        bitmap.UploadToTexture(target, filter, format, FWidth, FHeight);
    }
    std::vector<std::string> UploadCalls() const {
        std::vector<std::string> names;
        for (const TGLCall& call : FGL.Calls)
            if (call.Name == "glTexParameteri" || call.Name == "glTexImage2D" ||
                call.Name == "gluBuild2DMipmaps" || call.Name == "gluScaleImage")
                names.push_back(call.Text());
        return names;
    }

    TRecordingGL FGL;
    bool FSavedGenerateMipmap = GL_SGIS_generate_mipmap;
    int32_t FWidth = -1, FHeight = -1;
};

TEST_F(GLGraphics, DataRowZeroIsThePicturesBottomRowUnlessTheOrderIsPreserved) {
    RegisterJPEGImageFormat();
    TJPEGImage jpeg;
    const std::vector<uint8_t> bytes = WriteJPEG(
        {.Width = 8, .Height = 8, .Quality = 100, .FullChroma = true, .Pixel = [](int, int y) {
             return y < 4 ? TJPEGRgb{255, 0, 0} : TJPEGRgb{0, 0, 255};
         }});
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    jpeg.LoadFromStream(stream);
    const TBitmap bitmap = RedOverBlue(8, 8);
    for (const TGraphic* picture : std::initializer_list<const TGraphic*>{&bitmap, &jpeg}) {
        SCOPED_TRACE(picture->ClassName());
        for (bool preserve : {false, true}) {
            TGLBitmap32 texture;
            texture.SetPreserveRowOrder(preserve);
            texture.Assign(picture);
            ASSERT_EQ(texture.Height(), 8);
            const TGLPixel32 first = texture.ScanLine(0)[3], last = texture.ScanLine(7)[3];
            EXPECT_GT(preserve ? first.r : first.b, 250) << "row 0, preserved: " << preserve;
            EXPECT_GT(preserve ? last.b : last.r, 250) << "row 7, preserved: " << preserve;
            EXPECT_EQ(first.a, 255);
        }
    }
}

TEST_F(GLGraphics, AThirtyTwoBitBitmapKeepsItsAlpha) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf32bit);
    bitmap.SetSize(4, 2);
    const uint8_t bgra[4] = {1, 2, 3, 4};
    std::copy(bgra, bgra + 4, bitmap.ScanLine(0));
    TGLBitmap32 texture;
    texture.Assign(&bitmap);
    EXPECT_EQ(texture.ScanLine(1)[0], (TGLPixel32{3, 2, 1, 4}));
    // And back: rows reversed, B, G, R, A.
    const std::unique_ptr<TBitmap> back = texture.Create32BitsBitmap();
    ASSERT_EQ(back->PixelFormat(), pf32bit);
    EXPECT_EQ(std::vector<uint8_t>(back->ScanLine(0), back->ScanLine(0) + 4),
              (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(GLGraphics, ANarrowPictureIsStretchedToAMultipleOfFourAndUploadedAsItIs) {
    TBitmap bitmap;
    bitmap.SetSize(3, 2);
    for (int x = 0; x < 3; ++x)
        bitmap.ScanLine(0)[3 * x + 2] = bitmap.ScanLine(1)[3 * x + 2] = static_cast<uint8_t>(x + 1);
    TGLBitmap32 texture;
    texture.Assign(&bitmap);
    ASSERT_EQ(texture.Width(), 4);
    ASSERT_EQ(texture.Height(), 2);
    const TGLPixel32* row = texture.ScanLine(0);
    EXPECT_EQ((std::vector<int>{row[0].r, row[1].r, row[2].r, row[3].r}),
              (std::vector<int>{1, 2, 2, 3}));

    Upload(texture);
    EXPECT_EQ(UploadCalls(), (std::vector<std::string>{"glTexImage2D(3553, 0, 32856, 4, 2, 0, "
                                                       "6408, 5121, 0)"}));
    EXPECT_EQ(FGL.Named("glTexImage2D")[0].Data,
              std::vector<double>(texture.Data(), texture.Data() + texture.DataSize()));
    EXPECT_EQ(FWidth, 4);
    EXPECT_EQ(FHeight, 2);
}

TEST_F(GLGraphics, SizesGoToPowersOfTwoWithinTheMaximum) {
    const struct {
        int Width, Height, Max, UploadedWidth, UploadedHeight;
        bool Resampled;
    } cases[] = {
        {800, 600, 1024, 1024, 1024, true}, {512, 512, 1024, 512, 512, false},
        {800, 600, 512, 512, 512, true},    {4096, 4, 2048, 2048, 4, true},
        {4, 1, 1024, 4, 1, false},          {12, 3, 1024, 16, 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << " x " << c.Height << " within " << c.Max);
        FGL.Values[GL_MAX_TEXTURE_SIZE] = {double(c.Max)};
        const TGLBitmap32 bitmap = Sized(c.Width, c.Height);
        Upload(bitmap);
        EXPECT_EQ(FWidth, c.UploadedWidth);
        EXPECT_EQ(FHeight, c.UploadedHeight);
        const std::vector<TGLCall> scaled = FGL.Named("gluScaleImage");
        ASSERT_EQ(scaled.size(), c.Resampled ? 1u : 0u);
        if (c.Resampled) {
            EXPECT_EQ(scaled[0].Args,
                      (std::vector<double>{GL_RGBA, double(c.Width), double(c.Height),
                                           GL_UNSIGNED_BYTE, 0, double(c.UploadedWidth),
                                           double(c.UploadedHeight), GL_UNSIGNED_BYTE, 0}));
        }
        const TGLCall image = FGL.Named("glTexImage2D").at(0);
        EXPECT_EQ(image.Args[3], c.UploadedWidth);
        EXPECT_EQ(image.Args[4], c.UploadedHeight);
    }
    // The small resampled upload hands over the resampled pixels.
    EXPECT_EQ(FGL.Named("glTexImage2D")[0].Data.size(), 16u * 4 * 4);
}

TEST_F(GLGraphics, MipmapsAreBuiltOnlyForMipmappingFilters) {
    const std::string image = "glTexImage2D(%d, 0, 32856, 8, 4, 0, 6408, 5121, 0)";
    const struct {
        TGLMinFilter Filter;
        bool GenerateMipmap;
        GLenum Target;
        std::vector<std::string> Calls;
    } cases[] = {
        {miNearest, true, GL_TEXTURE_2D, {Format(image.c_str(), 3553)}},
        {miLinear, true, GL_TEXTURE_2D, {Format(image.c_str(), 3553)}},
        {miNearestMipmapNearest,
         true,
         GL_TEXTURE_2D,
         {"glTexParameteri(3553, 33169, 1)", Format(image.c_str(), 3553)}},
        {miLinearMipmapLinear,
         false,
         GL_TEXTURE_2D,
         {"gluBuild2DMipmaps(3553, 32856, 8, 4, 6408, 5121, 0)"}},
        {miLinearMipmapNearest,
         true,
         GL_TEXTURE_RECTANGLE_NV,
         {"gluBuild2DMipmaps(34037, 32856, 8, 4, 6408, 5121, 0)"}},
    };
    const TGLBitmap32 bitmap = Sized(8, 4);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "filter " << int(c.Filter));
        GL_SGIS_generate_mipmap = c.GenerateMipmap;
        Upload(bitmap, c.Filter, c.Target);
        EXPECT_EQ(UploadCalls(), c.Calls);
    }
}

TEST_F(GLGraphics, FloatFormatsUploadNoDataAndOnlyToRectangles) {
    const TGLBitmap32 bitmap = Sized(800, 600);
    Upload(bitmap, miLinearMipmapLinear, GL_TEXTURE_RECTANGLE_NV, GL_RGBA32F_ARB);
    EXPECT_EQ(UploadCalls(), (std::vector<std::string>{"glTexImage2D(34037, 0, 34836, 1024, 1024, "
                                                       "0, 6408, 5126, 0)"}));
    try {
        Upload(bitmap, miLinear, GL_TEXTURE_2D, GL_RGBA16F_ARB);
        FAIL() << "uploaded";
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message(), "NV Float-type texture must use GL_TEXTURE_RECTANGLE_NV");
    }
}

TEST_F(GLGraphics, AnEmptyBitmapUploadsNothing) {
    Upload(TGLBitmap32());
    EXPECT_TRUE(FGL.Calls.empty());
    EXPECT_EQ(FWidth, -1);
    EXPECT_EQ(FHeight, -1);
}

TEST_F(GLGraphics, AlphaOperations) {
    const struct {
        const char* Name;
        void (*Apply)(TGLBitmap32&);
        uint8_t Alpha;
    } cases[] = {
        {"from intensity", [](TGLBitmap32& b) { b.SetAlphaFromIntensity(); }, 60},
        {"square root", [](TGLBitmap32& b) { b.SqrtAlpha(); }, 123},
        {"inverted", [](TGLBitmap32& b) { b.InvertAlpha(); }, 248},
        {"value", [](TGLBitmap32& b) { b.SetAlphaToValue(99); }, 99},
        {"this colour", [](TGLBitmap32& b) { b.SetAlphaTransparentForColor(TColor{0x5A3C1E}); }, 0},
        {"other colour", [](TGLBitmap32& b) { b.SetAlphaTransparentForColor(clRed); }, 255},
        {"this pixel",
         [](TGLBitmap32& b) {
             b.SetAlphaTransparentForColor(TGLPixel32{30, 60, 90, 1});
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TGLBitmap32 bitmap = Sized(4, 1);
        for (int x = 0; x < 4; ++x)
            bitmap.ScanLine(0)[x] = {30, 60, 90, 7};
        c.Apply(bitmap);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(bitmap.ScanLine(0)[x], (TGLPixel32{30, 60, 90, c.Alpha}));
    }
}

TEST_F(GLGraphics, BrightnessAndGammaGoThroughTablesAndLeaveAlpha) {
    const struct {
        bool Gamma;
        float Value;
        std::vector<uint8_t> In, Out;
    } cases[] = {
        {false, 2.0f, {0, 100, 200}, {0, 200, 255}},   {false, 0.5f, {101, 255, 1}, {51, 128, 1}},
        {true, 1.0f, {0, 64, 255}, {0, 64, 255}},      {true, 2.0f, {0, 64, 255}, {0, 128, 255}},
        {true, 0.05f, {128, 250, 255}, {0, 209, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.Gamma ? "gamma " : "brightness ") << c.Value);
        TGLBitmap32 bitmap = Sized(4, 1);
        bitmap.ScanLine(0)[0] = {c.In[0], c.In[1], c.In[2], 77};
        c.Gamma ? bitmap.CorrectGamma(c.Value) : bitmap.CorrectBrightness(c.Value);
        EXPECT_EQ(bitmap.ScanLine(0)[0], (TGLPixel32{c.Out[0], c.Out[1], c.Out[2], 77}));
    }
    TGLBitmap32 bitmap = Sized(4, 1);
    EXPECT_THROW(bitmap.CorrectBrightness(-0.1f), EAssertionFailed);
    EXPECT_THROW(bitmap.CorrectGamma(0), EAssertionFailed);
}

TEST_F(GLGraphics, SizesAssignmentAndPictureFormats) {
    TGLBitmap32 bitmap = Sized(5, 3);
    EXPECT_EQ(bitmap.Width(), 8);
    EXPECT_EQ(bitmap.DataSize(), 8 * 3 * 4);
    EXPECT_THROW(bitmap.SetHeight(-1), EAssertionFailed);
    bitmap.ScanLine(2)[7] = Red;

    TGLBitmap32 copy;
    copy.Assign(&bitmap);
    EXPECT_EQ(copy.ScanLine(2)[7], Red);
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(copy.DataSize(), 0);
    TPicture picture;
    EXPECT_THROW(copy.Assign(&picture), EConvertError);

    RegisterJPEGImageFormat();
    EXPECT_EQ(GraphicClassForExtension(".JPG"), &TJPEGImage::ClassInfo);
    EXPECT_EQ(GraphicClassForExtension("jpeg"), &TJPEGImage::ClassInfo);
    EXPECT_EQ(GraphicClassForExtension("Bmp"), &TBitmap::ClassInfo);
    EXPECT_EQ(GraphicClassForExtension("png"), nullptr);
}

// A height field rising to the right: its normals lean left; a flat one faces straight out.
// Wrapping decides whether the right edge sees the low left column as its neighbour.
TEST(GLBitmap32NormalMap, SlopesBecomeNormalsAndTheEdgesWrapOnlyWhenAsked) {
    TGLBitmap32 bitmap = Sized(4, 1);
    for (int x = 0; x < 4; ++x)
        bitmap.ScanLine(0)[x] = {uint8_t(x * 10), uint8_t(x * 10), uint8_t(x * 10), 0};
    TGLBitmap32 wrapped;
    wrapped.Assign(&bitmap);
    bitmap.GrayScaleToNormalMap(0.05f, false, false);
    const TGLPixel32 inner = bitmap.ScanLine(0)[1];
    EXPECT_LT(inner.r, 128) << "leaning away from the rise";
    EXPECT_EQ(inner.g, 128);
    EXPECT_GT(inner.b, 200);
    EXPECT_EQ(inner.a, 255);
    EXPECT_LT(bitmap.ScanLine(0)[3].r, 128) << "the edge repeats itself";

    wrapped.GrayScaleToNormalMap(0.05f, true, true);
    EXPECT_EQ(wrapped.ScanLine(0)[1], inner);
    EXPECT_GT(wrapped.ScanLine(0)[3].r, 128) << "the right edge's neighbour is the low left";

    TGLBitmap32 flat = Sized(4, 4);
    flat.GrayScaleToNormalMap(1, true, true);
    EXPECT_EQ(flat.ScanLine(2)[2], (TGLPixel32{128, 128, 255, 255}));
}

} // namespace
