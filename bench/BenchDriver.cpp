// benchdriver: the second X client of bench/viewer-bench, which times the program from outside.
//
//   benchdriver pixel X Y              the screen's colour at (X, Y) as RRGGBB
//   benchdriver view TITLE SECONDS     root position "X Y" of the view (first child) of the
//                                      window with this title, once it is shown
//   benchdriver dismiss TITLE SECONDS  answers every message box of the program (its text is
//                                      printed) until the window with this title is shown;
//                                      prints "ready" once it watches
//   benchdriver keys TITLE COUNT LOG   types COUNT keys into that window, one at a time, each
//                                      once the frame of the one before has been presented
//                                      (a line more in the swap log LOG); prints the frames
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// Windows of the program come and go while they are looked at: a request about one that has
// just gone fails, and that is no reason to stop.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

class TConnection {
public:
    TConnection() : FDpy(XOpenDisplay(nullptr)) {
        if (!FDpy) {
            std::fprintf(stderr, "benchdriver: no X display\n");
            std::exit(2);
        }
        XSetErrorHandler(&IgnoreXError);
    }
    ~TConnection() { XCloseDisplay(FDpy); }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    Display* Dpy() const { return FDpy; }
    Window Root() const { return DefaultRootWindow(FDpy); }

    std::string Title(Window window) const {
        char* name = nullptr;
        std::string title;
        if (XFetchName(FDpy, window, &name) && name) {
            title = name;
            XFree(name);
        }
        return title;
    }

    bool Viewable(Window window) const {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(FDpy, window, &attributes) &&
               attributes.map_state == IsViewable;
    }

    std::vector<Window> Children(Window window) const {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        std::vector<Window> result;
        if (XQueryTree(FDpy, window, &root, &parent, &children, &count) && children) {
            result.assign(children, children + count);
            XFree(children);
        }
        return result;
    }

    // A shown top-level window with this title.
    std::optional<Window> Find(const std::string& title) const {
        for (Window window : Children(Root()))
            if (Title(window) == title && Viewable(window))
                return window;
        return std::nullopt;
    }

    std::optional<Window> WaitFor(const std::string& title, double seconds) const {
        const auto deadline = TClock::now() + std::chrono::duration<double>(seconds);
        while (TClock::now() < deadline) {
            if (auto found = Find(title))
                return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::nullopt;
    }

    std::optional<std::string> Text(Window window, const char* property) const {
        const Atom atom = XInternAtom(FDpy, property, True);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (atom == None ||
            XGetWindowProperty(FDpy, window, atom, 0, 1 << 16, False, AnyPropertyType, &type,
                               &format, &count, &after, &data) != Success ||
            !data)
            return std::nullopt;
        std::string text(reinterpret_cast<char*>(data), count);
        XFree(data);
        return text;
    }

    void Close(Window window) const {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(FDpy, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(FDpy, "WM_DELETE_WINDOW", False));
        XSendEvent(FDpy, window, False, NoEventMask, &event);
        XFlush(FDpy);
    }

    void Key(Window window, const char* keysym) const {
        XEvent event{};
        event.xkey.display = FDpy;
        event.xkey.window = window;
        event.xkey.root = Root();
        event.xkey.same_screen = True;
        event.xkey.keycode = XKeysymToKeycode(FDpy, XStringToKeysym(keysym));
        for (int type : {KeyPress, KeyRelease}) {
            event.type = type;
            XSendEvent(FDpy, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                       &event);
        }
        XFlush(FDpy);
    }

private:
    Display* FDpy;
};

int Pixel(int x, int y) {
    TConnection x11;
    XImage* image = XGetImage(x11.Dpy(), x11.Root(), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 1;
    std::printf("%06lx\n", XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return 0;
}

int View(const std::string& title, double seconds) {
    TConnection x11;
    const std::optional<Window> window = x11.WaitFor(title, seconds);
    if (!window)
        return 1;
    const std::vector<Window> children = x11.Children(*window);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(x11.Dpy(), children.empty() ? *window : children.front(), x11.Root(), 0,
                          0, &x, &y, &child);
    std::printf("%d %d\n", x, y);
    return 0;
}

// Message boxes are top-level windows that carry their text in a property of their own.
int Dismiss(const std::string& title, double seconds) {
    TConnection x11;
    XSelectInput(x11.Dpy(), x11.Root(), SubstructureNotifyMask);
    XSync(x11.Dpy(), False);
    std::printf("ready\n");
    std::fflush(stdout);
    int boxes = 0;
    const auto deadline = TClock::now() + std::chrono::duration<double>(seconds);
    while (TClock::now() < deadline && !x11.Find(title)) {
        while (XPending(x11.Dpy())) {
            XEvent event;
            XNextEvent(x11.Dpy(), &event);
            if (event.type != MapNotify)
                continue;
            if (auto text = x11.Text(event.xmap.window, "_SKYVIEW_MESSAGE_TEXT")) {
                std::printf("message: %s\n", text->c_str());
                std::fflush(stdout);
                x11.Close(event.xmap.window);
                ++boxes;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("boxes=%d\n", boxes);
    return 0;
}

size_t Lines(const std::string& path) {
    std::ifstream file(path);
    size_t lines = 0;
    for (std::string line; std::getline(file, line);)
        ++lines;
    return lines;
}

// Waits for the swap log to grow past `seen` lines; the new count, or `seen` after a timeout. The
// file is read again only when its size changed, so that waiting costs next to nothing.
size_t AwaitFrame(const std::string& log, size_t seen) {
    const auto deadline = TClock::now() + std::chrono::seconds(3);
    std::error_code error;
    const auto size = std::filesystem::file_size(log, error);
    while (TClock::now() < deadline) {
        const auto now = std::filesystem::file_size(log, error);
        if (!error && now != size) {
            const size_t lines = Lines(log);
            if (lines > seen)
                return lines;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return seen;
}

// Moves the red model right and back, so that every key changes the scene.
int Keys(const std::string& title, int count, const std::string& log) {
    TConnection x11;
    const std::optional<Window> window = x11.WaitFor(title, 10);
    if (!window)
        return 1;
    const size_t before = Lines(log);
    size_t seen = before;
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        x11.Key(*window, i % 2 == 0 ? "6" : "4");
        const size_t now = AwaitFrame(log, seen);
        answered += now > seen;
        seen = now;
    }
    std::printf("keys=%d answered=%d frames=%zu\n", count, answered, seen - before);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "pixel")
        return Pixel(std::atoi(args[1].c_str()), std::atoi(args[2].c_str()));
    if (args.size() == 3 && args[0] == "view")
        return View(args[1], std::atof(args[2].c_str()));
    if (args.size() == 3 && args[0] == "dismiss")
        return Dismiss(args[1], std::atof(args[2].c_str()));
    if (args.size() == 4 && args[0] == "keys")
        return Keys(args[1], std::atoi(args[2].c_str()), args[3]);
    std::fprintf(stderr, "usage: benchdriver pixel X Y | view TITLE SECONDS | dismiss TITLE "
                         "SECONDS | keys TITLE COUNT SWAPLOG\n");
    return 2;
}
