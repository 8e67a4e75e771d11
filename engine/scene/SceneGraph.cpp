#include "engine/scene/SceneGraph.h"

#include "engine/scene/SceneGraphBuffer.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>
#include <utility>

namespace {

// Below this length a cross product of the axes counts as zero.
constexpr float cParallelAxes = 0.00001f;
// The polar angle an orbit keeps from its up axis, in radians.
constexpr double cMinPolarAngle = 0.025;
constexpr double cMaxPolarAngle = 3.1165926;

const GLfloat* Elements(const TMatrix& matrix) {
    return matrix[0].data();
}

// The pick name of an object: the low 32 bits of its address.
GLuint PickName(const TGLBaseSceneObject* object) {
    return static_cast<GLuint>(reinterpret_cast<uintptr_t>(object));
}

void ExtendBox(TAffineVector& min, TAffineVector& max, const TAffineVector& point) {
    for (size_t i = 0; i < 3; ++i) {
        min[i] = std::min(min[i], point[i]);
        max[i] = std::max(max[i], point[i]);
    }
}

// The axis-aligned box around the eight corners of (min, max) transformed by `matrix`.
void TransformBox(TAffineVector& min, TAffineVector& max, const TMatrix& matrix) {
    const TAffineVector low = min, high = max;
    bool first = true;
    for (int corner = 0; corner < 8; ++corner) {
        const TAffineVector point =
            TransformAffine({corner & 1 ? high[0] : low[0], corner & 2 ? high[1] : low[1],
                             corner & 4 ? high[2] : low[2]},
                            matrix);
        if (first) {
            min = max = point;
            first = false;
        } else {
            ExtendBox(min, max, point);
        }
    }
}

} // namespace

// --- Construction and destruction ------------------------------------------------------------

TGLBaseSceneObject::TGLBaseSceneObject(TComponent* owner)
    : TGLCoordinatesUpdateAbleComponent(owner),
      FPosition(std::make_unique<TGLCoordinates>(this, NullHmgPoint, ckPoint)),
      FDirection(std::make_unique<TGLCoordinates>(this, ZHmgVector, ckDirection)),
      FUp(std::make_unique<TGLCoordinates>(this, YHmgVector, ckDirection)),
      FScale(std::make_unique<TGLCoordinates>(this, XYZHmgVector, ckDirection)),
      FRotation(std::make_unique<TGLCoordinates>(this, NullHmgVector, ckDirection)) {}

TGLBaseSceneObject::~TGLBaseSceneObject() {
    SetComponentStateFlag(csDestroying, true);
    FreeDescendantCameras();
    if (FScene)
        FScene->ForgetObject(this);
    FListHandle.reset();
    if (FParent)
        FParent->RemoveChild(this, false);
    DeleteChildren();
}

TGLBaseSceneObject* TGLBaseSceneObject::CreateOfSameClass(TComponent* owner) const {
    return new TGLBaseSceneObject(owner);
}

void TGLBaseSceneObject::Loaded() {
    TGLCoordinatesUpdateAbleComponent::Loaded();
    FPosition->SetW(1);
}

void TGLBaseSceneObject::SetParentComponent(TComponent* parent) {
    if (FParent)
        FParent->RemoveChild(this, false);
    if (auto* scene = dynamic_cast<TGLScene*>(parent)) {
        TGLSceneRootObject* root = IsCamera() ? scene->Cameras() : scene->Objects();
        root->AddChild(this);
    } else if (auto* object = dynamic_cast<TGLBaseSceneObject*>(parent)) {
        object->AddChild(this);
    } else {
        ForgetScene();
    }
}

// --- Copying ---------------------------------------------------------------------------------

void TGLBaseSceneObject::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLBaseSceneObject*>(source);
    if (!other) {
        TGLCoordinatesUpdateAbleComponent::Assign(source);
        return;
    }
    if (other == this)
        return;
    Assert(!IsAncestorOf(other) && !other->IsAncestorOf(this),
           "A scene object cannot be copied from its own branch");
    DestroyListHandles();
    FVisible = other->FVisible;
    SetMatrix(other->LocalMatrix());
    FShowAxes = other->FShowAxes;
    FObjectsSorting = other->FObjectsSorting;
    FVisibilityCulling = other->FVisibilityCulling;
    FRotation->Assign(other->FRotation.get());
    DeleteChildren();
    CopyChildrenFrom(*other);
    OnProgress = other->OnProgress;
    SetTag(other->Tag());
    FTagFloat = other->FTagFloat;
}

void TGLBaseSceneObject::CopyChildrenFrom(const TGLBaseSceneObject& source) {
    // The copies join this object's own scene, which hears about them once.
    TGLScene* scene = FScene;
    if (scene)
        scene->BeginUpdate();
    TFinally endUpdate([scene] {
        if (scene)
            scene->EndUpdate();
    });
    for (TGLBaseSceneObject* child : std::vector<TGLBaseSceneObject*>(source.FChildren)) {
        std::unique_ptr<TGLBaseSceneObject> copy(child->CreateOfSameClass(Owner()));
        const TGLBaseSceneObject& made = *copy;
        Assert(typeid(made) == typeid(*child),
               "A scene object class does not create objects of its own class");
        AddChild(copy.get());
        copy.release()->Assign(child);
    }
}

// --- Notifications ---------------------------------------------------------------------------

