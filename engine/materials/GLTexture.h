// Colours, face properties, textures with their images, and materials.
//
// A material-bearing scene object calls its material's Apply before it draws itself and UnApply
// afterwards, drawing again for as long as UnApply asks for another pass. Every OpenGL state the
// material changes goes through the state cache of the render record, so that objects sharing a
// look send no repeated calls.
//
// A texture turns its image into an OpenGL texture on the first Apply after a change (or in
// PrepareTextures, before a display list is compiled) and only binds it otherwise; the decoded
// pixels live only during the upload.
#pragma once

#include "engine/context/GLContext.h"
#include "engine/geometry/VectorGeometry.h"
#include "engine/materials/GLGraphics.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Collections.h"
#include "platform/framework/Graphics.h"
#include "platform/framework/Sets.h"
#include "platform/win32/OpenGL32.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct TRenderContextInfo;
class TGLLibMaterial;
class TGLMaterialLibrary;

// Asked for a texture file: the handler may replace the name by the one to open.
using TTextureNeededEvent = std::function<void(TObject* sender, std::string& textureFileName)>;

// Texture files that cannot be had.
SKYVIEW_EXCEPTION(ETexture, Exception)

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

enum TPolygonMode : uint8_t { pmFill, pmLines, pmPoints };
// The specular exponent, 0..128 as OpenGL accepts it.
using TShininess = uint8_t;
constexpr TShininess cMaxShininess = 128;

// The lighting colours, shininess and polygon mode of one face side of a material. Changes of
// the four owned colours reach the material through these face properties.
class TGLFaceProperties : public TGLUpdateAbleObject {
public:
    explicit TGLFaceProperties(TPersistent* owner);
    const char* ClassName() const override { return "TGLFaceProperties"; }

    // From face properties: the four colours, shininess and polygon mode, then one notice.
    void Assign(const TPersistent* source) override;

    // face: GL_FRONT or GL_BACK. The lit form sends the material colours, the unlit one the
    // diffuse colour as the current colour; both then set the polygon mode of the face.
    void Apply(TRenderContextInfo& rci, GLenum face) const;
    void ApplyNoLighting(TRenderContextInfo& rci, GLenum face) const;

    TGLColor& Ambient() { return FAmbient; }
    TGLColor& Diffuse() { return FDiffuse; }
    TGLColor& Emission() { return FEmission; }
    TGLColor& Specular() { return FSpecular; }
    const TGLColor& Ambient() const { return FAmbient; }
    const TGLColor& Diffuse() const { return FDiffuse; }
    const TGLColor& Emission() const { return FEmission; }
    const TGLColor& Specular() const { return FSpecular; }
    // Copy the colour in, then notify once.
    void SetAmbient(const TGLColor& value) { SetOwnedColor(FAmbient, value); }
    void SetDiffuse(const TGLColor& value) { SetOwnedColor(FDiffuse, value); }
    void SetEmission(const TGLColor& value) { SetOwnedColor(FEmission, value); }
    void SetSpecular(const TGLColor& value) { SetOwnedColor(FSpecular, value); }

    TShininess Shininess() const { return FShininess; }
    // Values above 128 are taken as 128, the largest exponent OpenGL accepts.
    void SetShininess(TShininess value);
    TPolygonMode PolygonMode() const { return FPolygonMode; }
    void SetPolygonMode(TPolygonMode value);

private:
    void SetOwnedColor(TGLColor& color, const TGLColor& value);
    void ApplyPolygonMode(TRenderContextInfo& rci, GLenum face) const;

    TGLColor FAmbient;
    TGLColor FDiffuse;
    TGLColor FEmission;
    TGLColor FSpecular;
    TShininess FShininess = 0;
    TPolygonMode FPolygonMode = pmFill;
};

// --- Textures ----------------------------------------------------------------------------------

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

class TGLTexture;
struct TTexGenCalls;

