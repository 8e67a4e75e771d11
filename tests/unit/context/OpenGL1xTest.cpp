#include "engine/context/OpenGL1x.h"
#include "tests/support/FakeProcAddress.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// What the fake wglGetExtensionsStringARB answers, and the device it was asked for.
std::string WGLExtensionList;
HDC WGLAskedDC = nullptr;
const char* FakeGetExtensionsString(HDC dc) {
    WGLAskedDC = dc;
    return WGLExtensionList.c_str();
}
void FakeEntry() {}

// Flags and entry points are process-wide: every test leaves them as it found them.
class OpenGL1xTest : public testing::Test {
protected:
    void SetUp() override {
        for (const TExtensionFlag& flag : ExtensionFlags())
            FSavedFlags.push_back(*flag.Flag);
    }
    void TearDown() override {
        size_t i = 0;
        for (const TExtensionFlag& flag : ExtensionFlags())
            *flag.Flag = FSavedFlags[i++];
        TFakeProcAddress nothing;
        LoadExtensionEntryPoints();
    }

    // Runs ReadGLCapabilities against the given implementation strings.
    void Read(const std::string& version, const std::string& extensions,
              const std::string& gluVersion = "1.3", const std::string& gluExtensions = "") {
        TRecordingGL gl;
        gl.Strings[GL_VERSION] = version;
        gl.Strings[GL_EXTENSIONS] = extensions;
        gl.GLUStrings[GLU_VERSION] = gluVersion;
        gl.GLUStrings[GLU_EXTENSIONS] = gluExtensions;
        ReadGLCapabilities();
    }

private:
    std::vector<bool> FSavedFlags;
};

std::vector<bool> GLVersionFlags() {
    return {GL_VERSION_1_0, GL_VERSION_1_1, GL_VERSION_1_2,
            GL_VERSION_1_3, GL_VERSION_1_4, GL_VERSION_1_5};
}

} // namespace

TEST(ParseVersionString, TakesTheDigitsAroundTheFirstDot) {
    struct {
        const char* Text;
        int32_t Major, Minor;
    } const cases[] = {
        {"1.5.0 vendor text", 1, 5},
        {"2.1.2", 2, 1},
        {"", 0, 0},
        {"abc", 0, 0},
        {"1.", 0, 0},
        {".5", 0, 0},
        {"10.20", 10, 20},
        {"Mesa 4.5 (x)", 4, 5},
        {"a.1 2.3", 0, 0},
        {"1.x 2.3", 0, 0},
        {"99999999999.1", 0, 0},
    };
    for (const auto& c : cases) {
        const TGLVersionNumber number = ParseVersionString(c.Text);
        EXPECT_EQ(number.Major, c.Major) << '"' << c.Text << '"';
        EXPECT_EQ(number.Minor, c.Minor) << '"' << c.Text << '"';
    }
}

TEST_F(OpenGL1xTest, ReadGLCapabilitiesMakesItsCallsInOrderAndDiscardsOnePendingError) {
    TRecordingGL gl;
    gl.Errors = {GL_INVALID_ENUM, GL_INVALID_VALUE};
    ReadGLCapabilities();
    EXPECT_EQ(gl.Trace(),
              (std::vector<std::string>{"glEnable(2929)", "glEnable(2896)", "glGetString(7938)",
                                        "glGetError()", "gluGetString(100800)", "glGetString(7939)",
                                        "gluGetString(100801)"}));
    EXPECT_EQ(gl.Errors, (std::deque<GLenum>{GL_INVALID_VALUE}));
}

TEST_F(OpenGL1xTest, VersionFlagsFollowTheVersionStrings) {
    Read("2.1.2", "");
    EXPECT_EQ(GLVersionFlags(), std::vector<bool>(6, true));
    Read("1.5.0 vendor text", "");
    EXPECT_EQ(GLVersionFlags(), std::vector<bool>(6, true));
    Read("1.2", "");
    EXPECT_EQ(GLVersionFlags(), (std::vector<bool>{true, true, true, false, false, false}));
    Read("abc", "");
    EXPECT_EQ(GLVersionFlags(), (std::vector<bool>{true, false, false, false, false, false}));

    Read("1.1", "", "1.2");
    EXPECT_TRUE(GLU_VERSION_1_1 && GLU_VERSION_1_2);
    EXPECT_FALSE(GLU_VERSION_1_3);
    Read("1.1", "", "");
    EXPECT_TRUE(GLU_VERSION_1_1);
    EXPECT_FALSE(GLU_VERSION_1_2 || GLU_VERSION_1_3);
}

