// The scene graph: scene objects with their cached transforms, the tree they form, its
// traversal with sorting and culling, the display-list cache of each object's geometry, and the
// scene component that holds the trees and hears about their changes.
//
// Every object keeps four change bits. A transform change marks the object and its subtree stale
// and notifies the scene once; the matrices are rebuilt when next asked for (by the renderer or
// by a query). A structure change makes the next render recompile the object's display list.
#pragma once

#include "engine/context/GLContext.h"
#include "engine/context/GLState.h"
#include "engine/geometry/VectorGeometry.h"
#include "engine/materials/GLTextureMaterial.h"
#include "engine/scene/GLMisc.h"
#include "engine/scene/RenderContextInfo.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class TGLBaseSceneObject;
class TGLCamera;
class TGLScene;
class TGLSceneBuffer;

enum TObjectChange : uint8_t { chTransformation, chAbsoluteMatrix, chInverseMatrix, chStructure };
using TObjectChanges = TSet<TObjectChange>;

enum TObjectStyleFlag : uint8_t {
    sfDrawDirect,             // never compile a display list: BuildList every frame
    sfChangesColorsOrWinding, // the state cache is fully reset after the object is drawn
    sfNoDepthTest,            // drawn with the depth test off
    sfNeverCull               // the object itself is never culled
};
using TObjectStyle = TSet<TObjectStyleFlag>;

enum TGLCameraInvarianceMode : uint8_t { cimNone, cimPosition, cimOrientation };

using TGLProgressEvent = std::function<void(TObject* sender, double deltaTime, double newTime)>;

// A node of the scene tree: position, orientation (Direction and Up, kept unit and
// perpendicular), scale, cached local and absolute transforms, visibility and owned children.
//
// Children are owned: an object frees its children when it is freed, and a child freed on its
// own leaves its parent first. An object may also have a framework owner; whichever frees it
// first, the other forgets it.
class TGLBaseSceneObject : public TGLCoordinatesUpdateAbleComponent {
public:
    explicit TGLBaseSceneObject(TComponent* owner);
    ~TGLBaseSceneObject() override;
    const char* ClassName() const override { return "TGLBaseSceneObject"; }

    // A new object of this object's own class; every class overrides it so that copies of a
    // subtree keep the classes of their nodes.
    virtual TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const;

    // From another scene object: visibility, transform, axes, sorting, culling, angles, a copy
    // of the source's subtree, OnProgress, Tag and TagFloat.
    void Assign(const TPersistent* source) override;
    // End of loading: one notifying change rebuilds what the stored values imply.
    void Loaded() override;
    // Placement while a stored description is read: under another object, or (when `parent`
    // is the scene) under the scene's object root or, for a camera, its camera root.
    void SetParentComponent(TComponent* parent);

    // --- Notifications ---
    void DoProgress(const TProgressTimes& progressTimes) override;
    void NotifyChange(TObject* sender) override;
    void CoordinateChanged(TGLCoordinates* sender) override;
    void TransformationChanged();
    // Also reported to the parent, as ChildStructureChanged.
    void StructureChanged() override;
    void ClearStructureChanged() { FChanges.Exclude(chStructure); }
    // The structure of an object below this one changed. A node that keeps its subtree compiled
    // discards it; every node passes the report on to its parent.
    virtual void ChildStructureChanged();
    virtual void LockUpdates() { ++FUpdateCount; }
    virtual void UnlockUpdates();
    TObjectChanges Changes() const { return FChanges; }

    // --- Transform ---
    TGLCoordinates& Position() { return *FPosition; }
    TGLCoordinates& Direction() { return *FDirection; }
    TGLCoordinates& Up() { return *FUp; }
    TGLCoordinates& Scale() { return *FScale; }
    const TGLCoordinates& Position() const { return *FPosition; }
    const TGLCoordinates& Direction() const { return *FDirection; }
    const TGLCoordinates& Up() const { return *FUp; }
    const TGLCoordinates& Scale() const { return *FScale; }
    void SetPosition(const TGLCoordinates& value);
    // A zero vector is ignored.
    void SetDirection(const TGLCoordinates& value);
    void SetUp(const TGLCoordinates& value);
    void SetScale(const TGLCoordinates& value);

    // The angles last given, in degrees; a write turns the object by the difference (only
    // recorded while loading).
    float PitchAngle() const { return FRotation->X(); }
    float TurnAngle() const { return FRotation->Y(); }
    float RollAngle() const { return FRotation->Z(); }
    void SetPitchAngle(float value) { SetAngle(0, value); }
    void SetTurnAngle(float value) { SetAngle(1, value); }
    void SetRollAngle(float value) { SetAngle(2, value); }

