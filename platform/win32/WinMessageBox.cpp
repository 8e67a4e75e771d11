// MessageBox: a modal top-level window with the text, drawn with a core X font, and an OK button.
#include "platform/win32/WinUser.h"

#include "platform/win32/WinUserState.h"
#include "platform/win32/WinX11.h"

#include <X11/Xatom.h>

#include <algorithm>

namespace {

const char* const MessageBoxClass = "SkyviewMessageBox";
const char* const FontNames[] = {"-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso8859-1", "fixed"};
constexpr int Margin = 14;
constexpr int MaxTextWidth = 480;
constexpr int MinWidth = 220;
constexpr int ButtonWidth = 80;
constexpr int ButtonHeight = 26;
constexpr int FallbackCharWidth = 6;
constexpr int FallbackLineHeight = 13;

class TXFont {
public:
    explicit TXFont(Display* display) : FDisplay(display) {
        for (const char* name : FontNames)
            if ((FFont = XLoadQueryFont(display, name)))
                return;
    }
    ~TXFont() {
        if (FFont)
            XFreeFont(FDisplay, FFont);
    }
    TXFont(const TXFont&) = delete;
    TXFont& operator=(const TXFont&) = delete;

    const XFontStruct* Get() const { return FFont; }
    int Width(std::string_view text) const {
        if (!FFont)
            return static_cast<int>(text.size()) * FallbackCharWidth;
        return XTextWidth(FFont, text.data(), static_cast<int>(text.size()));
    }
    int Ascent() const { return FFont ? FFont->ascent : FallbackLineHeight - 2; }
    int LineHeight() const { return FFont ? FFont->ascent + FFont->descent : FallbackLineHeight; }

private:
    Display* FDisplay;
    XFontStruct* FFont = nullptr;
};

// What one message box shows, and whether it has been answered.
struct TMessageBoxState {
    TMessageBoxState(Display* display, std::string_view text) : Dpy(display), Font(display) {
        Lines = Win32WrapText(Win32Utf8ToLatin1(text), MaxTextWidth,
                              [this](std::string_view line) { return Font.Width(line); });
        int textWidth = 0;
        for (const std::string& line : Lines)
            textWidth = std::max(textWidth, Font.Width(line));
        Width = std::max(textWidth + 2 * Margin, MinWidth);
        const int textBottom = Margin + static_cast<int>(Lines.size()) * Font.LineHeight();
        Button = {(Width - ButtonWidth) / 2, textBottom + Margin, (Width + ButtonWidth) / 2,
                  textBottom + Margin + ButtonHeight};
        Height = Button.bottom + Margin;
    }

    Display* Dpy;
    TXFont Font;
    std::vector<std::string> Lines;
    int Width = 0;
    int Height = 0;
    RECT Button{};
    bool Done = false;
};

TMessageBoxState* StateOf(HWND window) {
    return reinterpret_cast<TMessageBoxState*>(GetWindowLongPtr(window, GWLP_USERDATA));
}

void DrawCentred(Display* display, Window xwindow, GC gc, const TMessageBoxState& s,
                 const RECT& box, const std::string& text) {
    const int x = box.left + (box.right - box.left - s.Font.Width(text)) / 2;
    const int y = box.top + (box.bottom - box.top - s.Font.LineHeight()) / 2 + s.Font.Ascent();
    XDrawString(display, xwindow, gc, x, y, text.data(), static_cast<int>(text.size()));
}

void Paint(HWND window, const TMessageBoxState& s) {
    PAINTSTRUCT paint{};
    BeginPaint(window, &paint);
    FillClientRect(window, GetSysColor(COLOR_BTNFACE));
    Display* display = s.Dpy;
    const Window xwindow = Win32XWindow(window);
    TXGC gc(display, xwindow, s.Font.Get());
    XSetForeground(display, gc.Get(), BlackPixel(display, Win32Screen()));
    int baseline = Margin + s.Font.Ascent();
    for (const std::string& line : s.Lines) {
        XDrawString(display, xwindow, gc.Get(), Margin, baseline, line.data(),
                    static_cast<int>(line.size()));
        baseline += s.Font.LineHeight();
    }
    const RECT& b = s.Button;
    XDrawRectangle(display, xwindow, gc.Get(), b.left, b.top,
                   static_cast<unsigned>(b.right - b.left - 1),
                   static_cast<unsigned>(b.bottom - b.top - 1));
    DrawCentred(display, xwindow, gc.Get(), s, b, "OK");
    XFlush(display);
    EndPaint(window, &paint);
}

bool InButton(const TMessageBoxState& s, LPARAM position) {
    const int x = GET_X_LPARAM(position), y = GET_Y_LPARAM(position);
    return x >= s.Button.left && x < s.Button.right && y >= s.Button.top && y < s.Button.bottom;
}

LRESULT MessageBoxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TMessageBoxState* s = StateOf(window);
    if (!s)
        return DefWindowProc(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        Paint(window, *s);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYDOWN:
        if (wParam == VK_RETURN || wParam == VK_ESCAPE || wParam == VK_SPACE)
            s->Done = true;
        return 0;
    case WM_LBUTTONUP:
        if (InButton(*s, lParam))
            s->Done = true;
        return 0;
    case WM_CLOSE:
        s->Done = true;
        return 0;
    default:
        return DefWindowProc(window, message, wParam, lParam);
    }
}

