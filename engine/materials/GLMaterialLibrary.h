// Libraries of named materials.
//
// A TGLMaterialLibrary owns a collection of TGLLibMaterial items, each a named material with a
// texture matrix and an optional shader. Objects refer to an item by name: a TGLMaterial with a
// library and a name delegates its drawing to the item, and the item keeps a list of such users
// so that its changes reach every object drawn with it.
//
// Lifetimes: an item that goes clears the library reference of every material using it. A
// material that names a library it finds no item in is known to the library too, so that the
// library's end clears that reference as well; whichever goes first, no pointer is left behind.
#pragma once

#include "engine/geometry/VectorGeometry.h"
#include "engine/materials/GLTextureMaterial.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Collections.h"

#include <cstdint>
#include <string>
#include <vector>

struct TRenderContextInfo;
class TGLLibMaterial;
class TGLMaterialLibrary;

// When a shader works: before the material, after it, or instead of it.
enum TGLShaderStyle : uint8_t { ssBeforeMaterial, ssAfterMaterial, ssReplaceMaterial };

// Drawing code of its own around a library item's material. A class of shaders supplies DoApply
// and DoUnApply; the shader keeps track of being active and of the items using it.
class TGLShader : public TGLUpdateAbleComponent {
public:
    explicit TGLShader(TComponent* owner) : TGLUpdateAbleComponent(owner) {}
    ~TGLShader() override;
    const char* ClassName() const override { return "TGLShader"; }

    bool Enabled() const { return FEnabled; }
    // Not while the shader is applied.
    void SetEnabled(bool value);
    TGLShaderStyle ShaderStyle() const { return FShaderStyle; }
    void SetShaderStyle(TGLShaderStyle value);
    bool Active() const { return FActive; }

    // A disabled shader does nothing but keeps the bracket balanced. UnApply returns True to
    // ask for another pass, for which the shader stays active.
    void Apply(TRenderContextInfo& rci, TGLLibMaterial& item);
    bool UnApply(TRenderContextInfo& rci, TGLLibMaterial& item);

    // The items drawn with this shader tell their users.
    void NotifyChange(TObject* sender) override;

protected:
    virtual void DoApply(TRenderContextInfo& rci, TGLLibMaterial& item) = 0;
    virtual bool DoUnApply(TRenderContextInfo& rci, TGLLibMaterial& item) = 0;

private:
    friend class TGLLibMaterial;
    bool FEnabled = true;
    bool FActive = false;
    TGLShaderStyle FShaderStyle = ssAfterMaterial;
    std::vector<TGLLibMaterial*> FLibMatUsers;
};

class TGLLibMaterials;

// A named material of a library: its material, a texture matrix from TextureOffset and
// TextureScale, an optional second texture named by Texture2Name, an optional shader, and the
// users it tells of its changes (materials and other items).
class TGLLibMaterial : public TCollectionItem, public TGLTextureTransform {
public:
    explicit TGLLibMaterial(TGLLibMaterials* collection);
    ~TGLLibMaterial() override;
    const char* ClassName() const override { return "TGLLibMaterial"; }

    // From another item: a unique name made from its name, its material, texture offset, scale
    // and second texture name.
    void Assign(const TPersistent* source) override;

    void Apply(TRenderContextInfo& rci);
    // True: draw once more and call UnApply again.
    bool UnApply(TRenderContextInfo& rci);
    void PrepareTextures() { FMaterial.PrepareTextures(); }

    // An object is registered at most once.
    void RegisterUser(TGLMaterial& user) { AddUser(&user); }
    void RegisterUser(TGLLibMaterial& user) { AddUser(&user); }
    void UnregisterUser(TGLMaterial& user) { RemoveUser(&user); }
    void UnregisterUser(TGLLibMaterial& user) { RemoveUser(&user); }
    // Guarded against cycles of items using each other.
    void NotifyUsers();
    void NotifyTexMapChange();

    const std::string& Name() const { return FName; }
    // Made unique within the library, except while the library is loaded.
    void SetName(const std::string& value);
    int32_t NameHash() const { return FNameHash; }
    TGLMaterial& Material() { return FMaterial; }
    const TGLMaterial& Material() const { return FMaterial; }
    void SetMaterial(const TGLMaterial& value) { FMaterial.Assign(&value); }
    int32_t Tag() const { return FTag; }
    void SetTag(int32_t value) { FTag = value; }

