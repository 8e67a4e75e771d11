#include "platform/win32/WinGDI.h"

#include "platform/win32/GLXBinding.h"
#include "platform/win32/OpenGL32.h"
#include "platform/win32/WinUser.h"
#include "platform/win32/WinX11.h"

#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int GLX_SWAP_INTERVAL_EXT = 0x20F1;

struct TRenderingContext {
    GLXContext Context = nullptr;
    GLXFBConfig Config = nullptr;
    bool EverCurrent = false; // objects may exist once it has been current
};

struct TPbuffer {
    GLXPbuffer Drawable = 0;
    int PixelFormat = 0;
    int Width = 0;
    int Height = 0;
};

// The GDI module's process-wide state: the screen's FBConfigs (the pixel formats), the
// rendering contexts and pbuffers handed out, and what is current.
class TGdiState {
public:
    static TGdiState& Instance() {
        static TGdiState state;
        return state;
    }
    ~TGdiState() {
        if (FConfigs)
            XFree(FConfigs);
    }

    Display* Dpy() const { return Win32Display(); }

    int FormatCount() {
        LoadConfigs();
        return FConfigCount;
    }
    GLXFBConfig Config(int pixelFormat) {
        LoadConfigs();
        return (pixelFormat >= 1 && pixelFormat <= FConfigCount) ? FConfigs[pixelFormat - 1]
                                                                 : nullptr;
    }
    int FormatOf(GLXFBConfig config) {
        LoadConfigs();
        for (int i = 0; i < FConfigCount; ++i)
            if (FConfigs[i] == config)
                return i + 1;
        return 0;
    }
    int Attribute(GLXFBConfig config, int attribute) {
        int value = 0;
        GLX.glXGetFBConfigAttrib(Dpy(), config, attribute, &value);
        return value;
    }
    bool Accelerated();
    bool HasGLXExtension(std::string_view name);

    std::map<uintptr_t, TRenderingContext> Contexts;
    std::map<uintptr_t, TPbuffer> Pbuffers;
    uintptr_t NextHandle = 1;
    HDC CurrentDC = nullptr;
    HGLRC CurrentRC = nullptr;

private:
    void LoadConfigs() {
        if (FConfigs || !Dpy() || !GLX.glXGetFBConfigs)
            return;
        FConfigs = GLX.glXGetFBConfigs(Dpy(), Win32Screen(), &FConfigCount);
        if (!FConfigs)
            FConfigCount = 0;
        OpenGL32KeepDriverLoaded();
    }

    GLXFBConfig* FConfigs = nullptr;
    int FConfigCount = 0;
    int FAccelerated = -1;
};

bool TGdiState::HasGLXExtension(std::string_view name) {
    if (!Dpy() || !GLX.glXQueryExtensionsString)
        return false;
    const char* list = GLX.glXQueryExtensionsString(Dpy(), Win32Screen());
    if (!list)
        return false;
    std::string_view all(list);
    for (size_t at = all.find(name); at != std::string_view::npos; at = all.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || all[at - 1] == ' ') && (end == all.size() || all[end] == ' '))
            return true;
    }
    return false;
}

// Whether the screen's renderer is hardware accelerated (Mesa tells through
// GLX_MESA_query_renderer; without it, a renderer is taken as accelerated).
bool TGdiState::Accelerated() {
    if (FAccelerated >= 0)
        return FAccelerated == 1;
    FAccelerated = 1;
    using TQuery = Bool (*)(Display*, int, int, int, unsigned int*);
    if (HasGLXExtension("GLX_MESA_query_renderer") && GLX.glXGetProcAddressARB) {
        auto query = reinterpret_cast<TQuery>(GLX.glXGetProcAddressARB(
            reinterpret_cast<const unsigned char*>("glXQueryRendererIntegerMESA")));
        unsigned int value = 1;
        if (query && query(Dpy(), Win32Screen(), 0, GLX_RENDERER_ACCELERATED_MESA, &value))
            FAccelerated = value ? 1 : 0;
    }
    return FAccelerated == 1;
}

TGdiState& State() {
    return TGdiState::Instance();
}