    // The caches are rebuilt on demand, so the queries are const.
    const TMatrix& LocalMatrix() const;
    const TMatrix& AbsoluteMatrix() const;
    const TMatrix& InvAbsoluteMatrix() const;
    void RebuildMatrix() const;
    TVector AbsolutePosition() const { return AbsoluteMatrix()[3]; }
    TVector AbsoluteDirection() const { return Normalized(AbsoluteMatrix()[2]); }
    TVector AbsoluteUp() const { return Normalized(AbsoluteMatrix()[1]); }
    TVector LocalToAbsolute(const TVector& v) const { return TransformVector(v, AbsoluteMatrix()); }
    TVector AbsoluteToLocal(const TVector& v) const {
        return TransformVector(v, InvAbsoluteMatrix());
    }
    TVector RightVector() const { return CrossProduct(FUp->AsVector(), FDirection->AsVector()); }
    TVector LeftVector() const { return CrossProduct(FDirection->AsVector(), FUp->AsVector()); }
    virtual TVector BarycenterPosition() const { return AbsolutePosition(); }
    virtual TVector UnscaledHalfExtents() const { return {0.5f, 0.5f, 0.5f, 0}; }
    // Whether the ray from `rayStart` (a point) along `rayVector` (a direction), both absolute,
    // meets the object: here its bounding sphere. On a hit the optional outputs receive the
    // nearest absolute point in front of the start and the surface normal there.
    virtual bool RayIntersect(const TVector& rayStart, const TVector& rayVector,
                              TVector* intersectPoint = nullptr,
                              TVector* intersectNormal = nullptr) const;
    TVector AxisAlignedDimensions() const;
    float BoundingSphereRadius() const { return LengthOf(AxisAlignedDimensions()); }
    // Takes the transform from a matrix: axes normalized, scale from the row lengths.
    void SetMatrix(const TMatrix& matrix);
    // Orbits this object round `target` by the given angles in degrees, keeping the polar angle
    // from its own up axis within [0.025, π - 0.025]. Only Position changes.
    void MoveObjectAround(const TGLBaseSceneObject* target, float pitchDelta, float turnDelta);

    // --- Tree ---
    TGLBaseSceneObject* Parent() const { return FParent; }
    TGLScene* Scene() const { return FScene; }
    int Count() const { return static_cast<int>(FChildren.size()); }
    TGLBaseSceneObject* Children(int index) const { return FChildren.at(index); }
    int IndexOfChild(const TGLBaseSceneObject* child) const;
    // Takes `child` (leaving its old parent) as the last child.
    void AddChild(TGLBaseSceneObject* child);
    void InsertChild(int index, TGLBaseSceneObject* child);
    // Detaches `child`; the caller owns it afterwards unless it has a framework owner. With
    // keepChildren its children stay here instead of leaving with it.
    void RemoveChild(TGLBaseSceneObject* child, bool keepChildren);
    // Frees every child (cameras among the descendants first).
    void DeleteChildren();

    // --- Rendering ---
    // Draws this object and its subtree in the current model-view frame.
    void RenderObject(TRenderContextInfo& rci);
    virtual void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren);
    virtual void RenderChildren(int first, int last, TRenderContextInfo& rci);
    // The object's own geometry in its local frame; nothing in the base class.
    virtual void BuildList(TRenderContextInfo& rci);
    // The display list of BuildList, compiled on first use and after StructureChanged.
    virtual GLuint GetListHandle(TRenderContextInfo& rci);
    virtual void DestroyListHandle();
    // The display lists of the whole subtree, children first.
    void DestroyListHandles();
    virtual bool Blended() const { return false; }

    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool value);
    bool ShowAxes() const { return FShowAxes; }
    void SetShowAxes(bool value);
    TGLObjectsSorting ObjectsSorting() const { return FObjectsSorting; }
    void SetObjectsSorting(TGLObjectsSorting value);
    TGLVisibilityCulling VisibilityCulling() const { return FVisibilityCulling; }
    void SetVisibilityCulling(TGLVisibilityCulling value);
    TObjectStyle ObjectStyle() const { return FObjectStyle; }

    TGLProgressEvent OnProgress;
    float TagFloat() const { return FTagFloat; }
    void SetTagFloat(float value) { FTagFloat = value; }

