#include "engine/objects/GLSkyBox.h"

#include "engine/context/XOpenGL.h"
#include "engine/scene/SceneGraphBuffer.h"

#include <array>

namespace {

// The pictures are inset from their edges, so that a linear filter never reaches the texels of
// the opposite edge across the seams of the box.
constexpr float e = 0.002f;
constexpr float f = 0.998f;

struct TCorner {
    float S, T, X, Y, Z;
};
using TQuad = std::array<TCorner, 4>;

struct TFace {
    TQuad Quad;
    // The four side faces only: for sbsTopHalfClamped, their bottom row stretched down to
    // y = -3.
    bool Side;
    TQuad Below;
};

// In drawing order: front, back, top, bottom, left, right. Seen from inside, every face winds
// counter-clockwise and shows its picture upright and unmirrored.
constexpr std::array<TFace, 6> cFaces{{
    {{{{e, f, -1, 1, -1}, {e, e, -1, -1, -1}, {f, e, 1, -1, -1}, {f, f, 1, 1, -1}}},
     true,
     {{{e, e, -1, -1, -1}, {e, e, -1, -3, -1}, {f, e, 1, -3, -1}, {f, e, 1, -1, -1}}}},
    {{{{e, f, 1, 1, 1}, {e, e, 1, -1, 1}, {f, e, -1, -1, 1}, {f, f, -1, 1, 1}}},
     true,
     {{{e, e, 1, -1, 1}, {e, e, 1, -3, 1}, {f, e, -1, -3, 1}, {f, e, -1, -1, 1}}}},
    {{{{e, f, -1, 1, 1}, {e, e, -1, 1, -1}, {f, e, 1, 1, -1}, {f, f, 1, 1, 1}}}, false, {}},
    {{{{e, f, -1, -1, -1}, {e, e, -1, -1, 1}, {f, e, 1, -1, 1}, {f, f, 1, -1, -1}}}, false, {}},
    {{{{e, f, -1, 1, 1}, {e, e, -1, -1, 1}, {f, e, -1, -1, -1}, {f, f, -1, 1, -1}}},
     true,
     {{{e, e, -1, -1, 1}, {e, e, -1, -3, 1}, {f, e, -1, -3, -1}, {f, e, -1, -1, -1}}}},
    {{{{e, f, 1, 1, -1}, {e, e, 1, -1, -1}, {f, e, 1, -1, 1}, {f, f, 1, 1, 1}}},
     true,
     {{{e, e, 1, -1, -1}, {e, e, 1, -3, -1}, {f, e, 1, -3, 1}, {f, e, 1, -1, 1}}}},
}};

void SendQuad(const TQuad& quad) {
    for (const TCorner& corner : quad) {
        xgl.TexCoord2f(corner.S, corner.T);
        glVertex3f(corner.X, corner.Y, corner.Z);
    }
}

// The item's passes, each one batch of quads.
template <typename TSend> void DrawWith(TRenderContextInfo& rci, TGLLibMaterial& item, TSend send) {
    item.Apply(rci);
    do {
        glBegin(GL_QUADS);
        send();
        glEnd();
    } while (item.UnApply(rci));
}

// An unset name draws nothing, even where the library holds an item without a name.
TGLLibMaterial* Item(const TGLMaterialLibrary& library, const std::string& name) {
    return name.empty() ? nullptr : library.LibMaterialByName(name);
}

TMatrix ReadModelView() {
    TMatrix matrix = IdentityHmgMatrix;
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix[0].data());
    return matrix;
}

TVector WithW(TVector v, float w) {
    v[3] = w;
    return v;
}

} // namespace

TGLSkyBox::TGLSkyBox(TComponent* owner) : TGLImmaterialSceneObject(owner) {
    SetObjectStyle({sfDrawDirect, sfNeverCull});
}

TGLBaseSceneObject* TGLSkyBox::CreateOfSameClass(TComponent* owner) const {
    return new TGLSkyBox(owner);
}

void TGLSkyBox::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TGLSkyBox*>(source)) {
        FMatNameTop = other->FMatNameTop;
        FMatNameBottom = other->FMatNameBottom;
        FMatNameLeft = other->FMatNameLeft;
        FMatNameRight = other->FMatNameRight;
        FMatNameFront = other->FMatNameFront;
        FMatNameBack = other->FMatNameBack;
        FMatNameClouds = other->FMatNameClouds;
        FCloudsPlaneOffset = other->FCloudsPlaneOffset;
        FCloudsPlaneSize = other->FCloudsPlaneSize;
        FStyle = other->FStyle;
        SetMaterialLibrary(other->FMaterialLibrary);
    }
    TGLImmaterialSceneObject::Assign(source);
}

void TGLSkyBox::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component == FMaterialLibrary)
        SetMaterialLibrary(nullptr);
    TGLImmaterialSceneObject::Notification(component, operation);
}

void TGLSkyBox::SetMaterialLibrary(TGLMaterialLibrary* value) {
    if (FMaterialLibrary)
        RemoveFreeNotification(FMaterialLibrary);
    FMaterialLibrary = value;
    if (value)
        FreeNotification(value);
    StructureChanged();
}