TEST_F(OpenGL1xTest, ExtensionNamesNeedASpaceOrTheEndAfterThem) {
    Read("1.1", "GL_ARB_multisample GL_SGIX_shadow_ambient GL_NV_fence_x XGL_EXT_abgr "
                "GL_EXT_stencil_two_side GL_ARB_multitexture");
    EXPECT_FALSE(GL_ARB_multisample); // searched with a leading space: not as the first name
    EXPECT_TRUE(GL_SGIX_shadow_ambient);
    EXPECT_FALSE(GL_SGIX_shadow); // only a prefix of a longer name
    EXPECT_FALSE(GL_NV_fence);
    EXPECT_TRUE(GL_EXT_abgr); // what precedes a name is not looked at
    EXPECT_TRUE(EXT_stencil_two_side);
    EXPECT_TRUE(GL_ARB_multitexture); // last name, nothing after it
    EXPECT_FALSE(GL_EXT_bgra);

    Read("1.1", "GL_SGIX_shadow_ambient GL_ARB_multitexture GL_ARB_multisample GL_SGIX_shadow");
    EXPECT_TRUE(GL_ARB_multisample);
    EXPECT_TRUE(GL_SGIX_shadow); // a later occurrence of the name itself counts

    Read("1.1", "");
    EXPECT_FALSE(GL_ARB_multitexture || GL_SGIX_shadow || GL_ARB_multisample);
}

TEST_F(OpenGL1xTest, GLUFlagsComeFromTheGLUExtensionString) {
    Read("1.1", "GLU_EXT_TEXTURE", "1.3", "GLU_EXT_nurbs_tessellator GLU_EXT_object_space_tess");
    EXPECT_TRUE(GLU_EXT_nurbs_tessellator);
    EXPECT_TRUE(GLU_EXT_object_space_tess);
    EXPECT_FALSE(GLU_EXT_TEXTURE);
}

TEST_F(OpenGL1xTest, WGLNamesAreFoundAnywhereButThePbufferNeedsAFollower) {
    TFakeProcAddress wgl;
    wgl.Procs["wglGetExtensionsStringARB"] = reinterpret_cast<PROC>(&FakeGetExtensionsString);
    LoadWGLEntryPoints();

    WGLExtensionList = "WGL_ARB_extensions_string xWGL_ARB_multisampley WGL_ARB_pbuffer";
    ReadWGLCapabilities();
    EXPECT_EQ(WGLAskedDC, wgl.CurrentDC);
    EXPECT_TRUE(WGL_ARB_extensions_string);
    EXPECT_TRUE(WGL_ARB_multisample);
    EXPECT_FALSE(WGL_ARB_pbuffer); // last in the string
    EXPECT_FALSE(WGL_ARB_pixel_format);

    WGLExtensionList = "WGL_ARB_pbuffer WGL_ARB_pixel_format";
    ReadWGLCapabilities();
    EXPECT_TRUE(WGL_ARB_pbuffer && WGL_ARB_pixel_format);
    EXPECT_FALSE(WGL_ARB_extensions_string);

    wgl.Procs.clear();
    LoadWGLEntryPoints();
    ReadWGLCapabilities();
    EXPECT_FALSE(WGL_ARB_pbuffer || WGL_ARB_pixel_format);
}

TEST_F(OpenGL1xTest, ReadGLCapabilitiesEndsWithTheWGLFlags) {
    TFakeProcAddress wgl;
    wgl.Procs["wglGetExtensionsStringARB"] = reinterpret_cast<PROC>(&FakeGetExtensionsString);
    LoadWGLEntryPoints();
    WGLExtensionList = "WGL_EXT_swap_control";
    Read("1.1", "");
    EXPECT_TRUE(WGL_EXT_swap_control);
}

