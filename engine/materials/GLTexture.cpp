#include "engine/materials/GLTexture.h"

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLTextureMaterial.h"
#include "engine/scene/RenderContextInfo.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <typeinfo>

static_assert(std::endian::native == std::endian::little,
              "the stored form of a colour is the in-memory layout of little-endian singles");

namespace {

constexpr const char* cColorProperty = "Color";
constexpr size_t cColorBytes = sizeof(TVector);

constexpr GLint cTextureModes[] = {GL_DECAL, GL_MODULATE, GL_BLEND, GL_REPLACE};
constexpr GLint cMinFilters[] = {GL_NEAREST,
                                 GL_LINEAR,
                                 GL_NEAREST_MIPMAP_NEAREST,
                                 GL_LINEAR_MIPMAP_NEAREST,
                                 GL_NEAREST_MIPMAP_LINEAR,
                                 GL_LINEAR_MIPMAP_LINEAR};

// What tfDefault and tcDefault stand for throughout the engine.
constexpr TGLTextureFormat cDefaultTextureFormat = tfRGBA;
constexpr TGLTextureCompression cDefaultTextureCompression = tcNone;

// By TGLTextureFormat; tfDefault never reaches the tables, float formats never the compressed
// one.
constexpr GLenum cUncompressedFormats[] = {
    GL_RGBA8,      GL_RGB8,   GL_RGBA8,       GL_RGB5,
    GL_RGBA4,      GL_ALPHA8, GL_LUMINANCE8,  GL_LUMINANCE8_ALPHA8,
    GL_INTENSITY8, GL_RGB8,   GL_RGBA16F_ARB, GL_RGBA32F_ARB};
constexpr GLenum cCompressedFormats[] = {GL_COMPRESSED_RGBA_ARB,
                                         GL_COMPRESSED_RGB_ARB,
                                         GL_COMPRESSED_RGBA_ARB,
                                         GL_COMPRESSED_RGB_ARB,
                                         GL_COMPRESSED_RGBA_ARB,
                                         GL_COMPRESSED_ALPHA_ARB,
                                         GL_COMPRESSED_LUMINANCE_ARB,
                                         GL_COMPRESSED_LUMINANCE_ALPHA_ARB,
                                         GL_COMPRESSED_INTENSITY_ARB,
                                         GL_COMPRESSED_RGB_ARB,
                                         GL_RGBA16F_ARB,
                                         GL_RGBA32F_ARB};
static_assert(std::size(cUncompressedFormats) == tfRGBAFloat32 + 1);
static_assert(std::size(cCompressedFormats) == tfRGBAFloat32 + 1);
// By TGLTextureCompression; only the compressing ones are looked up.
constexpr GLenum cCompressionHints[] = {GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, GL_NICEST,
                                        GL_FASTEST};

// The query of the name bound to `target`.
GLenum BindingQuery(GLenum target) {
    if (target == GL_TEXTURE_RECTANGLE_NV)
        return GL_TEXTURE_BINDING_RECTANGLE_NV;
    if (target == GL_TEXTURE_CUBE_MAP_ARB)
        return GL_TEXTURE_BINDING_CUBE_MAP_ARB;
    return GL_TEXTURE_BINDING_2D;
}

} // namespace

// The coordinate-generation calls of a texture: through the texture-coordinate dispatch on unit
// 0, direct on unit 1 (which the second texture of a library material makes active itself).
struct TTexGenCalls {
    void (*TexGeni)(GLenum coord, GLenum pname, GLint param);
    void (*TexGenfv)(GLenum coord, GLenum pname, const GLfloat* params);
    void (*Enable)(GLenum cap);
    void (*Disable)(GLenum cap);
};

