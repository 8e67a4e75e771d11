// GLX, for the platform layer's own use: types, constants and entry points resolved from the
// OpenGL library together with the rest of it. Included only by platform sources.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

using GLXFBConfig = struct __GLXFBConfigRec*;
using GLXContext = struct __GLXcontextRec*;
using GLXDrawable = XID;
using GLXWindow = XID;
using GLXPbuffer = XID;
using GLXProc = void (*)();

enum : int {
    GLX_BUFFER_SIZE = 2,
    GLX_LEVEL = 3,
    GLX_RGBA = 4,
    GLX_DOUBLEBUFFER = 5,
    GLX_STEREO = 6,
    GLX_AUX_BUFFERS = 7,
    GLX_RED_SIZE = 8,
    GLX_GREEN_SIZE = 9,
    GLX_BLUE_SIZE = 10,
    GLX_ALPHA_SIZE = 11,
    GLX_DEPTH_SIZE = 12,
    GLX_STENCIL_SIZE = 13,
    GLX_ACCUM_RED_SIZE = 14,
    GLX_ACCUM_GREEN_SIZE = 15,
    GLX_ACCUM_BLUE_SIZE = 16,
    GLX_ACCUM_ALPHA_SIZE = 17,
    GLX_CONFIG_CAVEAT = 0x20,
    GLX_X_VISUAL_TYPE = 0x22,
    GLX_TRANSPARENT_TYPE = 0x23,
    GLX_DONT_CARE = -1,
    GLX_SLOW_CONFIG = 0x8001,
    GLX_NON_CONFORMANT_CONFIG = 0x800D,
    GLX_TRUE_COLOR = 0x8002,
    GLX_DIRECT_COLOR = 0x8003,
    GLX_VISUAL_ID = 0x800B,
    GLX_DRAWABLE_TYPE = 0x8010,
    GLX_RENDER_TYPE = 0x8011,
    GLX_X_RENDERABLE = 0x8012,
    GLX_FBCONFIG_ID = 0x8013,
    GLX_RGBA_TYPE = 0x8014,
    GLX_MAX_PBUFFER_WIDTH = 0x8016,
    GLX_MAX_PBUFFER_HEIGHT = 0x8017,
    GLX_PRESERVED_CONTENTS = 0x801B,
    GLX_LARGEST_PBUFFER = 0x801C,
    GLX_PBUFFER_HEIGHT = 0x8040,
    GLX_PBUFFER_WIDTH = 0x8041,
    GLX_WINDOW_BIT = 0x0001,
    GLX_PIXMAP_BIT = 0x0002,
    GLX_PBUFFER_BIT = 0x0004,
    GLX_RGBA_BIT = 0x0001,
    GLX_SAMPLE_BUFFERS = 100000,
    GLX_SAMPLES = 100001,
    GLX_RENDERER_ACCELERATED_MESA = 0x8186,
};

#define GLX_ENTRIES(X)                                                                             \
    X(Bool, glXQueryExtension, (Display * dpy, int* errorBase, int* eventBase))                    \
    X(const char*, glXQueryExtensionsString, (Display * dpy, int screen))                          \
    X(GLXFBConfig*, glXGetFBConfigs, (Display * dpy, int screen, int* count))                      \
    X(GLXFBConfig*, glXChooseFBConfig,                                                             \
      (Display * dpy, int screen, const int* attribs, int* count))                                 \
    X(int, glXGetFBConfigAttrib, (Display * dpy, GLXFBConfig config, int attribute, int* value))   \
    X(XVisualInfo*, glXGetVisualFromFBConfig, (Display * dpy, GLXFBConfig config))                 \
    X(GLXContext, glXCreateNewContext,                                                             \
      (Display * dpy, GLXFBConfig config, int renderType, GLXContext share, Bool direct))          \
    X(void, glXDestroyContext, (Display * dpy, GLXContext ctx))                                    \
    X(Bool, glXMakeContextCurrent,                                                                 \
      (Display * dpy, GLXDrawable draw, GLXDrawable read, GLXContext ctx))                         \
    X(void, glXSwapBuffers, (Display * dpy, GLXDrawable drawable))                                 \
    X(GLXWindow, glXCreateWindow,                                                                  \
      (Display * dpy, GLXFBConfig config, Window win, const int* attribs))                         \
    X(void, glXDestroyWindow, (Display * dpy, GLXWindow window))                                   \
    X(GLXPbuffer, glXCreatePbuffer, (Display * dpy, GLXFBConfig config, const int* attribs))       \
    X(void, glXDestroyPbuffer, (Display * dpy, GLXPbuffer pbuffer))                                \
    X(GLXContext, glXGetCurrentContext, ())                                                        \
    X(GLXProc, glXGetProcAddressARB, (const unsigned char* name))

struct TGLXEntryPoints {
#define GLX_FIELD(ret, name, params) ret(*name) params = nullptr;
    GLX_ENTRIES(GLX_FIELD)
#undef GLX_FIELD
};

// Filled by OpenGL32Load from the OpenGL library; empty while it is not loaded.
extern TGLXEntryPoints GLX;
