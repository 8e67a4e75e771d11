// The render record of a frame. It only names the scene classes it points to, so that the modules
// below the scene graph (materials, textures) can read and set it while they draw.
#pragma once

#include "engine/context/GLState.h"
#include "engine/geometry/VectorGeometry.h"

#include <cstdint>

class TGLMaterialLibrary;
class TGLScene;
class TGLSceneBuffer;

enum TGLObjectsSorting : uint8_t {
    osInherited,
    osNone,
    osRenderFarthestFirst,
    osRenderBlendedLast,
    osRenderNearestFirst
};
enum TGLVisibilityCulling : uint8_t { vcInherited, vcNone, vcObjectBased, vcHierarchical };

// The render state of one frame, built by the scene for its buffer and handed by reference down
// the object tree. Everything is zero until the scene sets it.
struct TRenderContextInfo {
    TGLScene* Scene = nullptr;
    TGLSceneBuffer* Buffer = nullptr;
    TVector CameraPosition{};
    TVector CameraDirection{};
    TVector CameraUp{};
    TMatrix* ModelViewMatrix = nullptr; // the buffer's model-view matrix
    int32_t ViewportWidth = 0;
    int32_t ViewportHeight = 0;
    int32_t RenderDpi = 0;
    TGLMaterialLibrary* MeshMaterialLibrary = nullptr;
    TGLMaterialLibrary* LightmapLibrary = nullptr;
    int32_t FogSuppressCount = 0;
    int32_t LightingSuppressCount = 0;
    uint8_t DrawPass = 0; // 0 render, 1 pick
    TGLObjectsSorting Sorting = osInherited;
    TGLVisibilityCulling Culling = vcInherited;
    TGLStateCache* StateCache = nullptr;
    TVector ClipOrigin{};
    TVector ClipDirection{};
    float ClipViewportRadius = 0;
    float ClipFarDistance = 0;
    TFrustum ClipFrustum{};
    TVector SceneAmbient{};
    bool BufferCullsFaces = false;
    bool NamesPushed = false;
    bool SkipMaterials = false;
    bool SkipBlending = false;
    bool SkipDisplayLists = false;
};
