// The window manager: window classes, windows, the message queue, painting, hooks, device
// contexts, message boxes and a few system services, on Xlib.
//
// Windows live in this layer's own table; each one is backed by an X window when a display is
// open. In headless mode (unit tests) no display is used at all: windows, messages, hooks and
// device contexts all work, nothing is shown and the queue never blocks.
//
// Where X differs from Windows:
// - There is no non-client frame: the size given to CreateWindowEx and SetWindowPos is the
//   client size, and the position of a top-level window is that of its client area on
//   the screen (the window manager's frame lies outside it). A top-level window created at
//   CW_USEDEFAULT is placed by the window manager; a CW_USEDEFAULT size is 640 x 480.
// - Window handles are never reused: a destroyed window's handle stays invalid for good.
// - WM_CREATE's lParam points at a CREATESTRUCT whose lpCreateParams is CreateWindowEx's param;
//   a window procedure that returns -1 from WM_CREATE makes the creation fail. WM_SIZE and
//   WM_MOVE follow WM_CREATE.
// - The class background (WNDCLASSEX::hbrBackground) is either a system colour index + 1, as in
//   (HBRUSH)(COLOR_BTNFACE + 1), or a colour made with Win32ColorBrush; DefWindowProc's
//   WM_ERASEBKGND fills the client area with it and returns 1 (0 when the class has none).
// - Hidden windows get no WM_PAINT: their update region waits until they are shown, and showing
//   a window invalidates it.
// - Key messages go to the top-level window that has the keyboard focus, never to a child.
//   WM_CHAR is generated with WM_KEYDOWN (one per character the key produces), so
//   TranslateMessage does nothing and returns FALSE.
// - Class names are case-insensitive; hInstance arguments are ignored.
#pragma once

#include "platform/win32/WinTypes.h"

#include <string>

// Headless mode is chosen by setting TWindowManager::Headless before the first window exists.
bool Win32IsHeadless();
// Opens the X display if it is not open yet; false when it cannot be (always true headless).
bool Win32OpenDisplay();
// Whether the X display is open already (always true headless), without trying to open it.
bool Win32DisplayOpen();
// The display Xlib connects to: $DISPLAY, or "" when it is not set.
std::string Win32DisplayName();

// Classes and windows.
ATOM RegisterClassEx(const WNDCLASSEX* windowClass);
BOOL GetClassInfoEx(HINSTANCE instance, LPCSTR className, WNDCLASSEX* windowClass);
HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                    void* param);
BOOL DestroyWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsChild(HWND parent, HWND window);
// Moves and sizes the client area (position relative to the parent's client area for children,
// on the screen for top-level windows); sends WM_SIZE and WM_MOVE for what changed.
BOOL SetWindowPos(HWND window, int x, int y, int width, int height);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
// Sets the title directly (no WM_SETTEXT); an X window gets it as WM_NAME and _NET_WM_NAME.
BOOL SetWindowText(HWND window, LPCSTR text);
// GWLP_USERDATA and GWLP_WNDPROC can be set; GWL_STYLE and GWL_EXSTYLE can also be read.
intptr_t SetWindowLongPtr(HWND window, int index, intptr_t value);
intptr_t GetWindowLongPtr(HWND window, int index);

// Messages.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Order of delivery: posted messages (FIFO), input from the X server, WM_QUIT, then one WM_PAINT
// per window whose update region is not empty (it stays pending until the window is validated).
// GetMessage waits on the X connection when there is nothing to deliver; in headless mode, or
// without a display, it returns FALSE at once with a WM_NULL message instead of blocking.
BOOL GetMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax);
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
BOOL PeekMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessage(const MSG* message);
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Painting.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
// The update region is kept as its bounding rectangle within the client area.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
// Validates the whole window when rect is null or covers the update rectangle.
BOOL GetUpdateRect(HWND window, RECT* rect, BOOL erase);
// Fills a window's client area with a colour (the stand-in for the class background brush).
BOOL FillClientRect(HWND window, COLORREF colour);
// A class background brush that stands for a colour (see hbrBackground above).
HBRUSH Win32ColorBrush(COLORREF colour);

// Device contexts of windows. A window of a CS_OWNDC class keeps one private DC for its whole
// life (GetDC always returns it, ReleaseDC leaves it); other windows get a new DC per GetDC that
// ReleaseDC frees. GetDC(nullptr) gives a DC of the screen.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HWND WindowFromDC(HDC dc);

// Hooks (WH_CALLWNDPROC only: called for every sent message before it reaches its window, the
// most recently installed first; CallNextHookEx continues the chain being run, whatever hook it
// is given, as on Windows NT).
HHOOK SetWindowsHookEx(int hookType, HOOKPROC procedure, HINSTANCE module, DWORD threadId);
BOOL UnhookWindowsHookEx(HHOOK hook);
LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);
DWORD GetCurrentThreadId();

// Mouse capture (X's implicit pointer grab while a button is held: the window that got the
// button press has the capture until every button is up). SetCapture only records the window.
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

// Errors.
DWORD GetLastError();
void SetLastError(DWORD code);
// The system's text for an error code ("Unknown error N" for codes this layer does not know).
std::string SysErrorMessage(DWORD code);
// X errors seen since the display was opened: they are counted, never fatal.
int Win32XErrorCount();

// System services.
// The default palette of a current Windows desktop (COLOR_BTNFACE is 0x00F0F0F0, COLOR_WINDOW
// white, the text colours black); 0 for an unknown index.
COLORREF GetSysColor(int index);
// A monotonic clock in nanoseconds (the frequency is 1e9).
BOOL QueryPerformanceCounter(int64_t* count);
BOOL QueryPerformanceFrequency(int64_t* frequency);
int GetScreenDpi(); // pixels per logical inch of the screen (96 on our machines)

// A modal box with an OK button; Enter, Escape or a click on OK closes it. Its window carries
// the text in the _SKYVIEW_MESSAGE_TEXT property (UTF-8) so that tests can read it back. While
// it is up, other windows are still painted but get no keyboard or mouse input. Returns IDOK
// (0 when no display can be opened). A WM_QUIT that arrives meanwhile is posted again after it.
int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
