#include "engine/objects/GLObjects.h"

#include "engine/context/XOpenGL.h"

#include <cmath>
#include <string>

namespace {

constexpr GLushort cEdgeStipple = 0xCCCC;

} // namespace

void DrawWireCube(TRenderContextInfo& rci, bool stippled, const TVector& colour, float size) {
    glPushAttrib(GL_CURRENT_BIT | GL_LINE_BIT | GL_LIGHTING_BIT | GL_ENABLE_BIT |
                 GL_COLOR_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_LINE_SMOOTH);
    if (stippled) {
        glEnable(GL_LINE_STIPPLE);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glLineStipple(1, cEdgeStipple);
    }
    glLineWidth(1);
    const float h = size * 0.5f;
    const float m = -h;
    rci.StateCache->ResetMaterialColors();
    // The colour goes to the emission, which shows with lighting on or off.
    glColorMaterial(GL_FRONT, GL_EMISSION);
    glEnable(GL_COLOR_MATERIAL);
    glColor4fv(colour.data());
    glBegin(GL_LINE_STRIP);
    glVertex3f(h, m, m);
    glVertex3f(h, h, m);
    glVertex3f(h, h, h);
    glVertex3f(h, m, h);
    glVertex3f(h, m, m);
    glVertex3f(m, m, m);
    glVertex3f(m, m, h);
    glVertex3f(m, h, h);
    glVertex3f(m, h, m);
    glVertex3f(h, h, m);
    glEnd();
    glBegin(GL_LINES);
    glVertex3f(h, h, h);
    glVertex3f(m, h, h);
    glVertex3f(m, m, m);
    glVertex3f(m, h, m);
    glVertex3f(h, m, h);
    glVertex3f(m, m, h);
    glEnd();
    glPopAttrib();
}

// --- TGLDummyCube ----------------------------------------------------------------------------

TGLDummyCube::TGLDummyCube(TComponent* owner)
    : TGLCameraInvariantObject(owner),
      FEdgeColor(std::make_unique<TGLColor>(this, VectorMake(1, 1, 1, 1))),
      FGroupList(std::make_unique<TGLListHandle>()) {
    SetObjectStyle({sfDrawDirect});
}

TGLBaseSceneObject* TGLDummyCube::CreateOfSameClass(TComponent* owner) const {
    return new TGLDummyCube(owner);
}

void TGLDummyCube::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TGLDummyCube*>(source)) {
        FCubeSize = other->FCubeSize;
        FEdgeColor->Initialize(other->FEdgeColor->Color());
        FVisibleAtRunTime = other->FVisibleAtRunTime;
        NotifyChange(this);
    }
    TGLCameraInvariantObject::Assign(source);
}

TVector TGLDummyCube::UnscaledHalfExtents() const {
    const float half = std::abs(FCubeSize) * 0.5f;
    return {half, half, half, 0};
}

TVector TGLDummyCube::BarycenterPosition() const {
    if (Count() == 0)
        return TGLCameraInvariantObject::BarycenterPosition();
    TVector sum{};
    for (int i = 0; i < Count(); ++i)
        AddVector(sum, Children(i)->BarycenterPosition());
    return VectorScale(sum, 1.0f / static_cast<float>(Count()));
}

void TGLDummyCube::BuildList(TRenderContextInfo& rci) {
    if (FVisibleAtRunTime || ComponentState().Contains(csDesigning))
        DrawWireCube(rci, true, FEdgeColor->Color(), FCubeSize);
}

void TGLDummyCube::DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) {
    if (OnVisibilityDetermination && !OnVisibilityDetermination(this, rci))
        return;
    if (!FAmalgamate || rci.SkipDisplayLists) {
        TGLCameraInvariantObject::DoRender(rci, renderSelf, renderChildren);
        return;
    }
    if (FGroupList->Handle() == 0)
        CompileGroup(rci, renderSelf, renderChildren);
    glCallList(FGroupList->Handle());
}

