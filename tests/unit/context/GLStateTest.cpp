#include "engine/context/GLState.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using Trace = std::vector<std::string>;

constexpr TVector cAmbientDefault{0.2f, 0.2f, 0.2f, 1};
constexpr TVector cDiffuseDefault{0.8f, 0.8f, 0.8f, 1};
constexpr TVector cBlack{0, 0, 0, 1};

std::string MaterialCall(GLenum face, GLenum pname) {
    return "glMaterialfv(" + std::to_string(face) + ", " + std::to_string(pname) + ", 0)";
}

// The colour elements of every glMaterialfv call, in order.
std::vector<std::vector<double>> MaterialData(const TRecordingGL& gl) {
    std::vector<std::vector<double>> data;
    for (const TGLCall& call : gl.Named("glMaterialfv"))
        data.push_back(call.Data);
    return data;
}

} // namespace

TEST(GLStateCapabilities, MapInTheirOrdinalOrder) {
    const GLenum expected[] = {
        GL_ALPHA_TEST,   GL_AUTO_NORMAL,  GL_BLEND,          GL_COLOR_MATERIAL,
        GL_CULL_FACE,    GL_DEPTH_TEST,   GL_DITHER,         GL_FOG,
        GL_LIGHTING,     GL_LINE_SMOOTH,  GL_LINE_STIPPLE,   GL_LOGIC_OP,
        GL_NORMALIZE,    GL_POINT_SMOOTH, GL_POLYGON_SMOOTH, GL_POLYGON_STIPPLE,
        GL_SCISSOR_TEST, GL_STENCIL_TEST, GL_TEXTURE_1D,     GL_TEXTURE_2D,
        0x8513,          0x84F5};
    static_assert(std::size(expected) == 22);
    for (int ordinal = 0; ordinal < 22; ++ordinal)
        EXPECT_EQ(CapabilityToGL(static_cast<TGLCapability>(ordinal)), expected[ordinal])
            << "ordinal " << ordinal;
}

TEST(GLStateCapabilities, EnableAndDisableAreSentOnlyOnAChange) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.Disable(capBlend); // not enabled yet: nothing
    cache.Enable(capBlend);
    cache.Enable(capBlend);
    cache.Enable(capTextureRectangle);
    cache.Disable(capBlend);
    cache.Disable(capBlend);
    EXPECT_EQ(gl.Trace(), (Trace{"glEnable(3042)", "glEnable(34037)", "glDisable(3042)"}));
    EXPECT_EQ(cache.States(), TGLStates{capTextureRectangle});
}

TEST(GLStatePolygonMode, SendsPerFaceAndForBothFaces) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.SetPolygonMode(GL_FRONT, GL_FILL);
    cache.SetPolygonMode(GL_FRONT, GL_FILL);
    // The back mode is still 0, so both faces together are sent again.
    cache.SetPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    cache.SetPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    cache.SetPolygonMode(GL_BACK, GL_FILL);
    cache.SetPolygonMode(GL_BACK, GL_LINE);
    cache.SetPolygonMode(GL_FRONT_AND_BACK + 1, GL_LINE); // not a face: ignored
    EXPECT_EQ(gl.Trace(), (Trace{"glPolygonMode(1028, 6914)", "glPolygonMode(1032, 6914)",
                                 "glPolygonMode(1029, 6913)"}));
    gl.Clear();
    cache.ResetPolygonModes();
    cache.SetPolygonMode(GL_FRONT, GL_LINE);
    cache.SetPolygonMode(GL_BACK, GL_LINE);
    EXPECT_EQ(gl.Count("glPolygonMode"), 2u);
}

TEST(GLStateMaterial, SendsChangedValuesInOrderWithAllFourComponents) {
    TRecordingGL gl;
    TGLStateCache cache;
    // Everything starts at 0: only values that differ bit for bit are sent.
    cache.SetMaterialColors(GL_FRONT, {0, 0, 0, 0}, {0.5f, 0, 0, 0.25f}, {0, 0, 0, 0}, {0, 0, 1, 1},
                            12);
    EXPECT_EQ(gl.Trace(), (Trace{"glMateriali(1028, 5633, 12)", MaterialCall(GL_FRONT, GL_AMBIENT),
                                 MaterialCall(GL_FRONT, GL_SPECULAR)}));
    EXPECT_EQ(MaterialData(gl),
              (std::vector<std::vector<double>>{{0.5, 0, 0, 0.25}, {0, 0, 1, 1}}));
    gl.Clear();
    // The back face has its own cache.
    cache.SetMaterialColors(GL_BACK, {1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 0, 0}, 0);
    EXPECT_EQ(gl.Trace(),
              (Trace{MaterialCall(GL_BACK, GL_EMISSION), MaterialCall(GL_BACK, GL_DIFFUSE)}));
}