namespace {

TTexGenCalls DispatchedTexGen() {
    return {xgl.TexGeni, xgl.TexGenfv, xgl.Enable, xgl.Disable};
}

TTexGenCalls DirectTexGen() {
    return {
        [](GLenum coord, GLenum pname, GLint param) { glTexGeni(coord, pname, param); },
        [](GLenum coord, GLenum pname, const GLfloat* params) { glTexGenfv(coord, pname, params); },
        [](GLenum cap) { glEnable(cap); }, [](GLenum cap) { glDisable(cap); }};
}

} // namespace

TVector ConvertWinColor(TColor color, float alpha) {
    const uint32_t rgb = ColorToRGB(color);
    return {static_cast<float>(rgb & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
            static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, alpha};
}

// --- TGLColor ----------------------------------------------------------------------------------

TGLColor::TGLColor(TPersistent* owner, const TVector& color, TNotifyEvent onChange)
    : TGLUpdateAbleObject(owner), FColor(color) {
    OnNotifyChange = std::move(onChange);
}

void TGLColor::SetColor(const TVector& color) {
    FColor = color;
    NotifyChange(this);
}

void TGLColor::SetComponent(int index, float value) {
    if (StoreIfChanged(FColor[index], value))
        NotifyChange(this);
}

void TGLColor::Assign(const TPersistent* source) {
    if (const auto* color = dynamic_cast<const TGLColor*>(source)) {
        FColor = color->FColor;
        NotifyChange(this);
    } else {
        TGLUpdateAbleObject::Assign(source);
    }
}

void TGLColor::DefineProperties(TFiler& filer) {
    filer.DefineBinaryProperty(
        cColorProperty, [this](std::span<const uint8_t> data) { ReadData(data); },
        [this] { return WriteData(); }, true);
}

void TGLColor::ReadData(std::span<const uint8_t> data) {
    if (data.empty())
        return;
    std::memcpy(FColor.data(), data.data(), std::min(data.size(), cColorBytes));
}

std::vector<uint8_t> TGLColor::WriteData() const {
    std::vector<uint8_t> data(cColorBytes);
    std::memcpy(data.data(), FColor.data(), cColorBytes);
    return data;
}

void TGLColor::NotifyChange(TObject* sender) {
    if (!Owner())
        return;
    if (auto* component = dynamic_cast<TGLUpdateAbleComponent*>(Owner()))
        component->StructureChanged();
    TGLUpdateAbleObject::NotifyChange(sender);
}

// --- TGLTextureTransform -----------------------------------------------------------------------

namespace {

constexpr TVector cNoTextureOffset{0, 0, 0, 0};
constexpr TVector cUnitTextureScale{1, 1, 1, 0};

} // namespace

TGLTextureTransform::TGLTextureTransform(TPersistent* owner)
    : FTextureOffset(owner, cNoTextureOffset, ckFree),
      FTextureScale(owner, cUnitTextureScale, ckFree) {
    FTextureOffset.OnNotifyChange = [this](TObject*) { CalculateTextureMatrix(); };
    FTextureScale.OnNotifyChange = [this](TObject*) { CalculateTextureMatrix(); };
}

void TGLTextureTransform::SetTextureOffset(const TGLCoordinates& value) {
    FTextureOffset.Assign(&value);
    CalculateTextureMatrix();
}

void TGLTextureTransform::SetTextureScale(const TGLCoordinates& value) {
    FTextureScale.Assign(&value);
    CalculateTextureMatrix();
}

void TGLTextureTransform::CalculateTextureMatrix() {
    FTextureMatrixIsIdentity =
        FTextureOffset.Equals(cNoTextureOffset) && FTextureScale.Equals(cUnitTextureScale);
    if (!FTextureMatrixIsIdentity)
        FTextureMatrix = ScaleTranslateMatrix(FTextureScale.AsVector(), FTextureOffset.AsVector());
    TextureMatrixChanged();
}

void TGLTextureTransform::AssignTextureTransform(const TGLTextureTransform& other) {
    FTextureOffset.Assign(&other.FTextureOffset);
    FTextureScale.Assign(&other.FTextureScale);
}

// --- TGLTexture --------------------------------------------------------------------------------

TGLTexture::TGLTexture(TPersistent* owner)
    : TGLUpdateAbleObject(owner), FEnvColor(this, {0, 0, 0, 0}) {
    AdoptImage(std::make_unique<TGLPersistentImage>(*this));
}

TGLTexture::~TGLTexture() = default;

void TGLTexture::AdoptImage(std::unique_ptr<TGLTextureImage> image) {
    FImage = std::move(image);
    FImage->OnTextureNeeded = [this](TObject*, std::string& fileName) {
        if (OnTextureNeeded)
            OnTextureNeeded(this, fileName);
    };
}

void TGLTexture::Assign(const TPersistent* source) {
    if (!source) {
        SetDisabled(true);
        SetImage(nullptr);
    } else if (const auto* other = dynamic_cast<const TGLTexture*>(source)) {
        if (other != this)
            CopyFrom(*other);
    } else if (dynamic_cast<const TGraphic*>(source)) {
        FImage->Assign(source);
    } else if (const auto* picture = dynamic_cast<const TPicture*>(source)) {
        FImage->Assign(picture->Graphic());
    } else {
        TGLUpdateAbleObject::Assign(source);
    }
}

void TGLTexture::CopyFrom(const TGLTexture& other) {
    const bool wasEnabled = Enabled(), wasGenerating = FMappingMode != tmmUser;
    FImageAlpha = other.FImageAlpha;
    FTextureMode = other.FTextureMode;
    FTextureWrap = other.FTextureWrap;
    FTextureFormat = other.FTextureFormat;
    FCompression = other.FCompression;
    FMinFilter = other.FMinFilter;
    FMagFilter = other.FMagFilter;
    FMappingMode = other.FMappingMode;
    if (other.FMapSCoordinates)
        MappingSCoordinates().Assign(other.FMapSCoordinates.get());
    if (other.FMapTCoordinates)
        MappingTCoordinates().Assign(other.FMapTCoordinates.get());
    FDisabled = other.FDisabled;
    SetImage(other.FImage.get());
    FChanges = {tcImage, tcParams};
    if (wasEnabled != Enabled() || wasGenerating != (FMappingMode != tmmUser))
        NotifyOwnerTexMapChange();
    NotifyChange(this);
}

void TGLTexture::NotifyChange(TObject* sender) {
    if (auto* item = dynamic_cast<TGLTextureExItem*>(Owner()))
        item->NotifyChange(this);
    TGLUpdateAbleObject::NotifyChange(sender);
}

void TGLTexture::NotifyImageChange() {
    FChanges.Include(tcImage);
    NotifyChange(this);
}

void TGLTexture::NotifyParamsChange() {
    FChanges.Include(tcParams);
    NotifyChange(this);
}

// Whether the texture is on and how its coordinates come: a material's compiled drawing depends
// on it; an item only asks for a new frame.
void TGLTexture::NotifyOwnerTexMapChange() {
    if (auto* material = dynamic_cast<TGLMaterial*>(Owner()))
        material->NotifyTexMapChange(this);
    else if (auto* item = dynamic_cast<TGLTextureExItem*>(Owner()))
        item->NotifyChange(this);
}

void TGLTexture::SetDisabled(bool value) {
    if (StoreIfChanged(FDisabled, value))
        NotifyOwnerTexMapChange();
}

void TGLTexture::SetImageClassName(const std::string& value) {
    if (value.empty() || value == ImageClassName())
        return;
    const TGLTextureImageClass* imageClass = FindGLTextureImageClass(value);
    if (!imageClass)
        throw ETexture(Format("No texture image class is named %s", value.c_str()));
    AdoptImage(imageClass->Create(*this));
    NotifyImageChange();
}

void TGLTexture::SetImage(const TGLTextureImage* value) {
    if (value == FImage.get())
        return;
    if (!value) {
        AdoptImage(std::make_unique<TGLPersistentImage>(*this));
        NotifyImageChange();
        return;
    }
    const TGLTextureImage& current = *FImage;
    if (typeid(*value) != typeid(current))
        AdoptImage(value->CreateOfSameClass(*this));
    FImage->Assign(value);
    NotifyImageChange();
}

void TGLTexture::SetImageAlpha(TGLTextureImageAlpha value) {
    if (StoreIfChanged(FImageAlpha, value))
        NotifyImageChange();
}

void TGLTexture::SetImageBrightness(float value) {
    if (StoreIfChanged(FImageBrightness, value))
        NotifyImageChange();
}

void TGLTexture::SetImageGamma(float value) {
    if (StoreIfChanged(FImageGamma, value))
        NotifyImageChange();
}

void TGLTexture::SetNormalMapScale(float value) {
    if (StoreIfChanged(FNormalMapScale, value) && FTextureFormat == tfNormalMap)
        NotifyImageChange();
}

void TGLTexture::SetMagFilter(TGLMagFilter value) {
    if (StoreIfChanged(FMagFilter, value))
        NotifyParamsChange();
}

void TGLTexture::SetMinFilter(TGLMinFilter value) {
    if (StoreIfChanged(FMinFilter, value))
        NotifyParamsChange();
}

void TGLTexture::SetTextureMode(TGLTextureMode value) {
    if (StoreIfChanged(FTextureMode, value))
        NotifyParamsChange();
}

void TGLTexture::SetTextureWrap(TGLTextureWrap value) {
    if (StoreIfChanged(FTextureWrap, value))
        NotifyParamsChange();
}

void TGLTexture::SetTextureFormat(TGLTextureFormat value) {
    if (StoreIfChanged(FTextureFormat, value))
        NotifyParamsChange();
}

void TGLTexture::SetCompression(TGLTextureCompression value) {
    if (StoreIfChanged(FCompression, value))
        NotifyParamsChange();
}

void TGLTexture::SetFilteringQuality(TGLTextureFilteringQuality value) {
    if (StoreIfChanged(FFilteringQuality, value))
        NotifyParamsChange();
}

void TGLTexture::SetMappingMode(TGLTextureMappingMode value) {
    const bool wasGenerating = FMappingMode != tmmUser;
    if (!StoreIfChanged(FMappingMode, value))
        return;
    // Switching between given and generated coordinates changes what a compiled drawing holds.
    if (wasGenerating != (value != tmmUser))
        NotifyOwnerTexMapChange();
    else
        NotifyChange(this);
}

TGLCoordinates4& TGLTexture::MappingSCoordinates() {
    if (!FMapSCoordinates)
        FMapSCoordinates = std::make_unique<TGLCoordinates4>(this, XHmgVector, ckDirection);
    return *FMapSCoordinates;
}

TGLCoordinates4& TGLTexture::MappingTCoordinates() {
    if (!FMapTCoordinates)
        FMapTCoordinates = std::make_unique<TGLCoordinates4>(this, XHmgVector, ckDirection);
    return *FMapTCoordinates;
}

void TGLTexture::SetMappingSCoordinates(const TGLCoordinates& value) {
    MappingSCoordinates().Assign(&value);
    NotifyChange(this);
}

void TGLTexture::SetMappingTCoordinates(const TGLCoordinates& value) {
    MappingTCoordinates().Assign(&value);
    NotifyChange(this);
}

void TGLTexture::SetEnvColor(const TGLColor& value) {
    FEnvColor.Initialize(value.Color());
    NotifyParamsChange();
}

// --- Drawing with a texture ---

void TGLTexture::Apply(TRenderContextInfo& rci) {
    TGLStateCache& cache = *rci.StateCache;
    if (FDisabled) {
        cache.Disable(capTexture2D);
        cache.Disable(capTextureRectangle);
        SelectTexCoordUnit0();
        return;
    }
    const GLenum target = FImage->NativeTextureTarget();
    if (target == GL_TEXTURE_2D) {
        cache.Enable(capTexture2D);
        cache.BindTexture(0, target, EnsureUploaded());
    } else if (target == GL_TEXTURE_RECTANGLE_NV) {
        cache.Enable(capTextureRectangle);
        cache.BindTexture(0, target, EnsureUploaded());
    } else if (GL_ARB_texture_cube_map) {
        cache.Enable(capTextureCubeMap);
        cache.BindTexture(0, target, EnsureUploaded());
    }
    ApplyEnvironment();
    ApplyMappingMode(DispatchedTexGen());
    SelectTexCoordUnit0();
}

void TGLTexture::UnApply(TRenderContextInfo& rci) {
    if (FDisabled)
        return;
    TGLStateCache& cache = *rci.StateCache;
    if (cache.States().Contains(capTextureCubeMap)) {
        cache.Disable(capTextureCubeMap);
        cache.ResetTextureMatrix();
    } else if (cache.States().Contains(capTexture2D)) {
        cache.Disable(capTexture2D);
    } else {
        cache.Disable(capTextureRectangle);
    }
    if (FMappingMode != tmmUser)
        DisableMappingMode(DispatchedTexGen());
}

void TGLTexture::ApplyOnUnit(TRenderContextInfo& rci, int unit, const TMatrix* matrix) {
    const GLenum target = FImage->NativeTextureTarget();
    if (FDisabled || (target == GL_TEXTURE_CUBE_MAP_ARB && !GL_ARB_texture_cube_map))
        return;
    glActiveTextureARB(GL_TEXTURE0_ARB + static_cast<GLenum>(unit));
    TFinally backToUnit0([] { glActiveTextureARB(GL_TEXTURE0_ARB); });
    rci.StateCache->BindTexture(unit, target, EnsureUploaded());
    glEnable(target);
    if (matrix) {
        glMatrixMode(GL_TEXTURE);
        glLoadMatrixf((*matrix)[0].data());
        glMatrixMode(GL_MODELVIEW);
    }
    ApplyEnvironment();
    ApplyMappingMode(DirectTexGen());
}

void TGLTexture::UnApplyOnUnit(TRenderContextInfo&, int unit, bool resetMatrix) {
    const GLenum target = FImage->NativeTextureTarget();
    if (FDisabled || (target == GL_TEXTURE_CUBE_MAP_ARB && !GL_ARB_texture_cube_map))
        return;
    glActiveTextureARB(GL_TEXTURE0_ARB + static_cast<GLenum>(unit));
    TFinally backToUnit0([] { glActiveTextureARB(GL_TEXTURE0_ARB); });
    if (resetMatrix) {
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
    }
    glDisable(target);
    if (FMappingMode != tmmUser)
        DisableMappingMode(DirectTexGen());
}

void TGLTexture::ApplyEnvironment() {
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, cTextureModes[FTextureMode]);
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, FEnvColor.AsAddress());
}

