// The window manager on a real X server: windows as other clients see them, and X events
// turned into messages. A second connection plays the part of the user, the window manager
// and the tools that read the windows back.
#include <gtest/gtest.h>

#include "platform/win32/WinUser.h"
// After gtest: Xlib's macros (None, Bool) would clash with its names.
#include "platform/win32/WinX11.h"
#include "tests/support/RecordedWindows.h"
#include "tests/support/WindowState.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TSeen {
    HWND Window;
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
};

constexpr auto Seen = &TMessageLog<TSeen>::Seen;
constexpr auto SeenOf = &TMessageLog<TSeen>::SeenOf;

RECT LastPaintRect{};

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Seen().push_back({window, message, wParam, lParam});
    if (message == WM_PAINT) {
        PAINTSTRUCT paint{};
        BeginPaint(window, &paint);
        LastPaintRect = paint.rcPaint;
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

const char* const PlainClass = "WinUserX11Plain";
const char* const FacedClass = "WinUserX11Faced";
const char* const ColouredClass = "WinUserX11Coloured";

std::string StringProperty(Display* display, Window window, const char* name) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4096, False,
                       AnyPropertyType, &type, &format, &items, &after, &data);
    std::string value = data ? std::string(reinterpret_cast<char*>(data), items) : "";
    if (data)
        XFree(data);
    return value;
}

class WinUserX11Test : public testing::Test {
protected:
    void SetUp() override {
        SetHeadless(false);
        ASSERT_NE(Win32Display(), nullptr);
        FObserver = XOpenDisplay(nullptr);
        ASSERT_NE(FObserver, nullptr);
        RegisterTestClass(PlainClass, RecordingProcedure, 0, nullptr);
        RegisterTestClass(FacedClass, RecordingProcedure, 0,
                          reinterpret_cast<HBRUSH>(uintptr_t(COLOR_BTNFACE + 1)));
        // Red 10, green 20, blue 30.
        RegisterTestClass(ColouredClass, RecordingProcedure, 0, Win32ColorBrush(0x001E140A));
        Seen().clear();
        FErrorsBefore = Win32XErrorCount();
    }

    void TearDown() override {
        for (HWND window : FCreated)
            if (IsWindow(window))
                DestroyWindow(window);
        if (FObserver) {
            Pump();
            EXPECT_EQ(Win32XErrorCount(), FErrorsBefore) << "X errors";
            XCloseDisplay(FObserver);
        }
    }

    HWND Create(const char* windowClass, DWORD style, int x, int y, int width, int height,
                HWND parent = nullptr, const char* title = "test") {
        const HWND window = CreateWindowEx(0, windowClass, title, style, x, y, width, height,
                                           parent, nullptr, nullptr, nullptr);
        FCreated.push_back(window);
        return window;
    }

    // Lets the server handle both connections' requests, then runs the message loop until
    // nothing is left to deliver.
    std::vector<MSG> Pump() {
        XSync(FObserver, False);
        XSync(Win32Display(), False);
        std::vector<MSG> delivered;
        MSG message{};
        while (delivered.size() < 200 && PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
            delivered.push_back(message);
            DispatchMessage(&message);
        }
        return delivered;
    }

    void SendKey(Window target, KeySym keysym, unsigned state) {
        XEvent event{};
        event.xkey.type = KeyPress;
        event.xkey.display = FObserver;
        event.xkey.window = target;
        event.xkey.root = DefaultRootWindow(FObserver);
        event.xkey.state = state;
        event.xkey.keycode = XKeysymToKeycode(FObserver, keysym);
        event.xkey.same_screen = True;
        // Propagated as the server's own key events are, to the window that selects them.
        XSendEvent(FObserver, target, True, KeyPressMask, &event);
    }

