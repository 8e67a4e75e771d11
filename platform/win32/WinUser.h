// The window manager: window classes, windows, the message queue, painting, hooks, device
// contexts, message boxes and a few system services, on Xlib.
//
// Windows live in this layer's own table; each one is backed by an X window when a display is
// open. In headless mode (unit tests) no display is used at all: windows, messages, hooks and
// device contexts all work, nothing is shown and the queue never blocks.
#pragma once

#include "platform/win32/WinTypes.h"

#include <string>

// Selects headless mode; must be called before the first window is created.
void Win32SetHeadless(bool headless);
bool Win32IsHeadless();

// Classes and windows.
ATOM RegisterClassEx(const WNDCLASSEX* windowClass);
BOOL UnregisterClass(LPCSTR className, HINSTANCE instance);
BOOL GetClassInfoEx(HINSTANCE instance, LPCSTR className, WNDCLASSEX* windowClass);
HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                    void* param);
BOOL DestroyWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsChild(HWND parent, HWND window);
HWND GetParent(HWND window);
BOOL SetWindowPos(HWND window, int x, int y, int width, int height); // client size for children
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect); // screen coordinates of the client area
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
BOOL SetWindowText(HWND window, LPCSTR text);
std::string GetWindowText(HWND window);
intptr_t SetWindowLongPtr(HWND window, int index, intptr_t value);
intptr_t GetWindowLongPtr(HWND window, int index);
DWORD GetWindowStyle(HWND window);
DWORD GetClassStyle(HWND window);

// Messages.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL GetMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax);
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
BOOL PeekMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessage(const MSG* message);
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProc(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Painting.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
BOOL UpdateWindow(HWND window);
BOOL GetUpdateRect(HWND window, RECT* rect, BOOL erase);
// Fills a window's client area with a colour (the stand-in for the class background brush).
BOOL FillClientRect(HWND window, COLORREF colour);

// Device contexts of windows.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HWND WindowFromDC(HDC dc);

// Hooks (WH_CALLWNDPROC only: called for every sent message before it reaches its window).
HHOOK SetWindowsHookEx(int hookType, HOOKPROC procedure, HINSTANCE module, DWORD threadId);
BOOL UnhookWindowsHookEx(HHOOK hook);
LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);
DWORD GetCurrentThreadId();

// Mouse capture (X's implicit pointer grab while a button is held).
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

// Errors.
DWORD GetLastError();
void SetLastError(DWORD code);
std::string SysErrorMessage(DWORD code); // the system's text for an error code

// System services.
COLORREF GetSysColor(int index);
BOOL QueryPerformanceCounter(int64_t* count);
BOOL QueryPerformanceFrequency(int64_t* frequency);
int GetScreenDpi(); // pixels per logical inch of the screen (96 on our machines)

// A modal box with an OK button; Enter, Escape or a click on OK closes it. Its window carries
// the text in the _SKYVIEW_MESSAGE_TEXT property (UTF-8) so that tests can read it back.
int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// In headless mode MessageBox shows nothing; it remembers what it would have shown.
struct TMessageBoxRecord {
    std::string Text;
    std::string Caption;
    int Count = 0;
};
const TMessageBoxRecord& LastMessageBox();
void ResetMessageBoxRecord();
