// A rendering context whose platform side only counts what it is asked to do.
#pragma once

#include "engine/context/GLContext.h"

#include <string>
#include <vector>

class TFakeContext : public TGLContext {
public:
    ~TFakeContext() override;

    std::vector<std::string>* Log = nullptr; // optional shared log of native calls
    int MakeCurrentCalls = 0;
    int ReleaseCurrentCalls = 0;
    bool Valid = false;
    // Activation fails, as for a context whose window another client has destroyed.
    bool FailActivation = false;

    void NativeMakeCurrent() override;
    void NativeReleaseCurrent() override;
    bool NativeIsValid() const override { return Valid; }
    void NativeSwapBuffers() override {}
    HDC NativeOutputDevice() const override { return nullptr; }
    void NativeCreate(HDC) override { Valid = true; }
    void NativeCreateOffscreen(HDC, int, int) override { Valid = true; }
    void NativeShareLists(TGLContext*) override {}
    void NativeDestroy() override;
    std::string Name = "context";

private:
    void Note(const std::string& what);
};