void TGLBaseSceneObject::DoProgress(const TProgressTimes& progressTimes) {
    for (int i = Count() - 1; i >= 0; --i)
        FChildren[i]->DoProgress(progressTimes);
    if (OnProgress)
        OnProgress(this, progressTimes.deltaTime, progressTimes.newTime);
}

bool TGLBaseSceneObject::IsUpdating() const {
    return FUpdateCount > 0 || ComponentState().Contains(csReading);
}

void TGLBaseSceneObject::NotifyChange(TObject*) {
    if (FScene && !IsUpdating())
        FScene->NotifyChange(this);
}

void TGLBaseSceneObject::TransformationChanged() {
    // Until the matrix is rebuilt, further changes have nothing new to tell.
    if (FChanges.Contains(chTransformation))
        return;
    FChanges.Include(chTransformation);
    MarkAbsoluteStale();
    if (!ComponentState().Contains(csLoading))
        NotifyChange(this);
}

void TGLBaseSceneObject::MarkAbsoluteStale() {
    FChanges.Include(chAbsoluteMatrix).Include(chInverseMatrix);
    for (TGLBaseSceneObject* child : FChildren)
        if (!child->FChanges.Contains(chAbsoluteMatrix) ||
            !child->FChanges.Contains(chInverseMatrix))
            child->MarkAbsoluteStale();
}

void TGLBaseSceneObject::StructureChanged() {
    if (!FChanges.Contains(chStructure)) {
        FChanges.Include(chStructure);
        NotifyChange(this);
    } else if (FObjectStyle.Contains(sfDrawDirect)) {
        NotifyChange(this);
    }
    if (FParent)
        FParent->ChildStructureChanged();
}

void TGLBaseSceneObject::ChildStructureChanged() {
    if (FParent)
        FParent->ChildStructureChanged();
}

void TGLBaseSceneObject::UnlockUpdates() {
    Assert(FUpdateCount >= 1, "Unbalanced Begin/EndUpdate");
    if (--FUpdateCount == 0)
        NotifyChange(this);
}

void TGLBaseSceneObject::CoordinateChanged(TGLCoordinates* sender) {
    if (FIsCalculating)
        return;
    TFlagScope calculating(FIsCalculating);
    if (sender == FDirection.get())
        DirectionChanged();
    else if (sender == FUp.get())
        UpChanged();
    TransformationChanged();
}

TVector TGLBaseSceneObject::OrthogonalAxis() const {
    TVector right = CrossProduct(FDirection->AsVector(), FUp->AsVector());
    if (LengthOf(right) < cParallelAxes) {
        right = CrossProduct(ZHmgVector, FUp->AsVector());
        if (LengthOf(right) < cParallelAxes)
            right = CrossProduct(XHmgVector, FUp->AsVector());
    }
    return right;
}

// Direction is kept; Up is made perpendicular to it.
void TGLBaseSceneObject::DirectionChanged() {
    if (FDirection->VectorLength() == 0)
        FDirection->SetWithoutNotify(ZHmgVector);
    FDirection->Normalize();
    FUp->SetWithoutNotify(CrossProduct(OrthogonalAxis(), FDirection->AsVector()));
    FUp->Normalize();
}

// Up is kept; Direction is made perpendicular to it.
void TGLBaseSceneObject::UpChanged() {
    if (FUp->VectorLength() == 0)
        FUp->SetWithoutNotify(YHmgVector);
    FUp->Normalize();
    FDirection->SetWithoutNotify(CrossProduct(FUp->AsVector(), OrthogonalAxis()));
    FDirection->Normalize();
}

// --- Transform -------------------------------------------------------------------------------

void TGLBaseSceneObject::SetPosition(const TGLCoordinates& value) {
    FPosition->SetPoint(value.X(), value.Y(), value.Z());
}

void TGLBaseSceneObject::SetDirection(const TGLCoordinates& value) {
    if (!IsZeroDirection(value.AsVector()))
        FDirection->SetVector(value.X(), value.Y(), value.Z());
}

void TGLBaseSceneObject::SetUp(const TGLCoordinates& value) {
    if (!IsZeroDirection(value.AsVector()))
        FUp->SetVector(value.X(), value.Y(), value.Z());
}

void TGLBaseSceneObject::SetScale(const TGLCoordinates& value) {
    FScale->Assign(&value);
    TransformationChanged();
}

void TGLBaseSceneObject::SetAngle(int axis, float value) {
    const float stored = FRotation->AsVector()[axis];
    if (value == stored)
        return;
    // While loading, the stored Direction and Up already hold the orientation.
    if (!ComponentState().Contains(csLoading)) {
        TFlagScope calculating(FIsCalculating);
        const TVector& rotationAxis =
            axis == 0 ? LeftVector() : (axis == 1 ? FUp->AsVector() : FDirection->AsVector());
        // v · R turns by minus the angle: the net turn is (value - stored) degrees.
        const TMatrix rotation =
            RotationMatrixAboutAxis(rotationAxis, DegreesToRadians(stored - value));
        FUp->SetWithoutNotify(TransformVector(FUp->AsVector(), rotation));
        FDirection->SetWithoutNotify(TransformVector(FDirection->AsVector(), rotation));
        FUp->Normalize();
        FDirection->Normalize();
        TransformationChanged();
    }
    TVector angles = FRotation->AsVector();
    angles[axis] = WrapDegrees(value);
    FRotation->SetWithoutNotify(angles);
}

