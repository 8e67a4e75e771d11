// Pixel formats on the machine's GLX: the classic search picks the format that a full comparison
// of every configuration picks, while asking the driver each attribute of a configuration at
// most once, only what the search needs, and nothing of configurations that cannot serve it.
#include "engine/context/OpenGL1x.h"
#include "platform/win32/WinGDI.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestWindows.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

// Xlib last: its macros must not reach the headers above.
#include "platform/win32/GLXBinding.h"
#include "platform/win32/WinX11.h"

namespace {

// Every attribute query that reaches the driver while it lives, by configuration and attribute.
class TAttributeLog {
public:
    TAttributeLog() : FDriver(GLX.glXGetFBConfigAttrib) {
        Active() = this;
        GLX.glXGetFBConfigAttrib = &Logged;
    }
    ~TAttributeLog() {
        GLX.glXGetFBConfigAttrib = FDriver;
        Active() = nullptr;
    }
    TAttributeLog(const TAttributeLog&) = delete;
    TAttributeLog& operator=(const TAttributeLog&) = delete;

    std::map<std::pair<GLXFBConfig, int>, int> Asked;

private:
    static TAttributeLog*& Active() {
        static TAttributeLog* log = nullptr;
        return log;
    }
    static int Logged(Display* display, GLXFBConfig config, int attribute, int* value) {
        ++Active()->Asked[{config, attribute}];
        return Active()->FDriver(display, config, attribute, value);
    }

    decltype(GLX.glXGetFBConfigAttrib) FDriver;
};

// The screen's configurations straight from GLX: pixel format n is the n-th.
std::vector<GLXFBConfig> Configurations() {
    int count = 0;
    GLXFBConfig* configs = GLX.glXGetFBConfigs(Win32Display(), Win32Screen(), &count);
    std::vector<GLXFBConfig> all(configs, configs + count);
    XFree(configs);
    return all;
}

int Raw(GLXFBConfig config, int attribute) {
    int value = 0;
    GLX.glXGetFBConfigAttrib(Win32Display(), config, attribute, &value);
    return value;
}

// The distance of every configuration, computed in full; the first of the nearest wins.
int NearestByFullComparison(const PIXELFORMATDESCRIPTOR& want) {
    const std::vector<GLXFBConfig> configs = Configurations();
    auto term = [](int have, int wanted, long weight) {
        return (have < wanted ? 1000L : 0L) + std::labs(static_cast<long>(have) - wanted) * weight;
    };
    const int wantColor = want.cColorBits >= 32 ? 24 : want.cColorBits;
    int best = 0;
    long bestDistance = LONG_MAX;
    for (size_t i = 0; i < configs.size(); ++i) {
        const GLXFBConfig c = configs[i];
        const int drawable = Raw(c, GLX_DRAWABLE_TYPE);
        const bool window = (drawable & GLX_WINDOW_BIT) && Raw(c, GLX_VISUAL_ID) != 0;
        if (!(Raw(c, GLX_RENDER_TYPE) & GLX_RGBA_BIT) ||
            ((want.dwFlags & PFD_DRAW_TO_WINDOW) && !window) ||
            ((want.dwFlags & PFD_DRAW_TO_BITMAP) && !(drawable & GLX_PIXMAP_BIT)) ||
            (Raw(c, GLX_DOUBLEBUFFER) != 0) != bool(want.dwFlags & PFD_DOUBLEBUFFER) ||
            (Raw(c, GLX_STEREO) != 0) != bool(want.dwFlags & PFD_STEREO))
            continue;
        const int accum = Raw(c, GLX_ACCUM_RED_SIZE) + Raw(c, GLX_ACCUM_GREEN_SIZE) +
                          Raw(c, GLX_ACCUM_BLUE_SIZE) + Raw(c, GLX_ACCUM_ALPHA_SIZE);
        const long distance =
            term(Raw(c, GLX_RED_SIZE) + Raw(c, GLX_GREEN_SIZE) + Raw(c, GLX_BLUE_SIZE), wantColor,
                 4) +
            term(Raw(c, GLX_DEPTH_SIZE), want.cDepthBits, 2) +
            term(Raw(c, GLX_ALPHA_SIZE), want.cAlphaBits, 1) +
            term(Raw(c, GLX_STENCIL_SIZE), want.cStencilBits, 1) + term(accum, want.cAccumBits, 1) +
            term(Raw(c, GLX_AUX_BUFFERS), want.cAuxBuffers, 0) + Raw(c, GLX_SAMPLE_BUFFERS) * 100L;
        if (distance < bestDistance) {
            best = static_cast<int>(i) + 1;
            bestDistance = distance;
        }
    }
    return best;
}

PIXELFORMATDESCRIPTOR Request(DWORD flags, int color, int depth, int alpha = 0, int stencil = 0,
                              int accum = 0) {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_SUPPORT_OPENGL | flags;
    pfd.cColorBits = static_cast<BYTE>(color);
    pfd.cDepthBits = static_cast<BYTE>(depth);
    pfd.cAlphaBits = static_cast<BYTE>(alpha);
    pfd.cStencilBits = static_cast<BYTE>(stencil);
    pfd.cAccumBits = static_cast<BYTE>(accum);
    return pfd;
}

constexpr DWORD WindowDouble = PFD_DRAW_TO_WINDOW | PFD_DOUBLEBUFFER;

struct PixelFormatGL : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(LoadOpenGLLibraries()); }
};

