// Internal to the platform layer: what the GDI/WGL module needs of the window manager's X11
// side and of its device-context table. Never included outside platform/.
#pragma once

#include "platform/win32/WinTypes.h"

#include <X11/Xlib.h>

// The display (opened on first use); nullptr in headless mode or when no display can be opened.
Display* Win32Display();
int Win32Screen();
// The X window currently backing a window; 0 when there is none (headless, or not a window).
Window Win32XWindow(HWND window);
// Re-creates the window's X window with another visual (X fixes a window's visual at creation):
// same parent, geometry, mapping state, properties and event mask; returns the new X window.
// The window takes the colormap and frees it with its X window.
Window Win32SetWindowVisual(HWND window, Visual* visual, int depth, Colormap colormap);

// Pixel format bookkeeping kept in the window record (0 = none set yet).
int Win32WindowPixelFormat(HWND window);
void Win32SetWindowPixelFormat(HWND window, int pixelFormat);

// An X graphics context for one fill or drawing, without exposure events, with the font if one
// is given; freed with its scope.
class TXGC {
public:
    TXGC(Display* display, Drawable drawable, const XFontStruct* font = nullptr);
    ~TXGC() { XFreeGC(FDisplay, FGC); }
    TXGC(const TXGC&) = delete;
    TXGC& operator=(const TXGC&) = delete;
    GC Get() const { return FGC; }

private:
    Display* FDisplay;
    GC FGC;
};

// Device contexts that are not a window's (pbuffers, memory DCs): created and deleted by GDI.
HDC Win32CreateDC(DWORD objectType, uintptr_t drawable);
void Win32DeleteDC(HDC dc);
// OBJ_DC for a window's DC, the given type for the others, 0 for an invalid handle.
DWORD Win32DCType(HDC dc);
uintptr_t Win32DCDrawable(HDC dc); // the X drawable of a non-window DC
int Win32DCPixelFormat(HDC dc);    // pixel format of a non-window DC (pbuffers)
void Win32SetDCPixelFormat(HDC dc, int pixelFormat);
