// The scene buffer: owns one rendering context and turns the scene into one frame in it.
#pragma once

#include "engine/context/GLContext.h"
#include "engine/geometry/VectorGeometry.h"
#include "engine/scene/SceneGraph.h"
#include "platform/framework/Classes.h"
#include "platform/framework/Graphics.h"

#include <memory>

enum TContextOption : uint8_t {
    roDoubleBuffer,
    roStencilBuffer,
    roRenderToWindow,
    roTwoSideLighting,
    roStereo,
    roDestinationAlpha,
    roNoColorBuffer,
    roNoColorBufferClear,
    roNoSwapBuffers
};
using TContextOptions = TSet<TContextOption>;
enum TGLDepthPrecision : uint8_t { dpDefault, dp16bits, dp24bits, dp32bits };
enum TGLColorDepth : uint8_t { cdDefault, cd8bits, cd16bits, cd24bits, cdFloat64bits, cdFloat128bits };
enum TGLShadeModel : uint8_t { smDefault, smSmooth, smFlat };

class TGLCamera;

class TGLSceneBuffer : public TPersistent {
public:
    explicit TGLSceneBuffer(TComponent* owner);
    ~TGLSceneBuffer() override;
    const char* ClassName() const override { return "TGLSceneBuffer"; }

    TComponent* Owner() const { return FOwner; }

    TColor BackgroundColor() const { return FBackgroundColor; }
    void SetBackgroundColor(TColor value);
    TContextOptions ContextOptions() const { return FContextOptions; }
    void SetContextOptions(TContextOptions value);
    int32_t AccumBufferBits() const { return FAccumBufferBits; }
    void SetAccumBufferBits(int32_t value);
    TGLAntiAliasing AntiAliasing() const { return FAntiAliasing; }
    void SetAntiAliasing(TGLAntiAliasing value);
    TGLDepthPrecision DepthPrecision() const { return FDepthPrecision; }
    void SetDepthPrecision(TGLDepthPrecision value);
    TGLColorDepth ColorDepth() const { return FColorDepth; }
    void SetColorDepth(TGLColorDepth value);
    float BackgroundAlpha() const { return FBackgroundAlpha; }

    TGLCamera* Camera() const { return FCamera; }
    void SetCamera(TGLCamera* value);

    void CreateRenderingContext(HDC device, bool memoryContext);
    void DestroyRenderingContext();
    bool HasRenderingContext() const { return FRenderingContext != nullptr; }
    TGLContext* RenderingContext() const { return FRenderingContext.get(); }
    void ResizeViewport(int width, int height);
    const TRectangle& Viewport() const { return FViewport; }
    void RenderFrame();
    bool Rendering() const { return FRendering; }
    bool Frozen() const { return FFrozen; }
    uint32_t FrameCount() const { return FFrameCount; }

    // A change worth a new frame: reaches OnChange unless a frame is being rendered.
    void NotifyChange(TObject* sender);
    // A change that needs a new pixel format: always reaches OnStructuralChange.
    void StructuralChange();

    TNotifyEvent OnChange;
    TNotifyEvent OnStructuralChange;
    TNotifyEvent BeforeRender;
    TNotifyEvent PostRender;
    TNotifyEvent AfterRender;
    TNotifyEvent OnPrepareContext;
    std::function<void()> ViewerBeforeRender;

private:
    void PrepareContextSettings(TGLContext& context) const;
    void InitializeContext();
    bool OwnerEventsEnabled() const;
    void RenderWithContextCurrent();

    TComponent* FOwner;
    TColor FBackgroundColor = clBtnFace;
    TContextOptions FContextOptions{roDoubleBuffer, roRenderToWindow};
    int32_t FAccumBufferBits = 0;
    TGLAntiAliasing FAntiAliasing = aaDefault;
    TGLDepthPrecision FDepthPrecision = dpDefault;
    TGLColorDepth FColorDepth = cdDefault;
    float FBackgroundAlpha = 1.0f;
    TGLCamera* FCamera = nullptr;
    std::unique_ptr<TGLContext> FRenderingContext;
    TRectangle FViewport{0, 0, 0, 0};
    bool FRendering = false;
    bool FFrozen = false;
    uint32_t FFrameCount = 0;
};