TEST_F(PixelFormatGL, ChoosesWhatAFullComparisonChooses) {
    const PIXELFORMATDESCRIPTOR requests[] = {
        Request(WindowDouble, 32, 24),           Request(WindowDouble, 32, 16),
        Request(WindowDouble, 16, 16),           Request(WindowDouble, 32, 24, 8, 8),
        Request(WindowDouble, 24, 32, 0, 0, 64), Request(PFD_DRAW_TO_WINDOW, 24, 0),
        Request(PFD_DRAW_TO_BITMAP, 24, 24),     Request(WindowDouble | PFD_STEREO, 32, 24),
    };
    for (const PIXELFORMATDESCRIPTOR& request : requests) {
        const int nearest = NearestByFullComparison(request);
        EXPECT_EQ(ChoosePixelFormat(nullptr, &request), nearest)
            << "colour " << int(request.cColorBits) << ", depth " << int(request.cDepthBits)
            << ", flags " << request.dwFlags;
        if (nearest == 0) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PIXEL_FORMAT));
        }
    }
}

// The classic search with its retries and the descriptions it reads, then an attribute query.
TEST_F(PixelFormatGL, AsksEachAttributeOnceAndOnlyWhatTheSearchNeeds) {
    TAttributeLog log;
    for (int round = 0; round < 2; ++round)
        for (const PIXELFORMATDESCRIPTOR& request :
             {Request(WindowDouble, 32, 24), Request(WindowDouble, 32, 16),
              Request(WindowDouble, 16, 16)}) {
            PIXELFORMATDESCRIPTOR described{};
            const int chosen = ChoosePixelFormat(nullptr, &request);
            ASSERT_NE(chosen, 0);
            EXPECT_NE(DescribePixelFormat(nullptr, chosen, sizeof described, &described), 0);
            EXPECT_TRUE(described.dwFlags & PFD_DRAW_TO_WINDOW);
        }
    auto query = reinterpret_cast<PFNWGLGETPIXELFORMATATTRIBIVARBPROC>(
        wglGetProcAddress("wglGetPixelFormatAttribivARB"));
    ASSERT_NE(query, nullptr);
    const int attributes[] = {WGL_SAMPLE_BUFFERS_ARB, WGL_DEPTH_BITS_ARB};
    int values[2] = {};
    const PIXELFORMATDESCRIPTOR request = Request(WindowDouble, 32, 24);
    const int format = ChoosePixelFormat(nullptr, &request);
    EXPECT_TRUE(query(nullptr, format, 0, 2, attributes, values));
    const auto asked = log.Asked;
    const GLXFBConfig config = Configurations().at(static_cast<size_t>(format) - 1);
    EXPECT_EQ(values[0], Raw(config, GLX_SAMPLE_BUFFERS));
    EXPECT_EQ(values[1], Raw(config, GLX_DEPTH_SIZE));

    size_t repeated = 0;
    for (const auto& [attribute, times] : asked)
        repeated += times > 1;
    EXPECT_EQ(repeated, 0u) << "of " << asked.size() << " attributes asked";
    // Configurations that cannot serve the request are left to the driver to rule out, and
    // asked nothing.
    std::map<GLXFBConfig, bool> unfit;
    for (GLXFBConfig c : Configurations())
        unfit[c] = !(Raw(c, GLX_DRAWABLE_TYPE) & GLX_WINDOW_BIT) || Raw(c, GLX_DOUBLEBUFFER) == 0 ||
                   Raw(c, GLX_STEREO) != 0;
    size_t askedOfUnfit = 0;
    for (const auto& [attribute, times] : asked)
        askedOfUnfit += unfit[attribute.first];
    EXPECT_EQ(askedOfUnfit, 0u) << "attributes asked of formats that cannot draw the request";
}

// A context is checked against a window on its first activation there; it keeps taking that
// window, and another window of its format, activation after activation.
TEST_F(PixelFormatGL, ActivationTakesTheSameWindowsAgainAndAgain) {
    const PIXELFORMATDESCRIPTOR request = Request(WindowDouble, 32, 24);
    HWND first = CreateTestPopup();
    HWND second = CreateTestPopup();
    HDC firstDC = GetDC(first);
    HDC secondDC = GetDC(second);
    const int format = ChoosePixelFormat(firstDC, &request);
    ASSERT_TRUE(SetPixelFormat(firstDC, format, &request));
    ASSERT_TRUE(SetPixelFormat(secondDC, format, &request));
    HGLRC context = wglCreateContext(firstDC);
    ASSERT_NE(context, nullptr);
    const int errorsBefore = Win32XErrorCount();
    for (int round = 0; round < 3; ++round)
        for (HDC dc : {firstDC, firstDC, secondDC}) {
            EXPECT_TRUE(wglMakeCurrent(dc, context)) << "round " << round;
            EXPECT_EQ(wglGetCurrentDC(), dc);
            EXPECT_TRUE(wglMakeCurrent(nullptr, nullptr));
        }
    EXPECT_EQ(Win32XErrorCount(), errorsBefore);
    wglDeleteContext(context);
    DestroyWindow(first);
    DestroyWindow(second);
}

} // namespace
