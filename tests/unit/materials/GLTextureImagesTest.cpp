// The texture images (GLTextureImages): their classes by name, pictures and their changes,
// stored pictures, missing files and the faces of a cube map.
#include "platform/framework/JPEGImage.h"
#include "tests/support/JPEGWriter.h"
#include "tests/unit/materials/TextureFixture.h"

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST_F(TextureFixture, ImageClassNamesAndImagesReplaceTheImageOnlyForAnotherClass) {
    GivePicture();
    TGLTextureImage* image = &texture.Image();
    EXPECT_STREQ(texture.ImageClassName(), "TGLPersistentImage");
    EXPECT_STREQ(image->FriendlyName(), "Persistent Image");
    texture.ReleaseHandles();
    material.Texture().SetDisabled(false);
    texture.Apply(rci);
    texture.SetImageClassName("TGLPersistentImage");
    texture.SetImageClassName("");
    EXPECT_EQ(&texture.Image(), image);
    EXPECT_TRUE(texture.Changes().Empty()) << "the same class name changes nothing";

    TGLTexture other(nullptr);
    const TBitmap blue = [] {
        TBitmap bitmap;
        bitmap.SetSize(8, 8);
        return bitmap;
    }();
    other.Image().Assign(&blue);
    texture.SetImage(&other.Image());
    EXPECT_EQ(&texture.Image(), image) << "an image of the same class is copied in";
    EXPECT_EQ(texture.Image().Width(), 8);
    EXPECT_TRUE(texture.Changes().Contains(tcImage));

    texture.SetImageClassName("TGLBlankImage");
    EXPECT_STREQ(texture.ImageClassName(), "TGLBlankImage");
    EXPECT_EQ(texture.Image().Width(), 256);
    texture.SetImage(nullptr);
    EXPECT_STREQ(texture.ImageClassName(), "TGLPersistentImage");
    EXPECT_EQ(texture.Image().Width(), 0) << "a fresh image";
    EXPECT_THROW(texture.SetImageClassName("TGLNoSuchImage"), ETexture);

    std::vector<std::string> names;
    for (const TGLTextureImageClass& imageClass : GLTextureImageClasses())
        names.push_back(imageClass.Name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"TGLBlankImage", "TGLPersistentImage", "TGLPicFileImage",
                                        "TGLCubeMapImage", "TGLFloatDataImage"}));
    for (const std::string& name : names) {
        texture.SetImageClassName(name);
        EXPECT_EQ(texture.ImageClassName(), name);
    }
}

TEST_F(TextureFixture, APictureChangeInvalidatesButDecodingDoesNot) {
    GivePicture();
    texture.SetDisabled(false);
    material.PrepareTextures();
    EXPECT_EQ(Uploads(), 1u) << "prepared before any drawing";
    ASSERT_TRUE(texture.Changes().Empty()) << "decoding the picture changed nothing";

    auto& image = dynamic_cast<TGLPictureImage&>(texture.Image());
    TGLBitmap32* pixels = image.GetPixels(GL_TEXTURE_2D);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->ScanLine(0)[0], (TGLPixel32{0, 0, 255, 255})) << "row 0 is the bottom";
    EXPECT_TRUE(texture.Changes().Empty());

    const int before = owner.Changes;
    TBitmap replacement;
    replacement.SetSize(2, 2);
    image.Picture().Assign(&replacement);
    EXPECT_TRUE(texture.Changes().Contains(tcImage));
    EXPECT_GT(owner.Changes, before) << "the owning material's object is told";
    EXPECT_EQ(image.GetPixels(GL_TEXTURE_2D)->Width(), 4) << "the new picture, 2 wide made 4";
}

