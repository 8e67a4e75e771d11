// The window manager's X11 side: the display, the X windows behind the window table, and the
// translation of X events into messages.
#include "platform/win32/WinX11.h"

#include "platform/win32/WinUserState.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>

namespace {

// Properties the window manager keeps on a client window: never copied to a new X window.
constexpr const char* WindowManagerProperties[] = {"WM_STATE", "_NET_WM_STATE",
                                                   "_NET_FRAME_EXTENTS", "_NET_WM_DESKTOP",
                                                   "_NET_WM_ALLOWED_ACTIONS"};

constexpr long EventMask = ExposureMask | StructureNotifyMask | ButtonPressMask |
                           ButtonReleaseMask | PointerMotionMask | EnterWindowMask |
                           LeaveWindowMask;
// Keys go to top-level windows only; on a child they propagate up to its top-level window.
constexpr long TopLevelEventMask = EventMask | KeyPressMask | KeyReleaseMask;

struct TXFree {
    void operator()(void* data) const {
        if (data)
            XFree(data);
    }
};
template <typename T> using TXPointer = std::unique_ptr<T, TXFree>;

int CountXError(Display*, XErrorEvent*) {
    ++TWindowManager::Instance().XErrorCount;
    return 0;
}

int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

TWindowManager& WM() {
    return TWindowManager::Instance();
}

} // namespace

// The open display with what the window manager keeps about it.
struct TX11Connection {
    explicit TX11Connection(Display* display);
    ~TX11Connection();
    TX11Connection(const TX11Connection&) = delete;
    TX11Connection& operator=(const TX11Connection&) = delete;

    Display* Dpy;
    int Screen;
    Atom WMProtocols, WMDeleteWindow, NetWMName, Utf8String;
    std::map<Window, HWND> Windows;
    // Serial of the last move/resize request per X window: configure events older than it
    // describe a geometry that has already been replaced.
    std::map<Window, unsigned long> ConfigureSerials;
};

TX11Connection::TX11Connection(Display* display)
    : Dpy(display), Screen(DefaultScreen(display)),
      WMProtocols(XInternAtom(display, "WM_PROTOCOLS", False)),
      WMDeleteWindow(XInternAtom(display, "WM_DELETE_WINDOW", False)),
      NetWMName(XInternAtom(display, "_NET_WM_NAME", False)),
      Utf8String(XInternAtom(display, "UTF8_STRING", False)) {
    // Held keys repeat as presses only, without a release before each one.
    XkbSetDetectableAutoRepeat(display, True, nullptr);
}

TX11Connection::~TX11Connection() {
    // Nothing may reach the window manager's tables while they are being torn down.
    XSetErrorHandler(IgnoreXError);
    XCloseDisplay(Dpy);
}

// Defined here, where the connection's type is complete.
TWindowManager::TWindowManager() = default;
TWindowManager::~TWindowManager() = default;