void TGLTexture::ApplyMappingMode(const TTexGenCalls& calls) {
    const auto linear = [&](GLenum mode, GLenum plane) {
        calls.TexGeni(GL_S, GL_TEXTURE_GEN_MODE, static_cast<GLint>(mode));
        calls.TexGeni(GL_T, GL_TEXTURE_GEN_MODE, static_cast<GLint>(mode));
        calls.TexGenfv(GL_S, plane, MappingSCoordinates().AsAddress());
        calls.TexGenfv(GL_T, plane, MappingTCoordinates().AsAddress());
        calls.Enable(GL_TEXTURE_GEN_S);
        calls.Enable(GL_TEXTURE_GEN_T);
    };
    const auto generated = [&](GLenum mode, bool withR) {
        for (GLenum coordinate : {GL_S, GL_T, GL_R})
            if (coordinate != GL_R || withR)
                calls.TexGeni(coordinate, GL_TEXTURE_GEN_MODE, static_cast<GLint>(mode));
        calls.Enable(GL_TEXTURE_GEN_S);
        calls.Enable(GL_TEXTURE_GEN_T);
        if (withR)
            calls.Enable(GL_TEXTURE_GEN_R);
    };
    switch (FMappingMode) {
    case tmmUser:
        break;
    case tmmObjectLinear:
        linear(GL_OBJECT_LINEAR, GL_OBJECT_PLANE);
        break;
    case tmmEyeLinear:
        linear(GL_EYE_LINEAR, GL_EYE_PLANE);
        break;
    case tmmSphere:
        generated(GL_SPHERE_MAP, false);
        break;
    case tmmCubeMapReflection:
    case tmmCubeMapCamera:
        if (GL_ARB_texture_cube_map)
            generated(GL_REFLECTION_MAP_ARB, true);
        break;
    case tmmCubeMapNormal:
    case tmmCubeMapLight0:
        if (GL_ARB_texture_cube_map)
            generated(GL_NORMAL_MAP_ARB, true);
        break;
    }
}