// What supplies a texture's pixels. An image belongs to one texture; its changes mark the
// texture's image as changed.
class TGLTextureImage : public TGLUpdateAbleObject {
public:
    explicit TGLTextureImage(TGLTexture& owner);
    const char* ClassName() const override { return "TGLTextureImage"; }
    // An empty image of this image's class for `owner`.
    virtual std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const = 0;

    TGLTexture& OwnerTexture() const { return FOwnerTexture; }
    void NotifyChange(TObject* sender) override;
    // The pixels changed: the cached ones are dropped and the texture uploads again.
    void Invalidate();

    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual const char* FriendlyName() const = 0;
    virtual const char* FriendlyDescription() const { return FriendlyName(); }
    virtual GLenum NativeTextureTarget() const { return GL_TEXTURE_2D; }
    // The pixels for `target`, valid until ReleasePixels; none when there are none.
    virtual TGLBitmap32* GetPixels(GLenum target) = 0;
    virtual void ReleasePixels() = 0;
    virtual void SaveToFile(const std::string& fileName);
    // Here only asks OnTextureNeeded for the name.
    virtual void LoadFromFile(const std::string& fileName);

    // Connected by the owning texture to its own event.
    TTextureNeededEvent OnTextureNeeded;

protected:
    // The name OnTextureNeeded makes of `fileName`.
    std::string ResolveFileName(const std::string& fileName);

private:
    TGLTexture& FOwnerTexture;
};

// An image whose pixels come from a framework picture, converted when the texture uploads.
class TGLPictureImage : public TGLTextureImage {
public:
    explicit TGLPictureImage(TGLTexture& owner) : TGLTextureImage(owner) {}
    const char* ClassName() const override { return "TGLPictureImage"; }

    // From a picture image, a framework picture or graphic, or a 32-bit texture bitmap.
    void Assign(const TPersistent* source) override;

    // Made on first use; every change of it invalidates the image.
    TPicture& Picture();
    bool HasPicture() const { return FPicture != nullptr; }
    int32_t Width() const override { return FPicture ? FPicture->Width() : 0; }
    int32_t Height() const override { return FPicture ? FPicture->Height() : 0; }
    TGLBitmap32* GetPixels(GLenum target) override;
    void ReleasePixels() override { FBitmap.reset(); }

protected:
    // Converts `picture` into a new bitmap without the conversion invalidating the image.
    std::unique_ptr<TGLBitmap32> Convert(TPicture& picture, bool preserveRowOrder);
    const TPicture* ExistingPicture() const { return FPicture.get(); }
    // Runs `change` on one of the image's pictures without it invalidating the image.
    void ChangeQuietly(TPicture& picture, const std::function<void()>& change);
    // Loads `picture` from the file OnTextureNeeded names; a missing file clears the picture
    // and raises ETexture.
    void LoadPicture(TPicture& picture, const std::string& fileName);

private:
    std::unique_ptr<TPicture> FPicture;
    std::unique_ptr<TGLBitmap32> FBitmap;
};

// A picture stored with the scene description.
class TGLPersistentImage : public TGLPictureImage {
public:
    explicit TGLPersistentImage(TGLTexture& owner) : TGLPictureImage(owner) {}
    const char* ClassName() const override { return "TGLPersistentImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLPersistentImage>(owner);
    }
    const char* FriendlyName() const override { return "Persistent Image"; }
    void SaveToFile(const std::string& fileName) override;
    // After OnTextureNeeded: a missing file clears the picture and raises ETexture
    // "Could not open file: <name>".
    void LoadFromFile(const std::string& fileName) override;
};

// A picture read from its file when the texture first needs it.
class TGLPicFileImage : public TGLPictureImage {
public:
    explicit TGLPicFileImage(TGLTexture& owner) : TGLPictureImage(owner) {}
    const char* ClassName() const override { return "TGLPicFileImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLPicFileImage>(owner);
    }
    void Assign(const TPersistent* source) override;
    const char* FriendlyName() const override { return "PicFile Image"; }
    const std::string& PictureFileName() const { return FPictureFileName; }
    void SetPictureFileName(const std::string& value);
    // A missing file raises ETexture as for a persistent image.
    TGLBitmap32* GetPixels(GLenum target) override;

private:
    std::string FPictureFileName;
    bool FLoaded = false;
};