protected:
    void SetObjectStyle(TObjectStyle value) { FObjectStyle = value; }
    // Scene the object's subtree belongs to; a different scene first drops the display lists.
    void SetScene(TGLScene* scene);
    // The object's own geometry: BuildList directly for sfDrawDirect objects and while display
    // lists are skipped, otherwise through the display list.
    void DrawSelf(TRenderContextInfo& rci);

private:
    struct TBox {
        TAffineVector Min;
        TAffineVector Max;
    };

    void SetAngle(int axis, float value);
    TVector OrthogonalAxis() const;
    void DirectionChanged();
    void UpChanged();
    void MarkAbsoluteStale();
    bool IsUpdating() const;
    bool IsCamera() const;

    std::array<TMatrix, 2>& AbsoluteMatrices() const;
    bool IsAncestorOf(const TGLBaseSceneObject* object) const;
    void ForgetScene();
    void Detach(TGLBaseSceneObject* child, bool keepChildren, bool leavesScene);
    void DetachChild(TGLBaseSceneObject* child);
    void FreeDescendantCameras();
    void CollectCameras(std::vector<TGLBaseSceneObject*>& cameras) const;

    bool CullingAllowsSelf(const TRenderContextInfo& rci) const;
    TBox HierarchicalBox() const;
    void RenderRespectingDepthTest(TRenderContextInfo& rci, bool renderSelf, bool renderChildren);
    void DrawAxes(const TRenderContextInfo& rci) const;
    void RenderSorted(int first, int last, TRenderContextInfo& rci);
    void RenderByDistance(const std::vector<TGLBaseSceneObject*>& children, bool farthestFirst,
                          TRenderContextInfo& rci);
    void CopyChildrenFrom(const TGLBaseSceneObject& source);

    std::unique_ptr<TGLCoordinates> FPosition;
    std::unique_ptr<TGLCoordinates> FDirection;
    std::unique_ptr<TGLCoordinates> FUp;
    std::unique_ptr<TGLCoordinates> FScale;
    std::unique_ptr<TGLCoordinates> FRotation; // pitch, turn, roll in x, y, z
    mutable TMatrix FLocalMatrix = IdentityHmgMatrix;
    // The absolute matrix and its inverse, allocated on first use.
    mutable std::unique_ptr<std::array<TMatrix, 2>> FAbsoluteMatrices;
    mutable TObjectChanges FChanges{chTransformation, chAbsoluteMatrix, chInverseMatrix,
                                    chStructure};
    TObjectStyle FObjectStyle;
    TGLBaseSceneObject* FParent = nullptr;
    std::vector<TGLBaseSceneObject*> FChildren; // owned
    TGLScene* FScene = nullptr;
    std::unique_ptr<TGLListHandle> FListHandle;
    bool FVisible = true;
    bool FShowAxes = false;
    TGLObjectsSorting FObjectsSorting = osInherited;
    TGLVisibilityCulling FVisibilityCulling = vcInherited;
    int32_t FUpdateCount = 0;
    bool FIsCalculating = false;
    float FTagFloat = 0;
};

// A scene object with a material, applied around its own drawing.
class TGLCustomSceneObject : public TGLBaseSceneObject {
public:
    explicit TGLCustomSceneObject(TComponent* owner);
    const char* ClassName() const override { return "TGLCustomSceneObject"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;

    // The material and Hint first, then everything a scene object copies.
    void Assign(const TPersistent* source) override;
    void Loaded() override;
    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;
    // The display list and the material's OpenGL objects.
    void DestroyListHandle() override;
    bool Blended() const override { return FMaterial->Blended(); }

    TGLMaterial& Material() { return *FMaterial; }
    const TGLMaterial& Material() const { return *FMaterial; }
    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& value) { FHint = value; }

protected:
    // For classes that draw with a material of their own kind.
    void ReplaceMaterial(std::unique_ptr<TGLMaterial> material);

private:
    std::unique_ptr<TGLMaterial> FMaterial;
    std::string FHint;
};

