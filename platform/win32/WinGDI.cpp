#include "platform/win32/WinGDI.h"

#include "platform/framework/SysUtils.h"
#include "platform/win32/GLXBinding.h"
#include "platform/win32/OpenGL32.h"
#include "platform/win32/WinUser.h"
#include "platform/win32/WinX11.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr int GLX_SWAP_INTERVAL_EXT = 0x20F1;

// The FBConfig attributes that pixel formats are described and searched by, as slots of a
// format's cache.
enum TFormatAttribute : uint8_t {
    faRenderType,
    faDrawableType,
    faVisualId,
    faDoubleBuffer,
    faStereo,
    faCaveat,
    faRed,
    faGreen,
    faBlue,
    faAlpha,
    faDepth,
    faStencil,
    faAccumRed,
    faAccumGreen,
    faAccumBlue,
    faAccumAlpha,
    faAuxBuffers,
    faSampleBuffers,
    faSamples,
    faCount
};

constexpr std::array<int, faCount> GlxAttributes = {
    GLX_RENDER_TYPE,    GLX_DRAWABLE_TYPE,    GLX_VISUAL_ID,       GLX_DOUBLEBUFFER,
    GLX_STEREO,         GLX_CONFIG_CAVEAT,    GLX_RED_SIZE,        GLX_GREEN_SIZE,
    GLX_BLUE_SIZE,      GLX_ALPHA_SIZE,       GLX_DEPTH_SIZE,      GLX_STENCIL_SIZE,
    GLX_ACCUM_RED_SIZE, GLX_ACCUM_GREEN_SIZE, GLX_ACCUM_BLUE_SIZE, GLX_ACCUM_ALPHA_SIZE,
    GLX_AUX_BUFFERS,    GLX_SAMPLE_BUFFERS,   GLX_SAMPLES};

// One FBConfig's attributes as far as they have been asked. A driver may answer each query by
// walking its whole list of configurations, and a screen has hundreds of them, so an attribute
// is asked only when a search or a description needs it, and only once.
struct TFormatAttributes {
    std::array<int, faCount> Values{};
    uint32_t Known = 0; // bit n: Values[n] has been read
};

struct TRenderingContext {
    GLXContext Context = nullptr;
    GLXFBConfig Config = nullptr;
    bool EverCurrent = false; // objects may exist once it has been current
    GLXDrawable Checked = 0;  // the drawable it was last made current on, known to fit it
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
        const auto found = FFormats.find(config);
        return found == FFormats.end() ? 0 : found->second;
    }
    // A pixel format's attribute, asked of the driver the first time only (the format must
    // exist).
    int Attribute(int pixelFormat, TFormatAttribute attribute) {
        TFormatAttributes& known = FAttributes[pixelFormat - 1];
        const uint32_t bit = 1u << attribute;
        if ((known.Known & bit) == 0) {
            GLX.glXGetFBConfigAttrib(Dpy(), FConfigs[pixelFormat - 1], GlxAttributes[attribute],
                                     &known.Values[attribute]);
            known.Known |= bit;
        }
        return known.Values[attribute];
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
        FAttributes.assign(static_cast<size_t>(FConfigCount), {});
        for (int i = 0; i < FConfigCount; ++i)
            FFormats.emplace(FConfigs[i], i + 1);
        OpenGL32KeepDriverLoaded();
    }

    GLXFBConfig* FConfigs = nullptr;
    int FConfigCount = 0;
    std::vector<TFormatAttributes> FAttributes; // parallel to FConfigs
    std::unordered_map<GLXFBConfig, int> FFormats;
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

// A pixel format's properties, each read from the driver on first use. Only for formats that
// exist.
class TFormat {
public:
    explicit TFormat(int pixelFormat) : FFormat(pixelFormat) {}

