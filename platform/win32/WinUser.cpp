// The window manager's own side: classes, the window table, messages and hooks, painting, device
// contexts, errors and system services. What touches the X server is in WinX11.cpp.
#include "platform/win32/WinUser.h"

#include "platform/framework/SysUtils.h"
#include "platform/win32/WinUserState.h"
#include "platform/win32/WinX11.h"

#include <algorithm>
#include <ctime>
#include <unistd.h>

namespace {

// Handles are tagged counters, so a window handle is never a valid DC or hook handle.
constexpr uintptr_t WindowTag = uintptr_t(1) << 40;
constexpr uintptr_t DCTag = uintptr_t(2) << 40;
constexpr uintptr_t HookTag = uintptr_t(3) << 40;
// Win32ColorBrush's handles: the colour with this bit above it.
constexpr uintptr_t ColorBrushTag = uintptr_t(1) << 24;
constexpr int DefaultWidth = 640;
constexpr int DefaultHeight = 480;

template <typename H> H ToHandle(uintptr_t value) {
    return reinterpret_cast<H>(value);
}
template <typename H> uintptr_t FromHandle(H handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

DWORD& LastErrorSlot() {
    thread_local DWORD code = ERROR_SUCCESS;
    return code;
}

template <typename T> T Fail(DWORD code, T result) {
    SetLastError(code);
    return result;
}

TWindowManager& WM() {
    return TWindowManager::Instance();
}

std::string ClassKey(LPCSTR name) {
    return LowerCase(name ? name : "");
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

RECT Intersect(const RECT& a, const RECT& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

RECT Union(const RECT& a, const RECT& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

RECT ClientRectOf(const TWindowRecord& r) {
    return {0, 0, r.Width, r.Height};
}

// ---- Windows -------------------------------------------------------------------------------

bool IsAncestor(HWND ancestor, HWND window) {
    const TWindowRecord* r = WM().FindWindow(window);
    while (r && r->Parent) {
        if (r->Parent == ancestor)
            return true;
        r = WM().FindWindow(r->Parent);
    }
    return false;
}

bool ShownOnScreen(const TWindowRecord& record) {
    for (const TWindowRecord* r = &record; r; r = WM().FindWindow(r->Parent))
        if (!r->Visible)
            return false;
    return true;
}

// The window and its descendants, parents before their children.
void CollectSubtree(HWND window, std::vector<HWND>& out) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return;
    out.push_back(window);
    const std::vector<HWND> children = r->Children;
    for (HWND child : children)
        CollectSubtree(child, out);
}

LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r || !r->Procedure)
        return 0;
    return r->Procedure(window, message, wParam, lParam);
}

bool Matches(const MSG& m, HWND window, UINT filterMin, UINT filterMax) {
    if (window && m.hwnd != window && !IsAncestor(window, m.hwnd))
        return false;
    return (filterMin == 0 && filterMax == 0) || (m.message >= filterMin && m.message <= filterMax);
}

// Drops what is queued for a window that is going away.
void DiscardMessagesFor(HWND window) {
    auto forWindow = [window](const MSG& m) { return m.hwnd == window; };
    auto& wm = WM();
    std::erase_if(wm.Posted, forWindow);
    std::erase_if(wm.Input, forWindow);
}

void FreeDCsOf(HWND window) {
    std::erase_if(WM().DCs, [window](const auto& entry) { return entry.second.Window == window; });
}

// Takes one window out of every table once its messages have been sent.
void RemoveWindowRecord(HWND window, bool destroyXWindow) {
    auto& wm = WM();
    TWindowRecord* r = wm.FindWindow(window);
    if (!r)
        return;
    // A child created while its ancestors were being destroyed goes with them, silently.
    const std::vector<HWND> children = r->Children;
    for (HWND child : children)
        RemoveWindowRecord(child, false);
    r = wm.FindWindow(window);
    if (!r)
        return;
    if (destroyXWindow)
        X11DestroyWindow(*r);
    else
        X11ForgetWindow(*r);
    if (TWindowRecord* parent = wm.FindWindow(r->Parent))
        std::erase(parent->Children, window);
    if (wm.Capture == window)
        wm.Capture = nullptr;
    DiscardMessagesFor(window);
    FreeDCsOf(window);
    wm.Windows.erase(FromHandle(window));
}

void InvalidateSubtree(HWND window) {
    std::vector<HWND> windows;
    CollectSubtree(window, windows);
    for (HWND w : windows)
        if (const TWindowRecord* r = WM().FindWindow(w); r && r->Visible)
            InvalidateRect(w, nullptr, TRUE);
}

// ---- Hooks ---------------------------------------------------------------------------------

void PurgeRemovedHooks() {
    auto& wm = WM();
    if (wm.HookDepth == 0)
        std::erase_if(wm.Hooks, [](const THookRecord& h) { return h.Removed; });
}

// Runs the chain from the hook at `start` downwards (towards the oldest).
LRESULT RunHookChain(int start, int code, WPARAM wParam, LPARAM lParam) {
    auto& wm = WM();
    int index = std::min(start, static_cast<int>(wm.Hooks.size()) - 1);
    while (index >= 0 && wm.Hooks[index].Removed)
        --index;
    if (index < 0)
        return 0;
    const HOOKPROC procedure = wm.Hooks[index].Procedure;
    const int savedCursor = wm.HookCursor;
    wm.HookCursor = index;
    ++wm.HookDepth;
    const LRESULT result = procedure(code, wParam, lParam);
    --wm.HookDepth;
    wm.HookCursor = savedCursor;
    PurgeRemovedHooks();
    return result;
}

void CallSentMessageHooks(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& wm = WM();
    if (wm.Hooks.empty())
        return;
    CWPSTRUCT info{lParam, wParam, message, window};
    // A hook that runs while another chain is under way starts a chain of its own.
    const int savedCursor = wm.HookCursor;
    wm.HookCursor = -1;
    RunHookChain(static_cast<int>(wm.Hooks.size()) - 1, HC_ACTION, 1,
                 reinterpret_cast<LPARAM>(&info));
    wm.HookCursor = savedCursor;
}

// ---- Messages ------------------------------------------------------------------------------

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return {window, message, wParam, lParam, Win32TickCount(), {0, 0}};
}

bool TakeFrom(std::deque<MSG>& queue, MSG* out, HWND window, UINT filterMin, UINT filterMax,
              bool remove) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Matches(*it, window, filterMin, filterMax))
            continue;
        *out = *it;
        if (remove)
            queue.erase(it);
        return true;
    }
    return false;
}

