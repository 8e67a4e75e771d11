#include "platform/win32/OpenGL32.h"

#include "platform/win32/GLXBinding.h"

#include <dlfcn.h>
#include <link.h>
#include <string>

TOpenGLEntryPoints GLEntryPoints;
TGLXEntryPoints GLX;

namespace {

const char* const DefaultGLLibrary = "libGL.so.1";
const char* const DefaultGLULibrary = "libGLU.so.1";

// The two library handles; together with the entry point tables these are the process-wide
// state of the binding.
struct TLibraries {
    void* GL = nullptr;
    void* GLU = nullptr;
    bool MarkedLoaded = false;
    std::string GLName = DefaultGLLibrary;
    std::string GLUName = DefaultGLULibrary;
};

TLibraries& Libraries() {
    static TLibraries libraries;
    return libraries;
}

template <typename F> void Resolve(void* library, F& pointer, const char* name) {
    pointer = reinterpret_cast<F>(dlsym(library, name));
}

void ResolveEntryPoints(void* gl, void* glu) {
#define GL_ENTRY(ret, name, params, args)                                                          \
    Resolve(std::string_view(#name).starts_with("glu") ? glu : gl, GLEntryPoints.name, #name);
#include "platform/win32/OpenGL32Functions.inc"
#undef GL_ENTRY
#define GLX_RESOLVE(ret, name, params) Resolve(gl, GLX.name, #name);
    GLX_ENTRIES(GLX_RESOLVE)
#undef GLX_RESOLVE
}

} // namespace

bool OpenGL32Load() {
    TLibraries& libs = Libraries();
    if (OpenGL32Loaded())
        return true;
    OpenGL32Unload();
    // The libraries stay mapped after dlclose: GLX hooks itself into the X display and is called
    // back when the display closes, which happens after the program unloads OpenGL.
    const int mode = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
    void* gl = dlopen(libs.GLName.c_str(), mode);
    void* glu = dlopen(libs.GLUName.c_str(), mode);
    if (!gl || !glu) {
        if (gl)
            dlclose(gl);
        if (glu)
            dlclose(glu);
        return false;
    }
    libs.GL = gl;
    libs.GLU = glu;
    ResolveEntryPoints(gl, glu);
    return true;
}

void OpenGL32Unload() {
    TLibraries& libs = Libraries();
    if (libs.GLU)
        dlclose(libs.GLU);
    if (libs.GL)
        dlclose(libs.GL);
    libs.GL = libs.GLU = nullptr;
    libs.MarkedLoaded = false;
    GLEntryPoints = {};
    GLX = {};
}

void OpenGL32KeepDriverLoaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && *info->dlpi_name)
                // Marks the loaded library as never to be unloaded; the extra reference goes.
                if (void* library =
                        dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE))
                    dlclose(library);
            return 0;
        },
        nullptr);
}

bool OpenGL32Loaded() {
    const TLibraries& libs = Libraries();
    return libs.MarkedLoaded || (libs.GL && libs.GLU);
}

void* OpenGL32Symbol(const char* name) {
    void* gl = Libraries().GL;
    return gl ? dlsym(gl, name) : nullptr;
}

void OpenGL32SetLibraryNames(const char* glLibrary, const char* gluLibrary) {
    TLibraries& libs = Libraries();
    libs.GLName = (glLibrary && *glLibrary) ? glLibrary : DefaultGLLibrary;
    libs.GLUName = (gluLibrary && *gluLibrary) ? gluLibrary : DefaultGLULibrary;
}

void OpenGL32MarkLoaded(bool loaded) {
    Libraries().MarkedLoaded = loaded;
}
