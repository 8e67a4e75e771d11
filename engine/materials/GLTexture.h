// Colours, the texture matrix that items build from an offset and a scale, and the texture of a
// material: its image, the parameters it is uploaded and drawn with, and its OpenGL texture.
//
// A texture turns its image into an OpenGL texture on the first Apply after a change (or in
// PrepareTextures, before a display list is compiled) and only binds it otherwise; the decoded
// pixels live only during the upload. What the texture changes goes through the state cache of
// the render record where the cache describes it (texture unit 0).
#pragma once

#include "engine/context/GLContext.h"
#include "engine/geometry/VectorGeometry.h"
#include "engine/materials/GLGraphics.h"
#include "engine/materials/GLTextureImages.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Graphics.h"
#include "platform/framework/Sets.h"
#include "platform/win32/OpenGL32.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct TRenderContextInfo;
struct TTexGenCalls;

// A framework colour as RGBA singles: a system colour (negative value) is resolved first.
TVector ConvertWinColor(TColor color, float alpha = 1.0f);

// An RGBA colour of singles that tells its owner about every change. A colour owned by a
// component (a scene object) makes it rebuild its drawing. Its stored form is the binary
// property "Color": R, G, B, A as little-endian singles.
class TGLColor : public TGLUpdateAbleObject {
public:
    TGLColor(TPersistent* owner, const TVector& color, TNotifyEvent onChange = {});
    explicit TGLColor(TPersistent* owner) : TGLColor(owner, {0, 0, 0, 1}) {}
    const char* ClassName() const override { return "TGLColor"; }

    const TVector& Color() const { return FColor; }
    void SetColor(const TVector& color);
    // Sets the colour without telling anyone (constructors use it).
    void Initialize(const TVector& color) { FColor = color; }
    float Red() const { return FColor[0]; }
    float Green() const { return FColor[1]; }
    float Blue() const { return FColor[2]; }
    float Alpha() const { return FColor[3]; }
    void SetRed(float value) { SetComponent(0, value); }
    void SetGreen(float value) { SetComponent(1, value); }
    void SetBlue(float value) { SetComponent(2, value); }
    void SetAlpha(float value) { SetComponent(3, value); }
    const float* AsAddress() const { return FColor.data(); }

    void Assign(const TPersistent* source) override;
    void DefineProperties(TFiler& filer) override;
    void NotifyChange(TObject* sender) override;

    // The stored form. Reading copies the bytes present (at most 16) without notification.
    void ReadData(std::span<const uint8_t> data);
    std::vector<uint8_t> WriteData() const;

private:
    void SetComponent(int index, float value);
    TVector FColor;
};

// The texture matrix of an item from its TextureOffset and TextureScale: scale, then
// translation, and the identity for no offset and a unit scale. It is worked out again whenever
// either is set or changes, and the item then hears of it (TextureMatrixChanged). The base of
// the items that carry one: library materials and further textures.
class TGLTextureTransform {
public:
    TGLTextureTransform(const TGLTextureTransform&) = delete;
    TGLTextureTransform& operator=(const TGLTextureTransform&) = delete;

    TGLCoordinates& TextureOffset() { return FTextureOffset; }
    TGLCoordinates& TextureScale() { return FTextureScale; }
    void SetTextureOffset(const TGLCoordinates& value);
    void SetTextureScale(const TGLCoordinates& value);
    bool TextureMatrixIsIdentity() const { return FTextureMatrixIsIdentity; }
    const TMatrix& TextureMatrix() const { return FTextureMatrix; }
    // The matrix to load, or none for the identity.
    const TMatrix* TextureMatrixOrNone() const {
        return FTextureMatrixIsIdentity ? nullptr : &FTextureMatrix;
    }
    void CalculateTextureMatrix();

protected:
    // The offset and the scale belong to `owner`, the item itself.
    explicit TGLTextureTransform(TPersistent* owner);
    ~TGLTextureTransform() = default;
    // Copies the offset and the scale of `other`, quietly: the item recalculates when it is done.
    void AssignTextureTransform(const TGLTextureTransform& other);
    virtual void TextureMatrixChanged() = 0;

private:
    TGLCoordinates FTextureOffset;
    TGLCoordinates FTextureScale;
    bool FTextureMatrixIsIdentity = true;
    TMatrix FTextureMatrix = IdentityHmgMatrix;
};