namespace {

TX11Connection* Connection() {
    return WM().Headless ? nullptr : WM().X.get();
}

HWND WindowOf(Window xwindow) {
    TX11Connection* x = Connection();
    if (!x)
        return nullptr;
    const auto it = x->Windows.find(xwindow);
    return it == x->Windows.end() ? nullptr : it->second;
}

Window ParentXWindow(const TX11Connection& x, const TWindowRecord& record) {
    const TWindowRecord* parent = WM().FindWindow(record.Parent);
    return parent && parent->XWindow ? parent->XWindow : RootWindow(x.Dpy, x.Screen);
}

unsigned XSize(int size) {
    return static_cast<unsigned>(std::max(size, 1));
}

std::string ProgramName() {
    return program_invocation_short_name;
}

void SetNormalHints(const TX11Connection& x, Window xwindow, const TWindowRecord& r) {
    TXPointer<XSizeHints> hints(XAllocSizeHints());
    // Static gravity: a position is the client area's own, with any frame around it.
    hints->flags = PSize | PWinGravity | (r.DefaultPosition ? 0 : (USPosition | USSize));
    hints->win_gravity = StaticGravity;
    hints->x = r.X;
    hints->y = r.Y;
    hints->width = static_cast<int>(XSize(r.Width));
    hints->height = static_cast<int>(XSize(r.Height));
    XSetWMNormalHints(x.Dpy, xwindow, hints.get());
}

void SetClassHint(const TX11Connection& x, Window xwindow, const TWindowRecord& r) {
    std::string name = ProgramName();
    const auto found = WM().Classes.find(r.ClassKey);
    std::string windowClass = found != WM().Classes.end() ? found->second.Name : r.ClassKey;
    XClassHint hint{name.data(), windowClass.data()};
    XSetClassHint(x.Dpy, xwindow, &hint);
}

// What a top-level X window needs for the window manager: placement, class, the close protocol
// and, for an owned window, its owner.
void SetTopLevelProperties(TX11Connection& x, Window xwindow, const TWindowRecord& r) {
    SetNormalHints(x, xwindow, r);
    SetClassHint(x, xwindow, r);
    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    XSetWMHints(x.Dpy, xwindow, &hints);
    XSetWMProtocols(x.Dpy, xwindow, &x.WMDeleteWindow, 1);
    const TWindowRecord* owner = WM().FindWindow(r.Owner);
    if (owner && owner->XWindow)
        XSetTransientForHint(x.Dpy, xwindow, owner->XWindow);
}

Window CreateXWindow(TX11Connection& x, const TWindowRecord& r, Visual* visual, int depth,
                     Colormap colormap) {
    XSetWindowAttributes attributes{};
    attributes.event_mask = r.Parent ? EventMask : TopLevelEventMask;
    attributes.bit_gravity = ForgetGravity;
    attributes.background_pixmap = None;
    unsigned long mask = CWEventMask | CWBitGravity | CWBackPixmap;
    if (visual) {
        attributes.colormap = colormap;
        attributes.border_pixel = 0;
        mask |= CWColormap | CWBorderPixel;
    }
    return XCreateWindow(x.Dpy, ParentXWindow(x, r), r.X, r.Y, XSize(r.Width), XSize(r.Height), 0,
                         visual ? depth : CopyFromParent, InputOutput,
                         visual ? visual : CopyFromParent, mask, &attributes);
}

bool IsWindowManagerProperty(Display* display, Atom property) {
    TXPointer<char> name(XGetAtomName(display, property));
    if (!name)
        return false;
    return std::any_of(std::begin(WindowManagerProperties), std::end(WindowManagerProperties),
                       [&](const char* own) { return std::strcmp(own, name.get()) == 0; });
}

void CopyProperties(Display* display, Window from, Window to) {
    int count = 0;
    TXPointer<Atom> properties(XListProperties(display, from, &count));
    for (int i = 0; i < count; ++i) {
        const Atom property = properties.get()[i];
        if (IsWindowManagerProperty(display, property))
            continue;
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* raw = nullptr;
        const int status =
            XGetWindowProperty(display, from, property, 0, LONG_MAX / 4, False, AnyPropertyType,
                               &type, &format, &items, &after, &raw);
        TXPointer<unsigned char> data(raw);
        if (status == Success && type != None)
            XChangeProperty(display, to, property, type, format, PropModeReplace, data.get(),
                            static_cast<int>(items));
    }
}

// ---- Colours -------------------------------------------------------------------------------

// Scales an 8-bit channel into the bits of a TrueColor mask.
unsigned long Channel(unsigned value, unsigned long mask) {
    if (!mask)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const unsigned long maximum = mask >> shift;
    return ((value * maximum + 127) / 255) << shift;
}

unsigned long PixelOf(const TX11Connection& x, Window xwindow, COLORREF colour) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(x.Dpy, xwindow, &attributes);
    const unsigned red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    const Visual* visual = attributes.visual;
    if (visual && (visual->c_class == TrueColor || visual->c_class == DirectColor))
        return Channel(red, visual->red_mask) | Channel(green, visual->green_mask) |
               Channel(blue, visual->blue_mask);
    XColor exact{};
    exact.red = static_cast<unsigned short>(red * 257);
    exact.green = static_cast<unsigned short>(green * 257);
    exact.blue = static_cast<unsigned short>(blue * 257);
    exact.flags = DoRed | DoGreen | DoBlue;
    return XAllocColor(x.Dpy, attributes.colormap, &exact) ? exact.pixel
                                                           : BlackPixel(x.Dpy, x.Screen);
}

// ---- Events --------------------------------------------------------------------------------

// Only the window of a running message box (and its children) takes input.
bool TakesInput(HWND window) {
    const HWND modal = WM().ModalWindow;
    return !modal || Win32TopLevelOf(window) == modal;
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int rootX, int rootY) {
    Win32PostInput({window, message, wParam, lParam, Win32TickCount(), {rootX, rootY}});
}