TEST_F(OpenGL1xTest, EntryPointsAreLookedUpByNameAndEmptyWhenMissing) {
    TFakeProcAddress wgl;
    wgl.Procs["glActiveTextureARB"] = &FakeEntry;
    wgl.Procs["glGetOcclusionQueryuivNV"] = &FakeEntry;
    wgl.Procs["wglSwapIntervalEXT"] = &FakeEntry;
    wgl.Procs["wglRestoreBufferRegionARB"] = &FakeEntry;
    glClientActiveTextureARB = reinterpret_cast<decltype(glClientActiveTextureARB)>(&FakeEntry);
    LoadExtensionEntryPoints();

    EXPECT_EQ(reinterpret_cast<PROC>(glActiveTextureARB), &FakeEntry);
    EXPECT_EQ(reinterpret_cast<PROC>(glGetOcclusionQueryuivNV), &FakeEntry);
    EXPECT_EQ(reinterpret_cast<PROC>(wglSwapIntervalEXT), &FakeEntry);
    EXPECT_EQ(reinterpret_cast<PROC>(wglRestoreBufferRegionARB), &FakeEntry);
    EXPECT_EQ(glClientActiveTextureARB, nullptr);
    EXPECT_EQ(glMultiTexCoord2fARB, nullptr);
    EXPECT_EQ(wglChoosePixelFormatARB, nullptr);

    for (const char* name :
         {"glMultiTexCoord2fvARB", "glLockArraysEXT", "glUnlockArraysEXT", "glDrawRangeElements",
          "glGenOcclusionQueriesNV", "glDeleteOcclusionQueriesNV", "glBeginOcclusionQueryNV",
          "glEndOcclusionQueryNV"})
        EXPECT_NE(std::find(wgl.Asked.begin(), wgl.Asked.end(), name), wgl.Asked.end()) << name;

    const std::vector<std::string> wglNames = {
        "wglGetExtensionsStringARB", "wglGetPixelFormatAttribivARB", "wglGetPixelFormatAttribfvARB",
        "wglChoosePixelFormatARB",   "wglCreatePbufferARB",          "wglGetPbufferDCARB",
        "wglReleasePbufferDCARB",    "wglDestroyPbufferARB",         "wglQueryPbufferARB",
        "wglCreateBufferRegionARB",  "wglDeleteBufferRegionARB",     "wglSaveBufferRegionARB",
        "wglRestoreBufferRegionARB", "wglSwapIntervalEXT",           "wglGetSwapIntervalEXT"};
    ASSERT_GT(wgl.Asked.size(), wglNames.size());
    EXPECT_EQ(std::vector<std::string>(wgl.Asked.end() - 15, wgl.Asked.end()), wglNames);

    wgl.Asked.clear();
    LoadWGLEntryPoints();
    EXPECT_EQ(wgl.Asked, wglNames);
}

class OpenGLLibrariesTest : public testing::Test {
protected:
    void TearDown() override {
        UnloadOpenGLLibraries();
        OpenGL32SetLibraryNames("", "");
    }
};

TEST_F(OpenGLLibrariesTest, LoadedLibrariesAreNotOpenedAgain) {
    OpenGL32MarkLoaded(true);
    OpenGL32SetLibraryNames("libMissingGL.so.1", "libMissingGLU.so.1");
    EXPECT_TRUE(LoadOpenGLLibraries());
}

TEST_F(OpenGLLibrariesTest, AMissingLibraryLeavesNeitherLoaded) {
    OpenGL32SetLibraryNames("libMissingGL.so.1", "");
    EXPECT_FALSE(LoadOpenGLLibraries());
    EXPECT_FALSE(OpenGL32Loaded());

    OpenGL32SetLibraryNames("", "libMissingGLU.so.1");
    EXPECT_FALSE(LoadOpenGLLibraries());
    EXPECT_FALSE(OpenGL32Loaded());
    EXPECT_FALSE(IsMesaLibrary()); // the OpenGL library was closed again
}

TEST_F(OpenGLLibrariesTest, UnloadingForgetsTheExtensionEntryPoints) {
    ASSERT_TRUE(LoadOpenGLLibraries());
    EXPECT_TRUE(OpenGL32Loaded());
    glActiveTextureARB = reinterpret_cast<decltype(glActiveTextureARB)>(&FakeEntry);
    wglSwapIntervalEXT = reinterpret_cast<PFNWGLSWAPINTERVALEXTPROC>(&FakeEntry);
    UnloadOpenGLLibraries();
    EXPECT_FALSE(OpenGL32Loaded());
    EXPECT_EQ(glActiveTextureARB, nullptr);
    EXPECT_EQ(wglSwapIntervalEXT, nullptr);
}
