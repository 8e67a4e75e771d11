#include "engine/scene/SceneGraphBuffer.h"

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/scene/SceneGraph.h"
#include "platform/win32/WinUser.h"

#include <algorithm>
#include <utility>

namespace {

// What a software driver allocates for its first frame: its rasterizer's tiles and scenes, the
// code of the first shaders, the frame's textures.
constexpr uint64_t DriverStartBytes = 32u << 20;

// The performance counter's frequency, read once at start-up; and the driver's own fog
// distance mode, read the first time the default is asked for. Both are process-wide.
int64_t CounterTicksPerSecond = 0;
GLint DefaultFogDistanceMode = 0;
bool DefaultFogDistanceModeRead = false;

int64_t CounterFrequency() {
    if (CounterTicksPerSecond == 0)
        ReadPerformanceCounterFrequency();
    return CounterTicksPerSecond;
}

int64_t Counter() {
    int64_t count = 0;
    QueryPerformanceCounter(&count);
    return count;
}

int32_t ColorBitsFor(TGLColorDepth depth) {
    switch (depth) {
    case cd8bits:
        return 8;
    case cd16bits:
        return 16;
    case cdFloat64bits:
        return 64;
    case cdFloat128bits:
        return 128;
    case cdDefault:
    case cd24bits:
        break;
    }
    return 24;
}

int32_t DepthBitsFor(TGLDepthPrecision precision) {
    switch (precision) {
    case dp16bits:
        return 16;
    case dp32bits:
        return 32;
    case dpDefault:
    case dp24bits:
        break;
    }
    return 24;
}

TMatrix ReadMatrix(GLenum which) {
    TMatrix matrix = IdentityHmgMatrix;
    glGetFloatv(which, matrix[0].data());
    return matrix;
}

} // namespace

void ReadPerformanceCounterFrequency() {
    QueryPerformanceFrequency(&CounterTicksPerSecond);
    if (CounterTicksPerSecond <= 0)
        CounterTicksPerSecond = 1;
}

// --- TGLFogEnvironment
// -----------------------------------------------------------------------------

TGLFogEnvironment::TGLFogEnvironment(TGLSceneBuffer* buffer)
    : TGLUpdateAbleObject(buffer), FBuffer(buffer),
      FFogColor(std::make_unique<TGLColor>(this, TVector{0, 0, 0, 1})) {}

TGLFogEnvironment::~TGLFogEnvironment() = default;

void TGLFogEnvironment::SetFogStart(float value) {
    if (StoreIfChanged(FFogStart, value))
        NotifyChange(this);
}

void TGLFogEnvironment::SetFogEnd(float value) {
    if (StoreIfChanged(FFogEnd, value))
        NotifyChange(this);
}

void TGLFogEnvironment::SetFogMode(TFogMode value) {
    if (StoreIfChanged(FFogMode, value))
        NotifyChange(this);
}

void TGLFogEnvironment::SetFogDistance(TFogDistance value) {
    if (StoreIfChanged(FFogDistance, value))
        NotifyChange(this);
}

void TGLFogEnvironment::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLFogEnvironment*>(source);
    if (!other) {
        TGLUpdateAbleObject::Assign(source);
        return;
    }
    FFogColor->Initialize(other->FFogColor->Color());
    FFogStart = other->FFogStart;
    FFogEnd = other->FFogEnd;
    FFogMode = other->FFogMode;
    FFogDistance = other->FFogDistance;
    NotifyChange(this);
}

bool TGLFogEnvironment::IsStored() const {
    return !SameBits(FFogColor->Color(), TVector{0, 0, 0, 1}) || FFogStart != 10 ||
           FFogEnd != 1000 || FFogMode != fmLinear || FFogDistance != fdDefault;
}

void TGLFogEnvironment::ApplyFog() {
    TGLContext* context = FBuffer->RenderingContext();
    if (!context)
        return;
    if (context->IsCurrent()) {
        ApplyFogSettings();
        return;
    }
    TGLCurrentContextScope current(*context);
    ApplyFogSettings();
}