void TGLBaseSceneObject::RebuildMatrix() const {
    const TVector& scale = FScale->AsVector();
    FLocalMatrix[0] = VectorScale(RightVector(), scale[0]);
    FLocalMatrix[1] = VectorScale(FUp->AsVector(), scale[1]);
    FLocalMatrix[2] = VectorScale(FDirection->AsVector(), scale[2]);
    FLocalMatrix[3] = FPosition->AsVector();
    FChanges.Exclude(chTransformation).Include(chAbsoluteMatrix).Include(chInverseMatrix);
}

const TMatrix& TGLBaseSceneObject::LocalMatrix() const {
    if (FChanges.Contains(chTransformation))
        RebuildMatrix();
    return FLocalMatrix;
}

std::array<TMatrix, 2>& TGLBaseSceneObject::AbsoluteMatrices() const {
    if (!FAbsoluteMatrices)
        FAbsoluteMatrices = std::make_unique<std::array<TMatrix, 2>>();
    return *FAbsoluteMatrices;
}

const TMatrix& TGLBaseSceneObject::AbsoluteMatrix() const {
    TMatrix& absolute = AbsoluteMatrices()[0];
    if (!FChanges.Contains(chAbsoluteMatrix))
        return absolute;
    const TMatrix& local = LocalMatrix();
    if (!FParent || dynamic_cast<const TGLSceneRootObject*>(FParent))
        absolute = local;
    else
        absolute = MultiplyMatrices(local, FParent->AbsoluteMatrix());
    FChanges.Exclude(chAbsoluteMatrix).Include(chInverseMatrix);
    return absolute;
}

const TMatrix& TGLBaseSceneObject::InvAbsoluteMatrix() const {
    TMatrix& inverse = AbsoluteMatrices()[1];
    if (!FChanges.Contains(chInverseMatrix))
        return inverse;
    if (SameBits(FScale->AsVector(), XYZHmgVector)) {
        const TMatrix localInverse = InvertRigidMatrix(LocalMatrix());
        inverse =
            FParent ? MultiplyMatrices(FParent->InvAbsoluteMatrix(), localInverse) : localInverse;
    } else {
        inverse = AbsoluteMatrix();
        InvertGeneralMatrix(inverse);
    }
    FChanges.Exclude(chInverseMatrix);
    return inverse;
}

bool TGLBaseSceneObject::RayIntersect(const TVector& rayStart, const TVector& rayVector,
                                      TVector* intersectPoint, TVector* intersectNormal) const {
    if (IsZeroDirection(rayVector))
        return false;
    const TAffineVector along = Normalized(AffineVectorMake(rayVector));
    const TAffineVector start = AffineVectorMake(rayStart);
    const TAffineVector centre = AffineVectorMake(AbsolutePosition());
    const TAffineVector toCentre = VectorSubtract(centre, start);
    const float radius = BoundingSphereRadius();
    const float projection = DotProduct(toCentre, along);
    const float offAxis = SquaredNorm(toCentre) - projection * projection;
    if (offAxis > radius * radius)
        return false;
    const float halfChord = std::sqrt(std::max(radius * radius - offAxis, 0.0f));
    // The entry point, or the exit point when the ray starts inside.
    float distance = projection - halfChord;
    if (distance < 0)
        distance = projection + halfChord;
    if (distance < 0)
        return false;
    const TAffineVector point = VectorCombine(start, along, distance);
    if (intersectPoint)
        *intersectPoint = PointMake(point);
    if (intersectNormal)
        *intersectNormal = VectorMake(Normalized(VectorSubtract(point, centre)), 0);
    return true;
}

TVector TGLBaseSceneObject::AxisAlignedDimensions() const {
    return VectorMultiply(UnscaledHalfExtents(), FScale->AsVector());
}

void TGLBaseSceneObject::SetMatrix(const TMatrix& matrix) {
    FLocalMatrix = matrix;
    FDirection->SetWithoutNotify(Normalized(matrix[2]));
    FUp->SetWithoutNotify(Normalized(matrix[1]));
    FScale->SetVector(LengthOf(matrix[0]), LengthOf(matrix[1]), LengthOf(matrix[2]));
    FPosition->SetWithoutNotify(matrix[3]);
    TransformationChanged();
}

void TGLBaseSceneObject::MoveObjectAround(const TGLBaseSceneObject* target, float pitchDelta,
                                          float turnDelta) {
    if (!target)
        return;
    const TVector position = AbsolutePosition();
    const TVector offset = VectorSubtract(position, target->AbsolutePosition());
    const float distance = LengthOf(offset);
    const TVector direction = Normalized(offset);
    const TVector up = AbsoluteUp();
    TVector right = CrossProduct(up, direction);
    if (LengthOf(right) < 0.001f)
        right = XHmgVector;
    else
        NormalizeInPlace(right);
    // Rounding can take the cosine of two unit vectors just past ±1.
    const double cosine =
        ClampToRange(DotProduct(AffineVectorMake(up), AffineVectorMake(direction)), -1, 1);
    const double polarAngle =
        ClampToRange(ArcCosine(cosine) + DegreesToRadians(static_cast<double>(pitchDelta)),
                     cMinPolarAngle, cMaxPolarAngle);
    TVector moved = up;
    RotateAboutAxis(moved, right, -polarAngle);
    RotateAboutAxis(moved, up, -DegreesToRadians(static_cast<double>(turnDelta)));
    ScaleVector(moved, distance);
    TVector newPosition = VectorAdd(position, VectorSubtract(moved, offset));
    if (FParent)
        newPosition = FParent->AbsoluteToLocal(newPosition);
    FPosition->SetAsVector(newPosition);
}