enum TGLTextureMode : uint8_t { tmDecal, tmModulate, tmBlend, tmReplace };
enum TGLTextureWrap : uint8_t { twBoth, twNone, twVertical, twHorizontal };
enum TGLMagFilter : uint8_t { maNearest, maLinear };
enum TGLTextureFormat : uint8_t {
    tfDefault,
    tfRGB,
    tfRGBA,
    tfRGB16,
    tfRGBA16,
    tfAlpha,
    tfLuminance,
    tfLuminanceAlpha,
    tfIntensity,
    tfNormalMap,
    tfRGBAFloat16,
    tfRGBAFloat32
};
enum TGLTextureCompression : uint8_t { tcDefault, tcNone, tcStandard, tcHighQuality, tcHighSpeed };
enum TGLTextureFilteringQuality : uint8_t { tfIsotropic, tfAnisotropic };
enum TGLTextureMappingMode : uint8_t {
    tmmUser,
    tmmObjectLinear,
    tmmEyeLinear,
    tmmSphere,
    tmmCubeMapReflection,
    tmmCubeMapNormal,
    tmmCubeMapLight0,
    tmmCubeMapCamera
};
// What the alpha channel of the uploaded pixels is made from.
enum TGLTextureImageAlpha : uint8_t {
    tiaDefault,
    tiaAlphaFromIntensity,
    tiaSuperBlackTransparent,
    tiaLuminance,
    tiaLuminanceSqrt,
    tiaOpaque,
    tiaTopLeftPointColorTransparent,
    tiaInverseLuminance,
    tiaInverseLuminanceSqrt
};

enum TGLTextureChange : uint8_t { tcImage, tcParams };
using TGLTextureChanges = TSet<TGLTextureChange>;

// The texture of a material: an image, the parameters it is uploaded and drawn with, and its
// OpenGL texture name. A new texture is disabled. Any change marks the image or the parameters
// as changed, and either makes the next Apply upload again.
class TGLTexture : public TGLUpdateAbleObject {
public:
    explicit TGLTexture(TPersistent* owner);
    ~TGLTexture() override;
    const char* ClassName() const override { return "TGLTexture"; }

    // From a texture: everything but EnvColor, ImageBrightness, ImageGamma, FilteringQuality
    // and NormalMapScale. From nil: disabled, with a fresh image. From a framework picture or
    // graphic: the image takes it.
    void Assign(const TPersistent* source) override;

    void Apply(TRenderContextInfo& rci);
    void UnApply(TRenderContextInfo& rci);
    // The same on texture unit `unit` (1 and up) with `matrix` (none for the identity), set
    // directly since the state cache describes unit 0. Unit 0 is active again afterwards.
    void ApplyOnUnit(TRenderContextInfo& rci, int unit, const TMatrix* matrix);
    void UnApplyOnUnit(TRenderContextInfo& rci, int unit, bool resetMatrix);
    // The second texture of a library material, on unit 1.
    void ApplyAsTexture2(TRenderContextInfo& rci, const TMatrix* matrix) {
        ApplyOnUnit(rci, 1, matrix);
    }
    void UnApplyAsTexture2(TRenderContextInfo& rci, bool resetMatrix) {
        UnApplyOnUnit(rci, 1, resetMatrix);
    }
    // The OpenGL texture name, uploaded first when needed. Needs a current context.
    virtual GLuint EnsureUploaded();
    // Frees the OpenGL texture; the next use uploads again.
    void ReleaseHandles();

    bool Enabled() const { return !FDisabled; }
    bool Disabled() const { return FDisabled; }
    void SetDisabled(bool value);

    const char* ImageClassName() const { return FImage->ClassName(); }
    void SetImageClassName(const std::string& value);
    TGLTextureImage& Image() const { return *FImage; }
    // Nil: a fresh persistent image; otherwise a copy of `value` (of its class).
    void SetImage(const TGLTextureImage* value);

