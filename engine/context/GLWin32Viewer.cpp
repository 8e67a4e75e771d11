#include "engine/context/GLWin32Viewer.h"

#include "engine/context/OpenGL1x.h"
#include "platform/win32/WinUser.h"

#include <algorithm>

TGLSceneViewer::TGLSceneViewer(TComponent* owner)
    : TWinControl(owner), FIsOpenGLAvailable(LoadOpenGLLibraries()) {
    SetControlStyle({csCaptureMouse, csClickEvents, csDoubleClicks, csOpaque});
    if (DesignMode())
        SetControlStyle(ControlStyle() + TControlStyle{csFramed});
    SetBounds(Left(), Top(), 100, 100);
    FVSync = vsmNoSync;
    FBuffer = std::make_unique<TGLSceneBuffer>(this);
    FBuffer->ViewerBeforeRender = [this] { DoBeforeRender(); };
    FBuffer->OnChange = [this](TObject* sender) { DoBufferChange(sender); };
    FBuffer->OnStructuralChange = [this](TObject* sender) { DoBufferStructuralChange(sender); };
}

TGLSceneViewer::~TGLSceneViewer() {
    // The window goes before the buffer it draws with.
    DestroyHandle();
    FBuffer.reset();
}

void TGLSceneViewer::SetBuffer(const TGLSceneBuffer* buffer) {
    if (buffer && buffer != FBuffer.get())
        FBuffer->Assign(buffer);
}

void TGLSceneViewer::Loaded() {
    TWinControl::Loaded();
    HandleNeeded();
}

void TGLSceneViewer::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    params.ClassStyle |= CS_OWNDC;
}

void TGLSceneViewer::CreateWnd() {
    TWinControl::CreateWnd();
    if (!FIsOpenGLAvailable)
        return;
    FBuffer->ResizeViewport(Width(), Height());
    FOwnDC = GetDC(Handle());
    FBuffer->CreateRenderingContext(FOwnDC, false);
}

void TGLSceneViewer::ReleaseRenderingResources() {
    FBuffer->DestroyRenderingContext();
    if (FOwnDC) {
        ReleaseDC(Handle(), FOwnDC);
        FOwnDC = nullptr;
    }
}

void TGLSceneViewer::DestroyWnd() {
    ReleaseRenderingResources();
    TWinControl::DestroyWnd();
}

void TGLSceneViewer::WMDestroy(TMessage& message) {
    ReleaseRenderingResources();
    TWinControl::WMDestroy(message);
}

void TGLSceneViewer::WMEraseBkgnd(TMessage& message) {
    if (FIsOpenGLAvailable)
        message.Result = 1;
    else
        TWinControl::WMEraseBkgnd(message);
}

void TGLSceneViewer::WMSize(TMessage& message) {
    TWinControl::WMSize(message);
    FBuffer->ResizeViewport(LOWORD(static_cast<uintptr_t>(message.LParam)),
                            HIWORD(static_cast<uintptr_t>(message.LParam)));
}

// A move of the window on the screen is followed by one resize of the viewport.
void TGLSceneViewer::PostResizeAfterMove() {
    POINT origin{0, 0};
    ClientToScreen(Handle(), &origin);
    if (origin.x == FLastScreenPos.x && origin.y == FLastScreenPos.y)
        return;
    if (FBuffer->HasRenderingContext())
        PostMessage(Handle(), WM_SIZE, SIZE_RESTORED,
                    static_cast<LPARAM>(Width() + (static_cast<int64_t>(Height()) << 16)));
    FLastScreenPos = origin;
}

void TGLSceneViewer::WMPaint(TMessage& message) {
    PostResizeAfterMove();
    PAINTSTRUCT paint{};
    BeginPaint(Handle(), &paint);
    TFinally endPaint([this, &paint, &message] {
        EndPaint(Handle(), &paint);
        message.Result = 0;
    });
    if (FIsOpenGLAvailable && Width() > 0 && Height() > 0)
        FBuffer->RenderFrame();
}

void TGLSceneViewer::CMMouseEnter(TMessage& message) {
    TWinControl::CMMouseEnter(message);
    FMouseInControl = true;
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TGLSceneViewer::CMMouseLeave(TMessage& message) {
    TWinControl::CMMouseLeave(message);
    FMouseInControl = false;
    if (OnMouseLeave)
        OnMouseLeave(this);
}

void TGLSceneViewer::DoBeforeRender() {
    ApplySwapInterval();
}

void TGLSceneViewer::ApplySwapInterval() {
    if (!WGL_EXT_swap_control || !wglGetSwapIntervalEXT || !wglSwapIntervalEXT)
        return;
    const int wanted = FVSync == vsmSync ? 1 : 0;
    if (wglGetSwapIntervalEXT() != wanted)
        wglSwapIntervalEXT(wanted);
}

void TGLSceneViewer::DoBufferChange(TObject*) {
    if (!FBuffer->Rendering() && !FBuffer->Frozen() && HandleAllocated())
        InvalidateRect(Handle(), nullptr, FALSE);
}

void TGLSceneViewer::DoBufferStructuralChange(TObject*) {
    RecreateWnd();
}

void TGLSceneViewer::SetCamera(TGLCamera* value) {
    TGLCamera* old = FBuffer->Camera();
    if (value == old)
        return;
    if (old)
        RemoveFreeNotification(old);
    if (value)
        FreeNotification(value);
    FBuffer->SetCamera(value);
}

void TGLSceneViewer::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && FBuffer && component == FBuffer->Camera())
        SetCamera(nullptr);
    TWinControl::Notification(component, operation);
}

// The field of view lives in the camera's focal length, across the control's shorter side.
float TGLSceneViewer::FieldOfView() const {
    const TGLCamera* camera = Camera();
    return camera ? camera->FieldOfViewAcross(static_cast<float>(std::min(Width(), Height()))) : 0;
}

void TGLSceneViewer::SetFieldOfView(float degrees) {
    if (TGLCamera* camera = Camera())
        camera->SetFieldOfViewAcross(degrees, static_cast<float>(std::min(Width(), Height())));
}
