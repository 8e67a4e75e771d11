// TGLSceneViewer: the window control that shows a scene. It owns one scene buffer, hands it the
// window's device context, forwards size changes and renders a frame on every WM_PAINT; a
// change in the scene only invalidates the window.
#pragma once

#include "engine/scene/SceneGraphBuffer.h"
#include "platform/framework/Controls.h"

#include <memory>

enum TVSyncMode : uint8_t { vsmSync, vsmNoSync };

class TGLSceneViewer : public TWinControl {
public:
    explicit TGLSceneViewer(TComponent* owner);
    ~TGLSceneViewer() override;
    const char* ClassName() const override { return "TGLSceneViewer"; }

    TGLSceneBuffer* Buffer() const { return FBuffer.get(); }
    // Copies the given buffer's settings into the owned one.
    void SetBuffer(const TGLSceneBuffer* buffer);
    TVSyncMode VSync() const { return FVSync; }
    void SetVSync(TVSyncMode value) { FVSync = value; }
    bool IsOpenGLAvailable() const { return FIsOpenGLAvailable; }
    bool MouseInControl() const { return FMouseInControl; }
    HDC OwnDC() const { return FOwnDC; }

    TGLCamera* Camera() const { return FBuffer->Camera(); }
    // The buffer's camera; the viewer hears of the camera's destruction and lets it go.
    void SetCamera(TGLCamera* value);
    // The field of view across the control's shorter side, in degrees; 0 without a camera.
    float FieldOfView() const;
    void SetFieldOfView(float degrees);

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    void Loaded() override;
    // The buffer's before-render hook: applies the VSync policy when the driver allows it.
    void ApplySwapInterval();

protected:
    // The buffer's camera going away leaves the viewer without one.
    void Notification(TComponent* component, TOperation operation) override;
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void DestroyWnd() override;
    void WMPaint(TMessage& message) override;
    void WMEraseBkgnd(TMessage& message) override;
    void WMSize(TMessage& message) override;
    void WMDestroy(TMessage& message) override;
    void CMMouseEnter(TMessage& message) override;
    void CMMouseLeave(TMessage& message) override;

    virtual void DoBufferChange(TObject* sender);
    virtual void DoBeforeRender();
    virtual void DoBufferStructuralChange(TObject* sender);

private:
    void ReleaseRenderingResources();
    void PostResizeAfterMove();

    bool FIsOpenGLAvailable;
    std::unique_ptr<TGLSceneBuffer> FBuffer;
    TVSyncMode FVSync = vsmNoSync;
    HDC FOwnDC = nullptr;
    bool FMouseInControl = false;
    POINT FLastScreenPos{0, 0};
};