    const std::string& Texture2Name() const { return FTexture2Name; }
    void SetTexture2Name(const std::string& value);
    TGLShader* Shader() const { return FShader; }
    void SetShader(TGLShader* value);

    TGLLibMaterials& LibMaterials() const;
    TGLMaterialLibrary* Library() const;

    // Finds a texture file: the library's OnTextureNeeded first, then, for a name that is not
    // absolute, the first texture path under which the file exists.
    void DoOnTextureNeeded(TObject* sender, std::string& textureFileName) const;

protected:
    // The users hear of a new texture matrix.
    void TextureMatrixChanged() override { NotifyUsers(); }

private:
    friend class TGLShader;
    void AddUser(TPersistent* user);
    void RemoveUser(TPersistent* user);
    // The item whose texture goes on unit 1 when this one is drawn, or none.
    TGLLibMaterial* SecondTexture();
    bool TextureEnabled() const {
        return FMaterial.ExistingTexture() && FMaterial.ExistingTexture()->Enabled();
    }
    template <typename TNotify> void NotifyEachUser(TNotify notify);

    std::string FName;
    int32_t FNameHash = 0;
    TGLMaterial FMaterial;
    int32_t FTag = 0;
    std::string FTexture2Name;
    TGLLibMaterial* FLibMatTexture2 = nullptr; // resolved at the first Apply that needs it
    TGLShader* FShader = nullptr;
    std::vector<TPersistent*> FUserList; // materials and items, in registration order
    bool FNotifying = false;
};

// The items of a library, in order.
class TGLLibMaterials : public TCollection {
public:
    explicit TGLLibMaterials(TGLMaterialLibrary* owner);
    const char* ClassName() const override { return "TGLLibMaterials"; }

    TGLLibMaterial* Items(int index) const {
        return static_cast<TGLLibMaterial*>(TCollection::Items(index));
    }
    // A new item at the end, named uniquely from "LibMaterial".
    TGLLibMaterial* Add() { return new TGLLibMaterial(this); }
    // The first item of exactly that name (case matters), or none: the hashes are compared
    // first, so a lookup costs one hash and a scan of integers.
    TGLLibMaterial* GetLibMaterialByName(const std::string& name) const;
    // `base` when no item has that name, else the first free base + "1", base + "2", ...
    std::string MakeUniqueName(const std::string& base) const;

    void PrepareTextures();
    void ReleaseHandles();
    TGLMaterialLibrary* Library() const;
};

// The hash that library lookups compare first: the name's length in UTF-16 code units, then
// h = 2 * h + the low byte of each code unit, with 32-bit wrap-around.
int32_t LibMaterialNameHash(const std::string& name);

// A component holding named materials and the texture paths under which their texture files
// are looked for.
class TGLMaterialLibrary : public TGLCadenceAbleComponent {
public:
    explicit TGLMaterialLibrary(TComponent* owner);
    ~TGLMaterialLibrary() override;
    const char* ClassName() const override { return "TGLMaterialLibrary"; }

    TGLLibMaterials& Materials() { return FMaterials; }
    const TGLLibMaterials& Materials() const { return FMaterials; }
    TGLLibMaterial* LibMaterialByName(const std::string& name) const {
        return FMaterials.GetLibMaterialByName(name);
    }

    const std::string& TexturePaths() const { return FTexturePaths; }
    // Pieces separated by ";", trimmed, empty ones dropped, each ending in one "\".
    void SetTexturePaths(const std::string& value);
    const std::vector<std::string>& TexturePathList() const { return FTexturePathList; }
    TTextureNeededEvent OnTextureNeeded;

    void ReleaseHandles() { FMaterials.ReleaseHandles(); }
    void PrepareTextures() { FMaterials.PrepareTextures(); }
    // Every item's texture matrix from the values read.
    void Loaded() override;

private:
    friend class TGLMaterial;
    // The materials naming this library, so that its end clears their references.
    void AddReferrer(TGLMaterial* material);
    void RemoveReferrer(TGLMaterial* material);

    TGLLibMaterials FMaterials;
    std::string FTexturePaths;
    std::vector<std::string> FTexturePathList;
    std::vector<TGLMaterial*> FReferrers;
};
