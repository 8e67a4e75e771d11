// The scene buffer: owns one rendering context and everything needed to turn the scene into one
// frame in it (viewport, per-frame OpenGL settings, projection and view, frame statistics), and
// the fog settings of that frame.
#pragma once

#include "engine/context/GLContext.h"
#include "engine/context/GLState.h"
#include "engine/geometry/VectorGeometry.h"
#include "engine/materials/GLTexture.h"
#include "engine/scene/GLMisc.h"
#include "engine/scene/SceneGraph.h"
#include "platform/framework/Classes.h"
#include "platform/framework/Graphics.h"

#include <functional>
#include <memory>
#include <vector>

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
enum TGLColorDepth : uint8_t {
    cdDefault,
    cd8bits,
    cd16bits,
    cd24bits,
    cdFloat64bits,
    cdFloat128bits
};
enum TGLShadeModel : uint8_t { smDefault, smSmooth, smFlat };
enum TFogMode : uint8_t { fmLinear, fmExp, fmExp2 };
enum TFogDistance : uint8_t { fdDefault, fdEyeRadial, fdEyePlane };

class TGLCamera;
class TGLBaseSceneObject;
class TGLSceneBuffer;
struct TRenderContextInfo;

using TDirectRenderEvent = std::function<void(TObject* sender, TRenderContextInfo& rci)>;
// Something to run once the object tree of a frame has been rendered.
using TAfterRenderEffect = std::function<void(TGLSceneBuffer& buffer, TRenderContextInfo& rci)>;

class TGLFogEnvironment : public TGLUpdateAbleObject {
public:
    explicit TGLFogEnvironment(TGLSceneBuffer* buffer);
    ~TGLFogEnvironment() override;
    const char* ClassName() const override { return "TGLFogEnvironment"; }

    TGLColor& FogColor() { return *FFogColor; }
    const TGLColor& FogColor() const { return *FFogColor; }
    float FogStart() const { return FFogStart; }
    void SetFogStart(float value);
    float FogEnd() const { return FFogEnd; }
    void SetFogEnd(float value);
    TFogMode FogMode() const { return FFogMode; }
    void SetFogMode(TFogMode value);
    TFogDistance FogDistance() const { return FFogDistance; }
    void SetFogDistance(TFogDistance value);

    void Assign(const TPersistent* source) override;
    // Worth storing unless every setting is at its default.
    bool IsStored() const;
    // Sends the settings to the buffer's context (made current for the call if it is not).
    void ApplyFog();

private:
    void ApplyFogSettings() const;
    TGLSceneBuffer* FBuffer;
    std::unique_ptr<TGLColor> FFogColor;
    float FFogStart = 10;
    float FFogEnd = 1000;
    TFogMode FFogMode = fmLinear;
    TFogDistance FFogDistance = fdDefault;
};

class TGLSceneBuffer : public TGLUpdateAbleObject {
public:
    explicit TGLSceneBuffer(TComponent* owner);
    ~TGLSceneBuffer() override;
    const char* ClassName() const override { return "TGLSceneBuffer"; }

    TComponent* OwnerComponent() const { return FOwnerComponent; }

    TColor BackgroundColor() const { return FBackgroundColor; }
    void SetBackgroundColor(TColor value);
    TGLColor& AmbientColor() { return *FAmbientColor; }
    TContextOptions ContextOptions() const { return FContextOptions; }
    void SetContextOptions(TContextOptions value);
    int32_t AccumBufferBits() const { return FAccumBufferBits; }
    void SetAccumBufferBits(int32_t value);
    bool DepthTest() const { return FDepthTest; }
    void SetDepthTest(bool value);
    bool FaceCulling() const { return FFaceCulling; }
    void SetFaceCulling(bool value);
    bool FogEnable() const { return FFogEnable; }
    void SetFogEnable(bool value);
    bool Lighting() const { return FLighting; }
    void SetLighting(bool value);
    TGLAntiAliasing AntiAliasing() const { return FAntiAliasing; }
    void SetAntiAliasing(TGLAntiAliasing value);
    TGLDepthPrecision DepthPrecision() const { return FDepthPrecision; }
    void SetDepthPrecision(TGLDepthPrecision value);
    TGLColorDepth ColorDepth() const { return FColorDepth; }
    void SetColorDepth(TGLColorDepth value);
    TGLShadeModel ShadeModel() const { return FShadeModel; }
    void SetShadeModel(TGLShadeModel value);
    TGLFogEnvironment& FogEnvironment() { return *FFogEnvironment; }
    void SetFogEnvironment(const TGLFogEnvironment& value);
    float BackgroundAlpha() const { return FBackgroundAlpha; }

    // Copies another buffer's settings.
    void Assign(const TPersistent* source) override;

    TGLCamera* Camera() const { return FCamera; }
    void SetCamera(TGLCamera* camera);