TEST(GLStateMaterial, AlphaCountsOnlyForTheDiffuseColour) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.SetMaterialColors(GL_FRONT, cBlack, cAmbientDefault, cDiffuseDefault, cBlack, 0);
    gl.Clear();
    cache.SetMaterialColors(GL_FRONT, {0, 0, 0, 0.5f}, {0.2f, 0.2f, 0.2f, 0}, cDiffuseDefault,
                            {0, 0, 0, 0}, 0);
    EXPECT_TRUE(gl.Calls.empty());
    cache.SetMaterialColors(GL_FRONT, cBlack, cAmbientDefault, {0.8f, 0.8f, 0.8f, 0.5f}, cBlack, 0);
    EXPECT_EQ(gl.Trace(), Trace{MaterialCall(GL_FRONT, GL_DIFFUSE)});
}

TEST(GLStateMaterial, ComparesBitPatternsNotValues) {
    TRecordingGL gl;
    TGLStateCache cache;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    cache.SetMaterialColors(GL_FRONT, {-0.0f, 0, 0, 1}, {nan, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0},
                            0);
    // -0 differs from the cached +0; a NaN differs from 0.
    EXPECT_EQ(gl.Trace(),
              (Trace{MaterialCall(GL_FRONT, GL_EMISSION), MaterialCall(GL_FRONT, GL_AMBIENT)}));
    gl.Clear();
    // The same NaN again has the same bits: nothing is sent.
    cache.SetMaterialColors(GL_FRONT, {-0.0f, 0, 0, 1}, {nan, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0},
                            0);
    EXPECT_TRUE(gl.Calls.empty());
}

TEST(GLStateMaterial, ResetSendsDefaultsAndForcesTheNextColours) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.SetMaterialColors(GL_FRONT, cBlack, cAmbientDefault, cDiffuseDefault, cBlack, 5);
    gl.Clear();
    cache.ResetMaterialColors();
    EXPECT_EQ(gl.Trace(),
              (Trace{MaterialCall(GL_FRONT_AND_BACK, GL_AMBIENT),
                     MaterialCall(GL_FRONT_AND_BACK, GL_DIFFUSE),
                     MaterialCall(GL_FRONT_AND_BACK, GL_SPECULAR),
                     MaterialCall(GL_FRONT_AND_BACK, GL_EMISSION), "glMateriali(1032, 5633, 0)"}));
    const double a = 0.2f, d = 0.8f;
    EXPECT_EQ(MaterialData(gl), (std::vector<std::vector<double>>{
                                    {a, a, a, 1}, {d, d, d, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}}));
    gl.Clear();
    // The defaults again: every colour is sent (the cache holds 3.3961514e38), shininess 0 not.
    cache.SetMaterialColors(GL_FRONT, cBlack, cAmbientDefault, cDiffuseDefault, cBlack, 0);
    EXPECT_EQ(gl.Trace(),
              (Trace{MaterialCall(GL_FRONT, GL_EMISSION), MaterialCall(GL_FRONT, GL_AMBIENT),
                     MaterialCall(GL_FRONT, GL_DIFFUSE), MaterialCall(GL_FRONT, GL_SPECULAR)}));
    gl.Clear();
    cache.SetMaterialColors(GL_BACK, cBlack, cAmbientDefault, cDiffuseDefault, cBlack, 0);
    EXPECT_EQ(gl.Count("glMaterialfv"), 4u);
    EXPECT_EQ(gl.Count("glMateriali"), 0u);
    // The fill is exactly the bytes 7F 7F 7F 7F: a request made of them matches it.
    cache.ResetMaterialColors();
    gl.Clear();
    const float fill = std::bit_cast<float>(0x7F7F7F7Fu);
    cache.SetMaterialColors(GL_FRONT, {fill, fill, fill, 0}, {fill, fill, fill, 0},
                            {fill, fill, fill, fill}, {fill, fill, fill, 0}, 0);
    EXPECT_TRUE(gl.Calls.empty());
}

TEST(GLStateMaterial, AlphaOnlyUpdateSendsTheCachedDiffuse) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.SetMaterialColors(GL_BACK, cBlack, cBlack, {0.1f, 0.2f, 0.3f, 1}, cBlack, 0);
    gl.Clear();
    cache.SetMaterialAlpha(GL_BACK, 1);
    EXPECT_TRUE(gl.Calls.empty());
    cache.SetMaterialAlpha(GL_BACK, 0.5f);
    ASSERT_EQ(gl.Trace(), Trace{MaterialCall(GL_BACK, GL_DIFFUSE)});
    EXPECT_EQ(gl.Calls[0].Data, (std::vector<double>{0.1f, 0.2f, 0.3f, 0.5}));
    gl.Clear();
    // NaN never differs: nothing sent and the cached alpha is kept.
    cache.SetMaterialAlpha(GL_BACK, std::numeric_limits<float>::quiet_NaN());
    cache.SetMaterialAlpha(GL_BACK, 0.5f);
    EXPECT_TRUE(gl.Calls.empty());
    // The front face was untouched.
    cache.SetMaterialAlpha(GL_FRONT, 0);
    EXPECT_TRUE(gl.Calls.empty());
}