template <typename H> H ToHandle(uintptr_t id) {
    return reinterpret_cast<H>(id);
}
template <typename H> uintptr_t FromHandle(H handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

bool Ready() {
    return State().Dpy() && GLX.glXGetFBConfigs;
}

// --- pixel formats ------------------------------------------------------------------------------

struct TFormatTraits {
    bool Rgba, Window, Pixmap, Pbuffer, Double, Stereo, Generic;
    int Red, Green, Blue, Alpha, Depth, Stencil, Accum, Aux, SampleBuffers, Samples;
    int ColorBits() const { return Red + Green + Blue; }
};

TFormatTraits TraitsOf(GLXFBConfig config) {
    TGdiState& s = State();
    const int drawable = s.Attribute(config, GLX_DRAWABLE_TYPE);
    TFormatTraits t{};
    t.Rgba = (s.Attribute(config, GLX_RENDER_TYPE) & GLX_RGBA_BIT) != 0;
    t.Window = (drawable & GLX_WINDOW_BIT) && s.Attribute(config, GLX_VISUAL_ID) != 0;
    t.Pixmap = (drawable & GLX_PIXMAP_BIT) != 0;
    t.Pbuffer = (drawable & GLX_PBUFFER_BIT) != 0;
    t.Double = s.Attribute(config, GLX_DOUBLEBUFFER) != 0;
    t.Stereo = s.Attribute(config, GLX_STEREO) != 0;
    t.Generic = !s.Accelerated() || s.Attribute(config, GLX_CONFIG_CAVEAT) == GLX_SLOW_CONFIG;
    t.Red = s.Attribute(config, GLX_RED_SIZE);
    t.Green = s.Attribute(config, GLX_GREEN_SIZE);
    t.Blue = s.Attribute(config, GLX_BLUE_SIZE);
    t.Alpha = s.Attribute(config, GLX_ALPHA_SIZE);
    t.Depth = s.Attribute(config, GLX_DEPTH_SIZE);
    t.Stencil = s.Attribute(config, GLX_STENCIL_SIZE);
    t.Accum = s.Attribute(config, GLX_ACCUM_RED_SIZE) + s.Attribute(config, GLX_ACCUM_GREEN_SIZE) +
              s.Attribute(config, GLX_ACCUM_BLUE_SIZE) + s.Attribute(config, GLX_ACCUM_ALPHA_SIZE);
    t.Aux = s.Attribute(config, GLX_AUX_BUFFERS);
    t.SampleBuffers = s.Attribute(config, GLX_SAMPLE_BUFFERS);
    t.Samples = s.Attribute(config, GLX_SAMPLES);
    return t;
}

// Channel shifts of a packed true-colour pixel: blue lowest, then green, red, alpha.
void FillDescriptor(const TFormatTraits& t, PIXELFORMATDESCRIPTOR& pfd) {
    pfd = {};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_SUPPORT_OPENGL | (t.Window ? PFD_DRAW_TO_WINDOW : 0) |
                  (t.Pixmap ? PFD_DRAW_TO_BITMAP : 0) | (t.Double ? PFD_DOUBLEBUFFER : 0) |
                  (t.Stereo ? PFD_STEREO : 0) | (t.Generic ? PFD_GENERIC_FORMAT : 0);
    pfd.iPixelType = t.Rgba ? PFD_TYPE_RGBA : 1;
    pfd.cColorBits = static_cast<BYTE>(t.ColorBits());
    pfd.cRedBits = static_cast<BYTE>(t.Red);
    pfd.cGreenBits = static_cast<BYTE>(t.Green);
    pfd.cBlueBits = static_cast<BYTE>(t.Blue);
    pfd.cAlphaBits = static_cast<BYTE>(t.Alpha);
    pfd.cBlueShift = 0;
    pfd.cGreenShift = static_cast<BYTE>(t.Blue);
    pfd.cRedShift = static_cast<BYTE>(t.Blue + t.Green);
    pfd.cAlphaShift = static_cast<BYTE>(t.Blue + t.Green + t.Red);
    pfd.cAccumBits = static_cast<BYTE>(t.Accum);
    pfd.cDepthBits = static_cast<BYTE>(t.Depth);
    pfd.cStencilBits = static_cast<BYTE>(t.Stencil);
    pfd.cAuxBuffers = static_cast<BYTE>(t.Aux);
    pfd.iLayerType = PFD_MAIN_PLANE;
}

// How far a format is from a request: impossible formats score -1, otherwise lower is better.
long Distance(const TFormatTraits& t, const PIXELFORMATDESCRIPTOR& want) {
    const bool wantWindow = want.dwFlags & PFD_DRAW_TO_WINDOW;
    const bool wantBitmap = want.dwFlags & PFD_DRAW_TO_BITMAP;
    if (!t.Rgba || (wantWindow && !t.Window) || (wantBitmap && !t.Pixmap))
        return -1;
    if (t.Double != bool(want.dwFlags & PFD_DOUBLEBUFFER) ||
        t.Stereo != bool(want.dwFlags & PFD_STEREO))
        return -1;
    auto shortfall = [](int have, int wanted) { return have < wanted ? 1000L : 0L; };
    auto gap = [](int have, int wanted) {
        return static_cast<long>(have > wanted ? have - wanted : wanted - have);
    };
    const int wantColor = want.cColorBits >= 32 ? 24 : want.cColorBits;
    return shortfall(t.ColorBits(), wantColor) + gap(t.ColorBits(), wantColor) * 4 +
           shortfall(t.Depth, want.cDepthBits) + gap(t.Depth, want.cDepthBits) * 2 +
           shortfall(t.Alpha, want.cAlphaBits) + gap(t.Alpha, want.cAlphaBits) +
           shortfall(t.Stencil, want.cStencilBits) + gap(t.Stencil, want.cStencilBits) +
           shortfall(t.Accum, want.cAccumBits) + gap(t.Accum, want.cAccumBits) +
           shortfall(t.Aux, want.cAuxBuffers) + t.SampleBuffers * 100L;
}

int NativeChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR* descriptor) {
    if (!Ready() || !descriptor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int best = 0;
    long bestDistance = -1;
    for (int format = 1; format <= State().FormatCount(); ++format) {
        const long distance = Distance(TraitsOf(State().Config(format)), *descriptor);
        if (distance >= 0 && (bestDistance < 0 || distance < bestDistance)) {
            best = format;
            bestDistance = distance;
        }
    }
    if (best == 0)
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return best;
}

int NativeDescribePixelFormat(HDC, int pixelFormat, UINT size, PIXELFORMATDESCRIPTOR* descriptor) {
    if (!Ready())
        return 0;
    GLXFBConfig config = State().Config(pixelFormat);
    if (!config) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return 0;
    }
    if (descriptor && size >= sizeof(PIXELFORMATDESCRIPTOR))
        FillDescriptor(TraitsOf(config), *descriptor);
    return State().FormatCount();
}

