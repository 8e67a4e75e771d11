// A test whose OpenGL and pixel-format driver are the recording table and the fake GDI, offering
// one 24-bit format with a 24-bit depth buffer, with the Win32 context class registered.
#pragma once

#include "engine/context/GLContext.h"
#include "engine/context/GLWin32Context.h"
#include "tests/support/FakeGdi.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

struct TFakeDriverTest : ::testing::Test {
    TRecordingGL gl;
    TFakeGdi gdi;

    static void SetUpTestSuite() {
        if (GLContextManager()->ContextClassCount() == 0)
            RegisterWin32ContextClass();
    }
    void SetUp() override {
        FinalizeWin32Context();
        gdi.Formats = {FakeFormat(24, 24, false)};
    }
};
