// The materials (GLTextureMaterial): what applying one sends, the notices it gives its owner,
// copies, and the texture it makes and frees.
#include "engine/materials/GLTextureMaterial.h"
#include "engine/scene/RenderContextInfo.h"
#include "tests/support/RecordingGL.h"
#include "tests/unit/materials/TextureFixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Sends = std::vector<std::vector<double>>;

std::vector<double> Data(const TVector& v) {
    return {v[0], v[1], v[2], v[3]};
}

// A lit frame as the buffer starts it: the cache holds the capabilities the test names and no
// material colours, and the recording starts empty.
struct MaterialApply : testing::Test {
    TRecordingGL gl;
    TGLStateCache cache;
    TRenderContextInfo rci;

    void StartFrame(std::initializer_list<TGLCapability> enabled, bool bufferCulls = false) {
        for (TGLCapability capability : enabled)
            cache.Enable(capability);
        cache.ResetAll();
        rci.StateCache = &cache;
        rci.BufferCullsFaces = bufferCulls;
        gl.Clear();
    }

    // The data of the glMaterialfv(face, pname) calls sent.
    Sends Sent(GLenum face, GLenum pname) const {
        Sends sent;
        for (const TGLCall& call : gl.Named("glMaterialfv"))
            if (call.Args.at(0) == face && call.Args.at(1) == pname)
                sent.push_back(call.Data);
        return sent;
    }
    size_t SentFor(GLenum face) const {
        size_t count = 0;
        for (const char* name : {"glMaterialfv", "glMateriali"})
            for (const TGLCall& call : gl.Named(name))
                count += call.Args.at(0) == face;
        return count;
    }
};

TEST_F(MaterialApply, ADefaultMaterialOnALitBufferThatDoesNotCullSetsBothFacesAndNoBlending) {
    StartFrame({capLighting, capBlend, capAlphaTest});
    TGLMaterial material(nullptr);
    EXPECT_FALSE(material.HasBackProperties());
    material.Apply(rci);

    const std::vector<double> ambient{0.2f, 0.2f, 0.2f, 1}, diffuse{0.8f, 0.8f, 0.8f, 1};
    for (GLenum face : {GL_FRONT, GL_BACK}) {
        EXPECT_EQ(Sent(face, GL_AMBIENT), Sends{ambient}) << face;
        EXPECT_EQ(Sent(face, GL_DIFFUSE), Sends{diffuse}) << face;
        EXPECT_EQ(Sent(face, GL_EMISSION), (Sends{{0, 0, 0, 1}}));
    }
    EXPECT_TRUE(material.HasBackProperties()) << "applying to the back made the back properties";
    EXPECT_EQ(gl.Enabled(GL_BLEND), false);
    EXPECT_EQ(gl.Enabled(GL_ALPHA_TEST), false);
    EXPECT_EQ(gl.Find("glPolygonMode", {GL_FRONT, GL_FILL}) >= 0, true);
    EXPECT_EQ(gl.Find("glPolygonMode", {GL_BACK, GL_FILL}) >= 0, true);
    EXPECT_EQ(gl.Trace("glTex").size() + gl.Count("glBindTexture") + gl.Count("glColor4fv"), 0u);
    EXPECT_FALSE(gl.Enabled(GL_TEXTURE_2D).has_value());
    EXPECT_FALSE(material.UnApply(rci)) << "a plain material draws in one pass";

    gl.Clear();
    material.Apply(rci);
    EXPECT_EQ(gl.Count("glMaterialfv") + gl.Count("glPolygonMode") + gl.Count("glEnable") +
                  gl.Count("glDisable"),
              0u)
        << "the same material again sends nothing the cache already holds";
}