void TGLSkyBox::SetMatName(std::string& field, const std::string& value) {
    field = value;
    StructureChanged();
}

void TGLSkyBox::SetCloudsPlaneOffset(float value) {
    FCloudsPlaneOffset = value;
    StructureChanged();
}

void TGLSkyBox::SetCloudsPlaneSize(float value) {
    FCloudsPlaneSize = value;
    StructureChanged();
}

// The box is drawn first with the depth mask off, so it never hides what follows. The depth
// test stays off for the children too and comes back, as lighting and fog do, only if it was on.
void TGLSkyBox::DoRender(TRenderContextInfo& rci, bool, bool renderChildren) {
    const TGLCamera* camera = Scene() ? Scene()->CurrentCamera() : nullptr;
    if (!FMaterialLibrary || !rci.Buffer || !camera)
        return;
    TGLStateCache& cache = *rci.StateCache;
    const TGLStates enabled = cache.States();
    cache.Disable(capDepthTest);
    cache.Disable(capLighting);
    cache.Disable(capFog);
    glDepthMask(GL_FALSE);
    // Half the far distance: the corners of the box stay within an ordinary perspective.
    const float size = (camera->NearPlane() + camera->DepthOfView()) * 0.5f;
    LoadBoxFrame(rci, size);
    TGLSceneBuffer& buffer = *rci.Buffer;
    buffer.PushModelViewMatrix(ReadModelView());
    TFinally restore([&cache, &buffer, enabled] {
        if (enabled.Contains(capDepthTest))
            cache.Enable(capDepthTest);
        buffer.PopModelViewMatrix();
    });
    DrawBox(rci, enabled);
    if (renderChildren) {
        glScalef(1 / size, 1 / size, 1 / size);
        RenderChildren(0, Count() - 1, rci);
    }
}

// The camera's view, then the box turned like this object but centred on the camera: its own
// position, its scale and its parents' transforms play no part.
void TGLSkyBox::LoadBoxFrame(const TRenderContextInfo& rci, float size) const {
    glLoadMatrixf(rci.Buffer->ModelViewMatrix()[0].data());
    const TMatrix frame{WithW(RightVector(), 0), WithW(Up().AsVector(), 0),
                        WithW(Direction().AsVector(), 0), WithW(rci.CameraPosition, 1)};
    glMultMatrixf(frame[0].data());
    glScalef(size, size, size);
}

void TGLSkyBox::DrawBox(TRenderContextInfo& rci, TGLStates enabled) const {
    TGLStateCache& cache = *rci.StateCache;
    glPushMatrix();
    TFinally restore([&cache, enabled] {
        glPopMatrix();
        glDepthMask(GL_TRUE);
        if (enabled.Contains(capLighting))
            cache.Enable(capLighting);
        if (enabled.Contains(capFog))
            cache.Enable(capFog);
    });
    ApplyStyle();
    DrawFaces(rci);
    DrawClouds(rci);
}

void TGLSkyBox::ApplyStyle() const {
    switch (FStyle) {
    case sbsTopHalf:
    case sbsTopHalfClamped:
        glTranslatef(0, 0.5f, 0);
        glScalef(1, 0.5f, 1);
        break;
    case sbsBottomHalf:
        glTranslatef(0, -0.5f, 0);
        glScalef(1, 0.5f, 1);
        break;
    case sbTopTwoThirds:
        glTranslatef(0, 0.33333334f, 0);
        glScalef(1, 0.6666667f, 1);
        break;
    case sbsFull:
        break;
    }
}

void TGLSkyBox::DrawFaces(TRenderContextInfo& rci) const {
    const std::array<const std::string*, 6> names{&FMatNameFront,  &FMatNameBack, &FMatNameTop,
                                                  &FMatNameBottom, &FMatNameLeft, &FMatNameRight};
    const bool clamped = FStyle == sbsTopHalfClamped;
    for (size_t i = 0; i < cFaces.size(); ++i) {
        TGLLibMaterial* item = Item(*FMaterialLibrary, *names[i]);
        if (!item)
            continue;
        const TFace& face = cFaces[i];
        DrawWith(rci, *item, [&face, clamped] {
            SendQuad(face.Quad);
            if (clamped && face.Side)
                SendQuad(face.Below);
        });
    }
}

// A horizontal square at the clouds' height, in the box's styled frame.
void TGLSkyBox::DrawClouds(TRenderContextInfo& rci) const {
    TGLLibMaterial* item = Item(*FMaterialLibrary, FMatNameClouds);
    if (!item)
        return;
    const float h = FCloudsPlaneSize * 0.5f;
    const float o = FCloudsPlaneOffset;
    const TQuad plane{{{0, 1, -h, o, h}, {0, 0, -h, o, -h}, {1, 0, h, o, -h}, {1, 1, h, o, h}}};
    DrawWith(rci, *item, [&plane] { SendQuad(plane); });
}