TEST_F(TextureFixture, ThePictureOfAPersistentImageReadsItsStoredForm) {
    RegisterJPEGImageFormat();
    const std::vector<uint8_t> jpeg = WriteJPEG({.Width = 12, .Height = 8});
    std::vector<uint8_t> stored{10};
    for (char c : std::string("TJPEGImage"))
        stored.push_back(uint8_t(c));
    for (int shift = 0; shift < 32; shift += 8)
        stored.push_back(uint8_t(jpeg.size() >> shift));
    stored.insert(stored.end(), jpeg.begin(), jpeg.end());
    TMemoryStream stream;
    stream.WriteBuffer(stored.data(), stored.size());
    stream.SetPosition(0);

    auto& image = dynamic_cast<TGLPersistentImage&>(texture.Image());
    image.Picture().ReadData(stream);
    EXPECT_EQ(image.Width(), 12);
    texture.SetDisabled(false);
    texture.SetMinFilter(miNearest);
    texture.Apply(rci);
    ASSERT_EQ(gl.Count("glTexImage2D"), 1u);
    EXPECT_EQ(texture.TexWidth(), 16);
    EXPECT_EQ(texture.TexHeight(), 8);
}

TEST_F(TextureFixture, LoadingAMissingFileClearsThePictureAndRaisesETexture) {
    GivePicture();
    auto& image = dynamic_cast<TGLPersistentImage&>(texture.Image());
    std::string asked;
    texture.OnTextureNeeded = [&](TObject*, std::string& fileName) {
        asked = fileName;
        fileName = "/no/such/dir/" + fileName;
    };
    try {
        image.LoadFromFile("wall.bmp");
        FAIL() << "no exception";
    } catch (const ETexture& e) {
        EXPECT_EQ(e.Message(), "Could not open file: /no/such/dir/wall.bmp");
    }
    EXPECT_EQ(asked, "wall.bmp");
    EXPECT_EQ(image.Picture().Graphic(), nullptr);

    const std::string file = (std::filesystem::temp_directory_path() /
                              ("skyview-texture-" + std::to_string(getpid()) + ".bmp"))
                                 .string();
    RedOverBlue().SaveToFile(file);
    texture.OnTextureNeeded = nullptr;
    image.LoadFromFile(file);
    EXPECT_EQ(image.Width(), 4);
    std::filesystem::remove(file);
}

TEST_F(TextureFixture, ACubeMapUploadsItsSixFacesOnlyWhereCubeMapsExist) {
    texture.SetImageClassName("TGLCubeMapImage");
    auto& image = dynamic_cast<TGLCubeMapImage&>(texture.Image());
    TBitmap face;
    face.SetSize(4, 4);
    for (int i = TGLCubeMapImage::cmtPX; i <= TGLCubeMapImage::cmtNZ; ++i)
        image.Pictures(TGLCubeMapImage::TFace(i)).Assign(&face);
    texture.SetMinFilter(miLinear);
    texture.SetDisabled(false);
    {
        TFlagOverride cubeMaps(GL_ARB_texture_cube_map, false);
        gl.Clear();
        texture.Apply(rci);
        EXPECT_EQ(Uploads() + gl.Count("glBindTexture"), 0u);
        EXPECT_FALSE(cache.States().Contains(capTextureCubeMap));
    }
    TFlagOverride cubeMaps(GL_ARB_texture_cube_map, true);
    texture.ReleaseHandles();
    gl.Clear();
    texture.Apply(rci);
    EXPECT_TRUE(cache.States().Contains(capTextureCubeMap));
    const auto uploads = gl.Named("glTexImage2D");
    ASSERT_EQ(uploads.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(uploads[i].Args[0], GL_TEXTURE_CUBE_MAP_POSITIVE_X_ARB + i);
    texture.UnApply(rci);
    EXPECT_FALSE(cache.States().Contains(capTextureCubeMap));

    face.SetSize(4, 2);
    image.Pictures(TGLCubeMapImage::cmtNZ).Assign(&face);
    gl.Clear();
    texture.Apply(rci);
    EXPECT_EQ(Uploads(), 0u) << "faces that are not all one square size upload nothing";
}

} // namespace
