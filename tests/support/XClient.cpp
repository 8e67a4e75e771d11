#include "tests/support/XClient.h"
#include "tests/support/PngFile.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

// Xlib has one error handler per process: errors on the test's own connections are counted
// here, the others go to the handler that was there before (the program's own).
int OwnErrors = 0;
XErrorHandler PreviousHandler = nullptr;
std::vector<Display*> OwnDisplays;

int CountError(Display* display, XErrorEvent* error) {
    if (std::find(OwnDisplays.begin(), OwnDisplays.end(), display) != OwnDisplays.end() ||
        !PreviousHandler) {
        ++OwnErrors;
        return 0;
    }
    return PreviousHandler(display, error);
}

// A channel of a true-colour pixel scaled to 8 bits, whatever its mask (8 bits on a 24-bit
// screen, 5 or 6 on a 16-bit one).
uint8_t Channel(unsigned long pixel, unsigned long mask) {
    if (!mask)
        return 0;
    const int shift = std::countr_zero(mask);
    const unsigned long maximum = mask >> shift;
    return static_cast<uint8_t>((((pixel & mask) >> shift) * 255 + maximum / 2) / maximum);
}

TRgb ToRgb(const XImage& image, unsigned long pixel) {
    return {Channel(pixel, image.red_mask), Channel(pixel, image.green_mask),
            Channel(pixel, image.blue_mask)};
}

} // namespace

struct TXClient::TImpl {
    Display* Dpy = nullptr;
};

TXClient::TXClient(const char* display) : FImpl(new TImpl) {
    FImpl->Dpy = XOpenDisplay(display);
    if (!FImpl->Dpy) {
        delete FImpl;
        throw std::runtime_error("no X display");
    }
    OwnDisplays.push_back(FImpl->Dpy);
    XErrorHandler previous = XSetErrorHandler(&CountError);
    if (previous != &CountError)
        PreviousHandler = previous;
}

TXClient::~TXClient() {
    OwnDisplays.erase(std::find(OwnDisplays.begin(), OwnDisplays.end(), FImpl->Dpy));
    XCloseDisplay(FImpl->Dpy);
    delete FImpl;
}

int TXClient::ErrorCount() const {
    return OwnErrors;
}

void TXClient::Sync() {
    XSync(FImpl->Dpy, False);
}

std::string TXClient::Title(unsigned long window) {
    char* name = nullptr;
    std::string title;
    if (XFetchName(FImpl->Dpy, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

std::vector<TWindowInfo> TXClient::Children(unsigned long window) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::vector<TWindowInfo> result;
    if (!XQueryTree(FImpl->Dpy, window, &root, &parent, &children, &count))
        return result;
    for (unsigned i = 0; i < count; ++i)
        result.push_back(Geometry(children[i]));
    if (children)
        XFree(children);
    return result;
}

TWindowInfo TXClient::Geometry(unsigned long window) {
    XWindowAttributes attributes{};
    TWindowInfo info;
    info.Id = window;
    if (XGetWindowAttributes(FImpl->Dpy, window, &attributes)) {
        info.X = attributes.x;
        info.Y = attributes.y;
        info.Width = attributes.width;
        info.Height = attributes.height;
    }
    return info;
}

std::optional<TWindowInfo> TXClient::FindWindow(const std::string& title) {
    std::vector<unsigned long> pending{DefaultRootWindow(FImpl->Dpy)};
    while (!pending.empty()) {
        const unsigned long window = pending.back();
        pending.pop_back();
        if (Title(window) == title) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(FImpl->Dpy, window, &attributes) &&
                attributes.map_state == IsViewable)
                return Geometry(window);
        }
        for (const TWindowInfo& child : Children(window))
            pending.push_back(child.Id);
    }
    return std::nullopt;
}

std::optional<TWindowInfo> TXClient::WaitForWindow(const std::string& title, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto found = FindWindow(title))
            return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

std::optional<std::string> TXClient::TextProperty(unsigned long window,
                                                  const std::string& property) {
    const Atom atom = XInternAtom(FImpl->Dpy, property.c_str(), True);
    if (atom == None)
        return std::nullopt;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(FImpl->Dpy, window, atom, 0, 1 << 20, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) != Success ||
        !data)
        return std::nullopt;
    std::string text(reinterpret_cast<char*>(data), count);
    XFree(data);
    return text;
}