// --- Tree ------------------------------------------------------------------------------------

int TGLBaseSceneObject::IndexOfChild(const TGLBaseSceneObject* child) const {
    const auto found = std::find(FChildren.begin(), FChildren.end(), child);
    return found == FChildren.end() ? -1 : static_cast<int>(found - FChildren.begin());
}

bool TGLBaseSceneObject::IsAncestorOf(const TGLBaseSceneObject* object) const {
    for (const TGLBaseSceneObject* node = object ? object->FParent : nullptr; node;
         node = node->FParent)
        if (node == this)
            return true;
    return false;
}

bool TGLBaseSceneObject::IsCamera() const {
    return dynamic_cast<const TGLCamera*>(this) != nullptr;
}

void TGLBaseSceneObject::AddChild(TGLBaseSceneObject* child) {
    Assert(child && child != this && !child->IsAncestorOf(this),
           "A scene object cannot become a child of its own branch");
    // An object is in one list at a time: it leaves its old parent, staying in its scene.
    if (child->FParent)
        child->FParent->Detach(child, false, false);
    if (FScene)
        FScene->AddLights(child);
    FChildren.push_back(child);
    child->FParent = this;
    child->SetScene(FScene);
    TransformationChanged();
    child->TransformationChanged();
}

void TGLBaseSceneObject::InsertChild(int index, TGLBaseSceneObject* child) {
    Assert(child && child != this && !child->IsAncestorOf(this),
           "A scene object cannot become a child of its own branch");
    if (child->FParent)
        child->FParent->Detach(child, false, false);
    index = std::clamp(index, 0, Count());
    FChildren.insert(FChildren.begin() + index, child);
    child->FParent = this;
    child->SetScene(FScene);
    if (FScene)
        FScene->AddLights(child);
    child->TransformationChanged();
}

void TGLBaseSceneObject::RemoveChild(TGLBaseSceneObject* child, bool keepChildren) {
    Detach(child, keepChildren, true);
}

void TGLBaseSceneObject::Detach(TGLBaseSceneObject* child, bool keepChildren, bool leavesScene) {
    if (IndexOfChild(child) < 0)
        return;
    if (FScene)
        FScene->RemoveLights(child);
    if (child->Owner() == this)
        RemoveComponent(child);
    DetachChild(child);
    if (keepChildren) {
        LockUpdates();
        while (child->Count() > 0) {
            TGLBaseSceneObject* grandChild = child->FChildren.front();
            child->DetachChild(grandChild);
            AddChild(grandChild);
        }
        UnlockUpdates();
    } else {
        NotifyChange(this);
    }
    // A detached object no longer belongs to the scene: it must not reach it after the scene
    // is gone.
    if (leavesScene)
        child->ForgetScene();
}

void TGLBaseSceneObject::DetachChild(TGLBaseSceneObject* child) {
    FChildren.erase(std::find(FChildren.begin(), FChildren.end(), child));
    child->FParent = nullptr;
}

void TGLBaseSceneObject::DeleteChildren() {
    FreeDescendantCameras();
    if (FScene)
        for (TGLBaseSceneObject* child : FChildren)
            FScene->RemoveLights(child);
    while (!FChildren.empty()) {
        TGLBaseSceneObject* child = FChildren.back();
        FChildren.pop_back();
        child->FParent = nullptr;
        delete child;
    }
}

void TGLBaseSceneObject::CollectCameras(std::vector<TGLBaseSceneObject*>& cameras) const {
    for (TGLBaseSceneObject* child : FChildren) {
        if (child->IsCamera())
            cameras.push_back(child);
        child->CollectCameras(cameras);
    }
}

// Cameras go first, their children staying in the tree, so that nothing is left looking
// through a camera that is half destroyed.
void TGLBaseSceneObject::FreeDescendantCameras() {
    std::vector<TGLBaseSceneObject*> cameras;
    CollectCameras(cameras);
    for (TGLBaseSceneObject* camera : cameras) {
        camera->FParent->RemoveChild(camera, true);
        delete camera;
    }
}

void TGLBaseSceneObject::SetScene(TGLScene* scene) {
    if (scene == FScene)
        return;
    DestroyListHandle();
    FScene = scene;
    for (TGLBaseSceneObject* child : FChildren)
        child->SetScene(scene);
}

void TGLBaseSceneObject::ForgetScene() {
    FScene = nullptr;
    for (TGLBaseSceneObject* child : FChildren)
        child->ForgetScene();
}

// --- Properties ------------------------------------------------------------------------------

void TGLBaseSceneObject::SetVisible(bool value) {
    if (StoreIfChanged(FVisible, value))
        NotifyChange(this);
}

void TGLBaseSceneObject::SetShowAxes(bool value) {
    if (StoreIfChanged(FShowAxes, value))
        NotifyChange(this);
}

void TGLBaseSceneObject::SetObjectsSorting(TGLObjectsSorting value) {
    if (StoreIfChanged(FObjectsSorting, value))
        NotifyChange(this);
}

void TGLBaseSceneObject::SetVisibilityCulling(TGLVisibilityCulling value) {
    if (StoreIfChanged(FVisibilityCulling, value))
        NotifyChange(this);
}