TEST(GLStateMaterial, FacesOtherThanFrontOrBackAreIgnored) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.SetMaterialColors(GL_FRONT_AND_BACK, cBlack, cBlack, cBlack, cBlack, 3);
    cache.SetMaterialAlpha(GL_FRONT_AND_BACK, 0.5f);
    EXPECT_TRUE(gl.Calls.empty());
}

TEST(GLStateTextures, BindingsAreCachedPerUnitRegardlessOfTarget) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.BindTexture(0, GL_TEXTURE_2D, 0); // unit 0 already holds 0
    cache.BindTexture(0, GL_TEXTURE_2D, 5);
    cache.BindTexture(0, GL_TEXTURE_1D, 5);
    cache.BindTexture(1, GL_TEXTURE_2D, 5);
    cache.BindTexture(9, GL_TEXTURE_2D, 5); // beyond the cached units: always sent
    cache.BindTexture(9, GL_TEXTURE_2D, 5);
    EXPECT_EQ(gl.Trace(), (Trace{"glBindTexture(3553, 5)", "glBindTexture(3553, 5)",
                                 "glBindTexture(3553, 5)", "glBindTexture(3553, 5)"}));
    gl.Clear();
    cache.ResetTextureBindings();
    cache.BindTexture(0, GL_TEXTURE_2D, 5);
    cache.BindTexture(7, GL_TEXTURE_2D, 0);
    cache.BindTexture(7, GL_TEXTURE_2D, 0);
    EXPECT_EQ(gl.Trace(), (Trace{"glBindTexture(3553, 5)", "glBindTexture(3553, 0)"}));
}

TEST(GLStateTextures, TextureMatrixIsResetAtMostOnce) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.ResetTextureMatrix();
    EXPECT_TRUE(gl.Calls.empty());
    const TMatrix scale = ScaleTranslateMatrix({2, 3, 1, 1}, {0.5f, 0, 0, 1});
    cache.SetTextureMatrix(scale);
    EXPECT_EQ(gl.Trace(), (Trace{"glMatrixMode(5890)", "glLoadMatrixf(0)", "glMatrixMode(5888)"}));
    EXPECT_EQ(gl.Calls[1].Data,
              (std::vector<double>{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1, 0, 0.5, 0, 0, 1}));
    gl.Clear();
    cache.ResetTextureMatrix();
    cache.ResetTextureMatrix();
    EXPECT_EQ(gl.Trace(), (Trace{"glMatrixMode(5890)", "glLoadIdentity()", "glMatrixMode(5888)"}));
}

TEST(GLStateWinding, InvertAlternatesAndResetReturnsToCounterClockwise) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.InvertFrontFace();
    cache.InvertFrontFace();
    cache.InvertFrontFace();
    cache.ResetFrontFace();
    cache.InvertFrontFace();
    EXPECT_EQ(gl.Trace(), (Trace{"glFrontFace(2304)", "glFrontFace(2305)", "glFrontFace(2304)",
                                 "glFrontFace(2305)", "glFrontFace(2304)"}));
}

TEST(GLStateReset, ResetAllKeepsTheEnabledSetAndTheTextureMatrix) {
    TRecordingGL gl;
    TGLStateCache cache;
    cache.Enable(capLighting);
    cache.SetPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    cache.BindTexture(0, GL_TEXTURE_2D, 3);
    cache.SetTextureMatrix(IdentityHmgMatrix);
    cache.InvertFrontFace();
    gl.Clear();
    cache.ResetAll();
    EXPECT_EQ(gl.Trace(), (Trace{MaterialCall(GL_FRONT_AND_BACK, GL_AMBIENT),
                                 MaterialCall(GL_FRONT_AND_BACK, GL_DIFFUSE),
                                 MaterialCall(GL_FRONT_AND_BACK, GL_SPECULAR),
                                 MaterialCall(GL_FRONT_AND_BACK, GL_EMISSION),
                                 "glMateriali(1032, 5633, 0)", "glFrontFace(2305)"}));
    gl.Clear();
    cache.Enable(capLighting);
    cache.SetPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    cache.BindTexture(0, GL_TEXTURE_2D, 3);
    cache.ResetTextureMatrix();
    cache.InvertFrontFace();
    EXPECT_EQ(gl.Trace(),
              (Trace{"glPolygonMode(1032, 6914)", "glBindTexture(3553, 3)", "glMatrixMode(5890)",
                     "glLoadIdentity()", "glMatrixMode(5888)", "glFrontFace(2304)"}));
}
