#include "engine/context/GLWin32Context.h"
#include "engine/context/OpenGL1x.h"
#include "platform/win32/WinUser.h"
#include "tests/support/FakeContext.h"
#include "tests/support/FakeGdi.h"
#include "tests/support/RecordingGL.h"
#include "tests/support/WindowState.h"

#include <gtest/gtest.h>

namespace {

using Attributes = std::vector<int>;

HWND MakeWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEX windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &DefWindowProc;
        windowClass.lpszClassName = "ContextTestWindow";
        RegisterClassEx(&windowClass);
        registered = true;
    }
    return CreateWindowEx(0, "ContextTestWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr,
                          nullptr, nullptr, nullptr);
}

struct Win32ContextFixture : ::testing::Test {
    TRecordingGL gl;
    TFakeGdi gdi;
    HWND window = nullptr;
    HDC dc = nullptr;

    void SetUp() override {
        FinalizeWin32Context(); // forget what earlier tests' activations saw
        window = MakeWindow();
        dc = GetDC(window);
        gdi.Formats = {FakeFormat(32, 24, false)};
    }
    void TearDown() override {
        if (IsWindow(window))
            DestroyWindow(window);
    }

    // The log from the point where the temporary legacy context was deleted.
    std::vector<std::string> LogAfterLegacyContext() const {
        auto deleted = std::find(gdi.Log.begin(), gdi.Log.end(), "wglDeleteContext");
        return {deleted == gdi.Log.end() ? gdi.Log.begin() : deleted + 1, gdi.Log.end()};
    }
};

TEST_F(Win32ContextFixture, AttributeListKeepsItsTerminator) {
    TGLWin32Context context;
    EXPECT_EQ(context.IntegerAttributes(), Attributes{0});
    context.AddIAttrib(1, 10);
    context.AddIAttrib(2, 20);
    context.ChangeIAttrib(2, 21);
    context.ChangeIAttrib(3, 30);
    EXPECT_EQ(context.IntegerAttributes(), (Attributes{1, 10, 2, 21, 3, 30, 0}));
    context.DropIAttrib(1);
    context.DropIAttrib(99);
    EXPECT_EQ(context.IntegerAttributes(), (Attributes{2, 21, 3, 30, 0}));
    context.ClearIAttribs();
    EXPECT_EQ(context.IntegerAttributes(), Attributes{0});
}

TEST_F(Win32ContextFixture, AttributeSearchFallsBackInOrder) {
    gdi.Extensions = "WGL_ARB_extensions_string WGL_ARB_pixel_format WGL_ARB_multisample ";
    gl.Strings[GL_EXTENSIONS] = "GL_EXT_bgra GL_ARB_multisample";
    TGLWin32Context context;
    context.SetColorBits(32);
    context.SetDepthBits(32);
    context.SetAntiAliasing(aa4x);
    context.SetCreationOptions({DoubleBuffered});
    context.CreateForDevice(dc);

    const Attributes head{WGL_DRAW_TO_WINDOW_ARB, 1, WGL_STEREO_ARB, 0, WGL_DOUBLE_BUFFER_ARB, 1};
    auto with = [&](Attributes tail) {
        Attributes all = head;
        all.insert(all.end(), tail.begin(), tail.end());
        all.push_back(0);
        return all;
    };
    const int accel = WGL_ACCELERATION_ARB, full = WGL_FULL_ACCELERATION_ARB;
    const int color = WGL_COLOR_BITS_ARB, depth = WGL_DEPTH_BITS_ARB;
    ASSERT_EQ(gdi.AttributeSearches.size(), 5u);
    EXPECT_EQ(gdi.AttributeSearches[0], with({accel, full, color, 32, depth, 32,
                                              WGL_SAMPLE_BUFFERS_ARB, 1, WGL_SAMPLES_ARB, 4}));
    EXPECT_EQ(gdi.AttributeSearches[1], with({accel, full, color, 32, depth, 24}));
    EXPECT_EQ(gdi.AttributeSearches[2], with({accel, full, color, 32, depth, 16}));
    EXPECT_EQ(gdi.AttributeSearches[3], with({accel, full, color, 16, depth, 16}));
    EXPECT_EQ(gdi.AttributeSearches[4], with({color, 32, depth, 32}));
    // Nothing found: the classic search chose instead.
    EXPECT_EQ(GetPixelFormat(dc), 1);
    EXPECT_EQ(context.Acceleration(), AccelerationHardware);
}

struct CandidateCase {
    std::vector<int> SampleBuffers; // of formats 1..n, all offered as candidates
    TGLAntiAliasing AntiAliasing;
    bool Multisample;
    int Expected;
};

