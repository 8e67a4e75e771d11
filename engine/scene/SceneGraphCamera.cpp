// TGLCamera: projection, view and the two navigation moves of the viewer.
//
// The projection keeps the larger side of the viewport at -0.5 .. 0.5 (times bias / scale) on
// the near plane; the focal length and the resolution set the field of view through the near
// distance alone.
#include "engine/scene/SceneGraph.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double cMillimetresPerInch = 25.4;
// Keeps the depth of points far away just inside the clip volume of the infinite frustum.
constexpr float cInfiniteEpsilon = 0.0001f;

double HalfDiagonal(int32_t width, int32_t height) {
    return std::sqrt(static_cast<double>(width) * width + static_cast<double>(height) * height) / 2;
}

} // namespace

TGLCamera::TGLCamera(TComponent* owner) : TGLBaseSceneObject(owner) {
    Direction().SetWithoutNotify({0, 0, -1, 0});
}

TGLCamera::~TGLCamera() {
    SetTargetObject(nullptr);
}

TGLBaseSceneObject* TGLCamera::CreateOfSameClass(TComponent* owner) const {
    return new TGLCamera(owner);
}

void TGLCamera::DoRender(TRenderContextInfo& rci, bool, bool renderChildren) {
    if (renderChildren && Count() > 0)
        RenderChildren(0, Count() - 1, rci);
}

void TGLCamera::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component == FTargetObject)
        SetTargetObject(nullptr);
    TGLBaseSceneObject::Notification(component, operation);
}

// --- Properties ------------------------------------------------------------------------------

// An infinite or undefined focal length (a field of view of 0 gives one) would put the near
// plane at infinity, which OpenGL rejects in every frame: such values are treated as invalid.
void TGLCamera::SetFocalLength(float value) {
    if (!(value > 0) || !std::isfinite(value))
        value = 1;
    if (StoreIfChanged(FFocalLength, value) && !Loading())
        TransformationChanged();
}

void TGLCamera::SetDepthOfView(float value) {
    if (StoreIfChanged(FDepthOfView, value) && !Loading())
        TransformationChanged();
}

void TGLCamera::SetNearPlaneBias(float value) {
    if (value <= 0)
        value = 1;
    if (StoreIfChanged(FNearPlaneBias, value))
        NotifyChange(this);
}

void TGLCamera::SetSceneScale(float value) {
    if (value == 0)
        value = 1;
    if (StoreIfChanged(FSceneScale, value))
        NotifyChange(this);
}

void TGLCamera::SetCameraStyle(TGLCameraStyle value) {
    if (StoreIfChanged(FCameraStyle, value))
        NotifyChange(this);
}

void TGLCamera::SetTargetObject(TGLBaseSceneObject* value) {
    if (value == FTargetObject)
        return;
    if (FTargetObject)
        RemoveFreeNotification(FTargetObject);
    FTargetObject = value;
    if (FTargetObject)
        FreeNotification(FTargetObject);
    if (!Loading())
        TransformationChanged();
}

// --- Projection ------------------------------------------------------------------------------

void TGLCamera::ApplyPerspective(const TRectangle& viewport, int32_t width, int32_t height,
                                 int32_t dpi) {
    if (width < 1 || height < 1)
        return;
    switch (FCameraStyle) {
    case csOrtho2D:
        ApplyOrtho2D(width, height);
        break;
    case csCustom:
        ApplyCustom(viewport, width, height, dpi);
        break;
    case csPerspective:
    case csOrthogonal:
    case csInfinitePerspective:
        ApplyFrustum(viewport, width, height, dpi);
        break;
    default:
        Assert(false, "Unknown camera style");
    }
}

void TGLCamera::ApplyOrtho2D(int32_t width, int32_t height) {
    gluOrtho2D(0, width, 0, height);
    FNearPlane = -1;
    FViewPortRadius = static_cast<float>(HalfDiagonal(width, height));
}

void TGLCamera::ApplyCustom(const TRectangle& viewport, int32_t width, int32_t height,
                            int32_t dpi) {
    FViewPortRadius = static_cast<float>(HalfDiagonal(width, height));
    if (OnCustomPerspective)
        OnCustomPerspective(viewport, width, height, dpi, FViewPortRadius);
}

void TGLCamera::ApplyFrustum(const TRectangle& viewport, int32_t width, int32_t height,
                             int32_t dpi) {
    const TExtents extents = FrustumExtents(viewport, width, height);
    const double larger = std::max(width, height);
    FNearPlane = static_cast<float>(static_cast<double>(FFocalLength) * 2 * dpi /
                                    (cMillimetresPerInch * larger) * FNearPlaneBias);
    const double nearPlane = FNearPlane;
    const double farPlane = nearPlane + FDepthOfView;
    if (FCameraStyle == csPerspective)
        glFrustum(extents.Left, extents.Right, extents.Bottom, extents.Top, nearPlane, farPlane);
    else if (FCameraStyle == csOrthogonal)
        glOrtho(extents.Left, extents.Right, extents.Bottom, extents.Top, nearPlane, farPlane);
    else
        ApplyInfinitePerspective(extents);
    FViewPortRadius = static_cast<float>(
        std::sqrt(extents.Right * extents.Right + extents.Top * extents.Top) / nearPlane);
}

