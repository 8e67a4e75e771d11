// The machine's OpenGL for tests that draw: the libraries loaded and the Win32 context class
// registered, a context on a pbuffer made current for a scope, and a quad over the whole view.
#pragma once

#include "engine/context/GLWin32Context.h"
#include "platform/win32/WinTypes.h"

#include <memory>

// Loads the OpenGL libraries and registers the context class unless one is; false when the
// libraries cannot be loaded.
bool UseMachineOpenGL();

// A context rendering into a width x height pbuffer, created on a hidden popup window's device
// context and current until it goes; the window goes with it.
class TOffscreenGL {
public:
    TOffscreenGL(int width, int height);
    ~TOffscreenGL();
    TOffscreenGL(const TOffscreenGL&) = delete;
    TOffscreenGL& operator=(const TOffscreenGL&) = delete;

    // Whether the window and the context were made (and the context is current).
    bool Valid() const;
    TGLWin32Context& Context() { return *FContext; }

private:
    HWND FWindow = nullptr;
    std::unique_ptr<TGLWin32Context> FContext;
};

// A quad over the whole width x height view in identity matrices, texture coordinates (0, 0) at
// the bottom left and (1, 1) at the top right; finished before it returns.
void DrawViewportQuad(int width, int height);