HWND WindowToPaint(HWND filter) {
    for (const auto& [key, r] : WM().Windows)
        if (r->UpdatePending && !r->Destroying && ShownOnScreen(*r) &&
            (!filter || r->Handle == filter || IsAncestor(filter, r->Handle)))
            return r->Handle;
    return nullptr;
}

bool PaintInRange(UINT filterMin, UINT filterMax) {
    return (filterMin == 0 && filterMax == 0) || (WM_PAINT >= filterMin && WM_PAINT <= filterMax);
}

enum class TFetch { Message, Quit, Nothing };

// One look at every source of messages, in the order they are delivered.
TFetch FetchMessage(MSG* out, HWND window, UINT filterMin, UINT filterMax, bool remove) {
    auto& wm = WM();
    X11DispatchPending();
    if (TakeFrom(wm.Posted, out, window, filterMin, filterMax, remove) ||
        TakeFrom(wm.Input, out, window, filterMin, filterMax, remove))
        return TFetch::Message;
    if (wm.QuitPending) {
        *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(wm.QuitCode), 0);
        if (remove)
            wm.QuitPending = false;
        return TFetch::Quit;
    }
    if (PaintInRange(filterMin, filterMax))
        if (HWND paint = WindowToPaint(window)) {
            *out = MakeMessage(paint, WM_PAINT, 0, 0);
            return TFetch::Message;
        }
    return TFetch::Nothing;
}

// ---- Device contexts -----------------------------------------------------------------------

HDC NewDC(const TDCRecord& record) {
    auto& wm = WM();
    const uintptr_t id = DCTag | wm.NextDC++;
    wm.DCs[id] = record;
    return ToHandle<HDC>(id);
}

