// The sky box: six faces of a cube that stays centred on the camera, each drawn with a named
// item of a material library, and an optional horizontal clouds plane. It writes no depth and
// draws without the depth test, lighting and fog, so that whatever is drawn after it shows in
// front of it and the camera never reaches its faces.
#pragma once

#include "engine/materials/GLMaterialLibrary.h"
#include "engine/scene/SceneGraph.h"

#include <cstdint>
#include <string>

// Which part of the box is drawn: the whole cube, its upper or lower half, its upper two
// thirds, or the upper half with the bottom row of each side picture stretched below it.
enum TGLSkyBoxStyle : uint8_t {
    sbsFull,
    sbsTopHalf,
    sbsBottomHalf,
    sbTopTwoThirds,
    sbsTopHalfClamped
};

class TGLSkyBox : public TGLImmaterialSceneObject {
public:
    explicit TGLSkyBox(TComponent* owner);
    const char* ClassName() const override { return "TGLSkyBox"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;

    // From another sky box: library, names, clouds plane and style, then everything a scene
    // object copies.
    void Assign(const TPersistent* source) override;
    // Without a library (or outside a frame of a buffer with a camera) nothing is drawn,
    // children included. The names are looked up every frame, so a renamed item shows at the
    // next one. The children are drawn centred on the camera, at true scale and without the
    // depth test.
    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;

    // Every setter but SetStyle stores the value and calls StructureChanged, equal or not.
    TGLMaterialLibrary* MaterialLibrary() const { return FMaterialLibrary; }
    void SetMaterialLibrary(TGLMaterialLibrary* value);
    const std::string& MatNameTop() const { return FMatNameTop; }
    void SetMatNameTop(const std::string& value) { SetMatName(FMatNameTop, value); }
    const std::string& MatNameBottom() const { return FMatNameBottom; }
    void SetMatNameBottom(const std::string& value) { SetMatName(FMatNameBottom, value); }
    const std::string& MatNameLeft() const { return FMatNameLeft; }
    void SetMatNameLeft(const std::string& value) { SetMatName(FMatNameLeft, value); }
    const std::string& MatNameRight() const { return FMatNameRight; }
    void SetMatNameRight(const std::string& value) { SetMatName(FMatNameRight, value); }
    const std::string& MatNameFront() const { return FMatNameFront; }
    void SetMatNameFront(const std::string& value) { SetMatName(FMatNameFront, value); }
    const std::string& MatNameBack() const { return FMatNameBack; }
    void SetMatNameBack(const std::string& value) { SetMatName(FMatNameBack, value); }
    const std::string& MatNameClouds() const { return FMatNameClouds; }
    void SetMatNameClouds(const std::string& value) { SetMatName(FMatNameClouds, value); }
    // Height and edge length of the clouds plane, in box half-widths.
    float CloudsPlaneOffset() const { return FCloudsPlaneOffset; }
    void SetCloudsPlaneOffset(float value);
    float CloudsPlaneSize() const { return FCloudsPlaneSize; }
    void SetCloudsPlaneSize(float value);
    // A plain setting: changing it notifies nothing.
    TGLSkyBoxStyle Style() const { return FStyle; }
    void SetStyle(TGLSkyBoxStyle value) { FStyle = value; }

protected:
    // The library going away leaves the sky box drawing nothing.
    void Notification(TComponent* component, TOperation operation) override;

private:
    void SetMatName(std::string& field, const std::string& value);
    void LoadBoxFrame(const TRenderContextInfo& rci, float size) const;
    void DrawBox(TRenderContextInfo& rci, TGLStates enabled) const;
    void ApplyStyle() const;
    void DrawFaces(TRenderContextInfo& rci) const;
    void DrawClouds(TRenderContextInfo& rci) const;

    TGLMaterialLibrary* FMaterialLibrary = nullptr; // not owned
    std::string FMatNameTop;
    std::string FMatNameBottom;
    std::string FMatNameLeft;
    std::string FMatNameRight;
    std::string FMatNameFront;
    std::string FMatNameBack;
    std::string FMatNameClouds;
    float FCloudsPlaneOffset = 0.2f;
    float FCloudsPlaneSize = 32;
    TGLSkyBoxStyle FStyle = sbsFull;
};