class CandidateChoice : public Win32ContextFixture,
                        public ::testing::WithParamInterface<CandidateCase> {};

TEST_P(CandidateChoice, PrefersFormatsWithoutSampleBuffers) {
    const CandidateCase& c = GetParam();
    gdi.Extensions = std::string("WGL_ARB_extensions_string WGL_ARB_pixel_format ") +
                     (c.Multisample ? "WGL_ARB_multisample " : "");
    gl.Strings[GL_EXTENSIONS] = "GL_EXT_bgra GL_ARB_multisample";
    gdi.Formats.clear();
    std::vector<int> all;
    for (size_t i = 0; i < c.SampleBuffers.size(); ++i) {
        gdi.Formats.push_back(FakeFormat(32, 24, false, c.SampleBuffers[i]));
        all.push_back(static_cast<int>(i) + 1);
    }
    gdi.ChooseByAttributes = [&](const Attributes&) { return all; };
    TGLWin32Context context;
    context.SetAntiAliasing(c.AntiAliasing);
    context.CreateForDevice(dc);
    EXPECT_EQ(GetPixelFormat(dc), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Candidates, CandidateChoice,
                         ::testing::Values(CandidateCase{{1, 0, 0}, aaDefault, true, 2},
                                           CandidateCase{{1, 1, 1}, aaDefault, true, 3},
                                           CandidateCase{{1, 1, 1}, aaNone, true, 3},
                                           CandidateCase{{1, 0, 0}, aa2x, true, 1},
                                           CandidateCase{{1, 0, 0}, aaDefault, false, 1}));

TEST_F(Win32ContextFixture, GenericOnlyDriverFallsBackToTheSoftwareFormat) {
    gdi.Formats = {FakeFormat(24, 24, true)};
    gdi.Choose = [](const PIXELFORMATDESCRIPTOR&) { return 1; };
    TGLWin32Context context;
    context.SetColorBits(24);
    context.SetDepthBits(24);
    context.CreateForDevice(dc);
    EXPECT_EQ(LogAfterLegacyContext(),
              (std::vector<std::string>{"ChoosePixelFormat(color=24,depth=24)",
                                        "ChoosePixelFormat(color=24,depth=16)",
                                        "ChoosePixelFormat(color=16,depth=16)", "SetPixelFormat(1)",
                                        "wglCreateContext"}));
    EXPECT_EQ(context.Acceleration(), AccelerationSoftware);
}

TEST_F(Win32ContextFixture, DriverWithoutPixelFormatExtensionUsesTheClassicSearch) {
    gdi.Extensions = "WGL_ARB_extensions_string ";
    TGLWin32Context context;
    context.SetDepthBits(24);
    context.CreateForDevice(dc);
    EXPECT_EQ(gdi.Count("wglChoosePixelFormatARB"), 0u);
    EXPECT_EQ(gdi.Count("wglCreateContext"), 2u) << "the temporary context, then ours";
    EXPECT_EQ(gdi.Count("wglDeleteContext"), 1u);
    EXPECT_TRUE(context.NativeIsValid());
    EXPECT_EQ(GetPixelFormat(dc), 1);
    EXPECT_EQ(LogAfterLegacyContext().back(), "wglCreateContext");
}

TEST_F(Win32ContextFixture, ActivationReadsTheExtensionsOnlyWhenFormatOrVendorChanges) {
    gdi.Formats = {FakeFormat(32, 24, false), FakeFormat(32, 24, false)};
    HWND second = MakeWindow();
    HDC secondDC = GetDC(second);
    TGLWin32Context first, other;
    first.CreateForDevice(dc);
    other.CreateForDevice(secondDC);
    auto activate = [&](TGLWin32Context& context) {
        gl.Clear();
        context.MakeCurrent();
        context.ReleaseCurrent();
        return std::make_pair(gl.Count("glGetString"), gdi.Count("wglMakeCurrent"));
    };
    activate(first);
    EXPECT_EQ(activate(other).first, 0u) << "same format, same vendor: nothing is read";

    gdi.PixelFormatOf[secondDC] = 2;
    gl.Clear();
    other.MakeCurrent();
    other.ReleaseCurrent();
    EXPECT_EQ(gl.Trace("glGetString"), std::vector<std::string>{"glGetString(7936)"})
        << "another format of the same vendor: the vendor and the WGL side only";

    gl.Strings[GL_VENDOR] = "Another vendor";
    gl.Clear();
    first.MakeCurrent();
    first.ReleaseCurrent();
    EXPECT_GT(gl.Count("glGetString"), 2u) << "a new vendor: everything is read again";
    DestroyWindow(second);
}

TEST_F(Win32ContextFixture, ActivationFailureNamesTheSystemError) {
    TGLWin32Context context;
    context.CreateForDevice(dc);
    gdi.MakeCurrentFails = true;
    gdi.MakeCurrentError = ERROR_INVALID_PIXEL_FORMAT;
    try {
        context.MakeCurrent();
        FAIL();
    } catch (const EGLContext& error) {
        EXPECT_EQ(error.Message(),
                  "Context activation failed: 7D0, " + SysErrorMessage(ERROR_INVALID_PIXEL_FORMAT));
    }
    EXPECT_FALSE(context.IsCurrent());
    gdi.MakeCurrentFails = false; // so that the context can be torn down
}

TEST_F(Win32ContextFixture, FailuresLeaveNoNativeContext) {
    TGLWin32Context context;
    gdi.CreateContextFails = true;
    const size_t windows = TWindowManager::Instance().Windows.size();
    try {
        context.CreateForDevice(dc);
        FAIL();
    } catch (const Exception& error) {
        // The temporary context of the extended search cannot be made either.
        EXPECT_EQ(
            error.Message().rfind("Unable to create legacy context\r\nEOSError: OS Error : ", 0),
            0u)
            << error.Message();
    }
    EXPECT_FALSE(context.NativeIsValid());
    EXPECT_EQ(gdi.Count("wglMakeCurrent"), 0u);
    EXPECT_EQ(TWindowManager::Instance().Windows.size(), windows) << "the search's window is gone";

    gdi.CreateContextFails = false;
    context.SetLegacyContextsOnly(true);
    gdi.Formats.clear();
    try {
        context.CreateForDevice(dc);
        FAIL();
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Message(), "OS Error : " + SysErrorMessage(ERROR_INVALID_PIXEL_FORMAT));
    }
    EXPECT_FALSE(context.NativeIsValid());
    EXPECT_NO_THROW(DestroyWindow(window)) << "a failed context is not torn down with its window";
}

