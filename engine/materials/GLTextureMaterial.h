// Materials: face properties and the material of a material-bearing scene object, drawn with its
// own settings or with a named material of a library.
//
// A material-bearing scene object calls its material's Apply before it draws itself and UnApply
// afterwards, drawing again for as long as UnApply asks for another pass. Every OpenGL state the
// material changes goes through the state cache of the render record, so that objects sharing a
// look send no repeated calls.
#pragma once

#include "engine/materials/GLTexture.h"
#include "engine/materials/GLTextureEx.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Sets.h"
#include "platform/win32/OpenGL32.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

struct TRenderContextInfo;
class TGLLibMaterial;
class TGLMaterialLibrary;

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
