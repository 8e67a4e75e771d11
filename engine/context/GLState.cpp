#include "engine/context/GLState.h"

#include <bit>

namespace {

constexpr GLenum cGLTextureCubeMap = 0x8513;
constexpr GLenum cGLTextureRectangle = 0x84F5;

constexpr std::array<GLenum, 22> cCapabilities{
    GL_ALPHA_TEST,      GL_AUTO_NORMAL,     GL_BLEND,        GL_COLOR_MATERIAL, GL_CULL_FACE,
    GL_DEPTH_TEST,      GL_DITHER,          GL_FOG,          GL_LIGHTING,       GL_LINE_SMOOTH,
    GL_LINE_STIPPLE,    GL_LOGIC_OP,        GL_NORMALIZE,    GL_POINT_SMOOTH,   GL_POLYGON_SMOOTH,
    GL_POLYGON_STIPPLE, GL_SCISSOR_TEST,    GL_STENCIL_TEST, GL_TEXTURE_1D,     GL_TEXTURE_2D,
    cGLTextureCubeMap,  cGLTextureRectangle};
static_assert(cCapabilities.size() == capTextureRectangle + 1);

// A value no material uses, so that the next request after a reset is always sent.
constexpr float cUnmatchable = std::bit_cast<float>(0x7F7F7F7Fu);
constexpr TVector cUnmatchableColor{cUnmatchable, cUnmatchable, cUnmatchable, cUnmatchable};
// A name OpenGL never returns.
constexpr GLuint cNoBinding = 0xFFFFFFFFu;

bool SameRGB(const TVector& a, const TVector& b) {
    return SameBits(AffineVectorMake(a), AffineVectorMake(b));
}

// An ordered comparison: a NaN on either side never differs.
bool Differs(float a, float b) {
    return a < b || a > b;
}

} // namespace

GLenum CapabilityToGL(TGLCapability capability) {
    return cCapabilities[capability];
}

int TGLStateCache::FaceIndex(GLenum face) {
    if (face == GL_FRONT)
        return 0;
    if (face == GL_BACK)
        return 1;
    return -1;
}

void TGLStateCache::Enable(TGLCapability capability) {
    if (FStates.Contains(capability))
        return;
    FStates.Include(capability);
    glEnable(CapabilityToGL(capability));
}

void TGLStateCache::Disable(TGLCapability capability) {
    if (!FStates.Contains(capability))
        return;
    FStates.Exclude(capability);
    glDisable(CapabilityToGL(capability));
}

void TGLStateCache::SetPolygonMode(GLenum face, GLenum mode) {
    if (face == GL_FRONT_AND_BACK) {
        if (FPolygonModes[0] == mode && FPolygonModes[1] == mode)
            return;
        FPolygonModes = {mode, mode};
    } else {
        const int index = FaceIndex(face);
        if (index < 0 || FPolygonModes[index] == mode)
            return;
        FPolygonModes[index] = mode;
    }
    glPolygonMode(face, mode);
}

void TGLStateCache::ResetPolygonModes() {
    FPolygonModes = {0, 0};
}

void TGLStateCache::SetMaterialColors(GLenum face, const TVector& emission, const TVector& ambient,
                                      const TVector& diffuse, const TVector& specular,
                                      int32_t shininess) {
    const int index = FaceIndex(face);
    if (index < 0)
        return;
    TFaceMaterial& cached = FMaterials[index];
    if (cached.Shininess != shininess) {
        cached.Shininess = shininess;
        glMateriali(face, GL_SHININESS, shininess);
    }
    if (!SameRGB(cached.Emission, emission)) {
        cached.Emission = emission;
        glMaterialfv(face, GL_EMISSION, emission.data());
    }
    if (!SameRGB(cached.Ambient, ambient)) {
        cached.Ambient = ambient;
        glMaterialfv(face, GL_AMBIENT, ambient.data());
    }
    if (!SameBits(cached.Diffuse, diffuse)) {
        cached.Diffuse = diffuse;
        glMaterialfv(face, GL_DIFFUSE, diffuse.data());
    }
    if (!SameRGB(cached.Specular, specular)) {
        cached.Specular = specular;
        glMaterialfv(face, GL_SPECULAR, specular.data());
    }
}

void TGLStateCache::SetMaterialAlpha(GLenum face, float alpha) {
    const int index = FaceIndex(face);
    if (index < 0)
        return;
    TVector& diffuse = FMaterials[index].Diffuse;
    if (!Differs(diffuse[3], alpha))
        return;
    diffuse[3] = alpha;
    glMaterialfv(face, GL_DIFFUSE, diffuse.data());
}

void TGLStateCache::ResetMaterialColors() {
    static constexpr TVector ambient{0.2f, 0.2f, 0.2f, 1};
    static constexpr TVector diffuse{0.8f, 0.8f, 0.8f, 1};
    static constexpr TVector black{0, 0, 0, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient.data());
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse.data());
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black.data());
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, black.data());
    glMateriali(GL_FRONT_AND_BACK, GL_SHININESS, 0);
    for (TFaceMaterial& cached : FMaterials)
        cached = {cUnmatchableColor, cUnmatchableColor, cUnmatchableColor, cUnmatchableColor, 0};
}

void TGLStateCache::BindTexture(int unit, GLenum target, GLuint name) {
    const bool cached = unit >= 0 && unit < cTextureUnits;
    if (cached && FTextureBindings[unit] == name)
        return;
    glBindTexture(target, name);
    if (cached)
        FTextureBindings[unit] = name;
}

void TGLStateCache::ResetTextureBindings() {
    FTextureBindings.fill(cNoBinding);
}

void TGLStateCache::SetTextureMatrix(const TMatrix& matrix) {
    FTextureMatrixIsIdentity = false;
    glMatrixMode(GL_TEXTURE);
    glLoadMatrixf(matrix[0].data());
    glMatrixMode(GL_MODELVIEW);
}

void TGLStateCache::ResetTextureMatrix() {
    if (FTextureMatrixIsIdentity)
        return;
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    FTextureMatrixIsIdentity = true;
}

void TGLStateCache::InvertFrontFace() {
    FFrontFaceCCW = !FFrontFaceCCW;
    glFrontFace(FFrontFaceCCW ? GL_CCW : GL_CW);
}

void TGLStateCache::ResetFrontFace() {
    glFrontFace(GL_CCW);
    FFrontFaceCCW = true;
}

void TGLStateCache::ResetAll() {
    ResetPolygonModes();
    ResetMaterialColors();
    ResetTextureBindings();
    ResetFrontFace();
}
