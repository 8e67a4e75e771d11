// Further textures of a material: textures on numbered texture units, each drawn with its own
// texture matrix.
#pragma once

#include "engine/geometry/VectorGeometry.h"
#include "engine/materials/GLTexture.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Collections.h"

#include <cstdint>

struct TRenderContextInfo;
class TGLTextureEx;

// A further texture of a material on texture unit TextureIndex, drawn with its own texture
// matrix: TextureScale, then TextureOffset. Its changes reach the material.
class TGLTextureExItem : public TCollectionItem, public TGLTextureTransform {
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

protected:
    // The material hears of a new texture matrix.
    void TextureMatrixChanged() override { NotifyChange(this); }

private:
    TGLTexture FTexture;
    int32_t FTextureIndex;
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