// Width x Height pixels of nothing, for textures that are drawn into.
class TGLBlankImage : public TGLTextureImage {
public:
    explicit TGLBlankImage(TGLTexture& owner) : TGLTextureImage(owner) {}
    const char* ClassName() const override { return "TGLBlankImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLBlankImage>(owner);
    }
    void Assign(const TPersistent* source) override;
    const char* FriendlyName() const override { return "Blank Image"; }
    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    // Negative sizes are taken as 0.
    void SetWidth(int32_t value);
    void SetHeight(int32_t value);
    TGLBitmap32* GetPixels(GLenum target) override;
    void ReleasePixels() override { FBitmap.reset(); }

private:
    int32_t FWidth = 256;
    int32_t FHeight = 256;
    std::unique_ptr<TGLBitmap32> FBitmap;
};

// A blank image for float-format textures, which are allocated without pixels.
class TGLFloatDataImage : public TGLBlankImage {
public:
    explicit TGLFloatDataImage(TGLTexture& owner) : TGLBlankImage(owner) {}
    const char* ClassName() const override { return "TGLFloatDataImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLFloatDataImage>(owner);
    }
    const char* FriendlyName() const override { return "FloatData Image"; }
};

// Six pictures, one per face of a cube-map texture, kept in their own row order.
class TGLCubeMapImage : public TGLPictureImage {
public:
    enum TFace : uint8_t { cmtPX, cmtNX, cmtPY, cmtNY, cmtPZ, cmtNZ };
    explicit TGLCubeMapImage(TGLTexture& owner) : TGLPictureImage(owner) {}
    const char* ClassName() const override { return "TGLCubeMapImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLCubeMapImage>(owner);
    }
    void Assign(const TPersistent* source) override;
    const char* FriendlyName() const override { return "CubeMap Image"; }
    GLenum NativeTextureTarget() const override;

    // The positive-x face is the image's own picture.
    TPicture& Pictures(TFace face);
    const TPicture* ExistingPictures(TFace face) const;
    // Whether every face is square and all have one size above 0.
    bool FacesUploadable();
    // `target` is one of the six face targets.
    TGLBitmap32* GetPixels(GLenum target) override;
    void ReleasePixels() override;

private:
    std::array<std::unique_ptr<TPicture>, 5> FOtherFaces; // nx .. nz
    std::unique_ptr<TGLBitmap32> FFaceBitmap;
};

// The texture image classes by name, in registration order.
struct TGLTextureImageClass {
    const char* Name;
    std::unique_ptr<TGLTextureImage> (*Create)(TGLTexture& owner);
};
const std::vector<TGLTextureImageClass>& GLTextureImageClasses();
// The registered class of exactly that name, or none.
const TGLTextureImageClass* FindGLTextureImageClass(const std::string& name);

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

// --- Further textures --------------------------------------------------------------------------

class TGLTextureEx;

// A further texture of a material on texture unit TextureIndex, drawn with its own texture
// matrix: TextureScale, then TextureOffset. Its changes reach the material.
class TGLTextureExItem : public TCollectionItem {
public:
    // The texture unit is the item's position when it joins.
    explicit TGLTextureExItem(TGLTextureEx* collection);
    const char* ClassName() const override { return "TGLTextureExItem"; }

    // From another item: its texture, unit, offset and scale.
    void Assign(const TPersistent* source) override;
    // Something of the item changed: the owning material hears of it.
    void NotifyChange(TObject* sender);

    // Nothing for a disabled texture or a unit the driver lacks (any unit but 0 without
    // multitexturing); `unitCount` is how many the driver has. True when it applied.
    bool Apply(TRenderContextInfo& rci, int unitCount);
    // Undoes what Apply did, and nothing when it did not apply.
    void UnApply(TRenderContextInfo& rci);

