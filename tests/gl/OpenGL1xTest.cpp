// The flags and entry points read from the machine's real OpenGL, in a GLX context on a small
// pbuffer, checked against the implementation's own strings.
#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// Xlib last: its macros must not reach the headers above.
#include "platform/win32/GLXBinding.h"

namespace {

// Extension lookup straight through GLX; WGL names are not offered.
PROC LookUpThroughGLX(LPCSTR name) {
    if (std::string(name).starts_with("wgl"))
        return nullptr;
    return reinterpret_cast<PROC>(
        GLX.glXGetProcAddressARB(reinterpret_cast<const unsigned char*>(name)));
}
PROC LookUpNothing(LPCSTR) {
    return nullptr;
}

struct TNameAt {
    std::string Name;
    size_t Offset;
};

std::vector<TNameAt> SplitNames(const std::string& list) {
    std::vector<TNameAt> names;
    size_t at = 0;
    while (at < list.size()) {
        const size_t end = std::min(list.find(' ', at), list.size());
        if (end > at)
            names.push_back({list.substr(at, end - at), at});
        at = end + 1;
    }
    return names;
}

// The reading rules, stated on whole names: a flag is set by a listed name that ends with it
// (what precedes it is not looked at); " GL_ARB_multisample" needs a space in front, so it must
// be a name of its own and not the first one.
bool Expected(const TExtensionFlag& flag, const std::vector<TNameAt>& names) {
    const std::string wanted = flag.Name;
    for (const TNameAt& listed : names) {
        if (wanted == "GL_ARB_multisample") {
            if (listed.Name == wanted && listed.Offset > 0)
                return true;
        } else if (listed.Name.ends_with(wanted)) {
            return true;
        }
    }
    return false;
}

std::string String(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string GLUString(GLenum name) {
    const GLubyte* text = gluGetString(name);
    return text ? reinterpret_cast<const char*>(text) : "";
}

class OpenGL1xOnMesa : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadOpenGLLibraries());
        FDisplay = XOpenDisplay(nullptr);
        ASSERT_NE(FDisplay, nullptr);
        ASSERT_TRUE(CreateCurrentContext());
        // As the program does once GLX has loaded the driver for its display.
        OpenGL32KeepDriverLoaded();
        FSavedGdi = GdiEntryPoints;
        GdiEntryPoints.wglGetProcAddress = &LookUpThroughGLX;
        LoadExtensionEntryPoints();
        ReadGLCapabilities();
    }

    void TearDown() override {
        if (FContext) {
            InitializeTexCoordDispatch();
            GdiEntryPoints.wglGetProcAddress = &LookUpNothing;
            LoadExtensionEntryPoints();
            GdiEntryPoints = FSavedGdi;
            GLX.glXMakeContextCurrent(FDisplay, 0, 0, nullptr);
            GLX.glXDestroyContext(FDisplay, FContext);
        }
        if (FPbuffer)
            GLX.glXDestroyPbuffer(FDisplay, FPbuffer);
        if (FDisplay)
            XCloseDisplay(FDisplay);
    }

    bool CreateCurrentContext() {
        const int configAttributes[] = {GLX_DRAWABLE_TYPE,
                                        GLX_PBUFFER_BIT,
                                        GLX_RENDER_TYPE,
                                        GLX_RGBA_BIT,
                                        GLX_DEPTH_SIZE,
                                        16,
                                        0};
        int count = 0;
        GLXFBConfig* configs =
            GLX.glXChooseFBConfig(FDisplay, DefaultScreen(FDisplay), configAttributes, &count);
        if (!configs || count == 0)
            return false;
        const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, 16, GLX_PBUFFER_HEIGHT, 16, 0};
        FPbuffer = GLX.glXCreatePbuffer(FDisplay, configs[0], pbufferAttributes);
        FContext = GLX.glXCreateNewContext(FDisplay, configs[0], GLX_RGBA_TYPE, nullptr, True);
        XFree(configs);
        return FPbuffer && FContext &&
               GLX.glXMakeContextCurrent(FDisplay, FPbuffer, FPbuffer, FContext);
    }

    Display* FDisplay = nullptr;
    GLXPbuffer FPbuffer = 0;
    GLXContext FContext = nullptr;
    TGdiEntryPoints FSavedGdi;
};

std::set<std::string> LoadedLibraries() {
    std::set<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* names) {
            static_cast<std::set<std::string>*>(names)->insert(info->dlpi_name);
            return 0;
        },
        &names);
    return names;
}

} // namespace

