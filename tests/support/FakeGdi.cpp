#include "tests/support/FakeGdi.h"

#include "engine/context/OpenGL1x.h"
#include "platform/win32/WinUser.h"

#include <stdexcept>
#include <string_view>

namespace {

TFakeGdi* ActiveFakeGdi = nullptr;

TFakeGdi& F() {
    return TFakeGdi::Current();
}

void Note(const std::string& line) {
    F().Log.push_back(line);
}

std::string Describe(const PIXELFORMATDESCRIPTOR& pfd) {
    return "color=" + std::to_string(pfd.cColorBits) + ",depth=" + std::to_string(pfd.cDepthBits);
}

int DefaultChoose(const PIXELFORMATDESCRIPTOR& wanted) {
    for (size_t i = 0; i < F().Formats.size(); ++i) {
        const PIXELFORMATDESCRIPTOR& have = F().Formats[i].Descriptor;
        if (have.cColorBits >= wanted.cColorBits && have.cDepthBits >= wanted.cDepthBits)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

int ChoosePixelFormatFake(HDC, const PIXELFORMATDESCRIPTOR* pfd) {
    Note("ChoosePixelFormat(" + Describe(*pfd) + ")");
    const int chosen = F().Choose ? F().Choose(*pfd) : DefaultChoose(*pfd);
    if (chosen == 0)
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return chosen;
}

int DescribePixelFormatFake(HDC, int format, UINT size, PIXELFORMATDESCRIPTOR* pfd) {
    const auto count = static_cast<int>(F().Formats.size());
    if (format < 1 || format > count)
        return 0;
    if (pfd && size >= sizeof(PIXELFORMATDESCRIPTOR))
        *pfd = F().Formats[format - 1].Descriptor;
    return count;
}

BOOL SetPixelFormatFake(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
    Note("SetPixelFormat(" + std::to_string(format) + ")");
    auto found = F().PixelFormatOf.find(dc);
    if (found != F().PixelFormatOf.end() && found->second != format)
        return FALSE;
    F().PixelFormatOf[dc] = format;
    return TRUE;
}

int GetPixelFormatFake(HDC dc) {
    auto found = F().PixelFormatOf.find(dc);
    return found == F().PixelFormatOf.end() ? 0 : found->second;
}

BOOL SwapBuffersFake(HDC) {
    Note("SwapBuffers");
    return TRUE;
}

DWORD GetObjectTypeFake(HGDIOBJ) {
    return F().ObjectType;
}

HPALETTE CreatePaletteFake(const LOGPALETTE* palette) {
    Note("CreatePalette(" + std::to_string(palette->palNumEntries) + ")");
    return reinterpret_cast<HPALETTE>(uintptr_t{1});
}

HPALETTE SelectPaletteFake(HDC, HPALETTE palette, BOOL) {
    Note("SelectPalette");
    return palette;
}

UINT RealizePaletteFake(HDC) {
    Note("RealizePalette");
    return 0;
}

HGLRC CreateContextFake(HDC dc) {
    Note("wglCreateContext");
    if (F().CreateContextFails) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return nullptr;
    }
    HGLRC rc = reinterpret_cast<HGLRC>(F().NextContext++);
    F().Contexts[rc] = dc;
    return rc;
}

BOOL DeleteContextFake(HGLRC rc) {
    Note("wglDeleteContext");
    if (F().DeleteContextFails)
        return FALSE;
    F().Contexts.erase(rc);
    if (F().CurrentRC == rc)
        F().CurrentRC = nullptr, F().CurrentDC = nullptr;
    return TRUE;
}

BOOL MakeCurrentFake(HDC dc, HGLRC rc) {
    Note(rc ? "wglMakeCurrent" : "wglMakeCurrent(0)");
    if (rc && F().MakeCurrentFails) {
        SetLastError(F().MakeCurrentError);
        return FALSE;
    }
    F().CurrentDC = dc;
    F().CurrentRC = rc;
    return TRUE;
}

BOOL ShareListsFake(HGLRC, HGLRC) {
    Note("wglShareLists");
    return TRUE;
}

HDC GetCurrentDCFake() {
    return F().CurrentDC;
}

HGLRC GetCurrentContextFake() {
    return F().CurrentRC;
}

// --- WGL extensions ---

const char* GetExtensionsStringFake(HDC) {
    return F().Extensions.c_str();
}

BOOL ChoosePixelFormatARBFake(HDC, const int* attributes, const float*, UINT maxFormats,
                              int* formats, UINT* count) {
    std::vector<int> list;
    for (const int* a = attributes; *a != 0; a += 2)
        list.insert(list.end(), {a[0], a[1]});
    list.push_back(0);
    F().AttributeSearches.push_back(list);
    Note("wglChoosePixelFormatARB");
    std::vector<int> found =
        F().ChooseByAttributes ? F().ChooseByAttributes(list) : std::vector<int>{};
    *count = 0;
    for (int format : found)
        if (*count < maxFormats)
            formats[(*count)++] = format;
    return TRUE;
}

BOOL GetPixelFormatAttribivFake(HDC, int format, int, UINT count, const int* attributes,
                                int* values) {
    for (UINT i = 0; i < count; ++i) {
        if (attributes[i] != WGL_SAMPLE_BUFFERS_ARB || format < 1 ||
            format > static_cast<int>(F().Formats.size()))
            return FALSE;
        values[i] = F().Formats[format - 1].SampleBuffers;
    }
    return TRUE;
}

BOOL SwapIntervalFake(int interval) {
    Note("wglSwapIntervalEXT(" + std::to_string(interval) + ")");
    F().SwapInterval = interval;
    return TRUE;
}

int GetSwapIntervalFake() {
    return F().SwapInterval;
}

bool Offers(std::string_view name) {
    return F().Extensions.find(name) != std::string::npos;
}

PROC GetProcAddressFake(LPCSTR name) {
    const std::string_view n(name);
    auto proc = [](auto function) { return reinterpret_cast<PROC>(function); };
    if (n == "wglGetExtensionsStringARB")
        return proc(&GetExtensionsStringFake);
    if (Offers("WGL_ARB_pixel_format")) {
        if (n == "wglChoosePixelFormatARB")
            return proc(&ChoosePixelFormatARBFake);
        if (n == "wglGetPixelFormatAttribivARB")
            return proc(&GetPixelFormatAttribivFake);
    }
    if (Offers("WGL_EXT_swap_control")) {
        if (n == "wglSwapIntervalEXT")
            return proc(&SwapIntervalFake);
        if (n == "wglGetSwapIntervalEXT")
            return proc(&GetSwapIntervalFake);
    }
    return nullptr;
}

} // namespace

TFakePixelFormat FakeFormat(int colorBits, int depthBits, bool generic, int sampleBuffers) {
    TFakePixelFormat format;
    PIXELFORMATDESCRIPTOR& pfd = format.Descriptor;
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW | PFD_DOUBLEBUFFER |
                  (generic ? PFD_GENERIC_FORMAT : 0);
    pfd.cColorBits = static_cast<BYTE>(colorBits);
    pfd.cDepthBits = static_cast<BYTE>(depthBits);
    format.SampleBuffers = sampleBuffers;
    return format;
}

// The WGL entry points looked up through the fake outlive it in the engine's globals: they are
// put back as they were when the fake goes.
struct TFakeGdi::TSavedWGL {
    PFNWGLGETEXTENSIONSSTRINGARBPROC Extensions = wglGetExtensionsStringARB;
    PFNWGLCHOOSEPIXELFORMATARBPROC Choose = wglChoosePixelFormatARB;
    PFNWGLGETPIXELFORMATATTRIBIVARBPROC Attributes = wglGetPixelFormatAttribivARB;
    PFNWGLSWAPINTERVALEXTPROC SwapInterval = wglSwapIntervalEXT;
    PFNWGLGETSWAPINTERVALEXTPROC GetSwapInterval = wglGetSwapIntervalEXT;
    void Restore() const {
        wglGetExtensionsStringARB = Extensions;
        wglChoosePixelFormatARB = Choose;
        wglGetPixelFormatAttribivARB = Attributes;
        wglSwapIntervalEXT = SwapInterval;
        wglGetSwapIntervalEXT = GetSwapInterval;
    }
};

TFakeGdi::TFakeGdi() : FSaved(GdiEntryPoints), FSavedWGL(new TSavedWGL), FPrevious(ActiveFakeGdi) {
    ActiveFakeGdi = this;
    TGdiEntryPoints& t = GdiEntryPoints;
    t.ChoosePixelFormat = &ChoosePixelFormatFake;
    t.DescribePixelFormat = &DescribePixelFormatFake;
    t.SetPixelFormat = &SetPixelFormatFake;
    t.GetPixelFormat = &GetPixelFormatFake;
    t.SwapBuffers = &SwapBuffersFake;
    t.GetObjectType = &GetObjectTypeFake;
    t.CreatePalette = &CreatePaletteFake;
    t.SelectPalette = &SelectPaletteFake;
    t.RealizePalette = &RealizePaletteFake;
    t.wglCreateContext = &CreateContextFake;
    t.wglDeleteContext = &DeleteContextFake;
    t.wglMakeCurrent = &MakeCurrentFake;
    t.wglShareLists = &ShareListsFake;
    t.wglGetCurrentDC = &GetCurrentDCFake;
    t.wglGetCurrentContext = &GetCurrentContextFake;
    t.wglGetProcAddress = &GetProcAddressFake;
}

TFakeGdi::~TFakeGdi() {
    GdiEntryPoints = FSaved;
    FSavedWGL->Restore();
    delete FSavedWGL;
    ActiveFakeGdi = FPrevious;
}

TFakeGdi& TFakeGdi::Current() {
    if (!ActiveFakeGdi)
        throw std::logic_error("no fake GDI driver is installed");
    return *ActiveFakeGdi;
}

size_t TFakeGdi::Count(const std::string& prefix) const {
    size_t count = 0;
    for (const std::string& line : Log)
        count += line.starts_with(prefix);
    return count;
}
