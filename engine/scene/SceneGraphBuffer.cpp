#include "engine/scene/SceneGraphBuffer.h"

#include "engine/context/OpenGL1x.h"
#include "engine/materials/GLTexture.h"

#include <algorithm>

namespace {

// Sets a flag for the scope's life, also when it ends by an exception.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

// Keeps a context current for the scope's life.
class TCurrentScope {
public:
    explicit TCurrentScope(TGLContext& context) : FContext(context) { FContext.MakeCurrent(); }
    ~TCurrentScope() noexcept(false) {
        if (std::uncaught_exceptions() > FExceptions) {
            try {
                FContext.ReleaseCurrent();
            } catch (const Exception&) {
            }
        } else {
            FContext.ReleaseCurrent();
        }
    }
    TCurrentScope(const TCurrentScope&) = delete;
    TCurrentScope& operator=(const TCurrentScope&) = delete;

private:
    TGLContext& FContext;
    int FExceptions = std::uncaught_exceptions();
};

int32_t ColorBitsFor(TGLColorDepth depth) {
    switch (depth) {
    case cd8bits: return 8;
    case cd16bits: return 16;
    case cdFloat64bits: return 64;
    case cdFloat128bits: return 128;
    case cdDefault:
    case cd24bits: break;
    }
    return 24;
}

int32_t DepthBitsFor(TGLDepthPrecision precision) {
    switch (precision) {
    case dp16bits: return 16;
    case dp32bits: return 32;
    case dpDefault:
    case dp24bits: break;
    }
    return 24;
}

} // namespace

TGLSceneBuffer::TGLSceneBuffer(TComponent* owner) : FOwner(owner) {}

TGLSceneBuffer::~TGLSceneBuffer() {
    FCamera = nullptr;
    try {
        DestroyRenderingContext();
    } catch (const Exception&) {
        // The context is gone either way; a destructor has nobody to tell.
    }
}

void TGLSceneBuffer::SetCamera(TGLCamera* value) {
    if (value == FCamera)
        return;
    FCamera = value;
    NotifyChange(this);
}

void TGLSceneBuffer::SetBackgroundColor(TColor value) {
    if (value == FBackgroundColor)
        return;
    FBackgroundColor = value;
    NotifyChange(this);
}

#define SKYVIEW_STRUCTURAL_SETTER(Name, Type)                                                      \
    void TGLSceneBuffer::Set##Name(Type value) {                                                   \
        if (value == F##Name)                                                                      \
            return;                                                                                \
        F##Name = value;                                                                           \
        StructuralChange();                                                                        \
    }
SKYVIEW_STRUCTURAL_SETTER(ContextOptions, TContextOptions)
SKYVIEW_STRUCTURAL_SETTER(AccumBufferBits, int32_t)
SKYVIEW_STRUCTURAL_SETTER(AntiAliasing, TGLAntiAliasing)
SKYVIEW_STRUCTURAL_SETTER(DepthPrecision, TGLDepthPrecision)
SKYVIEW_STRUCTURAL_SETTER(ColorDepth, TGLColorDepth)
#undef SKYVIEW_STRUCTURAL_SETTER

void TGLSceneBuffer::NotifyChange(TObject*) {
    if (!FRendering && OnChange)
        OnChange(this);
}

void TGLSceneBuffer::StructuralChange() {
    if (OnStructuralChange)
        OnStructuralChange(this);
}

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
    TCurrentScope current(*FRenderingContext);
    if (!GL_VERSION_1_1)
        throw EOpenGLError("Need at least OpenGL version 1.1");
    glViewport(0, 0, FViewport.Width, FViewport.Height);
    const TVector background = ConvertWinColor(FBackgroundColor, 1.0f);
    glClearColor(background[0], background[1], background[2], background[3]);
}

void TGLSceneBuffer::DestroyRenderingContext() {
    if (!FRenderingContext)
        return;
    std::unique_ptr<TGLContext> context = std::move(FRenderingContext);
    context.reset();
}

void TGLSceneBuffer::ResizeViewport(int width, int height) {
    FViewport.Width = std::max(width, 1);
    FViewport.Height = std::max(height, 1);
    if (!FRenderingContext)
        return;
    TCurrentScope current(*FRenderingContext);
    glViewport(0, 0, FViewport.Width, FViewport.Height);
}

bool TGLSceneBuffer::OwnerEventsEnabled() const {
    return FOwner && !FOwner->ComponentState().Contains(csDesigning);
}

void TGLSceneBuffer::RenderFrame() {
    if (FRendering || !FRenderingContext)
        return;
    {
        TFlagScope rendering(FRendering);
        {
            TCurrentScope current(*FRenderingContext);
            RenderWithContextCurrent();
        }
        if (AfterRender && OwnerEventsEnabled())
            AfterRender(this);
    }
}

void TGLSceneBuffer::RenderWithContextCurrent() {
    const TVector background = ConvertWinColor(FBackgroundColor, FBackgroundAlpha);
    ClearGLErrors();
    glClearColor(background[0], background[1], background[2], background[3]);
    GLbitfield mask = GL_DEPTH_BUFFER_BIT;
    if (!FContextOptions.Contains(roNoColorBuffer) && !FContextOptions.Contains(roNoColorBufferClear))
        mask |= GL_COLOR_BUFFER_BIT;
    if (FContextOptions.Contains(roStencilBuffer))
        mask |= GL_STENCIL_BUFFER_BIT;
    glClear(mask);
    CheckGLError();
    if (ViewerBeforeRender)
        ViewerBeforeRender();
    if (BeforeRender && OwnerEventsEnabled())
        BeforeRender(this);
    if (PostRender && OwnerEventsEnabled())
        PostRender(this);
    CheckGLError();
    if (!FContextOptions.Contains(roNoSwapBuffers))
        FRenderingContext->NativeSwapBuffers();
    ++FFrameCount;
    CheckGLError();
}
