// A cache of the OpenGL state that materials, textures and objects change most often.
//
// The cache remembers what it last told OpenGL and issues a call only when a request differs
// from it. It trusts that nobody changes the cached state behind its back; whoever can let that
// happen resets the relevant part (the scene buffer resets it at the start of every scene).
#pragma once

#include "engine/geometry/VectorGeometry.h"
#include "platform/framework/Sets.h"
#include "platform/win32/OpenGL32.h"

#include <array>
#include <cstdint>

// The cached capabilities; the ordinal is the cache's index.
enum TGLCapability : uint8_t {
    capAlphaTest,
    capAutoNormal,
    capBlend,
    capColorMaterial,
    capCullFace,
    capDepthTest,
    capDither,
    capFog,
    capLighting,
    capLineSmooth,
    capLineStipple,
    capLogicOp,
    capNormalize,
    capPointSmooth,
    capPolygonSmooth,
    capPolygonStipple,
    capScissorTest,
    capStencilTest,
    capTexture1D,
    capTexture2D,
    capTextureCubeMap,
    capTextureRectangle
};
using TGLStates = TSet<TGLCapability>;

// The OpenGL capability behind each cached one.
GLenum CapabilityToGL(TGLCapability capability);

class TGLStateCache {
public:
    static constexpr int cTextureUnits = 8;

    // The capabilities the cache has enabled.
    TGLStates States() const { return FStates; }
    void Enable(TGLCapability capability);
    void Disable(TGLCapability capability);

    // face: GL_FRONT, GL_BACK or GL_FRONT_AND_BACK; other values are ignored.
    void SetPolygonMode(GLenum face, GLenum mode);
    void ResetPolygonModes();

    // face: GL_FRONT or GL_BACK; other values are ignored. Compared bit for bit; the alpha of
    // emission, ambient and specular plays no part.
    void SetMaterialColors(GLenum face, const TVector& emission, const TVector& ambient,
                           const TVector& diffuse, const TVector& specular, int32_t shininess);
    // Sends the cached diffuse colour with a new alpha when the alpha differs (NaN never does).
    void SetMaterialAlpha(GLenum face, float alpha);
    // OpenGL's default material on both faces; the cache then holds values no request matches.
    void ResetMaterialColors();

    // The caller has made `unit` the active texture unit. Units outside 0..7 are not cached:
    // every bind on them is sent.
    void BindTexture(int unit, GLenum target, GLuint name);
    void ResetTextureBindings();

    void SetTextureMatrix(const TMatrix& matrix);
    void ResetTextureMatrix();

    void InvertFrontFace();
    void ResetFrontFace();

    // Polygon modes, material colours, texture bindings and winding; the enabled set and the
    // texture matrix stay as they are.
    void ResetAll();

private:
    struct TFaceMaterial {
        TVector Emission{};
        TVector Ambient{};
        TVector Diffuse{};
        TVector Specular{};
        int32_t Shininess = 0;
    };
    static int FaceIndex(GLenum face);

    TGLStates FStates;
    std::array<TFaceMaterial, 2> FMaterials{}; // front, back
    std::array<GLenum, 2> FPolygonModes{};     // front, back
    std::array<GLuint, cTextureUnits> FTextureBindings{};
    bool FFrontFaceCCW = true;
    bool FTextureMatrixIsIdentity = true;
};