TEST_F(MaterialApply, WithLightingOffTheFrontSendsOnlyItsDiffuseColour) {
    StartFrame({});
    TGLMaterial material(nullptr);
    material.FrontProperties().Diffuse().SetColor({0.1f, 0.2f, 0.3f, 0.4f});
    material.SetFaceCulling(fcCull);
    material.Apply(rci);
    ASSERT_EQ(gl.Count("glColor4fv"), 1u);
    EXPECT_EQ(gl.Named("glColor4fv")[0].Data, Data({0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_EQ(SentFor(GL_FRONT), 0u);
    EXPECT_EQ(SentFor(GL_BACK), 0u);
}

TEST_F(MaterialApply, NestedMaterialsWithoutLightingSwitchItOffOnceAndOnAtTheOuterEnd) {
    StartFrame({capLighting});
    TGLMaterial outer(nullptr), inner(nullptr);
    outer.SetMaterialOptions({moNoLighting});
    inner.SetMaterialOptions({moNoLighting});

    outer.Apply(rci);
    inner.Apply(rci);
    EXPECT_EQ(gl.Count("glDisable"), 1u);
    EXPECT_EQ(gl.Enabled(GL_LIGHTING), false);
    EXPECT_EQ(gl.Count("glColor4fv"), 2u) << "both draw unlit";
    inner.UnApply(rci);
    EXPECT_FALSE(cache.States().Contains(capLighting)) << "the inner end keeps lighting off";
    outer.UnApply(rci);
    EXPECT_EQ(gl.Enabled(GL_LIGHTING), true);
    EXPECT_EQ(gl.Count("glEnable"), 1u);
    EXPECT_EQ(rci.LightingSuppressCount, 0);

    // A material that finds lighting already off for reasons of its own leaves it off.
    cache.Disable(capLighting);
    gl.Clear();
    inner.Apply(rci);
    inner.UnApply(rci);
    EXPECT_FALSE(cache.States().Contains(capLighting));
    EXPECT_EQ(gl.Count("glEnable"), 0u);
}

TEST_F(MaterialApply, IgnoringFogSuspendsItUntilTheMaterialEnds) {
    StartFrame({capFog});
    TGLMaterial material(nullptr);
    material.SetMaterialOptions({moIgnoreFog});
    material.Apply(rci);
    EXPECT_EQ(gl.Enabled(GL_FOG), false);
    EXPECT_EQ(rci.FogSuppressCount, 1);
    material.UnApply(rci);
    EXPECT_EQ(gl.Enabled(GL_FOG), true);
    EXPECT_EQ(rci.FogSuppressCount, 0);
}

TEST_F(MaterialApply, EachBlendingModeSetsBlendAlphaTestAndItsFunction) {
    struct Row {
        TBlendingMode Mode;
        bool Blend, AlphaTest;
        const char* Function;
        std::initializer_list<double> Args;
    };
    const Row rows[] = {
        {bmOpaque, false, false, "", {}},
        {bmTransparency, true, true, "glBlendFunc", {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}},
        {bmAdditive, true, true, "glBlendFunc", {GL_SRC_ALPHA, GL_ONE}},
        {bmAlphaTest50, false, true, "glAlphaFunc", {GL_GEQUAL, 0.5}},
        {bmAlphaTest100, false, true, "glAlphaFunc", {GL_GEQUAL, 1.0}},
        {bmModulate, true, true, "glBlendFunc", {GL_DST_COLOR, GL_ZERO}},
    };
    for (const Row& row : rows) {
        TGLStateCache fresh;
        cache = fresh;
        StartFrame({row.Blend ? capAlphaTest : capBlend});
        TGLMaterial material(nullptr);
        material.SetBlendingMode(row.Mode);
        material.Apply(rci);
        EXPECT_EQ(cache.States().Contains(capBlend), row.Blend) << int(row.Mode);
        EXPECT_EQ(cache.States().Contains(capAlphaTest), row.AlphaTest) << int(row.Mode);
        EXPECT_EQ(gl.Count("glBlendFunc") + gl.Count("glAlphaFunc"), *row.Function ? 1u : 0u);
        if (*row.Function) {
            EXPECT_GE(gl.Find(row.Function, row.Args), 0) << int(row.Mode);
        }
        EXPECT_EQ(material.Blended(), row.Blend) << int(row.Mode);
    }
}

TEST_F(MaterialApply, AnAlphaTestMaterialRestoresTheFrameAlphaFunctionWhenItEnds) {
    StartFrame({capLighting});
    TGLMaterial material(nullptr);
    material.SetBlendingMode(bmAlphaTest50);
    material.Apply(rci);
    EXPECT_EQ(gl.Trace("glAlpha"), std::vector<std::string>{"glAlphaFunc(518, 0.5)"});
    gl.Clear();
    EXPECT_FALSE(material.UnApply(rci));
    EXPECT_EQ(gl.Trace("glAlpha"), std::vector<std::string>{"glAlphaFunc(516, 0)"});
}

TEST_F(MaterialApply, SkippingBlendingLeavesBlendAndAlphaTestAlone) {
    StartFrame({capBlend});
    rci.SkipBlending = true;
    TGLMaterial material(nullptr);
    material.Apply(rci);
    EXPECT_TRUE(cache.States().Contains(capBlend));
    EXPECT_FALSE(gl.Enabled(GL_ALPHA_TEST).has_value());
}

TEST_F(MaterialApply, FaceCullingFollowsTheCacheTheBufferAndTheMaterial) {
    struct Row {
        bool CullEnabled;
        TFaceCulling Culling;
        bool BufferCulls;
        bool CullAfter;
        bool BackApplied;
    };
    const Row rows[] = {
        {true, fcBufferDefault, false, false, true}, {true, fcBufferDefault, true, true, false},
        {true, fcCull, false, true, false},          {true, fcNoCull, true, false, true},
        {false, fcBufferDefault, true, true, false}, {false, fcBufferDefault, false, false, true},
        {false, fcCull, false, true, false},         {false, fcNoCull, true, false, true},
    };
    for (const Row& row : rows) {
        TGLStateCache fresh;
        cache = fresh;
        if (row.CullEnabled)
            StartFrame({capLighting, capCullFace}, row.BufferCulls);
        else
            StartFrame({capLighting}, row.BufferCulls);
        TGLMaterial material(nullptr);
        material.SetFaceCulling(row.Culling);
        material.Apply(rci);
        const std::string what = std::to_string(row.CullEnabled) + "/" +
                                 std::to_string(row.Culling) + "/" +
                                 std::to_string(row.BufferCulls);
        EXPECT_EQ(cache.States().Contains(capCullFace), row.CullAfter) << what;
        EXPECT_EQ(gl.Count("glEnable") + gl.Count("glDisable"),
                  row.CullEnabled != row.CullAfter ? 1u : 0u)
            << what << ": only a change of culling is sent";
        EXPECT_EQ(SentFor(GL_BACK) > 0, row.BackApplied) << what;
        EXPECT_EQ(material.HasBackProperties(), row.BackApplied) << what;
    }
}

TEST_F(MaterialApply, BackPropertiesAndPolygonModesReachTheirFaces) {
    StartFrame({capLighting});
    TGLMaterial material(nullptr);
    material.SetFaceCulling(fcNoCull);
    material.BackProperties().Ambient().SetColor({1, 0, 0, 1});
    material.BackProperties().SetShininess(200);
    material.BackProperties().SetPolygonMode(pmLines);
    material.FrontProperties().SetPolygonMode(pmPoints);
    material.Apply(rci);
    EXPECT_EQ(Sent(GL_BACK, GL_AMBIENT), (Sends{{1, 0, 0, 1}}));
    EXPECT_GE(gl.Find("glMateriali", {GL_BACK, GL_SHININESS, 128}), 0)
        << "a shininess above OpenGL's range is taken as its largest value";
    EXPECT_GE(gl.Find("glPolygonMode", {GL_BACK, GL_LINE}), 0);
    EXPECT_GE(gl.Find("glPolygonMode", {GL_FRONT, GL_POINT}), 0);
}

// --- Notification and copies -------------------------------------------------------------------

TEST(GLMaterial, EveryChangeReachesTheOwningObjectOnceAndOnlyWhenSomethingChanged) {
    TCountingComponent owner(nullptr);
    TGLMaterial material(&owner);
    TGLColor red(nullptr, {1, 0, 0, 1});
    TGLFaceProperties shiny(nullptr);
    shiny.SetShininess(20);
    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        {"front colour component", [&] { material.FrontProperties().Diffuse().SetRed(1); }},
        {"back colour",
         [&] {
             material.BackProperties().Emission().SetColor({1, 1, 1, 1});
         }},
        {"colour setter", [&] { material.FrontProperties().SetAmbient(red); }},
        {"shininess", [&] { material.FrontProperties().SetShininess(10); }},
        {"polygon mode", [&] { material.BackProperties().SetPolygonMode(pmLines); }},
        {"blending", [&] { material.SetBlendingMode(bmAdditive); }},
        {"options", [&] { material.SetMaterialOptions({moIgnoreFog}); }},
        {"culling", [&] { material.SetFaceCulling(fcNoCull); }},
        {"front properties", [&] { material.SetFrontProperties(shiny); }},
    };
    for (const auto& [what, change] : changes) {
        const int before = owner.Changes;
        change();
        EXPECT_EQ(owner.Changes, before + 1) << what;
    }
    const int before = owner.Changes;
    material.SetBlendingMode(bmAdditive);
    material.SetFaceCulling(fcNoCull);
    material.FrontProperties().SetShininess(20);
    EXPECT_EQ(owner.Changes, before) << "setting a value it already holds notifies nobody";
    EXPECT_EQ(owner.StructureChanges, 0);

    material.NotifyTexMapChange(&material);
    EXPECT_EQ(owner.StructureChanges, 1) << "a texture-mapping change rebuilds the owner's drawing";
}

TEST(GLMaterial, AssignCopiesTheLookAndNotifiesOnce) {
    TGLMaterial source(nullptr);
    source.FrontProperties().Diffuse().SetColor({1, 0, 0, 1});
    source.BackProperties().Specular().SetColor({0, 1, 0, 1});
    source.SetBlendingMode(bmTransparency);
    source.SetMaterialOptions({moNoLighting});
    source.SetFaceCulling(fcCull);

    TCountingComponent owner(nullptr);
    TGLMaterial copy(&owner);
    copy.Assign(&source);
    EXPECT_EQ(owner.Changes, 1);
    EXPECT_EQ(copy.FrontProperties().Diffuse().Color(), (TVector{1, 0, 0, 1}));
    ASSERT_TRUE(copy.HasBackProperties());
    EXPECT_EQ(copy.BackProperties().Specular().Color(), (TVector{0, 1, 0, 1}));
    EXPECT_EQ(copy.BlendingMode(), bmTransparency);
    EXPECT_EQ(copy.MaterialOptions(), TMaterialOptions{moNoLighting});
    EXPECT_EQ(copy.FaceCulling(), fcCull);

    const TGLMaterial plain(nullptr);
    copy.Assign(&plain);
    EXPECT_FALSE(copy.HasBackProperties()) << "a source without back properties frees them";
    EXPECT_EQ(copy.BlendingMode(), bmOpaque);

    const TGLColor colour(nullptr);
    EXPECT_THROW(copy.Assign(&colour), EConvertError);
    EXPECT_THROW(copy.Assign(nullptr), EConvertError);
}

TEST_F(TextureFixture, AMaterialMakesCopiesAndFreesItsTexture) {
    TGLMaterial plain(nullptr);
    EXPECT_FALSE(plain.HasTexture());
    gl.Clear();
    plain.Apply(rci);
    plain.UnApply(rci);
    EXPECT_EQ(gl.Count("glDisable") + gl.Count("glBindTexture"), 0u) << "no texture, no calls";
    EXPECT_TRUE(plain.Texture().Disabled()) << "made on first read";

    GivePicture();
    texture.SetDisabled(false);
    texture.Apply(rci);
    plain.Assign(&material);
    EXPECT_FALSE(plain.Texture().Disabled());
    EXPECT_EQ(plain.Texture().Image().Width(), 4);
    EXPECT_NE(&plain.Texture(), &texture);

    const int structure = owner.StructureChanges;
    material.SetTexture(nullptr);
    EXPECT_FALSE(material.HasTexture());
    EXPECT_EQ(owner.StructureChanges, structure + 1);
    EXPECT_EQ(gl.Count("glDeleteTextures"), 1u) << "its OpenGL texture went with it";
}

} // namespace