HDC WindowDC(TWindowRecord& r) {
    if (!(r.ClassStyle & CS_OWNDC))
        return NewDC({OBJ_DC, r.Handle, true, false, 0, 0});
    if (!r.OwnDC)
        r.OwnDC = NewDC({OBJ_DC, r.Handle, true, true, 0, 0});
    return r.OwnDC;
}

void ReleaseWindowDC(HDC dc) {
    const TDCRecord* record = WM().FindDC(dc);
    if (record && record->WindowDC && !record->Private)
        WM().DCs.erase(FromHandle(dc));
}

// ---- System colours ------------------------------------------------------------------------

constexpr COLORREF Rgb(int r, int g, int b) {
    return static_cast<COLORREF>(r | (g << 8) | (b << 16));
}

constexpr COLORREF SystemColours[] = {
    Rgb(200, 200, 200), Rgb(0, 0, 0),       Rgb(153, 180, 209), Rgb(191, 205, 219),
    Rgb(240, 240, 240), Rgb(255, 255, 255), Rgb(100, 100, 100), Rgb(0, 0, 0),
    Rgb(0, 0, 0),       Rgb(0, 0, 0),       Rgb(180, 180, 180), Rgb(244, 247, 252),
    Rgb(171, 171, 171), Rgb(0, 120, 215),   Rgb(255, 255, 255), Rgb(240, 240, 240),
    Rgb(160, 160, 160), Rgb(109, 109, 109), Rgb(0, 0, 0),       Rgb(0, 0, 0),
    Rgb(255, 255, 255), Rgb(105, 105, 105), Rgb(227, 227, 227), Rgb(0, 0, 0),
    Rgb(255, 255, 225), Rgb(0, 0, 0),       Rgb(0, 102, 204),   Rgb(185, 209, 234),
    Rgb(215, 228, 242), Rgb(0, 120, 215),   Rgb(240, 240, 240)};
static_assert(std::size(SystemColours) == COLOR_MENUBAR + 1);

// The colour a class background brush stands for; false when it stands for none.
bool BackgroundColour(HBRUSH brush, COLORREF& colour) {
    const uintptr_t value = FromHandle(brush);
    if (value & ColorBrushTag) {
        colour = static_cast<COLORREF>(value & 0xFFFFFF);
        return value < (ColorBrushTag << 1);
    }
    if (value == 0 || value > std::size(SystemColours))
        return false;
    colour = SystemColours[value - 1];
    return true;
}

struct TErrorText {
    DWORD Code;
    const char* Text;
};

constexpr TErrorText ErrorTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_INVALID_HOOK_HANDLE, "Invalid hook handle."},
    {ERROR_TLW_WITH_WSCHILD, "Cannot create a top-level child window."},
    {ERROR_CANNOT_FIND_WND_CLASS, "Cannot find window class."},
    {ERROR_CLASS_ALREADY_EXISTS, "Class already exists."},
    {ERROR_CLASS_DOES_NOT_EXIST, "Class does not exist."},
    {ERROR_CLASS_HAS_WINDOWS, "Class still has open windows."},
    {ERROR_INVALID_INDEX, "Invalid index."},
    {ERROR_DC_NOT_FOUND, "Invalid device context (DC) handle."},
    {ERROR_INVALID_HOOK_FILTER, "Invalid hook procedure type."},
    {ERROR_INVALID_FILTER_PROC, "Invalid hook procedure."},
    {ERROR_INVALID_PIXEL_FORMAT, "The pixel format is invalid."},
    {ERROR_DISPLAY_NOT_AVAILABLE, "No X display is available."},
};

} // namespace

// ---- The tables ----------------------------------------------------------------------------

TWindowManager& TWindowManager::Instance() {
    static TWindowManager instance;
    return instance;
}

TWindowRecord* TWindowManager::FindWindow(HWND window) const {
    const auto it = Windows.find(FromHandle(window));
    return it == Windows.end() ? nullptr : it->second.get();
}

TDCRecord* TWindowManager::FindDC(HDC dc) {
    const auto it = DCs.find(FromHandle(dc));
    return it == DCs.end() ? nullptr : &it->second;
}

