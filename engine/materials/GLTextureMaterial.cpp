#include "engine/materials/GLTextureMaterial.h"

#include "engine/context/OpenGL1x.h"
#include "engine/materials/GLMaterialLibrary.h"
#include "engine/scene/RenderContextInfo.h"

#include <algorithm>

namespace {

constexpr TVector cDefaultAmbient{0.2f, 0.2f, 0.2f, 1};
constexpr TVector cDefaultDiffuse{0.8f, 0.8f, 0.8f, 1};
constexpr TVector cOpaqueBlack{0, 0, 0, 1};

constexpr GLenum cPolygonModes[] = {GL_FILL, GL_LINE, GL_POINT};

// Library references may chain through this many items before the chain counts as a cycle.
constexpr int cMaxLibMaterialChain = 16;

// Switches `capability` off for a material and counts it in `count`, so that only the UnApply
// that brings the count back to 0 switches it on again. A material applied while an outer one
// holds the capability off counts too: its UnApply must not end the outer suppression.
void Suppress(TGLStateCache& cache, TGLCapability capability, int32_t& count) {
    if (cache.States().Contains(capability)) {
        cache.Disable(capability);
        ++count;
    } else if (count > 0) {
        ++count;
    }
}

void EndSuppression(TGLStateCache& cache, TGLCapability capability, int32_t& count) {
    if (count > 0 && --count == 0)
        cache.Enable(capability);
}

bool IsBlending(TBlendingMode mode) {
    return mode == bmTransparency || mode == bmAdditive || mode == bmModulate;
}

bool IsAlphaTest(TBlendingMode mode) {
    return mode == bmAlphaTest50 || mode == bmAlphaTest100;
}

} // namespace

// --- TGLFaceProperties ---------------------------------------------------------------------------

// The colours tell these face properties as their owner; a change callback on top would only
// repeat the notice.
TGLFaceProperties::TGLFaceProperties(TPersistent* owner)
    : TGLUpdateAbleObject(owner), FAmbient(this, cDefaultAmbient), FDiffuse(this, cDefaultDiffuse),
      FEmission(this, cOpaqueBlack), FSpecular(this, cOpaqueBlack) {}

void TGLFaceProperties::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLFaceProperties*>(source);
    if (!other) {
        TGLUpdateAbleObject::Assign(source);
        return;
    }
    FAmbient.Initialize(other->FAmbient.Color());
    FDiffuse.Initialize(other->FDiffuse.Color());
    FEmission.Initialize(other->FEmission.Color());
    FSpecular.Initialize(other->FSpecular.Color());
    FShininess = other->FShininess;
    FPolygonMode = other->FPolygonMode;
    NotifyChange(this);
}

void TGLFaceProperties::SetOwnedColor(TGLColor& color, const TGLColor& value) {
    color.Initialize(value.Color());
    NotifyChange(this);
}

void TGLFaceProperties::SetShininess(TShininess value) {
    if (StoreIfChanged(FShininess, std::min(value, cMaxShininess)))
        NotifyChange(this);
}

void TGLFaceProperties::SetPolygonMode(TPolygonMode value) {
    if (StoreIfChanged(FPolygonMode, value))
        NotifyChange(this);
}

void TGLFaceProperties::Apply(TRenderContextInfo& rci, GLenum face) const {
    rci.StateCache->SetMaterialColors(face, FEmission.Color(), FAmbient.Color(), FDiffuse.Color(),
                                      FSpecular.Color(), FShininess);
    ApplyPolygonMode(rci, face);
}

void TGLFaceProperties::ApplyNoLighting(TRenderContextInfo& rci, GLenum face) const {
    glColor4fv(FDiffuse.AsAddress());
    ApplyPolygonMode(rci, face);
}

void TGLFaceProperties::ApplyPolygonMode(TRenderContextInfo& rci, GLenum face) const {
    rci.StateCache->SetPolygonMode(face, cPolygonModes[FPolygonMode]);
}

// --- TGLMaterial -----------------------------------------------------------------------------

TGLMaterial::TGLMaterial(TPersistent* owner) : TGLUpdateAbleObject(owner), FFrontProperties(this) {}

TGLMaterial::~TGLMaterial() {
    if (FLibMaterial)
        FLibMaterial->UnregisterUser(*this);
    if (FMaterialLibrary)
        FMaterialLibrary->RemoveReferrer(this);
}

TGLFaceProperties& TGLMaterial::BackProperties() {
    if (!FBackProperties)
        FBackProperties = std::make_unique<TGLFaceProperties>(this);
    return *FBackProperties;
}

void TGLMaterial::SetFrontProperties(const TGLFaceProperties& value) {
    FFrontProperties.Assign(&value);
}

void TGLMaterial::SetBackProperties(const TGLFaceProperties& value) {
    BackProperties().Assign(&value);
}