std::vector<TRgb> TXClient::Capture(unsigned long window, int& width, int& height) {
    const TWindowInfo info = Geometry(window);
    width = info.Width;
    height = info.Height;
    XImage* image = XGetImage(FImpl->Dpy, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        throw std::runtime_error("cannot read the window's pixels");
    std::vector<TRgb> pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(ToRgb(*image, XGetPixel(image, x, y)));
    XDestroyImage(image);
    return pixels;
}

TRgb TXClient::Pixel(unsigned long window, int x, int y) {
    XImage* image = XGetImage(FImpl->Dpy, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        throw std::runtime_error("cannot read the window's pixel");
    const TRgb rgb = ToRgb(*image, XGetPixel(image, 0, 0));
    XDestroyImage(image);
    return rgb;
}

void TXClient::SavePng(unsigned long window, const std::string& name) {
    int width = 0, height = 0;
    const std::vector<TRgb> pixels = Capture(window, width, height);
    std::filesystem::create_directories(SKYVIEW_TEST_OUTPUT);
    WritePng(std::string(SKYVIEW_TEST_OUTPUT) + "/" + name, pixels, width, height);
}

void TXClient::Scribble(unsigned long window, int x, int y, int width, int height) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(FImpl->Dpy, window, &attributes))
        throw std::runtime_error("no such window");
    // Full red and blue in whatever true-colour visual the window has.
    XGCValues values{};
    values.foreground = attributes.visual->red_mask | attributes.visual->blue_mask;
    const GC gc = XCreateGC(FImpl->Dpy, window, GCForeground, &values);
    XFillRectangle(FImpl->Dpy, window, gc, x, y, static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
    XFreeGC(FImpl->Dpy, gc);
    XSync(FImpl->Dpy, False);
}

void TXClient::SendClose(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(FImpl->Dpy, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(FImpl->Dpy, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(FImpl->Dpy, window, False, NoEventMask, &event);
    XFlush(FImpl->Dpy);
}

void TXClient::DestroyWindow(unsigned long window) {
    XDestroyWindow(FImpl->Dpy, window);
    XFlush(FImpl->Dpy);
}

void TXClient::SendKey(unsigned long window, const std::string& keysym) {
    XEvent event{};
    event.xkey.display = FImpl->Dpy;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(FImpl->Dpy);
    event.xkey.same_screen = True;
    const KeySym sym = XStringToKeysym(keysym.c_str());
    event.xkey.keycode = XKeysymToKeycode(FImpl->Dpy, sym);
    // A symbol on its key's second level ("plus", upper-case letters) needs Shift.
    if (XLookupKeysym(&event.xkey, 0) != sym && XLookupKeysym(&event.xkey, 1) == sym)
        event.xkey.state = ShiftMask;
    for (int type : {KeyPress, KeyRelease}) {
        event.type = type;
        XSendEvent(FImpl->Dpy, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                   &event);
    }
    XFlush(FImpl->Dpy);
}

void TXClient::SendButton(unsigned long window, int x, int y, int button, bool press) {
    XEvent event{};
    event.type = press ? ButtonPress : ButtonRelease;
    event.xbutton.display = FImpl->Dpy;
    event.xbutton.window = window;
    event.xbutton.root = DefaultRootWindow(FImpl->Dpy);
    event.xbutton.x = x;
    event.xbutton.y = y;
    event.xbutton.button = static_cast<unsigned>(button);
    event.xbutton.same_screen = True;
    event.xbutton.state = press ? 0 : (Button1Mask << (button - 1));
    XSendEvent(FImpl->Dpy, window, True, press ? ButtonPressMask : ButtonReleaseMask, &event);
    XFlush(FImpl->Dpy);
}

void TXClient::SendMotion(unsigned long window, int x, int y, unsigned buttonMask) {
    XEvent event{};
    event.type = MotionNotify;
    event.xmotion.display = FImpl->Dpy;
    event.xmotion.window = window;
    event.xmotion.root = DefaultRootWindow(FImpl->Dpy);
    event.xmotion.x = x;
    event.xmotion.y = y;
    event.xmotion.state = buttonMask;
    event.xmotion.same_screen = True;
    XSendEvent(FImpl->Dpy, window, True, PointerMotionMask | ButtonMotionMask, &event);
    XFlush(FImpl->Dpy);
}

void TXClient::MoveWindow(unsigned long window, int x, int y) {
    XMoveWindow(FImpl->Dpy, window, x, y);
    XFlush(FImpl->Dpy);
}

void TXClient::ResizeWindow(unsigned long window, int width, int height) {
    XResizeWindow(FImpl->Dpy, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(FImpl->Dpy);
}