void TGLTexture::DisableMappingMode(const TTexGenCalls& calls) {
    calls.Disable(GL_TEXTURE_GEN_S);
    calls.Disable(GL_TEXTURE_GEN_T);
    calls.Disable(GL_TEXTURE_GEN_R);
}

// --- Uploads ---

GLuint TGLTexture::EnsureUploaded() {
    if (FHandle.Handle() != 0 && FChanges.Empty())
        return FHandle.Handle();
    if (FHandle.Handle() == 0)
        FHandle.AllocateHandle();
    const GLuint name = FHandle.Handle();
    Assert(name != 0, "No OpenGL texture name could be allocated");
    const GLenum target = FImage->NativeTextureTarget();
    const bool cubeMap = target == GL_TEXTURE_CUBE_MAP_ARB;
    if (cubeMap && !GL_ARB_texture_cube_map) {
        FChanges = {};
        return name;
    }
    // The upload binds the texture behind the state cache's back: what was bound before is
    // bound again afterwards, so that the cache stays true (an upload may run between two
    // objects, before a display list is compiled).
    GLint previous = 0;
    glGetIntegerv(BindingQuery(target), &previous);
    TFinally rebind([target, previous] { glBindTexture(target, static_cast<GLuint>(previous)); });
    glBindTexture(target, name);
    ApplyParameters(target);
    FChanges = {};
    if (!cubeMap)
        UploadImage(target);
    else if (auto* cubeMapImage = dynamic_cast<TGLCubeMapImage*>(FImage.get());
             cubeMapImage && cubeMapImage->FacesUploadable())
        for (GLenum face = GL_TEXTURE_CUBE_MAP_POSITIVE_X_ARB;
             face <= GL_TEXTURE_CUBE_MAP_NEGATIVE_Z_ARB; ++face)
            UploadImage(face);
    return name;
}