HWND Win32TopLevelOf(HWND window) {
    const TWindowRecord* r = WM().FindWindow(window);
    while (r && r->Parent)
        r = WM().FindWindow(r->Parent);
    return r ? r->Handle : nullptr;
}

void Win32PostInput(const MSG& message) {
    auto& queue = WM().Input;
    // Pointer motion is coalesced, as on Windows: only the latest position matters.
    if (message.message == WM_MOUSEMOVE && !queue.empty() && queue.back().message == WM_MOUSEMOVE &&
        queue.back().hwnd == message.hwnd && queue.back().wParam == message.wParam) {
        queue.back() = message;
        return;
    }
    queue.push_back(message);
}

void Win32SetGeometry(HWND window, int x, int y, int width, int height) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return;
    const bool moved = r->X != x || r->Y != y;
    const bool sized = r->Width != width || r->Height != height;
    r->X = x;
    r->Y = y;
    r->Width = width;
    r->Height = height;
    if (sized)
        SendMessage(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
    if (moved && IsWindow(window))
        SendMessage(window, WM_MOVE, 0, MAKELPARAM(x, y));
}

DWORD Win32TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// ---- Mode ----------------------------------------------------------------------------------

bool Win32IsHeadless() {
    return WM().Headless;
}

// ---- Classes -------------------------------------------------------------------------------

ATOM RegisterClassEx(const WNDCLASSEX* windowClass) {
    if (!windowClass || windowClass->cbSize != sizeof(WNDCLASSEX) || !windowClass->lpszClassName ||
        !*windowClass->lpszClassName || !windowClass->lpfnWndProc)
        return Fail(ERROR_INVALID_PARAMETER, ATOM(0));
    auto& wm = WM();
    const std::string key = ClassKey(windowClass->lpszClassName);
    if (wm.Classes.contains(key))
        return Fail(ERROR_CLASS_ALREADY_EXISTS, ATOM(0));
    TWindowClassRecord& record = wm.Classes[key];
    record.Name = windowClass->lpszClassName;
    record.Style = windowClass->style;
    record.Procedure = windowClass->lpfnWndProc;
    record.Instance = windowClass->hInstance;
    record.Background = windowClass->hbrBackground;
    record.Atom = wm.NextAtom++;
    return record.Atom;
}

BOOL GetClassInfoEx(HINSTANCE, LPCSTR className, WNDCLASSEX* windowClass) {
    const auto it = WM().Classes.find(ClassKey(className));
    if (it == WM().Classes.end())
        return Fail(ERROR_CLASS_DOES_NOT_EXIST, FALSE);
    if (!windowClass)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const TWindowClassRecord& c = it->second;
    *windowClass = {sizeof(WNDCLASSEX), c.Style,      c.Procedure,
                    c.Instance,         c.Background, c.Name.c_str()};
    return TRUE;
}

// ---- Creation and destruction --------------------------------------------------------------