    void CreateRenderingContext(HDC device, bool memoryContext);
    void DestroyRenderingContext();
    bool HasRenderingContext() const { return FRenderingContext != nullptr; }
    TGLContext* RenderingContext() const { return FRenderingContext.get(); }
    void ResizeViewport(int width, int height);
    const TRectangle& Viewport() const { return FViewport; }
    void RenderFrame();
    bool Rendering() const { return FRendering; }
    bool Frozen() const { return FFrozen; }

    // Frame statistics.
    uint32_t FrameCount() const { return FFrameCount; }
    float FramesPerSecond() const { return FFramesPerSecond; }
    double LastFrameTime() const { return FLastFrameTime; }
    int32_t RenderDpi() const { return FRenderDpi; }

    // What the last frame read back from OpenGL.
    const TMatrix& BaseProjectionMatrix() const { return FBaseProjectionMatrix; }
    const TMatrix& ProjectionMatrix() const { return FProjectionMatrix; }
    TMatrix& ModelViewMatrix() { return FModelViewMatrix; }
    const TVector& CameraAbsolutePosition() const { return FCameraAbsolutePosition; }
    TGLStateCache& StateCache() { return *FStateCache; }

    // Objects that change the model-view matrix for their subtree save it here.
    void PushModelViewMatrix(const TMatrix& matrix);
    void PopModelViewMatrix();

    std::vector<TAfterRenderEffect>& AfterRenderEffects() { return FAfterRenderEffects; }

    // An object left itself out of the frame for want of memory: the frame is finished and
    // shown, and then reported as running out of memory.
    void NoteFrameOutOfMemory() { FFrameOutOfMemory = true; }

    // A change worth a new frame: reaches OnChange unless a frame is being rendered.
    void NotifyChange(TObject* sender) override;
    // A change that needs a new pixel format: always reaches OnStructuralChange.
    void StructuralChange();

    // Loads the projection and the camera's view (and, for picking, a pick matrix around the
    // given rectangle).
    void PrepareMatrices(const TRectangle& viewport, int dpi, const RECT* pickRectangle);
    // The per-frame OpenGL settings.
    void SetupRenderingContext();
    void ClearBuffers();

    TNotifyEvent OnChange;
    TNotifyEvent OnStructuralChange;
    TNotifyEvent BeforeRender;
    TNotifyEvent PostRender;
    TNotifyEvent AfterRender;
    TNotifyEvent OnPrepareContext;
    TDirectRenderEvent InitiateRendering;
    TDirectRenderEvent WrapUpRendering;
    std::function<void()> ViewerBeforeRender;

private:
    void PrepareContextSettings(TGLContext& context) const;
    void InitializeContext();
    bool OwnerEventsEnabled() const;
    void RenderWithContextCurrent(int64_t startCounter);
    void RenderScene(int dpi, uint8_t drawPass, TGLBaseSceneObject* baseObject);
    void SetCapability(TGLCapability capability, bool on);
    void UpdateFrameStatistics(int64_t startCounter);
    void ForgetCamera();
    void RegisterWithCameraScene();
    void UnregisterFromScene();

    TComponent* FOwnerComponent;
    TColor FBackgroundColor = clBtnFace;
    std::unique_ptr<TGLColor> FAmbientColor;
    TContextOptions FContextOptions{roDoubleBuffer, roRenderToWindow};
    int32_t FAccumBufferBits = 0;
    bool FDepthTest = true;
    bool FFaceCulling = true;
    bool FFogEnable = false;
    bool FLighting = true;
    TGLAntiAliasing FAntiAliasing = aaDefault;
    TGLDepthPrecision FDepthPrecision = dpDefault;
    TGLColorDepth FColorDepth = cdDefault;
    TGLShadeModel FShadeModel = smDefault;
    std::unique_ptr<TGLFogEnvironment> FFogEnvironment;
    float FBackgroundAlpha = 1.0f;

    TGLCamera* FCamera = nullptr;
    TGLScene* FRegisteredScene = nullptr; // the scene this buffer registered with, if any
    std::unique_ptr<TGLContext> FRenderingContext;
    std::unique_ptr<TGLStateCache> FStateCache;
    TRectangle FViewport{0, 0, 0, 0};
    bool FRendering = false;
    bool FFrozen = false;
    bool FFrameOutOfMemory = false;

    TMatrix FBaseProjectionMatrix = IdentityHmgMatrix;
    TMatrix FProjectionMatrix = IdentityHmgMatrix;
    TMatrix FModelViewMatrix = IdentityHmgMatrix;
    TVector FCameraAbsolutePosition{0, 0, 0, 1};
    std::vector<TMatrix> FModelViewStack;
    std::vector<TAfterRenderEffect> FAfterRenderEffects;

    uint32_t FFrameCount = 0;
    int64_t FFirstPerfCounter = 0;
    float FFramesPerSecond = 0;
    double FLastFrameTime = 0;
    int32_t FRenderDpi = 96;
};

// Reads the performance counter's frequency once, for the frame statistics (start-up).
void ReadPerformanceCounterFrequency();
