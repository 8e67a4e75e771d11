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

#include <cstdio>

namespace {

// What the engine's modules set up before any window exists, and take down at the very end.
class TEngineLifetime {
public:
    TEngineLifetime() {
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

void RunViewer() {
    TEngineLifetime engine;
    TApplication application;
    application.Initialize();
    application.SetMainFormOnTaskBar(true);
    application.CreateForm<TForm1>();
    application.Run();
}

} // namespace

int main() {
    try {
        RunViewer();
    } catch (const ENoDisplay& error) {
        // Without a display there is no message box to show it in.
        std::fprintf(stderr, "skyview: %s\n", error.Message().c_str());
        return 1;
    }
    return 0;
}
