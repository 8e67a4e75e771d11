// Colours, materials and textures.
#pragma once

#include "engine/geometry/VectorGeometry.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Graphics.h"

struct TRenderContextInfo;

// A framework colour as RGBA singles: a system colour (negative value) is resolved first.
TVector ConvertWinColor(TColor color, float alpha = 1.0f);

// How a material-bearing scene object looks. The object calls Apply before it draws itself and
// UnApply afterwards, drawing again for as long as UnApply asks for another pass; Blended puts
// the object among those drawn last, back to front.
//
// This is the contract the scene objects rely on. The material itself (face properties,
// blending, texture, library reference) fills it in; until it does, a material sets no state,
// draws in one pass and is opaque.
class TGLMaterial : public TGLUpdateAbleObject {
public:
    explicit TGLMaterial(TPersistent* owner) : TGLUpdateAbleObject(owner) {}
    const char* ClassName() const override { return "TGLMaterial"; }

    // From another material: takes its settings, then notifies once.
    void Assign(const TPersistent* source) override;

    virtual void Apply(TRenderContextInfo& rci);
    // True: draw once more and call UnApply again.
    virtual bool UnApply(TRenderContextInfo& rci);
    virtual bool Blended() const { return false; }
    // Frees the OpenGL objects of the material (its texture) when the owner releases its own.
    virtual void ReleaseHandles() {}
    // The owner's end-of-loading step: references read from the stored form are resolved here.
    virtual void Loaded() {}
};