void RegisterMessageBoxClass() {
    WNDCLASSEX windowClass{};
    if (GetClassInfoEx(nullptr, MessageBoxClass, &windowClass))
        return;
    windowClass = {sizeof(WNDCLASSEX),
                   0,
                   MessageBoxProcedure,
                   nullptr,
                   reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1)),
                   MessageBoxClass};
    RegisterClassEx(&windowClass);
}

// Marks the window as a dialog and puts the text where tools and tests can read it.
void SetDialogProperties(Display* display, Window xwindow, std::string_view text) {
    const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    const Atom dialog = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    const Atom messageText = XInternAtom(display, "_SKYVIEW_MESSAGE_TEXT", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, xwindow, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dialog), 1);
    XChangeProperty(display, xwindow, messageText, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
}

HWND CreateMessageBoxWindow(Display* display, HWND owner, LPCSTR caption, TMessageBoxState& state) {
    RegisterMessageBoxClass();
    const int screen = Win32Screen();
    const int x = std::max(0, (DisplayWidth(display, screen) - state.Width) / 2);
    const int y = std::max(0, (DisplayHeight(display, screen) - state.Height) / 2);
    const HWND window = CreateWindowEx(
        0, MessageBoxClass, caption, WS_POPUP | WS_CAPTION | WS_SYSMENU, x, y, state.Width,
        state.Height, IsWindow(owner) ? owner : nullptr, nullptr, nullptr, nullptr);
    if (window)
        SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<intptr_t>(&state));
    return window;
}

// Runs the box until it is answered; false when a WM_QUIT came meanwhile (its code in exitCode).
bool RunModalLoop(HWND window, const TMessageBoxState& state, int& exitCode) {
    MSG message{};
    while (!state.Done && IsWindow(window)) {
        if (!GetMessage(&message, nullptr, 0, 0)) {
            if (message.message != WM_QUIT)
                return true; // nothing can arrive any more
            exitCode = static_cast<int>(message.wParam);
            return false;
        }
        DispatchMessage(&message);
    }
    return true;
}

int ShowMessageBox(Display* display, HWND owner, LPCSTR text, LPCSTR caption) {
    TMessageBoxState state(display, text);
    const HWND window = CreateMessageBoxWindow(display, owner, caption, state);
    if (!window)
        return 0;
    SetDialogProperties(display, Win32XWindow(window), text);
    ShowWindow(window, SW_SHOW);
    auto& wm = TWindowManager::Instance();
    const HWND outerModal = wm.ModalWindow;
    wm.ModalWindow = window;
    int exitCode = 0;
    const bool answered = RunModalLoop(window, state, exitCode);
    wm.ModalWindow = outerModal;
    DestroyWindow(window);
    if (!answered)
        PostQuitMessage(exitCode);
    return IDOK;
}

} // namespace

int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT) {
    TMessageBoxRecord& record = TWindowManager::Instance().LastMessageBox;
    record.Text = text ? text : "";
    record.Caption = caption ? caption : "";
    ++record.Count;
    if (Win32IsHeadless())
        return IDOK;
    Display* display = Win32Display();
    if (!display) {
        SetLastError(ERROR_DISPLAY_NOT_AVAILABLE);
        return 0;
    }
    // The record may change while the box runs (a box opened from a paint), so keep copies.
    const std::string shownText = record.Text;
    const std::string shownCaption = record.Caption;
    return ShowMessageBox(display, owner, shownText.c_str(), shownCaption.c_str());
}
