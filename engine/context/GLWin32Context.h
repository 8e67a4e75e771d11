// The rendering context on a window's device context: pixel-format choice (the extended
// attribute search through a temporary legacy context, or the classic search with its
// hardware/software fallbacks), WGL context creation, activation with the extension re-read,
// swapping, sharing, off-screen pbuffers, and the window tracking that tears a context down
// when an ancestor of its window is destroyed.
#pragma once

#include "engine/context/GLContext.h"
#include "platform/win32/WinGDI.h"

#include <vector>

class TGLWin32Context : public TGLContext {
public:
    TGLWin32Context();
    ~TGLWin32Context() override;

    bool LegacyContextsOnly() const { return FLegacyContextsOnly; }
    void SetLegacyContextsOnly(bool value) { FLegacyContextsOnly = value; }
    HGLRC RenderingContext() const { return FRC; }
    const std::vector<int>& IntegerAttributes() const { return FiAttribs; }

    void NativeMakeCurrent() override;
    void NativeReleaseCurrent() override;
    bool NativeIsValid() const override { return FRC != nullptr; }
    void NativeSwapBuffers() override;
    HDC NativeOutputDevice() const override { return FDC; }
    void NativeCreate(HDC outputDevice) override;
    void NativeCreateOffscreen(HDC outputDevice, int width, int height) override;
    void NativeShareLists(TGLContext* otherContext) override;
    void NativeDestroy() override;

    // Integer attribute list for the attribute search; always ends with a single 0.
    void ClearIAttribs();
    void AddIAttrib(int key, int value);
    void ChangeIAttrib(int key, int value);
    void DropIAttrib(int key);

private:
    // The hidden window and temporary legacy context of the extended search and of pbuffers.
    class TLegacyScope;

    void CreateWithDescriptor(HDC device);
    PIXELFORMATDESCRIPTOR BaseDescriptor(DWORD objectType) const;
    int ExtendedSearch(HDC device, const PIXELFORMATDESCRIPTOR& descriptor);
    int ChooseCandidate(HDC device, const std::vector<int>& candidates) const;
    int ClassicSearch(HDC device, PIXELFORMATDESCRIPTOR& descriptor, bool windowDevice) const;
    void SetupPalette(HDC device, const PIXELFORMATDESCRIPTOR& descriptor) const;
    std::vector<int> ChooseWGLFormat(HDC device, UINT maxFormats);
    void RefreshExtensions();

    HGLRC FRC = nullptr;
    HDC FDC = nullptr;
    HPBUFFERARB FHPBUFFER = nullptr;
    std::vector<int> FiAttribs{0};
    std::vector<float> FfAttribs{0};
    bool FLegacyContextsOnly = false;
};

// Registers TGLWin32Context as the class the context manager creates.
void RegisterWin32ContextClass();
// End of program: drops the tracking tables and the remembered vendor.
void FinalizeWin32Context();