// A custom object whose material can be set from outside.
class TGLSceneObject : public TGLCustomSceneObject {
public:
    using TGLCustomSceneObject::TGLCustomSceneObject;
    const char* ClassName() const override { return "TGLSceneObject"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;
    // Copies `value` into the owned material.
    void SetMaterial(const TGLMaterial& value);
};

// An object that never applies its material.
class TGLImmaterialSceneObject : public TGLCustomSceneObject {
public:
    using TGLCustomSceneObject::TGLCustomSceneObject;
    const char* ClassName() const override { return "TGLImmaterialSceneObject"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;
    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;
};

// An object drawn as if the camera did not move (cimPosition) or did not turn (cimOrientation).
class TGLCameraInvariantObject : public TGLImmaterialSceneObject {
public:
    using TGLImmaterialSceneObject::TGLImmaterialSceneObject;
    const char* ClassName() const override { return "TGLCameraInvariantObject"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;
    void Assign(const TPersistent* source) override;
    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;

    TGLCameraInvarianceMode CamInvarianceMode() const { return FCamInvarianceMode; }
    void SetCamInvarianceMode(TGLCameraInvarianceMode value);

private:
    TGLCameraInvarianceMode FCamInvarianceMode = cimNone;
};

// One of the two invisible roots of a scene; its owner must be the scene.
class TGLSceneRootObject : public TGLBaseSceneObject {
public:
    explicit TGLSceneRootObject(TComponent* owner);
    const char* ClassName() const override { return "TGLSceneRootObject"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;
};

enum TGLCameraStyle : uint8_t {
    csPerspective,
    csOrthogonal,
    csOrtho2D,
    csCustom,
    csInfinitePerspective
};

// A viewport in pixels.
struct TRectangle {
    int32_t Left, Top, Width, Height;
};

// Sets the projection of a csCustom camera itself; may change the viewport radius.
using TOnCustomPerspective = std::function<void(
    const TRectangle& viewport, int32_t width, int32_t height, int32_t dpi, float& viewPortRadius)>;

// The point of view of a buffer: turns its focal length, depth of view and style into the
// projection for a viewport, and its position with its target (or its own direction) into the
// view. The target is not owned: the camera hears of its destruction and forgets it.
class TGLCamera : public TGLBaseSceneObject {
public:
    explicit TGLCamera(TComponent* owner);
    ~TGLCamera() override;
    const char* ClassName() const override { return "TGLCamera"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;
    // A camera draws no geometry, only its children.
    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;
    bool RayIntersect(const TVector&, const TVector&, TVector*, TVector*) const override {
        return false;
    }

    // Multiplies the current (projection) matrix by the camera's projection for `viewport`,
    // which spans width x height pixels at `dpi`. Does nothing for an empty viewport.
    void ApplyPerspective(const TRectangle& viewport, int32_t width, int32_t height, int32_t dpi);
    // Multiplies the current (model-view) matrix by the look-at transform: toward the target
    // when there is one, else along Direction.
    void ApplyView();
    // Moves the camera along the line to its target so that the distance becomes `ratio` times
    // the old one. Nothing without a target.
    void AdjustDistanceToTarget(float ratio);
    // Orbits the camera round its target by the given angles in degrees.
    void MoveAroundTarget(float pitchDelta, float turnDelta);
    // The field of view, in degrees, across `dimension` pixels.
    float FieldOfViewAcross(float dimension) const;
    // Sets the focal length that gives `fieldOfView` degrees across `dimension` pixels.
    void SetFieldOfViewAcross(float fieldOfView, float dimension);

    // Anything but a positive finite value is stored as 1.
    float FocalLength() const { return FFocalLength; }
    void SetFocalLength(float value);
    float DepthOfView() const { return FDepthOfView; }
    void SetDepthOfView(float value);
    // A value <= 0 is stored as 1.
    float NearPlaneBias() const { return FNearPlaneBias; }
    void SetNearPlaneBias(float value);
    // 0 is stored as 1; negative values are kept.
    float SceneScale() const { return FSceneScale; }
    void SetSceneScale(float value);
    TGLCameraStyle CameraStyle() const { return FCameraStyle; }
    void SetCameraStyle(TGLCameraStyle value);
    TGLBaseSceneObject* TargetObject() const { return FTargetObject; }
    void SetTargetObject(TGLBaseSceneObject* value);

    TOnCustomPerspective OnCustomPerspective;

    // Results of the last ApplyPerspective and ApplyView.
    float NearPlane() const { return FNearPlane; }
    float ViewPortRadius() const { return FViewPortRadius; }
    const TVector& LastDirection() const { return FLastDirection; }

protected:
    // The target going away leaves the camera looking along its own direction.
    void Notification(TComponent* component, TOperation operation) override;

private:
    struct TExtents {
        double Left, Right, Bottom, Top;
    };

    void ApplyOrtho2D(int32_t width, int32_t height);
    void ApplyCustom(const TRectangle& viewport, int32_t width, int32_t height, int32_t dpi);
    void ApplyFrustum(const TRectangle& viewport, int32_t width, int32_t height, int32_t dpi);
    TExtents FrustumExtents(const TRectangle& viewport, int32_t width, int32_t height) const;
    void ApplyInfinitePerspective(const TExtents& extents) const;
    void LookAtTarget();
    void LookAlongDirection();
    bool Loading() const { return ComponentState().Contains(csLoading); }

    float FFocalLength = 50;
    float FDepthOfView = 100;
    float FNearPlaneBias = 1;
    float FSceneScale = 1;
    TGLCameraStyle FCameraStyle = csPerspective;
    TGLBaseSceneObject* FTargetObject = nullptr; // not owned
    float FNearPlane = 0;
    float FViewPortRadius = 0;
    TVector FLastDirection{};
};

// What the scene's light table needs of a light source: the OpenGL light number the table gives
// it, whether it shines, and sending its parameters for a frame.
class TGLLightInterface {
public:
    virtual ~TGLLightInterface() = default;
    virtual GLenum LightNumber() const = 0;
    virtual void SetLightNumber(GLenum number) = 0;
    virtual bool Shining() const = 0;
    // Called with the camera's view current and the light enabled: sends position, colours,
    // spot and attenuation.
    virtual void SetupGLLight() = 0;
};

enum TLightStyle : uint8_t { lsSpot, lsOmni, lsParallel };

// One OpenGL light. It draws nothing: its place in the tree positions it, and the scene sends
// its parameters at the start of every frame from the slot table. lsSpot and lsOmni lights are
// positional at Position in the parent's frame; an lsParallel light shines along SpotDirection
// turned by its own absolute matrix.
class TGLLightSource : public TGLBaseSceneObject, public TGLLightInterface {
public:
    explicit TGLLightSource(TComponent* owner);
    ~TGLLightSource() override;
    const char* ClassName() const override { return "TGLLightSource"; }
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override;