// --- Rendering -------------------------------------------------------------------------------

void TGLBaseSceneObject::RenderObject(TRenderContextInfo& rci) {
    bool renderSelf = true;
    bool renderChildren = Count() > 0;
    switch (rci.Culling) {
    case vcInherited:
    case vcNone:
        break;
    case vcObjectBased:
        renderSelf =
            FObjectStyle.Contains(sfNeverCull) ||
            !SphereOutsideFrustum(AbsolutePosition(), BoundingSphereRadius(), rci.ClipFrustum);
        break;
    case vcHierarchical:
        renderSelf = FObjectStyle.Contains(sfNeverCull) || CullingAllowsSelf(rci);
        renderChildren = renderSelf && renderChildren;
        break;
    default:
        Assert(false, "Unknown visibility culling option");
    }
    if (!renderSelf && !renderChildren)
        return;

    glPushMatrix();
    TFinally popMatrix([] { glPopMatrix(); });
    glMultMatrixf(Elements(LocalMatrix()));
    const bool picking = rci.DrawPass == 1;
    const bool namePushed = picking && rci.NamesPushed;
    if (namePushed)
        glPushName(PickName(this));
    else if (picking)
        glLoadName(PickName(this));
    TFinally popName([namePushed] {
        if (namePushed)
            glPopName();
    });
    if (renderSelf) {
        if (FShowAxes)
            DrawAxes(rci);
        RenderRespectingDepthTest(rci, true, renderChildren);
        if (FObjectStyle.Contains(sfChangesColorsOrWinding))
            rci.StateCache->ResetAll();
    } else {
        RenderRespectingDepthTest(rci, false, renderChildren);
    }
}

// sfNoDepthTest objects switch the depth test off around their drawing, and back on only if it
// was on: a buffer without depth test, or a subtree already drawn without it, stays so.
void TGLBaseSceneObject::RenderRespectingDepthTest(TRenderContextInfo& rci, bool renderSelf,
                                                   bool renderChildren) {
    const bool suspend =
        FObjectStyle.Contains(sfNoDepthTest) && rci.StateCache->States().Contains(capDepthTest);
    if (suspend)
        rci.StateCache->Disable(capDepthTest);
    DoRender(rci, renderSelf, renderChildren);
    if (suspend)
        rci.StateCache->Enable(capDepthTest);
}

// The box of the object and its subtree in the object's own frame, taken to world space by the
// absolute matrix so that it can be set against the world-space frustum.
bool TGLBaseSceneObject::CullingAllowsSelf(const TRenderContextInfo& rci) const {
    TBox box = HierarchicalBox();
    TransformBox(box.Min, box.Max, AbsoluteMatrix());
    return !BoxOutsideFrustum(box.Min, box.Max, rci.ClipFrustum);
}

TGLBaseSceneObject::TBox TGLBaseSceneObject::HierarchicalBox() const {
    const TAffineVector extents = AffineVectorMake(UnscaledHalfExtents());
    TBox box{VectorNegate(extents), extents};
    for (const TGLBaseSceneObject* child : FChildren) {
        TBox childBox = child->HierarchicalBox();
        TransformBox(childBox.Min, childBox.Max, child->LocalMatrix());
        ExtendBox(box.Min, box.Max, childBox.Min);
        ExtendBox(box.Min, box.Max, childBox.Max);
    }
    return box;
}

void TGLBaseSceneObject::DrawAxes(const TRenderContextInfo& rci) const {
    const TGLCamera* camera = FScene ? FScene->CurrentCamera() : nullptr;
    if (!camera)
        return; // nothing gives the axes a length
    const float length = camera->DepthOfView();
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_LINE_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_LINE_STIPPLE);
    if (!rci.SkipBlending) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glLineWidth(1);
    glLineStipple(1, 0xCCCC);
    glBegin(GL_LINES);
    for (size_t axis = 0; axis < 3; ++axis) {
        TAffineVector dim{}, bright{}, end{};
        dim[axis] = 0.5f;
        bright[axis] = 1;
        end[axis] = length;
        glColor3fv(dim.data());
        glVertex3f(0, 0, 0);
        glVertex3f(-end[0], -end[1], -end[2]);
        glColor3fv(bright.data());
        glVertex3f(0, 0, 0);
        glVertex3fv(end.data());
    }
    glEnd();
    glPopAttrib();
}

void TGLBaseSceneObject::DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) {
    if (renderSelf)
        DrawSelf(rci);
    if (renderChildren)
        RenderChildren(0, Count() - 1, rci);
}

void TGLBaseSceneObject::DrawSelf(TRenderContextInfo& rci) {
    if (FObjectStyle.Contains(sfDrawDirect) || rci.SkipDisplayLists)
        BuildList(rci);
    else
        glCallList(GetListHandle(rci));
}

void TGLBaseSceneObject::BuildList(TRenderContextInfo&) {}

GLuint TGLBaseSceneObject::GetListHandle(TRenderContextInfo& rci) {
    if (FListHandle && FListHandle->Handle() != 0 && !FChanges.Contains(chStructure))
        return FListHandle->Handle();
    ClearStructureChanged();
    if (!FListHandle)
        FListHandle = std::make_unique<TGLListHandle>();
    if (FListHandle->Handle() == 0) {
        FListHandle->AllocateHandle();
        Assert(FListHandle->Handle() != 0, "Could not allocate a display list");
    }
    const GLuint name = FListHandle->Handle();
    // A failed build leaves a partial list: compile it again next time.
    TOnFailure recompile([this] { FChanges.Include(chStructure); });
    TGLListCompilation compilation(name);
    BuildList(rci);
    return name;
}