TEST_F(Win32ContextFixture, DeleteFailureIsReportedAndTheContextForgotten) {
    TGLWin32Context context;
    context.CreateForDevice(dc);
    gdi.DeleteContextFails = true;
    try {
        context.DestroyContextResources();
        FAIL();
    } catch (const EGLContext& error) {
        EXPECT_EQ(error.Message(), "Delete context failed");
    }
    EXPECT_FALSE(context.NativeIsValid());
}

TEST_F(Win32ContextFixture, SharingNeedsAnotherWin32Context) {
    TGLWin32Context context;
    context.CreateForDevice(dc);
    TFakeContext stranger;
    stranger.CreateForDevice(nullptr);
    try {
        context.ShareListsWith(&stranger);
        FAIL();
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "Incompatible contexts");
    }
}

TEST_F(Win32ContextFixture, SwapOnlyWhenDoubleBuffered) {
    TGLWin32Context single;
    single.CreateForDevice(dc);
    single.NativeSwapBuffers();
    EXPECT_EQ(gdi.Count("SwapBuffers"), 0u);
    single.DestroyContextResources();
    TGLWin32Context doubled;
    doubled.SetCreationOptions({DoubleBuffered});
    doubled.CreateForDevice(dc);
    doubled.NativeSwapBuffers();
    EXPECT_EQ(gdi.Count("SwapBuffers"), 1u);
}

TEST_F(Win32ContextFixture, DestroyingAnAncestorTearsTheContextDown) {
    HWND parentWindow = MakeWindow();
    HWND child = CreateWindowEx(0, "ContextTestWindow", "", WS_CHILD, 0, 0, 10, 10, parentWindow,
                                nullptr, nullptr, nullptr);
    TGLWin32Context context;
    context.CreateForDevice(GetDC(child));
    ASSERT_TRUE(context.NativeIsValid());
    DestroyWindow(parentWindow);
    EXPECT_FALSE(context.NativeIsValid());
    EXPECT_EQ(gdi.Count("wglDeleteContext"), 2u) << "the temporary context and ours";
}

TEST_F(Win32ContextFixture, MissingLibrariesAreAnOperatingSystemError) {
    OpenGL32MarkLoaded(false);
    OpenGL32SetLibraryNames("libskyview-missing-gl.so", "libskyview-missing-glu.so");
    TGLWin32Context context;
    EXPECT_THROW(context.CreateForDevice(dc), EOSError);
    OpenGL32SetLibraryNames("", "");
    OpenGL32MarkLoaded(true);
    EXPECT_FALSE(context.NativeIsValid());
}

} // namespace