WPARAM KeyState(unsigned state) {
    WPARAM keys = 0;
    if (state & Button1Mask)
        keys |= MK_LBUTTON;
    if (state & Button2Mask)
        keys |= MK_MBUTTON;
    if (state & Button3Mask)
        keys |= MK_RBUTTON;
    if (state & ShiftMask)
        keys |= MK_SHIFT;
    if (state & ControlMask)
        keys |= MK_CONTROL;
    return keys;
}

void OnExpose(HWND window, const XExposeEvent& e) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return;
    const RECT area{e.x, e.y, e.x + e.width, e.y + e.height};
    // As on Windows, an exposed area is always to be erased; the window procedure decides how.
    InvalidateRect(window, &area, TRUE);
}

// The client area's position on the screen: the window manager may have reparented the window
// into a frame, so the event's coordinates are not enough.
POINT ScreenPosition(const TX11Connection& x, Window xwindow) {
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(x.Dpy, xwindow, RootWindow(x.Dpy, x.Screen), 0, 0, &rootX, &rootY,
                          &child);
    return {rootX, rootY};
}

void OnConfigure(TX11Connection& x, HWND window, const XConfigureEvent& e) {
    const auto serial = x.ConfigureSerials.find(e.window);
    if (serial != x.ConfigureSerials.end() && e.serial < serial->second)
        return;
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return;
    // A zero-sized window is 1 x 1 on the X server.
    const int width = (r->Width == 0 && e.width == 1) ? 0 : e.width;
    const int height = (r->Height == 0 && e.height == 1) ? 0 : e.height;
    const POINT position = r->Parent ? POINT{e.x, e.y} : ScreenPosition(x, e.window);
    Win32SetGeometry(window, position.x, position.y, width, height);
}

void OnReparent(TX11Connection& x, HWND window, const XReparentEvent& e) {
    const TWindowRecord* r = WM().FindWindow(window);
    if (!r || r->Parent)
        return;
    const POINT position = ScreenPosition(x, e.window);
    Win32SetGeometry(window, position.x, position.y, r->Width, r->Height);
}

UINT ButtonMessage(unsigned button, bool press) {
    switch (button) {
    case Button1:
        return press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case Button2:
        return press ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    case Button3:
        return press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    default:
        return 0;
    }
}

unsigned ButtonStateMask(unsigned button) {
    return button >= Button1 && button <= Button5 ? Button1Mask << (button - Button1) : 0;
}

// X's implicit pointer grab is the capture: it starts with the first button pressed and ends
// when the last one is released.
void TrackCapture(HWND window, const XButtonEvent& e, bool press) {
    constexpr unsigned AllButtons =
        Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask;
    if (press && !GetCapture())
        SetCapture(window);
    if (!press && !(e.state & AllButtons & ~ButtonStateMask(e.button)))
        ReleaseCapture();
}

void OnButton(HWND window, const XButtonEvent& e, bool press) {
    if (!TakesInput(window))
        return;
    TrackCapture(window, e, press);
    if (e.button == Button4 || e.button == Button5) {
        const int delta = e.button == Button4 ? WHEEL_DELTA : -WHEEL_DELTA;
        if (press)
            Post(window, WM_MOUSEWHEEL,
                 KeyState(e.state) | (static_cast<WPARAM>(static_cast<uint16_t>(delta)) << 16),
                 MAKELPARAM(e.x_root, e.y_root), e.x_root, e.y_root);
        return;
    }
    const UINT message = ButtonMessage(e.button, press);
    if (!message)
        return;
    const unsigned state =
        press ? (e.state | ButtonStateMask(e.button)) : (e.state & ~ButtonStateMask(e.button));
    Post(window, message, KeyState(state), MAKELPARAM(e.x, e.y), e.x_root, e.y_root);
}

void OnMotion(HWND window, const XMotionEvent& e) {
    if (TakesInput(window))
        Post(window, WM_MOUSEMOVE, KeyState(e.state), MAKELPARAM(e.x, e.y), e.x_root, e.y_root);
}

void OnCrossing(HWND window, const XCrossingEvent& e, bool enter) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r || r->PointerInside == enter)
        return;
    r->PointerInside = enter;
    Post(window, enter ? WM_MOUSEENTER : WM_MOUSELEAVE, 0, MAKELPARAM(e.x, e.y), e.x_root,
         e.y_root);
}