void TGLBaseSceneObject::DestroyListHandle() {
    if (FListHandle)
        FListHandle->DestroyHandle();
}

void TGLBaseSceneObject::DestroyListHandles() {
    for (TGLBaseSceneObject* child : FChildren)
        child->DestroyListHandles();
    DestroyListHandle();
}

void TGLBaseSceneObject::RenderChildren(int first, int last, TRenderContextInfo& rci) {
    if (FChildren.empty())
        return;
    first = std::max(first, 0);
    last = std::min(last, Count() - 1);
    const TGLVisibilityCulling culling = rci.Culling;
    TFinally restoreCulling([&rci, culling] { rci.Culling = culling; });
    if (FVisibilityCulling != vcInherited)
        rci.Culling = FVisibilityCulling;
    if (first == last) {
        if (FChildren[first]->Visible())
            FChildren[first]->RenderObject(rci);
    } else if (first < last) {
        RenderSorted(first, last, rci);
    }
}

void TGLBaseSceneObject::RenderSorted(int first, int last, TRenderContextInfo& rci) {
    const TGLObjectsSorting sorting = rci.Sorting;
    TFinally restoreSorting([&rci, sorting] { rci.Sorting = sorting; });
    if (FObjectsSorting != osInherited)
        rci.Sorting = FObjectsSorting;
    std::vector<TGLBaseSceneObject*> visible;
    for (int i = first; i <= last; ++i)
        if (FChildren[i]->Visible())
            visible.push_back(FChildren[i]);
    switch (rci.Sorting) {
    case osNone:
        for (TGLBaseSceneObject* child : visible)
            child->RenderObject(rci);
        break;
    case osRenderFarthestFirst:
        RenderByDistance(visible, true, rci);
        break;
    case osRenderNearestFirst:
        RenderByDistance(visible, false, rci);
        break;
    case osRenderBlendedLast: {
        std::vector<TGLBaseSceneObject*> blended;
        for (TGLBaseSceneObject* child : visible) {
            if (child->Blended())
                blended.push_back(child);
            else
                child->RenderObject(rci);
        }
        RenderByDistance(blended, true, rci);
        break;
    }
    default:
        Assert(false, "Unknown objects sorting option");
    }
}

void TGLBaseSceneObject::RenderByDistance(const std::vector<TGLBaseSceneObject*>& children,
                                          bool farthestFirst, TRenderContextInfo& rci) {
    std::vector<std::pair<float, TGLBaseSceneObject*>> byDistance;
    byDistance.reserve(children.size());
    for (TGLBaseSceneObject* child : children)
        byDistance.emplace_back(DistanceSquared(child->BarycenterPosition(), rci.CameraPosition),
                                child);
    std::stable_sort(byDistance.begin(), byDistance.end(), [farthestFirst](auto& a, auto& b) {
        return farthestFirst ? a.first > b.first : a.first < b.first;
    });
    for (auto& [distance, child] : byDistance)
        child->RenderObject(rci);
}

// --- TGLCustomSceneObject --------------------------------------------------------------------

TGLCustomSceneObject::TGLCustomSceneObject(TComponent* owner)
    : TGLBaseSceneObject(owner), FMaterial(std::make_unique<TGLMaterial>(this)) {}

TGLBaseSceneObject* TGLCustomSceneObject::CreateOfSameClass(TComponent* owner) const {
    return new TGLCustomSceneObject(owner);
}

void TGLCustomSceneObject::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TGLCustomSceneObject*>(source)) {
        FMaterial->Assign(other->FMaterial.get());
        FHint = other->FHint;
    }
    TGLBaseSceneObject::Assign(source);
}

void TGLCustomSceneObject::Loaded() {
    TGLBaseSceneObject::Loaded();
    FMaterial->Loaded();
}

void TGLCustomSceneObject::DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) {
    if (renderSelf) {
        if (Scene())
            Scene()->SetCurrentRenderedObject(this);
        if (rci.SkipMaterials) {
            DrawSelf(rci);
        } else {
            FMaterial->Apply(rci);
            do
                DrawSelf(rci);
            while (FMaterial->UnApply(rci));
        }
    }
    if (renderChildren)
        RenderChildren(0, Count() - 1, rci);
}

void TGLCustomSceneObject::DestroyListHandle() {
    TGLBaseSceneObject::DestroyListHandle();
    FMaterial->ReleaseHandles();
}

void TGLCustomSceneObject::ReplaceMaterial(std::unique_ptr<TGLMaterial> material) {
    FMaterial = std::move(material);
}

TGLBaseSceneObject* TGLSceneObject::CreateOfSameClass(TComponent* owner) const {
    return new TGLSceneObject(owner);
}

void TGLSceneObject::SetMaterial(const TGLMaterial& value) {
    Material().Assign(&value);
    NotifyChange(this);
}

TGLBaseSceneObject* TGLImmaterialSceneObject::CreateOfSameClass(TComponent* owner) const {
    return new TGLImmaterialSceneObject(owner);
}

void TGLImmaterialSceneObject::DoRender(TRenderContextInfo& rci, bool renderSelf,
                                        bool renderChildren) {
    TGLBaseSceneObject::DoRender(rci, renderSelf, renderChildren);
}

