// Change notification and the vector property of scene objects.
//
// Anything in the engine that can change tells its owner; owners pass the notice upward until it
// reaches the scene, which has its buffers repaint. TGLCoordinates is the four-single vector
// property through which objects expose positions and directions: it keeps w consistent with its
// kind and reports every change to its owner, a TGLCoordinatesUpdateAbleComponent telling one
// coordinates object from another by identity.
#pragma once

#include "engine/geometry/VectorGeometry.h"
#include "platform/framework/Classes.h"

#include <array>
#include <cstdint>
#include <type_traits>

// The one way a property setter is written: stores `value` in `field` when the two differ and
// tells whether it did, so that the setter then sends its notice:
//     if (StoreIfChanged(FVisible, value))
//         NotifyChange(this);
template <typename T> bool StoreIfChanged(T& field, const std::type_identity_t<T>& value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

// One time step handed down to cadenced objects.
struct TProgressTimes {
    double deltaTime;
    double newTime;
};

// An owned, non-component object that reports its changes to its owner.
class TGLUpdateAbleObject : public TPersistent {
public:
    explicit TGLUpdateAbleObject(TPersistent* owner);
    const char* ClassName() const override { return "TGLUpdateAbleObject"; }

    // Tells the owner (an updatable object or component), then runs OnNotifyChange. Nothing
    // happens while updates are held or when there is no owner.
    virtual void NotifyChange(TObject* sender);

    TPersistent* Owner() const { return FOwner; }
    int32_t UpdateCount() const { return FUpdating; }
    void BeginUpdate() { ++FUpdating; }
    void EndUpdate() { --FUpdating; }

    // Run after the owner was told, with this object as sender.
    TNotifyEvent OnNotifyChange;

private:
    TPersistent* FOwner;
    int32_t FUpdating = 0;
};

// A component that can receive time steps.
class TGLCadenceAbleComponent : public TComponent {
public:
    using TComponent::TComponent;
    const char* ClassName() const override { return "TGLCadenceAbleComponent"; }
    virtual void DoProgress(const TProgressTimes& progressTimes);
};

// A component that passes change notices on to its owner.
class TGLUpdateAbleComponent : public TGLCadenceAbleComponent {
public:
    using TGLCadenceAbleComponent::TGLCadenceAbleComponent;
    const char* ClassName() const override { return "TGLUpdateAbleComponent"; }
    virtual void NotifyChange(TObject* sender);
    // A part it owns (a colour, a material's texture mapping) changed what the component draws:
    // one that keeps its drawing compiled rebuilds it. Nothing in the base class.
    virtual void StructureChanged() {}
};

class TGLCoordinates;

// A component owning coordinates objects; each change of one arrives at CoordinateChanged.
class TGLCoordinatesUpdateAbleComponent : public TGLUpdateAbleComponent {
public:
    using TGLUpdateAbleComponent::TGLUpdateAbleComponent;
    const char* ClassName() const override { return "TGLCoordinatesUpdateAbleComponent"; }
    virtual void CoordinateChanged(TGLCoordinates* sender) = 0;
};

// ckPoint keeps w at 1, ckDirection keeps it at 0, ckFree leaves it as given.
enum TCoordinatesKind : uint8_t { ckPoint, ckDirection, ckFree };

// A four-single vector property of point, direction or free kind. Its stored form is the binary
// property "Coordinates": the 16 bytes of x, y, z, w as little-endian singles.
class TGLCoordinates : public TGLUpdateAbleObject {
public:
    TGLCoordinates(TPersistent* owner, const TVector& value, TCoordinatesKind kind);
    const char* ClassName() const override { return "TGLCoordinates"; }

    // An owning TGLCoordinatesUpdateAbleComponent gets CoordinateChanged(this) and nothing else;
    // any other owner the common notification.
    void NotifyChange(TObject* sender) override;
    // From coordinates: the four components, without notification and keeping the kind.
    void Assign(const TPersistent* source) override;
    void DefineProperties(TFiler& filer) override;

    TCoordinatesKind Kind() const { return FKind; }

    // Not for points.
    void SetVector(float x, float y, float z);
    void SetVector(float x, float y, float z, float w);
    // Not for directions.
    void SetPoint(float x, float y, float z);

    const TVector& AsVector() const { return FCoords; }
    // Takes v with w corrected to the kind.
    void SetAsVector(const TVector& v);
    TAffineVector AsAffineVector() const { return AffineVectorMake(FCoords); }
    // For OpenGL calls that take the four singles.
    const float* AsAddress() const { return FCoords.data(); }

    float X() const { return FCoords[0]; }
    float Y() const { return FCoords[1]; }
    float Z() const { return FCoords[2]; }
    float W() const { return FCoords[3]; }
    // Component writes store the value as given, with no kind correction.
    void SetX(float value) { SetComponent(0, value); }
    void SetY(float value) { SetComponent(1, value); }
    void SetZ(float value) { SetComponent(2, value); }
    void SetW(float value) { SetComponent(3, value); }

    // For owners recomputing their own state: no notification, no kind correction.
    void SetWithoutNotify(const TVector& v) { FCoords = v; }
    // x, y, z to unit length (no zero test), w := 0.
    void Normalize();
    float VectorLength() const { return LengthOf(FCoords); }
    // Bit-for-bit equality of all four components.
    bool Equals(const TVector& v) const { return SameBits(FCoords, v); }

    // The stored form. Reading copies the bytes present (at most 16) without notification or
    // kind correction; a short record leaves the remaining components as they were.
    void ReadData(std::span<const uint8_t> data);
    std::vector<uint8_t> WriteData() const;

private:
    void SetComponent(int index, float value);

    TVector FCoords;
    TCoordinatesKind FKind;
};

// Coordinates that also publish W.
class TGLCoordinates4 : public TGLCoordinates {
public:
    using TGLCoordinates::TGLCoordinates;
    const char* ClassName() const override { return "TGLCoordinates4"; }
};