// The subtree draws straight into the group list, none of its objects calling a list of its
// own. A failed compilation leaves no list behind, so the next frame compiles again.
void TGLDummyCube::CompileGroup(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) {
    FGroupList->AllocateHandle();
    if (FGroupList->Handle() == 0)
        throw EAssertionFailed(std::string("Handle=0 for ") + ClassName());
    TOnFailure discard([this] { FGroupList->DestroyHandle(); });
    TGLListCompilation compilation(FGroupList->Handle());
    TFlagScope skipLists(rci.SkipDisplayLists);
    TGLCameraInvariantObject::DoRender(rci, renderSelf, renderChildren);
}

void TGLDummyCube::StructureChanged() {
    if (FAmalgamate)
        FGroupList->DestroyHandle();
    TGLCameraInvariantObject::StructureChanged();
}

// The group list holds the subtree's drawing. A child compiled into it may not announce a
// change of its own (it never compiles a list, so its structure bit stays set): the discarded
// list asks for the frame.
void TGLDummyCube::ChildStructureChanged() {
    if (FAmalgamate && FGroupList->Handle() != 0) {
        FGroupList->DestroyHandle();
        NotifyChange(this);
    }
    TGLCameraInvariantObject::ChildStructureChanged();
}

void TGLDummyCube::DestroyListHandle() {
    TGLCameraInvariantObject::DestroyListHandle();
    FGroupList->DestroyHandle();
}

void TGLDummyCube::SetCubeSize(float value) {
    if (StoreIfChanged(FCubeSize, value))
        StructureChanged();
}

void TGLDummyCube::SetEdgeColor(const TGLColor& value) {
    if (&value != FEdgeColor.get())
        FEdgeColor->Initialize(value.Color());
    StructureChanged();
}

void TGLDummyCube::SetVisibleAtRunTime(bool value) {
    if (StoreIfChanged(FVisibleAtRunTime, value))
        StructureChanged();
}

void TGLDummyCube::SetAmalgamate(bool value) {
    if (!StoreIfChanged(FAmalgamate, value))
        return;
    TObjectStyle style = ObjectStyle();
    if (value) {
        style.Include(sfChangesColorsOrWinding);
    } else {
        FGroupList->DestroyHandle();
        style.Exclude(sfChangesColorsOrWinding);
    }
    SetObjectStyle(style);
    StructureChanged();
}

// --- TGLPlane --------------------------------------------------------------------------------

TGLPlane::TGLPlane(TComponent* owner) : TGLSceneObject(owner) {
    SetObjectStyle({sfDrawDirect});
}

TGLBaseSceneObject* TGLPlane::CreateOfSameClass(TComponent* owner) const {
    return new TGLPlane(owner);
}

void TGLPlane::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TGLPlane*>(source)) {
        FWidth = other->FWidth;
        FHeight = other->FHeight;
    }
    TGLSceneObject::Assign(source);
}

TVector TGLPlane::UnscaledHalfExtents() const {
    return {std::abs(FWidth) * 0.5f, std::abs(FHeight) * 0.5f, 0, 0};
}

bool TGLPlane::RayIntersect(const TVector& rayStart, const TVector& rayVector,
                            TVector* intersectPoint, TVector* intersectNormal) const {
    const TVector start = AbsoluteToLocal(rayStart);
    const TVector along = AbsoluteToLocal(rayVector);
    const bool fromFront = start[2] >= 0;
    if (fromFront ? !(along[2] < 0) : !(along[2] > 0))
        return false;
    const float k = start[2] / along[2];
    const float x = start[0] - k * along[0];
    const float y = start[1] - k * along[1];
    if (!(std::abs(x) <= 0.5f * std::abs(FWidth) && std::abs(y) <= 0.5f * std::abs(FHeight)))
        return false;
    if (intersectNormal) {
        *intersectNormal = AbsoluteDirection();
        if (!fromFront)
            NegateVector(*intersectNormal);
    }
    if (intersectPoint)
        *intersectPoint = LocalToAbsolute({x, y, 0, 1});
    return true;
}

TGLPlane::TTexBounds TGLPlane::TextureBounds() const {
    if (!FStyle.Contains(psTileTexture))
        return {0, FXScope, 0, FYScope};
    return {FXOffset, static_cast<float>(FXTiles) * FXScope + FXOffset, FYOffset,
            static_cast<float>(FYTiles) * FYScope + FYOffset};
}

