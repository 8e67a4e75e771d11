// Private to the window manager's sources: its tables, and what its modules (WinUser.cpp, the
// X11 side in WinX11.cpp, the message box in WinMessageBox.cpp) call of one another.
#pragma once

#include "platform/win32/WinUser.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TWindowClassRecord {
    std::string Name;
    UINT Style = 0;
    WNDPROC Procedure = nullptr;
    HINSTANCE Instance = nullptr;
    HBRUSH Background = nullptr;
    ATOM Atom = 0;
};

struct TWindowRecord {
    HWND Handle = nullptr;
    std::string ClassKey;
    UINT ClassStyle = 0;
    HBRUSH Background = nullptr;
    WNDPROC Procedure = nullptr;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    HWND Parent = nullptr; // child windows only
    HWND Owner = nullptr;  // top-level windows created with a parent
    std::vector<HWND> Children;
    // Client area: position in the parent's client area (on the screen for top-level windows).
    int X = 0, Y = 0, Width = 0, Height = 0;
    bool DefaultPosition = false;
    bool Visible = false;
    bool Destroying = false;
    bool PointerInside = false;
    std::string Text;
    intptr_t UserData = 0;
    bool UpdatePending = false;
    bool UpdateErase = false;
    RECT Update{};
    HDC OwnDC = nullptr;
    int PixelFormat = 0;
    unsigned long XWindow = 0;   // the backing X window, 0 when headless
    unsigned long XColormap = 0; // the colormap of its own visual, 0 for the parent's
};

struct TDCRecord {
    DWORD Type = 0;
    HWND Window = nullptr;  // null for screen and non-window DCs
    bool WindowDC = false;  // a window's or the screen's, as opposed to GDI's own
    bool Private = false;   // a CS_OWNDC window's
    uintptr_t Drawable = 0; // non-window DCs: the X drawable
    int PixelFormat = 0;    // non-window DCs
};

struct THookRecord {
    HHOOK Handle = nullptr;
    HOOKPROC Procedure = nullptr;
    bool Removed = false; // removed while a chain runs; purged when no chain is running
};

// Every MessageBox call is remembered here (in headless mode it shows nothing else).
struct TMessageBoxRecord {
    std::string Text;
    std::string Caption;
    int Count = 0;
};

struct TX11Connection; // WinX11.cpp

// The process-wide tables of the window manager; everything it knows lives here.
class TWindowManager {
public:
    static TWindowManager& Instance();
    TWindowManager();
    ~TWindowManager();
    TWindowManager(const TWindowManager&) = delete;
    TWindowManager& operator=(const TWindowManager&) = delete;

    TWindowRecord* FindWindow(HWND window) const;
    TDCRecord* FindDC(HDC dc);

    bool Headless = false;
    std::map<std::string, TWindowClassRecord> Classes; // by lower-case name
    std::map<uintptr_t, std::unique_ptr<TWindowRecord>> Windows;
    std::map<uintptr_t, TDCRecord> DCs;
    std::vector<THookRecord> Hooks; // oldest first; chains run from the back
    int HookDepth = 0;
    int HookCursor = -1; // index of the hook whose procedure is running
    std::deque<MSG> Posted;
    std::deque<MSG> Input;
    bool QuitPending = false;
    int QuitCode = 0;
    HWND Capture = nullptr;
    HWND ModalWindow = nullptr; // while a message box runs, only it gets input
    TMessageBoxRecord LastMessageBox;
    int XErrorCount = 0;
    uintptr_t NextWindow = 1;
    uintptr_t NextDC = 1;
    uintptr_t NextHook = 1;
    ATOM NextAtom = 0xC000;
    std::unique_ptr<TX11Connection> X;
};

// Helpers of WinUser.cpp for the other modules.
HWND Win32TopLevelOf(HWND window);
void Win32PostInput(const MSG& message);
// Records a new client geometry and sends WM_SIZE / WM_MOVE for what changed.
void Win32SetGeometry(HWND window, int x, int y, int width, int height);
DWORD Win32TickCount();

// Text helpers.
std::string Win32Utf8ToLatin1(std::string_view text);
// Breaks text into lines no wider than maxWidth: at line breaks ("\n", "\r\n" or a lone "\r",
// as Windows draws them), between words, and inside words too long for a line.
std::vector<std::string> Win32WrapText(std::string_view text, int maxWidth,
                                       const std::function<int(std::string_view)>& measure);

// The X11 side (WinX11.cpp). Without a connection, or for a window without an X window, each
// of these does nothing.
bool X11Connected(); // a display is open (it is never opened in headless mode)
bool X11Open();      // opens the display if needed; false when none can be opened
void X11CreateWindow(TWindowRecord& record);
void X11DestroyWindow(const TWindowRecord& record); // the X window and its subwindows
void X11ForgetWindow(const TWindowRecord& record);  // its X window died with an ancestor's
void X11ShowWindow(const TWindowRecord& record, bool show);
void X11MoveResizeWindow(const TWindowRecord& record);
void X11SetWindowText(const TWindowRecord& record);
void X11FillRect(const TWindowRecord& record, const RECT& rect, COLORREF colour);
void X11DispatchPending(); // turns every event already received into messages
void X11WaitForEvents();   // blocks until the X connection has something to read