void TGLFogEnvironment::ApplyFogSettings() const {
    switch (FFogMode) {
    case fmLinear:
        glFogi(GL_FOG_MODE, GL_LINEAR);
        break;
    case fmExp:
        glFogi(GL_FOG_MODE, GL_EXP);
        glFogf(GL_FOG_DENSITY, FFogColor->Alpha());
        break;
    case fmExp2:
        glFogi(GL_FOG_MODE, GL_EXP2);
        glFogf(GL_FOG_DENSITY, FFogColor->Alpha());
        break;
    }
    glFogfv(GL_FOG_COLOR, FFogColor->AsAddress());
    glFogf(GL_FOG_START, FFogStart);
    glFogf(GL_FOG_END, FFogEnd);
    if (!GL_NV_fog_distance)
        return;
    switch (FFogDistance) {
    case fdEyeRadial:
        glFogi(GL_FOG_DISTANCE_MODE_NV, GL_EYE_RADIAL_NV);
        break;
    case fdEyePlane:
        glFogi(GL_FOG_DISTANCE_MODE_NV, GL_EYE_PLANE_ABSOLUTE_NV);
        break;
    case fdDefault:
        if (!DefaultFogDistanceModeRead) {
            glGetIntegerv(GL_FOG_DISTANCE_MODE_NV, &DefaultFogDistanceMode);
            DefaultFogDistanceModeRead = true;
        } else {
            glFogi(GL_FOG_DISTANCE_MODE_NV, DefaultFogDistanceMode);
        }
        break;
    }
}

// --- TGLSceneBuffer: settings
// ----------------------------------------------------------------------

TGLSceneBuffer::TGLSceneBuffer(TComponent* owner)
    : TGLUpdateAbleObject(owner), FOwnerComponent(owner),
      FAmbientColor(std::make_unique<TGLColor>(this, TVector{0.2f, 0.2f, 0.2f, 1})),
      FFogEnvironment(std::make_unique<TGLFogEnvironment>(this)),
      FStateCache(std::make_unique<TGLStateCache>()) {}

TGLSceneBuffer::~TGLSceneBuffer() {
    FStateCache.reset();
    ForgetCamera();
    try {
        DestroyRenderingContext();
    } catch (const Exception&) {
        // The context is gone either way; a destructor has nobody to tell.
    }
    FAmbientColor.reset();
    FAfterRenderEffects.clear();
    FFogEnvironment.reset();
}

void TGLSceneBuffer::SetBackgroundColor(TColor value) {
    if (StoreIfChanged(FBackgroundColor, value))
        NotifyChange(this);
}

void TGLSceneBuffer::SetDepthTest(bool value) {
    if (StoreIfChanged(FDepthTest, value))
        NotifyChange(this);
}

void TGLSceneBuffer::SetFaceCulling(bool value) {
    if (StoreIfChanged(FFaceCulling, value))
        NotifyChange(this);
}

void TGLSceneBuffer::SetFogEnable(bool value) {
    if (StoreIfChanged(FFogEnable, value))
        NotifyChange(this);
}

void TGLSceneBuffer::SetLighting(bool value) {
    if (StoreIfChanged(FLighting, value))
        NotifyChange(this);
}

void TGLSceneBuffer::SetShadeModel(TGLShadeModel value) {
    if (StoreIfChanged(FShadeModel, value))
        NotifyChange(this);
}

void TGLSceneBuffer::SetContextOptions(TContextOptions value) {
    if (StoreIfChanged(FContextOptions, value))
        StructuralChange();
}

void TGLSceneBuffer::SetAccumBufferBits(int32_t value) {
    if (StoreIfChanged(FAccumBufferBits, value))
        StructuralChange();
}

void TGLSceneBuffer::SetAntiAliasing(TGLAntiAliasing value) {
    if (StoreIfChanged(FAntiAliasing, value))
        StructuralChange();
}