WPARAM KeypadKey(KeySym keysym) {
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9)
        return VK_NUMPAD0 + (keysym - XK_KP_0);
    switch (keysym) {
    case XK_KP_Multiply:
        return VK_MULTIPLY;
    case XK_KP_Add:
        return VK_ADD;
    case XK_KP_Separator:
        return VK_SEPARATOR;
    case XK_KP_Subtract:
        return VK_SUBTRACT;
    case XK_KP_Decimal:
        return VK_DECIMAL;
    case XK_KP_Divide:
        return VK_DIVIDE;
    case XK_KP_Enter:
        return VK_RETURN;
    case XK_KP_Left:
        return VK_LEFT;
    case XK_KP_Up:
        return VK_UP;
    case XK_KP_Right:
        return VK_RIGHT;
    case XK_KP_Down:
        return VK_DOWN;
    case XK_KP_Home:
        return VK_HOME;
    case XK_KP_End:
        return VK_END;
    case XK_KP_Prior:
        return VK_PRIOR;
    case XK_KP_Next:
        return VK_NEXT;
    case XK_KP_Insert:
        return VK_INSERT;
    case XK_KP_Delete:
        return VK_DELETE;
    case XK_KP_Begin:
        return VK_CLEAR;
    default:
        return 0;
    }
}

struct TKeyName {
    KeySym Sym;
    WPARAM Key;
};

constexpr TKeyName NamedKeys[] = {
    {XK_BackSpace, VK_BACK},
    {XK_Tab, VK_TAB},
    {XK_ISO_Left_Tab, VK_TAB},
    {XK_Clear, VK_CLEAR},
    {XK_Return, VK_RETURN},
    {XK_Shift_L, VK_SHIFT},
    {XK_Shift_R, VK_SHIFT},
    {XK_Control_L, VK_CONTROL},
    {XK_Control_R, VK_CONTROL},
    {XK_Alt_L, VK_MENU},
    {XK_Alt_R, VK_MENU},
    {XK_Meta_L, VK_MENU},
    {XK_Meta_R, VK_MENU},
    {XK_Pause, VK_PAUSE},
    {XK_Caps_Lock, VK_CAPITAL},
    {XK_Escape, VK_ESCAPE},
    {XK_space, VK_SPACE},
    {XK_Prior, VK_PRIOR},
    {XK_Next, VK_NEXT},
    {XK_End, VK_END},
    {XK_Home, VK_HOME},
    {XK_Left, VK_LEFT},
    {XK_Up, VK_UP},
    {XK_Right, VK_RIGHT},
    {XK_Down, VK_DOWN},
    {XK_Insert, VK_INSERT},
    {XK_Delete, VK_DELETE},
    {XK_Num_Lock, VK_NUMLOCK},
    {XK_Scroll_Lock, VK_SCROLL},
    {XK_semicolon, VK_OEM_1},
    {XK_equal, VK_OEM_PLUS},
    {XK_comma, VK_OEM_COMMA},
    {XK_minus, VK_OEM_MINUS},
    {XK_period, VK_OEM_PERIOD},
    {XK_slash, VK_OEM_2},
    {XK_grave, VK_OEM_3},
    {XK_bracketleft, VK_OEM_4},
    {XK_backslash, VK_OEM_5},
    {XK_bracketright, VK_OEM_6},
    {XK_apostrophe, VK_OEM_7},
};

// The virtual key of a key event: the key's own (unshifted) symbol, except on the keypad,
// whose keys change meaning with Num Lock.
WPARAM VirtualKey(XKeyEvent& e, KeySym translated) {
    const KeySym plain = XLookupKeysym(&e, 0);
    if (IsKeypadKey(plain))
        return KeypadKey(translated);
    if (plain >= XK_a && plain <= XK_z)
        return 'A' + (plain - XK_a);
    if (plain >= XK_0 && plain <= XK_9)
        return '0' + (plain - XK_0);
    if (plain >= XK_F1 && plain <= XK_F12)
        return VK_F1 + (plain - XK_F1);
    for (const TKeyName& named : NamedKeys)
        if (named.Sym == plain)
            return named.Key;
    return 0;
}

void OnKey(HWND window, XKeyEvent& e, bool press) {
    const HWND target = Win32TopLevelOf(window);
    if (!target || !TakesInput(target))
        return;
    char text[32];
    KeySym translated = NoSymbol;
    const int length = XLookupString(&e, text, sizeof(text), &translated, nullptr);
    const WPARAM key = VirtualKey(e, translated);
    const LPARAM flags = 1 | (static_cast<LPARAM>((e.keycode - 8) & 0xFF) << 16) |
                         (press ? 0 : static_cast<LPARAM>(0xC0000000u));
    if (key)
        Post(target, press ? WM_KEYDOWN : WM_KEYUP, key, flags, e.x_root, e.y_root);
    if (!press)
        return;
    for (int i = 0; i < length; ++i)
        Post(target, WM_CHAR, static_cast<unsigned char>(text[i]), flags, e.x_root, e.y_root);
}

