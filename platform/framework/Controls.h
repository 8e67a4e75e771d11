// Controls: TControl (position, size, parent, visibility, mouse events) and TWinControl, a
// control with a window of its own whose messages arrive through its virtual WndProc.
#pragma once

#include "platform/framework/Classes.h"
#include "platform/framework/Graphics.h"
#include "platform/win32/WinTypes.h"

#include <string>

enum TShiftStateFlag : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateFlag>;
enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAnchorKind : uint8_t { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind>;
enum TControlStyleFlag : uint8_t {
    csCaptureMouse,
    csClickEvents,
    csOpaque,
    csDoubleClicks,
    csFramed
};
using TControlStyle = TSet<TControlStyleFlag>;

using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

class TWinControl;

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;
    const char* ClassName() const override { return "TControl"; }

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int value) { SetBounds(value, FTop, FWidth, FHeight); }
    void SetTop(int value) { SetBounds(FLeft, value, FWidth, FHeight); }
    void SetWidth(int value) { SetBounds(FLeft, FTop, value, FHeight); }
    void SetHeight(int value) { SetBounds(FLeft, FTop, FWidth, value); }
    virtual void SetBounds(int left, int top, int width, int height);

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* parent);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value) { FVisible = value; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value) { FEnabled = value; }
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign value) { FAlign = value; }
    TAnchors Anchors() const { return FAnchors; }
    void SetAnchors(TAnchors value) { FAnchors = value; }
    TControlStyle ControlStyle() const { return FControlStyle; }
    void SetControlStyle(TControlStyle value) { FControlStyle = value; }
    TColor Color() const { return FColor; }
    void SetColor(TColor value) { FColor = value; }
    bool DesignMode() const { return ComponentState().Contains(csDesigning); }

    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

protected:
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    // The size changed from outside (the window manager).
    void UpdateSize(int width, int height);

private:
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    TWinControl* FParent = nullptr;
    bool FVisible = true;
    bool FEnabled = true;
    TAlign FAlign = alNone;
    TAnchors FAnchors{akLeft, akTop};
    TControlStyle FControlStyle;
    TColor FColor = clBtnFace;
};

// What a control asks for when its window is made.
struct TCreateParams {
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    HWND WndParent = nullptr;
    UINT ClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    std::string WinClassName;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;
    const char* ClassName() const override { return "TWinControl"; }

    HWND Handle();
    bool HandleAllocated() const { return FHandle != nullptr; }
    void HandleNeeded();
    void DestroyHandle();
    void RecreateWnd();
    void SetBounds(int left, int top, int width, int height) override;
    void Invalidate();

    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl* Controls(int index) const { return FControls.at(index); }

    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool value) { FTabStop = value; }

    // Sends a message to the control's window procedure directly.
    LRESULT Perform(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    friend class TControl;
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    virtual void DestroyWnd();
    virtual void WndProc(TMessage& message);
    void DefaultHandler(TMessage& message);

    virtual void WMPaint(TMessage& message);
    virtual void WMEraseBkgnd(TMessage& message);
    virtual void WMSize(TMessage& message);
    virtual void WMDestroy(TMessage& message);
    virtual void WMChar(TMessage& message);
    virtual void CMMouseEnter(TMessage& message);
    virtual void CMMouseLeave(TMessage& message);

private:
    static LRESULT CALLBACK_WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void CreateChildHandles();
    void RegisterWindowClass(const TCreateParams& params);
    void MouseMessage(TMessage& message);
    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);

    HWND FHandle = nullptr;
    bool FTabStop = false;
    std::vector<TControl*> FControls; // children (not owned: the owner frees them)
};

TShiftState KeysToShiftState(WPARAM keys);