    void SendButton(Window target, int type, unsigned button, unsigned state, int x, int y) {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.window = target;
        event.xbutton.root = DefaultRootWindow(FObserver);
        event.xbutton.button = button;
        event.xbutton.state = state;
        event.xbutton.x = x;
        event.xbutton.y = y;
        event.xbutton.same_screen = True;
        const long mask = type == ButtonPress ? ButtonPressMask : ButtonReleaseMask;
        XSendEvent(FObserver, target, False, mask, &event);
    }

    Display* FObserver = nullptr;
    int FErrorsBefore = 0;

private:
    std::vector<HWND> FCreated;
};

TEST_F(WinUserX11Test, TopLevelWindowHasClientSizeTitleAndProtocols) {
    const HWND window = Create(PlainClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 320, 240, nullptr,
                               "Form1 caf\xC3\xA9");
    ShowWindow(window, SW_SHOW);
    Pump();
    const Window xwindow = Win32XWindow(window);
    ASSERT_NE(xwindow, 0u);

    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(FObserver, xwindow, &root, &x, &y, &width, &height, &border, &depth);
    EXPECT_EQ(width, 320u);
    EXPECT_EQ(height, 240u);
    char* name = nullptr;
    ASSERT_TRUE(XFetchName(FObserver, xwindow, &name));
    EXPECT_STREQ(name, "Form1 caf\xE9");
    XFree(name);
    EXPECT_EQ(StringProperty(FObserver, xwindow, "_NET_WM_NAME"), "Form1 caf\xC3\xA9");

    SetWindowText(window, "Renamed");
    XSync(Win32Display(), False);
    EXPECT_EQ(StringProperty(FObserver, xwindow, "_NET_WM_NAME"), "Renamed");

    Atom* protocols = nullptr;
    int count = 0;
    ASSERT_TRUE(XGetWMProtocols(FObserver, xwindow, &protocols, &count));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(protocols[0], XInternAtom(FObserver, "WM_DELETE_WINDOW", False));
    XFree(protocols);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(FObserver, xwindow, &hint));
    EXPECT_STREQ(hint.res_class, PlainClass);
    XFree(hint.res_name);
    XFree(hint.res_class);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(WinUserX11Test, ChildWindowSitsAtItsPositionInsideItsParent) {
    const HWND form = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 40, 300, 200);
    const HWND view = Create(PlainClass, WS_CHILD | WS_VISIBLE, 10, 20, 100, 50, form);
    Pump();
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(FObserver, Win32XWindow(view), &root, &parent, &children, &count);
    if (children)
        XFree(children);
    EXPECT_EQ(parent, Win32XWindow(form));

    int screenX = 0, screenY = 0;
    Window child = 0;
    XTranslateCoordinates(FObserver, Win32XWindow(view), root, 0, 0, &screenX, &screenY, &child);
    POINT origin{0, 0};
    ClientToScreen(view, &origin);
    EXPECT_EQ(origin.x, screenX);
    EXPECT_EQ(origin.y, screenY);

    // The server's geometry follows SetWindowPos, and the record follows the server's.
    SetWindowPos(view, 15, 25, 120, 60);
    Pump();
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(FObserver, Win32XWindow(view), &root, &x, &y, &width, &height, &border, &depth);
    EXPECT_EQ(x, 15);
    EXPECT_EQ(y, 25);
    EXPECT_EQ(width, 120u);
    XMoveResizeWindow(FObserver, Win32XWindow(form), 50, 60, 400, 300);
    Seen().clear();
    Pump();
    RECT client{};
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
    ASSERT_EQ(SeenOf(WM_SIZE).size(), 1u);
    EXPECT_EQ(SeenOf(WM_SIZE)[0].LParam, MAKELPARAM(400, 300));
    ASSERT_EQ(SeenOf(WM_MOVE).size(), 1u);
    origin = {0, 0};
    ClientToScreen(view, &origin);
    EXPECT_EQ(origin.x, 50 + 15);
    EXPECT_EQ(origin.y, 60 + 25);
}

