#include "engine/materials/GLTextureEx.h"

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLTextureMaterial.h"
#include "engine/scene/RenderContextInfo.h"

#include <algorithm>

TGLTextureExItem::TGLTextureExItem(TGLTextureEx* collection)
    : TCollectionItem(collection), TGLTextureTransform(this), FTexture(this),
      FTextureIndex(std::max(Index(), 0)) {}

void TGLTextureExItem::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLTextureExItem*>(source);
    if (!other) {
        TCollectionItem::Assign(source);
        return;
    }
    if (other == this)
        return;
    FTexture.Assign(&other->FTexture);
    FTextureIndex = other->FTextureIndex;
    AssignTextureTransform(*other);
    CalculateTextureMatrix();
}

void TGLTextureExItem::NotifyChange(TObject* sender) {
    if (Collection())
        static_cast<TGLTextureEx*>(Collection())->NotifyChange(sender);
}

void TGLTextureExItem::SetTextureIndex(int32_t value) {
    if (StoreIfChanged(FTextureIndex, value))
        NotifyChange(this);
}

// Unit 0 goes through the state cache like the material's own texture; the others are set
// directly, and leave unit 0 active.
bool TGLTextureExItem::Apply(TRenderContextInfo& rci, int unitCount) {
    FApplied = FTexture.Enabled() && FTextureIndex >= 0 && FTextureIndex < unitCount;
    if (!FApplied)
        return false;
    const TMatrix* matrix = TextureMatrixOrNone();
    if (FTextureIndex > 0) {
        FTexture.ApplyOnUnit(rci, FTextureIndex, matrix);
        return true;
    }
    if (matrix)
        rci.StateCache->SetTextureMatrix(*matrix);
    FTexture.Apply(rci);
    return true;
}

void TGLTextureExItem::UnApply(TRenderContextInfo& rci) {
    if (!FApplied)
        return;
    FApplied = false;
    if (FTextureIndex > 0) {
        FTexture.UnApplyOnUnit(rci, FTextureIndex, !TextureMatrixIsIdentity());
        return;
    }
    FTexture.UnApply(rci);
    if (!TextureMatrixIsIdentity())
        rci.StateCache->ResetTextureMatrix();
}

void TGLTextureEx::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLTextureEx*>(source);
    if (source && !other) {
        TCollection::Assign(source);
        return;
    }
    if (other == this)
        return;
    Clear();
    for (int i = 0; other && i < other->Count(); ++i)
        Add()->Assign(other->Items(i));
    NotifyChange(this);
}

void TGLTextureEx::NotifyChange(TObject* sender) {
    if (auto* material = dynamic_cast<TGLMaterial*>(Owner()))
        material->NotifyChange(sender);
}

bool TGLTextureEx::IsTextureEnabled(int unit) const {
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->TextureIndex() == unit && Items(i)->Texture().Enabled())
            return true;
    return false;
}

int TGLTextureEx::UnitCount() const {
    bool beyondUnit0 = false;
    for (int i = 0; i < Count(); ++i)
        beyondUnit0 = beyondUnit0 || Items(i)->TextureIndex() > 0;
    if (!beyondUnit0 || !GL_ARB_multitexture)
        return 1;
    GLint units = 1;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    return std::clamp<int>(units, 1, TGLStateCache::cTextureUnits);
}

void TGLTextureEx::Apply(TRenderContextInfo& rci) {
    const int unitCount = UnitCount();
    uint32_t fed = 1;
    for (int i = 0; i < Count(); ++i) {
        TGLTextureExItem& item = *Items(i);
        if (item.Apply(rci, unitCount) && item.TextureIndex() > 0 &&
            item.Texture().MappingMode() == tmmUser)
            fed |= 1u << item.TextureIndex();
    }
    FCoordinatesSelected = fed != 1;
    if (FCoordinatesSelected)
        SelectTexCoordUnitMask(fed);
}

void TGLTextureEx::UnApply(TRenderContextInfo& rci) {
    for (int i = Count() - 1; i >= 0; --i)
        Items(i)->UnApply(rci);
    if (FCoordinatesSelected)
        SelectTexCoordUnit0();
    FCoordinatesSelected = false;
}

void TGLTextureEx::PrepareTextures() {
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Texture().Enabled())
            Items(i)->Texture().EnsureUploaded();
}

void TGLTextureEx::ReleaseHandles() {
    for (int i = 0; i < Count(); ++i)
        Items(i)->Texture().ReleaseHandles();
}
