#include "platform/win32/WinGDI.h"

// Stand-in until the GLX-backed pixel formats and WGL are in place: the table starts empty and
// tests install what they need.
TGdiEntryPoints GdiEntryPoints;

const TGdiEntryPoints& NativeGdiEntryPoints() {
    static const TGdiEntryPoints empty;
    return empty;
}
