// Colours, materials and textures.
#pragma once

#include "engine/geometry/VectorGeometry.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Graphics.h"

struct TRenderContextInfo;

// A framework colour as RGBA singles: a system colour (negative value) is resolved first.
TVector ConvertWinColor(TColor color, float alpha = 1.0f);

// An RGBA colour of singles that tells its owner about every change. A colour owned by a
// component (a scene object) makes it rebuild its drawing.
class TGLColor : public TGLUpdateAbleObject {
public:
    TGLColor(TPersistent* owner, const TVector& color);
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
    void NotifyChange(TObject* sender) override;

private:
    void SetComponent(int index, float value);
    TVector FColor;
};

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