    void DoRender(TRenderContextInfo& rci, bool renderSelf, bool renderChildren) override;
    GLuint GetListHandle(TRenderContextInfo&) override { return 0; }
    bool RayIntersect(const TVector&, const TVector&, TVector*, TVector*) const override {
        return false;
    }

    GLenum LightNumber() const override { return FLightNumber; }
    void SetLightNumber(GLenum number) override { FLightNumber = number; }
    void SetupGLLight() override;

    bool Shining() const override { return FShining; }
    void SetShining(bool value);
    TLightStyle LightStyle() const { return FLightStyle; }
    void SetLightStyle(TLightStyle value);
    TGLCoordinates& SpotDirection() { return *FSpotDirection; }
    const TGLCoordinates& SpotDirection() const { return *FSpotDirection; }
    // Takes the direction with w forced to 0.
    void SetSpotDirection(const TGLCoordinates& value);
    float SpotExponent() const { return FSpotExponent; }
    void SetSpotExponent(float value);
    // Degrees: only 0 .. 90, or 180 for no cone; other values are ignored.
    float SpotCutOff() const { return FSpotCutOff; }
    void SetSpotCutOff(float value);
    float ConstAttenuation() const { return FConstAttenuation; }
    void SetConstAttenuation(float value);
    float LinearAttenuation() const { return FLinearAttenuation; }
    void SetLinearAttenuation(float value);
    float QuadraticAttenuation() const { return FQuadraticAttenuation; }
    void SetQuadraticAttenuation(float value);
    TGLColor& Ambient() { return *FAmbient; }
    TGLColor& Diffuse() { return *FDiffuse; }
    TGLColor& Specular() { return *FSpecular; }
    const TGLColor& Ambient() const { return *FAmbient; }
    const TGLColor& Diffuse() const { return *FDiffuse; }
    const TGLColor& Specular() const { return *FSpecular; }
    void SetAmbient(const TGLColor& value) { SetColor(*FAmbient, value); }
    void SetDiffuse(const TGLColor& value) { SetColor(*FDiffuse, value); }
    void SetSpecular(const TGLColor& value) { SetColor(*FSpecular, value); }

private:
    void SetColor(TGLColor& colour, const TGLColor& value);
    void SetFactor(float& factor, float value);
    void SendPosition();
    void SendSpot();

