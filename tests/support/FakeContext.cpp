#include "tests/support/FakeContext.h"

TFakeContext::~TFakeContext() {
    try {
        if (Valid)
            DestroyContextResources();
    } catch (const Exception&) {
    }
}

void TFakeContext::Note(const std::string& what) {
    if (Log)
        Log->push_back(Name + " " + what);
}

void TFakeContext::NativeMakeCurrent() {
    if (FailActivation)
        throw EGLContext("Context activation failed");
    ++MakeCurrentCalls;
    Note("current");
}

void TFakeContext::NativeReleaseCurrent() {
    ++ReleaseCurrentCalls;
    Note("released");
}

void TFakeContext::NativeDestroy() {
    Valid = false;
    Note("destroyed");
}