void TGLSceneBuffer::SetDepthPrecision(TGLDepthPrecision value) {
    if (StoreIfChanged(FDepthPrecision, value))
        StructuralChange();
}

void TGLSceneBuffer::SetColorDepth(TGLColorDepth value) {
    if (StoreIfChanged(FColorDepth, value))
        StructuralChange();
}

void TGLSceneBuffer::SetFogEnvironment(const TGLFogEnvironment& value) {
    FFogEnvironment->Assign(&value);
    NotifyChange(this);
}

void TGLSceneBuffer::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLSceneBuffer*>(source);
    if (!other) {
        TGLUpdateAbleObject::Assign(source);
        return;
    }
    SetBackgroundColor(other->FBackgroundColor);
    FAmbientColor->Assign(other->FAmbientColor.get());
    SetContextOptions(other->FContextOptions);
    SetAccumBufferBits(other->FAccumBufferBits);
    SetDepthTest(other->FDepthTest);
    SetFaceCulling(other->FFaceCulling);
    SetFogEnable(other->FFogEnable);
    SetLighting(other->FLighting);
    SetAntiAliasing(other->FAntiAliasing);
    SetDepthPrecision(other->FDepthPrecision);
    SetColorDepth(other->FColorDepth);
    SetShadeModel(other->FShadeModel);
    SetFogEnvironment(*other->FFogEnvironment);
}

void TGLSceneBuffer::NotifyChange(TObject*) {
    if (!FRendering && OnChange)
        OnChange(this);
}

void TGLSceneBuffer::StructuralChange() {
    if (OnStructuralChange)
        OnStructuralChange(this);
}

// The scene is remembered at registration: a camera on its way out may have left it already.
void TGLSceneBuffer::RegisterWithCameraScene() {
    TGLScene* scene = FCamera->Scene();
    if (scene != FRegisteredScene)
        UnregisterFromScene();
    FRegisteredScene = scene;
    scene->AddBuffer(this);
}

void TGLSceneBuffer::UnregisterFromScene() {
    if (FRegisteredScene)
        FRegisteredScene->RemoveBuffer(this);
    FRegisteredScene = nullptr;
}

void TGLSceneBuffer::ForgetCamera() {
    UnregisterFromScene();
    FCamera = nullptr;
}

void TGLSceneBuffer::SetCamera(TGLCamera* camera) {
    if (camera == FCamera)
        return;
    ForgetCamera();
    if (camera && camera->Scene()) {
        FCamera = camera;
        FCamera->TransformationChanged();
    }
    NotifyChange(this);
}

// --- TGLSceneBuffer: the context
// -------------------------------------------------------------------

void TGLSceneBuffer::PrepareContextSettings(TGLContext& context) const {
    TGLRCOptions options;
    if (FContextOptions.Contains(roDoubleBuffer))
        options.Include(DoubleBuffered);
    if (FContextOptions.Contains(roStereo))
        options.Include(Stereo);
    context.SetCreationOptions(options);
    context.SetColorBits(FContextOptions.Contains(roNoColorBuffer) ? 0 : ColorBitsFor(FColorDepth));
    context.SetDepthBits(DepthBitsFor(FDepthPrecision));
    context.SetStencilBits(FContextOptions.Contains(roStencilBuffer) ? 8 : 0);
    context.SetAlphaBits(FContextOptions.Contains(roDestinationAlpha) ? 8 : 0);
    context.SetAccumBits(FAccumBufferBits);
    context.SetAuxBuffers(0);
    context.SetAntiAliasing(FAntiAliasing);
}

void TGLSceneBuffer::CreateRenderingContext(HDC device, bool memoryContext) {
    DestroyRenderingContext();
    TFlagScope rendering(FRendering);
    std::unique_ptr<TGLContext> context =
        GLContextManager() ? GLContextManager()->CreateContext() : nullptr;
    if (!context)
        throw Exception("Failed to create RenderingContext.");
    PrepareContextSettings(*context);
    if (OnPrepareContext)
        OnPrepareContext(this);
    if (memoryContext)
        context->CreateOffscreen(device, FViewport.Width, FViewport.Height);
    else
        context->CreateForDevice(device);
    FRenderingContext = std::move(context);
    InitializeContext();
}