// The extents on the near plane of a viewport that may be a part of the width x height area.
TGLCamera::TExtents TGLCamera::FrustumExtents(const TRectangle& viewport, int32_t width,
                                              int32_t height) const {
    const double w = width, h = height;
    const double twiceLarger = 2 * std::max(w, h);
    const double bias = FNearPlaneBias, scale = FSceneScale;
    // Without perspective the near distance cannot set the field of view: the focal length
    // scales the extents instead.
    const bool orthogonal = FCameraStyle == csOrthogonal;
    const double kx = orthogonal ? 100 * bias / (w * FFocalLength * scale) : bias / (w * scale);
    const double ky = orthogonal ? 100 * bias / (h * FFocalLength * scale) : bias / (h * scale);
    const double left = viewport.Left, top = viewport.Top;
    const double vw = viewport.Width, vh = viewport.Height;
    TExtents extents;
    extents.Right = w * ((2 * vw + 2 * left - w) * kx) / twiceLarger;
    extents.Left = -((w - 2 * left) * kx) * w / twiceLarger;
    extents.Top = h * ((2 * vh + 2 * top - h) * ky) / twiceLarger;
    extents.Bottom = -((h - 2 * top) * ky) * h / twiceLarger;
    return extents;
}

// The frustum with its far plane at infinity: the depth of view plays no part.
void TGLCamera::ApplyInfinitePerspective(const TExtents& extents) const {
    const double n = FNearPlane, epsilon = cInfiniteEpsilon;
    const double width = extents.Right - extents.Left, height = extents.Top - extents.Bottom;
    TMatrix matrix = IdentityHmgMatrix;
    matrix[0][0] = static_cast<float>(2 * n / width);
    matrix[1][1] = static_cast<float>(2 * n / height);
    matrix[2][0] = static_cast<float>((extents.Right + extents.Left) / width);
    matrix[2][1] = static_cast<float>((extents.Top + extents.Bottom) / height);
    matrix[2][2] = static_cast<float>(epsilon - 1);
    matrix[2][3] = -1;
    matrix[3][2] = static_cast<float>((epsilon - 2) * n);
    matrix[3][3] = 0;
    glMultMatrixf(matrix[0].data());
}

// --- View ------------------------------------------------------------------------------------

void TGLCamera::ApplyView() {
    if (FTargetObject)
        LookAtTarget();
    else
        LookAlongDirection();
    ClearStructureChanged();
}

// The target is aimed at every frame, so a moved target moves the view by itself. Up is taken
// as stored: gluLookAt makes it perpendicular to the line of sight.
void TGLCamera::LookAtTarget() {
    const TVector eye = AbsolutePosition();
    const TVector centre = FTargetObject->AbsolutePosition();
    FLastDirection = Normalized(VectorSubtract(centre, eye));
    const TVector& up = Up().AsVector();
    gluLookAt(eye[0], eye[1], eye[2], centre[0], centre[1], centre[2], up[0], up[1], up[2]);
}

// Direction and Up are in the parent's frame: its matrix turns them (w = 0 leaves out its
// translation).
void TGLCamera::LookAlongDirection() {
    const TMatrix& parent = Parent() ? Parent()->AbsoluteMatrix() : IdentityHmgMatrix;
    const TVector direction = TransformVector(Direction().AsVector(), parent);
    const TVector up = TransformVector(Up().AsVector(), parent);
    const TVector eye = AbsolutePosition();
    FLastDirection = direction;
    gluLookAt(eye[0], eye[1], eye[2], static_cast<double>(eye[0]) + direction[0],
              static_cast<double>(eye[1]) + direction[1],
              static_cast<double>(eye[2]) + direction[2], up[0], up[1], up[2]);
}

// --- Navigation ------------------------------------------------------------------------------

void TGLCamera::AdjustDistanceToTarget(float ratio) {
    if (!FTargetObject)
        return;
    const TVector eye = AbsolutePosition();
    const TVector fromTarget = VectorSubtract(eye, FTargetObject->AbsolutePosition());
    TVector moved = VectorAdd(eye, VectorScale(fromTarget, -(1 - ratio)));
    if (Parent())
        moved = Parent()->AbsoluteToLocal(moved);
    Position().SetAsVector(moved);
}

void TGLCamera::MoveAroundTarget(float pitchDelta, float turnDelta) {
    MoveObjectAround(FTargetObject, pitchDelta, turnDelta);
}

float TGLCamera::FieldOfViewAcross(float dimension) const {
    if (FFocalLength == 0)
        return 0;
    return static_cast<float>(2 * RadiansToDegrees(std::atan2(static_cast<double>(dimension) * 0.5,
                                                              static_cast<double>(FFocalLength))));
}

void TGLCamera::SetFieldOfViewAcross(float fieldOfView, float dimension) {
    const double halfAngle = DegreesToRadians(static_cast<double>(fieldOfView) / 2);
    SetFocalLength(static_cast<float>(dimension / (2 * std::tan(halfAngle))));
}
