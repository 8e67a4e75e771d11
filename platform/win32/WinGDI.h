// GDI pixel formats and WGL, on GLX.
//
// Pixel format n is the n-th GLX FBConfig of the screen (1-based). Every entry point the
// rendering-context code calls goes through one replaceable table, so that a test can put a
// scripted driver in its place, as it can for OpenGL itself.
#pragma once

#include "platform/win32/WinTypes.h"

struct PIXELFORMATDESCRIPTOR {
    WORD nSize;
    WORD nVersion;
    DWORD dwFlags;
    BYTE iPixelType;
    BYTE cColorBits;
    BYTE cRedBits;
    BYTE cRedShift;
    BYTE cGreenBits;
    BYTE cGreenShift;
    BYTE cBlueBits;
    BYTE cBlueShift;
    BYTE cAlphaBits;
    BYTE cAlphaShift;
    BYTE cAccumBits;
    BYTE cAccumRedBits;
    BYTE cAccumGreenBits;
    BYTE cAccumBlueBits;
    BYTE cAccumAlphaBits;
    BYTE cDepthBits;
    BYTE cStencilBits;
    BYTE cAuxBuffers;
    BYTE iLayerType;
    BYTE bReserved;
    DWORD dwLayerMask;
    DWORD dwVisibleMask;
    DWORD dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);

constexpr DWORD PFD_DOUBLEBUFFER = 0x00000001;
constexpr DWORD PFD_STEREO = 0x00000002;
constexpr DWORD PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr DWORD PFD_DRAW_TO_BITMAP = 0x00000008;
constexpr DWORD PFD_SUPPORT_GDI = 0x00000010;
constexpr DWORD PFD_SUPPORT_OPENGL = 0x00000020;
constexpr DWORD PFD_GENERIC_FORMAT = 0x00000040;
constexpr DWORD PFD_NEED_PALETTE = 0x00000080;
constexpr DWORD PFD_GENERIC_ACCELERATED = 0x00001000;
constexpr BYTE PFD_TYPE_RGBA = 0;
constexpr BYTE PFD_MAIN_PLANE = 0;

struct PALETTEENTRY {
    BYTE peRed, peGreen, peBlue, peFlags;
};
struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};

// WGL_ARB_pixel_format, WGL_ARB_multisample, WGL_ARB_pbuffer and friends.
enum : int {
    WGL_DRAW_TO_WINDOW_ARB = 0x2001,
    WGL_DRAW_TO_BITMAP_ARB = 0x2002,
    WGL_ACCELERATION_ARB = 0x2003,
    WGL_SUPPORT_OPENGL_ARB = 0x2010,
    WGL_DOUBLE_BUFFER_ARB = 0x2011,
    WGL_STEREO_ARB = 0x2012,
    WGL_PIXEL_TYPE_ARB = 0x2013,
    WGL_COLOR_BITS_ARB = 0x2014,
    WGL_ALPHA_BITS_ARB = 0x201B,
    WGL_ACCUM_BITS_ARB = 0x201D,
    WGL_DEPTH_BITS_ARB = 0x2022,
    WGL_STENCIL_BITS_ARB = 0x2023,
    WGL_AUX_BUFFERS_ARB = 0x2024,
    WGL_NO_ACCELERATION_ARB = 0x2025,
    WGL_GENERIC_ACCELERATION_ARB = 0x2026,
    WGL_FULL_ACCELERATION_ARB = 0x2027,
    WGL_TYPE_RGBA_ARB = 0x202B,
    WGL_DRAW_TO_PBUFFER_ARB = 0x202D,
    WGL_FLOAT_COMPONENTS_NV = 0x20B0,
    WGL_TYPE_RGBA_FLOAT_ATI = 0x21A0,
    WGL_SAMPLE_BUFFERS_ARB = 0x2041,
    WGL_SAMPLES_ARB = 0x2042,
    WGL_FRONT_COLOR_BUFFER_BIT_ARB = 0x00000001,
    WGL_BACK_COLOR_BUFFER_BIT_ARB = 0x00000002,
    WGL_DEPTH_BUFFER_BIT_ARB = 0x00000004,
    WGL_STENCIL_BUFFER_BIT_ARB = 0x00000008,
};

using PFNWGLGETEXTENSIONSSTRINGARBPROC = const char* (*)(HDC dc);
using PFNWGLCHOOSEPIXELFORMATARBPROC = BOOL (*)(HDC dc, const int* intAttributes,
                                                const float* floatAttributes, UINT maxFormats,
                                                int* formats, UINT* count);