    bool Rgba() const { return (Get(faRenderType) & GLX_RGBA_BIT) != 0; }
    int DrawableType() const { return Get(faDrawableType); }
    bool HasVisual() const { return Get(faVisualId) != 0; }
    bool Window() const { return (DrawableType() & GLX_WINDOW_BIT) && HasVisual(); }
    bool Pixmap() const { return (DrawableType() & GLX_PIXMAP_BIT) != 0; }
    bool Pbuffer() const { return (DrawableType() & GLX_PBUFFER_BIT) != 0; }
    bool Double() const { return Get(faDoubleBuffer) != 0; }
    bool Stereo() const { return Get(faStereo) != 0; }
    bool Generic() const { return !State().Accelerated() || Get(faCaveat) == GLX_SLOW_CONFIG; }
    int Red() const { return Get(faRed); }
    int Green() const { return Get(faGreen); }
    int Blue() const { return Get(faBlue); }
    int ColorBits() const { return Red() + Green() + Blue(); }
    int Alpha() const { return Get(faAlpha); }
    int Depth() const { return Get(faDepth); }
    int Stencil() const { return Get(faStencil); }
    int Accum() const {
        return Get(faAccumRed) + Get(faAccumGreen) + Get(faAccumBlue) + Get(faAccumAlpha);
    }
    int AuxBuffers() const { return Get(faAuxBuffers); }
    int SampleBuffers() const { return Get(faSampleBuffers); }
    int Samples() const { return Get(faSamples); }

private:
    int Get(TFormatAttribute attribute) const { return State().Attribute(FFormat, attribute); }

    int FFormat;
};

// Channel shifts of a packed true-colour pixel: blue lowest, then green, red, alpha.
void FillDescriptor(const TFormat& f, PIXELFORMATDESCRIPTOR& pfd) {
    pfd = {};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_SUPPORT_OPENGL | (f.Window() ? PFD_DRAW_TO_WINDOW : 0) |
                  (f.Pixmap() ? PFD_DRAW_TO_BITMAP : 0) | (f.Double() ? PFD_DOUBLEBUFFER : 0) |
                  (f.Stereo() ? PFD_STEREO : 0) | (f.Generic() ? PFD_GENERIC_FORMAT : 0);
    pfd.iPixelType = f.Rgba() ? PFD_TYPE_RGBA : 1;
    pfd.cColorBits = static_cast<BYTE>(f.ColorBits());
    pfd.cRedBits = static_cast<BYTE>(f.Red());
    pfd.cGreenBits = static_cast<BYTE>(f.Green());
    pfd.cBlueBits = static_cast<BYTE>(f.Blue());
    pfd.cAlphaBits = static_cast<BYTE>(f.Alpha());
    pfd.cBlueShift = 0;
    pfd.cGreenShift = static_cast<BYTE>(f.Blue());
    pfd.cRedShift = static_cast<BYTE>(f.Blue() + f.Green());
    pfd.cAlphaShift = static_cast<BYTE>(f.Blue() + f.Green() + f.Red());
    pfd.cAccumBits = static_cast<BYTE>(f.Accum());
    pfd.cDepthBits = static_cast<BYTE>(f.Depth());
    pfd.cStencilBits = static_cast<BYTE>(f.Stencil());
    pfd.cAuxBuffers = static_cast<BYTE>(f.AuxBuffers());
    pfd.iLayerType = PFD_MAIN_PLANE;
}

// The main-plane RGBA formats with the requested buffering and drawables, in format order. GLX
// rules the others out in one pass over its configurations, where asking a configuration's
// attributes one by one walks its list for every question.
std::vector<int> Candidates(const PIXELFORMATDESCRIPTOR& want) {
    const bool wantWindow = want.dwFlags & PFD_DRAW_TO_WINDOW;
    const bool wantBitmap = want.dwFlags & PFD_DRAW_TO_BITMAP;
    const int drawables = (wantWindow ? GLX_WINDOW_BIT : 0) | (wantBitmap ? GLX_PIXMAP_BIT : 0);
    const int attributes[] = {GLX_RENDER_TYPE,
                              GLX_RGBA_BIT,
                              GLX_DRAWABLE_TYPE,
                              drawables != 0 ? drawables : int(GLX_DONT_CARE),
                              GLX_DOUBLEBUFFER,
                              (want.dwFlags & PFD_DOUBLEBUFFER) ? 1 : 0,
                              GLX_STEREO,
                              (want.dwFlags & PFD_STEREO) ? 1 : 0,
                              GLX_TRANSPARENT_TYPE,
                              int(GLX_DONT_CARE),
                              0};
    int found = 0;
    GLXFBConfig* configs = GLX.glXChooseFBConfig(State().Dpy(), Win32Screen(), attributes, &found);
    std::vector<int> formats;
    for (int i = 0; i < found; ++i)
        if (const int format = State().FormatOf(configs[i]))
            formats.push_back(format);
    if (configs)
        XFree(configs);
    std::sort(formats.begin(), formats.end());
    return formats;
}

