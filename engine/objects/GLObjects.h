// Simple scene objects: the dummy cube, an invisible node that groups children and serves as a
// camera target, and the plane, a textured rectangle. Both draw directly every frame, never
// through a display list of their own geometry.
#pragma once

#include "engine/scene/SceneGraph.h"

#include <functional>
#include <memory>

// Twelve edges of a cube of edge `size` centred on the origin, unlit, in `colour`; stippled
// edges are dashed and blended. Every OpenGL state it changes is restored, and the state
// cache's material colours are reset, since the cube sends material colours of its own.
void DrawWireCube(TRenderContextInfo& rci, bool stippled, const TVector& colour, float size);

// Whether an object is to be drawn at all in the frame being rendered.
using TGLVisibilityDeterminationEvent =
    std::function<bool(TObject* sender, TRenderContextInfo& rci)>;

// A node without geometry of its own; it shows a dashed wire cube only when VisibleAtRunTime.
// With Amalgamate its whole subtree is compiled into one display list, GroupList, and replayed
// until a structure change of the cube or of an object below it discards it.
class TGLDummyCube : public TGLCameraInvariantObject {
public:
    explicit TGLDummyCube(TComponent* owner);
    const char* ClassName() const override { return "TGLDummyCube"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;

    // From another dummy cube: size, edge colour and run-time visibility, not Amalgamate.
    void Assign(const TPersistent* source) override;
    TVector UnscaledHalfExtents() const override;
    // The mean of the children's barycenters; the cube's own position without children.
    TVector BarycenterPosition() const override;
    bool RayIntersect(const TVector&, const TVector&, TVector*, TVector*) const override {
        return false;
    }
    void BuildList(TRenderContextInfo& rci) override;
    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;
    void StructureChanged() override;
    void ChildStructureChanged() override;
    // The group list goes with the object's own display list: it belongs to the same context.
    void DestroyListHandle() override;

    float CubeSize() const { return FCubeSize; }
    void SetCubeSize(float value);
    TGLColor& EdgeColor() { return *FEdgeColor; }
    const TGLColor& EdgeColor() const { return *FEdgeColor; }
    void SetEdgeColor(const TGLColor& value);
    bool VisibleAtRunTime() const { return FVisibleAtRunTime; }
    void SetVisibleAtRunTime(bool value);
    bool Amalgamate() const { return FAmalgamate; }
    void SetAmalgamate(bool value);
    const TGLListHandle& GroupList() const { return *FGroupList; }

    // Returning false skips the cube and its whole subtree for the frame.
    TGLVisibilityDeterminationEvent OnVisibilityDetermination;

private:
    void CompileGroup(TRenderContextInfo& rci, bool renderSelf, bool renderChildren);

    float FCubeSize = 1;
    std::unique_ptr<TGLColor> FEdgeColor;
    bool FVisibleAtRunTime = false;
    bool FAmalgamate = false;
    std::unique_ptr<TGLListHandle> FGroupList; // freed before the edge colour
};

enum TPlaneStyle : uint8_t { psSingleQuad, psTileTexture };
using TPlaneStyles = TSet<TPlaneStyle>;

// A Width x Height rectangle in the local XY plane, centred on the origin and facing local +Z,
// drawn with its material. With psTileTexture the texture repeats XTiles x YTiles times from
// the offsets; without psSingleQuad the rectangle is a grid of XTiles x YTiles cells.
class TGLPlane : public TGLSceneObject {
public:
    explicit TGLPlane(TComponent* owner);
    const char* ClassName() const override { return "TGLPlane"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;

    // From another plane: Width and Height only, then everything a scene object copies.
    void Assign(const TPersistent* source) override;
    TVector UnscaledHalfExtents() const override;
    // Against the rectangle itself; the normal faces the side the ray comes from.
    bool RayIntersect(const TVector& rayStart, const TVector& rayVector,
                      TVector* intersectPoint = nullptr,
                      TVector* intersectNormal = nullptr) const override;
    void BuildList(TRenderContextInfo& rci) override;

    float Width() const { return FWidth; }
    void SetWidth(float value);
    float Height() const { return FHeight; }
    void SetHeight(float value);
    float XOffset() const { return FXOffset; }
    void SetXOffset(float value);
    float YOffset() const { return FYOffset; }
    void SetYOffset(float value);
    // Values above 1 are stored as 1.
    float XScope() const { return FXScope; }
    void SetXScope(float value);
    float YScope() const { return FYScope; }
    void SetYScope(float value);
    uint32_t XTiles() const { return FXTiles; }
    void SetXTiles(uint32_t value);
    uint32_t YTiles() const { return FYTiles; }
    void SetYTiles(uint32_t value);
    TPlaneStyles Style() const { return FStyle; }
    void SetStyle(TPlaneStyles value);
    // Draw without writing depth. A plain setting: changing it notifies nothing.
    bool NoZWrite() const { return FNoZWrite; }
    void SetNoZWrite(bool value) { FNoZWrite = value; }

private:
    struct TTexBounds {
        float S0, S1, T0, T1;
    };
    TTexBounds TextureBounds() const;
    void DrawQuad(const TTexBounds& bounds) const;
    void DrawGrid(const TTexBounds& bounds) const;
    void SetDimension(float& field, float value);
    void SetScope(float& field, float value);
    void SetTiles(uint32_t& field, uint32_t value);

    float FWidth = 1;
    float FHeight = 1;
    float FXOffset = 0;
    float FYOffset = 0;
    float FXScope = 1;
    float FYScope = 1;
    uint32_t FXTiles = 1;
    uint32_t FYTiles = 1;
    TPlaneStyles FStyle{psSingleQuad, psTileTexture};
    bool FNoZWrite = false;
};
