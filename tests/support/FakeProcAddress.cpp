#include "tests/support/FakeProcAddress.h"

namespace {

TFakeProcAddress* ActiveFake = nullptr;

PROC FakeGetProcAddress(LPCSTR name) {
    ActiveFake->Asked.emplace_back(name);
    const auto found = ActiveFake->Procs.find(name);
    return found == ActiveFake->Procs.end() ? nullptr : found->second;
}

HDC FakeGetCurrentDC() {
    return ActiveFake->CurrentDC;
}

} // namespace

TFakeProcAddress::TFakeProcAddress() : FSaved(GdiEntryPoints), FPrevious(ActiveFake) {
    ActiveFake = this;
    GdiEntryPoints.wglGetProcAddress = &FakeGetProcAddress;
    GdiEntryPoints.wglGetCurrentDC = &FakeGetCurrentDC;
}

TFakeProcAddress::~TFakeProcAddress() {
    GdiEntryPoints = FSaved;
    ActiveFake = FPrevious;
}
