#include "engine/context/GLWin32Context.h"

#include "engine/context/OpenGL1x.h"
#include "platform/framework/OSError.h"
#include "platform/win32/WinUser.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

constexpr GLenum MultisampleFilterHintNV = 0x8534;
constexpr const char* UtilityWindowClass = "TGLWin32ContextUtilityWindow";

using TTrackCallback = void (*)(TGLContext* context);

struct TTrackedWindow {
    HWND Window;
    TTrackCallback Callback;
    TGLContext* Context;
};

// Process-wide state of the module: the tracked windows with their hook, and what the last
// activation saw (pixel format and vendor) to decide when to read the extensions again.
struct TWin32ContextState {
    std::vector<TTrackedWindow> Tracked;
    HHOOK Hook = nullptr;
    int LastPixelFormat = 0;
    std::string LastVendor;
    bool UtilityClassRegistered = false;
};

TWin32ContextState& ModuleState() {
    static TWin32ContextState state;
    return state;
}

LRESULT TrackHookProc(int code, WPARAM wParam, LPARAM lParam) {
    TWin32ContextState& state = ModuleState();
    if (code != HC_ACTION)
        return CallNextHookEx(state.Hook, code, wParam, lParam);
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->message == WM_DESTROY) {
        // Callbacks remove entries, so the index is clamped to the list after each one.
        for (int i = static_cast<int>(state.Tracked.size()) - 1; i >= 0; --i) {
            const TTrackedWindow entry = state.Tracked[i];
            if (IsChild(sent->hwnd, entry.Window)) {
                entry.Callback(entry.Context);
                i = std::min(i, static_cast<int>(state.Tracked.size()));
            }
        }
    }
    CallNextHookEx(state.Hook, code, wParam, lParam);
    return 0;
}

void TrackWindow(HWND window, TTrackCallback callback, TGLContext* context) {
    TWin32ContextState& state = ModuleState();
    if (!IsWindow(window))
        return;
    if (state.Tracked.empty())
        state.Hook =
            SetWindowsHookEx(WH_CALLWNDPROC, &TrackHookProc, nullptr, GetCurrentThreadId());
    state.Tracked.push_back({window, callback, context});
}

void UntrackWindow(HWND window) {
    TWin32ContextState& state = ModuleState();
    if (!IsWindow(window) || state.Tracked.empty())
        return;
    std::erase_if(state.Tracked, [window](const TTrackedWindow& e) { return e.Window == window; });
    if (state.Tracked.empty() && state.Hook) {
        UnhookWindowsHookEx(state.Hook);
        state.Hook = nullptr;
    }
}

// A tracked context whose ancestor window goes is torn down; one that has already lost its
// native context has nothing left to tear down.
void TeardownTrackedContext(TGLContext* context) {
    if (context->NativeIsValid())
        context->DestroyContextResources();
}

bool IsWindowDevice(DWORD objectType) {
    return objectType != OBJ_MEMDC && objectType != OBJ_METADC && objectType != OBJ_ENHMETADC;
}

bool Accelerated(HDC device, int pixelFormat) {
    PIXELFORMATDESCRIPTOR described{};
    DescribePixelFormat(device, pixelFormat, sizeof described, &described);
    return (described.dwFlags & PFD_GENERIC_FORMAT) == 0;
}

int SampleCount(TGLAntiAliasing antiAliasing) {
    return (antiAliasing == aa4x || antiAliasing == aa4xHQ) ? 4 : 2;
}

} // namespace

void RegisterWin32ContextClass() {
    GLContextManager()->RegisterContextClass([] { return std::make_unique<TGLWin32Context>(); });
}

void FinalizeWin32Context() {
    TWin32ContextState& state = ModuleState();
    if (state.Hook)
        UnhookWindowsHookEx(state.Hook);
    state.Hook = nullptr;
    state.Tracked.clear();
    state.LastVendor.clear();
    state.LastPixelFormat = 0;
}

// --- the temporary legacy context ----------------------------------------------------------------

