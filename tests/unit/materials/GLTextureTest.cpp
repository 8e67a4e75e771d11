// Colours and the texture (GLTexture): notices, the stored form, uploads, parameters and
// generated coordinates.
#include "tests/unit/materials/TextureFixture.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

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

} // namespace
