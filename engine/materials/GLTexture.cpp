#include "engine/materials/GLTexture.h"

TVector ConvertWinColor(TColor color, float alpha) {
    const uint32_t rgb = ColorToRGB(color);
    return {static_cast<float>(rgb & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
            static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, alpha};
}

// --- TGLColor ----------------------------------------------------------------------------------

TGLColor::TGLColor(TPersistent* owner, const TVector& color)
    : TGLUpdateAbleObject(owner), FColor(color) {}

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

void TGLColor::NotifyChange(TObject* sender) {
    if (!Owner())
        return;
    if (auto* component = dynamic_cast<TGLUpdateAbleComponent*>(Owner()))
        component->StructureChanged();
    TGLUpdateAbleObject::NotifyChange(sender);
}

// --- TGLMaterial -----------------------------------------------------------------------------

void TGLMaterial::Assign(const TPersistent* source) {
    if (dynamic_cast<const TGLMaterial*>(source))
        NotifyChange(this);
    else
        TGLUpdateAbleObject::Assign(source);
}

void TGLMaterial::Apply(TRenderContextInfo&) {}

bool TGLMaterial::UnApply(TRenderContextInfo&) {
    return false;
}