    bool FShining = true;
    TLightStyle FLightStyle = lsSpot;
    std::unique_ptr<TGLCoordinates> FSpotDirection;
    float FSpotExponent = 0;
    float FSpotCutOff = 180;
    float FConstAttenuation = 1;
    float FLinearAttenuation = 0;
    float FQuadraticAttenuation = 0;
    std::unique_ptr<TGLColor> FAmbient;
    std::unique_ptr<TGLColor> FDiffuse;
    std::unique_ptr<TGLColor> FSpecular;
    GLenum FLightNumber = 0;
};

// The scene: the object root ("ObjectRoot") and the camera root ("CameraRoot"), the sorting and
// culling the traversal starts with, and the buffers that show it. A change anywhere in the
// trees reaches NotifyChange, which passes it to every registered buffer.
class TGLScene : public TGLUpdateAbleComponent {
public:
    explicit TGLScene(TComponent* owner);
    ~TGLScene() override;
    const char* ClassName() const override { return "TGLScene"; }

    TGLSceneRootObject* Objects() const { return FObjects.get(); }
    TGLSceneRootObject* Cameras() const { return FCameras.get(); }
    // The roots were created while the scene was loaded: they finish loading with it.
    void Loaded() override;

    // Silent while updates are held, while the scene is loaded or destroyed, or without buffers.
    void NotifyChange(TObject* sender) override;
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // osInherited is stored as osRenderBlendedLast, vcInherited as vcNone.
    TGLObjectsSorting ObjectsSorting() const { return FObjectsSorting; }
    void SetObjectsSorting(TGLObjectsSorting value);
    TGLVisibilityCulling VisibilityCulling() const { return FVisibilityCulling; }
    void SetVisibilityCulling(TGLVisibilityCulling value);

    // A buffer already registered, or not registered, is ignored.
    void AddBuffer(TGLSceneBuffer* buffer);
    void RemoveBuffer(TGLSceneBuffer* buffer);
    const std::vector<TGLSceneBuffer*>& Buffers() const { return FBuffers; }

    // The context of the first registered buffer: later buffers' contexts share its objects.
    TGLContext* BaseContext() const { return FBaseContext; }

    // Called with every subtree that joins the scene's trees and every subtree that leaves them,
    // so that the light sources in it take or give up a light slot.
    virtual void AddLights(TGLBaseSceneObject* subtree);
    virtual void RemoveLights(TGLBaseSceneObject* subtree);
    // The light table: eight slots, slot i driving GL_LIGHT0 + i.
    static constexpr int cLightSlots = 8;
    void AddLight(TGLLightInterface* light);
    void RemoveLight(TGLLightInterface* light);
    TGLLightInterface* LightSlot(int index) const { return FLights.at(index); }
    // Sets the OpenGL lights up from the table (the camera's view is current).
    void SetupLights(int maxLights);

    // Renders the object tree (or the subtree of baseObject) into the buffer's current frame.
    void RenderSceneObjects(TGLSceneBuffer& buffer, int width, int height, uint8_t drawPass,
                            TGLBaseSceneObject* baseObject);

    // Set while a frame is rendered.
    TGLSceneBuffer* CurrentBuffer() const { return FCurrentBuffer; }
    void SetCurrentBuffer(TGLSceneBuffer* value) { FCurrentBuffer = value; }
    TGLCamera* CurrentCamera() const { return FCurrentCamera; }
    void SetCurrentCamera(TGLCamera* value) { FCurrentCamera = value; }
    TGLBaseSceneObject* CurrentRenderedObject() const { return FCurrentRenderedObject; }
    void SetCurrentRenderedObject(TGLBaseSceneObject* value) { FCurrentRenderedObject = value; }
    // An object going away is no longer current.
    void ForgetObject(const TGLBaseSceneObject* object);

private:
    // Components of the scene too; the destructor frees them while the rest of the scene is whole.
    std::unique_ptr<TGLSceneRootObject> FObjects;
    std::unique_ptr<TGLSceneRootObject> FCameras;
    TGLObjectsSorting FObjectsSorting = osRenderBlendedLast;
    TGLVisibilityCulling FVisibilityCulling = vcNone;
    std::vector<TGLSceneBuffer*> FBuffers;
    TGLContext* FBaseContext = nullptr;
    std::array<TGLLightInterface*, cLightSlots> FLights{};
    int32_t FUpdateCount = 0;
    TGLSceneBuffer* FCurrentBuffer = nullptr;
    TGLCamera* FCurrentCamera = nullptr;
    TGLBaseSceneObject* FCurrentRenderedObject = nullptr;
};