TEST_F(WinUserX11Test, ExposuresBecomeOnePaint) {
    const HWND window = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100);
    Pump();
    ASSERT_EQ(SeenOf(WM_PAINT).size(), 1u); // mapping exposed it
    Seen().clear();
    XClearArea(FObserver, Win32XWindow(window), 10, 10, 20, 20, True);
    XClearArea(FObserver, Win32XWindow(window), 50, 5, 10, 10, True);
    Pump();
    EXPECT_EQ(SeenOf(WM_PAINT).size(), 1u);
    EXPECT_EQ(LastPaintRect.left, 10);
    EXPECT_EQ(LastPaintRect.top, 5);
    EXPECT_EQ(LastPaintRect.right, 60);
    EXPECT_EQ(LastPaintRect.bottom, 30);
    // Exposed areas are to be erased; a class without background leaves that to its procedure.
    EXPECT_EQ(SeenOf(WM_ERASEBKGND).size(), 1u);
}

unsigned long PixelAt(Display* display, Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return ~0ul;
    const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return pixel;
}

TEST_F(WinUserX11Test, ClassBackgroundIsPaintedOnExpose) {
    const HWND faced = Create(FacedClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 40, 30);
    const HWND coloured = Create(ColouredClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 0, 40, 30);
    Pump();
    ASSERT_EQ(SeenOf(WM_ERASEBKGND).size(), 2u);
    EXPECT_EQ(PixelAt(FObserver, Win32XWindow(faced), 5, 5), 0xF0F0F0u);
    EXPECT_EQ(PixelAt(FObserver, Win32XWindow(coloured), 39, 29), 0x0A141Eu);
}

TEST_F(WinUserX11Test, PointerCrossingsAreReportedOnce) {
    const HWND window = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100);
    Pump();
    Seen().clear();
    for (int type : {EnterNotify, EnterNotify, LeaveNotify}) {
        XEvent event{};
        event.xcrossing.type = type;
        event.xcrossing.window = Win32XWindow(window);
        event.xcrossing.mode = NotifyNormal;
        const long mask = type == EnterNotify ? EnterWindowMask : LeaveWindowMask;
        XSendEvent(FObserver, Win32XWindow(window), False, mask, &event);
    }
    Pump();
    EXPECT_EQ(SeenOf(WM_MOUSEENTER).size(), 1u);
    EXPECT_EQ(SeenOf(WM_MOUSELEAVE).size(), 1u);
}

TEST_F(WinUserX11Test, KeysGoToTheTopLevelWindowWithCharacters) {
    const HWND form = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100);
    const HWND view = Create(PlainClass, WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, form);
    Pump();
    Seen().clear();
    SendKey(Win32XWindow(view), XK_a, 0);
    SendKey(Win32XWindow(form), XK_plus, ShiftMask);
    SendKey(Win32XWindow(form), XK_KP_Left, 0);
    Pump();
    const std::vector<TSeen> downs = SeenOf(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 3u);
    EXPECT_EQ(downs[0].Window, form);
    EXPECT_EQ(downs[0].WParam, WPARAM('A'));
    EXPECT_EQ(downs[2].WParam, VK_LEFT);
    const std::vector<TSeen> chars = SeenOf(WM_CHAR);
    ASSERT_EQ(chars.size(), 2u); // nothing for the keypad arrow
    EXPECT_EQ(chars[0].Window, form);
    EXPECT_EQ(chars[0].WParam, WPARAM('a'));
    EXPECT_EQ(chars[1].WParam, WPARAM('+'));
}