void OnClientMessage(const TX11Connection& x, HWND window, const XClientMessageEvent& e) {
    if (e.message_type != x.WMProtocols || e.format != 32 ||
        static_cast<Atom>(e.data.l[0]) != x.WMDeleteWindow)
        return;
    if (TakesInput(window))
        Win32PostInput({window, WM_CLOSE, 0, 0, Win32TickCount(), {0, 0}});
}

// The window's X windows and those of its children are gone: nothing may be asked of them any
// more, the colormaps excepted, which outlive their windows.
void ForgetXWindows(HWND window) {
    TWindowRecord* r = WM().FindWindow(window);
    if (!r)
        return;
    for (HWND child : r->Children)
        ForgetXWindows(child);
    X11ForgetWindow(*r);
    r->XWindow = 0;
    r->XColormap = 0;
}

// Another client destroyed the X window (the program forgets its own before destroying them, so
// their events find no window): the window goes as DestroyWindow takes it. A message without a
// window wakes whoever waits in GetMessage, such as the modal loop of a message box that went.
void OnDestroyNotify(HWND window) {
    ForgetXWindows(window);
    DestroyWindow(window);
    Win32PostInput({nullptr, WM_NULL, 0, 0, Win32TickCount(), {0, 0}});
}

void TranslateEvent(TX11Connection& x, XEvent& e) {
    const HWND window = WindowOf(e.xany.window);
    if (!window)
        return;
    switch (e.type) {
    case Expose:
        return OnExpose(window, e.xexpose);
    case ConfigureNotify:
        return OnConfigure(x, window, e.xconfigure);
    case ReparentNotify:
        return OnReparent(x, window, e.xreparent);
    case ButtonPress:
    case ButtonRelease:
        return OnButton(window, e.xbutton, e.type == ButtonPress);
    case MotionNotify:
        return OnMotion(window, e.xmotion);
    case EnterNotify:
    case LeaveNotify:
        return OnCrossing(window, e.xcrossing, e.type == EnterNotify);
    case KeyPress:
    case KeyRelease:
        return OnKey(window, e.xkey, e.type == KeyPress);
    case ClientMessage:
        return OnClientMessage(x, window, e.xclient);
    case DestroyNotify:
        return OnDestroyNotify(window);
    default:
        return;
    }
}

} // namespace

// ---- The window manager's X11 operations ---------------------------------------------------

bool X11Connected() {
    return Connection() != nullptr;
}

bool X11Open() {
    return Win32Display() != nullptr;
}

void X11CreateWindow(TWindowRecord& record) {
    TX11Connection* x = Connection();
    if (!x)
        return;
    const Window xwindow = CreateXWindow(*x, record, nullptr, 0, 0);
    record.XWindow = xwindow;
    x->Windows[xwindow] = record.Handle;
    if (!record.Parent)
        SetTopLevelProperties(*x, xwindow, record);
    X11SetWindowText(record);
}

void X11DestroyWindow(const TWindowRecord& record) {
    TX11Connection* x = Connection();
    if (!x || !record.XWindow)
        return;
    XDestroyWindow(x->Dpy, record.XWindow);
    X11ForgetWindow(record);
}

void X11ForgetWindow(const TWindowRecord& record) {
    if (TX11Connection* x = Connection()) {
        x->Windows.erase(record.XWindow);
        x->ConfigureSerials.erase(record.XWindow);
        if (record.XColormap)
            XFreeColormap(x->Dpy, record.XColormap);
    }
}

void X11ShowWindow(const TWindowRecord& record, bool show) {
    TX11Connection* x = Connection();
    if (!x || !record.XWindow)
        return;
    if (show)
        XMapWindow(x->Dpy, record.XWindow);
    else if (record.Parent)
        XUnmapWindow(x->Dpy, record.XWindow);
    else
        XWithdrawWindow(x->Dpy, record.XWindow, x->Screen);
    XFlush(x->Dpy);
}

void X11MoveResizeWindow(const TWindowRecord& record) {
    TX11Connection* x = Connection();
    if (!x || !record.XWindow)
        return;
    x->ConfigureSerials[record.XWindow] = NextRequest(x->Dpy);
    XMoveResizeWindow(x->Dpy, record.XWindow, record.X, record.Y, XSize(record.Width),
                      XSize(record.Height));
    XFlush(x->Dpy);
}