    TGLTextureImageAlpha ImageAlpha() const { return FImageAlpha; }
    void SetImageAlpha(TGLTextureImageAlpha value);
    float ImageBrightness() const { return FImageBrightness; }
    void SetImageBrightness(float value);
    float ImageGamma() const { return FImageGamma; }
    void SetImageGamma(float value);
    TGLMagFilter MagFilter() const { return FMagFilter; }
    void SetMagFilter(TGLMagFilter value);
    TGLMinFilter MinFilter() const { return FMinFilter; }
    void SetMinFilter(TGLMinFilter value);
    TGLTextureMode TextureMode() const { return FTextureMode; }
    void SetTextureMode(TGLTextureMode value);
    TGLTextureWrap TextureWrap() const { return FTextureWrap; }
    void SetTextureWrap(TGLTextureWrap value);
    TGLTextureFormat TextureFormat() const { return FTextureFormat; }
    void SetTextureFormat(TGLTextureFormat value);
    TGLTextureCompression Compression() const { return FCompression; }
    void SetCompression(TGLTextureCompression value);
    TGLTextureFilteringQuality FilteringQuality() const { return FFilteringQuality; }
    void SetFilteringQuality(TGLTextureFilteringQuality value);
    TGLTextureMappingMode MappingMode() const { return FMappingMode; }
    void SetMappingMode(TGLTextureMappingMode value);
    // The planes of generated coordinates, made on first use.
    TGLCoordinates4& MappingSCoordinates();
    TGLCoordinates4& MappingTCoordinates();
    void SetMappingSCoordinates(const TGLCoordinates& value);
    void SetMappingTCoordinates(const TGLCoordinates& value);
    TGLColor& EnvColor() { return FEnvColor; }
    void SetEnvColor(const TGLColor& value);
    float NormalMapScale() const { return FNormalMapScale; }
    void SetNormalMapScale(float value);

    // An owning TGLTextureExItem hears first, then the common notification.
    void NotifyChange(TObject* sender) override;
    void NotifyImageChange();
    void NotifyParamsChange();
    TGLTextureChanges Changes() const { return FChanges; }
    // The size last uploaded, and the driver's size of a compressed upload (-1: not known).
    int32_t TexWidth() const { return FTexWidth; }
    int32_t TexHeight() const { return FTexHeight; }
    int32_t RequiredMemorySize() const { return FRequiredMemorySize; }
    const TGLTextureHandle& Handle() const { return FHandle; }
    // The OpenGL internal format an upload uses now (sends the compression hint it implies).
    GLint OpenGLTextureFormat() const;

    // Asked when the image loads a file; a library material sets it to its path lookup.
    TTextureNeededEvent OnTextureNeeded;

protected:
    virtual void UploadImage(GLenum target);
    virtual void ApplyParameters(GLenum target);

private:
    void AdoptImage(std::unique_ptr<TGLTextureImage> image);
    void CopyFrom(const TGLTexture& other);
    void ApplyEnvironment();
    void ApplyMappingMode(const TTexGenCalls& calls);
    void DisableMappingMode(const TTexGenCalls& calls);
    void PrepareImage(TGLBitmap32& bitmap) const;
    void NotifyOwnerTexMapChange();

    std::unique_ptr<TGLTextureImage> FImage;
    TGLTextureImageAlpha FImageAlpha = tiaDefault;
    float FImageBrightness = 1.0f;
    float FImageGamma = 1.0f;
    TGLMagFilter FMagFilter = maLinear;
    TGLMinFilter FMinFilter = miLinearMipmapLinear;
    TGLTextureMode FTextureMode = tmDecal;
    TGLTextureWrap FTextureWrap = twBoth;
    TGLTextureFormat FTextureFormat = tfDefault;
    TGLTextureCompression FCompression = tcDefault;
    TGLTextureFilteringQuality FFilteringQuality = tfIsotropic;
    TGLTextureMappingMode FMappingMode = tmmUser;
    std::unique_ptr<TGLCoordinates4> FMapSCoordinates;
    std::unique_ptr<TGLCoordinates4> FMapTCoordinates;
    TGLColor FEnvColor;
    bool FDisabled = true;
    float FNormalMapScale = 0.125f;
    TGLTextureHandle FHandle;
    TGLTextureChanges FChanges{tcImage, tcParams};
    int32_t FTexWidth = 0;
    int32_t FTexHeight = 0;
    int32_t FRequiredMemorySize = -1;
};