// --- TGLCameraInvariantObject ----------------------------------------------------------------

TGLBaseSceneObject* TGLCameraInvariantObject::CreateOfSameClass(TComponent* owner) const {
    return new TGLCameraInvariantObject(owner);
}

void TGLCameraInvariantObject::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TGLCameraInvariantObject*>(source))
        FCamInvarianceMode = other->FCamInvarianceMode;
    TGLImmaterialSceneObject::Assign(source);
}

void TGLCameraInvariantObject::SetCamInvarianceMode(TGLCameraInvarianceMode value) {
    if (StoreIfChanged(FCamInvarianceMode, value))
        NotifyChange(this);
}

void TGLCameraInvariantObject::DoRender(TRenderContextInfo& rci, bool renderSelf,
                                        bool renderChildren) {
    if (FCamInvarianceMode == cimNone) {
        TGLImmaterialSceneObject::DoRender(rci, renderSelf, renderChildren);
        return;
    }
    TMatrix unset = IdentityHmgMatrix;
    TMatrix& modelView = rci.ModelViewMatrix ? *rci.ModelViewMatrix : unset;
    const TMatrix saved = modelView;
    glPushMatrix();
    TFinally restore([&modelView, saved] {
        modelView = saved;
        glPopMatrix();
    });
    if (FCamInvarianceMode == cimPosition) {
        glLoadMatrixf(Elements(modelView));
        glTranslatef(rci.CameraPosition[0], rci.CameraPosition[1], rci.CameraPosition[2]);
    } else {
        glLoadIdentity();
        glScalef(1, -1, -1);
    }
    glMultMatrixf(Elements(LocalMatrix()));
    // The subtree sees the model-view matrix it is drawn with.
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView[0].data());
    TGLImmaterialSceneObject::DoRender(rci, renderSelf, renderChildren);
}

// --- TGLSceneRootObject ---------------------------------------------------------------------

TGLSceneRootObject::TGLSceneRootObject(TComponent* owner) : TGLBaseSceneObject(owner) {
    auto* scene = dynamic_cast<TGLScene*>(owner);
    Assert(scene != nullptr, "A scene root belongs to a scene");
    SetObjectStyle({sfDrawDirect});
    SetScene(scene);
}

TGLBaseSceneObject* TGLSceneRootObject::CreateOfSameClass(TComponent* owner) const {
    return new TGLSceneRootObject(owner);
}

// --- TGLScene --------------------------------------------------------------------------------

TGLScene::TGLScene(TComponent* owner) : TGLUpdateAbleComponent(owner) {
    FObjects = std::make_unique<TGLSceneRootObject>(this);
    FObjects->SetName("ObjectRoot");
    FCameras = std::make_unique<TGLSceneRootObject>(this);
    FCameras->SetName("CameraRoot");
}

TGLScene::~TGLScene() {
    SetComponentStateFlag(csDestroying, true);
    try {
        FObjects->DestroyListHandles();
        FCameras->DestroyListHandles();
    } catch (const Exception&) {
        // The objects go either way; a destructor has nobody to tell.
    }
    // The trees go before the members they report to (lights, buffers, the current objects) and
    // while the scene is still a TGLScene: its removal notices are silent while it is destroyed.
    FCameras.reset();
    FObjects.reset();
}

void TGLScene::Loaded() {
    TGLUpdateAbleComponent::Loaded();
    for (TGLSceneRootObject* root : {FObjects.get(), FCameras.get()})
        if (root->ComponentState().Contains(csLoading))
            root->Loaded();
}

void TGLScene::NotifyChange(TObject*) {
    const TComponentState state = ComponentState();
    if (FUpdateCount > 0 || state.Contains(csLoading) || state.Contains(csDestroying) ||
        FBuffers.empty())
        return;
    for (TGLSceneBuffer* buffer : std::vector<TGLSceneBuffer*>(FBuffers))
        buffer->NotifyChange(this);
}

void TGLScene::EndUpdate() {
    Assert(FUpdateCount > 0, "Unbalanced Begin/EndUpdate");
    if (--FUpdateCount == 0)
        NotifyChange(this);
}

void TGLScene::SetObjectsSorting(TGLObjectsSorting value) {
    if (value == osInherited)
        value = osRenderBlendedLast;
    if (StoreIfChanged(FObjectsSorting, value))
        NotifyChange(this);
}

void TGLScene::SetVisibilityCulling(TGLVisibilityCulling value) {
    if (value == vcInherited)
        value = vcNone;
    if (StoreIfChanged(FVisibilityCulling, value))
        NotifyChange(this);
}

void TGLScene::AddBuffer(TGLSceneBuffer* buffer) {
    if (std::find(FBuffers.begin(), FBuffers.end(), buffer) != FBuffers.end())
        return;
    FBuffers.push_back(buffer);
    if (!FBaseContext)
        FBaseContext = FBuffers.front()->RenderingContext();
    if (FBuffers.size() > 1 && FBaseContext && buffer->RenderingContext())
        FBaseContext->ShareListsWith(buffer->RenderingContext());
}

void TGLScene::RemoveBuffer(TGLSceneBuffer* buffer) {
    auto found = std::find(FBuffers.begin(), FBuffers.end(), buffer);
    if (found == FBuffers.end())
        return;
    FBuffers.erase(found);
    FBaseContext = FBuffers.empty() ? nullptr : FBuffers.front()->RenderingContext();
}