    TGLTexture& Texture() { return FTexture; }
    const TGLTexture& Texture() const { return FTexture; }
    void SetTexture(const TGLTexture& value) { FTexture.Assign(&value); }
    int32_t TextureIndex() const { return FTextureIndex; }
    void SetTextureIndex(int32_t value);
    TGLCoordinates& TextureOffset() { return FTextureOffset; }
    TGLCoordinates& TextureScale() { return FTextureScale; }
    void SetTextureOffset(const TGLCoordinates& value);
    void SetTextureScale(const TGLCoordinates& value);
    bool TextureMatrixIsIdentity() const { return FTextureMatrixIsIdentity; }
    const TMatrix& TextureMatrix() const { return FTextureMatrix; }

private:
    void CalculateTextureMatrix();

    TGLTexture FTexture;
    int32_t FTextureIndex;
    TGLCoordinates FTextureOffset;
    TGLCoordinates FTextureScale;
    bool FTextureMatrixIsIdentity = true;
    TMatrix FTextureMatrix = IdentityHmgMatrix;
    bool FApplied = false;
};

// The further textures of a material, on numbered texture units.
class TGLTextureEx : public TCollection {
public:
    explicit TGLTextureEx(TPersistent* owner) : TCollection(owner) {}
    const char* ClassName() const override { return "TGLTextureEx"; }

    TGLTextureExItem* Items(int index) const {
        return static_cast<TGLTextureExItem*>(TCollection::Items(index));
    }
    TGLTextureExItem* Add() { return new TGLTextureExItem(this); }
    // From other further textures: copies of their items. Nil leaves none.
    void Assign(const TPersistent* source) override;
    // Tells the owning material.
    void NotifyChange(TObject* sender);

    // Whether an item with an enabled texture uses `unit`.
    bool IsTextureEnabled(int unit) const;
    // Applies the items in order, then feeds texture coordinates to the units of those that
    // take them from the drawing (unit 0 included).
    void Apply(TRenderContextInfo& rci);
    void UnApply(TRenderContextInfo& rci);
    // For every enabled item's texture: see TGLMaterial.
    void PrepareTextures();
    void ReleaseHandles();

private:
    // How many texture units the driver has, asked only when an item needs more than unit 0.
    int UnitCount() const;
    bool FCoordinatesSelected = false;
};

// --- Materials ---------------------------------------------------------------------------------

enum TBlendingMode : uint8_t {
    bmOpaque,
    bmTransparency,
    bmAdditive,
    bmAlphaTest50,
    bmAlphaTest100,
    bmModulate
};
enum TMaterialOption : uint8_t { moIgnoreFog, moNoLighting };
using TMaterialOptions = TSet<TMaterialOption>;
// fcBufferDefault culls back faces when the buffer does.
enum TFaceCulling : uint8_t { fcBufferDefault, fcCull, fcNoCull };

// How a material-bearing scene object looks: front and back face properties (the back ones
// made on first use), blending, face culling and options, or a named material of a library
// that it then draws with instead.
//
// A material's owner is a scene object (any updatable component), a library material or
// nothing: a change of the material reaches the owner's NotifyChange (the library material's
// users), a change of its texture mapping the owner's StructureChanged, since the compiled
// drawing then depends on it.
class TGLMaterial : public TGLUpdateAbleObject {
public:
    explicit TGLMaterial(TPersistent* owner);
    ~TGLMaterial() override;
    const char* ClassName() const override { return "TGLMaterial"; }

    // From another material: takes its settings, then notifies once.
    void Assign(const TPersistent* source) override;
    void NotifyChange(TObject* sender) override;
    // The texture was switched on or off or its coordinates changed between given and
    // generated ones: what the owner compiled is stale.
    void NotifyTexMapChange(TObject* sender);

    virtual void Apply(TRenderContextInfo& rci);
    // True: draw once more and call UnApply again.
    virtual bool UnApply(TRenderContextInfo& rci);
    // Drawn among the blended objects, after the opaque ones.
    virtual bool Blended() const;
    // Uploads the enabled textures (further ones too) now, so that no upload is ever recorded
    // into a display list compiled after it.
    void PrepareTextures();
    // Frees the OpenGL objects of the material (its textures) when the owner releases its own.
    void ReleaseHandles();
    // The owner's end-of-loading step: references read from the stored form are resolved here.
    virtual void Loaded() {}

