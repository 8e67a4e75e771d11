// The fixture of the tests of what mesh objects and their face groups tell OpenGL while a display
// list is compiled: the recording OpenGL table, a state cache and a render record, and a list of
// mesh objects to build.
#pragma once

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "tests/support/RecordingGL.h"
#include "tests/unit/meshes/MeshTestSupport.h"

#include <initializer_list>
#include <string>
#include <vector>

using Trace = std::vector<std::string>;

// The text the recording gives a call.
inline std::string Call(const char* name, std::initializer_list<double> args = {}) {
    return TGLCall{name, args, {}, {}}.Text();
}

constexpr double Float = GL_FLOAT;

class BuildList : public testing::Test {
protected:
    TRecordingGL gl;
    TGLStateCache cache;
    TRenderContextInfo rci;
    TMeshObjectList list{nullptr};

    void SetUp() override {
        rci.StateCache = &cache;
        InitializeTexCoordDispatch();
        SelectTexCoordUnit0();
    }
    void TearDown() override {
        InitializeTexCoordDispatch();
        GL_ARB_multitexture = false;
        GL_EXT_compiled_vertex_array = false;
    }
    Trace Build(TMeshObject& meshObject) {
        gl.Clear();
        meshObject.BuildList(rci);
        return gl.Trace();
    }
};
