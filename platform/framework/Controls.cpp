#include "platform/framework/Controls.h"

#include "platform/framework/OSError.h"
#include "platform/win32/WinUser.h"

#include <algorithm>

namespace {

// The control whose window is being created: its first messages (WM_CREATE and friends) arrive
// before CreateWindowEx returns the handle that would let us find it.
thread_local TWinControl* CreatingControl = nullptr;

bool IsMouseMessage(UINT message) {
    return message == WM_MOUSEMOVE || (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONUP);
}

} // namespace

TShiftState KeysToShiftState(WPARAM keys) {
    TShiftState shift;
    if (keys & MK_SHIFT)
        shift.Include(ssShift);
    if (keys & MK_CONTROL)
        shift.Include(ssCtrl);
    if (keys & MK_LBUTTON)
        shift.Include(ssLeft);
    if (keys & MK_RBUTTON)
        shift.Include(ssRight);
    if (keys & MK_MBUTTON)
        shift.Include(ssMiddle);
    return shift;
}

// --- TControl
// --------------------------------------------------------------------------------------

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
    SetParent(nullptr);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
}

void TControl::UpdateSize(int width, int height) {
    FWidth = width;
    FHeight = height;
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == FParent)
        return;
    if (FParent)
        FParent->RemoveControl(this);
    FParent = parent;
    if (FParent)
        FParent->InsertControl(this);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove)
        OnMouseMove(this, shift, x, y);
}

// --- TWinControl
// -----------------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    DestroyHandle();
    for (TControl* child : std::vector<TControl*>(FControls))
        child->SetParent(nullptr);
}

void TWinControl::InsertControl(TControl* control) {
    FControls.push_back(control);
}

void TWinControl::RemoveControl(TControl* control) {
    FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
}

HWND TWinControl::Handle() {
    HandleNeeded();
    return FHandle;
}

void TWinControl::HandleNeeded() {
    if (FHandle)
        return;
    if (Parent())
        Parent()->HandleNeeded();
    if (FHandle)
        return; // the parent's creation made ours too
    CreateWnd();
    CreateChildHandles();
}

void TWinControl::CreateChildHandles() {
    for (TControl* child : std::vector<TControl*>(FControls))
        if (auto* windowed = dynamic_cast<TWinControl*>(child))
            windowed->HandleNeeded();
}

void TWinControl::DestroyHandle() {
    if (FHandle)
        DestroyWnd();
}

void TWinControl::RecreateWnd() {
    if (!FHandle)
        return;
    DestroyHandle();
    HandleNeeded();
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.Caption.clear();
    params.X = Left();
    params.Y = Top();
    params.Width = Width();
    params.Height = Height();
    if (Parent()) {
        params.Style = WS_CHILD | WS_CLIPSIBLINGS | (Visible() ? WS_VISIBLE : 0);
        params.WndParent = Parent()->Handle();
    } else {
        params.Style = WS_OVERLAPPEDWINDOW;
        params.WndParent = nullptr;
    }
    params.WinClassName = ClassName();
}

void TWinControl::RegisterWindowClass(const TCreateParams& params) {
    WNDCLASSEX existing{};
    if (GetClassInfoEx(nullptr, params.WinClassName.c_str(), &existing))
        return;
    WNDCLASSEX windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = params.ClassStyle;
    windowClass.lpfnWndProc = &CALLBACK_WndProc;
    windowClass.lpszClassName = params.WinClassName.c_str();
    if (!RegisterClassEx(&windowClass))
        RaiseLastOSError();
}

void TWinControl::CreateWnd() {
    TCreateParams params;
    CreateParams(params);
    RegisterWindowClass(params);
    CreatingControl = this;
    HWND window = CreateWindowEx(
        params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(), params.Style, params.X,
        params.Y, params.Width, params.Height, params.WndParent, nullptr, nullptr, nullptr);
    CreatingControl = nullptr;
    if (!window)
        RaiseLastOSError();
    FHandle = window;
    SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<intptr_t>(this));
}

void TWinControl::DestroyWnd() {
    DestroyWindow(FHandle); // WM_NCDESTROY forgets the handle
    FHandle = nullptr;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    TControl::SetBounds(left, top, width, height);
    if (FHandle)
        SetWindowPos(FHandle, left, top, width, height);
}