namespace {

// Checks the arguments of CreateWindowEx; 0 when they are acceptable.
DWORD CreationError(const TWindowClassRecord* windowClass, DWORD style, HWND parent) {
    if (!windowClass)
        return ERROR_CANNOT_FIND_WND_CLASS;
    if ((style & WS_CHILD) && !parent)
        return ERROR_TLW_WITH_WSCHILD;
    if (parent && !IsWindow(parent))
        return ERROR_INVALID_WINDOW_HANDLE;
    if (!WM().Headless && !X11Open())
        return ERROR_DISPLAY_NOT_AVAILABLE;
    return 0;
}

TWindowRecord& AddWindowRecord(const TWindowClassRecord& windowClass, DWORD exStyle, DWORD style,
                               HWND parent) {
    auto& wm = WM();
    const HWND handle = ToHandle<HWND>(WindowTag | wm.NextWindow++);
    auto record = std::make_unique<TWindowRecord>();
    record->Handle = handle;
    record->ClassKey = ClassKey(windowClass.Name.c_str());
    record->ClassStyle = windowClass.Style;
    record->Background = windowClass.Background;
    record->Procedure = windowClass.Procedure;
    record->Style = style & ~WS_VISIBLE;
    record->ExStyle = exStyle;
    if (style & WS_CHILD)
        record->Parent = parent;
    else
        record->Owner = Win32TopLevelOf(parent);
    TWindowRecord& added = *record;
    wm.Windows[FromHandle(handle)] = std::move(record);
    if (TWindowRecord* p = wm.FindWindow(added.Parent))
        p->Children.push_back(handle);
    return added;
}

void PlaceWindow(TWindowRecord& r, int x, int y, int width, int height) {
    r.DefaultPosition = x == CW_USEDEFAULT;
    r.X = r.DefaultPosition ? 0 : x;
    r.Y = r.DefaultPosition ? 0 : y;
    r.Width = width == CW_USEDEFAULT ? DefaultWidth : std::max(width, 0);
    r.Height = width == CW_USEDEFAULT ? DefaultHeight : std::max(height, 0);
}

// WM_CREATE, then the first WM_SIZE and WM_MOVE; false when the window refused to be created.
bool SendCreationMessages(HWND window, CREATESTRUCT& create) {
    if (SendMessage(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1)
        return false;
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return false;
    const int x = r->X, y = r->Y;
    SendMessage(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r->Width, r->Height));
    if (IsWindow(window))
        SendMessage(window, WM_MOVE, 0, MAKELPARAM(x, y));
    return IsWindow(window);
}

} // namespace

HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                    void* param) {
    const auto classIt = WM().Classes.find(ClassKey(className));
    const TWindowClassRecord* windowClass =
        classIt == WM().Classes.end() ? nullptr : &classIt->second;
    if (const DWORD error = CreationError(windowClass, style, parent))
        return Fail(error, HWND(nullptr));
    TWindowRecord& record = AddWindowRecord(*windowClass, exStyle, style, parent);
    PlaceWindow(record, x, y, width, height);
    record.Text = windowName ? windowName : "";
    X11CreateWindow(record);
    const HWND window = record.Handle;
    CREATESTRUCT create{param, instance, menu,        parent,     height,    width,
                        y,     x,        LONG(style), windowName, className, exStyle};
    if (!SendCreationMessages(window, create)) {
        DestroyWindow(window);
        return Fail(ERROR_INVALID_PARAMETER, HWND(nullptr));
    }
    if (style & WS_VISIBLE)
        ShowWindow(window, SW_SHOW);
    return IsWindow(window) ? window : nullptr;
}

BOOL DestroyWindow(HWND window) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (r->Destroying)
        return FALSE;
    std::vector<HWND> subtree;
    CollectSubtree(window, subtree);
    for (HWND w : subtree)
        WM().FindWindow(w)->Destroying = true;
    for (HWND w : subtree)
        if (IsWindow(w))
            SendMessage(w, WM_DESTROY, 0, 0);
    for (auto it = subtree.rbegin(); it != subtree.rend(); ++it)
        if (IsWindow(*it))
            SendMessage(*it, WM_NCDESTROY, 0, 0);
    RemoveWindowRecord(window, true);
    return TRUE;
}

// ---- Window state --------------------------------------------------------------------------

BOOL ShowWindow(HWND window, int command) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    const bool wasVisible = r->Visible;
    const bool show = command != SW_HIDE;
    if (wasVisible == show)
        return wasVisible;
    SendMessage(window, WM_SHOWWINDOW, show, 0);
    if (!(r = WM().FindWindow(window)))
        return wasVisible;
    r->Visible = show;
    r->Style = show ? (r->Style | WS_VISIBLE) : (r->Style & ~WS_VISIBLE);
    X11ShowWindow(*r, show);
    // An X window is painted when its Expose events come; a headless one is painted at once.
    if (show && !r->XWindow)
        InvalidateSubtree(window);
    return wasVisible;
}

BOOL IsWindow(HWND window) {
    return WM().FindWindow(window) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    const TWindowRecord* r = WM().FindWindow(window);
    return r && ShownOnScreen(*r);
}

BOOL IsChild(HWND parent, HWND window) {
    return IsAncestor(parent, window);
}