TEST_F(WinUserX11Test, ButtonsCarryStateAndHoldTheCapture) {
    const HWND form = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100);
    const HWND view = Create(PlainClass, WS_CHILD | WS_VISIBLE, 10, 10, 80, 80, form);
    Pump();
    Seen().clear();
    SendButton(Win32XWindow(view), ButtonPress, Button1, ShiftMask, 5, 6);
    Pump();
    ASSERT_EQ(SeenOf(WM_LBUTTONDOWN).size(), 1u);
    EXPECT_EQ(SeenOf(WM_LBUTTONDOWN)[0].Window, view);
    EXPECT_EQ(SeenOf(WM_LBUTTONDOWN)[0].WParam, MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(SeenOf(WM_LBUTTONDOWN)[0].LParam, MAKELPARAM(5, 6));
    EXPECT_EQ(GetCapture(), view);
    SendButton(Win32XWindow(view), ButtonRelease, Button1, Button1Mask, -3, 7);
    Pump();
    ASSERT_EQ(SeenOf(WM_LBUTTONUP).size(), 1u);
    EXPECT_EQ(SeenOf(WM_LBUTTONUP)[0].WParam, 0u);
    EXPECT_EQ(GET_X_LPARAM(SeenOf(WM_LBUTTONUP)[0].LParam), -3);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(WinUserX11Test, DeleteWindowRequestClosesTheWindow) {
    const HWND window = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100);
    Pump();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Win32XWindow(window);
    event.xclient.message_type = XInternAtom(FObserver, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(FObserver, "WM_DELETE_WINDOW", False));
    XSendEvent(FObserver, Win32XWindow(window), False, NoEventMask, &event);
    Pump();
    EXPECT_EQ(SeenOf(WM_CLOSE).size(), 1u);
    EXPECT_FALSE(IsWindow(window)); // DefWindowProc destroyed it
}

// Another client may destroy a window: it goes as DestroyWindow takes it (the child first, as X
// reports them), nothing more is asked of its X windows (no X error), and a message without a
// window wakes whoever waits for messages, such as the modal loop of a box that went.
TEST_F(WinUserX11Test, AWindowDestroyedByAnotherClientGoes) {
    const HWND form = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100);
    const HWND view = Create(PlainClass, WS_CHILD | WS_VISIBLE, 10, 10, 80, 80, form);
    Pump();
    Seen().clear();
    XDestroyWindow(FObserver, Win32XWindow(form));
    const std::vector<MSG> delivered = Pump();
    const std::vector<TSeen> destroyed = SeenOf(WM_DESTROY);
    ASSERT_EQ(destroyed.size(), 2u);
    EXPECT_EQ(destroyed[0].Window, view);
    EXPECT_EQ(destroyed[1].Window, form);
    EXPECT_FALSE(IsWindow(form));
    EXPECT_FALSE(IsWindow(view));
    EXPECT_TRUE(std::any_of(delivered.begin(), delivered.end(),
                            [](const MSG& m) { return m.message == WM_NULL && !m.hwnd; }));
}

TEST_F(WinUserX11Test, NewVisualKeepsPropertiesChildrenAndEvents) {
    const HWND form =
        Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr, "Form1");
    const HWND view = Create(PlainClass, WS_CHILD | WS_VISIBLE, 10, 10, 80, 80, form);
    Pump();
    Display* display = Win32Display();
    XVisualInfo wanted{};
    ASSERT_TRUE(XMatchVisualInfo(display, Win32Screen(), 24, TrueColor, &wanted));
    const Colormap colormap =
        XCreateColormap(display, RootWindow(display, Win32Screen()), wanted.visual, AllocNone);
    const Window previous = Win32XWindow(form);
    const Window replacement = Win32SetWindowVisual(form, wanted.visual, 24, colormap);
    ASSERT_NE(replacement, 0u);
    EXPECT_NE(replacement, previous);
    EXPECT_EQ(Win32XWindow(form), replacement);
    Seen().clear();
    Pump();
    EXPECT_EQ(StringProperty(FObserver, replacement, "_NET_WM_NAME"), "Form1");
    XWindowAttributes attributes{};
    XGetWindowAttributes(FObserver, replacement, &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_EQ(attributes.visual->visualid, wanted.visualid);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(FObserver, Win32XWindow(view), &root, &parent, &children, &count);
    if (children)
        XFree(children);
    EXPECT_EQ(parent, replacement);
    EXPECT_FALSE(SeenOf(WM_PAINT).empty()); // the new window is exposed
    // The colormap goes with the window: asking it for a colour is then an X error.
    DestroyWindow(form);
    const int errors = Win32XErrorCount();
    XColor colour{};
    XQueryColor(display, colormap, &colour);
    XSync(display, False);
    EXPECT_EQ(Win32XErrorCount(), errors + 1);
    FErrorsBefore = Win32XErrorCount();
}

