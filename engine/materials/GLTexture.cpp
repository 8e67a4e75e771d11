#include "engine/materials/GLTexture.h"

TVector ConvertWinColor(TColor color, float alpha) {
    const uint32_t rgb = ColorToRGB(color);
    return {static_cast<float>(rgb & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
            static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, alpha};
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