// What the driver's choice leaves open: a window needs a visual, and a driver may take a
// format that draws to either of two requested drawables as fitting.
bool Fits(const TFormat& f, const PIXELFORMATDESCRIPTOR& want) {
    const bool wantWindow = want.dwFlags & PFD_DRAW_TO_WINDOW;
    const bool wantBitmap = want.dwFlags & PFD_DRAW_TO_BITMAP;
    if (wantWindow && wantBitmap && !(f.Window() && f.Pixmap()))
        return false;
    return !wantWindow || f.HasVisual();
}

long Shortfall(int have, int wanted) {
    return have < wanted ? 1000L : 0L;
}
long Gap(int have, int wanted) {
    return std::labs(static_cast<long>(have) - wanted);
}
int WantedColorBits(const PIXELFORMATDESCRIPTOR& want) {
    return want.cColorBits >= 32 ? 24 : want.cColorBits;
}

using TCostTerm = long (*)(const TFormat&, const PIXELFORMATDESCRIPTOR&);

// The parts of a fitting format's distance from the request, heaviest first.
constexpr TCostTerm CostTerms[] = {
    [](const TFormat& f, const PIXELFORMATDESCRIPTOR& want) {
        const int color = f.ColorBits();
        return Shortfall(color, WantedColorBits(want)) + Gap(color, WantedColorBits(want)) * 4;
    },
    [](const TFormat& f, const PIXELFORMATDESCRIPTOR& want) {
        return Shortfall(f.Depth(), want.cDepthBits) + Gap(f.Depth(), want.cDepthBits) * 2;
    },
    [](const TFormat& f, const PIXELFORMATDESCRIPTOR&) { return f.SampleBuffers() * 100L; },
    [](const TFormat& f, const PIXELFORMATDESCRIPTOR& want) {
        return Shortfall(f.Alpha(), want.cAlphaBits) + Gap(f.Alpha(), want.cAlphaBits);
    },
    [](const TFormat& f, const PIXELFORMATDESCRIPTOR& want) {
        return Shortfall(f.Stencil(), want.cStencilBits) + Gap(f.Stencil(), want.cStencilBits);
    },
    [](const TFormat& f, const PIXELFORMATDESCRIPTOR& want) {
        return Shortfall(f.Accum(), want.cAccumBits) + Gap(f.Accum(), want.cAccumBits);
    },
    [](const TFormat& f, const PIXELFORMATDESCRIPTOR& want) {
        return Shortfall(f.AuxBuffers(), want.cAuxBuffers);
    },
};

// A fitting format's distance from the request, lower is better. Every part is non-negative, so
// the sum stops as soon as it reaches `bound`: such a format can no longer be chosen.
long Distance(const TFormat& f, const PIXELFORMATDESCRIPTOR& want, long bound) {
    long distance = 0;
    for (TCostTerm term : CostTerms) {
        distance += term(f, want);
        if (distance >= bound)
            break;
    }
    return distance;
}