// Owns the hidden utility window and the temporary legacy context made on it, current for the
// scope's life; everything is released and destroyed when the scope ends, also on failure.
class TGLWin32Context::TLegacyScope {
public:
    explicit TLegacyScope(TGLWin32Context& owner) : FOwner(owner) {
        // A scope that fails to come into being gets no destructor call: it leaves here.
        TOnFailure leave([this] { Leave(); });
        Enter();
    }
    ~TLegacyScope() { Leave(); }
    TLegacyScope(const TLegacyScope&) = delete;
    TLegacyScope& operator=(const TLegacyScope&) = delete;

private:
    void Enter() {
        FWindow = CreateUtilityWindow();
        FDC = GetDC(FWindow);
        CreateLegacyContext();
        FOwner.NativeMakeCurrent();
        FCurrent = true;
        ClearGLErrors();
    }

    void Leave() {
        try {
            if (FCurrent)
                FOwner.NativeReleaseCurrent();
            if (FOwner.FRC)
                FOwner.NativeDestroy();
        } catch (const Exception&) {
            // Clean-up of a temporary context cannot fail the operation it served.
        }
        FOwner.FRC = nullptr;
        FOwner.FDC = nullptr;
        if (FDC)
            ReleaseDC(FWindow, FDC);
        if (FWindow)
            DestroyWindow(FWindow);
    }

    static HWND CreateUtilityWindow() {
        TWin32ContextState& state = ModuleState();
        if (!state.UtilityClassRegistered) {
            WNDCLASSEX windowClass{};
            windowClass.cbSize = sizeof windowClass;
            windowClass.lpfnWndProc = &DefWindowProc;
            windowClass.lpszClassName = UtilityWindowClass;
            RegisterClassEx(&windowClass);
            state.UtilityClassRegistered = true;
        }
        HWND window = CreateWindowEx(WS_EX_TOOLWINDOW, UtilityWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                                     nullptr, nullptr, nullptr, nullptr);
        if (!window)
            RaiseLastOSError();
        return window;
    }

    void CreateLegacyContext() {
        FOwner.FLegacyContextsOnly = true;
        try {
            FOwner.NativeCreate(FDC);
        } catch (const Exception& failure) {
            FOwner.FLegacyContextsOnly = false;
            throw Exception(std::string("Unable to create legacy context") + "\r\n" +
                            failure.ClassName() + ": " + failure.Message());
        }
        FOwner.FLegacyContextsOnly = false;
    }

    TGLWin32Context& FOwner;
    HWND FWindow = nullptr;
    HDC FDC = nullptr;
    bool FCurrent = false;
};

// --- TGLWin32Context
// -------------------------------------------------------------------------------

TGLWin32Context::TGLWin32Context() {
    ClearIAttribs();
    FfAttribs = {0};
}

TGLWin32Context::~TGLWin32Context() {
    try {
        if (NativeIsValid())
            DestroyContextResources();
    } catch (const Exception&) {
        // A destructor cannot report a failed teardown; the handles are forgotten regardless.
    }
}

void TGLWin32Context::ClearIAttribs() {
    FiAttribs = {0};
}

void TGLWin32Context::AddIAttrib(int key, int value) {
    FiAttribs.back() = key;
    FiAttribs.push_back(value);
    FiAttribs.push_back(0);
}

void TGLWin32Context::ChangeIAttrib(int key, int value) {
    for (size_t i = 0; i + 1 < FiAttribs.size(); i += 2)
        if (FiAttribs[i] == key) {
            FiAttribs[i + 1] = value;
            return;
        }
    AddIAttrib(key, value);
}