// --- the light table ---

namespace {

template <typename F> void ForEachLight(TGLBaseSceneObject* subtree, F action) {
    if (!subtree)
        return;
    if (auto* light = dynamic_cast<TGLLightInterface*>(subtree))
        action(light);
    for (int i = 0; i < subtree->Count(); ++i)
        ForEachLight(subtree->Children(i), action);
}

} // namespace

void TGLScene::AddLights(TGLBaseSceneObject* subtree) {
    ForEachLight(subtree, [this](TGLLightInterface* light) { AddLight(light); });
}

void TGLScene::RemoveLights(TGLBaseSceneObject* subtree) {
    ForEachLight(subtree, [this](TGLLightInterface* light) { RemoveLight(light); });
}

void TGLScene::AddLight(TGLLightInterface* light) {
    for (size_t i = 0; i < FLights.size(); ++i)
        if (!FLights[i]) {
            FLights[i] = light;
            light->SetLightNumber(GL_LIGHT0 + static_cast<GLenum>(i));
            return;
        }
}

void TGLScene::RemoveLight(TGLLightInterface* light) {
    for (TGLLightInterface*& slot : FLights)
        if (slot == light)
            slot = nullptr;
}

void TGLScene::SetupLights(int maxLights) {
    const int n = std::min(cLightSlots, maxLights);
    glPushMatrix();
    for (int i = 0; i < n; ++i) {
        TGLLightInterface* light = FLights[i];
        if (!light) {
            glDisable(GL_LIGHT0 + static_cast<GLenum>(i));
        } else if (!light->Shining()) {
            glDisable(light->LightNumber());
        } else {
            glEnable(light->LightNumber());
            glPopMatrix();
            glPushMatrix();
            light->SetupGLLight();
        }
    }
    glPopMatrix();
    for (int i = n; i < maxLights; ++i)
        glDisable(GL_LIGHT0 + static_cast<GLenum>(i));
}

// --- rendering a frame ---

namespace {

TVector CameraUpFor(const TVector& direction, const TVector& up) {
    const TVector side = CrossProduct(direction, up);
    return Normalized(CrossProduct(side, direction));
}

} // namespace

void TGLScene::RenderSceneObjects(TGLSceneBuffer& buffer, int width, int height, uint8_t drawPass,
                                  TGLBaseSceneObject* baseObject) {
    FCurrentRenderedObject = nullptr;
    buffer.AfterRenderEffects().clear();
    FCurrentBuffer = &buffer;
    TGLCamera* camera = buffer.Camera();

    TRenderContextInfo rci;
    rci.Scene = this;
    rci.Buffer = &buffer;
    rci.CameraPosition = buffer.CameraAbsolutePosition();
    TVector direction = Normalized(camera->LastDirection());
    direction[3] = 0;
    rci.CameraDirection = direction;
    rci.CameraUp = CameraUpFor(direction, camera->Up().AsVector());
    rci.ModelViewMatrix = &buffer.ModelViewMatrix();
    rci.ViewportWidth = width;
    rci.ViewportHeight = height;
    rci.RenderDpi = buffer.RenderDpi();
    rci.DrawPass = drawPass;
    rci.Sorting = FObjectsSorting;
    rci.Culling = FVisibilityCulling;
    rci.StateCache = &buffer.StateCache();
    rci.ClipOrigin = rci.CameraPosition;
    rci.ClipDirection = rci.CameraDirection;
    rci.ClipViewportRadius = camera->ViewPortRadius();
    rci.ClipFarDistance = camera->NearPlane() + camera->DepthOfView();
    // The matrices the buffer read back from OpenGL for this frame; setting the lights up in
    // between restores them.
    rci.ClipFrustum =
        FrustumFromMatrix(MultiplyMatrices(buffer.ModelViewMatrix(), buffer.ProjectionMatrix()));
    rci.SceneAmbient = buffer.AmbientColor().Color();
    rci.BufferCullsFaces = buffer.FaceCulling();
    rci.SkipMaterials = buffer.ContextOptions().Contains(roNoColorBuffer) || drawPass == 1;

    buffer.StateCache().ResetAll();
    const GLboolean colour = rci.SkipMaterials ? GL_FALSE : GL_TRUE;
    glColorMask(colour, colour, colour, colour);
    if (buffer.InitiateRendering)
        buffer.InitiateRendering(&buffer, rci);
    (baseObject ? baseObject : FObjects.get())->RenderObject(rci);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    for (const TAfterRenderEffect& effect :
         std::vector<TAfterRenderEffect>(buffer.AfterRenderEffects()))
        effect(buffer, rci);
    if (buffer.WrapUpRendering)
        buffer.WrapUpRendering(&buffer, rci);

    // Every frame after this one starts without blending and texturing, with the alpha test on.
    buffer.StateCache().Disable(capBlend);
    buffer.StateCache().Disable(capTexture2D);
    buffer.StateCache().Disable(capTextureRectangle);
    buffer.StateCache().Enable(capAlphaTest);
    glAlphaFunc(GL_GREATER, 0);
}

void TGLScene::ForgetObject(const TGLBaseSceneObject* object) {
    if (FCurrentRenderedObject == object)
        FCurrentRenderedObject = nullptr;
    if (FCurrentCamera == object)
        FCurrentCamera = nullptr;
}
