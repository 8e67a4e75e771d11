#include "engine/objects/GLSkyBox.h"
#include "engine/context/XOpenGL.h"
#include "engine/objects/GLObjects.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "tests/support/FakeContext.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Fails as it is applied, as a texture that cannot be uploaded does.
class TFailingShader : public TGLShader {
public:
    using TGLShader::TGLShader;

protected:
    void DoApply(TRenderContextInfo&, TGLLibMaterial&) override { throw Exception("no texture"); }
    bool DoUnApply(TRenderContextInfo&, TGLLibMaterial&) override { return false; }
};

// A sky box in a scene rendered into a buffer whose camera is current, as in a frame, with a
// "Wall" item on every side.
struct SkyBoxFixture : ::testing::Test {
    TRecordingGL gl;
    TFakeContext context;
    TGLSceneBuffer buffer{nullptr};
    TGLScene scene{nullptr};
    TGLCamera* camera = new TGLCamera(nullptr);
    std::unique_ptr<TGLMaterialLibrary> library = std::make_unique<TGLMaterialLibrary>(nullptr);
    TGLSkyBox* box = new TGLSkyBox(nullptr);
    TRenderContextInfo rci;

    void SetUp() override {
        context.CreateForDevice(nullptr);
        context.MakeCurrent();
        InitializeTexCoordDispatch();
        SelectTexCoordUnit0();
        scene.Cameras()->AddChild(camera);
        scene.SetCurrentCamera(camera);
        scene.Objects()->AddChild(box);
        library->Materials().Add()->SetName("Wall");
        box->SetMatNameFront("Wall");
        box->SetMatNameLeft("Wall");
        box->SetMaterialLibrary(library.get());
        rci.Scene = &scene;
        rci.Buffer = &buffer;
        rci.ModelViewMatrix = &buffer.ModelViewMatrix();
        rci.StateCache = &buffer.StateCache();
    }
    void TearDown() override {
        InitializeTexCoordDispatch();
        context.ReleaseCurrent();
    }
};

TEST_F(SkyBoxFixture, WithoutALibraryNothingIsDrawnNotEvenTheChildren) {
    auto* child = new TGLPlane(nullptr);
    box->AddChild(child);
    box->RenderObject(rci);
    EXPECT_EQ(gl.Count("glBegin"), 3u) << "two faces and the child";

    library.reset();
    EXPECT_EQ(box->MaterialLibrary(), nullptr) << "the library's end reached the sky box";
    gl.Clear();
    box->RenderObject(rci);
    EXPECT_EQ(gl.Count("glBegin"), 0u);
}

// Whatever the face's material raises, the box leaves depth writes on, the capabilities as it
// found them and both matrix stacks balanced, so that the next frame starts as usual.
TEST_F(SkyBoxFixture, AFaceThatFailsLeavesTheStateAndTheMatrixStacksAsTheyWere) {
    TFailingShader shader(nullptr);
    library->Materials().Items(0)->SetShader(&shader);
    TGLStateCache& cache = buffer.StateCache();
    cache.Enable(capDepthTest);
    cache.Enable(capLighting);
    cache.Disable(capFog);
    EXPECT_THROW(box->RenderObject(rci), Exception);
    EXPECT_TRUE(cache.States().Contains(capDepthTest));
    EXPECT_TRUE(cache.States().Contains(capLighting));
    EXPECT_FALSE(cache.States().Contains(capFog));
    ASSERT_EQ(gl.Count("glDepthMask"), 2u);
    EXPECT_TRUE(gl.Named("glDepthMask").back().Is("glDepthMask", {GL_TRUE}));
    EXPECT_EQ(gl.Count("glPushMatrix"), gl.Count("glPopMatrix"));
    EXPECT_THROW(buffer.PopModelViewMatrix(), EAssertionFailed) << "nothing left pushed";
    library->Materials().Items(0)->SetShader(nullptr);
}

} // namespace
