#include "engine/materials/GLTexture.h"
#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/scene/RenderContextInfo.h"
#include "platform/framework/JPEGImage.h"
#include "tests/support/FakeContext.h"
#include "tests/support/JPEGWriter.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

// Counts the notices a colour's owner hears.
class TCountingComponent : public TGLUpdateAbleComponent {
public:
    using TGLUpdateAbleComponent::TGLUpdateAbleComponent;
    void NotifyChange(TObject*) override { ++Changes; }
    void StructureChanged() override { ++StructureChanges; }
    int Changes = 0;
    int StructureChanges = 0;
};

class TCountingObject : public TGLUpdateAbleObject {
public:
    using TGLUpdateAbleObject::TGLUpdateAbleObject;
    void NotifyChange(TObject*) override { ++Changes; }
    int Changes = 0;
};

TEST(GLColor, AComponentOwnerHearsOfAStructureChangeAndAChange) {
    TCountingComponent owner(nullptr);
    TGLColor colour(&owner, {0, 0, 0, 1});
    int events = 0;
    colour.OnNotifyChange = [&](TObject*) { ++events; };
    const std::vector<std::function<void()>> changes{
        [&] { colour.SetRed(0.5f); }, [&] { colour.SetGreen(0.5f); }, [&] { colour.SetBlue(0.5f); },
        [&] { colour.SetAlpha(0.5f); },
        [&] {
            colour.SetColor({1, 1, 1, 1});
        }};
    for (const auto& change : changes)
        change();
    EXPECT_EQ(owner.StructureChanges, 5);
    EXPECT_EQ(owner.Changes, 5);
    EXPECT_EQ(events, 5);
    colour.SetRed(1);
    EXPECT_EQ(owner.Changes, 5) << "a component set to its own value notifies nobody";
}

TEST(GLColor, OtherOwnersHearOfTheChangeOnlyAndNoOwnerOfNothing) {
    TCountingObject owner(nullptr);
    TGLColor owned(&owner, {0, 0, 0, 1});
    owned.SetRed(1);
    EXPECT_EQ(owner.Changes, 1);

    TGLColor free(nullptr);
    int events = 0;
    free.OnNotifyChange = [&](TObject*) { ++events; };
    free.SetRed(1);
    EXPECT_EQ(events, 0);
}

// A filer that keeps the one binary property an object declares.
class TCapturingFiler : public TFiler {
public:
    void DefineBinaryProperty(const std::string& name, const TBinaryReader& readData,
                              const TBinaryWriter& writeData, bool hasData) override {
        Name = name;
        Read = readData;
        Write = writeData;
        HasData = hasData;
    }
    std::string Name;
    TBinaryReader Read;
    TBinaryWriter Write;
    bool HasData = false;
};

TEST(GLColor, StoresItsFourSinglesAsColorAndReadsThemBackQuietly) {
    TCountingObject owner(nullptr);
    TGLColor colour(&owner, {0.5f, -1, 2, 0.25f});
    TCapturingFiler filer;
    colour.DefineProperties(filer);
    EXPECT_EQ(filer.Name, "Color");
    EXPECT_TRUE(filer.HasData) << "always written";
    const std::vector<uint8_t> bytes = filer.Write();
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 0, 0, 0x3F, 0, 0, 0x80, 0xBF, 0, 0, 0, 0x40, 0, 0,
                                           0x80, 0x3E}));

    TGLColor read(&owner);
    read.DefineProperties(filer);
    filer.Read(bytes);
    EXPECT_EQ(read.Color(), colour.Color());
    filer.Read(std::vector<uint8_t>{0, 0, 0x80, 0x3F}); // a short record: red only
    EXPECT_EQ(read.Color(), (TVector{1, -1, 2, 0.25f}));
    EXPECT_EQ(owner.Changes, 0) << "reading the stored form notifies nobody";
}

TEST(GLColor, AWindowsColourBecomesSinglesWithTheGivenAlpha) {
    EXPECT_EQ(ConvertWinColor(0x0080FF, 0.5f), (TVector{1, 128 / 255.0f, 0, 0.5f}));
    EXPECT_EQ(ConvertWinColor(clWhite), (TVector{1, 1, 1, 1}));
}