void TGLTexture::ApplyParameters(GLenum target) {
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    const auto filters = [&] {
        glTexParameteri(target, GL_TEXTURE_MIN_FILTER, cMinFilters[FMinFilter]);
        glTexParameteri(target, GL_TEXTURE_MAG_FILTER,
                        FMagFilter == maNearest ? GL_NEAREST : GL_LINEAR);
    };
    if (FTextureFormat == tfRGBAFloat16 || FTextureFormat == tfRGBAFloat32) {
        glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        if (FTextureFormat == tfRGBAFloat16 && GL_ATI_texture_float) {
            filters();
        } else {
            glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        }
        return;
    }
    const GLint clamp = GL_VERSION_1_2 || GL_EXT_texture_edge_clamp ? GL_CLAMP_TO_EDGE : GL_CLAMP;
    const bool repeatS = FTextureWrap == twBoth || FTextureWrap == twHorizontal;
    const bool repeatT = FTextureWrap == twBoth || FTextureWrap == twVertical;
    glTexParameteri(target, GL_TEXTURE_WRAP_S, repeatS ? GL_REPEAT : clamp);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, repeatT ? GL_REPEAT : clamp);
    filters();
    if (GL_EXT_texture_filter_anisotropic)
        glTexParameteri(target, GL_TEXTURE_MAX_ANISOTROPY_EXT,
                        FFilteringQuality == tfAnisotropic ? 2 : 1);
}