void TGLSceneBuffer::InitializeContext() {
    TGLCurrentContextScope current(*FRenderingContext);
    if (!GL_VERSION_1_1)
        throw EOpenGLError("Need at least OpenGL version 1.1");
    // A driver takes its working memory with its first calls and does not survive going
    // without: a context with too little address space left over is not used at all.
    if (!AddressSpaceAvailable(DriverStartBytes))
        throw EOutOfMemory(SOutOfMemory);
    glViewport(0, 0, FViewport.Width, FViewport.Height);
    SetupRenderingContext();
    const TVector background = ConvertWinColor(FBackgroundColor, 1.0f);
    glClearColor(background[0], background[1], background[2], background[3]);
}

void TGLSceneBuffer::DestroyRenderingContext() {
    if (!FRenderingContext)
        return;
    FRenderingContext.reset();
    UnregisterFromScene();
}

void TGLSceneBuffer::ResizeViewport(int width, int height) {
    FViewport.Width = std::max(width, 1);
    FViewport.Height = std::max(height, 1);
    if (!FRenderingContext)
        return;
    TGLCurrentContextScope current(*FRenderingContext);
    glViewport(0, 0, FViewport.Width, FViewport.Height);
}

// --- TGLSceneBuffer: a frame
// -----------------------------------------------------------------------

bool TGLSceneBuffer::OwnerEventsEnabled() const {
    return FOwnerComponent && !FOwnerComponent->ComponentState().Contains(csDesigning);
}

void TGLSceneBuffer::RenderFrame() {
    if (FRendering || !FRenderingContext)
        return;
    const int64_t startCounter = Counter();
    if (FCamera && FCamera->Scene()) {
        FCamera->AbsoluteMatrix();
        RegisterWithCameraScene();
    }
    TFlagScope rendering(FRendering);
    {
        TGLCurrentContextScope current(*FRenderingContext);
        RenderWithContextCurrent(startCounter);
    }
    // Still flagged as rendering: what this event changes asks for no new frame.
    if (AfterRender && OwnerEventsEnabled())
        AfterRender(this);
}

void TGLSceneBuffer::RenderWithContextCurrent(int64_t startCounter) {
    if (FFrameCount == 0)
        FFirstPerfCounter = Counter();
    FRenderDpi = 96;
    ClearGLErrors();
    SetupRenderingContext();
    const TVector background = ConvertWinColor(FBackgroundColor, FBackgroundAlpha);
    glClearColor(background[0], background[1], background[2], background[3]);
    ClearBuffers();
    CheckGLError();
    RenderScene(FRenderDpi, 0, nullptr);
    CheckGLError();
    if (!FContextOptions.Contains(roNoSwapBuffers))
        FRenderingContext->NativeSwapBuffers();
    ++FFrameCount;
    UpdateFrameStatistics(startCounter);
    CheckGLError();
    if (std::exchange(FFrameOutOfMemory, false))
        throw EOutOfMemory(SOutOfMemory);
}

void TGLSceneBuffer::UpdateFrameStatistics(int64_t startCounter) {
    const int64_t now = Counter();
    const auto frequency = static_cast<double>(CounterFrequency());
    FLastFrameTime = static_cast<double>(now - startCounter) / frequency;
    if (now != FFirstPerfCounter)
        FFramesPerSecond = static_cast<float>(FFrameCount * frequency /
                                              static_cast<double>(now - FFirstPerfCounter));
}