// --- Textures ----------------------------------------------------------------------------------

// A 4 x 2 picture: the top row red, the bottom row blue.
TBitmap RedOverBlue() {
    TBitmap bitmap;
    bitmap.SetSize(4, 2);
    for (int x = 0; x < 4; ++x) {
        bitmap.ScanLine(0)[3 * x + 2] = 255;
        bitmap.ScanLine(1)[3 * x] = 255;
    }
    return bitmap;
}

// Sets an extension flag for the scope's life.
class TFlagOverride {
public:
    TFlagOverride(bool& flag, bool value) : FFlag(flag), FSaved(flag) { flag = value; }
    ~TFlagOverride() { FFlag = FSaved; }

private:
    bool& FFlag;
    bool FSaved;
};

// A frame on the recording table with a current context; the texture belongs to a material
// whose owner counts the notices.
struct TextureFixture : testing::Test {
    TRecordingGL gl;
    TFakeContext context;
    TGLStateCache cache;
    TRenderContextInfo rci;
    TCountingComponent owner{nullptr};
    TGLMaterial material{&owner};
    TGLTexture& texture = material.Texture();

    void SetUp() override {
        gl.Values[GL_MAX_TEXTURE_SIZE] = {1024};
        context.CreateForDevice(nullptr);
        context.MakeCurrent();
        InitializeTexCoordDispatch();
        SelectTexCoordUnit0();
        cache.ResetAll();
        rci.StateCache = &cache;
        gl.Clear();
    }
    void TearDown() override {
        context.ReleaseCurrent();
        InitializeTexCoordDispatch();
    }

    void GivePicture() {
        const TBitmap picture = RedOverBlue();
        texture.Image().Assign(&picture);
    }
    // A further texture with a picture, switched on, on `unit`.
    TGLTextureExItem* EnabledItem(int unit) {
        TGLTextureExItem* item = material.TextureEx().Add();
        item->SetTextureIndex(unit);
        const TBitmap picture = RedOverBlue();
        item->Texture().Image().Assign(&picture);
        item->Texture().SetDisabled(false);
        return item;
    }
    size_t Uploads() const { return gl.Count("glTexImage2D") + gl.Count("gluBuild2DMipmaps"); }
    bool Sent(const char* name, std::initializer_list<double> args) const {
        return gl.Find(name, args) >= 0;
    }
};

TEST_F(TextureFixture, ANewTextureIsDisabledAndOnlySwitchesTexturingOff) {
    EXPECT_TRUE(texture.Disabled());
    GivePicture();
    cache.Enable(capTexture2D);
    gl.Clear();
    texture.Apply(rci);
    EXPECT_EQ(gl.Trace(), (std::vector<std::string>{"glDisable(3553)"}));
    texture.UnApply(rci);
    material.PrepareTextures();
    EXPECT_EQ(gl.Count("glGenTextures") + Uploads(), 0u) << "a disabled texture never uploads";
}

TEST_F(TextureFixture, TheFirstApplyUploadsWithTheParametersAndLaterOnesOnlyBind) {
    GivePicture();
    texture.SetDisabled(false);
    EXPECT_EQ(owner.StructureChanges, 1) << "switching the texture on rebuilds the owner";
    gl.Values[GL_TEXTURE_BINDING_2D] = {7};
    material.Apply(rci);
    EXPECT_TRUE(cache.States().Contains(capTexture2D));
    EXPECT_EQ(gl.Count("glGenTextures"), 1u);
    const GLuint name = texture.Handle().Handle();
    EXPECT_NE(name, 0u);
    for (auto [pname, value] : {std::pair{GL_TEXTURE_WRAP_S, GL_REPEAT},
                                {GL_TEXTURE_WRAP_T, GL_REPEAT},
                                {GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR},
                                {GL_TEXTURE_MAG_FILTER, GL_LINEAR}})
        EXPECT_TRUE(Sent("glTexParameteri", {GL_TEXTURE_2D, double(pname), double(value)}))
            << pname;
    EXPECT_TRUE(Sent("glTexEnvi", {GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL}));
    ASSERT_EQ(gl.Count("gluBuild2DMipmaps"), 1u) << "mipmaps for the default filter";
    EXPECT_EQ(gl.Named("gluBuild2DMipmaps")[0].Args[1], GL_RGBA8);
    EXPECT_EQ(texture.TexWidth(), 4);
    EXPECT_EQ(texture.TexHeight(), 2);
    EXPECT_EQ(texture.RequiredMemorySize(), 0);
    EXPECT_TRUE(texture.Changes().Empty());

    // The upload bound the texture itself; the binding the cache knew of is back before the
    // cache binds the texture for drawing.
    const auto binds = gl.Named("glBindTexture");
    ASSERT_EQ(binds.size(), 3u);
    EXPECT_EQ(binds[1].Args, (std::vector<double>{GL_TEXTURE_2D, 7}));
    EXPECT_EQ(binds[2].Args, (std::vector<double>{GL_TEXTURE_2D, double(name)}));

    material.UnApply(rci);
    EXPECT_FALSE(cache.States().Contains(capTexture2D));
    gl.Clear();
    material.Apply(rci);
    EXPECT_EQ(gl.Count("glGenTextures") + Uploads() + gl.Count("glBindTexture"), 0u)
        << "the cache already holds the binding";
    EXPECT_TRUE(cache.States().Contains(capTexture2D));
}