// GLX loads the driver for a display and unloads it when the display closes; once the driver is
// kept loaded, closing changes nothing.
TEST(OpenGLDriver, StaysLoadedAfterItsDisplayCloses) {
    ASSERT_TRUE(LoadOpenGLLibraries());
    const std::set<std::string> before = LoadedLibraries();
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    int count = 0;
    XFree(GLX.glXGetFBConfigs(display, DefaultScreen(display), &count));
    const std::set<std::string> withDriver = LoadedLibraries();
    OpenGL32KeepDriverLoaded();
    XCloseDisplay(display);
    if (withDriver == before)
        GTEST_SKIP() << "the driver was loaded before this test";
    EXPECT_EQ(LoadedLibraries(), withDriver);
}

TEST_F(OpenGL1xOnMesa, FlagsFollowTheImplementationStrings) {
    const std::string version = String(GL_VERSION);
    const auto glNames = SplitNames(String(GL_EXTENSIONS));
    const auto gluNames = SplitNames(GLUString(GLU_EXTENSIONS));
    std::printf("GL_VERSION \"%s\", GLU_VERSION \"%s\", %zu OpenGL extensions\n", version.c_str(),
                GLUString(GLU_VERSION).c_str(), glNames.size());

    std::ostringstream set, clear;
    for (const TExtensionFlag& flag : ExtensionFlags()) {
        (*flag.Flag ? set : clear) << ' ' << flag.Name;
        if (flag.Source == esWGL)
            EXPECT_FALSE(*flag.Flag) << flag.Name << " without wglGetExtensionsStringARB";
        else
            EXPECT_EQ(*flag.Flag, Expected(flag, flag.Source == esGLU ? gluNames : glNames))
                << flag.Name;
    }
    std::printf("set:%s\nclear:%s\n", set.str().c_str(), clear.str().c_str());

    int major = 0, minor = 0;
    ASSERT_EQ(std::sscanf(version.c_str(), "%d.%d", &major, &minor), 2);
    std::printf("GL_VERSION_1_0..1_5: %d %d %d %d %d %d, GLU_VERSION_1_1..1_3: %d %d %d\n",
                GL_VERSION_1_0, GL_VERSION_1_1, GL_VERSION_1_2, GL_VERSION_1_3, GL_VERSION_1_4,
                GL_VERSION_1_5, GLU_VERSION_1_1, GLU_VERSION_1_2, GLU_VERSION_1_3);
    EXPECT_TRUE(GL_VERSION_1_0);
    EXPECT_EQ(GL_VERSION_1_1, major > 1 || minor > 0);
    EXPECT_EQ(GL_VERSION_1_5, major > 1 || minor > 4);
}

TEST_F(OpenGL1xOnMesa, ReadingEnablesDepthTestAndLighting) {
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
}

TEST_F(OpenGL1xOnMesa, MesaIsRecognisedByItsExport) {
    void* gl = dlopen("libGL.so.1", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(gl, nullptr);
    const bool exported = dlsym(gl, "glResizeBuffersMESA") != nullptr;
    dlclose(gl);
    std::printf("IsMesaLibrary: %d\n", IsMesaLibrary());
    EXPECT_EQ(IsMesaLibrary(), exported);
}

TEST_F(OpenGL1xOnMesa, ExtensionEntryPointsWork) {
    if (GL_EXT_compiled_vertex_array) {
        EXPECT_NE(glLockArraysEXT, nullptr);
        EXPECT_NE(glUnlockArraysEXT, nullptr);
    }
    if (GL_VERSION_1_2) {
        EXPECT_NE(glDrawRangeElements, nullptr);
    }
    if (GL_NV_occlusion_query) {
        EXPECT_NE(glGenOcclusionQueriesNV, nullptr);
    }
    if (!GL_ARB_multitexture)
        GTEST_SKIP() << "no GL_ARB_multitexture";

    GLint active = 0;
    glActiveTextureARB(GL_TEXTURE1_ARB);
    glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
    EXPECT_EQ(active, static_cast<GLint>(GL_TEXTURE1_ARB));
    glActiveTextureARB(GL_TEXTURE0_ARB);

    // Both units receive a coordinate sent through the dispatch in the two-unit mode.
    SelectTexCoordUnits01();
    xgl.TexCoord2f(0.25f, 0.5f);
    GLfloat unit0[4] = {}, unit1[4] = {};
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, unit0);
    glActiveTextureARB(GL_TEXTURE1_ARB);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, unit1);
    glActiveTextureARB(GL_TEXTURE0_ARB);
    EXPECT_EQ(unit0[0], 0.25f);
    EXPECT_EQ(unit0[1], 0.5f);
    EXPECT_EQ(unit1[0], 0.25f);
    EXPECT_EQ(unit1[1], 0.5f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