int NativeGetPixelFormat(HDC dc) {
    const HWND window = WindowFromDC(dc);
    return window ? Win32WindowPixelFormat(window) : Win32DCPixelFormat(dc);
}

BOOL NativeSetPixelFormat(HDC dc, int pixelFormat, const PIXELFORMATDESCRIPTOR*) {
    GLXFBConfig config = Ready() ? State().Config(pixelFormat) : nullptr;
    const HWND window = WindowFromDC(dc);
    if (!config || !window) {
        SetLastError(config ? ERROR_DC_NOT_FOUND : ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    const int current = Win32WindowPixelFormat(window);
    if (current != 0)
        return current == pixelFormat ? TRUE : (SetLastError(ERROR_INVALID_PIXEL_FORMAT), FALSE);
    XVisualInfo* visual = GLX.glXGetVisualFromFBConfig(State().Dpy(), config);
    if (!visual) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    Display* dpy = State().Dpy();
    const Colormap colormap =
        XCreateColormap(dpy, RootWindow(dpy, Win32Screen()), visual->visual, AllocNone);
    Win32SetWindowVisual(window, visual->visual, visual->depth, colormap);
    XFree(visual);
    Win32SetWindowPixelFormat(window, pixelFormat);
    return TRUE;
}

// The X drawable a device context draws into.
GLXDrawable DrawableOf(HDC dc) {
    const HWND window = WindowFromDC(dc);
    return window ? Win32XWindow(window) : static_cast<GLXDrawable>(Win32DCDrawable(dc));
}

BOOL NativeSwapBuffers(HDC dc) {
    const GLXDrawable drawable = Ready() ? DrawableOf(dc) : 0;
    if (!drawable) {
        SetLastError(ERROR_DC_NOT_FOUND);
        return FALSE;
    }
    GLX.glXSwapBuffers(State().Dpy(), drawable);
    return TRUE;
}

DWORD NativeGetObjectType(HGDIOBJ object) {
    const DWORD type = Win32DCType(static_cast<HDC>(object));
    if (type == 0)
        SetLastError(ERROR_INVALID_HANDLE);
    return type;
}

// X visuals never need a logical palette: formats never carry PFD_NEED_PALETTE here.
HPALETTE NativeCreatePalette(const LOGPALETTE*) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return nullptr;
}
HPALETTE NativeSelectPalette(HDC, HPALETTE, BOOL) {
    return nullptr;
}
UINT NativeRealizePalette(HDC) {
    return 0;
}

// --- WGL
// ------------------------------------------------------------------------------------------

TRenderingContext* ContextOf(HGLRC rc) {
    auto found = State().Contexts.find(FromHandle(rc));
    return found == State().Contexts.end() ? nullptr : &found->second;
}

HGLRC NativeCreateContext(HDC dc) {
    GLXFBConfig config = Ready() ? State().Config(NativeGetPixelFormat(dc)) : nullptr;
    if (!config) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return nullptr;
    }
    GLXContext context =
        GLX.glXCreateNewContext(State().Dpy(), config, GLX_RGBA_TYPE, nullptr, True);
    if (!context) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const uintptr_t id = State().NextHandle++;
    State().Contexts[id] = {context, config, false};
    return ToHandle<HGLRC>(id);
}