// The nearest fitting format; the first of equally near ones.
int NativeChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR* descriptor) {
    if (!Ready() || !descriptor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int best = 0;
    long bestDistance = LONG_MAX;
    for (const int format : Candidates(*descriptor)) {
        const TFormat f(format);
        if (!Fits(f, *descriptor))
            continue;
        const long distance = Distance(f, *descriptor, bestDistance);
        if (distance < bestDistance) {
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
    if (!State().Config(pixelFormat)) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return 0;
    }
    if (descriptor && size >= sizeof(PIXELFORMATDESCRIPTOR))
        FillDescriptor(TFormat(pixelFormat), *descriptor);
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

// The address space a software driver takes to create a context: a rasterizer thread for each
// processor and a few more, each with a stack of the process's stack size, and its own start.
uint64_t ContextCreationBytes() {
    rlimit stack{};
    const uint64_t stackBytes =
        getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY
            ? static_cast<uint64_t>(stack.rlim_cur)
            : uint64_t{8} << 20;
    const auto threads = static_cast<uint64_t>(std::clamp(sysconf(_SC_NPROCESSORS_ONLN), 1L, 32L));
    return (threads + 2) * stackBytes + (uint64_t{16} << 20);
}

HGLRC NativeCreateContext(HDC dc) {
    GLXFBConfig config = Ready() ? State().Config(NativeGetPixelFormat(dc)) : nullptr;
    if (!config) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return nullptr;
    }
    // A driver that runs out of memory while it creates a context does not return: without the
    // room it needs, the context is one the driver cannot create.
    GLXContext context =
        AddressSpaceAvailable(ContextCreationBytes())
            ? GLX.glXCreateNewContext(State().Dpy(), config, GLX_RGBA_TYPE, nullptr, True)
            : nullptr;
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
    // A drawable that does not fit the context is refused asynchronously, so the first
    // activation on a drawable waits for the server's answer; later ones on the same drawable,
    // made every frame, need no round trip.
    const bool check = context->Checked != drawable;
    const int errorsBefore = Win32XErrorCount();
    const Bool made = GLX.glXMakeContextCurrent(dpy, drawable, drawable, context->Context);
    if (check)
        XSync(dpy, False);
    if (!made || Win32XErrorCount() != errorsBefore) {
        context->Checked = 0;
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    context->Checked = drawable;
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

bool QueryAttribute(const TFormat& t, int attribute, int& value) {
    switch (attribute) {
    case WGL_DRAW_TO_WINDOW_ARB:
        value = t.Window();
        return true;
    case WGL_DRAW_TO_BITMAP_ARB:
        value = t.Pixmap();
        return true;
    case WGL_DRAW_TO_PBUFFER_ARB:
        value = t.Pbuffer();
        return true;
    case WGL_ACCELERATION_ARB:
        value = t.Generic() ? WGL_NO_ACCELERATION_ARB : WGL_FULL_ACCELERATION_ARB;
        return true;
    case WGL_SUPPORT_OPENGL_ARB:
        value = 1;
        return true;
    case WGL_DOUBLE_BUFFER_ARB:
        value = t.Double();
        return true;
    case WGL_STEREO_ARB:
        value = t.Stereo();
        return true;
    case WGL_PIXEL_TYPE_ARB:
        value = WGL_TYPE_RGBA_ARB;
        return true;
    case WGL_COLOR_BITS_ARB:
        value = t.ColorBits();
        return true;
    case WGL_ALPHA_BITS_ARB:
        value = t.Alpha();
        return true;
    case WGL_ACCUM_BITS_ARB:
        value = t.Accum();
        return true;
    case WGL_DEPTH_BITS_ARB:
        value = t.Depth();
        return true;
    case WGL_STENCIL_BITS_ARB:
        value = t.Stencil();
        return true;
    case WGL_AUX_BUFFERS_ARB:
        value = t.AuxBuffers();
        return true;
    case WGL_SAMPLE_BUFFERS_ARB:
        value = t.SampleBuffers();
        return true;
    case WGL_SAMPLES_ARB:
        value = t.Samples();
        return true;
    default:
        return false;
    }
}

BOOL WglGetPixelFormatAttribiv(HDC, int pixelFormat, int, UINT count, const int* attributes,
                               int* values) {
    if (!Ready() || !State().Config(pixelFormat)) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    const TFormat format(pixelFormat);
    for (UINT i = 0; i < count; ++i)
        if (!QueryAttribute(format, attributes[i], values[i])) {
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
