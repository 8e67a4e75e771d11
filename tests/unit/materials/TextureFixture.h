// The fixture of the texture tests: a frame on the recording OpenGL table with a current context,
// and a texture that belongs to a material whose owner counts the notices it hears.
#pragma once

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/materials/GLTextureMaterial.h"
#include "engine/scene/RenderContextInfo.h"
#include "tests/support/FakeContext.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <initializer_list>

// Counts the notices a colour's owner hears.
class TCountingComponent : public TGLUpdateAbleComponent {
public:
    using TGLUpdateAbleComponent::TGLUpdateAbleComponent;
    void NotifyChange(TObject*) override { ++Changes; }
    void StructureChanged() override { ++StructureChanges; }
    int Changes = 0;
    int StructureChanges = 0;
};

// A 4 x 2 picture: the top row red, the bottom row blue.
inline TBitmap RedOverBlue() {
    TBitmap bitmap;
    bitmap.SetSize(4, 2);
    for (int x = 0; x < 4; ++x) {
        bitmap.ScanLine(0)[3 * x + 2] = 255;
        bitmap.ScanLine(1)[3 * x] = 255;
    }
    return bitmap;
}

// Sets an extension flag for the scope's life.
class TFlagOverride {
public:
    TFlagOverride(bool& flag, bool value) : FFlag(flag), FSaved(flag) { flag = value; }
    ~TFlagOverride() { FFlag = FSaved; }

private:
    bool& FFlag;
    bool FSaved;
};

// A frame on the recording table with a current context; the texture belongs to a material
// whose owner counts the notices.
struct TextureFixture : testing::Test {
    TRecordingGL gl;
    TFakeContext context;
    TGLStateCache cache;
    TRenderContextInfo rci;
    TCountingComponent owner{nullptr};
    TGLMaterial material{&owner};
    TGLTexture& texture = material.Texture();

    void SetUp() override {
        gl.Values[GL_MAX_TEXTURE_SIZE] = {1024};
        context.CreateForDevice(nullptr);
        context.MakeCurrent();
        InitializeTexCoordDispatch();
        SelectTexCoordUnit0();
        cache.ResetAll();
        rci.StateCache = &cache;
        gl.Clear();
    }
    void TearDown() override {
        context.ReleaseCurrent();
        InitializeTexCoordDispatch();
    }

    void GivePicture() {
        const TBitmap picture = RedOverBlue();
        texture.Image().Assign(&picture);
    }
    // A further texture with a picture, switched on, on `unit`.
    TGLTextureExItem* EnabledItem(int unit) {
        TGLTextureExItem* item = material.TextureEx().Add();
        item->SetTextureIndex(unit);
        const TBitmap picture = RedOverBlue();
        item->Texture().Image().Assign(&picture);
        item->Texture().SetDisabled(false);
        return item;
    }
    size_t Uploads() const { return gl.Count("glTexImage2D") + gl.Count("gluBuild2DMipmaps"); }
    bool Sent(const char* name, std::initializer_list<double> args) const {
        return gl.Find(name, args) >= 0;
    }
};