BOOL NativeMakeCurrent(HDC dc, HGLRC rc) {
    if (!Ready()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Display* dpy = State().Dpy();
    if (!rc) {
        GLX.glXMakeContextCurrent(dpy, 0, 0, nullptr);
        State().CurrentDC = nullptr;
        State().CurrentRC = nullptr;
        return TRUE;
    }
    TRenderingContext* context = ContextOf(rc);
    const GLXDrawable drawable = DrawableOf(dc);
    if (!context || !drawable) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const int errorsBefore = Win32XErrorCount();
    const Bool made = GLX.glXMakeContextCurrent(dpy, drawable, drawable, context->Context);
    XSync(dpy, False);
    if (!made || Win32XErrorCount() != errorsBefore) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    context->EverCurrent = true;
    State().CurrentDC = dc;
    State().CurrentRC = rc;
    return TRUE;
}

BOOL NativeDeleteContext(HGLRC rc) {
    TRenderingContext* context = ContextOf(rc);
    if (!context || !Ready()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (State().CurrentRC == rc)
        NativeMakeCurrent(nullptr, nullptr);
    GLX.glXDestroyContext(State().Dpy(), context->Context);
    State().Contexts.erase(FromHandle(rc));
    return TRUE;
}

// The second context takes the first one's object space. A GLX context's sharing is fixed at
// creation, so the second is re-created, which is only sound while it cannot own objects yet.
BOOL NativeShareLists(HGLRC first, HGLRC second) {
    TRenderingContext* source = ContextOf(first);
    TRenderingContext* target = ContextOf(second);
    if (!source || !target || target->EverCurrent || State().CurrentRC == second) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    GLXContext shared = GLX.glXCreateNewContext(State().Dpy(), target->Config, GLX_RGBA_TYPE,
                                                source->Context, True);
    if (!shared) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    GLX.glXDestroyContext(State().Dpy(), target->Context);
    target->Context = shared;
    return TRUE;
}

HDC NativeGetCurrentDC() {
    return State().CurrentDC;
}

HGLRC NativeGetCurrentContext() {
    return State().CurrentRC;
}

// --- WGL extensions
// -------------------------------------------------------------------------------

bool OffersSwapControl() {
    return State().HasGLXExtension("GLX_EXT_swap_control") ||
           State().HasGLXExtension("GLX_MESA_swap_control");
}

const char* WglGetExtensionsString(HDC) {
    static std::string extensions;
    extensions = "WGL_ARB_extensions_string WGL_ARB_pixel_format ";
    if (State().HasGLXExtension("GLX_ARB_multisample"))
        extensions += "WGL_ARB_multisample ";
    if (OffersSwapControl())
        extensions += "WGL_EXT_swap_control ";
    if (GLX.glXCreatePbuffer)
        extensions += "WGL_ARB_pbuffer ";
    return extensions.c_str();
}

// Translates WGL attribute pairs into a GLX attribute list; false for anything untranslatable.
bool TranslateAttributes(const int* attributes, std::vector<int>& glx, bool& needAccelerated) {
    glx = {GLX_RENDER_TYPE, GLX_RGBA_BIT};
    needAccelerated = false;
    for (const int* pair = attributes; pair && pair[0] != 0; pair += 2) {
        const int value = pair[1];
        switch (pair[0]) {
        case WGL_DRAW_TO_WINDOW_ARB:
            if (value)
                glx.insert(glx.end(), {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_X_RENDERABLE, 1});
            break;
        case WGL_DRAW_TO_PBUFFER_ARB:
            if (value)
                glx.insert(glx.end(), {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT});
            break;
        case WGL_SUPPORT_OPENGL_ARB:
            break;
        case WGL_DOUBLE_BUFFER_ARB:
            glx.insert(glx.end(), {GLX_DOUBLEBUFFER, value ? 1 : 0});
            break;
        case WGL_STEREO_ARB:
            glx.insert(glx.end(), {GLX_STEREO, value ? 1 : 0});
            break;
        case WGL_ACCELERATION_ARB:
            needAccelerated = value == WGL_FULL_ACCELERATION_ARB;
            break;
        case WGL_PIXEL_TYPE_ARB:
            if (value != WGL_TYPE_RGBA_ARB)
                return false;
            break;
        case WGL_COLOR_BITS_ARB: {
            const int channel = (value >= 24) ? 8 : value / 3;
            glx.insert(glx.end(),
                       {GLX_RED_SIZE, channel, GLX_GREEN_SIZE, channel, GLX_BLUE_SIZE, channel});
            break;
        }
        case WGL_ALPHA_BITS_ARB:
            glx.insert(glx.end(), {GLX_ALPHA_SIZE, value});
            break;
        case WGL_DEPTH_BITS_ARB:
            glx.insert(glx.end(), {GLX_DEPTH_SIZE, value});
            break;
        case WGL_STENCIL_BITS_ARB:
            glx.insert(glx.end(), {GLX_STENCIL_SIZE, value});
            break;
        case WGL_ACCUM_BITS_ARB:
            glx.insert(glx.end(), {GLX_ACCUM_RED_SIZE, value / 4, GLX_ACCUM_GREEN_SIZE, value / 4,
                                   GLX_ACCUM_BLUE_SIZE, value / 4});
            break;
        case WGL_AUX_BUFFERS_ARB:
            glx.insert(glx.end(), {GLX_AUX_BUFFERS, value});
            break;
        case WGL_SAMPLE_BUFFERS_ARB:
            glx.insert(glx.end(), {GLX_SAMPLE_BUFFERS, value});
            break;
        case WGL_SAMPLES_ARB:
            glx.insert(glx.end(), {GLX_SAMPLES, value});
            break;
        default:
            return false;
        }
    }
    glx.push_back(0);
    return true;
}

BOOL WglChoosePixelFormat(HDC, const int* intAttributes, const float*, UINT maxFormats,
                          int* formats, UINT* count) {
    if (count)
        *count = 0;
    std::vector<int> glx;
    bool needAccelerated = false;
    if (!Ready() || !count || !TranslateAttributes(intAttributes, glx, needAccelerated)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (needAccelerated && !State().Accelerated())
        return TRUE;
    int found = 0;
    GLXFBConfig* configs = GLX.glXChooseFBConfig(State().Dpy(), Win32Screen(), glx.data(), &found);
    for (int i = 0; i < found && *count < maxFormats; ++i)
        if (const int format = State().FormatOf(configs[i]))
            formats[(*count)++] = format;
    if (configs)
        XFree(configs);
    return TRUE;
}

bool QueryAttribute(GLXFBConfig config, int attribute, int& value) {
    const TFormatTraits t = TraitsOf(config);
    switch (attribute) {
    case WGL_DRAW_TO_WINDOW_ARB:
        value = t.Window;
        return true;
    case WGL_DRAW_TO_BITMAP_ARB:
        value = t.Pixmap;
        return true;
    case WGL_DRAW_TO_PBUFFER_ARB:
        value = t.Pbuffer;
        return true;
    case WGL_ACCELERATION_ARB:
        value = t.Generic ? WGL_NO_ACCELERATION_ARB : WGL_FULL_ACCELERATION_ARB;
        return true;
    case WGL_SUPPORT_OPENGL_ARB:
        value = 1;
        return true;
    case WGL_DOUBLE_BUFFER_ARB:
        value = t.Double;
        return true;
    case WGL_STEREO_ARB:
        value = t.Stereo;
        return true;
    case WGL_PIXEL_TYPE_ARB:
        value = WGL_TYPE_RGBA_ARB;
        return true;
    case WGL_COLOR_BITS_ARB:
        value = t.ColorBits();
        return true;
    case WGL_ALPHA_BITS_ARB:
        value = t.Alpha;
        return true;
    case WGL_ACCUM_BITS_ARB:
        value = t.Accum;
        return true;
    case WGL_DEPTH_BITS_ARB:
        value = t.Depth;
        return true;
    case WGL_STENCIL_BITS_ARB:
        value = t.Stencil;
        return true;
    case WGL_AUX_BUFFERS_ARB:
        value = t.Aux;
        return true;
    case WGL_SAMPLE_BUFFERS_ARB:
        value = t.SampleBuffers;
        return true;
    case WGL_SAMPLES_ARB:
        value = t.Samples;
        return true;
    default:
        return false;
    }
}

BOOL WglGetPixelFormatAttribiv(HDC, int pixelFormat, int, UINT count, const int* attributes,
                               int* values) {
    GLXFBConfig config = Ready() ? State().Config(pixelFormat) : nullptr;
    if (!config) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    for (UINT i = 0; i < count; ++i)
        if (!QueryAttribute(config, attributes[i], values[i])) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    return TRUE;
}

BOOL WglGetPixelFormatAttribfv(HDC dc, int pixelFormat, int layer, UINT count,
                               const int* attributes, float* values) {
    std::vector<int> integers(count);
    if (!WglGetPixelFormatAttribiv(dc, pixelFormat, layer, count, attributes, integers.data()))
        return FALSE;
    for (UINT i = 0; i < count; ++i)
        values[i] = static_cast<float>(integers[i]);
    return TRUE;
}

TPbuffer* PbufferOf(HPBUFFERARB pbuffer) {
    auto found = State().Pbuffers.find(FromHandle(pbuffer));
    return found == State().Pbuffers.end() ? nullptr : &found->second;
}

HPBUFFERARB WglCreatePbuffer(HDC, int pixelFormat, int width, int height, const int*) {
    GLXFBConfig config = Ready() ? State().Config(pixelFormat) : nullptr;
    if (!config || width <= 0 || height <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const int attributes[] = {
        GLX_PBUFFER_WIDTH, width, GLX_PBUFFER_HEIGHT, height, GLX_PRESERVED_CONTENTS, 1, 0};
    const int errorsBefore = Win32XErrorCount();
    const GLXPbuffer drawable = GLX.glXCreatePbuffer(State().Dpy(), config, attributes);
    XSync(State().Dpy(), False);
    if (!drawable || Win32XErrorCount() != errorsBefore) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const uintptr_t id = State().NextHandle++;
    State().Pbuffers[id] = {drawable, pixelFormat, width, height};
    return ToHandle<HPBUFFERARB>(id);
}

HDC WglGetPbufferDC(HPBUFFERARB pbuffer) {
    TPbuffer* record = PbufferOf(pbuffer);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HDC dc = Win32CreateDC(OBJ_DC, record->Drawable);
    Win32SetDCPixelFormat(dc, record->PixelFormat);
    return dc;
}

int WglReleasePbufferDC(HPBUFFERARB, HDC dc) {
    Win32DeleteDC(dc);
    return 1;
}

BOOL WglDestroyPbuffer(HPBUFFERARB pbuffer) {
    TPbuffer* record = PbufferOf(pbuffer);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    GLX.glXDestroyPbuffer(State().Dpy(), record->Drawable);
    State().Pbuffers.erase(FromHandle(pbuffer));
    return TRUE;
}

constexpr int WGL_PBUFFER_WIDTH_ARB = 0x2034;
constexpr int WGL_PBUFFER_HEIGHT_ARB = 0x2035;
constexpr int WGL_PBUFFER_LOST_ARB = 0x2036;

BOOL WglQueryPbuffer(HPBUFFERARB pbuffer, int attribute, int* value) {
    TPbuffer* record = PbufferOf(pbuffer);
    if (!record || !value)
        return FALSE;
    switch (attribute) {
    case WGL_PBUFFER_WIDTH_ARB:
        *value = record->Width;
        return TRUE;
    case WGL_PBUFFER_HEIGHT_ARB:
        *value = record->Height;
        return TRUE;
    case WGL_PBUFFER_LOST_ARB:
        *value = 0;
        return TRUE;
    default:
        return FALSE;
    }
}

template <typename F> F GlxProc(const char* name) {
    return GLX.glXGetProcAddressARB ? reinterpret_cast<F>(GLX.glXGetProcAddressARB(
                                          reinterpret_cast<const unsigned char*>(name)))
                                    : nullptr;
}

BOOL WglSwapInterval(int interval) {
    if (auto mesa = GlxProc<int (*)(unsigned)>("glXSwapIntervalMESA");
        mesa && State().HasGLXExtension("GLX_MESA_swap_control"))
        return mesa(static_cast<unsigned>(interval)) == 0;
    auto ext = GlxProc<void (*)(Display*, GLXDrawable, int)>("glXSwapIntervalEXT");
    if (!ext || !State().CurrentDC)
        return FALSE;
    ext(State().Dpy(), DrawableOf(State().CurrentDC), interval);
    return TRUE;
}

int WglGetSwapInterval() {
    if (auto mesa = GlxProc<int (*)()>("glXGetSwapIntervalMESA");
        mesa && State().HasGLXExtension("GLX_MESA_swap_control"))
        return mesa();
    auto query = GlxProc<void (*)(Display*, GLXDrawable, int, unsigned*)>("glXQueryDrawable");
    if (!query || !State().CurrentDC)
        return 0;
    unsigned value = 0;
    query(State().Dpy(), DrawableOf(State().CurrentDC), GLX_SWAP_INTERVAL_EXT, &value);
    return static_cast<int>(value);
}

PROC NativeGetProcAddress(LPCSTR name) {
    if (!name || !Ready())
        return nullptr;
    const std::string_view n(name);
    auto proc = [](auto function) { return reinterpret_cast<PROC>(function); };
    if (n == "wglGetExtensionsStringARB")
        return proc(&WglGetExtensionsString);
    if (n == "wglChoosePixelFormatARB")
        return proc(&WglChoosePixelFormat);
    if (n == "wglGetPixelFormatAttribivARB")
        return proc(&WglGetPixelFormatAttribiv);
    if (n == "wglGetPixelFormatAttribfvARB")
        return proc(&WglGetPixelFormatAttribfv);
    if (GLX.glXCreatePbuffer) {
        if (n == "wglCreatePbufferARB")
            return proc(&WglCreatePbuffer);
        if (n == "wglGetPbufferDCARB")
            return proc(&WglGetPbufferDC);
        if (n == "wglReleasePbufferDCARB")
            return proc(&WglReleasePbufferDC);
        if (n == "wglDestroyPbufferARB")
            return proc(&WglDestroyPbuffer);
        if (n == "wglQueryPbufferARB")
            return proc(&WglQueryPbuffer);
    }
    if (OffersSwapControl()) {
        if (n == "wglSwapIntervalEXT")
            return proc(&WglSwapInterval);
        if (n == "wglGetSwapIntervalEXT")
            return proc(&WglGetSwapInterval);
    }
    if (n.starts_with("wgl"))
        return nullptr;
    return GlxProc<PROC>(name);
}

TGdiEntryPoints MakeNativeEntryPoints() {
    TGdiEntryPoints table;
    table.ChoosePixelFormat = &NativeChoosePixelFormat;
    table.DescribePixelFormat = &NativeDescribePixelFormat;
    table.SetPixelFormat = &NativeSetPixelFormat;
    table.GetPixelFormat = &NativeGetPixelFormat;
    table.SwapBuffers = &NativeSwapBuffers;
    table.GetObjectType = &NativeGetObjectType;
    table.CreatePalette = &NativeCreatePalette;
    table.SelectPalette = &NativeSelectPalette;
    table.RealizePalette = &NativeRealizePalette;
    table.wglCreateContext = &NativeCreateContext;
    table.wglDeleteContext = &NativeDeleteContext;
    table.wglMakeCurrent = &NativeMakeCurrent;
    table.wglShareLists = &NativeShareLists;
    table.wglGetCurrentDC = &NativeGetCurrentDC;
    table.wglGetCurrentContext = &NativeGetCurrentContext;
    table.wglGetProcAddress = &NativeGetProcAddress;
    return table;
}

} // namespace

const TGdiEntryPoints& NativeGdiEntryPoints() {
    static const TGdiEntryPoints table = MakeNativeEntryPoints();
    return table;
}

TGdiEntryPoints GdiEntryPoints = NativeGdiEntryPoints();