TEST_F(WinUserX11Test, XErrorsAreCountedNotFatal) {
    const int before = Win32XErrorCount();
    XMapWindow(Win32Display(), 0x7FFFFFF0);
    XSync(Win32Display(), False);
    EXPECT_EQ(Win32XErrorCount(), before + 1);
    FErrorsBefore = Win32XErrorCount();
}

// Runs in a child process while the parent sits in MessageBox: finds the box, reports what it
// carries through `report`, types at the main window (which must not get it), then presses
// Return in the box. Gives up after about ten seconds.
[[noreturn]] void AnswerMessageBox(Window mainWindow, int report) {
    Display* display = XOpenDisplay(nullptr);
    const Atom textAtom = display ? XInternAtom(display, "_SKYVIEW_MESSAGE_TEXT", False) : 0;
    for (int attempt = 0; display && attempt < 500; ++attempt, usleep(20000)) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
        Window box = 0;
        for (unsigned i = 0; i < count && !box; ++i) {
            int items = 0;
            Atom* properties = XListProperties(display, children[i], &items);
            for (int p = 0; p < items; ++p)
                box = properties[p] == textAtom ? children[i] : box;
            if (properties)
                XFree(properties);
        }
        if (children)
            XFree(children);
        if (!box)
            continue;
        Window owner = 0;
        XGetTransientForHint(display, box, &owner);
        std::string text = StringProperty(display, box, "_SKYVIEW_MESSAGE_TEXT");
        text += owner == mainWindow ? "|owned" : "|unowned";
        (void)!write(report, text.data(), text.size());
        for (Window target : {mainWindow, box}) {
            XEvent event{};
            event.xkey.type = KeyPress;
            event.xkey.window = target;
            event.xkey.root = DefaultRootWindow(display);
            event.xkey.keycode = XKeysymToKeycode(display, target == box ? XK_Return : XK_x);
            event.xkey.same_screen = True;
            XSendEvent(display, target, False, KeyPressMask, &event);
        }
        XSync(display, False);
        _exit(0);
    }
    _exit(1);
}

TEST_F(WinUserX11Test, MessageBoxIsModalAndCarriesItsText) {
    const HWND form = Create(PlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100);
    Pump();
    Seen().clear();
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    XSync(Win32Display(), False);
    const pid_t helper = fork();
    ASSERT_GE(helper, 0);
    if (helper == 0) {
        close(channel[0]);
        AnswerMessageBox(Win32XWindow(form), channel[1]);
    }
    close(channel[1]);
    alarm(60); // the helper always answers; this only keeps a broken build from hanging
    const int result = MessageBox(form, "Cannot open \"Anime-Pause.3ds\"\nSecond line", "skyview",
                                  MB_OK | MB_ICONERROR);
    alarm(0);
    char buffer[256] = {};
    const ssize_t length = read(channel[0], buffer, sizeof(buffer) - 1);
    close(channel[0]);
    int status = 0;
    waitpid(helper, &status, 0);
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(buffer), "Cannot open \"Anime-Pause.3ds\"\nSecond line|owned");
    EXPECT_EQ(MessageBoxRecord().Caption, "skyview");
    Pump();
    EXPECT_TRUE(SeenOf(WM_KEYDOWN).empty()); // typed at the main window while the box was up
}

} // namespace