BOOL SetWindowPos(HWND window, int x, int y, int width, int height) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    width = std::max(width, 0);
    height = std::max(height, 0);
    const bool sized = r->Width != width || r->Height != height;
    r->DefaultPosition = false;
    Win32SetGeometry(window, x, y, width, height);
    if (!(r = WM().FindWindow(window)))
        return TRUE;
    X11MoveResizeWindow(*r);
    // The X server exposes a resized window (nothing of its contents is kept); so does this.
    if (sized && !r->XWindow)
        InvalidateRect(window, nullptr, TRUE);
    return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (!rect)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *rect = ClientRectOf(*r);
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (!point)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    for (; r; r = WM().FindWindow(r->Parent)) {
        point->x += r->X;
        point->y += r->Y;
    }
    return TRUE;
}

BOOL SetWindowText(HWND window, LPCSTR text) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    r->Text = text ? text : "";
    X11SetWindowText(*r);
    return TRUE;
}

intptr_t SetWindowLongPtr(HWND window, int index, intptr_t value) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, intptr_t(0));
    SetLastError(ERROR_SUCCESS);
    intptr_t previous = 0;
    if (index == GWLP_USERDATA) {
        previous = r->UserData;
        r->UserData = value;
    } else if (index == GWLP_WNDPROC && value) {
        previous = reinterpret_cast<intptr_t>(r->Procedure);
        r->Procedure = reinterpret_cast<WNDPROC>(value);
    } else {
        return Fail(ERROR_INVALID_INDEX, intptr_t(0));
    }
    return previous;
}

intptr_t GetWindowLongPtr(HWND window, int index) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, intptr_t(0));
    switch (index) {
    case GWLP_USERDATA:
        return r->UserData;
    case GWLP_WNDPROC:
        return reinterpret_cast<intptr_t>(r->Procedure);
    case GWL_STYLE:
        return static_cast<intptr_t>(r->Style);
    case GWL_EXSTYLE:
        return static_cast<intptr_t>(r->ExStyle);
    default:
        return Fail(ERROR_INVALID_INDEX, intptr_t(0));
    }
}

// ---- Messages ------------------------------------------------------------------------------

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsWindow(window))
        return Fail(ERROR_INVALID_WINDOW_HANDLE, LRESULT(0));
    CallSentMessageHooks(window, message, wParam, lParam);
    return CallProcedure(window, message, wParam, lParam);
}

BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !IsWindow(window))
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    WM().Posted.push_back(MakeMessage(window, message, wParam, lParam));
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    WM().QuitPending = true;
    WM().QuitCode = exitCode;
}

BOOL GetMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    if (!message)
        return Fail(ERROR_INVALID_PARAMETER, BOOL(-1));
    if (window && !IsWindow(window))
        return Fail(ERROR_INVALID_WINDOW_HANDLE, BOOL(-1));
    for (;;) {
        switch (FetchMessage(message, window, filterMin, filterMax, true)) {
        case TFetch::Message:
            return TRUE;
        case TFetch::Quit:
            return FALSE;
        case TFetch::Nothing:
            break;
        }
        if (!X11Connected()) {
            *message = MakeMessage(nullptr, WM_NULL, 0, 0);
            return FALSE;
        }
        X11WaitForEvents();
    }
}

BOOL PeekMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!message)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const bool remove = (removeFlags & PM_REMOVE) != 0;
    return FetchMessage(message, window, filterMin, filterMax, remove) != TFetch::Nothing;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessage(const MSG* message) {
    if (!message || !message->hwnd)
        return 0;
    if (!IsWindow(message->hwnd))
        return Fail(ERROR_INVALID_WINDOW_HANDLE, LRESULT(0));
    return CallProcedure(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT DefWindowProc(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        if (BeginPaint(window, &paint))
            EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND: {
        const TWindowRecord* r = WM().FindWindow(window);
        COLORREF colour = 0;
        if (!r || !BackgroundColour(r->Background, colour))
            return 0;
        FillClientRect(window, colour);
        return 1;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    default:
        return 0;
    }
}

// ---- Painting ------------------------------------------------------------------------------

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, HDC(nullptr));
    if (!paint)
        return Fail(ERROR_INVALID_PARAMETER, HDC(nullptr));
    const bool erase = r->UpdateErase;
    paint->rcPaint = r->UpdatePending ? r->Update : ClientRectOf(*r);
    r->UpdatePending = false;
    r->UpdateErase = false;
    paint->hdc = WindowDC(*r);
    // fErase tells the caller that the background is still to be erased.
    paint->fErase =
        erase && SendMessage(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) == 0;
    return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
    if (!paint)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    ReleaseWindowDC(paint->hdc);
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    const RECT client = ClientRectOf(*r);
    const RECT area = rect ? Intersect(*rect, client) : client;
    if (IsEmpty(area))
        return TRUE;
    r->Update = r->UpdatePending ? Union(r->Update, area) : area;
    r->UpdatePending = true;
    r->UpdateErase = r->UpdateErase || erase;
    return TRUE;
}