    TGLFaceProperties& FrontProperties() { return FFrontProperties; }
    const TGLFaceProperties& FrontProperties() const { return FFrontProperties; }
    // Made with the face-property defaults on first use.
    TGLFaceProperties& BackProperties();
    bool HasBackProperties() const { return FBackProperties != nullptr; }
    void SetFrontProperties(const TGLFaceProperties& value);
    void SetBackProperties(const TGLFaceProperties& value);

    TBlendingMode BlendingMode() const { return FBlendingMode; }
    void SetBlendingMode(TBlendingMode value);
    TMaterialOptions MaterialOptions() const { return FMaterialOptions; }
    void SetMaterialOptions(TMaterialOptions value);
    TFaceCulling FaceCulling() const { return FFaceCulling; }
    void SetFaceCulling(TFaceCulling value);
    // Made on first use (disabled, as every new texture).
    TGLTexture& Texture();
    bool HasTexture() const { return FTexture != nullptr; }
    // The texture if there is one, without making it.
    const TGLTexture* ExistingTexture() const { return FTexture.get(); }
    // Nil frees the texture; anything else is copied into it.
    void SetTexture(const TGLTexture* value);
    // Further textures on numbered units; made on first use (empty). An enabled item on unit 0
    // takes the place of Texture; the items are drawn only then, or when there is no Texture.
    TGLTextureEx& TextureEx();
    bool HasTextureEx() const { return FTextureEx != nullptr; }
    // Copied when either side exists; nil empties it.
    void SetTextureEx(const TGLTextureEx* value);
    // Only further textures with items are worth storing.
    bool StoreTextureEx() const { return FTextureEx && FTextureEx->Count() > 0; }

    // The library and the name of the item to draw with, resolved whenever either is set: a
    // name the library does not hold leaves the material drawing with its own settings. A
    // chain of 16 items naming each other, or one that comes back to this material, fails
    // with "Error: Cyclic material reference detected!" and the name is not taken.
    TGLMaterialLibrary* MaterialLibrary() const { return FMaterialLibrary; }
    void SetMaterialLibrary(TGLMaterialLibrary* value);
    const std::string& LibMaterialName() const { return FLibMaterialName; }
    void SetLibMaterialName(const std::string& value);
    // The item the name resolved to, or none.
    TGLLibMaterial* LibMaterial() const { return FLibMaterial; }

private:
    friend class TGLLibMaterial;
    friend class TGLMaterialLibrary;
    // The item drawn with is going: library, name and item are forgotten.
    void LibMaterialDestroyed();
    // The library is going.
    void LibraryDestroyed();
    void StoreLibrary(TGLMaterialLibrary* value);
    // Whether the texture is on and whether it generates its coordinates: what a compiled
    // drawing depends on.
    std::pair<bool, bool> TexMapState() const;
    void CheckNoCycle(TGLLibMaterial* item) const;

    void CopySettings(const TGLMaterial& other);
    void ApplyFaceCulling(TRenderContextInfo& rci);
    void ApplyBlending(TRenderContextInfo& rci) const;
    void ApplyTextures(TRenderContextInfo& rci);
    void UnApplyTextures(TRenderContextInfo& rci);

    TGLFaceProperties FFrontProperties;
    std::unique_ptr<TGLFaceProperties> FBackProperties;
    TBlendingMode FBlendingMode = bmOpaque;
    TMaterialOptions FMaterialOptions;
    TFaceCulling FFaceCulling = fcBufferDefault;
    std::unique_ptr<TGLTexture> FTexture;
    std::unique_ptr<TGLTextureEx> FTextureEx;
    TGLMaterialLibrary* FMaterialLibrary = nullptr;
    std::string FLibMaterialName;
    TGLLibMaterial* FLibMaterial = nullptr;
};