void X11SetWindowText(const TWindowRecord& record) {
    TX11Connection* x = Connection();
    if (!x || !record.XWindow)
        return;
    const std::string latin1 = Win32Utf8ToLatin1(record.Text);
    XStoreName(x->Dpy, record.XWindow, latin1.c_str());
    XChangeProperty(x->Dpy, record.XWindow, x->NetWMName, x->Utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(record.Text.data()),
                    static_cast<int>(record.Text.size()));
    XFlush(x->Dpy);
}

void X11FillRect(const TWindowRecord& record, const RECT& rect, COLORREF colour) {
    TX11Connection* x = Connection();
    if (!x || !record.XWindow || rect.right <= rect.left || rect.bottom <= rect.top)
        return;
    TXGC gc(x->Dpy, record.XWindow);
    XSetForeground(x->Dpy, gc.Get(), PixelOf(*x, record.XWindow, colour));
    XFillRectangle(x->Dpy, record.XWindow, gc.Get(), rect.left, rect.top,
                   static_cast<unsigned>(rect.right - rect.left),
                   static_cast<unsigned>(rect.bottom - rect.top));
    XFlush(x->Dpy);
}

void X11DispatchPending() {
    TX11Connection* x = Connection();
    if (!x)
        return;
    while (XPending(x->Dpy) > 0) {
        XEvent event{};
        XNextEvent(x->Dpy, &event);
        TranslateEvent(*x, event);
    }
}

void X11WaitForEvents() {
    TX11Connection* x = Connection();
    // Events read in with a reply since the last look are already in Xlib's queue.
    if (!x || XPending(x->Dpy) > 0)
        return;
    pollfd descriptor{ConnectionNumber(x->Dpy), POLLIN, 0};
    while (poll(&descriptor, 1, -1) < 0 && errno == EINTR) {
    }
}

// ---- WinX11.h ------------------------------------------------------------------------------

Display* Win32Display() {
    auto& wm = WM();
    if (wm.Headless)
        return nullptr;
    if (!wm.X) {
        Display* display = XOpenDisplay(nullptr);
        if (!display)
            return nullptr;
        XSetErrorHandler(CountXError);
        wm.X = std::make_unique<TX11Connection>(display);
    }
    return wm.X->Dpy;
}

bool Win32OpenDisplay() {
    return WM().Headless || Win32Display() != nullptr;
}

bool Win32DisplayOpen() {
    return WM().Headless || WM().X != nullptr;
}

std::string Win32DisplayName() {
    return XDisplayName(nullptr);
}

int Win32Screen() {
    const TX11Connection* x = Win32Display() ? WM().X.get() : nullptr;
    return x ? x->Screen : 0;
}

Window Win32XWindow(HWND window) {
    const TWindowRecord* r = WM().FindWindow(window);
    return r && Connection() ? r->XWindow : 0;
}

Window Win32SetWindowVisual(HWND window, Visual* visual, int depth, Colormap colormap) {
    TX11Connection* x = Connection();
    TWindowRecord* r = WM().FindWindow(window);
    if (!x || !r || !r->XWindow || !visual)
        return 0;
    const Window previous = r->XWindow;
    const Window replacement = CreateXWindow(*x, *r, visual, depth, colormap);
    CopyProperties(x->Dpy, previous, replacement);
    for (HWND child : r->Children)
        if (const TWindowRecord* c = WM().FindWindow(child); c && c->XWindow)
            XReparentWindow(x->Dpy, c->XWindow, replacement, c->X, c->Y);
    X11ForgetWindow(*r);
    r->XWindow = replacement;
    r->XColormap = colormap;
    x->Windows[replacement] = window;
    if (r->Visible)
        XMapWindow(x->Dpy, replacement);
    XDestroyWindow(x->Dpy, previous);
    XFlush(x->Dpy);
    return replacement;
}

TXGC::TXGC(Display* display, Drawable drawable, const XFontStruct* font) : FDisplay(display) {
    XGCValues values{};
    values.graphics_exposures = False;
    unsigned long mask = GCGraphicsExposures;
    if (font) {
        values.font = font->fid;
        mask |= GCFont;
    }
    FGC = XCreateGC(display, drawable, mask, &values);
}

int Win32XErrorCount() {
    return WM().XErrorCount;
}