TEST_F(TextureFixture, AnyChangeUploadsAgainAtTheNextApply) {
    GivePicture();
    texture.SetDisabled(false);
    texture.Apply(rci);
    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        {"texture mode", [&] { texture.SetTextureMode(tmModulate); }},
        {"min filter", [&] { texture.SetMinFilter(miLinear); }},
        {"wrap", [&] { texture.SetTextureWrap(twNone); }},
        {"alpha", [&] { texture.SetImageAlpha(tiaOpaque); }},
        {"brightness", [&] { texture.SetImageBrightness(0.5f); }},
        {"env colour",
         [&] {
             texture.SetEnvColor(TGLColor(nullptr, {1, 0, 0, 1}));
         }},
        {"picture", [&] { GivePicture(); }},
        {"released handles", [&] { texture.ReleaseHandles(); }},
    };
    for (const auto& [what, change] : changes) {
        const int before = owner.Changes;
        change();
        EXPECT_FALSE(texture.Changes().Empty()) << what;
        if (std::string(what) != "released handles") {
            EXPECT_GT(owner.Changes, before) << what << ": the owner hears of it";
        }
        gl.Clear();
        texture.Apply(rci);
        EXPECT_EQ(Uploads(), 1u) << what;
    }
    EXPECT_TRUE(Sent("glTexEnvi", {GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE}));
    EXPECT_TRUE(Sent("glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP}))
        << "OpenGL 1.1 without edge clamping clamps plainly";
    EXPECT_EQ(gl.Count("glTexImage2D"), 1u) << "a linear filter builds no mipmaps";

    const int before = owner.Changes;
    texture.SetTextureMode(tmModulate);
    texture.SetMinFilter(miLinear);
    EXPECT_EQ(owner.Changes, before) << "an unchanged value notifies nobody";
    EXPECT_TRUE(texture.Changes().Empty());
}

TEST_F(TextureFixture, GeneratedCoordinatesGoThroughTheDispatchAndStopWithTheTexture) {
    texture.SetDisabled(false);
    texture.MappingSCoordinates().SetVector(0, 0, 1, 0);
    const int structure = owner.StructureChanges;
    texture.SetMappingMode(tmmObjectLinear);
    EXPECT_EQ(owner.StructureChanges, structure + 1) << "given to generated coordinates";
    texture.SetMappingMode(tmmEyeLinear);
    EXPECT_EQ(owner.StructureChanges, structure + 1) << "one generated mode to another";
    texture.SetMappingMode(tmmObjectLinear);
    gl.Clear();
    texture.Apply(rci);
    EXPECT_TRUE(Sent("glTexGeni", {GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR}));
    EXPECT_TRUE(Sent("glTexGeni", {GL_T, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR}));
    const long plane = gl.Find("glTexGenfv", {GL_S, GL_OBJECT_PLANE, 0});
    ASSERT_GE(plane, 0);
    EXPECT_EQ(gl.Calls[plane].Data, (std::vector<double>{0, 0, 1, 0}));
    EXPECT_EQ(gl.Enabled(GL_TEXTURE_GEN_S), true);
    EXPECT_EQ(gl.Enabled(GL_TEXTURE_GEN_T), true);
    texture.UnApply(rci);
    for (GLenum generation : {GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R})
        EXPECT_EQ(gl.Enabled(generation), false) << generation;

    // With the dispatch feeding no unit, generation calls go nowhere.
    SelectTexCoordNone();
    gl.Clear();
    texture.Apply(rci);
    EXPECT_EQ(gl.Count("glTexGeni"), 0u);
}

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

TEST_F(TextureFixture, AssignCopiesTheTextureButNotItsColourCorrectionOrEnvironment) {
    TGLTexture source(nullptr);
    const TBitmap picture = RedOverBlue();
    source.Image().Assign(&picture);
    source.SetDisabled(false);
    source.SetTextureMode(tmReplace);
    source.SetTextureWrap(twVertical);
    source.SetTextureFormat(tfLuminance);
    source.SetCompression(tcHighSpeed);
    source.SetMinFilter(miNearest);
    source.SetMagFilter(maNearest);
    source.SetImageAlpha(tiaOpaque);
    source.SetMappingMode(tmmSphere);
    source.MappingTCoordinates().SetVector(0, 1, 0, 0);
    source.SetEnvColor(TGLColor(nullptr, {1, 1, 1, 1}));
    source.SetImageBrightness(2);
    source.SetImageGamma(2);
    source.SetFilteringQuality(tfAnisotropic);
    source.SetNormalMapScale(1);

    const int structure = owner.StructureChanges;
    texture.Assign(&source);
    EXPECT_FALSE(texture.Disabled());
    EXPECT_EQ(owner.StructureChanges, structure + 1) << "switched on and generating";
    EXPECT_EQ(texture.TextureMode(), tmReplace);
    EXPECT_EQ(texture.TextureWrap(), twVertical);
    EXPECT_EQ(texture.TextureFormat(), tfLuminance);
    EXPECT_EQ(texture.Compression(), tcHighSpeed);
    EXPECT_EQ(texture.MinFilter(), miNearest);
    EXPECT_EQ(texture.MagFilter(), maNearest);
    EXPECT_EQ(texture.ImageAlpha(), tiaOpaque);
    EXPECT_EQ(texture.MappingMode(), tmmSphere);
    EXPECT_EQ(texture.MappingTCoordinates().AsVector(), (TVector{0, 1, 0, 0}));
    EXPECT_EQ(texture.Image().Width(), 4);
    EXPECT_EQ(texture.EnvColor().Color(), (TVector{0, 0, 0, 0}));
    EXPECT_EQ(texture.ImageBrightness(), 1);
    EXPECT_EQ(texture.ImageGamma(), 1);
    EXPECT_EQ(texture.FilteringQuality(), tfIsotropic);
    EXPECT_EQ(texture.NormalMapScale(), 0.125f);
    EXPECT_EQ(texture.Changes(), (TGLTextureChanges{tcImage, tcParams}));

    texture.Assign(nullptr);
    EXPECT_TRUE(texture.Disabled());
    EXPECT_EQ(texture.Image().Width(), 0);
    const TGLColor colour(nullptr);
    EXPECT_THROW(texture.Assign(&colour), EConvertError);
}

TEST_F(TextureFixture, TheInternalFormatFollowsFormatAndCompressionAndWhatTheDriverOffers) {
    struct Row {
        bool Compression;
        TGLTextureFormat Format;
        TGLTextureCompression Compress;
        GLenum Expected;
        GLenum Hint; // 0: no compression hint
    };
    const Row rows[] = {
        {true, tfDefault, tcStandard, GL_COMPRESSED_RGBA_ARB, GL_DONT_CARE},
        {false, tfDefault, tcStandard, GL_RGBA8, 0},
        {true, tfDefault, tcDefault, GL_RGBA8, 0},
        {true, tfRGB, tcHighQuality, GL_COMPRESSED_RGB_ARB, GL_NICEST},
        {true, tfIntensity, tcHighSpeed, GL_COMPRESSED_INTENSITY_ARB, GL_FASTEST},
        {true, tfRGBAFloat16, tcStandard, 0x888A, 0},
        {false, tfRGB16, tcNone, GL_RGB5, 0},
        {false, tfLuminanceAlpha, tcNone, GL_LUMINANCE8_ALPHA8, 0},
        {false, tfNormalMap, tcNone, GL_RGB8, 0},
    };
    for (const Row& row : rows) {
        TFlagOverride compression(GL_ARB_texture_compression, row.Compression);
        texture.SetTextureFormat(row.Format);
        texture.SetCompression(row.Compress);
        gl.Clear();
        EXPECT_EQ(texture.OpenGLTextureFormat(), GLint(row.Expected)) << int(row.Format);
        EXPECT_EQ(gl.Count("glHint"), row.Hint ? 1u : 0u) << int(row.Format);
        if (row.Hint) {
            EXPECT_TRUE(Sent("glHint", {GL_TEXTURE_COMPRESSION_HINT_ARB, double(row.Hint)}));
        }
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

TEST_F(TextureFixture, AFailedUploadIsReportedOnceAndLeavesNoPixelsBehind) {
    GivePicture();
    texture.SetDisabled(false);
    gl.Errors = {GL_INVALID_OPERATION};
    EXPECT_THROW(texture.Apply(rci), EOpenGLError);
    EXPECT_EQ(Uploads(), 0u);
    gl.Clear();
    texture.Apply(rci);
    EXPECT_EQ(Uploads(), 0u) << "no retry in every frame";
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

TEST_F(TextureFixture, AMaterialMakesCopiesAndFreesItsTexture) {
    TGLMaterial plain(nullptr);
    EXPECT_FALSE(plain.HasTexture());
    gl.Clear();
    plain.Apply(rci);
    plain.UnApply(rci);
    EXPECT_EQ(gl.Count("glDisable") + gl.Count("glBindTexture"), 0u) << "no texture, no calls";
    EXPECT_TRUE(plain.Texture().Disabled()) << "made on first read";

    GivePicture();
    texture.SetDisabled(false);
    texture.Apply(rci);
    plain.Assign(&material);
    EXPECT_FALSE(plain.Texture().Disabled());
    EXPECT_EQ(plain.Texture().Image().Width(), 4);
    EXPECT_NE(&plain.Texture(), &texture);

    const int structure = owner.StructureChanges;
    material.SetTexture(nullptr);
    EXPECT_FALSE(material.HasTexture());
    EXPECT_EQ(owner.StructureChanges, structure + 1);
    EXPECT_EQ(gl.Count("glDeleteTextures"), 1u) << "its OpenGL texture went with it";
}

TEST_F(TextureFixture, FurtherTexturesAreMadeOnFirstReadCopiedAndStoredOnlyWithItems) {
    TGLMaterial plain(nullptr);
    plain.SetTextureEx(nullptr);
    EXPECT_FALSE(plain.HasTextureEx()) << "nothing to copy on either side";
    EXPECT_EQ(plain.TextureEx().Count(), 0);
    EXPECT_FALSE(plain.StoreTextureEx());

    const int changes = owner.Changes, structure = owner.StructureChanges;
    TGLTextureExItem* item = EnabledItem(2);
    EXPECT_EQ(material.TextureEx().Add()->TextureIndex(), 1) << "an item joins on its position";
    item->TextureScale().SetVector(2, 2, 1, 0);
    EXPECT_GE(owner.Changes, changes + 3) << "the items' changes reach the material's owner";
    EXPECT_EQ(owner.StructureChanges, structure) << "an item switched on only asks for a frame";
    EXPECT_TRUE(material.StoreTextureEx());

    plain.Assign(&material);
    ASSERT_EQ(plain.TextureEx().Count(), 2);
    const TGLTextureExItem& copy = *plain.TextureEx().Items(0);
    EXPECT_NE(&copy, item);
    EXPECT_EQ(copy.TextureIndex(), 2);
    EXPECT_TRUE(copy.Texture().Enabled());
    EXPECT_EQ(copy.Texture().Image().Width(), 4);
    EXPECT_EQ(copy.TextureMatrix()[0][0], 2);

    plain.SetTextureEx(nullptr);
    EXPECT_EQ(plain.TextureEx().Count(), 0) << "nil empties";
    plain.SetTextureEx(&material.TextureEx());
    EXPECT_EQ(plain.TextureEx().Count(), 2);
    const TGLMaterial blank(nullptr);
    plain.Assign(&blank);
    EXPECT_EQ(plain.TextureEx().Count(), 0) << "a material without them leaves none";
}

TEST_F(TextureFixture, AFurtherTextureOnUnitZeroTakesThePlaceOfTheMaterialsOwn) {
    GivePicture();
    texture.SetDisabled(false);
    TGLTextureExItem* item = EnabledItem(0);
    item->TextureOffset().SetVector(0.5f, 0, 0, 0);
    material.Apply(rci);
    const GLuint name = item->Texture().Handle().Handle();
    ASSERT_NE(name, 0u);
    EXPECT_EQ(texture.Handle().Handle(), 0u) << "the material's own texture is not drawn";
    EXPECT_EQ(gl.Named("glBindTexture").back().Args,
              (std::vector<double>{GL_TEXTURE_2D, double(name)}));
    const long load = gl.Find("glLoadMatrixf", {0});
    ASSERT_GE(load, 0);
    EXPECT_EQ(gl.Calls[load].Data[12], 0.5) << "the offset is the texture matrix's translation";
    EXPECT_EQ(gl.Count("glActiveTextureARB"), 0u);
    gl.Clear();
    material.UnApply(rci);
    EXPECT_FALSE(cache.States().Contains(capTexture2D));
    EXPECT_EQ(gl.Count("glLoadIdentity"), 1u);

    item->Texture().SetDisabled(true);
    material.Apply(rci);
    EXPECT_NE(texture.Handle().Handle(), 0u) << "switched off, the item gives unit 0 back";
    material.UnApply(rci);
}

TEST_F(TextureFixture, FurtherTexturesOnOtherUnitsAreDrawnWhereTheDriverHasThem) {
    TFlagOverride multitexture(GL_ARB_multitexture, true);
    gl.Values[GL_MAX_TEXTURE_UNITS_ARB] = {2};
    TGLTextureExItem* item = EnabledItem(1);
    item->TextureScale().SetVector(4, 4, 1, 0);
    EnabledItem(3);
    material.Apply(rci);
    material.UnApply(rci);
    EXPECT_EQ(gl.Count("glActiveTextureARB"), 0u)
        << "beside the material's own texture, even a disabled one, the items are not drawn";

    material.SetTexture(nullptr);
    gl.Clear();
    material.Apply(rci);
    const long unit1 = gl.Find("glActiveTextureARB", {GL_TEXTURE1_ARB});
    const long back = gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB}, unit1);
    ASSERT_GE(unit1, 0);
    ASSERT_GT(back, unit1);
    const long bind =
        gl.Find("glBindTexture", {GL_TEXTURE_2D, double(item->Texture().Handle().Handle())});
    const long enable = gl.Find("glEnable", {GL_TEXTURE_2D}, unit1);
    const long load = gl.Find("glLoadMatrixf", {0}, unit1);
    EXPECT_TRUE(bind > unit1 && enable > unit1 && load > unit1 &&
                std::max({bind, enable, load}) < back);
    EXPECT_EQ(gl.Calls[load].Data[0], 4);
    EXPECT_EQ(gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB + 3}), -1) << "the driver has 2 units";
    EXPECT_EQ(TexCoordUnitMask(), 3u) << "coordinates reach units 0 and 1";

    gl.Clear();
    material.UnApply(rci);
    const long off = gl.Find("glDisable", {GL_TEXTURE_2D});
    EXPECT_GT(off, gl.Find("glActiveTextureARB", {GL_TEXTURE1_ARB}));
    EXPECT_LT(off, gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB}));
    EXPECT_EQ(gl.Count("glLoadIdentity"), 1u);
    EXPECT_EQ(TexCoordUnitMask(), 1u);

    TFlagOverride single(GL_ARB_multitexture, false);
    gl.Clear();
    material.Apply(rci);
    material.UnApply(rci);
    EXPECT_EQ(gl.Count("glActiveTextureARB") + gl.Count("glBindTexture"), 0u)
        << "without multitexturing there is only unit 0";
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