void TGLMaterial::SetBlendingMode(TBlendingMode value) {
    if (StoreIfChanged(FBlendingMode, value))
        NotifyChange(this);
}

void TGLMaterial::SetMaterialOptions(TMaterialOptions value) {
    if (StoreIfChanged(FMaterialOptions, value))
        NotifyChange(this);
}

void TGLMaterial::SetFaceCulling(TFaceCulling value) {
    if (StoreIfChanged(FFaceCulling, value))
        NotifyChange(this);
}

TGLTexture& TGLMaterial::Texture() {
    if (!FTexture) {
        FTexture = std::make_unique<TGLTexture>(this);
        if (auto* item = dynamic_cast<TGLLibMaterial*>(Owner()))
            FTexture->OnTextureNeeded = [item](TObject* sender, std::string& fileName) {
                item->DoOnTextureNeeded(sender, fileName);
            };
    }
    return *FTexture;
}

void TGLMaterial::SetTexture(const TGLTexture* value) {
    if (value) {
        Texture().Assign(value);
        return;
    }
    const bool wasEnabled = FTexture && FTexture->Enabled();
    FTexture.reset();
    if (wasEnabled)
        NotifyTexMapChange(this);
}

TGLTextureEx& TGLMaterial::TextureEx() {
    if (!FTextureEx)
        FTextureEx = std::make_unique<TGLTextureEx>(this);
    return *FTextureEx;
}

void TGLMaterial::SetTextureEx(const TGLTextureEx* value) {
    if (value || FTextureEx)
        TextureEx().Assign(value);
}

std::pair<bool, bool> TGLMaterial::TexMapState() const {
    return {FTexture && FTexture->Enabled(), FTexture && FTexture->MappingMode() != tmmUser};
}

void TGLMaterial::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLMaterial*>(source);
    if (!other) {
        TGLUpdateAbleObject::Assign(source);
        return;
    }
    if (other == this)
        return;
    const auto texMap = TexMapState();
    {
        // Copied quietly: the material tells its owner once, at the end.
        BeginUpdate();
        TFinally endUpdate([this] { EndUpdate(); });
        CopySettings(*other);
        StoreLibrary(other->FMaterialLibrary);
    }
    SetLibMaterialName(other->FLibMaterialName);
    if (TexMapState() != texMap)
        NotifyTexMapChange(this);
    NotifyChange(this);
}

void TGLMaterial::CopySettings(const TGLMaterial& other) {
    if (other.FBackProperties)
        BackProperties().Assign(other.FBackProperties.get());
    else
        FBackProperties.reset();
    FFrontProperties.Assign(&other.FFrontProperties);
    FBlendingMode = other.FBlendingMode;
    FMaterialOptions = other.FMaterialOptions;
    if (other.FTexture)
        Texture().Assign(other.FTexture.get());
    else
        FTexture.reset();
    FFaceCulling = other.FFaceCulling;
    TextureEx().Assign(other.FTextureEx.get());
}

void TGLMaterial::NotifyChange(TObject*) {
    if (UpdateCount() != 0)
        return;
    if (auto* component = dynamic_cast<TGLUpdateAbleComponent*>(Owner()))
        component->NotifyChange(this);
    else if (auto* item = dynamic_cast<TGLLibMaterial*>(Owner()))
        item->NotifyUsers();
}

void TGLMaterial::NotifyTexMapChange(TObject*) {
    if (UpdateCount() != 0)
        return;
    if (auto* component = dynamic_cast<TGLUpdateAbleComponent*>(Owner()))
        component->StructureChanged();
    else if (auto* item = dynamic_cast<TGLLibMaterial*>(Owner()))
        item->NotifyTexMapChange();
}

// --- Library reference -------------------------------------------------------------------------

void TGLMaterial::SetMaterialLibrary(TGLMaterialLibrary* value) {
    StoreLibrary(value);
    SetLibMaterialName(FLibMaterialName);
}

void TGLMaterial::StoreLibrary(TGLMaterialLibrary* value) {
    if (value == FMaterialLibrary)
        return;
    if (FMaterialLibrary)
        FMaterialLibrary->RemoveReferrer(this);
    FMaterialLibrary = value;
    if (value)
        value->AddReferrer(this);
}

void TGLMaterial::SetLibMaterialName(const std::string& value) {
    TGLLibMaterial* item = FMaterialLibrary ? FMaterialLibrary->LibMaterialByName(value) : nullptr;
    CheckNoCycle(item);
    FLibMaterialName = value;
    if (item == FLibMaterial)
        return;
    if (FLibMaterial)
        FLibMaterial->UnregisterUser(*this);
    FLibMaterial = item;
    if (item)
        item->RegisterUser(*this);
    NotifyTexMapChange(this);
}