void TGLWin32Context::DropIAttrib(int key) {
    for (size_t i = 0; i + 1 < FiAttribs.size(); i += 2)
        if (FiAttribs[i] == key) {
            FiAttribs.erase(FiAttribs.begin() + static_cast<std::ptrdiff_t>(i),
                            FiAttribs.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            return;
        }
}

void TGLWin32Context::NativeMakeCurrent() {
    if (!wglMakeCurrent(FDC, FRC)) {
        const DWORD error = GetLastError();
        throw EGLContext(
            Format("Context activation failed: %X, %s", error, SysErrorMessage(error).c_str()));
    }
    RefreshExtensions();
    if ((AntiAliasing() == aa2xHQ || AntiAliasing() == aa4xHQ) && GL_ARB_multisample &&
        GL_NV_multisample_filter_hint)
        glHint(MultisampleFilterHintNV, GL_NICEST);
}

// A context with another pixel format than the last one may come with other entry points:
// everything is read again for a new vendor, the WGL side only otherwise.
void TGLWin32Context::RefreshExtensions() {
    TWin32ContextState& state = ModuleState();
    const int pixelFormat = GetPixelFormat(FDC);
    if (pixelFormat == state.LastPixelFormat)
        return;
    const GLubyte* vendorText = glGetString(GL_VENDOR);
    const std::string vendor = vendorText ? reinterpret_cast<const char*>(vendorText) : "";
    if (vendor != state.LastVendor) {
        LoadExtensionEntryPoints();
        ReadGLCapabilities();
        state.LastVendor = vendor;
    } else {
        LoadWGLEntryPoints();
        ReadWGLCapabilities();
    }
    state.LastPixelFormat = pixelFormat;
}

void TGLWin32Context::NativeReleaseCurrent() {
    if (!wglMakeCurrent(nullptr, nullptr))
        throw Exception("Context deactivation failed");
}

void TGLWin32Context::NativeSwapBuffers() {
    if (!FHPBUFFER && FDC && CreationOptions().Contains(DoubleBuffered))
        SwapBuffers(FDC);
}

void TGLWin32Context::NativeShareLists(TGLContext* otherContext) {
    auto* other = dynamic_cast<TGLWin32Context*>(otherContext);
    if (!other)
        throw Exception("Incompatible contexts");
    if (FRC != other->FRC)
        wglShareLists(FRC, other->FRC);
}

void TGLWin32Context::NativeDestroy() {
    UntrackWindow(WindowFromDC(FDC));
    HGLRC rc = FRC;
    FRC = nullptr;
    const bool deleted = !rc || wglDeleteContext(rc);
    if (FHPBUFFER) {
        wglReleasePbufferDCARB(FHPBUFFER, FDC);
        wglDestroyPbufferARB(FHPBUFFER);
        FHPBUFFER = nullptr;
    }
    FDC = nullptr;
    if (!deleted)
        throw EGLContext("Delete context failed");
}

void TGLWin32Context::NativeCreate(HDC outputDevice) {
    const HWND window = WindowFromDC(outputDevice);
    TrackWindow(window, &TeardownTrackedContext, this);
    // A context that failed to come into being must not be torn down by its window later.
    TOnFailure untrack([window] { UntrackWindow(window); });
    CreateWithDescriptor(outputDevice);
}

PIXELFORMATDESCRIPTOR TGLWin32Context::BaseDescriptor(DWORD objectType) const {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags =
        PFD_SUPPORT_OPENGL | (IsWindowDevice(objectType) ? PFD_DRAW_TO_WINDOW : PFD_DRAW_TO_BITMAP);
    if (CreationOptions().Contains(DoubleBuffered))
        pfd.dwFlags |= PFD_DOUBLEBUFFER;
    if (CreationOptions().Contains(Stereo))
        pfd.dwFlags |= PFD_STEREO;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = static_cast<BYTE>(ColorBits());
    pfd.cDepthBits = static_cast<BYTE>(DepthBits());
    pfd.cStencilBits = static_cast<BYTE>(StencilBits());
    pfd.cAccumBits = static_cast<BYTE>(AccumBits());
    pfd.cAlphaBits = static_cast<BYTE>(AlphaBits());
    pfd.cAuxBuffers = static_cast<BYTE>(AuxBuffers());
    pfd.iLayerType = PFD_MAIN_PLANE;
    return pfd;
}

void TGLWin32Context::CreateWithDescriptor(HDC device) {
    if (!LoadOpenGLLibraries())
        RaiseLastOSError();
    const DWORD objectType = GetObjectType(device);
    if (objectType == 0)
        RaiseLastOSError();
    PIXELFORMATDESCRIPTOR pfd = BaseDescriptor(objectType);
    const bool windowDevice = IsWindowDevice(objectType);
    int chosen = 0;
    if (!IsMesaLibrary() && !FLegacyContextsOnly && windowDevice)
        chosen = ExtendedSearch(device, pfd);
    if (chosen == 0) {
        chosen = ClassicSearch(device, pfd, windowDevice);
        ClearGLErrors();
    }
    if (GetPixelFormat(device) != chosen && !SetPixelFormat(device, chosen, &pfd))
        RaiseLastOSError();
    DescribePixelFormat(device, chosen, sizeof pfd, &pfd);
    if (pfd.dwFlags & PFD_NEED_PALETTE)
        SetupPalette(device, pfd);
    SetAcceleration((pfd.dwFlags & PFD_GENERIC_FORMAT) ? AccelerationSoftware
                                                       : AccelerationHardware);
    FRC = wglCreateContext(device);
    if (!FRC)
        RaiseLastOSError();
    ModuleState().LastPixelFormat = 0;
    FDC = device;
}

int TGLWin32Context::ExtendedSearch(HDC device, const PIXELFORMATDESCRIPTOR& descriptor) {
    TLegacyScope legacy(*this);
    if (!WGL_ARB_pixel_format)
        return 0;
    ClearIAttribs();
    AddIAttrib(WGL_DRAW_TO_WINDOW_ARB, 1);
    AddIAttrib(WGL_STEREO_ARB, CreationOptions().Contains(Stereo) ? 1 : 0);
    AddIAttrib(WGL_DOUBLE_BUFFER_ARB, CreationOptions().Contains(DoubleBuffered) ? 1 : 0);
    const std::vector<int> candidates = ChooseWGLFormat(device, 32);
    if (candidates.empty())
        return 0;
    const int chosen = ChooseCandidate(device, candidates);
    if (GetPixelFormat(device) != chosen && !SetPixelFormat(device, chosen, &descriptor))
        RaiseLastOSError();
    return chosen;
}

// Without an explicit multisample request, a candidate without sample buffers is preferred.
int TGLWin32Context::ChooseCandidate(HDC device, const std::vector<int>& candidates) const {
    if (!WGL_ARB_multisample || AntiAliasing() >= aa2x)
        return candidates.front();
    const int query = WGL_SAMPLE_BUFFERS_ARB;
    for (int candidate : candidates) {
        int sampleBuffers = 0;
        wglGetPixelFormatAttribivARB(device, candidate, 0, 1, &query, &sampleBuffers);
        if (sampleBuffers == 0)
            return candidate;
    }
    return candidates.back();
}

int TGLWin32Context::ClassicSearch(HDC device, PIXELFORMATDESCRIPTOR& descriptor,
                                   bool windowDevice) const {
    int chosen = ChoosePixelFormat(device, &descriptor);
    if (!windowDevice) {
        if (chosen == 0)
            RaiseLastOSError();
        return chosen;
    }
    int software = 0;
    auto accepted = [&](int format) {
        if (format == 0)
            return false;
        if (Accelerated(device, format))
            return true;
        if (software == 0)
            software = format;
        return false;
    };
    if (accepted(chosen))
        return chosen;
    descriptor.cDepthBits = 16;
    chosen = ChoosePixelFormat(device, &descriptor);
    if (accepted(chosen))
        return chosen;
    descriptor.cColorBits = 16;
    chosen = ChoosePixelFormat(device, &descriptor);
    if (!accepted(chosen))
        chosen = software;
    if (chosen == 0)
        RaiseLastOSError();
    return chosen;
}

void TGLWin32Context::SetupPalette(HDC device, const PIXELFORMATDESCRIPTOR& pfd) const {
    const int entries = 1 << pfd.cColorBits;
    std::vector<BYTE> storage(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * entries);
    auto* palette = reinterpret_cast<LOGPALETTE*>(storage.data());
    palette->palVersion = 0x300;
    palette->palNumEntries = static_cast<WORD>(entries);
    auto channel = [](int index, int shift, int bits) {
        const int mask = (1 << bits) - 1;
        return static_cast<BYTE>(mask ? ((index >> shift) & mask) * 255 / mask : 0);
    };
    for (int i = 0; i < entries; ++i) {
        PALETTEENTRY& entry = palette->palPalEntry[i];
        entry.peRed = channel(i, pfd.cRedShift, pfd.cRedBits);
        entry.peGreen = channel(i, pfd.cGreenShift, pfd.cGreenBits);
        entry.peBlue = channel(i, pfd.cBlueShift, pfd.cBlueBits);
        entry.peFlags = 0;
    }
    HPALETTE created = CreatePalette(palette);
    if (!created)
        RaiseLastOSError();
    SelectPalette(device, created, FALSE);
    RealizePalette(device);
}

std::vector<int> TGLWin32Context::ChooseWGLFormat(HDC device, UINT maxFormats) {
    auto search = [&] {
        FfAttribs = {0};
        std::vector<int> formats(maxFormats);
        UINT count = 0;
        if (!wglChoosePixelFormatARB ||
            !wglChoosePixelFormatARB(device, FiAttribs.data(), FfAttribs.data(), maxFormats,
                                     formats.data(), &count))
            count = 0;
        formats.resize(std::min(count, maxFormats));
        return formats;
    };
    AddIAttrib(WGL_ACCELERATION_ARB, WGL_FULL_ACCELERATION_ARB);
    if (ColorBits() == 64 || ColorBits() == 128) {
        if (GL_ATI_texture_float) {
            AddIAttrib(WGL_PIXEL_TYPE_ARB, WGL_TYPE_RGBA_FLOAT_ATI);
        } else {
            AddIAttrib(WGL_PIXEL_TYPE_ARB, WGL_TYPE_RGBA_ARB);
            AddIAttrib(WGL_FLOAT_COMPONENTS_NV, 1);
        }
    }
    AddIAttrib(WGL_COLOR_BITS_ARB, ColorBits());
    if (AlphaBits() > 0)
        AddIAttrib(WGL_ALPHA_BITS_ARB, AlphaBits());
    AddIAttrib(WGL_DEPTH_BITS_ARB, DepthBits());
    if (StencilBits() > 0)
        AddIAttrib(WGL_STENCIL_BITS_ARB, StencilBits());
    if (AccumBits() > 0)
        AddIAttrib(WGL_ACCUM_BITS_ARB, AccumBits());
    if (AuxBuffers() > 0)
        AddIAttrib(WGL_AUX_BUFFERS_ARB, AuxBuffers());
    if (AntiAliasing() != aaDefault && WGL_ARB_multisample && GL_ARB_multisample) {
        if (AntiAliasing() == aaNone) {
            AddIAttrib(WGL_SAMPLE_BUFFERS_ARB, 0);
        } else {
            AddIAttrib(WGL_SAMPLE_BUFFERS_ARB, 1);
            AddIAttrib(WGL_SAMPLES_ARB, SampleCount(AntiAliasing()));
        }
    }
    std::vector<int> formats = search();
    if (formats.empty() && AntiAliasing() != aaDefault) {
        DropIAttrib(WGL_SAMPLE_BUFFERS_ARB);
        DropIAttrib(WGL_SAMPLES_ARB);
    }
    if (formats.empty() && DepthBits() >= 32) {
        ChangeIAttrib(WGL_DEPTH_BITS_ARB, 24);
        formats = search();
    }
    if (formats.empty() && DepthBits() >= 24) {
        ChangeIAttrib(WGL_DEPTH_BITS_ARB, 16);
        formats = search();
    }
    if (formats.empty() && ColorBits() >= 24) {
        ChangeIAttrib(WGL_COLOR_BITS_ARB, 16);
        formats = search();
    }
    if (formats.empty()) {
        ChangeIAttrib(WGL_COLOR_BITS_ARB, ColorBits());
        ChangeIAttrib(WGL_DEPTH_BITS_ARB, DepthBits());
        DropIAttrib(WGL_ACCELERATION_ARB);
        formats = search();
    }
    return formats;
}

void TGLWin32Context::NativeCreateOffscreen(HDC outputDevice, int width, int height) {
    HPBUFFERARB pbuffer = nullptr;
    HDC pbufferDC = nullptr;
    HGLRC pbufferRC = nullptr;
    {
        TLegacyScope legacy(*this);
        if (!WGL_ARB_pixel_format || !WGL_ARB_pbuffer)
            throw Exception("WGL_ARB_pbuffer support required.");
        ClearIAttribs();
        AddIAttrib(WGL_DRAW_TO_PBUFFER_ARB, 1);
        const std::vector<int> candidates = ChooseWGLFormat(outputDevice, 32);
        if (candidates.empty())
            throw Exception("Format not supported for pbuffer operation.");
        pbuffer = wglCreatePbufferARB(outputDevice, candidates.front(), width, height, nullptr);
        if (!pbuffer)
            throw Exception("Unabled to create pbuffer.");
        pbufferDC = wglGetPbufferDCARB(pbuffer);
        if (!pbufferDC) {
            wglDestroyPbufferARB(pbuffer);
            throw Exception("Unabled to create pbuffer's DC.");
        }
        pbufferRC = wglCreateContext(pbufferDC);
        if (!pbufferRC) {
            wglReleasePbufferDCARB(pbuffer, pbufferDC);
            wglDestroyPbufferARB(pbuffer);
            throw Exception("Unabled to create pbuffer's RC.");
        }
        CheckGLError();
    }
    FHPBUFFER = pbuffer;
    FDC = pbufferDC;
    FRC = pbufferRC;
    ModuleState().LastPixelFormat = 0;
    SetAcceleration(AccelerationHardware);
}