void TWinControl::Invalidate() {
    if (FHandle)
        InvalidateRect(FHandle, nullptr, !ControlStyle().Contains(csOpaque));
}

LRESULT TWinControl::Perform(UINT message, WPARAM wParam, LPARAM lParam) {
    TMessage m{message, wParam, lParam, 0};
    WndProc(m);
    return m.Result;
}

LRESULT TWinControl::CALLBACK_WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* control = reinterpret_cast<TWinControl*>(GetWindowLongPtr(window, GWLP_USERDATA));
    if (!control && CreatingControl) {
        control = CreatingControl;
        control->FHandle = window;
        SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<intptr_t>(control));
    }
    if (!control)
        return DefWindowProc(window, message, wParam, lParam);
    TMessage m{message, wParam, lParam, 0};
    control->WndProc(m);
    return m.Result;
}

void TWinControl::WndProc(TMessage& message) {
    switch (message.Msg) {
    case WM_PAINT:
        WMPaint(message);
        break;
    case WM_ERASEBKGND:
        WMEraseBkgnd(message);
        break;
    case WM_SIZE:
        WMSize(message);
        break;
    case WM_DESTROY:
        WMDestroy(message);
        break;
    case WM_CHAR:
        WMChar(message);
        break;
    case WM_MOUSEENTER:
        CMMouseEnter(message);
        break;
    case WM_MOUSELEAVE:
        CMMouseLeave(message);
        break;
    case WM_NCDESTROY: {
        HWND window = FHandle;
        DefaultHandler(message);
        SetWindowLongPtr(window, GWLP_USERDATA, 0);
        FHandle = nullptr;
        break;
    }
    default:
        if (IsMouseMessage(message.Msg))
            MouseMessage(message);
        else
            DefaultHandler(message);
    }
}

void TWinControl::DefaultHandler(TMessage& message) {
    message.Result = DefWindowProc(FHandle, message.Msg, message.WParam, message.LParam);
}

void TWinControl::WMPaint(TMessage& message) {
    DefaultHandler(message);
}

void TWinControl::WMEraseBkgnd(TMessage& message) {
    FillClientRect(FHandle, ColorToRGB(Color()));
    message.Result = 1;
}

void TWinControl::WMSize(TMessage& message) {
    DefaultHandler(message);
    UpdateSize(LOWORD(static_cast<uintptr_t>(message.LParam)),
               HIWORD(static_cast<uintptr_t>(message.LParam)));
}

void TWinControl::WMDestroy(TMessage& message) {
    DefaultHandler(message);
}

void TWinControl::WMChar(TMessage& message) {
    DefaultHandler(message);
}

void TWinControl::CMMouseEnter(TMessage& message) {
    DefaultHandler(message);
}

void TWinControl::CMMouseLeave(TMessage& message) {
    DefaultHandler(message);
}

void TWinControl::MouseMessage(TMessage& message) {
    const int x = GET_X_LPARAM(message.LParam);
    const int y = GET_Y_LPARAM(message.LParam);
    const TShiftState shift = KeysToShiftState(message.WParam);
    auto down = [&](TMouseButton button) {
        if (ControlStyle().Contains(csCaptureMouse))
            SetCapture(FHandle);
        MouseDown(button, shift, x, y);
    };
    auto up = [&](TMouseButton button) {
        if (GetCapture() == FHandle)
            ReleaseCapture();
        MouseUp(button, shift, x, y);
    };
    switch (message.Msg) {
    case WM_MOUSEMOVE:
        MouseMove(shift, x, y);
        break;
    case WM_LBUTTONDOWN:
        down(mbLeft);
        break;
    case WM_RBUTTONDOWN:
        down(mbRight);
        break;
    case WM_MBUTTONDOWN:
        down(mbMiddle);
        break;
    case WM_LBUTTONUP:
        up(mbLeft);
        break;
    case WM_RBUTTONUP:
        up(mbRight);
        break;
    case WM_MBUTTONUP:
        up(mbMiddle);
        break;
    default:
        break;
    }
    message.Result = 0;
}