void TGLTexture::UploadImage(GLenum target) {
    TFinally release([this] { FImage->ReleasePixels(); });
    TGLBitmap32* bitmap = FImage->GetPixels(target);
    if (!bitmap || bitmap->IsEmpty())
        return;
    const GLint format = OpenGLTextureFormat();
    PrepareImage(*bitmap);
    CheckGLError();
    bitmap->UploadToTexture(target, FMinFilter, format, FTexWidth, FTexHeight);
    GLint size = 0;
    glGetTexLevelParameteriv(target, 0, GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB, &size);
    FRequiredMemorySize = glGetError() == GL_NO_ERROR ? size : -1;
    ClearGLErrors();
}

void TGLTexture::PrepareImage(TGLBitmap32& bitmap) const {
    if (FTextureFormat == tfNormalMap)
        bitmap.GrayScaleToNormalMap(FNormalMapScale,
                                    FTextureWrap == twBoth || FTextureWrap == twHorizontal,
                                    FTextureWrap == twBoth || FTextureWrap == twVertical);
    switch (FImageAlpha) {
    case tiaDefault:
        break;
    case tiaAlphaFromIntensity:
    case tiaLuminance:
        bitmap.SetAlphaFromIntensity();
        break;
    case tiaSuperBlackTransparent:
        bitmap.SetAlphaTransparentForColor(clBlack);
        break;
    case tiaLuminanceSqrt:
        bitmap.SetAlphaFromIntensity();
        bitmap.SqrtAlpha();
        break;
    case tiaOpaque:
        bitmap.SetAlphaToValue(255);
        break;
    case tiaTopLeftPointColorTransparent:
        bitmap.SetAlphaTransparentForColor(bitmap.ScanLine(0)[0]);
        break;
    case tiaInverseLuminance:
        bitmap.SetAlphaFromIntensity();
        bitmap.InvertAlpha();
        break;
    case tiaInverseLuminanceSqrt:
        bitmap.SetAlphaFromIntensity();
        bitmap.SqrtAlpha();
        bitmap.InvertAlpha();
        break;
    }
    if (FImageBrightness != 1.0f)
        bitmap.CorrectBrightness(FImageBrightness);
    if (FImageGamma != 1.0f)
        bitmap.CorrectGamma(FImageGamma);
}

GLint TGLTexture::OpenGLTextureFormat() const {
    const TGLTextureFormat format =
        FTextureFormat == tfDefault ? cDefaultTextureFormat : FTextureFormat;
    const bool floatFormat = format == tfRGBAFloat16 || format == tfRGBAFloat32;
    if (floatFormat && !GL_ATI_texture_float)
        return format == tfRGBAFloat16 ? 0x888A : 0x888B;
    TGLTextureCompression compression = tcNone;
    if (GL_ARB_texture_compression && !floatFormat)
        compression = FCompression == tcDefault ? cDefaultTextureCompression : FCompression;
    if (compression == tcNone)
        return static_cast<GLint>(cUncompressedFormats[format]);
    glHint(GL_TEXTURE_COMPRESSION_HINT_ARB, cCompressionHints[compression]);
    return static_cast<GLint>(cCompressedFormats[format]);
}

void TGLTexture::ReleaseHandles() {
    FHandle.DestroyHandle();
    FChanges = {tcImage, tcParams};
    FRequiredMemorySize = -1;
}