BOOL GetUpdateRect(HWND window, RECT* rect, BOOL) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (rect)
        *rect = r->UpdatePending ? r->Update : RECT{0, 0, 0, 0};
    return r->UpdatePending ? TRUE : FALSE;
}

BOOL FillClientRect(HWND window, COLORREF colour) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    X11FillRect(*r, ClientRectOf(*r), colour);
    return TRUE;
}

HBRUSH Win32ColorBrush(COLORREF colour) {
    return ToHandle<HBRUSH>(ColorBrushTag | (colour & 0xFFFFFF));
}

// ---- Device contexts -----------------------------------------------------------------------

HDC GetDC(HWND window) {
    if (!window)
        return NewDC({OBJ_DC, nullptr, true, false, 0, 0});
    TWindowRecord* r = WM().FindWindow(window);
    return r ? WindowDC(*r) : Fail(ERROR_INVALID_WINDOW_HANDLE, HDC(nullptr));
}

int ReleaseDC(HWND window, HDC dc) {
    const TDCRecord* record = WM().FindDC(dc);
    if (!record || !record->WindowDC || record->Window != window)
        return 0;
    ReleaseWindowDC(dc);
    return 1;
}

HWND WindowFromDC(HDC dc) {
    const TDCRecord* record = WM().FindDC(dc);
    return record ? record->Window : nullptr;
}

HDC Win32CreateDC(DWORD objectType, uintptr_t drawable) {
    return NewDC({objectType, nullptr, false, false, drawable, 0});
}

void Win32DeleteDC(HDC dc) {
    const TDCRecord* record = WM().FindDC(dc);
    if (record && !record->WindowDC)
        WM().DCs.erase(FromHandle(dc));
}

DWORD Win32DCType(HDC dc) {
    const TDCRecord* record = WM().FindDC(dc);
    return record ? record->Type : 0;
}

uintptr_t Win32DCDrawable(HDC dc) {
    const TDCRecord* record = WM().FindDC(dc);
    if (!record)
        return 0;
    if (record->Window)
        return Win32XWindow(record->Window);
    return record->Drawable;
}

int Win32DCPixelFormat(HDC dc) {
    const TDCRecord* record = WM().FindDC(dc);
    if (!record)
        return 0;
    return record->Window ? Win32WindowPixelFormat(record->Window) : record->PixelFormat;
}

void Win32SetDCPixelFormat(HDC dc, int pixelFormat) {
    TDCRecord* record = WM().FindDC(dc);
    if (record && record->Window)
        Win32SetWindowPixelFormat(record->Window, pixelFormat);
    else if (record)
        record->PixelFormat = pixelFormat;
}

int Win32WindowPixelFormat(HWND window) {
    const TWindowRecord* r = WM().FindWindow(window);
    return r ? r->PixelFormat : 0;
}

void Win32SetWindowPixelFormat(HWND window, int pixelFormat) {
    if (TWindowRecord* r = WM().FindWindow(window))
        r->PixelFormat = pixelFormat;
}

// ---- Hooks ---------------------------------------------------------------------------------