void TGLSceneBuffer::RenderScene(int dpi, uint8_t drawPass, TGLBaseSceneObject* baseObject) {
    PrepareMatrices(FViewport, dpi, nullptr);
    SelectTexCoordNone();
    SelectTexCoordUnit0();
    if (ViewerBeforeRender)
        ViewerBeforeRender();
    if (BeforeRender && OwnerEventsEnabled())
        BeforeRender(this);
    if (FCamera && FCamera->Scene()) {
        GLint maxLights = 0;
        glGetIntegerv(GL_MAX_LIGHTS, &maxLights);
        FCamera->Scene()->SetupLights(maxLights);
        if (FFogEnable) {
            glEnable(GL_FOG);
            FFogEnvironment->ApplyFog();
        } else {
            glDisable(GL_FOG);
        }
        FCamera->Scene()->RenderSceneObjects(*this, FViewport.Width, FViewport.Height, drawPass,
                                             baseObject);
    }
    if (PostRender && OwnerEventsEnabled())
        PostRender(this);
    Assert(FModelViewStack.empty(), "Unbalance Push/PopModelViewMatrix.");
}

void TGLSceneBuffer::SetCapability(TGLCapability capability, bool on) {
    if (on) {
        FStateCache->Enable(capability);
        glEnable(CapabilityToGL(capability));
    } else {
        FStateCache->Disable(capability);
        glDisable(CapabilityToGL(capability));
    }
}

void TGLSceneBuffer::SetupRenderingContext() {
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, FAmbientColor->AsAddress());
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, FContextOptions.Contains(roTwoSideLighting) ? 1 : 0);
    SetCapability(capNormalize, true);
    SetCapability(capDepthTest, FDepthTest);
    SetCapability(capCullFace, FFaceCulling);
    SetCapability(capLighting, FLighting);
    SetCapability(capFog, FFogEnable);
    GLint blueBits = 0;
    glGetIntegerv(GL_BLUE_BITS, &blueBits);
    SetCapability(capDither, blueBits < 8);
    glDepthFunc(GL_LESS);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glShadeModel(FShadeModel == smFlat ? GL_FLAT : GL_SMOOTH);
}

void TGLSceneBuffer::ClearBuffers() {
    GLbitfield mask = GL_DEPTH_BUFFER_BIT;
    if (!FContextOptions.Contains(roNoColorBuffer) &&
        !FContextOptions.Contains(roNoColorBufferClear))
        mask |= GL_COLOR_BUFFER_BIT;
    if (FContextOptions.Contains(roStencilBuffer))
        mask |= GL_STENCIL_BUFFER_BIT;
    glClear(mask);
}

void TGLSceneBuffer::PrepareMatrices(const TRectangle& viewport, int dpi,
                                     const RECT* pickRectangle) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (pickRectangle) {
        const RECT& r = *pickRectangle;
        GLint view[4] = {viewport.Left, viewport.Top, viewport.Width, viewport.Height};
        gluPickMatrix((r.left + r.right) / 2, viewport.Height - (r.top + r.bottom) / 2,
                      std::abs(r.right - r.left), std::abs(r.bottom - r.top), view);
    }
    FBaseProjectionMatrix = ReadMatrix(GL_PROJECTION_MATRIX);
    if (FCamera) {
        FCamera->ApplyPerspective(viewport, viewport.Width, viewport.Height, dpi);
        FProjectionMatrix = ReadMatrix(GL_PROJECTION_MATRIX);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (FCamera) {
        if (FCamera->Scene())
            FCamera->Scene()->SetCurrentCamera(FCamera);
        FCamera->ApplyView();
        FCameraAbsolutePosition = FCamera->AbsolutePosition();
    }
    FModelViewMatrix = ReadMatrix(GL_MODELVIEW_MATRIX);
}

void TGLSceneBuffer::PushModelViewMatrix(const TMatrix& matrix) {
    FModelViewStack.push_back(FModelViewMatrix);
    FModelViewMatrix = matrix;
}

void TGLSceneBuffer::PopModelViewMatrix() {
    Assert(!FModelViewStack.empty(), "Unbalanced PopModelViewMatrix");
    FModelViewMatrix = FModelViewStack.back();
    FModelViewStack.pop_back();
}
