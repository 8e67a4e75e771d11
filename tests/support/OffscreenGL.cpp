#include "tests/support/OffscreenGL.h"

#include "engine/context/OpenGL1x.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestWindows.h"

bool UseMachineOpenGL() {
    if (!LoadOpenGLLibraries())
        return false;
    if (GLContextManager()->ContextClassCount() == 0)
        RegisterWin32ContextClass();
    return true;
}

TOffscreenGL::TOffscreenGL(int width, int height)
    : FWindow(CreateTestPopup()), FContext(std::make_unique<TGLWin32Context>()) {
    if (FWindow == nullptr)
        return;
    FContext->CreateOffscreen(GetDC(FWindow), width, height);
    if (FContext->NativeIsValid())
        FContext->MakeCurrent();
}

TOffscreenGL::~TOffscreenGL() {
    if (FContext->NativeIsValid())
        FContext->ReleaseCurrent();
    FContext.reset();
    if (FWindow != nullptr)
        DestroyWindow(FWindow);
}

bool TOffscreenGL::Valid() const {
    return FWindow != nullptr && FContext->NativeIsValid();
}

void DrawViewportQuad(int width, int height) {
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-1, -1);
    glTexCoord2f(1, 0);
    glVertex2f(1, -1);
    glTexCoord2f(1, 1);
    glVertex2f(1, 1);
    glTexCoord2f(0, 1);
    glVertex2f(-1, 1);
    glEnd();
    glFinish();
}