using PFNWGLGETPIXELFORMATATTRIBIVARBPROC = BOOL (*)(HDC dc, int pixelFormat, int layerPlane,
                                                     UINT count, const int* attributes,
                                                     int* values);
using PFNWGLGETPIXELFORMATATTRIBFVARBPROC = BOOL (*)(HDC dc, int pixelFormat, int layerPlane,
                                                     UINT count, const int* attributes,
                                                     float* values);
using PFNWGLCREATEPBUFFERARBPROC = HPBUFFERARB (*)(HDC dc, int pixelFormat, int width, int height,
                                                   const int* attributes);
using PFNWGLGETPBUFFERDCARBPROC = HDC (*)(HPBUFFERARB pbuffer);
using PFNWGLRELEASEPBUFFERDCARBPROC = int (*)(HPBUFFERARB pbuffer, HDC dc);
using PFNWGLDESTROYPBUFFERARBPROC = BOOL (*)(HPBUFFERARB pbuffer);
using PFNWGLQUERYPBUFFERARBPROC = BOOL (*)(HPBUFFERARB pbuffer, int attribute, int* value);
using PFNWGLCREATEBUFFERREGIONARBPROC = HANDLE (*)(HDC dc, int layerPlane, UINT type);
using PFNWGLDELETEBUFFERREGIONARBPROC = void (*)(HANDLE region);
using PFNWGLSAVEBUFFERREGIONARBPROC = BOOL (*)(HANDLE region, int x, int y, int width, int height);
using PFNWGLRESTOREBUFFERREGIONARBPROC = BOOL (*)(HANDLE region, int x, int y, int width,
                                                  int height, int xSource, int ySource);
using PFNWGLSWAPINTERVALEXTPROC = BOOL (*)(int interval);
using PFNWGLGETSWAPINTERVALEXTPROC = int (*)();

#define GDI_ENTRIES(X)                                                                             \
    X(int, ChoosePixelFormat, (HDC dc, const PIXELFORMATDESCRIPTOR* descriptor), (dc, descriptor)) \
    X(int, DescribePixelFormat,                                                                    \
      (HDC dc, int pixelFormat, UINT size, PIXELFORMATDESCRIPTOR* descriptor),                     \
      (dc, pixelFormat, size, descriptor))                                                         \
    X(BOOL, SetPixelFormat, (HDC dc, int pixelFormat, const PIXELFORMATDESCRIPTOR* descriptor),    \
      (dc, pixelFormat, descriptor))                                                               \
    X(int, GetPixelFormat, (HDC dc), (dc))                                                         \
    X(BOOL, SwapBuffers, (HDC dc), (dc))                                                           \
    X(DWORD, GetObjectType, (HGDIOBJ object), (object))                                            \
    X(HPALETTE, CreatePalette, (const LOGPALETTE* palette), (palette))                             \
    X(HPALETTE, SelectPalette, (HDC dc, HPALETTE palette, BOOL background),                        \
      (dc, palette, background))                                                                   \
    X(UINT, RealizePalette, (HDC dc), (dc))                                                        \
    X(HGLRC, wglCreateContext, (HDC dc), (dc))                                                     \
    X(BOOL, wglDeleteContext, (HGLRC context), (context))                                          \
    X(BOOL, wglMakeCurrent, (HDC dc, HGLRC context), (dc, context))                                \
    X(BOOL, wglShareLists, (HGLRC first, HGLRC second), (first, second))                           \
    X(HDC, wglGetCurrentDC, (), ())                                                                \
    X(HGLRC, wglGetCurrentContext, (), ())                                                         \
    X(PROC, wglGetProcAddress, (LPCSTR name), (name))

struct TGdiEntryPoints {
#define GDI_FIELD(ret, name, params, args) ret(*name) params = nullptr;
    GDI_ENTRIES(GDI_FIELD)
#undef GDI_FIELD
};

// The process-wide table; starts as the GLX-backed implementation.
extern TGdiEntryPoints GdiEntryPoints;
// The GLX-backed implementation, for restoring the table after a test.
const TGdiEntryPoints& NativeGdiEntryPoints();

#define GDI_INLINE(ret, name, params, args)                                                        \
    inline ret name params {                                                                       \
        return GdiEntryPoints.name args;                                                           \
    }
GDI_ENTRIES(GDI_INLINE)
#undef GDI_INLINE