HHOOK SetWindowsHookEx(int hookType, HOOKPROC procedure, HINSTANCE, DWORD) {
    if (hookType != WH_CALLWNDPROC)
        return Fail(ERROR_INVALID_HOOK_FILTER, HHOOK(nullptr));
    if (!procedure)
        return Fail(ERROR_INVALID_FILTER_PROC, HHOOK(nullptr));
    auto& wm = WM();
    const HHOOK hook = ToHandle<HHOOK>(HookTag | wm.NextHook++);
    wm.Hooks.push_back({hook, procedure, false});
    return hook;
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
    auto& hooks = WM().Hooks;
    const auto it = std::find_if(hooks.begin(), hooks.end(), [hook](const THookRecord& h) {
        return h.Handle == hook && !h.Removed;
    });
    if (it == hooks.end())
        return Fail(ERROR_INVALID_HOOK_HANDLE, FALSE);
    it->Removed = true;
    PurgeRemovedHooks();
    return TRUE;
}

LRESULT CallNextHookEx(HHOOK, int code, WPARAM wParam, LPARAM lParam) {
    const int cursor = WM().HookCursor;
    return cursor < 0 ? 0 : RunHookChain(cursor - 1, code, wParam, lParam);
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(gettid());
}

// ---- Capture -------------------------------------------------------------------------------

HWND SetCapture(HWND window) {
    const HWND previous = WM().Capture;
    if (IsWindow(window))
        WM().Capture = window;
    return previous;
}

BOOL ReleaseCapture() {
    WM().Capture = nullptr;
    return TRUE;
}

HWND GetCapture() {
    return WM().Capture;
}

// ---- Errors and system services ------------------------------------------------------------

DWORD GetLastError() {
    return LastErrorSlot();
}

void SetLastError(DWORD code) {
    LastErrorSlot() = code;
}

std::string SysErrorMessage(DWORD code) {
    for (const TErrorText& entry : ErrorTexts)
        if (entry.Code == code)
            return entry.Text;
    return "Unknown error " + std::to_string(code);
}

COLORREF GetSysColor(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(SystemColours)))
        return 0;
    return SystemColours[index];
}

BOOL QueryPerformanceCounter(int64_t* count) {
    if (!count)
        return FALSE;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    *count = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequency(int64_t* frequency) {
    if (!frequency)
        return FALSE;
    *frequency = 1000000000;
    return TRUE;
}

int GetScreenDpi() {
    return 96;
}

// ---- Text helpers --------------------------------------------------------------------------

std::string Win32Utf8ToLatin1(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (length == 2 && i + 1 < text.size() && lead >= 0xC2 && lead <= 0xC3)
            out += static_cast<char>(((lead & 0x1F) << 6) | (text[i + 1] & 0x3F));
        else
            out += length == 1 ? static_cast<char>(lead) : '?';
        i += length;
        // Skip the continuation bytes of a malformed or truncated sequence.
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return out;
}

namespace {

// Appends the lines one paragraph (text without line breaks) makes.
void WrapParagraph(std::string_view paragraph, int maxWidth,
                   const std::function<int(std::string_view)>& measure,
                   std::vector<std::string>& lines) {
    std::string line;
    size_t start = 0;
    while (start <= paragraph.size()) {
        const size_t end = std::min(paragraph.find(' ', start), paragraph.size());
        std::string word(paragraph.substr(start, end - start));
        start = end + 1;
        const std::string joined = line.empty() ? word : line + " " + word;
        if (measure(joined) <= maxWidth) {
            line = joined;
            continue;
        }
        if (!line.empty())
            lines.push_back(line);
        // A word wider than a line is cut where it no longer fits.
        while (word.size() > 1 && measure(word) > maxWidth) {
            size_t fit = 1;
            while (fit < word.size() &&
                   measure(std::string_view(word).substr(0, fit + 1)) <= maxWidth)
                ++fit;
            lines.push_back(word.substr(0, fit));
            word.erase(0, fit);
        }
        line = word;
    }
    lines.push_back(line);
}

} // namespace

std::vector<std::string> Win32WrapText(std::string_view text, int maxWidth,
                                       const std::function<int(std::string_view)>& measure) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        WrapParagraph(text.substr(start, end - start), maxWidth, measure, lines);
        const bool crlf = end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n';
        start = end + (crlf ? 2 : 1);
    }
    return lines;
}
