// skyview: opens its window on the fixed scene and runs until the window is closed.
#include "app/Unit1.h"
#include "engine/3ds/GLFile3DS.h"
#include "engine/context/GLContext.h"
#include "engine/context/GLWin32Context.h"
#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "engine/meshes/VectorLists.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "platform/framework/Forms.h"
#include "platform/framework/JPEGImage.h"

#include <malloc.h>
#include <sys/resource.h>

namespace {

// Under an address-space limit, the C library's allocator is tuned for a process whose OpenGL
// driver runs threads of its own. Each of those threads would otherwise reserve an arena of
// 64 MiB of address space, which leaves too little for the scene; and large blocks always come
// from and go back to the system, so that the memory of a model whose load failed is free again
// for the frames that follow. Without a limit the defaults stay: they load a model faster.
void TuneAllocatorForAddressSpaceLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return;
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

// What the engine's modules set up before any window exists, and take down at the very end.
class TEngineLifetime {
public:
    TEngineLifetime() {
        TuneAllocatorForAddressSpaceLimit();
        Set8087CW(0x133F);
        RegisterWin32ContextClass();
        InitializeTexCoordDispatch();
        RegisterVectorListClasses();
        RegisterVectorFileObjects();
        RegisterGLFile3DS();
        ReadPerformanceCounterFrequency();
        RegisterJPEGImageFormat();
    }
    ~TEngineLifetime() {
        FinalizeWin32Context();
        TerminateGLContextManager();
        UnloadOpenGLLibraries();
    }
    TEngineLifetime(const TEngineLifetime&) = delete;
    TEngineLifetime& operator=(const TEngineLifetime&) = delete;
};

} // namespace

// An error that escapes start-up or the message loop ends the program with status 1, after the
// application's standard error report.
int main() {
    TEngineLifetime engine;
    TApplication application;
    return application.Execute([&application] {
        application.Initialize();
        application.SetMainFormOnTaskBar(true);
        application.CreateForm<TForm1>();
        application.Run();
    });
}