// Follows the items that the found one's material draws with, as drawing follows them: the
// items they resolved to, which a rename since cannot change. Besides a long chain, a chain that
// reaches this material itself is a cycle: drawing it would never end.
void TGLMaterial::CheckNoCycle(TGLLibMaterial* item) const {
    int steps = 0;
    while (item) {
        const TGLMaterial& material = item->Material();
        Assert(&material != this && ++steps < cMaxLibMaterialChain,
               "Error: Cyclic material reference detected!");
        item = material.FLibMaterial;
    }
}

void TGLMaterial::LibMaterialDestroyed() {
    FLibMaterial = nullptr;
    FLibMaterialName.clear();
    StoreLibrary(nullptr);
}

void TGLMaterial::LibraryDestroyed() {
    FLibMaterial = nullptr;
    FMaterialLibrary = nullptr;
}

// --- Drawing -----------------------------------------------------------------------------------

void TGLMaterial::Apply(TRenderContextInfo& rci) {
    if (FLibMaterial) {
        FLibMaterial->Apply(rci);
        return;
    }
    TGLStateCache& cache = *rci.StateCache;
    if (FMaterialOptions.Contains(moNoLighting))
        Suppress(cache, capLighting, rci.LightingSuppressCount);
    if (cache.States().Contains(capLighting))
        FFrontProperties.Apply(rci, GL_FRONT);
    else
        FFrontProperties.ApplyNoLighting(rci, GL_FRONT);
    ApplyFaceCulling(rci);
    if (!rci.SkipBlending)
        ApplyBlending(rci);
    if (FMaterialOptions.Contains(moIgnoreFog))
        Suppress(cache, capFog, rci.FogSuppressCount);
    ApplyTextures(rci);
}

// An enabled further texture on unit 0 takes the place of the material's own texture.
void TGLMaterial::ApplyTextures(TRenderContextInfo& rci) {
    if (FTexture && !(FTextureEx && FTextureEx->IsTextureEnabled(0)))
        FTexture->Apply(rci);
    else if (FTextureEx && FTextureEx->Count() > 0)
        FTextureEx->Apply(rci);
}

void TGLMaterial::UnApplyTextures(TRenderContextInfo& rci) {
    if (FTexture && FTexture->Enabled() && !(FTextureEx && FTextureEx->IsTextureEnabled(0)))
        FTexture->UnApply(rci);
    else if (FTextureEx)
        FTextureEx->UnApply(rci);
}

void TGLMaterial::ApplyFaceCulling(TRenderContextInfo& rci) {
    TGLStateCache& cache = *rci.StateCache;
    const bool culling = cache.States().Contains(capCullFace);
    const bool cull =
        FFaceCulling == fcCull || (FFaceCulling == fcBufferDefault && rci.BufferCullsFaces);
    if (cull) {
        cache.Enable(capCullFace);
        return;
    }
    if (culling)
        cache.Disable(capCullFace);
    BackProperties().Apply(rci, GL_BACK);
}

void TGLMaterial::ApplyBlending(TRenderContextInfo& rci) const {
    TGLStateCache& cache = *rci.StateCache;
    if (IsBlending(FBlendingMode))
        cache.Enable(capBlend);
    else
        cache.Disable(capBlend);
    if (FBlendingMode == bmOpaque)
        cache.Disable(capAlphaTest);
    else
        cache.Enable(capAlphaTest);
    switch (FBlendingMode) {
    case bmTransparency:
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        break;
    case bmAdditive:
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        break;
    case bmAlphaTest50:
        glAlphaFunc(GL_GEQUAL, 0.5f);
        break;
    case bmAlphaTest100:
        glAlphaFunc(GL_GEQUAL, 1.0f);
        break;
    case bmModulate:
        glBlendFunc(GL_DST_COLOR, GL_ZERO);
        break;
    case bmOpaque:
        break;
    }
}

bool TGLMaterial::UnApply(TRenderContextInfo& rci) {
    if (FLibMaterial)
        return FLibMaterial->UnApply(rci);
    TGLStateCache& cache = *rci.StateCache;
    if (IsAlphaTest(FBlendingMode))
        glAlphaFunc(GL_GREATER, 0);
    if (FMaterialOptions.Contains(moNoLighting))
        EndSuppression(cache, capLighting, rci.LightingSuppressCount);
    if (FMaterialOptions.Contains(moIgnoreFog))
        EndSuppression(cache, capFog, rci.FogSuppressCount);
    UnApplyTextures(rci);
    return false;
}

bool TGLMaterial::Blended() const {
    if (FLibMaterial)
        return FLibMaterial->Material().Blended();
    return IsBlending(FBlendingMode);
}

void TGLMaterial::PrepareTextures() {
    if (FTexture && FTexture->Enabled())
        FTexture->EnsureUploaded();
    if (FTextureEx)
        FTextureEx->PrepareTextures();
}

void TGLMaterial::ReleaseHandles() {
    if (FTexture)
        FTexture->ReleaseHandles();
    if (FTextureEx)
        FTextureEx->ReleaseHandles();
}