void TGLPlane::BuildList(TRenderContextInfo&) {
    glNormal3fv(ZVector.data());
    const TTexBounds bounds = TextureBounds();
    if (FNoZWrite)
        glDepthMask(GL_FALSE);
    if (FStyle.Contains(psSingleQuad))
        DrawQuad(bounds);
    else
        DrawGrid(bounds);
    if (FNoZWrite)
        glDepthMask(GL_TRUE);
}

// Counter-clockwise seen from +Z.
void TGLPlane::DrawQuad(const TTexBounds& bounds) const {
    const float hw = FWidth * 0.5f;
    const float hh = FHeight * 0.5f;
    glBegin(GL_QUADS);
    xgl.TexCoord2f(bounds.S1, bounds.T1);
    glVertex2f(hw, hh);
    xgl.TexCoord2f(bounds.S0, bounds.T1);
    glVertex2f(-hw, hh);
    xgl.TexCoord2f(bounds.S0, bounds.T0);
    glVertex2f(-hw, -hh);
    xgl.TexCoord2f(bounds.S1, bounds.T0);
    glVertex2f(hw, -hh);
    glEnd();
}

// One triangle strip per row, bottom to top, each column edge giving an upper and a lower
// vertex. A grid without rows or columns has no cells to draw.
void TGLPlane::DrawGrid(const TTexBounds& bounds) const {
    if (FXTiles == 0 || FYTiles == 0)
        return;
    const float hw = FWidth * 0.5f;
    const float hh = FHeight * 0.5f;
    const float columns = static_cast<float>(FXTiles);
    const float rows = static_cast<float>(FYTiles);
    const float ds = (bounds.S1 - bounds.S0) / columns;
    const float dt = (bounds.T1 - bounds.T0) / rows;
    const float dx = FWidth / columns;
    const float dy = FHeight / rows;
    float lowerY = -hh;
    float lowerT = bounds.T0;
    for (uint32_t row = 0; row < FYTiles; ++row) {
        const float upperY = static_cast<float>(row + 1) * dy - hh;
        const float upperT = bounds.T0 + static_cast<float>(row + 1) * dt;
        glBegin(GL_TRIANGLE_STRIP);
        for (uint32_t column = 0; column <= FXTiles; ++column) {
            const float s = bounds.S0 + static_cast<float>(column) * ds;
            const float x = static_cast<float>(column) * dx - hw;
            xgl.TexCoord2f(s, upperT);
            glVertex2f(x, upperY);
            xgl.TexCoord2f(s, lowerT);
            glVertex2f(x, lowerY);
        }
        glEnd();
        lowerY = upperY;
        lowerT = upperT;
    }
}

void TGLPlane::SetDimension(float& field, float value) {
    if (StoreIfChanged(field, value))
        StructureChanged();
}

void TGLPlane::SetScope(float& field, float value) {
    if (field == value)
        return;
    field = value > 1 ? 1.0f : value;
    StructureChanged();
}

void TGLPlane::SetTiles(uint32_t& field, uint32_t value) {
    if (StoreIfChanged(field, value))
        StructureChanged();
}

void TGLPlane::SetWidth(float value) {
    SetDimension(FWidth, value);
}

void TGLPlane::SetHeight(float value) {
    SetDimension(FHeight, value);
}

void TGLPlane::SetXOffset(float value) {
    SetDimension(FXOffset, value);
}

void TGLPlane::SetYOffset(float value) {
    SetDimension(FYOffset, value);
}

void TGLPlane::SetXScope(float value) {
    SetScope(FXScope, value);
}

void TGLPlane::SetYScope(float value) {
    SetScope(FYScope, value);
}

void TGLPlane::SetXTiles(uint32_t value) {
    SetTiles(FXTiles, value);
}

void TGLPlane::SetYTiles(uint32_t value) {
    SetTiles(FYTiles, value);
}

void TGLPlane::SetStyle(TPlaneStyles value) {
    if (StoreIfChanged(FStyle, value))
        StructureChanged();
}
